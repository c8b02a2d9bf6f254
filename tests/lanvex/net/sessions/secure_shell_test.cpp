// lvSecureShell: the reply framing, and the component through the runtime against the real sshd
// that scripts/peers starts (logins, host keys, ps, a connection the server drops, psvigil-cli).
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/known_hosts.h"
#include "lanvex/net/sessions/secure_shell.h"
#include "lanvex/net/sessions/session_cancel.h"
#include "lanvex/net/transport/wire_text.h"

#include "platform/com/comrt.h"
#include "tests/lanvex/net/test_program.h"
#include "tests/platform/com/test_hive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;
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

struct JudgeCase
{
    const char* Label;
    lanvex::CommandOutcome Outcome;
    const char* Reason; // empty: the output is the answer
};

using End = lanvex::CommandOutcome::End;
const JudgeCase kJudgements[] = {
    {"Exit0", {End::Finished, 0, "", false, true, "noise\n"}, ""},
    {"Exit0PrintedNothing", {End::Finished, 0, "", false, false, ""}, ""},
    {"Exit1WithOutput", {End::Finished, 1, "", false, true, ""}, ""},
    {"Exit1Silent",
     {End::Finished, 1, "", false, false, "\r\n  \nps: bad option\r\nmore\n"},
     "the command exited with status 1 and printed nothing: ps: bad option"},
    {"NoExitStatus",
     {End::Finished, -1, "", false, true, ""},
     "the command ended without an exit status"},
    {"Signal",
     {End::Finished, -1, "KILL", false, true, ""},
     "the command was ended by signal KILL"},
    {"SignalWithCore",
     {End::Finished, 0, "SEGV", true, true, "boom"},
     "the command was ended by signal SEGV (core dumped): boom"},
    {"TimedOut",
     {End::TimedOut, 0, "", false, true, "slow"},
     "the command did not end within 7 s: slow"},
    {"Overflow", {End::Overflow, -1, "", false, true, ""}, "the command printed more than 32 MiB"},
};

TEST(SecureShellCommand, FailuresSayWhyWithTheFirstLineOfStandardError)
{
    for (const JudgeCase& c : kJudgements)
    {
        SCOPED_TRACE(c.Label);
        EXPECT_EQ(lanvex::JudgeCommand(c.Outcome, std::chrono::seconds(7)), c.Reason);
    }
    // A long line is cut between characters: 199 bytes of 'x', then a two-byte character.
    lanvex::CommandOutcome cut{End::Finished, 2,     "",
                               false,         false, std::string(199, 'x') + "\xC3\xA9" + "tail"};
    EXPECT_EQ(lanvex::JudgeCommand(cut, std::chrono::seconds(1)),
              "the command exited with status 2 and printed nothing: " + std::string(199, 'x'));
}

// Two keys: A is the one the lines below are about, B another.
constexpr const char* kKeyA =
    "AAAAC3NzaC1lZDI1NTE5AAAAIJl7zNN2WguJxUxMe0toNkXSG9O0+LQOMfsqaewRFeG3";
constexpr const char* kKeyB =
    "AAAAC3NzaC1lZDI1NTE5AAAAIHgaioXUFuK1KveUB4K6icXKWtCX+p1b9R+AOXBZmaM0";

struct ScanCase
{
    const char* Label;
    std::string Text; // {A} and {B} stand for the keys
    const char* Name;
    size_t Keys;        // readable entries for the name
    size_t ProblemLine; // 0: none
    size_t UnsureLine;  // 0: none
};

