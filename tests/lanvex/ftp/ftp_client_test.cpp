// lvFTPClient against scripted FTP servers: exact command bytes, replies split and joined,
// refusals, silences, and transfers on a second scripted server as the data connection.
#include "lanvex/ftp/ftp_client.h"
#include "tests/lanvex/net/scripted_server.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"
#include "tests/lanvex/ftp/ftp_test_support.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lanvex
{
namespace
{

using namespace lanvex::test;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using lanvex::test::LastDescription;
using lanvex::test::ReadAll;
using lanvex::test::WriteAll;

constexpr int kWaitMs = 600; // the client's wait in these tests

const std::string kLoginBytes = "USER alice\nPASS s3cret\n";

std::vector<ServerStep> Login()
{
    return {SendBytes("220 ready\r\n"), ExpectBytes("USER alice\n"), SendBytes("331 pw?\r\n"),
            ExpectBytes("PASS s3cret\n"), SendBytes("230 in\r\n")};
}

std::vector<ServerStep> Then(std::vector<ServerStep> steps, const std::vector<ServerStep>& more)
{
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

// The PASV reply for a data server at nPort, naming some other host.
std::string PassiveReply(int nPort)
{
    return "227 Entering Passive Mode (10,9,8,7," + std::to_string(nPort / 256) + "," +
           std::to_string(nPort % 256) + ").\r\n";
}

struct FtpPtr
{
    IlvFTPClient2* p = nullptr;
    FtpPtr()
    {
        void* pv = nullptr;
        EXPECT_EQ(CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient2, &pv), S_OK);
        p = static_cast<IlvFTPClient2*>(pv);
        static_cast<lvFTPClient*>(p)->SetTimeout(kWaitMs);
    }
    ~FtpPtr()
    {
        if (p != nullptr)
            p->Release();
    }
    IlvFTPClient2* operator->() const { return p; }
};

void SetLogin(const FtpPtr& ftp, int nPort, const char16_t* pszPassword = u"s3cret")
{
    ftp->put_Address(CComBSTR(u"127.0.0.1"));
    ftp->put_Username(CComBSTR(u"alice"));
    ftp->put_Password(CComBSTR(pszPassword));
    ftp->put_Port(static_cast<SHORT>(nPort));
}

using Action = std::function<HRESULT(IlvFTPClient2*)>;

struct DialogueCase
{
    const char* Label;
    std::vector<ServerStep> Server; // after the login
    std::vector<std::pair<Action, HRESULT>> Calls;
    std::string Sent;        // what the server receives after the login
    std::string Description; // of the last failure, when one is expected
};

Action Cwd(const char16_t* pszDir)
{
    return [pszDir](IlvFTPClient2* p) { return p->ChangeDir(CComBSTR(pszDir)); };
}
Action Noop()
{
    return [](IlvFTPClient2* p) { return p->KeepLive(); };
}
Action Rename(const char16_t* pszFrom, const char16_t* pszTo)
{
    return [=](IlvFTPClient2* p) { return p->RenameFile(CComBSTR(pszFrom), CComBSTR(pszTo)); };
}
Action Connected()
{
    return [](IlvFTPClient2* p) { return p->IsConnected(); };
}

TEST(FtpClient, EveryCommandIsJudgedByItsOwnReply)
{
    const DialogueCase cases[] = {
        {"exact bytes, LF only",
         {ExpectBytes("CWD /tmp\n"), SendBytes("250 ok\r\n")},
         {{Cwd(u"/tmp"), S_OK}},
         "CWD /tmp\n",
         ""},
        {"reply split across segments",
         {ExpectBytes("NOOP\n"), SendBytes("2"), Silence(100), SendBytes("00 ok\r"), Silence(100),
          SendBytes("\n"), ExpectBytes("CWD x\n"), SendBytes("550 No.\r\n")},
         {{Noop(), S_OK}, {Cwd(u"x"), E_ABORT}},
         "NOOP\nCWD x\n",
         "No.\r\n"},
        {"multi-line reply in one segment, then a refusal",
         {ExpectBytes("NOOP\n"), SendBytes("211-Features:\r\n EPSV\r\n211 End\r\n"),
          ExpectBytes("CWD y\n"), SendBytes("550 Failed to change directory.\r\n")},
         {{Noop(), S_OK}, {Cwd(u"y"), E_ABORT}},
         "NOOP\nCWD y\n",
         "Failed to change directory.\r\n"},
        {"RNFR refused: no RNTO",
         {ExpectBytes("RNFR a\n"), SendBytes("550 RNFR command failed.\r\n"), Silence(200)},
         {{Rename(u"a", u"b"), E_ABORT}},
         "RNFR a\n",
         "RNFR command failed.\r\n"},
        {"rename through the intermediate reply",
         {ExpectBytes("RNFR a\n"), SendBytes("350 Ready\r\n"), ExpectBytes("RNTO b c\n"),
          SendBytes("250 Rename successful.\r\n")},
         {{Rename(u"a", u"b c"), S_OK}},
         "RNFR a\nRNTO b c\n",
         ""},
        {"line end in an argument: nothing sent",
         {Silence(200)},
         {{Cwd(u"a\r\nDELE b"), E_INVALIDARG}, {Rename(u"ok", u"x\ny"), E_INVALIDARG}},
         "",
         "The argument holds a line end or a zero character; nothing was sent"},
        {"no reply within the wait is a failure, and a late one is not the next reply",
         {ExpectBytes("NOOP\n"), Silence(kWaitMs + 300), SendBytes("200 late\r\n"), Silence(200)},
         {{Noop(), E_FAIL}, {Noop(), E_FAIL}},
         "NOOP\n",
         "Not connected (the control connection is closed)"},
        {"any number of preliminary replies before a command's own",
         {ExpectBytes("CWD x\n"), SendBytes("110 a\r\n120 b\r\n"), Silence(100),
          SendBytes("150 c\r\n550 No.\r\n"), ExpectBytes("NOOP\n"), SendBytes("200 ok\r\n")},
         {{Cwd(u"x"), E_ABORT}, {Noop(), S_OK}},
         "CWD x\nNOOP\n",
         ""},
        {"a line that is no reply drops the connection; later commands fail at once",
         {ExpectBytes("NOOP\n"), SendBytes("abc\r\n"), Silence(200)},
         {{Noop(), E_FAIL}, {Connected(), S_FALSE}, {Noop(), E_FAIL}},
         "NOOP\n",
         "Not connected (the control connection is closed)"},
        {"a digit alone is no reply",
         {ExpectBytes("CWD y\n"), SendBytes("2\r\n"), Silence(200)},
         {{Cwd(u"y"), E_FAIL}, {Connected(), S_FALSE}},
         "CWD y\n",
         "The server sent \"2..\", which is no reply; the control connection was closed"},
        {"a reset connection fails the command",
         {ExpectBytes("NOOP\n"), ResetConnection()},
         {{Noop(), E_FAIL}},
         "NOOP\n",
         ""},
    };
    for (const DialogueCase& c : cases)
    {
        SCOPED_TRACE(c.Label);
        CScriptedServer server({Then(Login(), c.Server)});
        ASSERT_NE(server.Port(), 0);
        {
            FtpPtr ftp;
            SetLogin(ftp, server.Port());
            ASSERT_EQ(ftp->Connect(), S_OK);
            EXPECT_EQ(ftp->IsConnected(), S_OK);
            for (const auto& [action, expected] : c.Calls)
                EXPECT_EQ(action(ftp.p), expected);
            if (!c.Description.empty())
            {
                EXPECT_EQ(LastDescription(), c.Description);
            }
        }
        server.Finish();
        EXPECT_EQ(server.Received(0), kLoginBytes + c.Sent);
    }
}

TEST(FtpClient, LoginOutcomes)
{
    struct Case
    {
        const char* Label;
        std::vector<ServerStep> Server;
        HRESULT Result;
        HRESULT Connected;
        std::string Description;
    };
    const Case cases[] = {
        {"multi-line greeting",
         {SendBytes("220-Welcome\r\n220-to the\r\n"), Silence(100), SendBytes("220 server\r\n"),
          ExpectBytes("USER alice\n"), SendBytes("331 pw?\r\n"), ExpectBytes("PASS s3cret\n"),
          SendBytes("230 in\r\n")},
         S_OK,
         S_OK,
         ""},
        {"wrong password",
         {SendBytes("220 ready\r\n"), ExpectBytes("USER alice\n"), SendBytes("331 pw?\r\n"),
          ExpectBytes("PASS s3cret\n"), SendBytes("530 Login incorrect.\r\n")},
         E_FAIL,
         S_FALSE,
         "Login incorrect.\r\n"},
        {"logged in at USER, PASS still sent and refused",
         {SendBytes("220 ready\r\n"), ExpectBytes("USER alice\n"), SendBytes("230 in\r\n"),
          ExpectBytes("PASS s3cret\n"), SendBytes("503 Already logged in.\r\n")},
         E_FAIL,
         S_FALSE,
         "Already logged in.\r\n"},
        {"refusing greeting",
         {SendBytes("421 Too many users.\r\n")},
         E_ABORT,
         S_FALSE,
         "Too many users.\r\n"},
        {"greeting after two 120s",
         {SendBytes("120 soon\r\n120 soon\r\n220 ready\r\n"), ExpectBytes("USER alice\n"),
          SendBytes("331 pw?\r\n"), ExpectBytes("PASS s3cret\n"), SendBytes("230 in\r\n")},
         S_OK,
         S_OK,
         ""},
        {"a preliminary reply to USER does not shift the PASS reply",
         {SendBytes("220 ready\r\n"), ExpectBytes("USER alice\n"),
          SendBytes("120 soon\r\n331 pw?\r\n"), ExpectBytes("PASS s3cret\n"),
          SendBytes("530 Login incorrect.\r\n")},
         E_FAIL,
         S_FALSE,
         "Login incorrect.\r\n"},
        {"PASS answered with another question",
         {SendBytes("220 ready\r\n"), ExpectBytes("USER alice\n"), SendBytes("331 pw?\r\n"),
          ExpectBytes("PASS s3cret\n"), SendBytes("332 Need account.\r\n")},
         E_FAIL,
         S_FALSE,
         "The server did not accept the login: 332 Need account.\r\n"},
        {"no greeting", {Silence(kWaitMs + 300)}, E_ABORT, S_FALSE, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Label);
        CScriptedServer server({c.Server});
        {
            FtpPtr ftp;
            SetLogin(ftp, server.Port());
            EXPECT_EQ(ftp->Connect(), c.Result);
            EXPECT_EQ(ftp->IsConnected(), c.Connected);
            if (!c.Description.empty())
            {
                EXPECT_EQ(LastDescription(), c.Description);
            }
        }
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(FtpClient, FreshObjectThroughItsSlotsAndDisconnectWithoutConnection)
{
    FtpPtr ftp;
    // The vtable slots callers rely on: 14 get_Port, 34 IsConnected, 35 get_FileList, 37
    // GetFileCount32 (the first of IlvFTPClient2).
    void** pVtable = *reinterpret_cast<void***>(ftp.p);
    SHORT nPort = 0;
    LONG nFileList = 0, nCount = -1;
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, SHORT*)>(pVtable[14])(ftp.p, &nPort), S_OK);
    EXPECT_EQ(nPort, 21);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*)>(pVtable[34])(ftp.p), S_FALSE);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, LONG*)>(pVtable[35])(ftp.p, &nFileList), S_OK);
    EXPECT_EQ(nFileList, 1);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, LONG*)>(pVtable[37])(ftp.p, &nCount), S_OK);
    EXPECT_EQ(nCount, 0);

    EXPECT_EQ(ftp->Disconnect(), E_FAIL);
    EXPECT_EQ(ftp->IsConnected(), S_FALSE);
}

