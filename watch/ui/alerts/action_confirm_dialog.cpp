// Asks before a signal or a renice is sent: names the host, each PID and its command.
#include "watch/ui/alerts/action_confirm_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

QString CActionConfirmDialog::VerbOf(const ProcessAction& action)
{
    if (action.Renice)
        return tr("Renice");
    switch (action.Signal)
    {
    case ProcessSignal::Kill:
        return tr("Kill");
    case ProcessSignal::HangUp:
        return tr("Hang up");
    case ProcessSignal::Stop:
        return tr("Stop");
    case ProcessSignal::Continue:
        return tr("Continue");
    default:
        return tr("Terminate");
    }
}

CActionConfirmDialog::CActionConfirmDialog(const QString& host, const ProcessAction& action,
                                           const std::vector<CActionTarget>& targets,
                                           QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("psvigil"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    const QString verb = VerbOf(action);
    const QString processes = targets.size() == 1 ? tr("process %1").arg(targets.front().Pid)
                                                  : tr("%1 processes").arg(targets.size());
    const QString text =
        action.Renice ? tr("Change the priority of %1 on %2?").arg(processes, host)
                      : tr("Send %1 to %2 on %3?")
                            .arg(QString::fromLatin1(SignalName(action.Signal)), processes, host);
    auto* question = new QLabel(text, this);
    question->setObjectName(QStringLiteral("question"));
    question->setTextFormat(Qt::PlainText);

    auto* list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("targets"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({tr("PID"), tr("User"), tr("Command")});
    list->setSelectionMode(QAbstractItemView::NoSelection);
    for (const CActionTarget& target : targets)
        new QTreeWidgetItem(list, {QString::number(target.Pid), target.User, target.Command});
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list->setMinimumWidth(460);
    list->setMaximumHeight(180);

    auto* column = new QVBoxLayout(this);
    column->addWidget(question);
    column->addWidget(list);
    if (action.Renice)
    {
        m_nice = new QSpinBox(this);
        m_nice->setObjectName(QStringLiteral("nice"));
        m_nice->setRange(kNiceMin, kNiceMax);
        m_nice->setValue(action.Nice);
        auto* form = new QFormLayout;
        form->addRow(tr("&Nice value (-20 fastest, 19 slowest):"), m_nice);
        column->addLayout(form);
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* go = buttons->addButton(verb, QDialogButtonBox::AcceptRole);
    go->setObjectName(QStringLiteral("go"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    // KILL cannot be caught by the process: Enter alone does not send it.
    const bool careful = !action.Renice && action.Signal == ProcessSignal::Kill;
    (careful ? cancel : go)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

int CActionConfirmDialog::Nice() const
{
    return m_nice ? m_nice->value() : 0;
}
