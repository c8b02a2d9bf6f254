// This computer as a host: the command line split without a shell, the child bounded in time
// and output, and Stop ending it, against stand-in ps programs found first on PATH.
#include "watch/engine/local_command.h"
#include "watch/engine/local_session.h"
#include "watch/engine/watch_engine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{
struct SplitCase
{
    const char* Line;
    bool Ok;
    std::vector<std::string> Ps;
    bool Grep;
    const char* Pattern;
};

const SplitCase kSplits[] = {
    {"ps auxw ", true, {"ps", "auxw"}, false, ""},
    {"ps -ef | grep alice", true, {"ps", "-ef"}, true, "alice"},
    {"ps auxw | grep ; touch x", true, {"ps", "auxw"}, true, "; touch x"},
    {"ps -ef | grep a | grep b", true, {"ps", "-ef"}, true, "a | grep b"},
    {"ps -e -o user,pid,args ", true, {"ps", "-e", "-o", "user,pid,args"}, false, ""},
    {"ps auxw | grep ", true, {"ps", "auxw"}, true, ""},
    {"ps auxw;touch x", false, {}, false, ""},
    {"ps $(touch x)", false, {}, false, ""},
    {"sh -c ps", false, {}, false, ""},
    {"ps auxw | sh", false, {}, false, ""},
    {"", false, {}, false, ""},
};

TEST(LocalCommand, SplitsOnlyPsAndAGrepPattern)
{
    for (const SplitCase& c : kSplits)
    {
        SCOPED_TRACE(c.Line);
        LocalCommand command;
        ASSERT_EQ(SplitLocalCommand(c.Line, command), c.Ok);
        if (!c.Ok)
            continue;
        EXPECT_EQ(command.Ps, c.Ps);
        EXPECT_EQ(command.Grep, c.Grep);
        EXPECT_EQ(command.Pattern, c.Pattern);
    }
    EXPECT_EQ(GrepArguments("-v"), (std::vector<std::string>{"grep", "-e", "-v"}));
    EXPECT_EQ(FrameLocalReply("ps -ef ", "H\na\nb"), "ps -ef \r\nH\r\na\r\nb\r\n$ ");
}

// A directory holding a stand-in ps, put first on PATH for the test's life.
class LocalRunTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("local-ps-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        m_path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        ::setenv("PATH", (m_dir.string() + ":" + m_path).c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("PATH", m_path.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    void FakePs(const std::string& body)
    {
        const fs::path ps = m_dir / "ps";
        std::ofstream(ps) << "#!/bin/sh\necho $$ > " << (m_dir / "pid").string() << "\n"
                          << body << "\n";
        fs::permissions(ps, fs::perms::owner_all);
    }
    // The stand-in's PID once it has started.
    pid_t FakePid()
    {
        for (int i = 0; i < 500; ++i)
        {
            std::ifstream in(m_dir / "pid");
            pid_t pid = 0;
            if (in >> pid && pid > 0)
                return pid;
            std::this_thread::sleep_for(10ms);
        }
        return 0;
    }

    fs::path m_dir;
    std::string m_path;
};

struct RunCase
{
    const char* Label;
    const char* Body;
    const char* Line;
    bool Ok;
    const char* Output; // expected output, or the start of why
};

const RunCase kRuns[] = {
    {"Prints", "printf 'H\\na 1\\nb 2\\n'", "ps auxw ", true, "H\na 1\nb 2\n"},
    {"GrepKeepsMatchesLiterally", "printf 'a;x\\nb\\n; touch x\\n'", "ps -ef | grep ; touch x",
     true, "; touch x\n"},
    {"NoMatchIsNoFailure", "echo a", "ps -ef | grep zzz", true, ""},
    {"ErrorStatus", "echo 'ps: bad option' >&2; exit 1", "ps auxw ", false,
     "ps ended with status 1: ps: bad option"},
    {"Signal", "kill -9 $$", "ps auxw ", false, "ps was ended by signal 9"},
    {"TooSlow", "exec sleep 30", "ps auxw | grep x", false, "ps did not finish within 300 ms"},
    {"TooMuch", "exec yes", "ps auxw ", false, "ps printed more than 1 MB"},
};

TEST_F(LocalRunTest, ChildIsBoundedAndItsEndingJudged)
{
    for (const RunCase& c : kRuns)
    {
        SCOPED_TRACE(c.Label);
        FakePs(c.Body);
        LocalCommand command;
        ASSERT_TRUE(SplitLocalCommand(c.Line, command));
        LocalRunLimits limits;
        limits.Time = 300ms;
        limits.Output = 1u << 20;
        std::string output, why;
        EXPECT_EQ(RunLocalCommand(command, limits, output, why), c.Ok) << why;
        EXPECT_EQ(c.Ok ? output : why, c.Output);
        // Nothing of the pipeline is left running.
        const pid_t pid = FakePid();
        EXPECT_NE(pid, 0);
        EXPECT_NE(::kill(pid, 0), 0);
        fs::remove(m_dir / "pid");
    }
}

// Stop kills a local ps that takes its time, instead of waiting out its limit.
TEST_F(LocalRunTest, StopEndsTheChildAtOnce)
{
    FakePs("exec sleep 30");
    HostSettings host = NewLocalHost();
    CRecordingNotifySink sink;
    CWatchEngine engine;
    engine.SetHost(&host);
    engine.SetNotifySink(&sink);
    engine.Start();
    const pid_t pid = FakePid();
    ASSERT_NE(pid, 0);
    engine.Stop();
    const WatchNotification ended{WM_WATCH_STATUS, kStatusRunEnds, 0};
    for (int i = 0; i < 500; ++i)
    {
        const auto events = sink.Events();
        if (std::find(events.begin(), events.end(), ended) != events.end())
            break;
        std::this_thread::sleep_for(10ms);
    }
    const auto events = sink.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), ended), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(),
                        WatchNotification{WM_WATCH_STATUS, kStatusRefreshed, kRefreshPsFailed}),
              events.end());
    EXPECT_EQ(engine.GetLastFailure(), "stopped");
    EXPECT_NE(::kill(pid, 0), 0);
}
} // namespace
