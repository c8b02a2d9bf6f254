// The application object: settings, recent files, document, view and frame, start-up steps.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QSettings;
class CAlertsBinding;
class CDocumentBinding;
class CMainFrame;
class CPsvigilDoc;
class CPsvigilView;
class CQtNotifySink;
class CRecentFileList;

// What the command line asks for.
struct CommandLineInfo
{
    bool ShowSplash = true; // cleared by -Embedding / -Automation
    QString FileName;       // a watch log to open instead of a new document
    QString WatchHost;      // --watch: the host (address, or local: for this computer) to watch
};

CommandLineInfo ParseCommandLine(const QStringList& arguments);

class CPsvigilApp : public QObject
{
    Q_OBJECT

  public:
    explicit CPsvigilApp(QObject* parent = nullptr);
    ~CPsvigilApp() override;

    // Brings the application up; false ends the program (for example when the watch log
    // named on the command line cannot be opened).
    bool InitInstance(const QStringList& arguments);

    // Where a missing telnet component's library is looked for and registered from (the
    // installed and the built Lanvex by default); set before InitInstance.
    void SetLanvexCandidates(std::vector<std::string> paths)
    {
        m_lanvexCandidates = std::move(paths);
    }

    CMainFrame* GetMainFrame() const { return m_frame.get(); }
    CPsvigilDoc* GetDocument() const { return m_doc.get(); }
    CPsvigilView* GetView() const { return m_view; }
    CQtNotifySink* GetNotifySink() const { return m_sink.get(); }
    CAlertsBinding* GetAlerts() const { return m_alerts.get(); }

    // View > Settings: runs the dialog; on OK stores and applies what it says.
    void OnSettings();

  private:
    // The first start (no psvigil.cfg yet) lists this computer; --watch starts its host.
    void AddThisComputerOnFirstStart();
    void WatchOnStart(const QString& address);

    // Declared in the order they must come up; they go down in reverse, so the frame (and
    // with it the view) goes first, then the document, which stops and joins the engine's
    // worker, and the sink the worker posts to goes last.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<CRecentFileList> m_recentFiles;
    std::unique_ptr<CQtNotifySink> m_sink;
    std::unique_ptr<CPsvigilDoc> m_doc;
    std::unique_ptr<CDocumentBinding> m_binding;
    std::unique_ptr<CMainFrame> m_frame;
    CPsvigilView* m_view = nullptr;
    std::unique_ptr<CAlertsBinding> m_alerts; // goes before the frame and view it serves
    std::vector<std::string> m_lanvexCandidates;
};
