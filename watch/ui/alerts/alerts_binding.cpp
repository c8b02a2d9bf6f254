// Joins signals, renice and alerts to the application: the grid's context menu and a Process
// menu, View > Alerts, the Alerts page of the host options, desktop notifications, marked
// lines and a tray icon that shows alerts are waiting.
#include "watch/ui/alerts/alerts_binding.h"

#include "watch/engine/alert_rules.h"
#include "watch/ui/alerts/alert_center.h"
#include "watch/ui/alerts/alert_list_window.h"
#include "watch/ui/alerts/alert_notifier.h"
#include "watch/ui/alerts/alert_rules_page.h"
#include "watch/ui/alerts/process_actions.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/frame/main_frame.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>

namespace
{
// The menu of the menu bar that holds action, or null.
QMenu* MenuHolding(CMainFrame* frame, QAction* action)
{
    for (QAction* top : frame->menuBar()->actions())
    {
        if (top->menu() && top->menu()->actions().contains(action))
            return top->menu();
    }
    return nullptr;
}

// The application's icon with a red dot: alerts are waiting.
QIcon WaitingIcon(const QIcon& base)
{
    QPixmap picture = base.pixmap(32, 32);
    if (picture.isNull())
    {
        picture = QPixmap(32, 32);
        picture.fill(Qt::transparent);
    }
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(220, 40, 30));
    painter.drawEllipse(QRectF(15, 1, 16, 16));
    return QIcon(picture);
}
} // namespace

CAlertsBinding::CAlertsBinding(CMainFrame* frame, CPsvigilDoc* doc, CPsvigilView* view,
                               QObject* parent)
    : QObject(parent), m_frame(frame), m_doc(doc), m_view(view)
{
    m_actions = new CProcessActions(
        doc, view, [frame] { return frame->IsRunning(); }, this);
    connect(m_actions, &CProcessActions::StatusMessage, frame,
            [frame](const QString& text) { frame->statusBar()->showMessage(text); });

    m_center = new CAlertCenter(doc, this);
    m_center->LoadRules(QString::fromStdString(AlertRulesPathBeside(doc->ConfigPath())));
    view->ProcessModel()->SetAlertMarks([this](int32_t pid) { return m_center->IsMarked(pid); });
    connect(m_center, &CAlertCenter::MarksChanged, view->ProcessModel(),
            &CProcessTableModel::AlertMarksChanged);

    m_notifier = new CAlertNotifier(
        QDBusConnection::sessionBus(),
        [frame](const QString& title, const QString& text)
        { return frame->GetTrayIcon().ShowBalloon(title, text); },
        this);
    connect(m_center, &CAlertCenter::AlertsRaised, m_notifier, &CAlertNotifier::Notify);
    connect(m_center, &CAlertCenter::UnseenChanged, this, &CAlertsBinding::UpdateTray);

    // View > Alerts.
    m_showAlerts = new QAction(tr("&Alerts..."), this);
    m_showAlerts->setObjectName(QStringLiteral("viewAlerts"));
    m_showAlerts->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    m_showAlerts->setStatusTip(tr("Show the alerts of this run"));
    connect(m_showAlerts, &QAction::triggered, this, &CAlertsBinding::ShowAlertList);
    if (QMenu* viewMenu = MenuHolding(frame, frame->GetCommand(kCmdViewToolbar)))
    {
        viewMenu->addSeparator();
        viewMenu->addAction(m_showAlerts);
    }
    frame->addAction(m_showAlerts);

    // The same actions as the grid's context menu, for the keyboard.
    auto* processMenu = new QMenu(tr("&Process"), frame);
    processMenu->setObjectName(QStringLiteral("processMenuBar"));
    QAction* helpMenu =
        frame->menuBar()->actions().isEmpty() ? nullptr : frame->menuBar()->actions().last();
    frame->menuBar()->insertMenu(helpMenu, processMenu);
    connect(processMenu, &QMenu::aboutToShow, this,
            [this, processMenu]
            {
                processMenu->clear();
                m_actions->FillMenu(processMenu);
            });

    // The tray menu: after Restore, the alerts and the running watch.
    if (QMenu* tray = frame->GetTrayIcon().GetPopupMenu())
    {
        tray->addSeparator();
        tray->addAction(m_showAlerts);
        if (QAction* refresh = frame->GetCommand(kCmdHostRefresh))
            tray->addAction(refresh);
        if (QAction* stop = frame->GetCommand(kCmdHostStop))
            tray->addAction(stop);
        tray->addSeparator();
        if (QAction* exit = frame->GetCommand(kCmdAppExit))
            tray->addAction(exit);
    }

    // The host options gain the Alerts page.
    CHostOptionsDlg::SetExtraPageFactory(
        [this](const HostSettings& host)
        {
            auto commit = [this](const std::string& oldAddress, const std::string&,
                                 std::vector<AlertRule> rules)
            {
                QString error;
                if (!m_center->ReplaceHostRules(QString::fromStdString(oldAddress), rules, &error))
                    m_frame->statusBar()->showMessage(
                        tr("The alert rules could not be written to %1: %2")
                            .arg(m_center->RulesPath(), error));
            };
            return std::vector<CHostOptionsExtraPage*>{
                new CAlertRulesPage(host, m_center->Rules(), m_center->Problems(), commit)};
        });
}

CAlertsBinding::~CAlertsBinding()
{
    CHostOptionsDlg::SetExtraPageFactory(nullptr);
    m_view->ProcessModel()->SetAlertMarks(nullptr);
    delete m_list;
}

CAlertListWindow* CAlertsBinding::ShowAlertList()
{
    if (!m_list)
        m_list = new CAlertListWindow(m_center, m_frame);
    m_list->show();
    m_list->raise();
    m_list->activateWindow();
    m_center->MarkSeen();
    return m_list;
}

void CAlertsBinding::UpdateTray(int unseen)
{
    const QIcon base = m_frame->windowIcon();
    if (unseen == 0)
        m_frame->GetTrayIcon().SetIconAndTip(base, QStringLiteral("Vigilor"));
    else
        m_frame->GetTrayIcon().SetIconAndTip(WaitingIcon(base),
                                             tr("Vigilor - %1 alert(s) waiting").arg(unseen));
}
