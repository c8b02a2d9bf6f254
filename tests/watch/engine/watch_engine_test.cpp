// The watch cycle against a scripted telnet component: call sequences, notifications, threads.
#include "watch/engine/watch_engine.h"

#include "fake_telnet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace
{
const std::string kReply = "ps auxw \r\nUSER PID %CPU %MEM VSZ RSS TT STAT STARTED TIME COMMAND\r\n"
                           "alice 4711 0.0 0.3 1520 980 p1 S 10:02AM 0:00.05 vi notes.txt\r\n$ ";

const WatchNotification kRunBegins{WM_WATCH_STATUS, kStatusRunBegins, 0};
const WatchNotification kRunEnds{WM_WATCH_STATUS, kStatusRunEnds, 0};
const WatchNotification kTable{WM_WATCH_TABLE, 0, 0};
WatchNotification Refreshed(intptr_t result)
{
    return {WM_WATCH_STATUS, kStatusRefreshed, result};
}

class WatchEngineTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        SetAddress(m_host, "host.example");
        SetUsername(m_host, "alice");
        SetPassword(m_host, "secret");
        m_host.Port = 2323;
        MakeEngine();
    }

    void MakeEngine()
    {
        m_engine = std::make_unique<CWatchEngine>();
        m_engine->SetTickMilliseconds(20);
        m_engine->SetHost(&m_host);
        m_engine->SetNotifySink(&m_sink);
        m_engine->SetTelnetFactory(
            [this](const HostSettings*, IlvTelnet** telnet, std::string*)
            {
                *telnet = new CFakeTelnet(m_script, m_calls, m_callsMutex);
                return S_OK;
            });
    }

    // Waits (bounded) until pred holds for the notifications so far.
    bool WaitFor(const std::function<bool(const std::vector<WatchNotification>&)>& pred,
                 std::chrono::milliseconds limit = 5000ms)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until)
        {
            if (pred(m_sink.Events()))
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    static std::size_t Count(const std::vector<WatchNotification>& events,
                             const WatchNotification& which)
    {
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), which));
    }

    bool WaitForRunEnds(std::size_t times = 1)
    {
        return WaitFor([&](const auto& e) { return Count(e, kRunEnds) >= times; });
    }

    // The worker still closes and releases the component after it posts status 5.
    bool WaitForReleased(std::size_t times = 1)
    {
        return WaitFor(
            [&](const auto&)
            {
                const auto calls = Calls();
                return static_cast<std::size_t>(
                           std::count(calls.begin(), calls.end(), "Release")) >= times;
            });
    }

    void ClearCalls()
    {
        std::lock_guard<std::mutex> guard(m_callsMutex);
        m_calls.clear();
    }

    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> guard(m_callsMutex);
        return m_calls;
    }

    std::vector<std::string> LoginCalls() const
    {
        return {"IsConnected",        "put_Address:host.example",
                "put_Username:alice", "put_Password:secret",
                "put_Port:2323",      "Connect"};
    }

    HostSettings m_host;
    CRecordingNotifySink m_sink;
    CFakeTelnet::Script m_script{.Reply = kReply};
    std::vector<std::string> m_calls;
    std::mutex m_callsMutex;
    std::unique_ptr<CWatchEngine> m_engine;
};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
} // namespace

TEST_F(WatchEngineTest, ManualModeRunsOneCompleteCycle)
{
    m_host.ManualRefresh = 1;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    m_engine.reset(); // joins the worker
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, kTable, Refreshed(0), kRunEnds}));
    EXPECT_EQ(Calls(),
              Concat({LoginCalls(), {"Execute:ps auxw ", "GetOutput", "Disconnect", "Release"}}));
    EXPECT_STREQ(m_host.Command, "ps auxw ");
}

TEST_F(WatchEngineTest, ParsedRowsReachTheSnapshot)
{
    m_host.ManualRefresh = 1;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    CAutoLock lock(m_engine->GetLock());
    ASSERT_EQ(m_engine->GetSnapshot().GetSize(), 1);
    EXPECT_EQ(m_engine->GetSnapshot().GetAt(0)->Pid, 4711);
}

