// The main window: menus, toolbar with the host drop-down, status panes, engine notifications.
#include "watch/ui/frame/main_frame.h"

#include "watch/engine/notify_sink.h"
#include "watch/engine/status_text.h"
#include "watch/ui/frame/about_box.h"
#include "watch/ui/frame/qt_notify_sink.h"
#include "watch/ui/frame/recent_file_list.h"
#include "watch/ui/frame/resources/artwork.h"
#include "watch/ui/frame/splash_window.h"
#include "watch/ui/frame/status_pane.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <ctime>

namespace
{

const char kTitle[] = "Vigilor";
const char kUntitled[] = "Untitled";
const char kFileFilter[] = "Watch Log Files (*.pvg);;All Files (*)";
// Save As also offers the layout that versions before the host and time were kept can read.
const char kClassicFilter[] = "Classic Watch Log Files, for older versions (*.pvg)";
const char kExportFilter[] = "CSV Files (*.csv);;JSON Files (*.json)";
const char kDefaultExtension[] = ".pvg";

// Pane widths come from strings of blanks in the status bar's font.
constexpr int kCountdownBlanks = 16;
constexpr int kTotalBlanks = 16;
constexpr int kRefreshBlanks = 54;

} // namespace

QString RefreshedStatusText(const QTime& time)
{
    std::tm local{};
    local.tm_hour = time.hour();
    local.tm_min = time.minute();
    local.tm_sec = time.second();
    return QString::fromStdString(RefreshResultText(kRefreshOk, local));
}

CMainFrame::CMainFrame(IFrameDocument* document, CRecentFileList* recentFiles, QWidget* parent)
    : QMainWindow(parent), m_document(document), m_recentFiles(recentFiles),
      m_clock([] { return QTime::currentTime(); })
{
    setWindowIcon(ApplicationIcon());
    // Wide enough for every column of the process grid at its starting width.
    resize(900, 560);
    UpdateTitle();
}

CMainFrame::~CMainFrame()
{
    // The engine may still post while the document winds down; nothing may reach this frame.
    if (m_sink != nullptr)
        m_sink->Detach();
    m_tray.DeleteIcon();
}

bool CMainFrame::Create()
{
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    UpdateCommandStates();

    // The tray menu: one item, the default one.
    m_trayMenu = new QMenu(QStringLiteral("_POPUP_TRAY_"), this);
    m_trayMenu->addAction(GetCommand(kCmdTrayRestore));
    m_trayMenu->setDefaultAction(GetCommand(kCmdTrayRestore));
    m_tray.SetPopupMenu(m_trayMenu);
    // Without a notification area the frame must stay reachable, so it then simply does not
    // hide when minimised (see HideIfMinimised) rather than refusing to start.
    m_tray.AddIcon(this, QString::fromLatin1(kTitle), windowIcon(), kTrayIconId);

    CStartupSplash::ShowSplash(this);
    return true;
}

void CMainFrame::SetView(QWidget* view)
{
    setCentralWidget(view);
}

void CMainFrame::AttachNotifySink(CQtNotifySink* sink)
{
    m_sink = sink;
    if (m_sink != nullptr)
        m_sink->SetHandler([this](uint32_t message, intptr_t wParam, intptr_t lParam)
                           { OnWatchNotify(message, wParam, lParam); });
}

QAction* CMainFrame::MakeCommand(int id, const QString& text, const QString& prompt,
                                 const QString& tip)
{
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt);
    if (!tip.isEmpty())
        action->setToolTip(tip);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    return action;
}

QAction* CMainFrame::GetCommand(int id) const
{
    return findChild<QAction*>(QStringLiteral("command%1").arg(id), Qt::FindDirectChildrenOnly);
}

