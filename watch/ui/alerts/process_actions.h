// The grid's context menu: Terminate, Kill, Hang up, Stop, Continue and Renice for the chosen
// processes, each confirmed, sent over the watch's own session, and answered in the status bar.
#pragma once

#include "watch/ui/alerts/action_confirm_dialog.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class CPsvigilDoc;
class CPsvigilView;
class QAction;
class QMenu;
class QWidget;
struct CommandReply;

class CProcessActions : public QObject
{
    Q_OBJECT
  public:
    // Asks the user; returns false to send nothing. May change the action's Nice.
    using Confirm = std::function<bool(QWidget* parent, const QString& host, ProcessAction& action,
                                       const std::vector<CActionTarget>& targets)>;

    // running tells whether a watch runs (only then is there a session to send over).
    CProcessActions(CPsvigilDoc* doc, CPsvigilView* view, std::function<bool()> running,
                    QObject* parent = nullptr);

    // The actions, in menu order: Terminate, Kill, Hang up, Stop, Continue, Renice...
    const std::vector<QAction*>& Actions() const { return m_actions; }
    // Fills menu with the actions, enabled when a watch runs and processes are chosen.
    void FillMenu(QMenu* menu);
    // The processes selected in the grid, top to bottom; lines of gone processes are left out.
    std::vector<CActionTarget> SelectedTargets() const;
    // Confirms, then queues the command; false when nothing was sent.
    bool Request(ProcessAction action);
    void SetConfirm(Confirm confirm) { m_confirm = std::move(confirm); }

  signals:
    // What to show in the status bar: the request on its way, then the host's answer.
    void StatusMessage(const QString& text);
    // The host answered (or the command could not run); succeeded when every process was.
    void Finished(const QString& text, bool succeeded);

  private:
    void OnReply(const ProcessAction& action, const QString& host, const CommandReply& reply);
    void ShowMenuAt(const QPoint& position);

    CPsvigilDoc* m_doc;
    CPsvigilView* m_view;
    std::function<bool()> m_running;
    std::vector<QAction*> m_actions;
    Confirm m_confirm;
};