// Transfers: the control script answers PASV with the data server's port (and a foreign host).
class FtpTransfer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("lanvex-ftp-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    CComBSTR Local(const char* pszName) const
    {
        return CComBSTR(NarrowToWide((m_dir / pszName).string()).c_str());
    }
    fs::path m_dir;
};

TEST_F(FtpTransfer, DownloadsListsAndUploads)
{
    std::string blocks(2 * lvFTPClient::kTransferBlock, 'u'); // a whole number of blocks
    for (size_t i = 0; i < blocks.size(); i += 7)
        blocks[i] = static_cast<char>('a' + i % 26);
    WriteAll(m_dir / "up.bin", blocks);
    CScriptedServer data(
        {{SendBytes("hello\r\nworld"), CloseConnection()},
         {SendBytes("a.txt\r\n"), Silence(100), SendBytes("b c\nlast"), CloseConnection()},
         {SendBytes("total 1\r\n-rw-r--r-- 1 u g 70000 Dec 08 20:54 big f\r\n"), CloseConnection()},
         {}});
    const std::string pasv = PassiveReply(data.Port());
    CScriptedServer control({Then(Login(), {ExpectBytes("PASV\n"),
                                            SendBytes(pasv),
                                            ExpectBytes("RETR r.txt\n"),
                                            SendBytes("150 Opening\r\n226 Transfer complete.\r\n"),
                                            ExpectBytes("PASV\n"),
                                            SendBytes(pasv),
                                            ExpectBytes("NLST\n"),
                                            SendBytes("150 Here\r\n"),
                                            Silence(200),
                                            SendBytes("226 Done\r\n"),
                                            ExpectBytes("PASV\n"),
                                            SendBytes(pasv),
                                            ExpectBytes("LIST\n"),
                                            SendBytes("150 Here\r\n226 Done\r\n"),
                                            ExpectBytes("PASV\n"),
                                            SendBytes(pasv),
                                            ExpectBytes("STOR up.bin\n"),
                                            SendBytes("150 Ok to send data.\r\n"),
                                            Silence(300),
                                            SendBytes("226 Transfer complete.\r\n")})});
    {
        FtpPtr ftp;
        SetLogin(ftp, control.Port());
        ASSERT_EQ(ftp->Connect(), S_OK);
        EXPECT_EQ(ftp->ReadFile(CComBSTR(u"r.txt"), Local("r.txt")), S_OK);
        EXPECT_EQ(ReadAll(m_dir / "r.txt"), "hello\r\nworld");
        SHORT nDataPort = 0;
        ftp->get_DataPort(&nDataPort);
        EXPECT_EQ(static_cast<uint16_t>(nDataPort), data.Port());

        EXPECT_EQ(ftp->ReadCurrDir(), S_OK);
        SHORT nCount = 0;
        ftp->GetFileCount(&nCount);
        ASSERT_EQ(nCount, 3);
        char name[43];
        const char* names[] = {"a.txt", "b", "last"};
        for (SHORT i = 0; i < 3; ++i)
        {
            EXPECT_EQ(ftp->GetFileName(name, i), S_OK);
            EXPECT_STREQ(name, names[i]);
        }
        CComBSTR full;
        EXPECT_EQ(ftp->GetEntryName(1, &full), S_OK);
        EXPECT_EQ(NarrowFromBstr(full), "b c");
        EXPECT_EQ(ftp->GetFileName(name, 3), E_INVALIDARG);
        // Through dispatch the name would land in a variant's few bytes: refused, not overrun.
        VARIANT args[2]; // last argument first
        VariantInit(&args[0]);
        args[0].vt = VT_I2;
        args[0].iVal = 0;
        VariantInit(&args[1]);
        args[1].vt = VT_I1;
        DISPPARAMS params{args, nullptr, 2, 0};
        EXPECT_EQ(ftp->Invoke(24, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  E_INVALIDARG);
        EXPECT_EQ(args[1].vt, VT_I1);

        ftp->put_FileList(0);
        EXPECT_EQ(ftp->ReadCurrDir(), S_OK);
        LONG nCount32 = 0;
        ftp->GetFileCount32(&nCount32);
        ASSERT_EQ(nCount32, 2); // the "total" line counts
        SHORT nSize = 0;
        LONGLONG nFullSize = 0;
        EXPECT_EQ(ftp->GetFileSize(&nSize, 1), S_OK);
        EXPECT_EQ(nSize, 4464); // the low 16 bits of 70000
        EXPECT_EQ(ftp->GetEntrySize(1, &nFullSize), S_OK);
        EXPECT_EQ(nFullSize, 70000);

        EXPECT_EQ(ftp->WriteFile(Local("up.bin"), CComBSTR(u"up.bin")), S_OK);
        LONG nCode = 0;
        ftp->get_LastReplyCode(&nCode);
        EXPECT_EQ(nCode, 226);
    }
    EXPECT_EQ(control.Finish(), "");
    data.Finish();
    EXPECT_EQ(data.Received(3), blocks);
}

TEST_F(FtpTransfer, FailuresLeaveTheLocalFileAndTheSessionInStep)
{
    WriteAll(m_dir / "keep.txt", "precious");
    // 550 to RETR with the data connection left open and silent; then a stalled download.
    CScriptedServer data({{Silence(3 * kWaitMs)}, {SendBytes("part"), Silence(3 * kWaitMs)}});
    const std::string pasv = PassiveReply(data.Port());
    CScriptedServer control({Then(
        Login(), {ExpectBytes("PASV\n"), SendBytes(pasv), ExpectBytes("RETR gone\n"),
                  SendBytes("550 Failed to open file.\r\n"), ExpectBytes("PASV\n"),
                  SendBytes("500 No passive today.\r\n"), ExpectBytes("PASV\n"), SendBytes(pasv),
                  ExpectBytes("RETR slow\n"), SendBytes("150 Opening\r\n")})});
    {
        FtpPtr ftp;
        SetLogin(ftp, control.Port());
        ASSERT_EQ(ftp->Connect(), S_OK);
        const auto start = Clock::now();
        EXPECT_EQ(ftp->ReadFile(CComBSTR(u"gone"), Local("keep.txt")), E_ABORT);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kWaitMs));
        EXPECT_EQ(LastDescription(), "Failed to open file.\r\n");
        EXPECT_EQ(ReadAll(m_dir / "keep.txt"), "precious");

        // A local file that cannot be opened or read (a folder opens but never reads): nothing
        // goes to the server, whose file would otherwise be replaced by an empty one.
        EXPECT_EQ(ftp->WriteFile(Local("missing"), CComBSTR(u"remote")), E_HANDLE);
        EXPECT_EQ(ftp->WriteFile(Local("."), CComBSTR(u"remote")), E_HANDLE);
        // PASV refused: the listing is empty.
        EXPECT_EQ(ftp->ReadCurrDir(), E_ABORT);
        SHORT nCount = -1;
        ftp->GetFileCount(&nCount);
        EXPECT_EQ(nCount, 0);

        // A silent data connection: a failure, and the bytes that came stay.
        EXPECT_EQ(ftp->ReadFile(CComBSTR(u"slow"), Local("slow.bin")), E_FAIL);
        EXPECT_EQ(ReadAll(m_dir / "slow.bin"), "part");
    }
    control.Finish();
    data.Finish();
    EXPECT_EQ(control.Received(0).find("STOR"), std::string::npos);
}

