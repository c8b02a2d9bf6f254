// lvFTPClient as clients meet it: the module registered into a throwaway hive, the object created
// by CLSID through the runtime (and by comcall from the shell), against the real vsftpd.
#include "lanvex/net/lanvex.h"

#include "platform/com/bstr.h"
#include "platform/com/comrt.h"
#include "platform/com/conversion.h"
#include "tests/lanvex/ftp/ftp_test_support.h"
#include "tests/lanvex/net/test_program.h"
#include "tests/platform/com/test_hive.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using lanvex::test::ReadAll;

using lanvex::test::RunProgram;

std::string Description()
{
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr)
        return std::string();
    CComBSTR description;
    pInfo->GetDescription(&description);
    pInfo->Release();
    return NarrowFromBstr(description);
}

CComBSTR Text(const std::string& text)
{
    return CComBSTR(NarrowToWide(text).c_str());
}

// The peer from scripts/peers, a private hive with the module registered, an apartment.
class RealFtpServer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* pszPort = std::getenv("VIGIL_FTP_PORT");
        const char* pszUser = std::getenv("VIGIL_FTP_USER");
        const char* pszPassword = std::getenv("VIGIL_FTP_PASSWORD");
        if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
            GTEST_SKIP() << "no FTP peer: run the tests through scripts/test as root "
                            "(scripts/peers starts vsftpd on 127.0.0.1)";
        m_nPort = std::atoi(pszPort);
        m_user = pszUser;
        m_password = pszPassword;
        std::string output;
        ASSERT_EQ(RunProgram({COMREG_PATH, LANVEX_MODULE_PATH}, &output), 0) << output;
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        m_bApartment = true;
    }
    void TearDown() override
    {
        if (m_bApartment)
        {
            CoFreeUnusedLibraries();
            CoUninitialize();
        }
    }
    IlvFTPClient2* Create(const std::string& password)
    {
        IlvFTPClient2* p = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_lvFTPClient, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IlvFTPClient2, reinterpret_cast<void**>(&p)),
                  S_OK);
        if (p != nullptr)
        {
            p->put_Address(Text("127.0.0.1"));
            p->put_Port(static_cast<SHORT>(m_nPort));
            p->put_Username(Text(m_user));
            p->put_Password(Text(password));
        }
        return p;
    }
    CComBSTR Local(const char* pszName) const { return Text((m_dir / pszName).string()); }

    int m_nPort = 0;
    std::string m_user, m_password;
    CTestHive m_hive; // the hive and a folder for the test's files, both removed afterwards
    fs::path m_dir = m_hive.Dir();
    bool m_bApartment = false;
};

