// Watches every host of a list at once: one watch engine per host, refreshes started on each
// host's own interval, at most a given number of logins at a time, a host that is down retried
// later and later (up to eight intervals).
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/process_row.h"
#include "watch/engine/watch_engine.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The latest refresh of one host.
struct HostResult
{
    bool Done = false; // a refresh has ended
    int Result = -1;   // kRefreshOk, kRefreshNoConnection or kRefreshPsFailed
    std::string Failure;
    double DurationSeconds = 0;
    double TimestampSeconds = 0;  // wall clock at its end
    std::vector<ProcessRow> Rows; // of the last refresh that worked
    int Failures = 0;             // failed refreshes in a row
    int RetrySeconds = 0;         // the back-off now in force, 0 when none
};

struct HostEvent
{
    std::size_t Index = 0;
    HostResult Result;
};

class CHostPool
{
  public:
    struct Options
    {
        // Logins (connect, key exchange, password) at a time. A refresh of a session kept open
        // costs the host a command and this process an idle wait, so it never queues behind
        // them: a round of hosts whose replies each take a second stays a second long.
        int Jobs = 32;
        bool Once = false;  // one refresh per host, then nothing
        bool Events = true; // keep a queue of results for NextEvent
    };
    static constexpr int kMaxBackoffIntervals = 8;
    static constexpr std::size_t kStopThreads = 32; // end the sessions side by side

    CHostPool(std::vector<HostSettings> hosts, Options options);
    // Ends every session (a connect or a read in flight included) before it returns.
    ~CHostPool();

    void Start();
    void Stop();

    std::size_t Size() const { return m_hosts.size(); }
    // The host's name in output and labels: its address, or "This computer"'s address; a
    // name listed twice gets "#2", "#3"... so every series stays its own.
    const std::string& Name(std::size_t index) const;
    const HostSettings& Host(std::size_t index) const;

    // Runs fn on every host's latest result, under the pool's lock (keep it short).
    void ForEachLatest(const std::function<void(std::size_t, const HostResult&)>& fn) const;
    // The next finished refresh (only the latest of a host whose earlier one was not taken
    // yet), or false after timeoutMs without one.
    bool NextEvent(HostEvent& event, int timeoutMs);
    // Once mode: every host has had its refresh.
    bool AllDone() const;

    // The delay before host retries after failures refreshes failed in a row.
    static int BackoffSeconds(int intervalSeconds, int failures);

  private:
    struct Entry;
    class CSink;
    using Clock = std::chrono::steady_clock;

    void Schedule();
    void OnNotify(std::size_t index, uint32_t message, intptr_t wParam, intptr_t lParam);

    std::vector<std::unique_ptr<Entry>> m_hosts;
    Options m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::condition_variable m_eventReady;
    std::deque<HostEvent> m_events;
    int m_logins = 0; // refreshes in flight that open a session
    bool m_stopping = false;
    std::thread m_scheduler;
};
