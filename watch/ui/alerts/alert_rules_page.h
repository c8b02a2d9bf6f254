// The "Alerts" page of a host's options: the rules for this host, each a kind, a command
// pattern and a limit where the kind has one; written to the rules file on OK.
#pragma once

#include "watch/engine/alert_rules.h"
#include "watch/ui/dialogs/options_sheet.h"

#include <functional>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

class CAlertRulesPage : public CHostOptionsExtraPage
{
    Q_OBJECT
  public:
    // commit receives the address the rules were kept under, the record's new address and
    // the rules; it writes them.
    using Committer = std::function<void(const std::string& oldAddress, const std::string& address,
                                         std::vector<AlertRule> rules)>;
    CAlertRulesPage(const HostSettings& host, const std::vector<AlertRule>& allRules,
                    const QStringList& problems, Committer commit, QWidget* parent = nullptr);

    void Commit(const HostSettings& host) override;
    const std::vector<AlertRule>& EditedRules() const { return m_rules; }

  private:
    void Refill();
    void LoadEditor(int row);
    void StoreEditor();
    void AddRule();
    void RemoveRule();

    std::string m_address;
    std::vector<AlertRule> m_rules;
    Committer m_commit;
    bool m_loading = false;
    QListWidget* m_list;
    QComboBox* m_kind;
    QLineEdit* m_command;
    QDoubleSpinBox* m_above;
    QSpinBox* m_refreshes;
    QLineEdit* m_name;
    QLabel* m_problem;
    QPushButton* m_remove;
};
