// Carries the watch engine's notifications from its worker thread to the user-interface thread.
#pragma once

#include "watch/engine/notify_sink.h"

#include <QEvent>
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

// The engine posts from its worker; notifications queue here and one posted Qt event wakes this
// object, which lives on the user-interface thread, to hand them to the handler there in
// posting order. Posting never waits for the user-interface thread. The queue is ours, under
// our own lock, so the hand-over is visible to thread checkers that cannot see into Qt.
class CQtNotifySink : public QObject, public IWatchNotifySink
{
    Q_OBJECT

  public:
    using Handler = std::function<void(uint32_t message, intptr_t wParam, intptr_t lParam)>;

    explicit CQtNotifySink(QObject* parent = nullptr);
    ~CQtNotifySink() override;

    // User-interface thread only.
    void SetHandler(Handler handler);
    // Drops the queued notifications and every later one; the receiver is going away.
    void Detach();

    // Any thread.
    void PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam) override;

    static QEvent::Type EventType();

  protected:
    void customEvent(QEvent* event) override;

  private:
    void Drain();

    std::mutex m_mutex;
    bool m_detached = false;
    bool m_wakePosted = false;
    std::deque<WatchNotification> m_queue;
    Handler m_handler;
};
