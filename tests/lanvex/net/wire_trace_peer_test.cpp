// The wire trace as users turn it on (LANVEX_TRACE, psvigil-cli --trace) against the real
// telnet and FTP servers of scripts/peers: what the host said is there, the password is not.
#include <gtest/gtest.h>

#include <cstdio>
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

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Single quotes for the shell.
std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

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
    const char* PortVariable; // the peer the case needs
    // The command line; {port}, {user}, {password}, {trace}, {upload} (a 12-byte file) and
    // {pid} are filled in.
    std::string Command;
    std::vector<std::string> Present;
};

void PrintTo(const PeerCase& c, std::ostream* os)
{
    *os << c.Label;
}

std::string Fill(std::string text, const std::string& key, const std::string& value)
{
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    return text;
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
    const bool ftp = std::string(c.PortVariable) == "VIGIL_FTP_PORT";
    const std::string port = Env(c.PortVariable);
    const std::string user = Env(ftp ? "VIGIL_FTP_USER" : "VIGIL_TELNET_USER");
    const std::string password = Env(ftp ? "VIGIL_FTP_PASSWORD" : "VIGIL_TELNET_PASSWORD");
    if (port.empty() || user.empty() || password.empty())
        GTEST_SKIP() << "no " << c.PortVariable << ": run through scripts/test as root";

    const fs::path hive = m_dir / "registry.reg";
    const fs::path trace = m_dir / "trace.log";
    std::string command = Fill(c.Command, "{port}", port);
    command = Fill(command, "{user}", Quote(user));
    command = Fill(command, "{password}", Quote(password));
    command = Fill(command, "{trace}", Quote(trace.string()));
    command = Fill(command, "{upload}", (m_dir / "upload.txt").string());
    command = Fill(command, "{pid}", std::to_string(::getpid()));
    const std::string prefix = "COMRT_REGISTRY=" + Quote(hive.string()) + " ";
    ASSERT_EQ(std::system((prefix + COMREG_PATH " " LANVEX_MODULE_PATH " >/dev/null").c_str()), 0);
    std::system((prefix + command + " >/dev/null 2>&1").c_str());

    const std::string text = ReadFile(trace);
    for (const std::string& expected : c.Present)
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing in\n" << text;
    EXPECT_EQ(text.find(password), std::string::npos) << text;
    EXPECT_EQ(text.find("WrongPassword9"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Peers, WireTracePeerTest,
    testing::Values(
        PeerCase{"telnet login refused",
                 "VIGIL_TELNET_PORT",
                 "LANVEX_TRACE={trace} " COMCALL_PATH " Lanvex.lvTelnet Address=127.0.0.1 "
                 "Port={port} Username={user} Password=WrongPassword9 Connect",
                 {"lvTelnet * connecting to 127.0.0.1 port ", "lvTelnet < IAC DO ",
                  "lvTelnet > IAC ", "lvTelnet > password line ****",
                  "lvTelnet < Login incorrect"}},
        PeerCase{"telnet login and a command",
                 "VIGIL_TELNET_PORT",
                 "LANVEX_TRACE={trace} " COMCALL_PATH " Lanvex.lvTelnet Address=127.0.0.1 "
                 "Port={port} Username={user} Password={password} Connect "
                 "'Execute(\"echo traced-$((6*7))\")' Disconnect",
                 {"lvTelnet > password line ****", "lvTelnet > echo traced-$((6*7))",
                  "lvTelnet < traced-42"}},
        PeerCase{"psvigil-cli --trace with a wrong password",
                 "VIGIL_TELNET_PORT",
                 "PSVIGIL_PASSWORD=WrongPassword9 " CLI_PATH " once 127.0.0.1 --port {port} "
                 "--user {user} --trace {trace}",
                 {"lvTelnet > password line ****", "lvTelnet < Login incorrect"}},
        PeerCase{"FTP session",
                 "VIGIL_FTP_PORT",
                 "LANVEX_TRACE={trace} " COMCALL_PATH " Lanvex.lvFTPClient Address=127.0.0.1 "
                 "Port={port} Username={user} Password={password} Connect "
                 "'WriteFile(\"{upload}\", \"wire-trace-{pid}.txt\")' "
                 "'DeleteFile(\"wire-trace-{pid}.txt\")' Disconnect",
                 {"lvFTPClient < 220", "lvFTPClient > USER ", "lvFTPClient > PASS ****",
                  "lvFTPClient < 230", "lvFTPClient > PASV", "lvFTPClient > STOR wire-trace-",
                  "lvFTPClient > 12 bytes of data", "lvFTPClient < 226"}}));

} // namespace
