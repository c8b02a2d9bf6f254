// Watches every host of a list at once: an engine per host, a scheduler that starts refreshes.
#include "watch/cli/host_pool.h"

#include "watch/engine/notify_sink.h"

#include <algorithm>
#include <map>
#include <system_error>

struct CHostPool::Entry
{
    HostSettings Listed;  // as the list holds it
    HostSettings Watched; // the engine's copy: it rewrites Command, and the pool keeps time
    std::string Name;
    std::unique_ptr<CSink> Sink;
    std::unique_ptr<CWatchEngine> Engine;
    HostResult Latest;
    std::vector<ProcessRow> Pending; // the table of the refresh in flight
    Clock::time_point Due;
    Clock::time_point StartedAt;
    bool Busy = false;
    bool Queued = false;
    bool SessionOpen = false; // the last refresh worked and left its session open
    bool LoggingIn = false;   // the refresh in flight opens a session
    bool Finished = false;    // once mode
};

// Hands one engine's notifications to the pool, tagged with the host; runs on its worker.
class CHostPool::CSink final : public IWatchNotifySink
{
  public:
    CSink(CHostPool& pool, std::size_t index) : m_pool(pool), m_index(index) {}
    void PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam) override
    {
        m_pool.OnNotify(m_index, message, wParam, lParam);
    }
    CWatchEngine* Engine = nullptr; // outlives every call: the engine joins its worker first

  private:
    CHostPool& m_pool;
    std::size_t m_index;
};

CHostPool::CHostPool(std::vector<HostSettings> hosts, Options options) : m_options(options)
{
    m_options.Jobs = std::max(1, m_options.Jobs);
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < hosts.size(); ++i)
    {
        auto entry = std::make_unique<Entry>();
        entry->Listed = hosts[i];
        entry->Watched = hosts[i];
        // The engine never refreshes by itself: the pool starts every refresh on its tick.
        entry->Watched.RefreshSeconds = kRefreshMax;
        entry->Watched.ManualRefresh = m_options.Once ? 1 : 0;
        const std::string address(FieldText(hosts[i].Address));
        const int count = ++seen[address];
        entry->Name = count == 1 ? address : address + "#" + std::to_string(count);
        entry->Sink = std::make_unique<CSink>(*this, i);
        entry->Engine = std::make_unique<CWatchEngine>();
        entry->Sink->Engine = entry->Engine.get();
        entry->Engine->SetHost(&entry->Watched);
        entry->Engine->SetNotifySink(entry->Sink.get());
        m_hosts.push_back(std::move(entry));
    }
}

CHostPool::~CHostPool()
{
    Stop();
}

const std::string& CHostPool::Name(std::size_t index) const
{
    return m_hosts[index]->Name;
}

const HostSettings& CHostPool::Host(std::size_t index) const
{
    return m_hosts[index]->Listed;
}

void CHostPool::Start()
{
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto& entry : m_hosts)
            entry->Due = now;
    }
    m_scheduler = std::thread([this] { Schedule(); });
}

void CHostPool::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_changed.notify_all();
    m_eventReady.notify_all();
    if (m_scheduler.joinable())
        m_scheduler.join();
    // All are told first, so idle workers end together; each destructor then ends a connect or
    // a read in flight at once and joins its worker. The destructors run side by side: one at a
    // time, a round of refreshes in flight would end one after another.
    for (auto& entry : m_hosts)
        entry->Engine->Stop();
    const std::size_t slices = std::min<std::size_t>(m_hosts.size(), kStopThreads);
    const auto endSlice = [this, slices](std::size_t first)
    {
        for (std::size_t i = first; i < m_hosts.size(); i += slices)
            m_hosts[i]->Engine.reset();
    };
    std::vector<std::thread> enders;
    std::size_t started = 0;
    try
    {
        for (; started < slices; ++started)
            enders.emplace_back(endSlice, started);
    }
    catch (const std::system_error&)
    {
        // No thread to spare: the slices left end here.
    }
    for (std::size_t first = started; first < slices; ++first)
        endSlice(first);
    for (std::thread& ender : enders)
        ender.join();
}

int CHostPool::BackoffSeconds(int intervalSeconds, int failures)
{
    const int factor =
        failures <= 1 ? 1 : std::min(1 << std::min(failures - 1, 3), kMaxBackoffIntervals);
    return std::max(intervalSeconds, 1) * factor;
}

