// The SFTP session against OpenSSH's internal-sftp from scripts/peers (skipped without it): the
// login with a new host key recorded and a changed one refused before any login, a listing, an
// upload and a byte-exact download, removal, and a cancel that ends a wait at once.
#include "lanvex/ftp/sftp_session.h"
#include "tests/lanvex/ftp/ftp_test_support.h"
#include "tests/lanvex/net/scripted_server.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lanvex
{
namespace
{

namespace fs = std::filesystem;
using lanvex::test::ReadAll;

// A private HOME (known_hosts) and a local folder; the peer's account and port.
class SftpPeer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* pszPort = std::getenv("VIGIL_SSH_PORT");
        if (pszPort == nullptr || std::getenv("VIGIL_SSH_PASSWORD") == nullptr)
            GTEST_SKIP() << "no sshd peer (source scripts/peers start as root)";
        m_nPort = std::atoi(pszPort);
        m_user = std::getenv("VIGIL_SSH_USER");
        m_password = std::getenv("VIGIL_SSH_PASSWORD");
        m_dir = fs::temp_directory_path() / ("lanvex-sftp-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "home" / ".ssh");
        if (const char* pszHome = std::getenv("HOME"))
            m_savedHome = pszHome;
        ::setenv("HOME", (m_dir / "home").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
    }
    void TearDown() override
    {
        if (m_dir.empty())
            return;
        m_savedHome.empty() ? ::unsetenv("HOME") : ::setenv("HOME", m_savedHome.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    bool Connect(CSftpSession& session)
    {
        return session.Connect("127.0.0.1", m_nPort, m_user, m_password);
    }

    int m_nPort = 0;
    std::string m_user, m_password, m_savedHome;
    fs::path m_dir;
};

TEST_F(SftpPeer, LogsInListsUploadsDownloadsByteExactAndRemoves)
{
    CSftpSession session;
    ASSERT_TRUE(Connect(session)) << session.Failure();
    EXPECT_NE(ReadAll(m_dir / "home" / ".ssh" / "known_hosts").find("ssh-ed25519"),
              std::string::npos); // recorded on first sight

    std::string bytes(3 * CSftpSession::kReadBlock + 1234, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 1000);
    const fs::path up = m_dir / "up.bin";
    std::ofstream(up, std::ios::binary) << bytes;
    const std::string dir = "lanvex-sftp-test-" + std::to_string(::getpid());
    ASSERT_TRUE(session.MakeDirectory(dir)) << session.Failure();
    FILE* pIn = std::fopen(up.c_str(), "rb");
    ASSERT_TRUE(session.Upload(pIn, dir + "/file.bin")) << session.Failure();
    std::fclose(pIn);

    std::vector<CSftpSession::Entry> entries;
    ASSERT_TRUE(session.List(dir, &entries, 100)) << session.Failure();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "file.bin");
    EXPECT_EQ(entries[0].Size, static_cast<int64_t>(bytes.size()));
    EXPECT_FALSE(entries[0].IsDirectory);
    EXPECT_TRUE(session.IsDirectory(dir));

    const fs::path down = m_dir / "down.bin";
    FILE* pOut = nullptr;
    auto open = [&] { return pOut = std::fopen(down.c_str(), "wb"); };
    int64_t nGot = 0;
    EXPECT_FALSE(session.Download(dir + "/missing", open, INT64_MAX, &nGot));
    EXPECT_EQ(pOut, nullptr); // refused before anything local was made
    EXPECT_TRUE(session.Download(dir + "/file.bin", open, INT64_MAX, &nGot)) << session.Failure();
    std::fclose(pOut);
    EXPECT_EQ(nGot, static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(ReadAll(down) == bytes);
    // A limit below the size is a failure, not a cut file taken as whole.
    EXPECT_FALSE(session.Download(dir + "/file.bin", open, 1000, &nGot));
    std::fclose(pOut);
    EXPECT_NE(session.Failure().find("more than 1000 bytes"), std::string::npos);

    CSftpSession again; // the failure above left the first session usable; a fresh one too
    ASSERT_TRUE(Connect(again)) << again.Failure();
    EXPECT_FALSE(again.Remove(dir + "/missing"));
    EXPECT_NE(again.Failure().find("no such file"), std::string::npos) << again.Failure();
    EXPECT_TRUE(session.Remove(dir + "/file.bin")) << session.Failure();
    EXPECT_TRUE(session.RemoveDirectory(dir)) << session.Failure();
}

TEST_F(SftpPeer, AChangedHostKeyIsRefusedBeforeAnyLogin)
{
    const char* pszOther = std::getenv("VIGIL_SSH_OTHER_HOST_KEY");
    ASSERT_NE(pszOther, nullptr);
    std::ofstream(m_dir / "home" / ".ssh" / "known_hosts")
        << "[127.0.0.1]:" << m_nPort << " " << ReadAll(pszOther);
    CSftpSession session;
    EXPECT_FALSE(Connect(session));
    EXPECT_NE(session.Failure().find("has changed"), std::string::npos) << session.Failure();
    EXPECT_FALSE(session.IsConnected());
}

// A server that never answers: the caller's cancel ends the connect at once.
TEST(SftpSession, ACancelEndsAWaitAtOnce)
{
    test::CScriptedServer silent({{test::Silence(5000)}});
    const int cancel = ::eventfd(1, EFD_CLOEXEC); // already readable
    CSftpSession session;
    session.SetCancelDescriptor(cancel);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.Connect("127.0.0.1", silent.Port(), "nobody", "x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_NE(session.Failure().find("cancelled"), std::string::npos) << session.Failure();
    ::close(cancel);
}

} // namespace
} // namespace lanvex
