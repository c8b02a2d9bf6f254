// Watches one remote host: a worker logs in, runs ps, parses, counts down and refreshes.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/manual_reset_event.h"
#include "watch/engine/notify_sink.h"
#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"
#include "watch/engine/thread_lock.h"
#include "watch/engine/worker_thread.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/com/hresult.h"

struct IlvTelnet;

// What one queued command got from the host.
struct CommandReply
{
    bool Ran = false;    // the host ran it: Output holds its reply
    std::string Output;  // the reply as the session gives it (echo, output, prompt)
    std::string Failure; // why it did not run
};

class CWatchEngine : public CWorkerThread
{
  public:
    // Told once what became of a queued command: on the worker, or at once on the caller's
    // thread when no watch runs.
    using CommandDone = std::function<void(const CommandReply&)>;

    // Creates the session component for one run of the given host (one reference, released by
    // the engine). On failure it returns the failure and may leave a reason in *reason.
    using TelnetFactory =
        std::function<HRESULT(const HostSettings* host, IlvTelnet** telnet, std::string* reason)>;
    // The default: lvTelnet through the component runtime.
    static HRESULT CreateTelnetThroughRuntime(const HostSettings* host, IlvTelnet** telnet,
                                              std::string* reason);

    CWatchEngine();
    // Stops a running worker and waits for it, so nothing outlives the engine.
    ~CWatchEngine() override;

    void Run() override;
    // One refresh: 0 success, 1 cannot connect, 2 ps command failed.
    virtual int Refresh();

    // Called on the user-interface thread.
    void SetHost(HostSettings* host);
    HostSettings* GetHost() const { return m_host; }
    void SetNotifySink(IWatchNotifySink* sink) { m_sink.store(sink); }
    void Start();
    void Stop();
    void ClearTable();
    // Runs a command line on the watch's own session, between two refreshes: the worker runs
    // it when it next wakes and refreshes at once after it. Refused (done told so at once) when
    // no watch runs; a watch that ends first tells done that the command did not run.
    void QueueCommand(std::string commandLine, CommandDone done);

    // Replaces the snapshot with the rows in text (split in place), then posts WM_WATCH_TABLE.
    void ParseOutput(char* text, int32_t length);

    // The snapshot list; hold GetLock() while touching it.
    CThreadLock& GetLock() { return m_lock; }
    COwningPtrArray<ProcessRow>& GetSnapshot() { return m_snapshot; }

    // Why the last refresh could not connect or run ps (empty after a refresh that worked);
    // safe to call from any thread.
    std::string GetLastFailure() const;

    // Tests replace the component and shorten the one-second tick.
    void SetTelnetFactory(TelnetFactory factory) { m_factory = std::move(factory); }
    void SetTickMilliseconds(int ms) { m_tickMs = ms; }

  protected:
    // Runs on the worker; each returns as the watch cycle defines.
    int OpenConnection();
    void CloseConnection();
    void Post(uint32_t message, intptr_t wParam, intptr_t lParam);
    void SetLastFailure(std::string reason);
    // The description of the session component's error object for the call just failed, or
    // fallback when it left none.
    std::string ComponentFailure(const char* fallback) const;

  private:
    struct QueuedCommand
    {
        std::string Line;
        CommandDone Done;
    };
    // Worker side of QueueCommand.
    void RunQueuedCommands();
    CommandReply ExecuteCommand(const std::string& line);
    bool HasQueuedCommands();
    // True when commands wait; otherwise stops taking them, as the run is about to end.
    bool EndUnlessCommandsWait();
    // Stops taking commands and tells those still waiting that they did not run.
    void RefuseQueuedCommands(const char* why);

    COwningPtrArray<ProcessRow> m_snapshot;
    CThreadLock m_lock;
    IlvTelnet* m_telnet = nullptr;
    CManualResetEvent m_stopEvent;
    CManualResetEvent m_refreshEvent;
    HostSettings* m_host = nullptr;
    std::atomic<IWatchNotifySink*> m_sink{nullptr};
    std::atomic<bool> m_closing{false}; // the engine is being destroyed: end any run at once
    TelnetFactory m_factory;
    HRESULT m_createResult = S_OK; // the factory's answer for this run
    std::string m_createReason;
    mutable std::mutex m_failureMutex;
    std::string m_lastFailure;
    int m_tickMs = 1000;
    // Readable once the engine is being destroyed; handed to components that can end a connect
    // or a read in flight on it.
    int m_cancelFd = -1;
    // Readable from Stop until the next run begins; ends a local ps at once (the destructor
    // stops too).
    int m_stopFd = -1;
    std::mutex m_commandMutex;
    std::deque<QueuedCommand> m_commands; // guarded by m_commandMutex
    bool m_takingCommands = false;        // a run is starting or running; m_commandMutex
};
