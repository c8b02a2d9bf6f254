// lvSecureShell: the reply framing, and the component through the runtime against the real sshd
// that scripts/peers starts (logins, host keys, ps, a connection the server drops, psvigil-cli).
#include "lanvex/net/component_object.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/secure_shell.h"
#include "lanvex/net/session_cancel.h"

#include "platform/com/comrt.h"
#include "tests/lanvex/net/test_program.h"
#include "tests/platform/com/test_hive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using lanvex::FrameSecureShellReply;

struct FrameCase
{
    const char* Label;
    std::string_view Output;
    std::string_view Reply; // after the command line "ps\r\n"
};

const FrameCase kFrames[] = {
    {"NoOutput", "", "$ "},
    {"LineFeedsBecomeCrLf", "a\nb\n", "a\r\nb\r\n$ "},
    {"CrLfKept", "a\r\nb\r\n", "a\r\nb\r\n$ "},
    {"LastLineWithoutEnd", "a\nb", "a\r\nb\r\n$ "},
    {"LoneCrLeftAlone", "a\rb\n", "a\rb\r\n$ "},
    {"ZeroBytesKept", std::string_view("a\0b\n", 4), std::string_view("a\0b\r\n$ ", 7)},
};

TEST(SecureShellReply, FramedLikeATelnetReply)
{
    for (const FrameCase& c : kFrames)
    {
        SCOPED_TRACE(c.Label);
        EXPECT_EQ(FrameSecureShellReply("ps", c.Output), "ps\r\n" + std::string(c.Reply));
    }
}

std::string ErrorDescription()
{
    IErrorInfo* info = nullptr;
    std::string description;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr)
    {
        BSTR text = nullptr;
        info->GetDescription(&text);
        description = text ? WideToNarrow(std::u16string_view(text, SysStringLen(text))) : "";
        SysFreeString(text);
        info->Release();
    }
    return description;
}

// A host that takes the connection and never says a word: Connect gives up at its time-out, or
// as soon as the client signals its cancel descriptor.
TEST(SecureShellConnect, SilentHostEndsByTimeOutOrCancel)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0); // the kernel completes the handshake; nobody answers
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const int cancel = ::eventfd(0, EFD_CLOEXEC);
    for (const bool bCancel : {false, true})
    {
        SCOPED_TRACE(bCancel ? "cancelled" : "timed out");
        void* pv = nullptr;
        ASSERT_EQ(lanvex::CreateComponent<lanvex::lvSecureShell>(nullptr, IID_IlvTelnet, &pv),
                  S_OK);
        IlvTelnet* session = static_cast<IlvTelnet*>(pv);
        IlvCancel* canceller = nullptr;
        ASSERT_EQ(session->QueryInterface(IID_IlvCancel, reinterpret_cast<void**>(&canceller)),
                  S_OK);
        canceller->SetCancelDescriptor(cancel);
        canceller->Release();
        session->put_Address(CComBSTR(u"127.0.0.1"));
        session->put_Port(static_cast<SHORT>(ntohs(address.sin_port)));
        const uint64_t one = 1; // signalled before: every wait of the connect sees it
        if (bCancel)
        {
            ASSERT_EQ(::write(cancel, &one, sizeof one), 8);
        }
        EXPECT_EQ(session->Connect(), E_FAIL);
        EXPECT_NE(ErrorDescription().find(bCancel ? ": cancelled" : "no answer within 10 seconds"),
                  std::string::npos);
        EXPECT_EQ(session->IsConnected(), S_FALSE);
        session->Release();
    }
    ::close(cancel);
    ::close(listener);
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using lanvex::test::RunShell;

