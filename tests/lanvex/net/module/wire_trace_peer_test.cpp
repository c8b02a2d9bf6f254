// The wire trace as users turn it on (LANVEX_TRACE, psvigil-cli --trace) against the real
// telnet, FTP and SSH servers of scripts/peers: what the host said is there, the password is not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct PeerCase
{
    const char* Label;
    const char* Peer; // VIGIL_TELNET, VIGIL_FTP or VIGIL_SSH: its _PORT and _PASSWORD are used
    // A shell command; $DIR holds upload.txt (12 bytes), the trace goes to $DIR/trace.log.
    std::string Command;
    std::vector<std::string> Present;
};

void PrintTo(const PeerCase& c, std::ostream* os)
{
    *os << c.Label;
}

class WireTracePeerTest : public testing::TestWithParam<PeerCase>
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("wire_trace_peer_" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        std::ofstream(m_dir / "upload.txt") << "hello trace\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

TEST_P(WireTracePeerTest, ShowsTheConversationWithoutThePassword)
{
    const PeerCase& c = GetParam();
    const std::string peer = c.Peer;
    const char* password = std::getenv((peer + "_PASSWORD").c_str());
    if (!std::getenv((peer + "_PORT").c_str()) || !password)
        GTEST_SKIP() << "no " << peer << " peer: run through scripts/test as root";

    ::setenv("DIR", m_dir.c_str(), 1);
    ::setenv("COMRT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    ASSERT_EQ(std::system(COMREG_PATH " " LANVEX_MODULE_PATH " >/dev/null"), 0);
    // The trace is judged, not the command's own status.
    (void)!std::system((c.Command + " >/dev/null 2>&1").c_str());
    ::unsetenv("COMRT_REGISTRY");

    const fs::path trace = m_dir / "trace.log";
    const std::string text = ReadFile(trace);
    for (const std::string& expected : c.Present)
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing in\n" << text;
    // What a host sends back is its own business (a ps of this machine lists other tests'
    // command lines); what we send and note must never carry the password.
    std::istringstream lines(text);
    std::string line, ours;
    while (std::getline(lines, line))
        if (line.find(" < ") == std::string::npos)
            ours += line + '\n';
    EXPECT_EQ(ours.find(password), std::string::npos) << ours;
    EXPECT_EQ(ours.find("WrongPassword9"), std::string::npos) << ours;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Peers, WireTracePeerTest, testing::Values(
    PeerCase{"telnet login and a command", "VIGIL_TELNET",
             "LANVEX_TRACE=$DIR/trace.log " COMCALL_PATH " Lanvex.lvTelnet Address=127.0.0.1 Port=$VIGIL_TELNET_PORT "
             "Username=$VIGIL_TELNET_USER Password=$VIGIL_TELNET_PASSWORD Connect 'Execute(\"echo traced-$((6*7))\")'",
             {"lvTelnet > password line ****", "lvTelnet > echo traced-$((6*7))", "lvTelnet < traced-42"}},
    PeerCase{"psvigil-cli --trace with a wrong password", "VIGIL_TELNET",
             "PSVIGIL_PASSWORD=WrongPassword9 " CLI_PATH " once 127.0.0.1 --port $VIGIL_TELNET_PORT "
             "--user $VIGIL_TELNET_USER --trace $DIR/trace.log",
             {"lvTelnet * connecting to 127.0.0.1 port ", "lvTelnet < IAC DO ", "lvTelnet > IAC ",
              "lvTelnet > password line ****", "lvTelnet < Login incorrect"}},
    PeerCase{"FTP session", "VIGIL_FTP",
             "LANVEX_TRACE=$DIR/trace.log " COMCALL_PATH " Lanvex.lvFTPClient Address=127.0.0.1 Port=$VIGIL_FTP_PORT "
             "Username=$VIGIL_FTP_USER Password=$VIGIL_FTP_PASSWORD Connect "
             "\"WriteFile(\\\"$DIR/upload.txt\\\", \\\"wire-trace-$$.txt\\\")\" \"DeleteFile(\\\"wire-trace-$$.txt\\\")\"",
             {"lvFTPClient < 220", "lvFTPClient > USER ", "lvFTPClient > PASS ****", "lvFTPClient < 230",
              "lvFTPClient > PASV", "lvFTPClient > STOR wire-trace-", "lvFTPClient > 12 bytes of data",
              "lvFTPClient < 226"}},
    PeerCase{"SSH through psvigil-cli --trace", "VIGIL_SSH",
             "HOME=$DIR PSVIGIL_PASSWORD=$VIGIL_SSH_PASSWORD " CLI_PATH " once ssh://127.0.0.1 --port $VIGIL_SSH_PORT "
             "--user $VIGIL_SSH_USER --trace $DIR/trace.log",
             {"lvSecureShell * connecting to 127.0.0.1 port ", "lvSecureShell > userauth password ****",
              "lvSecureShell * authenticated", "lvSecureShell > ps auxw", "lvSecureShell < USER "}}));
// clang-format on

} // namespace
