// comreg and comcall as a script uses them: real processes, a temporary hive, the test server.
#include "platform/com/comrt.h"
#include "tests/tools/probe_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace
{
struct ToolRun
{
    int Status = -1;
    std::string Out;
};

// Runs a command line through the shell with the test's hive; captures standard output.
ToolRun Shell(const std::string& command)
{
    ToolRun run;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Out.append(buffer, n);
    int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Tools : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "comrt-tools-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        setenv("COMRT_REGISTRY", (m_dir + "/registry.reg").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("COMRT_REGISTRY");
        std::filesystem::remove_all(m_dir);
    }
    ToolRun Comreg(const std::string& args) { return Shell(std::string(COMREG_PATH) + " " + args); }
    ToolRun Comcall(const std::string& args)
    {
        return Shell(std::string(COMCALL_PATH) + " " + args);
    }

    std::string m_dir;
};
} // namespace

TEST_F(Tools, RegisterCallAndUnregister)
{
    ToolRun reg = Comreg(Quote(PROBE_SERVER_PATH));
    ASSERT_EQ(reg.Status, 0) << reg.Out;
    EXPECT_NE(reg.Out.find("succeeded"), std::string::npos);

    ToolRun call = Comcall("ComrtTest.Probe Name=hello Name 'Count=\"7\"' Count 'Add(2, 3)' "
                           "'Concat(\"a, b\", 1)' Enabled=-1 Enabled IsReady Total=5 "
                           "'Scale(3, 0.5, 100, -0.25)' Ratio=1e-3 Ratio");
    EXPECT_EQ(call.Status, 0);
    EXPECT_EQ(call.Out, "0x00000000\nhello\n0x00000000\n7\n5\na, b1\n0x00000000\nTrue\n"
                        "0x00000001\n0x00000000\n101.25\n0x00000000\n0.001\n");

    // The first failure stops the run with its error object's description.
    call = Comcall("ComrtTest.Probe.1 'Fail(\"550 gone\")' Name");
    EXPECT_EQ(call.Status, 1);
    EXPECT_EQ(call.Out, "0x80004004 550 gone\n");

    ToolRun unreg = Comreg("-u " + Quote(PROBE_SERVER_PATH));
    EXPECT_EQ(unreg.Status, 0) << unreg.Out;
    call = Comcall("ComrtTest.Probe Name");
    EXPECT_EQ(call.Status, 1);
    EXPECT_EQ(call.Out, "");
}

TEST_F(Tools, ComcallReportsWhatItCannotDo)
{
    ASSERT_EQ(Comreg(Quote(PROBE_SERVER_PATH)).Status, 0);
    struct Case
    {
        const char* Args;
        int Status;
        const char* Out;
    } cases[] = {
        {"ComrtTest.Probe Missing", 1, "0x80020006\n"},
        {"ComrtTest.Probe 'Add(1)'", 1, "0x8002000E\n"},
        {"ComrtTest.Probe 'Add(x, 1)'", 1, "0x80020005\n"},
        {"ComrtTest.Probe Count=70000", 1, "0x8002000A\n"},
        {"ComrtTest.Probe 'GetBuffer(1, 2)'", 1, "0x80020008\n"},
        {"No.Such.Thing Name", 1, ""},
        {"ComrtTest.Probe 'Add(1'", 2, ""},
        {"", 2, ""},
    };
    for (const Case& c : cases)
    {
        ToolRun run = Comcall(c.Args);
        EXPECT_EQ(run.Status, c.Status) << c.Args;
        EXPECT_EQ(run.Out, c.Out) << c.Args;
    }
}

TEST_F(Tools, ComregHandlesOddPathsAndBadModules)
{
    // A module path with a single quote is registered as it stands.
    std::string odd = m_dir + "/it's here";
    std::filesystem::create_directories(odd);
    std::string copy = odd + "/probe.so";
    std::filesystem::copy_file(PROBE_SERVER_PATH, copy);
    ASSERT_EQ(Comreg(Quote(copy)).Status, 0);
    std::ifstream hive(m_dir + "/registry.reg");
    std::string text((std::istreambuf_iterator<char>(hive)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("@=\"" + copy + "\""), std::string::npos) << text;
    EXPECT_EQ(Comcall("ComrtTest.Probe 'Add(1, 1)'").Out, "2\n");

    EXPECT_EQ(Comreg(Quote(m_dir + "/missing.so")).Status, 1);
    EXPECT_EQ(Comreg(Quote(m_dir + "/registry.reg")).Status, 1); // not a module
    EXPECT_EQ(Comreg("").Status, 2);

    // A damaged hive: registration fails, says so, and leaves the file alone.
    std::ofstream(m_dir + "/registry.reg", std::ios::app) << "[oops\n";
    std::ifstream before(m_dir + "/registry.reg");
    std::string damaged((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
    ToolRun reg = Comreg(Quote(copy));
    EXPECT_EQ(reg.Status, 1);
    EXPECT_NE(reg.Out.find("damaged"), std::string::npos) << reg.Out;
    std::ifstream after(m_dir + "/registry.reg");
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()),
        damaged);
}

TEST_F(Tools, HelpAndVersionAnswerWithoutAModule)
{
    struct Case
    {
        std::string Command;
        std::string OutStart;
    } cases[] = {
        {COMREG_PATH " --help", "usage: comreg"},
        {COMREG_PATH " --version", "comreg "},
        {COMCALL_PATH " --help", "usage: comcall"},
        {COMCALL_PATH " --version", "comcall "},
    };
    for (const Case& c : cases)
    {
        ToolRun run = Shell(c.Command);
        EXPECT_EQ(run.Status, 0) << c.Command;
        EXPECT_EQ(run.Out.rfind(c.OutStart, 0), 0u) << c.Command << ": " << run.Out;
    }
}

// A hive that cannot be changed is a failure even when the server ignores it; a module cut short
// is refused before dlopen could die of SIGBUS in it.
TEST_F(Tools, FailuresAreReportedNotSurvivedBySignal)
{
    ASSERT_EQ(Comreg(Quote(PROBE_SERVER_PATH)).Status, 0);
    const std::string lock = m_dir + "/registry.reg.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock); // the hive can no longer be locked for writing
    ToolRun unreg = Comreg("-u " + Quote(PROBE_SERVER_PATH));
    EXPECT_EQ(unreg.Status, 1) << unreg.Out;
    EXPECT_NE(unreg.Out.find("could not be changed"), std::string::npos) << unreg.Out;
    EXPECT_EQ(Comcall("ComrtTest.Probe 'Add(1, 1)'").Out, "2\n") << "still registered";
    std::filesystem::remove(lock);

    const std::string cut = m_dir + "/cut.so";
    std::filesystem::copy_file(PROBE_SERVER_PATH, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    ToolRun reg = Shell("{ " + std::string(COMREG_PATH) + " " + Quote(cut) + " 2>&1; }");
    EXPECT_EQ(reg.Status, 1);
    EXPECT_NE(reg.Out.find("past the end of the file"), std::string::npos) << reg.Out;
    const std::string server = "CLSID\\" + GuidToString(CLSID_Probe) + "\\InprocServer32";
    ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, cut.c_str(), 0),
              ERROR_SUCCESS);
    EXPECT_EQ(Comcall("ComrtTest.Probe Name").Status, 1);
}