TEST_F(WatchEngineTest, KeepConnectionOpenLogsInOncePerRun)
{
    m_host.RefreshSeconds = 2;
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) >= 3; }));
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
    m_engine.reset();
    const auto calls = Calls();
    const std::vector<std::string> later = {"IsConnected", "Execute:ps auxw ", "GetOutput"};
    ASSERT_GE(calls.size(), 14u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 14),
              Concat({LoginCalls(), {"Execute:ps auxw ", "GetOutput"}, later, later}));
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"Disconnect", "Release"}));
    // The countdown shows N-1 .. 0 between refreshes.
    const auto events = m_sink.Events();
    EXPECT_EQ(Count(events, {WM_WATCH_STATUS, kStatusCountdown, 1}) >= 2, true);
    EXPECT_EQ(Count(events, {WM_WATCH_STATUS, kStatusCountdown, 0}) >= 2, true);
    EXPECT_EQ(Count(events, {WM_WATCH_STATUS, kStatusCountdown, 2}), 0u);
}

TEST_F(WatchEngineTest, WithoutKeepConnectionOpenEveryRefreshLogsInAndOut)
{
    m_host.KeepConnectionOpen = 0;
    m_host.RefreshSeconds = 1;
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) >= 2; }));
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
    m_engine.reset();
    const auto cycle =
        Concat({LoginCalls(), {"Execute:ps auxw ", "Disconnect", "GetOutput", "Disconnect"}});
    const auto calls = Calls();
    ASSERT_GE(calls.size(), 2 * cycle.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + cycle.size()), cycle);
    EXPECT_EQ(
        std::vector<std::string>(calls.begin() + cycle.size(), calls.begin() + 2 * cycle.size()),
        cycle);
}

TEST_F(WatchEngineTest, FailuresAreReportedAndTheRowsStay)
{
    m_host.ManualRefresh = 1;
    m_script.ConnectResult = E_FAIL;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    ASSERT_TRUE(WaitForReleased());
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, Refreshed(1), kRunEnds}));
    EXPECT_EQ(Calls(), Concat({LoginCalls(), {"Disconnect", "Disconnect", "Release"}}));
    EXPECT_EQ(m_engine->GetLastFailure(), "the host did not accept the connection or the login");

    // The component's own description is kept for the user.
    m_sink.Clear();
    ClearCalls();
    m_script.FailureText = "Login incorrect";
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(m_engine->GetLastFailure(), "Login incorrect");

    m_sink.Clear();
    ClearCalls();
    m_script.ConnectResult = S_OK;
    m_script.ExecuteResult = E_FAIL;
    m_script.FailureText = "the command did not finish within 60 s";
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    ASSERT_TRUE(WaitForReleased());
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, Refreshed(2), kRunEnds}));
    EXPECT_EQ(m_engine->GetLastFailure(), "the command did not finish within 60 s");
    EXPECT_EQ(Calls(),
              Concat({LoginCalls(), {"Execute:ps auxw ", "Disconnect", "Disconnect", "Release"}}));

    // S_FALSE (no prompt seen) counts as success.
    m_sink.Clear();
    ClearCalls();
    m_script.ExecuteResult = S_FALSE;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, kTable, Refreshed(0), kRunEnds}));
    // Unless the host sent nothing at all: it has gone silent.
    m_sink.Clear();
    m_script.Reply.clear();
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, Refreshed(2), kRunEnds}));
    EXPECT_EQ(m_engine->GetLastFailure(), "the host did not answer the command");
}

TEST_F(WatchEngineTest, NoComponentMeansUnableToConnectOnEveryRefresh)
{
    m_engine->SetTelnetFactory(
        [](const HostSettings*, IlvTelnet** telnet, std::string* reason)
        {
            *telnet = nullptr;
            *reason = "not registered";
            return REGDB_E_CLASSNOTREG;
        });
    m_host.RefreshSeconds = 1;
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(1)) >= 2; }));
    EXPECT_EQ(m_engine->GetLastFailure(), "not registered");
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(Count(m_sink.Events(), Refreshed(0)), 0u);
}

TEST_F(WatchEngineTest, StopWhileTheFirstRefreshIsDueStillRefreshes)
{
    m_host.RefreshSeconds = 10000;
    m_engine->Start();
    // A Stop before the run has begun would be reset by it; the Stop command is only
    // available once status 4 arrived.
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, kRunBegins) == 1; }));
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(m_sink.Events(),
              (std::vector<WatchNotification>{kRunBegins, kTable, Refreshed(0), kRunEnds}));
}

