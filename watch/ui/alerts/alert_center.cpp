// The alerts of the watched host: its rules from the file beside psvigil.cfg, evaluated after
// every merge; the list of what fired, the processes to mark, and how many are unseen.
#include "watch/ui/alerts/alert_center.h"

#include "watch/ui/document/psvigil_doc.h"

#include <QSaveFile>

QString CAlertRecord::ProcessText() const
{
    return QStringLiteral("%1 %2 (%3)").arg(Pid).arg(Command, Detail);
}

int CAlertListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int CAlertListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant CAlertListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const CAlertRecord& record = m_records.at(index.row());
    switch (index.column())
    {
    case 0:
        return record.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case 1:
        return record.Host;
    case 2:
        return record.Rule;
    default:
        return record.ProcessText();
    }
}

QVariant CAlertListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 3)
        return {};
    static const char* const kHeadings[] = {"Time", "Host", "Rule", "Process"};
    return tr(kHeadings[section]);
}

void CAlertListModel::Add(const QList<CAlertRecord>& records)
{
    if (records.isEmpty())
        return;
    beginInsertRows({}, 0, static_cast<int>(records.size()) - 1);
    for (const CAlertRecord& record : records)
        m_records.prepend(record);
    endInsertRows();
    if (m_records.size() > kMaxAlerts)
    {
        beginRemoveRows({}, kMaxAlerts, static_cast<int>(m_records.size()) - 1);
        m_records.resize(kMaxAlerts);
        endRemoveRows();
    }
}

void CAlertListModel::Clear()
{
    beginResetModel();
    m_records.clear();
    endResetModel();
}

CAlertCenter::CAlertCenter(CPsvigilDoc* doc, QObject* parent) : QObject(parent), m_doc(doc)
{
    // Emitted in the middle of the merge: the table holds this refresh's rows, gone ones marked.
    connect(m_doc, &CPsvigilDoc::UpdateAllViews, this, &CAlertCenter::OnMerged,
            Qt::DirectConnection);
}

CAlertCenter::~CAlertCenter() = default;

void CAlertCenter::LoadRules(const QString& path)
{
    m_path = path;
    AlertRules read;
    std::string error;
    m_problems.clear();
    if (!LoadAlertRulesFile(path.toStdString(), read, error))
        m_problems << tr("%1: %2").arg(path, QString::fromStdString(error));
    for (const std::string& problem : read.Problems)
        m_problems << QString::fromStdString(problem);
    m_rules = std::move(read.Rules);
    Rebuild(m_address);
}

bool CAlertCenter::ReplaceHostRules(const QString& oldAddress, const std::vector<AlertRule>& rules,
                                    QString* error)
{
    std::vector<AlertRule> all;
    for (const AlertRule& rule : m_rules)
    {
        if (QString::fromStdString(rule.Host) != oldAddress)
            all.push_back(rule);
    }
    all.insert(all.end(), rules.begin(), rules.end());
    QSaveFile file(m_path);
    const std::string text = FormatAlertRules(all);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit())
    {
        if (error)
            *error = file.errorString();
        return false;
    }
    m_rules = std::move(all);
    Rebuild(m_address);
    return true;
}

void CAlertCenter::Rebuild(const std::string& address)
{
    m_address = address;
    m_evaluator = std::make_unique<CAlertEvaluator>(address, m_rules);
    if (!m_marked.empty())
    {
        m_marked.clear();
        emit MarksChanged();
    }
}

void CAlertCenter::OnMerged()
{
    const HostSettings* host = m_doc->Engine().GetHost();
    if (host == nullptr || m_doc->WatchedHostName().isEmpty())
        return; // an opened watch log: nothing is being watched
    const std::string address(FieldText(host->Address));
    if (!m_evaluator || address != m_address)
        Rebuild(address);
    if (m_evaluator->RuleCount() == 0)
        return;
    std::vector<ProcessSample> samples;
    const auto& table = m_doc->ProcessTable();
    for (int32_t i = 0; i < table.GetSize(); ++i)
    {
        const ProcessRow* row = table.GetAt(i);
        if (row != nullptr && row->State != kRowGone)
            samples.push_back(SampleOf(*row));
    }
    const std::vector<AlertEvent> events = m_evaluator->Feed(samples, std::time(nullptr));
    if (events.empty())
        return;
    QList<CAlertRecord> records;
    const QString hostName = m_doc->WatchedHostName();
    for (const AlertEvent& event : events)
    {
        records.append({QDateTime::fromSecsSinceEpoch(event.Time), hostName,
                        QString::fromStdString(event.Rule), event.Pid,
                        QString::fromStdString(event.Command),
                        QString::fromStdString(event.Detail)});
        m_marked.insert(event.Pid);
    }
    m_model.Add(records);
    m_unseen += static_cast<int>(records.size());
    emit MarksChanged();
    emit UnseenChanged(m_unseen);
    emit AlertsRaised(records);
}

void CAlertCenter::MarkSeen()
{
    if (m_unseen == 0)
        return;
    m_unseen = 0;
    emit UnseenChanged(0);
}

void CAlertCenter::ClearAlerts()
{
    m_model.Clear();
    m_marked.clear();
    MarkSeen();
    emit MarksChanged();
}
