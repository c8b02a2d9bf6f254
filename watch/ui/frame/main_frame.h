// The main window: menus, toolbar with the host drop-down, status panes, engine notifications.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/ui/frame/tray_icon.h"

#include <QLocale>
#include <QMainWindow>
#include <QString>
#include <QTime>

#include <cstdint>
#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QSettings;
class QMenu;
class QToolBar;
class QToolButton;
class CQtNotifySink;
class CRecentFileList;
class CStatusPane;

// Command ids, as the menus, the toolbar and the tray menu carry them (QAction::data()).
constexpr int kCmdFileNew = 57600;
constexpr int kCmdFileOpen = 57601;
constexpr int kCmdFileSave = 57603;
constexpr int kCmdFileSaveAs = 57604;
constexpr int kCmdFileMruFirst = 57616;
constexpr int kCmdAppAbout = 57664;
constexpr int kCmdAppExit = 57665;
constexpr int kCmdViewToolbar = 59392;
constexpr int kCmdViewStatusBar = 59393;
constexpr int kCmdHostWatch = 32772;
constexpr int kCmdHostStop = 32777;
constexpr int kCmdTrayRestore = 32783;
// F5: refresh the running watch now.
constexpr int kCmdHostRefresh = 32790;
// Ctrl+F: into the filter field.
constexpr int kCmdEditFind = 32791;
// View > Settings.
constexpr int kCmdViewSettings = 32792;
// Host drop-down entries carry kCmdQuickPickFirst + their position; only the ids up to
// kCmdQuickPickLast start a watch, so later entries are shown disabled.
constexpr int kCmdQuickPickFirst = 104;
constexpr int kCmdQuickPickLast = 112;

// Status bar panes; on screen, left to right: prompt, host, countdown, changes, total, refresh.
constexpr int kPanePrompt = 0;
constexpr int kPaneCountdown = 1;
constexpr int kPaneTotal = 2;
constexpr int kPaneRefresh = 3;
constexpr int kPaneHost = 4;    // "kim@db1 - SSH" while a host is on display
constexpr int kPaneChanges = 5; // "+3 -1": what the last refresh brought
constexpr int kPaneCount = 6;

// What the frame needs of the document: its host list for the drop-down, the Host commands,
// the merge, and the watch log file commands.
class IFrameDocument
{
  public:
    virtual int GetHostCount() const = 0;
    virtual const HostSettings* GetHostAt(int index) const = 0;

    virtual void OnHostWatch(QWidget* parent) = 0;
    virtual void OnQuickPick(int index) = 0;
    virtual void OnHostStop() = 0;
    // Refreshes the running watch at once (the watched host stays).
    virtual void OnHostRefresh() = 0;
    virtual void MergeSnapshot() = 0;
    // Why the last refresh could not connect or run ps; empty when it worked.
    virtual QString GetLastFailure() const = 0;
    // A refresh ended with this result (0 ok, 1 cannot connect, 2 ps failed).
    virtual void OnRefreshResult(intptr_t result) = 0;
    // The host whose processes are on display ("kim@db1") and its transport ("SSH",
    // "telnet"); empty when none is.
    virtual QString GetWatchedHost() const = 0;
    virtual QString GetWatchedTransport() const = 0;

    virtual bool NewDocument() = 0;
    virtual bool OpenDocument(const QString& path, QString* error) = 0;
    virtual bool SaveDocument(const QString& path, QString* error) = 0;

  protected:
    ~IFrameDocument() = default;
};

class CMainFrame : public QMainWindow
{
    Q_OBJECT

