// The alerts of the watched host: its rules from the file beside psvigil.cfg, evaluated after
// every merge; the list of what fired, the processes to mark, and how many are unseen.
#pragma once

#include "watch/engine/alert_evaluator.h"
#include "watch/engine/alert_rules.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <set>
#include <vector>

class CPsvigilDoc;

struct CAlertRecord
{
    QDateTime Time;
    QString Host;
    QString Rule;
    int32_t Pid = 0;
    QString Command;
    QString Detail;
    // "4711 sleep 300 (appeared)"
    QString ProcessText() const;
};

// Time, Host, Rule, Process: the newest alert first.
class CAlertListModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    static constexpr int kMaxAlerts = 1000; // the oldest go beyond this
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void Add(const QList<CAlertRecord>& records);
    void Clear();
    const CAlertRecord& At(int row) const { return m_records.at(row); }

  private:
    QList<CAlertRecord> m_records; // newest first
};

class CAlertCenter : public QObject
{
    Q_OBJECT
  public:
    // Evaluates after each of the document's merges.
    explicit CAlertCenter(CPsvigilDoc* doc, QObject* parent = nullptr);
    ~CAlertCenter() override;

    // Reads the rules file; problems are kept for the Settings page to show.
    void LoadRules(const QString& path);
    const QString& RulesPath() const { return m_path; }
    const std::vector<AlertRule>& Rules() const { return m_rules; }
    const QStringList& Problems() const { return m_problems; }
    // Replaces the rules of host oldAddress by rules (for newAddress) and writes the file;
    // false with error when it cannot be written.
    bool ReplaceHostRules(const QString& oldAddress, const std::vector<AlertRule>& rules,
                          QString* error);

    CAlertListModel* Model() { return &m_model; }
    bool IsMarked(int32_t pid) const { return m_marked.count(pid) != 0; }
    int Unseen() const { return m_unseen; }
    // The list was looked at: nothing is waiting any more; marks stay until ClearAlerts.
    void MarkSeen();
    void ClearAlerts();

  signals:
    void AlertsRaised(const QList<CAlertRecord>& records);
    void UnseenChanged(int unseen);
    void MarksChanged();

  private:
    void OnMerged();
    void Rebuild(const std::string& address);

    CPsvigilDoc* m_doc;
    QString m_path;
    std::vector<AlertRule> m_rules;
    QStringList m_problems;
    std::unique_ptr<CAlertEvaluator> m_evaluator;
    std::string m_address; // the host the evaluator watches
    std::set<int32_t> m_marked;
    int m_unseen = 0;
    CAlertListModel m_model;
};