void CHostPool::Schedule()
{
    std::deque<std::size_t> ready; // due hosts waiting for a free job, first come first served
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping)
    {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + std::chrono::seconds(1);
        for (std::size_t i = 0; i < m_hosts.size(); ++i)
        {
            Entry& entry = *m_hosts[i];
            if (entry.Busy || entry.Queued || entry.Finished)
                continue;
            if (entry.Due <= now)
            {
                entry.Queued = true;
                ready.push_back(i);
            }
            else
                next = std::min(next, entry.Due);
        }
        // Hosts with a session open go at once; the others wait their turn for a login.
        for (auto it = ready.begin(); it != ready.end();)
        {
            Entry& entry = *m_hosts[*it];
            if (!entry.SessionOpen && m_logins >= m_options.Jobs)
            {
                ++it;
                continue;
            }
            it = ready.erase(it);
            entry.Queued = false;
            entry.Busy = true;
            entry.LoggingIn = !entry.SessionOpen;
            m_logins += entry.LoggingIn ? 1 : 0;
            entry.StartedAt = Clock::now();
            entry.Engine->Start();
        }
        m_changed.wait_until(lock, next);
    }
}

void CHostPool::OnNotify(std::size_t index, uint32_t message, intptr_t wParam, intptr_t lParam)
{
    Entry& entry = *m_hosts[index];
    CWatchEngine& engine = *entry.Sink->Engine;
    if (message == WM_WATCH_TABLE)
    {
        std::vector<ProcessRow> rows;
        {
            CAutoLock lock(engine.GetLock());
            const auto& snapshot = engine.GetSnapshot();
            rows.reserve(static_cast<std::size_t>(snapshot.GetSize()));
            for (int32_t i = 0; i < snapshot.GetSize(); ++i)
                rows.push_back(*snapshot.GetAt(i));
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        entry.Pending = std::move(rows);
        return;
    }
    if (message != WM_WATCH_STATUS || wParam != kStatusRefreshed)
        return;
    const std::string failure = lParam == kRefreshOk ? std::string() : engine.GetLastFailure();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const Clock::time_point now = Clock::now();
        HostResult& result = entry.Latest;
        result.Done = true;
        result.Result = static_cast<int>(lParam);
        result.Failure = failure;
        result.DurationSeconds = std::chrono::duration<double>(now - entry.StartedAt).count();
        result.TimestampSeconds =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const int interval = std::clamp(entry.Listed.RefreshSeconds, kRefreshMin, kRefreshMax);
        if (lParam == kRefreshOk)
        {
            result.Rows = std::move(entry.Pending);
            result.Failures = 0;
            result.RetrySeconds = 0;
            // The next tick of the host's own rhythm; ticks a long refresh overran are skipped.
            do
                entry.Due += std::chrono::seconds(interval);
            while (entry.Due <= now);
        }
        else
        {
            ++result.Failures;
            result.RetrySeconds = BackoffSeconds(interval, result.Failures);
            entry.Due = now + std::chrono::seconds(result.RetrySeconds);
        }
        entry.Pending.clear();
        entry.Busy = false;
        entry.Finished = m_options.Once;
        // A failed refresh closes its session; one that worked keeps it when the host says so.
        entry.SessionOpen = lParam == kRefreshOk && entry.Listed.KeepConnectionOpen != 0;
        m_logins -= entry.LoggingIn ? 1 : 0;
        entry.LoggingIn = false;
        if (m_options.Events)
        {
            // A reader that falls behind (its output blocked) finds each host's latest refresh,
            // never a queue that grows with every round.
            const auto queued = std::find_if(m_events.begin(), m_events.end(),
                                             [&](const HostEvent& e) { return e.Index == index; });
            if (queued != m_events.end())
                queued->Result = result;
            else
                m_events.push_back({index, result});
        }
    }
    m_changed.notify_all();
    m_eventReady.notify_all();
}

void CHostPool::ForEachLatest(const std::function<void(std::size_t, const HostResult&)>& fn) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (std::size_t i = 0; i < m_hosts.size(); ++i)
        fn(i, m_hosts[i]->Latest);
}

bool CHostPool::NextEvent(HostEvent& event, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_eventReady.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return !m_events.empty() || m_stopping; }) ||
        m_events.empty())
        return false;
    event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

bool CHostPool::AllDone() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return std::all_of(m_hosts.begin(), m_hosts.end(),
                       [](const auto& entry) { return entry->Finished; });
}
