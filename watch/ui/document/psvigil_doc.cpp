// The document: the host list, the process table on display and the one watch engine.
#include "watch/ui/document/psvigil_doc.h"

#include "watch/engine/session_choice.h"
#include "watch/engine/thread_lock.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/files/watch_log.h"

#ifdef VIGIL_HAVE_WATCH_DIALOG
#include "watch/ui/dialogs/host_list_dialog.h"
#endif

#include <QFile>
#include <QFileInfo>

#include <memory>

namespace
{
std::string LocalPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

CPsvigilDoc::WatchDialogRunner DefaultWatchDialog()
{
#ifdef VIGIL_HAVE_WATCH_DIALOG
    return [](QWidget* parent, COwningPtrArray<HostSettings>& hosts) -> int32_t
    {
        CWatchDlg dialog(hosts, parent);
        if (dialog.exec() != QDialog::Accepted)
            return CPsvigilDoc::kWatchCancelled;
        return dialog.GetSelectedIndex();
    };
#else
    return [](QWidget*, COwningPtrArray<HostSettings>&) -> int32_t
    { return CPsvigilDoc::kWatchCancelled; };
#endif
}
} // namespace

CPsvigilDoc::CPsvigilDoc(QObject* parent)
    : QObject(parent), m_configPath(kConfigFileName), m_runWatchDialog(DefaultWatchDialog())
{
}

// The engine (declared after both arrays) is destroyed first, so its worker has stopped
// before the host record it watches goes away.
CPsvigilDoc::~CPsvigilDoc() = default;

QString CPsvigilDoc::Title() const
{
    return m_pathName.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(m_pathName).fileName();
}

void CPsvigilDoc::SetPathName(const QString& pathName)
{
    if (pathName == m_pathName)
        return;
    m_pathName = pathName;
    emit PathNameChanged(m_pathName);
}

void CPsvigilDoc::LoadHostList()
{
    ReadHostListFile(m_configPath, m_hostList);
}

void CPsvigilDoc::EnsureHostListLoaded()
{
    if (m_hostListLoaded)
        return;
    LoadHostList();
    m_hostListLoaded = 1;
}

void CPsvigilDoc::ClearProcessTable()
{
    m_processTable.RemoveAll();
    m_pidIndex.clear();
    emit TableCleared();
}

void CPsvigilDoc::SetWatchedHost(const HostSettings* host)
{
    std::string key;
    QString name, transport;
    if (host != nullptr)
    {
        std::string_view address = FieldText(host->Address);
        if (address.substr(0, kSecureShellScheme.size()) == kSecureShellScheme)
            address.remove_prefix(kSecureShellScheme.size());
        const std::string_view user = FieldText(host->Username);
        name = QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size()));
        if (!user.empty())
            name = QString::fromUtf8(user.data(), static_cast<qsizetype>(user.size())) + '@' + name;
        transport =
            ChooseSession(*host).SecureShell ? QStringLiteral("SSH") : QStringLiteral("telnet");
        key = std::string(FieldText(host->Address)) + '\n' + std::string(user) + '\n' +
              std::to_string(host->Port);
    }
    // Another host's rows must never pass for this one's: the table starts empty.
    if (key != m_watchedKey || host == nullptr)
    {
        if (host != nullptr)
            m_engine.ClearTable(); // nothing of the last host is merged after this
        ClearProcessTable();
    }
    m_watchedKey = key;
    m_watchedName = name;
    m_watchedTransport = transport;
    emit WatchedHostChanged();
}

void CPsvigilDoc::OnRefreshResult(intptr_t result)
{
    if (result == kRefreshNoConnection || result == kRefreshPsFailed)
        emit RefreshFailed();
}

bool CPsvigilDoc::NewDocument()
{
    m_engine.ClearTable();
    if (m_hostListLoaded)
        SetWatchedHost(nullptr); // empties the table outright
    else
        LoadHostList();
    m_hostListLoaded = 1;
    SetPathName(QString());
    emit InitialUpdate();
    return true;
}

bool CPsvigilDoc::OpenDocument(const QString& path, QString* error)
{
    // Started with a watch log, the host list must still come from psvigil.cfg, or the next
    // OK in the Watch dialog would overwrite the stored hosts with an empty list.
    EnsureHostListLoaded();
    // Held for the whole load, so a running watch cannot swap the snapshot between rows.
    CAutoLock lock(m_engine.GetLock());
    m_engine.ClearTable();
    int32_t rowsRead = 0;
    std::string message;
    // Every row is read first and merged once at the end: merging after each row cost a walk
    // of the whole table per row and a view update per row, for the same rows in file order.
    const bool ok = LoadWatchLogFile(
        LocalPath(path),
        [this, &rowsRead](std::unique_ptr<ProcessRow> row)
        {
            m_engine.GetSnapshot().Add(row.release());
            ++rowsRead;
        },
        &message);
    // Rows read before a failure stay; a log without rows still replaces what was on display.
    if (ok || rowsRead > 0)
    {
        // The log replaces what was on display; its rows are not news.
        SetWatchedHost(nullptr);
        Merge(true);
    }
    if (!ok)
    {
        if (error)
            *error = QString::fromUtf8(message.c_str());
        return false;
    }
    SetPathName(path);
    emit InitialUpdate();
    return true;
}

