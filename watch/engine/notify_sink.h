// Where the watch engine posts its notifications (the main window in the application).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_WATCH_TABLE = WM_USER + 15;
constexpr uint32_t WM_WATCH_STATUS = WM_USER + 16;

// WM_WATCH_STATUS codes (wParam).
constexpr intptr_t kStatusRefreshed = 3; // lParam: 0 success, 1 cannot connect, 2 ps failed
constexpr intptr_t kStatusRunBegins = 4;
constexpr intptr_t kStatusRunEnds = 5;
constexpr intptr_t kStatusCountdown = 6; // lParam: seconds left

constexpr intptr_t kRefreshOk = 0;
constexpr intptr_t kRefreshNoConnection = 1;
constexpr intptr_t kRefreshPsFailed = 2;

// Posting never waits for the receiver: implementations queue the event and return. Events
// must reach the receiver in posting order.
class IWatchNotifySink
{
  public:
    virtual void PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam) = 0;

  protected:
    ~IWatchNotifySink() = default;
};

struct WatchNotification
{
    uint32_t Message;
    intptr_t WParam;
    intptr_t LParam;
    bool operator==(const WatchNotification&) const = default;
};

// Keeps every notification, for tests and the command-line companion.
class CRecordingNotifySink : public IWatchNotifySink
{
  public:
    void PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.push_back({message, wParam, lParam});
    }
    std::vector<WatchNotification> Events() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<WatchNotification> m_events;
};
