// Joins signals, renice and alerts to the application: the grid's context menu and a Process
// menu, View > Alerts, the Alerts page of the host options, desktop notifications, marked
// lines and a tray icon that shows alerts are waiting.
#pragma once

#include <QObject>
#include <QPointer>

class CAlertCenter;
class CAlertListWindow;
class CAlertNotifier;
class CMainFrame;
class CProcessActions;
class CPsvigilDoc;
class CPsvigilView;
class QAction;

class CAlertsBinding : public QObject
{
    Q_OBJECT
  public:
    // None is owned; all must outlive the binding.
    CAlertsBinding(CMainFrame* frame, CPsvigilDoc* doc, CPsvigilView* view,
                   QObject* parent = nullptr);
    ~CAlertsBinding() override;

    CProcessActions* Actions() const { return m_actions; }
    CAlertCenter* Center() const { return m_center; }
    CAlertNotifier* Notifier() const { return m_notifier; }
    QAction* ShowAlertsAction() const { return m_showAlerts; }
    // View > Alerts: the list, made on first use.
    CAlertListWindow* ShowAlertList();

  private:
    void UpdateTray(int unseen);

    CMainFrame* m_frame;
    CPsvigilDoc* m_doc;
    CPsvigilView* m_view;
    CProcessActions* m_actions;
    CAlertCenter* m_center;
    CAlertNotifier* m_notifier;
    QAction* m_showAlerts;
    QPointer<CAlertListWindow> m_list;
};
