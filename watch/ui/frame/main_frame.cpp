// The main window: menus, toolbar with the host drop-down, status panes, engine notifications.
#include "watch/ui/frame/main_frame.h"

#include "watch/ui/frame/about_box.h"
#include "watch/ui/frame/qt_notify_sink.h"
#include "watch/ui/frame/resources/artwork.h"
#include "watch/ui/frame/splash_window.h"
#include "watch/ui/frame/status_pane.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>

namespace
{
const char kTitle[] = "Vigilor";

// Escape in the filter field clears it; a second Escape goes back to the grid.
class CFilterKeys : public QObject
{
  public:
    // grid tells where a second Escape goes.
    CFilterKeys(QObject* parent, std::function<QWidget*()> grid)
        : QObject(parent), m_grid(std::move(grid))
    {
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (field == nullptr || event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return false;
        if (!field->text().isEmpty())
            field->clear();
        else if (QWidget* grid = m_grid())
            grid->setFocus(Qt::OtherFocusReason);
        return true;
    }

  private:
    std::function<QWidget*()> m_grid;
};
} // namespace

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
    CreateFilterField();
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

void CMainFrame::CreateFilterField()
{
    m_filterField = new QLineEdit(this);
    m_filterField->setObjectName(QStringLiteral("filterField"));
    m_filterField->setPlaceholderText(tr("Filter processes (Ctrl+F)"));
    m_filterField->setClearButtonEnabled(true);
    m_filterField->setToolTip(tr("Shows only the processes whose text in some column contains "
                                 "this; Escape clears it"));
    m_filterField->installEventFilter(new CFilterKeys(m_filterField, [this] { return m_grid; }));
    connect(m_filterField, &QLineEdit::textChanged, this, &CMainFrame::FilterChanged);
}

void CMainFrame::SetView(QWidget* view)
{
    if (m_filterField == nullptr)
        CreateFilterField();
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 2, 4, 0);
    auto* label = new QLabel(tr("&Filter:"), client);
    label->setBuddy(m_filterField);
    row->addWidget(label);
    row->addWidget(m_filterField, 1);
    row->addStretch(2);
    layout->addLayout(row);
    layout->addWidget(view, 1);
    setCentralWidget(client);
    setTabOrder(m_filterField, view);
    m_grid = view;
}

void CMainFrame::SaveSettings(QSettings& settings) const
{
    settings.setValue(QStringLiteral("Frame/Geometry"), saveGeometry());
    settings.setValue(QStringLiteral("Frame/State"), saveState());
}

void CMainFrame::RestoreSettings(QSettings& settings)
{
    const QByteArray geometry = settings.value(QStringLiteral("Frame/Geometry")).toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        FitToScreen();
    restoreState(settings.value(QStringLiteral("Frame/State")).toByteArray());
}

void CMainFrame::FitToScreen()
{
    const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (where == nullptr)
        return;
    // In logical pixels: at a scale factor of 2 a 1600 x 1000 screen offers 800 x 500.
    const QRect room = where->availableGeometry();
    const QSize wanted(900, 560);
    const QSize fitted = wanted.boundedTo(QSize(room.width() * 9 / 10, room.height() * 9 / 10));
    resize(fitted);
    move(room.center() - QPoint(fitted.width() / 2, fitted.height() / 2));
}

void CMainFrame::AttachNotifySink(CQtNotifySink* sink)
{
    m_sink = sink;
    if (m_sink != nullptr)
        m_sink->SetHandler([this](uint32_t message, intptr_t wParam, intptr_t lParam)
                           { OnWatchNotify(message, wParam, lParam); });
}

void CMainFrame::UpdateTitle()
{
    // The host on display names the window, so no one acts on the wrong machine's list; a
    // watch log says it is one.
    const QString host = m_document->GetWatchedHost();
    const QString transport = m_document->GetWatchedTransport();
    QString name;
    if (!host.isEmpty())
        name = transport.isEmpty() ? host : QStringLiteral("%1 (%2)").arg(host, transport);
    else if (!m_documentPath.isEmpty())
        name = tr("%1 (watch log)").arg(QFileInfo(m_documentPath).fileName());
    else
        name = tr("Untitled");
    setWindowTitle(name + QStringLiteral(" - ") + QString::fromLatin1(kTitle));

    SetPaneText(kPaneHost, host.isEmpty() ? QString()
                           : transport.isEmpty()
                               ? host
                               : QStringLiteral("%1 \u00b7 %2").arg(host, transport));
    // Another host's refresh times and failures are not this one's.
    if (host != m_paneHost)
    {
        m_paneHost = host;
        m_lastRefreshed = QTime();
        m_failures = 0;
        SetPaneText(kPaneRefresh, QString());
        SetPaneText(kPaneChanges, QString());
        if (m_panes[kPaneRefresh] != nullptr)
            m_panes[kPaneRefresh]->setToolTip(QString());
    }
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
