// lvFTPShellFile over ftps:// and sftp://: copy, move and delete against the TLS vsftpd and the
// sshd's internal-sftp from scripts/peers (skipped without them; both serve the same account's
// home), and a TLS data connection cut mid-file that leaves the local file as it was.
#include "lanvex/ftp/sftp_file_client.h"
#include "lanvex/ftp/sftp_session.h"
#include "tests/lanvex/ftp/shell_file_test_support.h"
#include "tests/lanvex/ftp/tls_test_peer.h"

#include "platform/com/conversion.h"
#include "platform/com/error_info.h"
#include "tests/lanvex/ftp/ftp_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace lanvex
{
namespace
{

namespace fs = std::filesystem;
using lanvex::test::LastDescription;
using lanvex::test::ReadAll;
using namespace lanvex::test;

CComBSTR Bstr(const std::string& text)
{
    return CComBSTR(std::string_view(text));
}

TEST(FileServer, SchemesPortsAndRefusals)
{
    const std::pair<const char*, const char*> cases[] = {
        {"host", "ftp host 21"},
        {"ftps://host", "ftps host 21"},
        {"FTPS://host:2121/", "ftps host 2121"},
        {"sftp://10.0.0.1", "sftp 10.0.0.1 22"},
        {"sftp://h:2222", "sftp h 2222"},
        {"ftp://h:21", "ftp h 21"},
        {"http://h", "-"},
        {"sftp://", "-"},
        {"sftp://h/dir", "-"},
        {"sftp://user@h", "-"},
        {"ftps://h:0", "-"},
        {"ftps://h:65536", "-"},
    };
    static const char* const kKinds[] = {"ftp", "ftps", "sftp"};
    for (const auto& [text, expected] : cases)
    {
        const std::optional<FileServer> server = ParseFileServer(text);
        EXPECT_EQ(server ? std::string(kKinds[static_cast<int>(server->Kind)]) + " " +
                               server->Host + " " + std::to_string(server->Port)
                         : "-",
                  expected)
            << text;
    }
}

// The peers, a private HOME (known_hosts) and trust store, a remote tree per case.
class SecureShellFile : public ::testing::TestWithParam<const char*>
{
  protected:
    void SetUp() override
    {
        const char* pszFtps = std::getenv("VIGIL_FTPS_PORT");
        const char* pszSsh = std::getenv("VIGIL_SSH_PORT");
        if (pszFtps == nullptr || pszSsh == nullptr || std::getenv("VIGIL_FTPS_CA") == nullptr)
            GTEST_SKIP() << "no FTPS or SSH peer (source scripts/peers start as root)";
        m_bSftp = std::string(GetParam()) == "sftp";
        m_nSshPort = std::atoi(pszSsh);
        m_server = m_bSftp ? std::string("sftp://127.0.0.1:") + pszSsh
                           : std::string("ftps://127.0.0.1:") + pszFtps;
        m_user = std::getenv("VIGIL_SSH_USER");
        m_password = std::getenv("VIGIL_SSH_PASSWORD");
        m_remote = "lvsecure-" + std::to_string(::getpid()) + "-" + GetParam();
        m_local = fs::temp_directory_path() / m_remote;
        fs::create_directories(m_local / "home" / ".ssh");
        m_savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("HOME", (m_local / "home").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        ::setenv("SSL_CERT_FILE", std::getenv("VIGIL_FTPS_CA"),
                 1); // ftps:// trusts the system store
        ASSERT_TRUE(m_sftp.Connect("127.0.0.1", m_nSshPort, m_user, m_password))
            << m_sftp.Failure();
        ASSERT_TRUE(m_sftp.MakeDirectory(m_remote) && m_sftp.MakeDirectory(m_remote + "/sub"));
        for (const auto& [name, text] : {std::pair{"a.txt", "alpha"},
                                         {"b.txt", "bravo"},
                                         {"c.log", "charlie"},
                                         {"sub/d.txt", "delta"}})
        {
            std::ofstream(m_local / "up", std::ios::binary) << text;
            FILE* pFile = std::fopen((m_local / "up").c_str(), "rb");
            ASSERT_TRUE(m_sftp.Upload(pFile, m_remote + "/" + name)) << m_sftp.Failure();
            std::fclose(pFile);
        }
        fs::remove(m_local / "up");
    }
    void TearDown() override
    {
        if (m_remote.empty() || m_local.empty())
            return;
        ShellFilePtr cleanup; // whatever the case left on the server goes
        Describe(cleanup, 3, m_remote, "");
        cleanup->Execute();
        m_sftp.RemoveDirectory(m_remote);
        m_savedHome.empty() ? ::unsetenv("HOME") : ::setenv("HOME", m_savedHome.c_str(), 1);
        ::unsetenv("SSL_CERT_FILE");
        fs::remove_all(m_local);
    }
    void Describe(const ShellFilePtr& file, SHORT nFunction, const std::string& from,
                  const std::string& to)
    {
        file->put_Server(Bstr(m_server));
        file->put_Username(Bstr(m_user));
        file->put_Password(Bstr(m_password));
        file->put_Function(nFunction);
        file->put_From(Bstr(from));
        file->put_To(Bstr(to));
    }
    std::string RemoteNames(const std::string& dir)
    {
        std::vector<CSftpSession::Entry> entries;
        m_sftp.List(dir, &entries, 100);
        std::vector<std::string> names;
        for (const CSftpSession::Entry& entry : entries)
            names.push_back(entry.Name);
        std::sort(names.begin(), names.end());
        std::string joined;
        for (const std::string& name : names)
            joined += (joined.empty() ? "" : " ") + name;
        return joined;
    }

    bool m_bSftp = false;
    int m_nSshPort = 0;
    std::string m_server, m_user, m_password, m_remote, m_savedHome;
    fs::path m_local;
    CSftpSession m_sftp;
};

TEST_P(SecureShellFile, CopyMoveAndDeleteAsOverFtp)
{
    {
        SCOPED_TRACE("copy");
        ShellFilePtr file;
        Describe(file, 1, m_remote + "/*.txt", (m_local / "out").string());
        ASSERT_EQ(file->Execute(), S_OK) << LastDescription();
        EXPECT_EQ(ReadAll(m_local / "out" / "a.txt") + ReadAll(m_local / "out" / "b.txt"),
                  "alphabravo");
        EXPECT_EQ(RemoteNames(m_remote), "a.txt b.txt c.log sub");
    }
    {
        SCOPED_TRACE("move of a directory");
        ShellFilePtr file;
        Describe(file, 2, m_remote + "/s*", (m_local / "moved").string());
        ASSERT_EQ(file->Execute(), S_OK) << LastDescription();
        EXPECT_EQ(ReadAll(m_local / "moved" / "sub" / "d.txt"), "delta");
        EXPECT_EQ(RemoteNames(m_remote), "a.txt b.txt c.log");
    }
    {
        SCOPED_TRACE("delete");
        ShellFilePtr file;
        Describe(file, 3, m_remote + "/*", "");
        ASSERT_EQ(file->Execute(), S_OK) << LastDescription();
        EXPECT_EQ(RemoteNames(m_remote), "");
    }
    {
        SCOPED_TRACE("nothing matches");
        ShellFilePtr file;
        Describe(file, 1, m_remote + "/*.none", (m_local / "none").string());
        EXPECT_EQ(file->Execute(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, SecureShellFile, ::testing::Values("ftps", "sftp"));

// The server cuts the data connection's TLS half-way (and still claims success): the copy fails
// and the file already at the destination stays as it was, with no partial file beside it.
TEST(SecureShellFileCut, ATransferCutMidFileLeavesTheLocalFileUntouched)
{
    CTlsTestServer server(
        [](CTlsTestServer& self, CPeerConnection& control)
        {
            control.Send("220 ready\r\n");
            if (control.ReadLine() != "AUTH TLS\n")
                return;
            control.Send("234 go\r\n");
            if (!control.Accept(ETestCert::Good))
                return;
            for (const char* reply : {"200 PBSZ=0\r\n", "200 PROT now Private.\r\n", "331 pw?\r\n",
                                      "230 in\r\n", "200 Binary\r\n"})
            {
                control.ReadLine();
                control.Send(reply);
            }
            const std::string listing = "-rw-r--r--    1 0 0 100000 Jan 01 00:00 big.bin\r\n";
            for (int nTransfer = 0; nTransfer < 2; ++nTransfer)
            {
                control.ReadLine(); // PASV
                control.Send(self.PassiveReply());
                control.ReadLine(); // LIST, then RETR
                control.Send("150 Here it comes.\r\n");
                std::unique_ptr<CPeerConnection> data = self.AcceptData();
                if (!data || !data->Accept(ETestCert::Good))
                    return;
                if (nTransfer == 0)
                {
                    data->Send(listing);
                    data->Close();
                }
                else
                {
                    data->Send(std::string(50000, 'x'));
                    data->Drop();
                }
                control.Send("226 Transfer complete.\r\n");
            }
            control.ReadLine(); // QUIT
            control.Send("221 Goodbye.\r\n");
            control.ReadToEnd();
        });
    const fs::path dir = fs::temp_directory_path() / ("lvsecure-cut-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "big.bin") << "what was here";
    ::setenv("SSL_CERT_FILE", CTestPki::Get().CaFile().c_str(), 1);
    {
        ShellFilePtr file;
        file->put_Server(Bstr("ftps://127.0.0.1:" + std::to_string(server.Port())));
        file->put_Username(Bstr("alice"));
        file->put_Password(Bstr("s3cret"));
        file->put_From(Bstr("big.bin"));
        file->put_To(Bstr((dir / "big.bin").string()));
        EXPECT_EQ(file->Execute(), E_FAIL);
        EXPECT_NE(LastDescription().find("without close_notify"), std::string::npos)
            << LastDescription();
    }
    ::unsetenv("SSL_CERT_FILE");
    server.Join();
    EXPECT_EQ(ReadAll(dir / "big.bin"), "what was here");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

} // namespace
} // namespace lanvex