// The real thing: a private HOME (known_hosts, keys) and a private hive per test, so nothing of
// the account running the tests is read or written; no agent.
class RealSshServer : public testing::Test
{
  protected:
    void SetUp() override
    {
        const char* port = std::getenv("VIGIL_SSH_PORT");
        const char* user = std::getenv("VIGIL_SSH_USER");
        const char* password = std::getenv("VIGIL_SSH_PASSWORD");
        const char* key = std::getenv("VIGIL_SSH_KEY");
        const char* otherKey = std::getenv("VIGIL_SSH_OTHER_HOST_KEY");
        if (!port || !user || !password || !key || !otherKey)
            GTEST_SKIP() << "no sshd peer: run the tests through scripts/test as root "
                            "(scripts/peers starts OpenSSH's sshd)";
        m_port = port;
        m_user = user;
        m_password = password;
        m_key = key;
        m_otherKey = otherKey;
        m_dir = fs::temp_directory_path() / ("lanvex-ssh-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "home" / ".ssh");
        if (const char* home = std::getenv("HOME"))
            m_savedHome = home;
        if (const char* agent = std::getenv("SSH_AUTH_SOCK"))
            m_savedAgent = agent;
        ::setenv("HOME", (m_dir / "home").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        ::setenv("COMRT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
        ASSERT_EQ(RegisterServerModule(LANVEX_MODULE_PATH), S_OK);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        m_apartment = true;
    }
    void TearDown() override
    {
        if (m_session != nullptr)
            m_session->Release();
        if (m_apartment)
        {
            CoFreeUnusedLibraries();
            CoUninitialize();
        }
        if (m_dir.empty())
            return;
        m_savedHome.empty() ? ::unsetenv("HOME") : ::setenv("HOME", m_savedHome.c_str(), 1);
        if (!m_savedAgent.empty())
            ::setenv("SSH_AUTH_SOCK", m_savedAgent.c_str(), 1);
        ::unsetenv("COMRT_REGISTRY");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    fs::path KnownHosts() const { return m_dir / "home" / ".ssh" / "known_hosts"; }
    void InstallKey() const
    {
        fs::copy_file(m_key, m_dir / "home" / ".ssh" / "id_ed25519",
                      fs::copy_options::overwrite_existing);
    }

    // Connects a fresh session by CLSID; the description of the error object on failure.
    HRESULT Connect(const std::string& address, const std::string& port,
                    const std::string& password, std::string* description = nullptr)
    {
        if (m_session != nullptr)
            m_session->Release();
        m_session = nullptr;
        const HRESULT created =
            CoCreateInstance(CLSID_lvSecureShell, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet2,
                             reinterpret_cast<void**>(&m_session));
        if (FAILED(created))
            return created;
        m_session->put_Address(CComBSTR(std::string_view(address)));
        m_session->put_Username(CComBSTR(std::string_view(m_user)));
        m_session->put_Password(CComBSTR(std::string_view(password)));
        m_session->put_Port(static_cast<SHORT>(std::stoi(port)));
        const HRESULT hr = m_session->Connect();
        if (FAILED(hr) && description != nullptr)
            *description = ErrorDescription();
        return hr;
    }

    // Runs a command on the connected session; the reply, or the failure.
    std::string Run(const char16_t* command, HRESULT* hr)
    {
        *hr = m_session->Execute(CComBSTR(command));
        char* output = nullptr;
        LONG size = 0;
        m_session->GetOutput(&output, nullptr);
        m_session->GetOutputSize(&size);
        return output != nullptr ? std::string(output, static_cast<size_t>(size)) : std::string();
    }

    std::string m_port, m_user, m_password, m_key, m_otherKey, m_savedHome, m_savedAgent;
    fs::path m_dir;
    bool m_apartment = false;
    IlvTelnet2* m_session = nullptr;
};

struct LoginCase
{
    const char* Label;
    bool Key;
    const char* Address;
    const char* Port;     // null: the peer's
    const char* Password; // null: the peer's
    HRESULT Result;
    const char* Description; // part of it
};

const LoginCase kLogins[] = {
    {"Password", false, "127.0.0.1", nullptr, nullptr, S_OK, ""},
    {"KeyWithoutPassword", true, "127.0.0.1", nullptr, "", S_OK, ""},
    {"KeyBeforeAWrongPassword", true, "ssh://127.0.0.1", nullptr, "wrong", S_OK, ""},
    {"WrongPassword", false, "127.0.0.1", nullptr, "wrong", E_FAIL,
     "Authentication failed at 127.0.0.1"},
    {"NeitherKeyNorPassword", false, "127.0.0.1", nullptr, "", E_FAIL, "no password is set"},
    {"Refused", false, "127.0.0.1", "1", nullptr, E_FAIL, "Cannot connect to 127.0.0.1 port 1"},
    {"UnknownHost", false, "ssh://no-such-host.invalid", nullptr, nullptr, E_FAIL,
     "Cannot connect to no-such-host.invalid"},
};

TEST_F(RealSshServer, LoginsAndTheirFailures)
{
    for (const LoginCase& c : kLogins)
    {
        SCOPED_TRACE(c.Label);
        std::error_code ignored;
        fs::remove(m_dir / "home" / ".ssh" / "id_ed25519", ignored);
        if (c.Key)
            InstallKey();
        std::string description;
        EXPECT_EQ(Connect(c.Address, c.Port ? c.Port : m_port, c.Password ? c.Password : m_password,
                          &description),
                  c.Result);
        EXPECT_NE(description.find(c.Description), std::string::npos) << description;
        EXPECT_EQ(m_session->IsConnected(), c.Result == S_OK ? S_OK : S_FALSE);
    }
}

TEST_F(RealSshServer, NewHostIsRecordedAndAChangedKeyRefused)
{
    ASSERT_EQ(Connect("127.0.0.1", m_port, m_password), S_OK);
    const std::string recorded = ReadText(KnownHosts());
    EXPECT_EQ(recorded.rfind("[127.0.0.1]:" + m_port + " ssh-ed25519 ", 0), 0u) << recorded;
    ASSERT_EQ(Connect("127.0.0.1", m_port, m_password), S_OK); // recognised now

    // The entry now holds a key the server does not have, as after a reinstall of the host.
    std::istringstream other(ReadText(m_otherKey));
    std::string type, key;
    other >> type >> key;
    const std::string changed = "[127.0.0.1]:" + m_port + " " + type + " " + key + "\n";
    std::ofstream(KnownHosts(), std::ios::trunc) << changed;
    std::string description;
    EXPECT_EQ(Connect("127.0.0.1", m_port, m_password, &description), E_FAIL);
    EXPECT_NE(description.find("host key of 127.0.0.1 has changed"), std::string::npos)
        << description;
    EXPECT_EQ(m_session->IsConnected(), S_FALSE);
    EXPECT_EQ(ReadText(KnownHosts()), changed); // the user decides, not the component
}

TEST_F(RealSshServer, AgentHoldsTheOnlyKey)
{
    // Agents that never answer: one whose connection nobody accepts, and one whose queue is
    // full. Each costs at most its bounded time, and the password still logs in.
    for (const bool bQueueFull : {false, true})
    {
        SCOPED_TRACE(bQueueFull ? "queue full" : "never answers");
        const std::string hung = (m_dir / "hung-agent").string();
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        hung.copy(address.sun_path, sizeof address.sun_path - 1);
        const auto pAddress = reinterpret_cast<const sockaddr*>(&address);
        ASSERT_EQ(::bind(listener, pAddress, sizeof address), 0);
        ASSERT_EQ(::listen(listener, 0), 0);
        std::vector<int> waiting;
        while (bQueueFull && waiting.size() < 64)
        {
            waiting.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (::connect(waiting.back(), pAddress, sizeof address) != 0)
                break;
        }
        ::setenv("SSH_AUTH_SOCK", hung.c_str(), 1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Connect("127.0.0.1", m_port, m_password), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - start, lanvex::lvSecureShell::kConnectLimit);
        ::unsetenv("SSH_AUTH_SOCK");
        for (const int fd : waiting)
            ::close(fd);
        ::close(listener);
        ::unlink(hung.c_str());
    }
    const std::string socket = (m_dir / "agent").string();
    struct CAgentStop // the agent goes whatever the outcome
    {
        std::string PidFile;
        ~CAgentStop()
        {
            std::string ignored;
            RunShell("kill $(cat " + PidFile + ")", &ignored);
            ::unsetenv("SSH_AUTH_SOCK");
        }
    } stop{socket + ".pid"};
    std::string output;
    ASSERT_EQ(RunShell("eval $(ssh-agent -s -a " + socket +
                           ") >/dev/null && echo $SSH_AGENT_PID >" + stop.PidFile +
                           " && SSH_AUTH_SOCK=" + socket + " ssh-add " + m_key,
                       &output),
              0)
        << output;
    ::setenv("SSH_AUTH_SOCK", socket.c_str(), 1);
    EXPECT_EQ(Connect("127.0.0.1", m_port, ""), S_OK); // no key file, no password
}

TEST_F(RealSshServer, PsShowsThisProcessWithItsWholeCommandLine)
{
    InstallKey();
    ASSERT_EQ(Connect("127.0.0.1", m_port, ""), S_OK);
    HRESULT hr = E_FAIL;
    const std::string reply = Run(u"ps -ef", &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(reply.rfind("ps -ef\r\n", 0), 0u) << reply.substr(0, 200);
    EXPECT_EQ(reply.substr(reply.size() - 4), "\r\n$ ");
    for (size_t at = reply.find('\n'); at != std::string::npos; at = reply.find('\n', at + 1))
        ASSERT_EQ(reply[at - 1], '\r') << "a bare line feed at " << at;
    // /proc/self/cmdline: the arguments, each ended by a zero byte; ps joins them with blanks.
    std::string commandLine = ReadText("/proc/self/cmdline");
    commandLine.pop_back();
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    const std::string pid = " " + std::to_string(::getpid()) + " ";
    bool found = false;
    for (size_t begin = 0, end; (end = reply.find("\r\n", begin)) != std::string::npos;
         begin = end + 2)
    {
        const std::string line = reply.substr(begin, end - begin);
        if (line.find(pid) != std::string::npos && line.size() >= commandLine.size() &&
            line.compare(line.size() - commandLine.size(), commandLine.size(), commandLine) == 0)
            found = true;
    }
    EXPECT_TRUE(found) << "no line with" << pid << "ending in " << commandLine;

    // Far more than one channel window, and nothing of the tail lost at the channel's end.
    const std::string count = Run(u"seq 200000", &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(count.size(), std::string("seq 200000\r\n").size() + 1288895 + 200000 + 2);
    EXPECT_EQ(count.substr(count.size() - 12), "\r\n200000\r\n$ ");
}

TEST_F(RealSshServer, ConnectionDroppedByTheServerFailsOnceThenLogsInAgain)
{
    InstallKey();
    ASSERT_EQ(Connect("127.0.0.1", m_port, ""), S_OK);
    HRESULT hr = E_FAIL;
    // The command's parent is the server's process for this connection.
    Run(u"kill $PPID", &hr);
    Run(u"echo still", &hr);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(m_session->IsConnected(), S_FALSE);
    ASSERT_EQ(m_session->Connect(), S_OK);
    EXPECT_EQ(Run(u"echo again", &hr), "echo again\r\nagain\r\n$ ");
    EXPECT_EQ(hr, S_OK);
}

TEST_F(RealSshServer, PsvigilCliWatchesOnceWithTheUsersKey)
{
#ifdef CLI_PATH
    InstallKey();
    std::string output;
    const int status = RunShell("PSVIGIL_PASSWORD= " CLI_PATH " once ssh://127.0.0.1 --port " +
                                    m_port + " --user " + m_user,
                                &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("sshd: " + m_user.substr(0, 7)), std::string::npos) << output;
    EXPECT_NE(output.find("Refreshed"), std::string::npos) << output;
    // No terminal, so no cut at 80 columns: this process's row holds its whole command line.
    std::string commandLine = ReadText("/proc/self/cmdline").substr(0, 255);
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    while (!commandLine.empty() && commandLine.back() == ' ')
        commandLine.pop_back();
    EXPECT_NE(output.find("\t" + commandLine + "\n"), std::string::npos) << commandLine;
#else
    GTEST_SKIP() << "psvigil-cli is not built";
#endif
}

} // namespace