const ScanCase kScans[] = {
    {"Plain", "example.org ssh-ed25519 {A}\n", "example.org", 1, 0, 0},
    {"OtherHost", "other.org ssh-ed25519 {A}\n", "example.org", 0, 0, 0},
    {"CommentsAndBlanks", "# x\n\n  \t\nexample.org ssh-ed25519 {A} comment\n", "example.org", 1, 0,
     0},
    {"PortForm", "[127.0.0.1]:2222 ssh-ed25519 {A}\n127.0.0.1 ssh-ed25519 {B}\n",
     "[127.0.0.1]:2222", 1, 0, 0},
    {"ListCaseAndTabs", "a.org,EXAMPLE.org\tssh-ed25519\t{A}\r\n", "example.org", 1, 0, 0},
    {"Wildcards", "*.org ssh-ed25519 {A}\nex?mple.org ssh-ed25519 {B}\n", "example.org", 2, 0, 0},
    {"NegationWins", "*.org,!example.org ssh-ed25519 {A}\n", "example.org", 0, 0, 0},
    {"Hashed", "|1|AAECAwQFBgcICQoLDA0ODxAREhM=|bFDVYqbsfLlUB0fPAZemUYx8Gnc= ssh-ed25519 {A}\n",
     "example.org", 1, 0, 0},
    {"HashedOther",
     "|1|AAECAwQFBgcICQoLDA0ODxAREhM=|zKYaAqmSav3Qxr2sffNqWFIcbe4= ssh-ed25519 {A}\n",
     "example.org", 0, 0, 0},
    {"HashedDamaged", "|1|AAEC|nonsense ssh-ed25519 {A}\n", "example.org", 0, 0, 1},
    {"UnknownType", "x.org ssh-ed25519 {B}\nexample.org ssh-nonsense {A}\n", "example.org", 0, 2,
     0},
    {"BadBase64", "example.org ssh-ed25519 {B}\nexample.org ssh-ed25519 !!{A}\n", "example.org", 1,
     2, 0},
    {"TypeAndKeyDisagree", "example.org ssh-rsa {A}\n", "example.org", 0, 1, 0},
    {"Incomplete", "example.org ssh-ed25519\n", "example.org", 0, 1, 0},
    {"Revoked", "example.org ssh-ed25519 {B}\n@revoked * ssh-ed25519 {A}\n", "example.org", 1, 2,
     0},
    {"CertAuthority", "@cert-authority *.org ssh-ed25519 {A}\n", "example.org", 0, 1, 0},
    {"UnknownMarker", "@other example.org ssh-ed25519 {A}\n", "example.org", 0, 1, 0},
    {"MarkerForOtherHost", "@revoked other.org ssh-ed25519 {A}\n", "example.org", 0, 0, 0},
    {"NoLineEnd", "example.org ssh-ed25519 {A}", "example.org", 1, 0, 0},
};

std::string WithKeys(std::string text)
{
    for (const auto& [mark, key] : {std::pair{"{A}", kKeyA}, std::pair{"{B}", kKeyB}})
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, 3, key);
    return text;
}

TEST(KnownHosts, LinesThatConcernAHost)
{
    for (const ScanCase& c : kScans)
    {
        SCOPED_TRACE(c.Label);
        const lanvex::KnownHostsScan scan = lanvex::ScanKnownHosts(WithKeys(c.Text), c.Name);
        EXPECT_EQ(scan.Keys.size(), c.Keys);
        EXPECT_EQ(scan.ProblemLine, c.ProblemLine) << scan.Problem;
        EXPECT_EQ(scan.UnsureLine, c.UnsureLine);
    }
    EXPECT_EQ(lanvex::KnownHostsName("Example.ORG", 22), "example.org");
    EXPECT_EQ(lanvex::KnownHostsName("127.0.0.1", 2222), "[127.0.0.1]:2222");
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

// Polls until done() holds or the limit passes.
template <class Done> bool WaitFor(Done done, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;; std::this_thread::sleep_for(100ms))
    {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
    }
}

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
                    const std::string& password, std::string* description = nullptr,
                    const char* user = nullptr)
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
        // The user name and the password as a narrow client's bytes, UTF-8 or not.
        auto wire = [](std::string_view text)
        { return CComBSTR(std::u16string_view(lanvex::WireTextToWide(text))); };
        m_session->put_Username(wire(user != nullptr ? user : m_user));
        m_session->put_Password(wire(password));
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
    const char* Description;      // part of it
    const char* User = nullptr;   // null: the peer's
    const char* Logged = nullptr; // what the server's log then holds
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
    // Latin-1, not UTF-8: the server sees the very bytes (its log writes them in octal).
    {"NonUtf8UserByteForByte", false, "127.0.0.1", nullptr, nullptr, E_FAIL,
     "Authentication failed", "caf\xE9", "Invalid user caf\\351 from 127.0.0.1"},
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
                          &description, c.User),
                  c.Result);
        EXPECT_NE(description.find(c.Description), std::string::npos) << description;
        EXPECT_EQ(m_session->IsConnected(), c.Result == S_OK ? S_OK : S_FALSE);
        if (c.Logged != nullptr && std::getenv("VIGIL_SSH_LOG") != nullptr)
        {
            // The server writes its log line as it refuses; give it a moment.
            bool bLogged = false;
            for (int i = 0; i < 50 && !bLogged; ++i, std::this_thread::sleep_for(100ms))
                bLogged =
                    ReadText(std::getenv("VIGIL_SSH_LOG")).find(c.Logged) != std::string::npos;
            EXPECT_TRUE(bLogged) << c.Logged;
        }
        // What the component kept of the password is gone once it disconnects.
        CComBSTR password;
        m_session->Disconnect();
        m_session->get_Password(&password);
        EXPECT_EQ(password.Length(), 0u);
    }
}