TEST_F(WatchEngineTest, StartDuringARunRefreshesAtOnce)
{
    m_host.RefreshSeconds = 10000;
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) == 1; }));
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) == 2; }, 2000ms));
    EXPECT_EQ(Count(m_sink.Events(), kRunBegins), 1u);
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
}

TEST_F(WatchEngineTest, AStaleStopHasNoEffectOnTheNextRun)
{
    m_host.RefreshSeconds = 2;
    m_engine->Stop();
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) >= 2; }));
    EXPECT_EQ(Count(m_sink.Events(), kRunEnds), 0u);
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
}

TEST_F(WatchEngineTest, AStartWhileTheRunIsEndingIsNotLost)
{
    m_host.ManualRefresh = 1;
    m_script.ReleaseDelay = 200ms; // widens the gap between status 5 and the thread's reset
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds(2));
    EXPECT_EQ(Count(m_sink.Events(), kRunBegins), 2u);
    EXPECT_EQ(Count(m_sink.Events(), Refreshed(0)), 2u);
}

TEST_F(WatchEngineTest, AnExceptionEndsTheRunWithStatusFive)
{
    m_script.ThrowInExecute = true;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    EXPECT_EQ(m_sink.Events().back(), kRunEnds);
    // The next Start begins a new run.
    m_script.ThrowInExecute = false;
    m_host.ManualRefresh = 1;
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds(2));
    EXPECT_EQ(Count(m_sink.Events(), Refreshed(0)), 1u);
}

TEST_F(WatchEngineTest, DestroyingTheEngineDuringARefreshEndsCleanly)
{
    m_script.ExecuteDelay = 300ms;
    m_engine->Start();
    ASSERT_TRUE(WaitFor([&](const auto&) { return Calls().size() >= 7; }));
    const auto before = std::chrono::steady_clock::now();
    m_engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    const auto calls = Calls();
    EXPECT_EQ(calls.back(), "Release");
    // An engine that never started goes away at once too.
    MakeEngine();
    m_engine.reset();
}

TEST_F(WatchEngineTest, DestroyingTheEngineCancelsACallInFlight)
{
    m_script.Cancellable = true;
    m_script.ExecuteDelay = 20s;
    m_engine->Start();
    ASSERT_TRUE(WaitFor(
        [&](const auto&)
        {
            const auto calls = Calls();
            return !calls.empty() && calls.back() == "Execute:ps auxw ";
        }));
    const auto before = std::chrono::steady_clock::now();
    m_engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(Calls().back(), "Release");
}

TEST_F(WatchEngineTest, AnIntervalBelowOneCountsAsOne)
{
    for (const int32_t seconds : {0, -5})
    {
        m_host.RefreshSeconds = seconds;
        m_engine->Start();
        ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) >= 3; }));
        m_engine->Stop();
        ASSERT_TRUE(WaitForRunEnds());
        for (const WatchNotification& n : m_sink.Events())
            EXPECT_FALSE(n.WParam == kStatusCountdown && n.LParam < 0) << n.LParam;
        m_sink.Clear();
    }
}

TEST_F(WatchEngineTest, LargeRepliesAreReadWholeAndOldComponentsFallBack)
{
    m_host.ManualRefresh = 1;
    m_script.Reply = "ps auxw \r\nHEADER\r\n";
    for (int pid = 1; pid <= 500; ++pid)
        m_script.Reply += "daemon " + std::to_string(pid) +
                          " 0.0 0.1 10000 2000 ? S 10:00 0:00 /usr/sbin/a-daemon --with-arguments "
                          "--and-more-arguments\r\n";
    m_script.Reply += "$ ";
    ASSERT_GT(m_script.Reply.size(), 32767u);
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds());
    {
        CAutoLock lock(m_engine->GetLock());
        EXPECT_EQ(m_engine->GetSnapshot().GetSize(), 500);
    }
    // Without the second interface only the 16-bit count is known; read unsigned it still
    // covers replies up to 65535 bytes.
    m_script.OffersFullSize = false;
    const std::size_t cut = m_script.Reply.find("\r\n", 48907) + 2;
    m_script.Reply.resize(cut);
    ASSERT_LT(m_script.Reply.size(), 65536u);
    m_engine->Start();
    ASSERT_TRUE(WaitForRunEnds(2));
    CAutoLock lock(m_engine->GetLock());
    EXPECT_GT(m_engine->GetSnapshot().GetSize(), 400);
}