void CMainFrame::CreateMenus()
{
    QAction* fileNew =
        MakeCommand(kCmdFileNew, tr("&New"), tr("Start a new, empty watch log"), tr("New"));
    fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    fileNew->setIcon(DrawToolbarGlyph(EToolbarGlyph::New));
    connect(fileNew, &QAction::triggered, this, &CMainFrame::OnFileNew);

    QAction* fileOpen =
        MakeCommand(kCmdFileOpen, tr("&Open..."), tr("Open a saved watch log"), tr("Open"));
    fileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    fileOpen->setIcon(DrawToolbarGlyph(EToolbarGlyph::Open));
    connect(fileOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);

    QAction* fileSave = MakeCommand(kCmdFileSave, tr("&Save"),
                                    tr("Save the process table as a watch log"), tr("Save"));
    fileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    fileSave->setIcon(DrawToolbarGlyph(EToolbarGlyph::Save));
    connect(fileSave, &QAction::triggered, this, &CMainFrame::OnFileSave);

    QAction* fileSaveAs = MakeCommand(kCmdFileSaveAs, tr("Save &As..."),
                                      tr("Save the process table under a new name"));
    connect(fileSaveAs, &QAction::triggered, this, &CMainFrame::OnFileSaveAs);

    QAction* fileExport =
        MakeCommand(kCmdFileExport, tr("&Export..."),
                    tr("Write the table on display as CSV or JSON for other programs"));
    connect(fileExport, &QAction::triggered, this, &CMainFrame::OnFileExport);

    QAction* appExit = MakeCommand(kCmdAppExit, tr("E&xit"), tr("Quit Vigilor"));
    appExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(appExit, &QAction::triggered, this, &QWidget::close);

    QAction* viewToolbar =
        MakeCommand(kCmdViewToolbar, tr("&Toolbar"), tr("Show or hide the toolbar"));
    viewToolbar->setCheckable(true);
    viewToolbar->setChecked(true);
    QAction* viewStatus =
        MakeCommand(kCmdViewStatusBar, tr("&Status Bar"), tr("Show or hide the status bar"));
    viewStatus->setCheckable(true);
    viewStatus->setChecked(true);

    QAction* watch = MakeCommand(kCmdHostWatch, tr("&Watch"), tr("Refresh or Start Watch"),
                                 tr("Refresh or Start Watch"));
    watch->setIcon(DrawToolbarGlyph(EToolbarGlyph::Watch));
    connect(watch, &QAction::triggered, this, [this] { m_document->OnHostWatch(this); });

    QAction* stop = MakeCommand(kCmdHostStop, tr("&Stop"), tr("Stop"), tr("Stop"));
    stop->setIcon(DrawToolbarGlyph(EToolbarGlyph::Stop));
    connect(stop, &QAction::triggered, this, [this] { m_document->OnHostStop(); });

    // No menu entry: F5 is what users of a process list reach for.
    QAction* refresh =
        MakeCommand(kCmdHostRefresh, tr("Refresh"), tr("Refresh the running watch now"));
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    refresh->setShortcutContext(Qt::WindowShortcut);
    connect(refresh, &QAction::triggered, this, [this] { m_document->OnHostRefresh(); });
    addAction(refresh);

    QAction* about =
        MakeCommand(kCmdAppAbout, tr("&About..."), tr("Show the program's version"), tr("About"));
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);

    QAction* restore = MakeCommand(kCmdTrayRestore, tr("Restore"), tr("Restore"), tr("Restore"));
    connect(restore, &QAction::triggered, this, &CMainFrame::OnRestore);

    m_fileMenu = menuBar()->addMenu(tr("&File"));
    m_fileMenu->addAction(fileNew);
    m_fileMenu->addAction(fileOpen);
    m_fileMenu->addAction(fileSave);
    m_fileMenu->addAction(fileSaveAs);
    m_fileMenu->addAction(fileExport);
    m_fileMenu->addSeparator();
    m_recentSeparator = m_fileMenu->addSeparator();
    m_fileMenu->addAction(appExit);
    RebuildRecentMenu();

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addAction(viewToolbar);
    viewMenu->addAction(viewStatus);

    QMenu* hostMenu = menuBar()->addMenu(tr("&Host"));
    hostMenu->addAction(watch);
    hostMenu->addAction(stop);

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->addAction(about);
}

