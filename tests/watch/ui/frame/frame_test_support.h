// Shared pieces of the frame tests: a scripted document and an event-loop wait.
#pragma once

#include "watch/ui/frame/main_frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTest>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '{' << list.join(", ").toStdString() << '}';
}

// Spins the event loop until pred holds or timeoutMs passes; returns pred's last value.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred())
    {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

// Records what the frame asks of its document.
class CFakeDocument : public IFrameDocument
{
  public:
    virtual ~CFakeDocument() = default;

    void AddHost(const std::string& address)
    {
        HostSettings host;
        SetAddress(host, address);
        m_hosts.push_back(host);
    }

    int GetHostCount() const override { return static_cast<int>(m_hosts.size()); }
    const HostSettings* GetHostAt(int index) const override
    {
        return index >= 0 && index < GetHostCount() ? &m_hosts[static_cast<size_t>(index)]
                                                    : nullptr;
    }
    void OnHostWatch(QWidget*) override { ++m_watches; }
    void OnQuickPick(int index) override { m_quickPicks.push_back(index); }
    void OnHostStop() override { ++m_stops; }
    void OnHostRefresh() override { ++m_refreshes; }
    void MergeSnapshot() override { ++m_merges; }
    QString GetLastFailure() const override { return m_lastFailure; }
    void OnRefreshResult(intptr_t result) override { Results.push_back(result); }
    QString GetWatchedHost() const override { return WatchedHost; }
    QString GetWatchedTransport() const override { return WatchedTransport; }
    bool NewDocument() override
    {
        ++m_news;
        return true;
    }
    bool OpenDocument(const QString& path, QString* error) override
    {
        m_opened << path;
        if (!m_openResult && error != nullptr)
            *error = m_openError;
        return m_openResult;
    }
    bool SaveDocument(const QString& path, QString*) override
    {
        m_saved << path;
        return true;
    }

    std::vector<HostSettings> m_hosts;
    int m_refreshes = 0;
    QString m_lastFailure;
    std::vector<intptr_t> Results;
    QString WatchedHost;
    QString WatchedTransport;
    int m_watches = 0;
    int m_stops = 0;
    int m_merges = 0;
    int m_news = 0;
    std::vector<int> m_quickPicks;
    QStringList m_opened;
    QStringList m_saved;
    bool m_openResult = true;
    QString m_openError;
};
