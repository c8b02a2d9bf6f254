// The cache and the file operation as clients meet them: registered into a throwaway hive,
// created through the runtime, and driven by comcall (ProgID, then IDispatch).
#include "lanvex/net/lanvex.h"

#include "platform/com/comrt.h"
#include "tests/lanvex/net/test_program.h"
#include "tests/platform/com/test_hive.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

class StorageModule : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(RegisterServerModule(LANVEX_MODULE_PATH), S_OK); }

    // comcall with these steps: its exit status, and what it printed in *pOutput.
    static int Comcall(const std::string& steps, std::string* pOutput = nullptr)
    {
#ifdef COMCALL_PATH
        std::string output;
        const int status = lanvex::test::RunShell(COMCALL_PATH " " + steps, &output);
        if (pOutput != nullptr)
            *pOutput = output;
        return status;
#else
        (void)steps;
        (void)pOutput;
        return -1;
#endif
    }

    CTestHive m_hive; // the hive and a folder for the test's files, both removed afterwards
    fs::path m_dir = m_hive.Dir();
};

TEST_F(StorageModule, CreatedThroughTheRuntime)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    for (const auto& [clsid, answer] :
         {std::pair{CLSID_lvCache, S_OK}, std::pair{CLSID_lvFTPShellFile, E_NOINTERFACE}})
    {
        IUnknown* pUnknown = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISupportErrorInfo,
                                   reinterpret_cast<void**>(&pUnknown)),
                  answer)
            << ComrtLastErrorText();
        if (pUnknown != nullptr)
            pUnknown->Release();
    }
    CoFreeUnusedLibraries();
    CoUninitialize();
#ifndef COMCALL_PATH
    GTEST_SKIP() << "comcall is not built";
#endif
    std::string output;
    EXPECT_EQ(Comcall("Lanvex.lvCache Type=1 Type CacheName=/tmp/x CacheName", &output), 0);
    EXPECT_EQ(output, "0x00000000\n1\n0x00000000\n/tmp/x\n");
    // Through dispatch a chunk is one byte at most: a longer one would run past the argument.
    EXPECT_EQ(
        Comcall("Lanvex.lvCache Type=1 'Write(65, 1)' 'Read(0, 1)' 'Write(65, 100)'", &output), 1);
    EXPECT_EQ(output.rfind("0x00000000\n0x00000000\n0x00000000\n0x80070057", 0), 0u) << output;
    EXPECT_EQ(Comcall("Lanvex.lvFTPShellFile.1 Function CreateDestDirectories Function=7 Function",
                      &output),
              0);
    EXPECT_EQ(output, "1\n1\n0x00000000\n7\n");
}

// The real vsftpd: set up with the FTP client, copied and then deleted with the file operation.
TEST_F(StorageModule, ExecuteThroughComcall)
{
    const char* pszPort = std::getenv("VIGIL_FTP_PORT");
    const char* pszUser = std::getenv("VIGIL_FTP_USER");
    const char* pszPassword = std::getenv("VIGIL_FTP_PASSWORD");
    if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
        GTEST_SKIP() << "no FTP peer: run the tests through scripts/test as root";
    const std::string remote = "lvshell-module-" + std::to_string(::getpid());
    const std::string login = std::string(" Username=") + pszUser + " Password=" + pszPassword;
    std::ofstream(m_dir / "up.txt") << "uploaded";
    ASSERT_EQ(Comcall("Lanvex.lvFTPClient Address=127.0.0.1 Port=" + std::string(pszPort) + login +
                      " Connect 'CreateDir(\"" + remote + "\")' 'WriteFile(\"" +
                      (m_dir / "up.txt").string() + "\", \"" + remote + "/a.txt\")' Disconnect"),
              0);

    const std::string file =
        "Lanvex.lvFTPShellFile Server=127.0.0.1:" + std::string(pszPort) + login;
    EXPECT_EQ(Comcall(file + " 'From=\"" + remote + "/*.txt\"' To=" + (m_dir / "copy").string() +
                      " Execute"),
              0);
    std::stringstream copied;
    copied << std::ifstream(m_dir / "copy" / "a.txt").rdbuf();
    EXPECT_EQ(copied.str(), "uploaded");
    // The whole directory goes; a second time nothing matches (exit status 1, the reason said).
    EXPECT_EQ(Comcall(file + " Function=3 From=" + remote + " Execute"), 0);
    std::string output;
    EXPECT_EQ(Comcall(file + " Function=3 From=" + remote + " Execute", &output), 1);
    EXPECT_NE(output.find("0x80070002 No file on"), std::string::npos) << output;
}

} // namespace