// Every download is confirmed by a 2yz completion, never passes its listed size or the limit,
// and a refusal or a line that is no reply touches no local file.
TEST_F(FtpTransfer, DownloadsAreConfirmedAndBounded)
{
    struct Case
    {
        const char* Label;
        std::vector<ServerStep> Data;
        const char* Pasv;                // null: the data server's port
        std::vector<ServerStep> Control; // after PASV
        int64_t Listed;
        int64_t Limit;
        HRESULT Result;
        std::string Local; // the local file afterwards ("*": whatever arrived)
        std::string Description;
        int CancelAfterMs = 0; // the user cancels this long after the start (0: never)
    };
    const std::string d1500(1500, 'd'), d4000(4000, 'e');
    const Case cases[] = {
        {"preliminary replies around the data, then the completion",
         {SendBytes("hello"), CloseConnection()},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n110 MARK\r\n"), Silence(100),
          SendBytes("226 Done\r\n")},
         5,
         1 << 20,
         S_OK,
         "hello",
         ""},
        {"451 after the data",
         {SendBytes("hello"), CloseConnection()},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n"), Silence(100),
          SendBytes("451 Local error.\r\n")},
         -1,
         1 << 20,
         E_ABORT,
         "hello",
         "Local error.\r\n"},
        {"a 3yz is no completion",
         {SendBytes("hello"), CloseConnection()},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n350 Hmm.\r\n")},
         -1,
         1 << 20,
         E_FAIL,
         "hello",
         "The server did not confirm the transfer: 350 Hmm.\r\n"},
        {"no reply but a word",
         {Silence(300)},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("abc\r\n")},
         -1,
         1 << 20,
         E_FAIL,
         "precious",
         "which is no reply"},
        {"226 before any data, 5 bytes listed",
         {CloseConnection()},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("226 Done\r\n")},
         5,
         1 << 20,
         E_FAIL,
         "",
         "0 of the 5 bytes listed arrived"},
        {"1500 of the 3000 listed",
         {SendBytes(d1500), CloseConnection()},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n226 Done\r\n")},
         3000,
         1 << 20,
         E_FAIL,
         d1500,
         "1500 of the 3000 bytes listed arrived"},
        {"more than listed",
         {SendBytes(d4000), Silence(300)},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n"), Silence(200),
          SendBytes("426 Aborted.\r\n")},
         3000,
         1 << 20,
         E_FAIL,
         "",
         "more than the 3000 bytes listed"},
        {"past the limit without a listed size",
         {SendBytes(d4000), Silence(300)},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n"), Silence(200),
          SendBytes("426 Aborted.\r\n")},
         -1,
         2000,
         E_FAIL,
         "",
         "download limit of 2000 bytes"},
        {"a byte now and then, past the time bound for 5 bytes",
         {SendBytes("a"), Silence(500), SendBytes("b"), Silence(500), SendBytes("c"), Silence(500),
          SendBytes("d"), Silence(500)},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n")},
         5,
         1 << 20,
         E_FAIL,
         "*",
         "did not finish within"},
        {"cancelled mid-file",
         {SendBytes("part"), Silence(3000)},
         nullptr,
         {ExpectBytes("RETR f\n"), SendBytes("150 Opening\r\n")},
         -1,
         1 << 20,
         E_FAIL,
         "*",
         "Cancelled",
         300},
        {"a 227 that names no port",
         {},
         "227 Entering Passive Mode.\r\n",
         {Silence(100)},
         -1,
         1 << 20,
         E_FAIL,
         "precious",
         "names no data port"},
        {"numbers above 255",
         {},
         "227 Entering Passive Mode (127,0,0,1,300,1).\r\n",
         {Silence(100)},
         -1,
         1 << 20,
         E_FAIL,
         "precious",
         "names no data port"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Label);
        WriteAll(m_dir / "t", "precious");
        CScriptedServer data(c.Data.empty() ? std::vector<std::vector<ServerStep>>{}
                                            : std::vector<std::vector<ServerStep>>{c.Data});
        CScriptedServer control(
            {Then(Login(), Then({ExpectBytes("PASV\n"),
                                 SendBytes(c.Pasv != nullptr ? c.Pasv : PassiveReply(data.Port()))},
                                c.Control))});
        {
            FtpPtr ftp;
            SetLogin(ftp, control.Port());
            ASSERT_EQ(ftp->Connect(), S_OK);
            auto* client = static_cast<lvFTPClient*>(ftp.p);
            client->SetDownloadLimit(c.Limit);
            const int cancel = ::eventfd(0, EFD_CLOEXEC);
            client->SetCancelDescriptor(cancel);
            std::thread user;
            if (c.CancelAfterMs > 0)
                user = std::thread(
                    [&]
                    {
                        std::this_thread::sleep_for(std::chrono::milliseconds(c.CancelAfterMs));
                        const uint64_t one = 1;
                        EXPECT_EQ(::write(cancel, &one, sizeof one), 8);
                    });
            SHORT nPort = 77;
            ftp->put_DataPort(nPort);
            const HRESULT hrGot = client->DownloadTo("f", (m_dir / "t").string(), c.Listed);
            EXPECT_EQ(hrGot, c.Result) << std::hex << hrGot;
            const std::string description = LastDescription();
            EXPECT_NE(description.find(c.Description), std::string::npos) << description;
            if (user.joinable())
            {
                user.join();
                EXPECT_EQ(ftp->IsConnected(), S_FALSE); // a cancel drops the session
            }
            ::close(cancel);
            if (c.Pasv != nullptr)
            {
                ftp->get_DataPort(&nPort);
                EXPECT_EQ(nPort, 77); // never a port from numbers that were not read
            }
        }
        if (c.Local != "*")
        {
            EXPECT_EQ(ReadAll(m_dir / "t"), c.Local);
        }
        control.Finish();
        data.Finish();
    }
}