TEST_F(RealSshServer, NewHostIsRecordedAndAChangedKeyRefused)
{
    // Checks that read the file before the first login recorded the key, as when many hosts
    // are watched at once: the same host is recognised, another one is added after it.
    const unsigned int port = static_cast<unsigned int>(std::stoi(m_port));
    lanvex::CKnownHostsCheck same(KnownHosts().string(), "127.0.0.1", port);
    lanvex::CKnownHostsCheck another(KnownHosts().string(), "localhost", port);
    ASSERT_EQ(Connect("127.0.0.1", m_port, m_password), S_OK);
    const std::string recorded = ReadText(KnownHosts());
    EXPECT_EQ(recorded.rfind("[127.0.0.1]:" + m_port + " ssh-ed25519 ", 0), 0u) << recorded;
    ASSERT_EQ(Connect("127.0.0.1", m_port, m_password), S_OK); // recognised now
    ssh_session raw = ssh_new();
    ssh_options_set(raw, SSH_OPTIONS_HOST, "127.0.0.1");
    ssh_options_set(raw, SSH_OPTIONS_PORT, &port);
    same.Prepare(raw);
    ASSERT_EQ(ssh_connect(raw), SSH_OK);
    EXPECT_EQ(same.Verify(raw), "");
    EXPECT_EQ(ReadText(KnownHosts()), recorded);
    EXPECT_EQ(another.Verify(raw), "");
    EXPECT_EQ(ReadText(KnownHosts()).rfind(recorded + "[localhost]:" + m_port + " ", 0), 0u);
    ssh_disconnect(raw);
    ssh_free(raw);

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

// A command past its time is signalled and its channel closed: nothing is left running, and the
// session goes on (OpenSSH takes signals, except for forced commands).
TEST_F(RealSshServer, CommandPastItsTimeIsEndedAndTheSessionGoesOn)
{
    InstallKey();
    ASSERT_EQ(Connect("127.0.0.1", m_port, ""), S_OK);
    ::setenv("LANVEX_SSH_EXECUTE_SECONDS", "1", 1);
    HRESULT hr = S_OK;
    EXPECT_EQ(Run(u"echo started; sleep 301", &hr), "");
    ::unsetenv("LANVEX_SSH_EXECUTE_SECONDS");
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(ErrorDescription(), "the command did not end within 1 s");
    std::string left;
    EXPECT_TRUE(WaitFor(
        [&] { return RunShell("pgrep -u " + m_user + " -f 'sleep 301'", &left) != 0; }, 10s))
        << left;
    EXPECT_EQ(Run(u"echo on", &hr), "echo on\r\non\r\n$ ");
    EXPECT_EQ(hr, S_OK) << ErrorDescription();
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

// What stands at the place of known_hosts.
enum class Plant
{
    Text,          // the text, {NAME}, {KEY} (the server's) and {OTHER} (another) filled in
    HashedText,    // the same, its names then hashed by ssh-keygen
    Oversize,      // comments past the bound
    Fifo,          // a FIFO nobody writes to
    Directory,     // a directory
    Device,        // a link to a character device
    NotADirectory, // .ssh is a file, so known_hosts cannot be opened
};

struct HostKeyCase
{
    const char* Label;
    Plant What;
    const char* Text;
    const char* Reason; // part of the description; null: accepted
};

const HostKeyCase kHostKeys[] = {
    {"DamagedTypeBesideAnotherHost", Plant::Text,
     "other.example ssh-ed25519 {OTHER}\n{NAME} ssh-nonsense {KEY}\n",
     "known_hosts line 2: the entry for this host has an unknown key type ssh-nonsense"},
    {"DamagedKeyBesideADifferentKey", Plant::Text,
     "{NAME} ssh-ed25519 {OTHER}\n{NAME} ssh-ed25519 AAAA{KEY}\n",
     "known_hosts line 2: the key of the entry for this host cannot be read"},
    {"RevokedServerKey", Plant::Text, "{NAME} ssh-ed25519 {KEY}\n@revoked * ssh-ed25519 {KEY}\n",
     "known_hosts line 2: a key of this host is marked @revoked"},
    {"CertAuthority", Plant::Text, "@cert-authority [127.0.0.1]:* ssh-ed25519 {OTHER}\n",
     "known_hosts line 1: this host is to present a certificate"},
    {"Oversize", Plant::Oversize, "", "known_hosts is larger than 16 MiB"},
    {"Fifo", Plant::Fifo, "", "known_hosts is not a regular file"},
    {"Directory", Plant::Directory, "", "known_hosts is not a regular file"},
    {"Device", Plant::Device, "", "known_hosts is not a regular file"},
    {"Unreadable", Plant::NotADirectory, "", "cannot open"},
    {"HashedEntryOfTheServer", Plant::HashedText, "{NAME} ssh-ed25519 {KEY}\n", nullptr},
};

// How a path stands: its type and, for a regular file, its bytes.
std::string Snapshot(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    std::string image = std::to_string(static_cast<int>(status.type()));
    if (status.type() == fs::file_type::regular)
        image += ":" + ReadText(path);
    return image;
}

TEST_F(RealSshServer, HostKeysThatCannotBeCheckedAreRefusedAndTheFileLeftAlone)
{
    std::istringstream keys(ReadText(fs::path(m_otherKey).parent_path() / "host_key.pub") + " " +
                            ReadText(m_otherKey));
    std::string type, key, comment, otherType, other;
    keys >> type >> key >> comment >> otherType >> other;
    const fs::path ssh = m_dir / "home" / ".ssh";
    for (const HostKeyCase& c : kHostKeys)
    {
        SCOPED_TRACE(c.Label);
        fs::remove_all(ssh);
        fs::create_directories(ssh);
        std::string text = c.Text;
        for (const auto& [mark, value] :
             {std::pair<std::string, std::string>{"{NAME}", "[127.0.0.1]:" + m_port},
              {"{KEY}", key},
              {"{OTHER}", other}})
            for (size_t at; (at = text.find(mark)) != std::string::npos;)
                text.replace(at, mark.size(), value);
        std::string ignored;
        switch (c.What)
        {
        case Plant::Text:
        case Plant::HashedText:
            std::ofstream(KnownHosts()) << text;
            if (c.What == Plant::HashedText)
            {
                ASSERT_EQ(RunShell("ssh-keygen -q -H -f " + KnownHosts().string(), &ignored), 0);
                fs::remove(KnownHosts().string() + ".old");
            }
            break;
        case Plant::Oversize:
            std::ofstream(KnownHosts()) << std::string(lanvex::kKnownHostsMaxBytes, '#') << "\n";
            break;
        case Plant::Fifo:
            ASSERT_EQ(::mkfifo(KnownHosts().c_str(), 0600), 0);
            break;
        case Plant::Directory:
            fs::create_directory(KnownHosts());
            break;
        case Plant::Device:
            fs::create_symlink("/dev/zero", KnownHosts());
            break;
        case Plant::NotADirectory:
            fs::remove_all(ssh);
            std::ofstream(ssh) << "not a folder\n";
            break;
        }
        const std::string before = Snapshot(c.What == Plant::NotADirectory ? ssh : KnownHosts());
        std::string description;
        EXPECT_EQ(Connect("127.0.0.1", m_port, m_password, &description),
                  c.Reason == nullptr ? S_OK : E_FAIL);
        if (c.Reason != nullptr)
        {
            EXPECT_NE(description.find(c.Reason), std::string::npos) << description;
            EXPECT_EQ(m_session->IsConnected(), S_FALSE);
        }
        EXPECT_EQ(Snapshot(c.What == Plant::NotADirectory ? ssh : KnownHosts()), before);
    }
}

struct ScriptedCase
{
    const char* Mode;   // what the scripted port's command does (scripts/peers)
    const char* Reason; // null: the refresh works
};

const ScriptedCase kScripted[] = {
    {"flood", "the command printed more than 32 MiB"},
    {"sleep", "the command did not end within 2 s"},
    {"fail",
     "the command exited with status 3 and printed nothing: vigil: ps is not available here"},
    {"warn", nullptr},
};

// Commands that flood, hang or fail: psvigil-cli once says why and exits 1, and a running watch
// reports the failure and keeps its rows (no row reported gone). A warning on standard error
// never becomes a row.
TEST_F(RealSshServer, CommandsThatFailAreReportedAndTheRowsKept)
{
#ifdef CLI_PATH
    const char* scripted = std::getenv("VIGIL_SSH_SCRIPTED_PORT");
    const char* modeFile = std::getenv("VIGIL_SSH_SCRIPT_MODE");
    if (scripted == nullptr || modeFile == nullptr)
        GTEST_SKIP() << "the sshd peer has no scripted port";
    InstallKey();
    auto setMode = [&](const char* mode)
    { std::ofstream(modeFile, std::ios::trunc) << mode << "\n"; };
    struct CModeReset
    {
        std::function<void(const char*)> Set;
        ~CModeReset() { Set(""); }
    } reset{setMode};
    ::setenv("LANVEX_SSH_EXECUTE_SECONDS", "2", 1);
    ::setenv("PSVIGIL_PASSWORD", "", 1);
    const std::vector<std::string> host = {"ssh://127.0.0.1", "--port", scripted, "--user", m_user};
    const fs::path out = m_dir / "watch.out", err = m_dir / "watch.err";
    auto count = [](const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    for (const ScriptedCase& c : kScripted)
    {
        SCOPED_TRACE(c.Mode);
        setMode("");
        const std::string expected =
            c.Reason != nullptr ? std::string("Unable to refresh: ") + c.Reason : "Refreshed";
        fs::remove(out);
        fs::remove(err);
        const pid_t watch = ::fork();
        ASSERT_GE(watch, 0);
        if (watch == 0)
        {
            if (::freopen(out.c_str(), "w", stdout) == nullptr ||
                ::freopen(err.c_str(), "w", stderr) == nullptr)
                ::_exit(127);
            std::vector<std::string> args = {CLI_PATH, "watch", "--refresh", "1"};
            args.insert(args.begin() + 2, host.begin(), host.end());
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(CLI_PATH, argv.data());
            ::_exit(127);
        }
        EXPECT_TRUE(
            WaitFor([&] { return ReadText(err).find("Refreshed") != std::string::npos; }, 30s))
            << ReadText(err);
        const size_t nBefore = count(ReadText(err), expected);
        setMode(c.Mode);
        // From the first refresh in the new mode on, a failing one prints no row at all: none
        // is reported gone (a working one reports those that ended meanwhile).
        EXPECT_TRUE(WaitFor([&] { return count(ReadText(err), expected) >= nBefore + 1; }, 60s))
            << ReadText(err);
        const size_t nRowsBefore = ReadText(out).size();
        EXPECT_TRUE(WaitFor([&] { return count(ReadText(err), expected) >= nBefore + 2; }, 60s))
            << ReadText(err);
        ::kill(watch, SIGTERM);
        int status = 0;
        ::waitpid(watch, &status, 0);
        const std::string rows = ReadText(out);
        EXPECT_NE(rows.find("+\t"), std::string::npos) << rows.substr(0, 300);
        if (c.Reason != nullptr)
        {
            EXPECT_EQ(rows.substr(nRowsBefore), "");
        }
        EXPECT_EQ(rows.find("vigil: warning"), std::string::npos);

        std::vector<std::string> once = {CLI_PATH, "once"};
        once.insert(once.end(), host.begin(), host.end());
        std::string output;
        const int exitCode = lanvex::test::RunProgram(once, &output);
        EXPECT_EQ(exitCode, c.Reason != nullptr ? 1 : 0) << output;
        EXPECT_NE(output.find(expected), std::string::npos) << output.substr(0, 500);
        EXPECT_EQ(output.find("vigil: warning"), std::string::npos);
    }
    ::unsetenv("LANVEX_SSH_EXECUTE_SECONDS");
    ::unsetenv("PSVIGIL_PASSWORD");
#else
    GTEST_SKIP() << "psvigil-cli is not built";
#endif
}

} // namespace
