// Manual-reset events on one shared mutex and condition, so a wait can watch two at once.
#include "watch/engine/manual_reset_event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace
{
// Events are few and rarely signalled; one mutex for all keeps the two-event wait simple.
std::mutex& EventMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& EventChanged()
{
    static std::condition_variable changed;
    return changed;
}
} // namespace

void CManualResetEvent::Set()
{
    {
        std::lock_guard<std::mutex> guard(EventMutex());
        m_signalled = true;
    }
    EventChanged().notify_all();
}

void CManualResetEvent::Reset()
{
    std::lock_guard<std::mutex> guard(EventMutex());
    m_signalled = false;
}

bool CManualResetEvent::IsSet() const
{
    std::lock_guard<std::mutex> guard(EventMutex());
    return m_signalled;
}

int WaitForEither(CManualResetEvent& first, CManualResetEvent& second, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(EventMutex());
    const bool signalled =
        EventChanged().wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return first.m_signalled || second.m_signalled; });
    if (!signalled)
        return -1;
    return first.m_signalled ? 0 : 1;
}