void CMainFrame::CreateToolBar()
{
    m_toolBar = new QToolBar(tr("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar128"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(true);
    m_toolBar->setFloatable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->addAction(GetCommand(kCmdFileNew));
    m_toolBar->addAction(GetCommand(kCmdFileOpen));
    m_toolBar->addAction(GetCommand(kCmdFileSave));
    m_toolBar->addSeparator();

    // Watch carries the host drop-down: the button runs the Watch command, its arrow the menu.
    m_hostMenu = new QMenu(this);
    connect(m_hostMenu, &QMenu::aboutToShow, this, [this] { BuildHostMenu(m_hostMenu); });
    m_watchButton = new QToolButton(m_toolBar);
    m_watchButton->setDefaultAction(GetCommand(kCmdHostWatch));
    m_watchButton->setMenu(m_hostMenu);
    m_watchButton->setPopupMode(QToolButton::MenuButtonPopup);
    m_watchButton->setAutoRaise(true);
    m_toolBar->addWidget(m_watchButton);
    m_toolBar->addAction(GetCommand(kCmdHostStop));
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    QAction* viewToolbar = GetCommand(kCmdViewToolbar);
    connect(viewToolbar, &QAction::toggled, m_toolBar, &QWidget::setVisible);
    connect(m_toolBar, &QToolBar::visibilityChanged, viewToolbar, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    const QFontMetrics metrics(bar->font());
    const int blank = metrics.horizontalAdvance(QLatin1Char(' '));

    m_promptPane = new QLabel(tr("Ready"), bar);
    bar->addWidget(m_promptPane, 1);

    const int widths[kPaneCount] = {0,
                                    kCountdownBlanks * blank,
                                    kTotalBlanks * blank,
                                    kRefreshBlanks * blank,
                                    metrics.horizontalAdvance(QStringLiteral("CAP")),
                                    metrics.horizontalAdvance(QStringLiteral("NUM")),
                                    metrics.horizontalAdvance(QStringLiteral("SCRL"))};
    for (int pane = kPaneCountdown; pane < kPaneCount; ++pane)
    {
        m_panes[pane] = new CStatusPane(widths[pane], bar);
        bar->addPermanentWidget(m_panes[pane]);
    }
    // Lock-key states are not portably readable; the indicators are shown dimmed.
    m_panes[kPaneCaps]->SetText(QStringLiteral("CAP"));
    m_panes[kPaneNum]->SetText(QStringLiteral("NUM"));
    m_panes[kPaneScroll]->SetText(QStringLiteral("SCRL"));
    for (int pane : {kPaneCaps, kPaneNum, kPaneScroll})
        m_panes[pane]->setEnabled(false);

    QAction* viewStatus = GetCommand(kCmdViewStatusBar);
    connect(viewStatus, &QAction::toggled, bar, &QWidget::setVisible);
}

void CMainFrame::RebuildRecentMenu()
{
    for (QAction* action : m_recentActions)
    {
        m_fileMenu->removeAction(action);
        delete action;
    }
    m_recentActions.clear();

    const int count = m_recentFiles != nullptr ? m_recentFiles->GetSize() : 0;
    if (count == 0)
    {
        auto* placeholder = new QAction(tr("Recent File"), this);
        placeholder->setEnabled(false);
        m_recentActions.append(placeholder);
    }
    for (int i = 0; i < count; ++i)
    {
        auto* action = new QAction(m_recentFiles->GetMenuText(i), this);
        action->setData(kCmdFileMruFirst + i);
        action->setStatusTip(tr("Open this watch log"));
        connect(action, &QAction::triggered, this, [this, i] { OnOpenRecentFile(i); });
        m_recentActions.append(action);
    }
    m_fileMenu->insertActions(m_recentSeparator, m_recentActions);
}

void CMainFrame::BuildHostMenu(QMenu* menu) const
{
    menu->clear();
    const int count = m_document->GetHostCount();
    for (int i = 0; i < count; ++i)
    {
        const HostSettings* host = m_document->GetHostAt(i);
        QString text = host != nullptr ? QString::fromUtf8(FieldText(host->Address)) : QString();
        text.replace('&', "&&");
        QAction* action = menu->addAction(text);
        const int id = kCmdQuickPickFirst + i;
        action->setData(id);
        action->setEnabled(id <= kCmdQuickPickLast);
        IFrameDocument* document = m_document;
        connect(action, &QAction::triggered, menu, [document, i] { document->OnQuickPick(i); });
    }
}

void CMainFrame::UpdateCommandStates()
{
    // The host record of a running watch must not change, so Watch (and with it the host
    // list dialog and the drop-down) is off while a run is active.
    if (QAction* watch = GetCommand(kCmdHostWatch))
        watch->setEnabled(!m_running);
    if (QAction* stop = GetCommand(kCmdHostStop))
        stop->setEnabled(m_running);
    if (QAction* refresh = GetCommand(kCmdHostRefresh))
        refresh->setEnabled(m_running);
}

void CMainFrame::OnWatchNotify(uint32_t message, intptr_t wParam, intptr_t lParam)
{
    if (message == WM_WATCH_TABLE)
    {
        m_document->MergeSnapshot();
        return;
    }
    if (message != WM_WATCH_STATUS)
        return;

    switch (wParam)
    {
    case kStatusRefreshed:
        ShowRefreshResult(lParam);
        break;
    case kStatusRunBegins:
        m_running = true;
        UpdateCommandStates();
        break;
    case kStatusRunEnds:
        m_running = false;
        SetPaneText(kPaneCountdown, QString());
        UpdateCommandStates();
        break;
    case kStatusCountdown:
        SetPaneText(kPaneCountdown, QString::fromStdString(CountdownText(lParam)));
        break;
    default:
        break;
    }
}

void CMainFrame::ShowRefreshResult(intptr_t result)
{
    CStatusPane* pane = m_panes[kPaneRefresh];
    if (result == kRefreshOk)
    {
        SetPaneText(kPaneRefresh, RefreshedStatusText(m_clock()));
        pane->setToolTip(QString());
        m_reportedFailure.clear();
        return;
    }
    if (result != kRefreshNoConnection && result != kRefreshPsFailed)
        return;
    SetPaneText(kPaneRefresh, QString::fromStdString(RefreshResultText(result, {})));
    // The reason rides along as the pane's tool tip, and is told once: not again for every
    // refresh or run that fails the same way (in manual mode each refresh is a run).
    const QString reason = m_document->GetLastFailure();
    pane->setToolTip(reason);
    if (reason.isEmpty() || reason == m_reportedFailure)
        return;
    m_reportedFailure = reason;
    // Not from inside the notification: a message box runs its own loop, and the engine's
    // later notifications must keep arriving in order.
    const QString message = GetPaneText(kPaneRefresh) + QStringLiteral(": ") + reason;
    QMetaObject::invokeMethod(
        this, [this, message] { Report(message); }, Qt::QueuedConnection);
}

void CMainFrame::SetTotal(int count)
{
    SetPaneText(kPaneTotal, QString::asprintf("Total : %d", count));
}

void CMainFrame::SetPaneText(int pane, const QString& text)
{
    if (pane > kPanePrompt && pane < kPaneCount && m_panes[pane] != nullptr)
        m_panes[pane]->SetText(text);
}

QString CMainFrame::GetPaneText(int pane) const
{
    if (pane == kPanePrompt)
    {
        const QString prompt = statusBar()->currentMessage();
        return prompt.isEmpty() && m_promptPane != nullptr ? m_promptPane->text() : prompt;
    }
    if (pane > kPanePrompt && pane < kPaneCount && m_panes[pane] != nullptr)
        return m_panes[pane]->GetText();
    return QString();
}

void CMainFrame::UpdateTitle()
{
    const QString name = m_documentPath.isEmpty() ? QString::fromLatin1(kUntitled)
                                                  : QFileInfo(m_documentPath).fileName();
    setWindowTitle(name + QStringLiteral(" - ") + QString::fromLatin1(kTitle));
}

void CMainFrame::ResetDocumentTitle()
{
    m_documentPath.clear();
    UpdateTitle();
}

void CMainFrame::Report(const QString& text)
{
    if (m_report)
        m_report(text);
    else
        QMessageBox::warning(this, QStringLiteral("psvigil"), text);
}

void CMainFrame::OnFileNew()
{
    if (m_document->NewDocument())
        ResetDocumentTitle();
}

void CMainFrame::OnFileOpen()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open"), QString(), QString::fromLatin1(kFileFilter));
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

// The file on display after an Open or a Save: title and recent-file list follow it.
void CMainFrame::RememberDocumentPath(const QString& path)
{
    m_documentPath = QFileInfo(path).absoluteFilePath();
    if (m_recentFiles != nullptr)
    {
        m_recentFiles->Add(m_documentPath);
        m_recentFiles->WriteList();
        RebuildRecentMenu();
    }
    UpdateTitle();
}

bool CMainFrame::OpenDocumentFile(const QString& path)
{
    QString error;
    if (!m_document->OpenDocument(path, &error))
    {
        Report(error.isEmpty() ? tr("Failed to open document.") : error);
        return false;
    }
    RememberDocumentPath(path);
    // An opened log tells whose processes it holds and when they were taken.
    const QString logStatus = m_document->OpenedLogStatus();
    if (!logStatus.isEmpty())
    {
        SetPaneText(kPaneRefresh, logStatus);
        if (CStatusPane* pane = m_panes[kPaneRefresh])
            pane->setToolTip(QString());
    }
    return true;
}

void CMainFrame::OnOpenRecentFile(int index)
{
    if (m_recentFiles == nullptr)
        return;
    const QString path = m_recentFiles->GetAt(index);
    if (path.isEmpty())
        return;
    if (!OpenDocumentFile(path))
    {
        // An entry that no longer opens leaves the list.
        m_recentFiles->Remove(index);
        m_recentFiles->WriteList();
        RebuildRecentMenu();
    }
}

void CMainFrame::OnFileSave()
{
    if (m_documentPath.isEmpty())
        OnFileSaveAs();
    else
        SaveDocumentFile(m_documentPath);
}

void CMainFrame::OnFileSaveAs()
{
    const QString suggested = m_documentPath.isEmpty()
                                  ? QString::fromLatin1(kUntitled) + kDefaultExtension
                                  : m_documentPath;
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, tr("Save As"), suggested,
        QString::fromLatin1(kFileFilter) + ";;" + QString::fromLatin1(kClassicFilter), &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QString::fromLatin1(kDefaultExtension);
    SaveDocumentFile(path, filter == QString::fromLatin1(kClassicFilter));
}

void CMainFrame::OnFileExport()
{
    QString filter;
    QString path = QFileDialog::getSaveFileName(this, tr("Export"), QString(),
                                                QString::fromLatin1(kExportFilter), &filter);
    if (path.isEmpty())
        return;
    const bool json =
        QFileInfo(path).suffix().compare(QStringLiteral("json"), Qt::CaseInsensitive) == 0 ||
        (QFileInfo(path).suffix().isEmpty() && filter.startsWith(QStringLiteral("JSON")));
    if (QFileInfo(path).suffix().isEmpty())
        path += json ? QStringLiteral(".json") : QStringLiteral(".csv");
    if (!m_document->ExportTable(path, json))
        Report(tr("Failed to save document."));
}

bool CMainFrame::SaveDocumentFile(const QString& path, bool classic)
{
    QString error;
    if (!(classic ? m_document->SaveClassicDocument(path, &error)
                  : m_document->SaveDocument(path, &error)))
    {
        Report(error.isEmpty() ? tr("Failed to save document.") : error);
        return false;
    }
    RememberDocumentPath(path);
    return true;
}

void CMainFrame::OnRestore()
{
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::OnAppAbout()
{
    CAboutBox about(this);
    about.exec();
}

void CMainFrame::HideIfMinimised()
{
    // Only with an icon in the notification area: otherwise a hidden frame would be lost.
    if (isMinimized() && isVisible() && m_tray.IsEnabled())
        hide();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange || event->type() == QEvent::ActivationChange)
    {
        // Hiding inside the state change confuses some window managers; do it right after.
        if (isMinimized())
            QMetaObject::invokeMethod(this, &CMainFrame::HideIfMinimised, Qt::QueuedConnection);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The document is never modified, so closing never asks to save.
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    for (const QUrl& url : event->mimeData()->urls())
    {
        if (url.isLocalFile())
        {
            event->acceptProposedAction();
            return;
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    activateWindow();
    // Each file is opened in turn; the last one that opens stays on display.
    for (const QUrl& url : urls)
    {
        if (url.isLocalFile())
            OpenDocumentFile(url.toLocalFile());
    }
}
