// The "Alerts" page of a host's options: the rules for this host, each a kind, a command
// pattern and a limit where the kind has one; written to the rules file on OK.
#include "watch/ui/alerts/alert_rules_page.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

CAlertRulesPage::CAlertRulesPage(const HostSettings& host, const std::vector<AlertRule>& allRules,
                                 const QStringList& problems, Committer commit, QWidget* parent)
    : CHostOptionsExtraPage(parent), m_address(FieldText(host.Address)), m_commit(std::move(commit))
{
    setWindowTitle(tr("Alerts"));
    for (const AlertRule& rule : allRules)
    {
        if (rule.Host == m_address)
            m_rules.push_back(rule);
    }
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("rules"));
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("when"));
    m_kind->addItems(
        {tr("a process appears"), tr("none is left"), tr("CPU above (%)"), tr("RSS above (MB)")});
    m_command = new QLineEdit(this);
    m_command->setObjectName(QStringLiteral("command"));
    m_command->setPlaceholderText(tr("regular expression, as grep -E; empty: any"));
    m_command->setMaxLength(static_cast<int>(kMaxAlertPattern));
    m_above = new QDoubleSpinBox(this);
    m_above->setObjectName(QStringLiteral("above"));
    m_above->setRange(0, 1e6);
    m_above->setDecimals(1);
    m_refreshes = new QSpinBox(this);
    m_refreshes->setObjectName(QStringLiteral("refreshes"));
    m_refreshes->setRange(1, kMaxAlertRefreshes);
    m_refreshes->setSuffix(tr(" refreshes"));
    m_refreshes->setSpecialValueText(tr("1 refresh"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(tr("optional"));
    m_name->setMaxLength(static_cast<int>(kMaxAlertText));
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setTextFormat(Qt::PlainText);
    if (!problems.isEmpty())
        m_problem->setText(tr("Left out of the rules file: %1").arg(problems.first()));

    auto* add = new QPushButton(tr("&Add"), this);
    add->setObjectName(QStringLiteral("add"));
    m_remove = new QPushButton(tr("&Remove"), this);
    m_remove->setObjectName(QStringLiteral("remove"));
    auto* limit = new QHBoxLayout;
    limit->addWidget(m_above);
    limit->addWidget(m_refreshes);
    auto* form = new QFormLayout;
    form->addRow(tr("&When:"), m_kind);
    form->addRow(tr("&Command:"), m_command);
    form->addRow(tr("Above:"), limit);
    form->addRow(tr("&Name:"), m_name);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_list, 1);
    column->addLayout(buttons);
    column->addLayout(form);
    column->addWidget(m_problem);

    connect(add, &QPushButton::clicked, this, &CAlertRulesPage::AddRule);
    connect(m_remove, &QPushButton::clicked, this, &CAlertRulesPage::RemoveRule);
    connect(m_list, &QListWidget::currentRowChanged, this, &CAlertRulesPage::LoadEditor);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &CAlertRulesPage::StoreEditor);
    connect(m_command, &QLineEdit::textEdited, this, &CAlertRulesPage::StoreEditor);
    connect(m_name, &QLineEdit::textEdited, this, &CAlertRulesPage::StoreEditor);
    connect(m_above, &QDoubleSpinBox::valueChanged, this, &CAlertRulesPage::StoreEditor);
    connect(m_refreshes, &QSpinBox::valueChanged, this, &CAlertRulesPage::StoreEditor);
    Refill();
    m_list->setCurrentRow(m_rules.empty() ? -1 : 0);
    LoadEditor(m_list->currentRow());
}

void CAlertRulesPage::Refill()
{
    const int current = m_list->currentRow();
    m_loading = true;
    m_list->clear();
    for (const AlertRule& rule : m_rules)
    {
        const std::string problem = CheckAlertRule(rule);
        m_list->addItem(
            QString::fromStdString(AlertRuleTitle(rule)) +
            (problem.empty() ? QString() : tr("  [%1]").arg(QString::fromStdString(problem))));
    }
    m_list->setCurrentRow(std::min(current, m_list->count() - 1));
    m_loading = false;
}

void CAlertRulesPage::LoadEditor(int row)
{
    if (m_loading)
        return;
    const bool has = row >= 0 && row < static_cast<int>(m_rules.size());
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_kind, m_command, m_above, m_refreshes, m_name, m_remove})
        w->setEnabled(has);
    if (!has)
        return;
    const AlertRule& rule = m_rules[static_cast<std::size_t>(row)];
    m_loading = true;
    m_kind->setCurrentIndex(static_cast<int>(rule.Kind));
    m_command->setText(QString::fromStdString(rule.Command));
    m_above->setValue(rule.Above);
    m_refreshes->setValue(rule.Refreshes);
    m_name->setText(QString::fromStdString(rule.Name));
    m_loading = false;
    m_above->setEnabled(rule.Kind == AlertKind::CpuAbove || rule.Kind == AlertKind::RssAbove);
    m_refreshes->setEnabled(rule.Kind == AlertKind::CpuAbove);
}

void CAlertRulesPage::StoreEditor()
{
    const int row = m_list->currentRow();
    if (m_loading || row < 0 || row >= static_cast<int>(m_rules.size()))
        return;
    AlertRule& rule = m_rules[static_cast<std::size_t>(row)];
    rule.Kind = static_cast<AlertKind>(m_kind->currentIndex());
    rule.Command = m_command->text().toStdString();
    rule.Above = m_above->value();
    rule.Refreshes = m_refreshes->value();
    rule.Name = m_name->text().toStdString();
    m_above->setEnabled(rule.Kind == AlertKind::CpuAbove || rule.Kind == AlertKind::RssAbove);
    m_refreshes->setEnabled(rule.Kind == AlertKind::CpuAbove);
    const std::string problem = CheckAlertRule(rule);
    m_problem->setText(problem.empty() ? QString() : QString::fromStdString(problem));
    Refill();
}

void CAlertRulesPage::AddRule()
{
    AlertRule rule;
    rule.Host = m_address.empty() ? "*" : m_address;
    m_rules.push_back(rule);
    Refill();
    m_list->setCurrentRow(static_cast<int>(m_rules.size()) - 1);
    m_command->setFocus();
}

void CAlertRulesPage::RemoveRule()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= static_cast<int>(m_rules.size()))
        return;
    m_rules.erase(m_rules.begin() + row);
    Refill();
    LoadEditor(m_list->currentRow());
}

void CAlertRulesPage::Commit(const HostSettings& host)
{
    // Rules that cannot be kept are left out rather than written into a file that would
    // refuse them; the host's address may have changed on the Settings page.
    const std::string address(FieldText(host.Address));
    std::vector<AlertRule> kept;
    for (AlertRule rule : m_rules)
    {
        rule.Host = address.empty() ? "*" : address;
        if (CheckAlertRule(rule).empty())
            kept.push_back(std::move(rule));
    }
    if (m_commit)
        m_commit(m_address, address, std::move(kept));
}
