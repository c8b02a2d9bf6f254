// The document: the host list, the process table on display and the one watch engine.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/notify_sink.h"
#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"
#include "watch/engine/watch_engine.h"

#include <QObject>
#include <QString>

#include <cstdint>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

class QWidget;

class CPsvigilDoc : public QObject
{
    Q_OBJECT
  public:
    // Host quick-pick commands: id 104 + host index; only the first nine have a handler.
    static constexpr int kQuickPickFirstId = 104;
    static constexpr int kQuickPickLastId = 112;
    static constexpr int kQuickPickCount = kQuickPickLastId - kQuickPickFirstId + 1;
    static bool HasQuickPickHandler(int commandId)
    {
        return commandId >= kQuickPickFirstId && commandId <= kQuickPickLastId;
    }

    // Runs the "Watch" dialog on the host list (which it may change in place) and returns the
    // index chosen with OK (-1 when the list was empty), or kWatchCancelled.
    static constexpr int32_t kWatchCancelled = -2;
    using WatchDialogRunner =
        std::function<int32_t(QWidget* parent, COwningPtrArray<HostSettings>& hosts)>;

    explicit CPsvigilDoc(QObject* parent = nullptr);
    ~CPsvigilDoc() override;

    // File > New, and the first document at start-up: clears the snapshot; the first time it
    // loads the host list from psvigil.cfg, later times it empties the process table.
    // Emits InitialUpdate afterwards.
    bool NewDocument();
    // Loads a watch log: reads every row, then merges them once. On failure error gets the
    // message to show ("Unexpected file format." for a file that ends early) and the rows read
    // before the failure stay. Emits InitialUpdate on success.
    bool OpenDocument(const QString& path, QString* error);
    // Writes the process table as a watch log. On failure error gets "Failed to save document.".
    bool SaveDocument(const QString& path, QString* error);
    // The file of the document; empty while it is untitled.
    const QString& PathName() const { return m_pathName; }
    // "Untitled" or the file's name without its directory.
    QString Title() const;

    // Merges the engine's snapshot into the process table by Pid: rows marked gone, matched
    // rows updated, unmatched snapshot rows appended as new; UpdateAllViews is emitted while
    // gone rows are still in the table; then gone rows are deleted. Under the engine's lock.
    void MergeSnapshot();

    // The first process-table row with this Pid, or null.
    ProcessRow* FindRowByPid(int32_t pid) const;

    // Read-only, so the Pid index stays in step; views may still set a row's State.
    const COwningPtrArray<ProcessRow>& ProcessTable() const { return m_processTable; }
    COwningPtrArray<HostSettings>& HostList() { return m_hostList; }
    const COwningPtrArray<HostSettings>& HostList() const { return m_hostList; }
    CWatchEngine& Engine() { return m_engine; }
    int32_t LogMarker() const { return m_logMarker; }

    // The host list is read from psvigil.cfg once per run, by the first New, or by whatever
    // needs it first when the run started with a watch log.
    bool IsHostListLoaded() const { return m_hostListLoaded != 0; }
    void EnsureHostListLoaded();

    // Where psvigil.cfg lives; the current directory's by default.
    void SetConfigPath(std::string path) { m_configPath = std::move(path); }
    const std::string& ConfigPath() const { return m_configPath; }

    // The sink that receives the engine's notifications (the main frame's); handed to the
    // engine before every start.
    void SetNotifySink(IWatchNotifySink* sink) { m_notifySink = sink; }
    // Tests replace the modal dialog.
    void SetWatchDialogRunner(WatchDialogRunner runner) { m_runWatchDialog = std::move(runner); }

    // Host > Watch: runs the dialog; on OK writes psvigil.cfg, then starts watching the chosen
    // host (an empty list writes the file and starts nothing). Returns true when a watch was
    // started.
    bool OnHostWatch(QWidget* parent);
    // Quick-pick: watch host index (command id - 104) without the dialog and without writing
    // psvigil.cfg. Indexes from 9 on have no handler. Returns true when a watch was started.
    bool OnQuickPick(int index);
    // Host > Stop.
    void OnHostStop();
    // F5: the watch refreshes at once; without a watched host nothing happens.
    void OnHostRefresh();
    // The result of a refresh (0 ok, 1 cannot connect, 2 ps failed): after a failure the rows
    // on display are stale until the next merge.
    void OnRefreshResult(intptr_t result);

    // The host whose processes are on display ("alice@db1", "db1" without a user) and how it
    // is reached ("telnet", "SSH"); empty while the table shows no host (new or opened log).
    QString WatchedHostName() const { return m_watchedName; }
    QString WatchedTransport() const { return m_watchedTransport; }
    // Empties the process table at once, without marking rows gone (TableCleared).
    void ClearProcessTable();

  signals:
    // The views must bring themselves in step with the process table (direct connection:
    // emitted under the engine's lock in the middle of a merge).
    void UpdateAllViews();
    // A new or opened document is in place; the views run their initial update.
    void InitialUpdate();
    void PathNameChanged(const QString& pathName);
    // The table was emptied outright: the views drop every line, marks included.
    void TableCleared();
    // A refresh failed; the lines on display are what the host last told.
    void RefreshFailed();
    // Another host's processes are about to be shown (or none, after New and Open).
    void WatchedHostChanged();

  private:
    void LoadHostList();
    // The merge; fileOrder gives the table a loaded log's rows in file order, as if each row
    // had been merged right after its reading.
    void Merge(bool fileOrder);
    bool StartWatch(int32_t index);
    void SetPathName(const QString& pathName);
    void RebuildPidIndex();
    void SetWatchedHost(const HostSettings* host);

    // Members in the order the document has always kept them.
    COwningPtrArray<ProcessRow> m_processTable;
    COwningPtrArray<HostSettings> m_hostList;
    CWatchEngine m_engine;
    int32_t m_logMarker = 100;
    int32_t m_hostListLoaded = 0;

    // Pid -> index of the first process-table row with it, kept in step with the table so
    // merges, cell texts and sorting need no walk of the table.
    std::unordered_map<int32_t, int32_t> m_pidIndex;
    std::string m_configPath;
    QString m_pathName;
    // Who the table shows: "user@address:port" of the watched host, else empty.
    std::string m_watchedKey;
    QString m_watchedName;
    QString m_watchedTransport;
    IWatchNotifySink* m_notifySink = nullptr;
    WatchDialogRunner m_runWatchDialog;
};