  public:
    // document and recentFiles are not owned and must outlive the frame; recentFiles may be
    // null (no recent-file list).
    CMainFrame(IFrameDocument* document, CRecentFileList* recentFiles, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Window creation: menus, toolbar, status bar, tray icon, then the start-up splash. A
    // desktop without a notification area is no failure: the frame then stays on the task
    // bar when minimised.
    bool Create();

    // The document's view fills the client area, below the filter field.
    void SetView(QWidget* view);
    QLineEdit* GetFilterField() const { return m_filterField; }

    // Window geometry and state between runs. Without remembered geometry the window is
    // fitted into the screen's available area, whatever the scale factor.
    void SaveSettings(QSettings& settings) const;
    void RestoreSettings(QSettings& settings);
    void FitToScreen();
    // The engine's notifications arrive through sink from now on, until the frame goes away.
    // The sink must outlive the frame.
    void AttachNotifySink(CQtNotifySink* sink);

    // One engine notification, on the user-interface thread, in posting order.
    void OnWatchNotify(uint32_t message, intptr_t wParam, intptr_t lParam);

    bool IsRunning() const { return m_running; }
    // The text a pane shows; pane 0 gives the prompt or "Ready".
    QString GetPaneText(int pane) const;
    // The widget of panes 1 to 6, or null.
    CStatusPane* GetPane(int pane) const
    {
        return pane > kPanePrompt && pane < kPaneCount ? m_panes[pane] : nullptr;
    }
    // The action of a command id (menus and toolbar share it), or null.
    QAction* GetCommand(int id) const;
    QToolButton* GetWatchButton() const { return m_watchButton; }
    QMenu* GetHostMenu() const { return m_hostMenu; }
    CTrayIcon& GetTrayIcon() { return m_tray; }

    // Fills menu with one entry per host of the document: the host's address, command id
    // kCmdQuickPickFirst + position; entries past kCmdQuickPickLast are disabled.
    void BuildHostMenu(QMenu* menu) const;

    // Opens a watch log, as File > Open does after its dialog: the title names the file and
    // the file heads the recent list. A failure is reported and changes neither.
    bool OpenDocumentFile(const QString& path);
    // Saves the table to path, as File > Save As does after its dialog.
    bool SaveDocumentFile(const QString& path);
    QString GetDocumentPath() const { return m_documentPath; }
    // Title of a new document ("Untitled") after File > New or at start.
    void ResetDocumentTitle();

    // Tests replace the wall clock and the message box.
    void SetClock(std::function<QTime()> clock) { m_clock = std::move(clock); }
    void SetMessageReporter(std::function<void(const QString&)> report)
    {
        m_report = std::move(report);
    }

  signals:
    // The text of the filter field, as typed.
    void FilterChanged(const QString& text);
    // View > Settings.
    void SettingsRequested();

  public slots:
    // "Total : %d" in pane 2; the view calls it after every update.
    void SetTotal(int count);
    // After every merge and filter change: "Total : 245" or, with a filter, "12 of 245";
    // "+3 -1" for what the last refresh added and removed.
    void SetCounts(int total, int matching, int added, int gone);
    // The title and the host pane follow the document's watched host or file.
    void UpdateTitle();
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    void OnFileSaveAs();
    void OnOpenRecentFile(int index);
    void OnRestore();
    void OnAppAbout();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void RememberDocumentPath(const QString& path);
    QAction* MakeCommand(int id, const QString& text, const QString& prompt,
                         const QString& tip = QString());
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void RebuildRecentMenu();
    void UpdateCommandStates();
    void CreateFilterField();
    void SetPaneText(int pane, const QString& text);
    void HideIfMinimised();
    void Report(const QString& text);
    void ShowRefreshResult(intptr_t result);

    IFrameDocument* m_document;
    CRecentFileList* m_recentFiles;
    CQtNotifySink* m_sink = nullptr;
    bool m_running = false;
    QString m_reportedFailure; // told in a message already; cleared by a refresh that works
    QString m_documentPath;
    // Of the host on display: when it was last refreshed, and the failures since.
    QString m_paneHost;
    QTime m_lastRefreshed;
    int m_failures = 0;
    bool m_filtering = false;

    QMenu* m_fileMenu = nullptr;
    QAction* m_recentSeparator = nullptr;
    QList<QAction*> m_recentActions;
    QMenu* m_hostMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QToolBar* m_toolBar = nullptr;
    QToolButton* m_watchButton = nullptr;
    QLabel* m_promptPane = nullptr;
    QLineEdit* m_filterField = nullptr;
    QWidget* m_grid = nullptr; // the document's view, once set
    CStatusPane* m_panes[kPaneCount] = {};
    CTrayIcon m_tray;

    std::function<QTime()> m_clock;
    std::function<void(const QString&)> m_report;
};

// A refresh time in the locale's format with seconds, minutes and seconds zero-padded
// (24-hour where the locale is).
QString RefreshTimeText(const QTime& time, const QLocale& locale = QLocale());
// The refresh pane: "Refreshed 12:03:05" after a refresh that worked; after failures since,
// "Last refreshed 12:03:05, 2 failures", or the failure itself when nothing worked yet.
QString RefreshPaneText(const QTime& lastRefreshed, int failures, const QString& failure,
                        const QLocale& locale = QLocale());