TEST_F(RealFtpServer, WorksWithDirectoriesAndFilesEndToEnd)
{
    std::string upload(1024 * 1024 + 1, '\0');
    std::mt19937 random(42);
    for (char& c : upload)
        c = static_cast<char>(random());
    std::ofstream(m_dir / "up.bin", std::ios::binary) << upload;
    std::ofstream(m_dir / "keep.txt", std::ios::binary) << "keep me";
    const std::string remoteDir = "lanvex-e2e-" + std::to_string(::getpid());

    IlvFTPClient2* ftp = Create(m_password);
    ASSERT_NE(ftp, nullptr);
    ASSERT_EQ(ftp->Connect(), S_OK) << Description();
    EXPECT_EQ(ftp->IsConnected(), S_OK);
    EXPECT_EQ(ftp->SetType(1), S_OK);
    EXPECT_EQ(ftp->CreateDir(Text(remoteDir)), S_OK) << Description();
    EXPECT_EQ(ftp->ChangeDir(Text(remoteDir)), S_OK);
    EXPECT_EQ(ftp->WriteFile(Local("up.bin"), Text("up.bin")), S_OK) << Description();

    EXPECT_EQ(ftp->ReadCurrDir(), S_OK); // names only
    SHORT nCount = 0;
    char name[43] = {};
    ftp->GetFileCount(&nCount);
    ASSERT_EQ(nCount, 1);
    EXPECT_EQ(ftp->GetFileName(name, 0), S_OK);
    EXPECT_STREQ(name, "up.bin");

    EXPECT_EQ(ftp->RenameFile(Text("up.bin"), Text("a file.bin")), S_OK);
    ftp->put_FileList(0);
    EXPECT_EQ(ftp->ReadCurrDir(), S_OK);
    LONG nCount32 = 0;
    ftp->GetFileCount32(&nCount32);
    ASSERT_EQ(nCount32, 1);
    CComBSTR fullName;
    LONGLONG nSize = 0;
    LONG bDirectory = -1;
    EXPECT_EQ(ftp->GetEntryName(0, &fullName), S_OK);
    EXPECT_EQ(NarrowFromBstr(fullName), "a file.bin");
    EXPECT_EQ(ftp->GetEntrySize(0, &nSize), S_OK);
    EXPECT_EQ(nSize, 1024 * 1024 + 1);
    EXPECT_EQ(ftp->GetEntryIsDirectory(0, &bDirectory), S_OK);
    EXPECT_EQ(bDirectory, 0);

    EXPECT_EQ(ftp->ReadFile(Text("a file.bin"), Local("down.bin")), S_OK) << Description();
    EXPECT_TRUE(ReadAll(m_dir / "down.bin") == upload);
    EXPECT_EQ(ftp->ReadFile(Text("missing.bin"), Local("keep.txt")), E_ABORT);
    EXPECT_EQ(Description(), "Failed to open file.\r\n");
    EXPECT_EQ(ReadAll(m_dir / "keep.txt"), "keep me");
    // Still in step after the refusal.
    EXPECT_EQ(ftp->DeleteFile(Text("a file.bin")), S_OK);
    EXPECT_EQ(ftp->DeleteFile(Text("a file.bin")), E_ABORT);
    // An empty file goes up as an empty file.
    std::ofstream(m_dir / "empty.bin", std::ios::binary).flush();
    EXPECT_EQ(ftp->WriteFile(Local("empty.bin"), Text("empty.bin")), S_OK);
    EXPECT_EQ(ftp->ReadCurrDir(), S_OK);
    EXPECT_EQ(ftp->GetEntrySize(0, &nSize), S_OK);
    EXPECT_EQ(nSize, 0);
    EXPECT_EQ(ftp->DeleteFile(Text("empty.bin")), S_OK);
    EXPECT_EQ(ftp->ChangeDirUp(), S_OK);
    EXPECT_EQ(ftp->DeleteDir(Text(remoteDir)), S_OK) << Description();
    EXPECT_EQ(ftp->Disconnect(), S_OK);
    LONG nCode = 0;
    ftp->get_LastReplyCode(&nCode);
    EXPECT_EQ(nCode, 221);
    EXPECT_EQ(ftp->IsConnected(), S_FALSE);
    ftp->Release();

    IlvFTPClient2* wrong = Create(m_password + "x");
    ASSERT_NE(wrong, nullptr);
    EXPECT_EQ(wrong->Connect(), E_FAIL);
    EXPECT_EQ(Description(), "Login incorrect.\r\n");
    EXPECT_EQ(wrong->IsConnected(), S_FALSE);
    wrong->Release();
}

TEST_F(RealFtpServer, ComcallDrivesItAndShowsTheRefusal)
{
    std::string output;
    const int status = RunProgram({COMCALL_PATH, "Lanvex.lvFTPClient", "Address=127.0.0.1",
                                   "Port=" + std::to_string(m_nPort), "Username=" + m_user,
                                   "Password=" + m_password, "Connect", "KeepLive", "LastReplyCode",
                                   "ChangeDir(\"/no/such/dir\")", "Disconnect"},
                                  &output);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("\n200\n"), std::string::npos) << output;
    EXPECT_NE(output.find("0x80004004 Failed to change directory."), std::string::npos) << output;
}

} // namespace