// A slow reader is not a dead one: the upload goes on while its kernel answers, though its
// window stays shut for longer than the wait. Here 16 KiB a second for 8 s against a wait of
// 2 s (the window opens some 4 to 8 s apart); VIGIL_FTP_SLOW_MB=64 runs the long form: that
// many MB at 16 KiB a second throughout, against the real wait of 10 s (over an hour). Nor is
// the upload done before the server has every byte: 1 MiB before the end the reader pauses, and
// the upload must still be waiting then.
TEST_F(FtpTransfer, SlowReaderDoesNotFailAnUpload)
{
    const char* pszLong = std::getenv("VIGIL_FTP_SLOW_MB");
    const size_t nMegabytes = pszLong != nullptr ? std::strtoul(pszLong, nullptr, 10) : 6;
    const std::string upload(nMegabytes << 20, 'z');
    WriteAll(m_dir / "big", upload);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const int nBuffer = 64 << 10; // the reader's kernel holds far less than the pause leaves
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &nBuffer, sizeof nBuffer);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nLength);
    const int nDataPort = ntohs(address.sin_port);
    size_t nReceived = 0;
    std::atomic<bool> bReturned{false};
    bool bReturnedEarly = false;
    // 1 KiB every 62 ms, then everything, with a send queue that takes far longer than the
    // wait to drain.
    std::thread reader(
        [&]
        {
            pollfd pfd{listener, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) != 1)
                return;
            const int fd = ::accept(listener, nullptr, nullptr);
            char chunk[65536];
            const auto slowUntil = Clock::now() + (pszLong != nullptr ? std::chrono::hours(24)
                                                                      : std::chrono::seconds(8));
            for (;;)
            {
                const bool bSlow = Clock::now() < slowUntil;
                const ssize_t n = ::recv(fd, chunk, bSlow ? 1024 : sizeof chunk, 0);
                if (n <= 0)
                    break;
                if (nReceived + (1 << 20) < upload.size() &&
                    nReceived + static_cast<size_t>(n) + (1 << 20) >= upload.size())
                {
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                    bReturnedEarly = bReturned;
                }
                nReceived += static_cast<size_t>(n);
                if (bSlow)
                    std::this_thread::sleep_for(std::chrono::milliseconds(62));
            }
            ::close(fd);
        });
    CScriptedServer control(
        {Then(Login(), {ExpectBytes("PASV\n"), SendBytes(PassiveReply(nDataPort)),
                        ExpectBytes("STOR big\n"), SendBytes("150 Ok\r\n226 Done\r\n")})});
    {
        FtpPtr ftp;
        static_cast<lvFTPClient*>(ftp.p)->SetTimeout(pszLong != nullptr ? 10000 : 2000);
        SetLogin(ftp, control.Port());
        ASSERT_EQ(ftp->Connect(), S_OK);
        EXPECT_EQ(ftp->WriteFile(Local("big"), CComBSTR(u"big")), S_OK) << LastDescription();
        bReturned = true;
    }
    reader.join();
    ::close(listener);
    control.Finish();
    EXPECT_EQ(nReceived, upload.size());
    EXPECT_FALSE(bReturnedEarly);
}

} // namespace
} // namespace lanvex