bool CPsvigilDoc::SaveDocument(const QString& path, QString* error)
{
    std::string message;
    if (!SaveWatchLogFile(LocalPath(path), m_processTable, &message))
    {
        if (error)
            *error = QString::fromUtf8(message.c_str());
        return false;
    }
    SetPathName(path);
    return true;
}

void CPsvigilDoc::RebuildPidIndex()
{
    m_pidIndex.clear();
    m_pidIndex.reserve(static_cast<std::size_t>(m_processTable.GetSize()));
    for (int32_t i = 0; i < m_processTable.GetSize(); ++i)
        m_pidIndex.emplace(m_processTable.GetAt(i)->Pid, i); // the first row keeps the key
}

void CPsvigilDoc::MergeSnapshot()
{
    Merge(false);
}

void CPsvigilDoc::Merge(bool fileOrder)
{
    CAutoLock lock(m_engine.GetLock());
    const COwningPtrArray<ProcessRow>& snapshot = m_engine.GetSnapshot();

    for (int32_t i = 0; i < m_processTable.GetSize(); ++i)
        m_processTable.GetAt(i)->State = kRowGone;

    for (int32_t i = 0; i < snapshot.GetSize(); ++i)
    {
        const ProcessRow& source = *snapshot.GetAt(i);
        ProcessRow* target = FindRowByPid(source.Pid);
        // Merged row by row, a log's first row would have removed every other old row; so
        // only the first row may take an old row's place, the others come after it anew.
        if (fileOrder && i > 0 && target && target->State == kRowGone)
            target = nullptr;
        if (target)
        {
            // A Pid seen twice in one snapshot: a row added by this merge stays new, or no
            // view would ever show it.
            const bool added = target->State == kRowNew;
            *target = source;
            target->State = added ? kRowNew : kRowUpdated;
            continue;
        }
        auto row = std::make_unique<ProcessRow>(source);
        row->State = kRowNew;
        const int32_t index = m_processTable.Add(row.release());
        // The new row, not an old one left behind as gone, answers for the Pid from now on.
        m_pidIndex.insert_or_assign(source.Pid, index);
    }

    // The views see gone rows still in the table and new rows still marked new.
    emit UpdateAllViews();

    const int32_t before = m_processTable.GetSize();
    m_processTable.RemoveWhere([](const ProcessRow& row) { return row.State == kRowGone; });
    if (m_processTable.GetSize() != before)
        RebuildPidIndex();
}

ProcessRow* CPsvigilDoc::FindRowByPid(int32_t pid) const
{
    const auto it = m_pidIndex.find(pid);
    if (it == m_pidIndex.end())
        return nullptr;
    ProcessRow* row = m_processTable.GetAt(it->second);
    return (row && row->Pid == pid) ? row : nullptr;
}

bool CPsvigilDoc::StartWatch(int32_t index)
{
    HostSettings* host = m_hostList.GetAt(index);
    if (!host)
        return false; // OK with an empty list: nothing to watch
    SetWatchedHost(host);
    m_engine.SetNotifySink(m_notifySink);
    m_engine.SetHost(host);
    m_engine.Start();
    return true;
}

bool CPsvigilDoc::OnHostWatch(QWidget* parent)
{
    EnsureHostListLoaded();
    const int32_t index = m_runWatchDialog ? m_runWatchDialog(parent, m_hostList) : kWatchCancelled;
    if (index == kWatchCancelled)
        return false;
    // A file that cannot be written is passed over in silence; the watch starts anyway.
    WriteHostListFile(m_configPath, m_hostList);
    return StartWatch(index);
}

bool CPsvigilDoc::OnQuickPick(int index)
{
    if (index < 0 || index >= kQuickPickCount)
        return false;
    EnsureHostListLoaded();
    return StartWatch(index);
}

void CPsvigilDoc::OnHostStop()
{
    m_engine.Stop();
}

void CPsvigilDoc::OnHostRefresh()
{
    // Start on a running worker only sets its refresh event; the frame offers F5 only while a
    // run is active.
    if (m_engine.GetHost() != nullptr)
        m_engine.Start();
}
