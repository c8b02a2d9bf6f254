// The main window's command table: menus, toolbar, the host drop-down and enabled states.
#include "watch/ui/frame/main_frame.h"

#include "watch/ui/frame/recent_file_list.h"
#include "watch/ui/frame/resources/artwork.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

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
    connect(watch, &QAction::triggered, this,
            [this]
            {
                m_document->OnHostWatch(this);
                UpdateTitle();
            });

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

    // Ctrl+F reaches the filter field from anywhere in the window.
    QAction* find = MakeCommand(kCmdEditFind, tr("&Find"), tr("Filter the processes"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this,
            [this]
            {
                if (m_filterField == nullptr)
                    return;
                m_filterField->setFocus(Qt::ShortcutFocusReason);
                m_filterField->selectAll();
            });
    addAction(find);

    QAction* settings = MakeCommand(kCmdViewSettings, tr("S&ettings..."),
                                    tr("Choose how the process list shows changes"));
    connect(settings, &QAction::triggered, this, &CMainFrame::SettingsRequested);

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
    m_fileMenu->addSeparator();
    m_recentSeparator = m_fileMenu->addSeparator();
    m_fileMenu->addAction(appExit);
    RebuildRecentMenu();

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addAction(viewToolbar);
    viewMenu->addAction(viewStatus);
    viewMenu->addSeparator();
    viewMenu->addAction(settings);

    QMenu* hostMenu = menuBar()->addMenu(tr("&Host"));
    hostMenu->addAction(watch);
    hostMenu->addAction(stop);

    // Alt+H belongs to Host, the menu this program is about; Help answers to Alt+P.
    QMenu* helpMenu = menuBar()->addMenu(tr("Hel&p"));
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
        auto* frame = const_cast<CMainFrame*>(this);
        connect(action, &QAction::triggered, menu,
                [frame, i]
                {
                    frame->m_document->OnQuickPick(i);
                    frame->UpdateTitle();
                });
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
