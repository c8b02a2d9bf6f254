// The grid's context menu: Terminate, Kill, Hang up, Stop, Continue and Renice for the chosen
// processes, each confirmed, sent over the watch's own session, and answered in the status bar.
#include "watch/ui/alerts/process_actions.h"

#include "watch/engine/watch_engine.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"

#include <QAction>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPointer>

#include <algorithm>

namespace
{
struct MenuEntry
{
    const char* Text;
    bool Renice;
    ProcessSignal Signal;
};
constexpr MenuEntry kEntries[] = {
    {QT_TRANSLATE_NOOP("CProcessActions", "&Terminate (TERM)"), false, ProcessSignal::Terminate},
    {QT_TRANSLATE_NOOP("CProcessActions", "&Kill (KILL)"), false, ProcessSignal::Kill},
    {QT_TRANSLATE_NOOP("CProcessActions", "&Hang up (HUP)"), false, ProcessSignal::HangUp},
    {QT_TRANSLATE_NOOP("CProcessActions", "&Stop (STOP)"), false, ProcessSignal::Stop},
    {QT_TRANSLATE_NOOP("CProcessActions", "&Continue (CONT)"), false, ProcessSignal::Continue},
    {QT_TRANSLATE_NOOP("CProcessActions", "&Renice..."), true, ProcessSignal::Terminate},
};

bool AskWithDialog(QWidget* parent, const QString& host, ProcessAction& action,
                   const std::vector<CActionTarget>& targets)
{
    CActionConfirmDialog dialog(host, action, targets, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    action.Nice = dialog.Nice();
    return true;
}
} // namespace

CProcessActions::CProcessActions(CPsvigilDoc* doc, CPsvigilView* view,
                                 std::function<bool()> running, QObject* parent)
    : QObject(parent), m_doc(doc), m_view(view), m_running(std::move(running)),
      m_confirm(AskWithDialog)
{
    for (const MenuEntry& entry : kEntries)
    {
        auto* action =
            new QAction(QCoreApplication::translate("CProcessActions", entry.Text), this);
        connect(action, &QAction::triggered, this,
                [this, entry]
                {
                    ProcessAction request;
                    request.Renice = entry.Renice;
                    request.Signal = entry.Signal;
                    request.Nice = 10;
                    Request(std::move(request));
                });
        m_actions.push_back(action);
    }
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &CProcessActions::ShowMenuAt);
}

void CProcessActions::FillMenu(QMenu* menu)
{
    const bool enabled = m_running() && !SelectedTargets().empty();
    for (std::size_t i = 0; i < m_actions.size(); ++i)
    {
        if (i + 1 == m_actions.size())
            menu->addSeparator();
        m_actions[i]->setEnabled(enabled);
        menu->addAction(m_actions[i]);
    }
}

void CProcessActions::ShowMenuAt(const QPoint& position)
{
    // A right click on a line that is not selected chooses it alone, as file managers do.
    const QModelIndex under = m_view->indexAt(position);
    if (under.isValid() && !m_view->selectionModel()->isRowSelected(under.row(), QModelIndex()))
        m_view->selectRow(under.row());
    QMenu menu(m_view);
    menu.setObjectName(QStringLiteral("processMenu"));
    FillMenu(&menu);
    menu.exec(m_view->viewport()->mapToGlobal(position));
}

std::vector<CActionTarget> CProcessActions::SelectedTargets() const
{
    std::vector<CActionTarget> targets;
    CProcessTableModel* model = m_view->ProcessModel();
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : rows)
    {
        if (model->LookAt(index.row()) == ERowLook::Gone)
            continue;
        const int32_t pid = model->PidAt(index.row());
        const ProcessRow* row = m_doc->FindRowByPid(pid);
        if (pid <= 0 || row == nullptr)
            continue;
        targets.push_back({pid, QString::fromUtf8(row->User), QString::fromUtf8(row->Command)});
    }
    return targets;
}

bool CProcessActions::Request(ProcessAction action)
{
    const std::vector<CActionTarget> targets = SelectedTargets();
    const QString host = m_doc->WatchedHostName();
    if (!m_running() || targets.empty())
    {
        emit StatusMessage(tr("Choose processes of a running watch first"));
        return false;
    }
    action.Pids.clear();
    for (const CActionTarget& target : targets)
        action.Pids.push_back(target.Pid);
    if (const std::string why = CheckAction(action); !why.empty())
    {
        emit StatusMessage(host + ": " + QString::fromStdString(why));
        return false;
    }
    if (!m_confirm(m_view, host, action, targets))
        return false;
    if (const std::string why = CheckAction(action); !why.empty())
        return false;
    emit StatusMessage(tr("%1: %2 sent, waiting for the answer...")
                           .arg(host, QString::fromStdString(ActionName(action))));
    // The answer comes on the engine's worker; it is handed to this thread, and dropped if the
    // window has gone meanwhile.
    QPointer<CProcessActions> self(this);
    m_doc->Engine().QueueCommand(BuildActionCommand(action),
                                 [self, action, host](const CommandReply& reply)
                                 {
                                     QMetaObject::invokeMethod(
                                         qApp,
                                         [self, action, host, reply]
                                         {
                                             if (self)
                                                 self->OnReply(action, host, reply);
                                         },
                                         Qt::QueuedConnection);
                                 });
    return true;
}

void CProcessActions::OnReply(const ProcessAction& action, const QString& host,
                              const CommandReply& reply)
{
    QString text;
    bool succeeded = false;
    if (!reply.Ran)
        text = tr("%1: %2 not sent: %3")
                   .arg(host, QString::fromStdString(ActionName(action)),
                        QString::fromStdString(reply.Failure));
    else
    {
        const auto outcomes = ParseActionReply(reply.Output, action.Pids);
        succeeded = std::all_of(outcomes.begin(), outcomes.end(),
                                [](const ProcessActionOutcome& o) { return o.Succeeded(); });
        text = host + ": " + QString::fromStdString(SummarizeOutcomes(action, outcomes));
    }
    emit StatusMessage(text);
    emit Finished(text, succeeded);
}