namespace
{
// Collects what became of queued commands.
struct CDoneLog
{
    std::mutex Mutex;
    std::vector<CommandReply> Replies;
    CWatchEngine::CommandDone Callback()
    {
        return [this](const CommandReply& reply)
        {
            std::lock_guard<std::mutex> guard(Mutex);
            Replies.push_back(reply);
        };
    }
    std::size_t Size()
    {
        std::lock_guard<std::mutex> guard(Mutex);
        return Replies.size();
    }
};
} // namespace

TEST_F(WatchEngineTest, ACommandRunsBetweenRefreshesAndTheNextRefreshFollowsAtOnce)
{
    m_host.RefreshSeconds = 10000; // only the command can bring the second refresh
    m_script.OtherReply = "kill -TERM 4711\r\n$ ";
    m_engine->Start();
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) == 1; }));
    CDoneLog done;
    m_engine->QueueCommand("kill -TERM 4711", done.Callback());
    ASSERT_TRUE(WaitFor([](const auto& e) { return Count(e, Refreshed(0)) == 2; }));
    ASSERT_EQ(done.Size(), 1u);
    EXPECT_TRUE(done.Replies[0].Ran);
    EXPECT_EQ(done.Replies[0].Output, m_script.OtherReply);
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds());
    m_engine.reset();
    const std::vector<std::string> ps = {"IsConnected", "Execute:ps auxw ", "GetOutput"};
    EXPECT_EQ(Calls(), Concat({LoginCalls(),
                               {"Execute:ps auxw ", "GetOutput"},
                               {"IsConnected", "Execute:kill -TERM 4711", "GetOutput"},
                               ps,
                               {"Disconnect", "Release"}}));
    // The countdown went on from the full interval after the refresh the command brought.
    EXPECT_EQ(Count(m_sink.Events(), Refreshed(0)), 2u);
}

TEST_F(WatchEngineTest, CommandsAreRefusedWithoutARunAndToldWhyTheyDidNotRun)
{
    CDoneLog done;
    m_engine->QueueCommand("kill -TERM 1", done.Callback());
    ASSERT_EQ(done.Size(), 1u); // at once, on this thread
    EXPECT_FALSE(done.Replies[0].Ran);
    EXPECT_EQ(done.Replies[0].Failure, "no watch is running");

    // A single-refresh run goes round once more for a command queued during its refresh.
    m_host.ManualRefresh = 1;
    m_script.ExecuteDelay = 100ms;
    m_engine->Start();
    m_engine->QueueCommand("renice -n 5 -p 4711", done.Callback());
    ASSERT_TRUE(WaitForRunEnds());
    ASSERT_EQ(done.Size(), 2u);
    EXPECT_TRUE(done.Replies[1].Ran);
    m_engine->QueueCommand("kill -TERM 2", done.Callback());
    EXPECT_EQ(done.Replies.at(2).Failure, "no watch is running");

    // The host refuses the login: the command is told why.
    m_script.ConnectResult = E_FAIL;
    m_script.FailureText = "Login incorrect";
    m_host.ManualRefresh = 0;
    m_script.ExecuteDelay = 100ms;
    m_engine->Start();
    m_engine->QueueCommand("kill -TERM 3", done.Callback());
    ASSERT_TRUE(WaitFor([&](const auto&) { return done.Size() == 4; }));
    EXPECT_EQ(done.Replies[3].Failure, "Login incorrect");
    m_engine->Stop();
    ASSERT_TRUE(WaitForRunEnds(2));

    // The engine goes away while a refresh is in flight: the command waiting behind it is told.
    m_script = {.Reply = kReply, .ExecuteDelay = 20s, .Cancellable = true};
    m_engine->Start();
    ASSERT_TRUE(WaitFor([&](const auto&) { return Calls().back() == "Execute:ps auxw "; }));
    m_engine->QueueCommand("kill -TERM 4", done.Callback());
    m_engine.reset();
    ASSERT_EQ(done.Size(), 5u);
    EXPECT_EQ(done.Replies[4].Failure, "the watch ended before the command ran");
}
