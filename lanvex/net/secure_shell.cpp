// lvSecureShell: the telnet session's interfaces over SSH (libssh).
#include "lanvex/net/secure_shell.h"

#include "lanvex/net/component_error.h"
#include "lanvex/net/wire_trace.h"

#include "platform/com/conversion.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace lanvex
{

namespace
{

constexpr std::string_view kScheme = "ssh://";
// What a shell prompt ends in, so that a reader looking for one finds it.
constexpr std::string_view kPrompt = "$ ";
// Replies of at most this many prompt rounds are answered with the password.
constexpr int kMaxKeyboardRounds = 8;
// The longest single wait: a cancel is seen within it even while the socket cannot be watched
// (a connect before libssh has its socket).
constexpr int kWaitSliceMs = 10;

std::string NarrowText(BSTR text)
{
    return text != nullptr ? WideToNarrow(std::u16string_view(text, SysStringLen(text)))
                           : std::string();
}

// The folder holding known_hosts and the user's keys. HOME comes first, as for OpenSSH's
// tools, so that a changed HOME (tests, sandboxes) never touches the account's own files.
std::string UserSshDirectory()
{
    if (const char* pszHome = std::getenv("HOME"); pszHome != nullptr && *pszHome != '\0')
        return std::string(pszHome) + "/.ssh";
    char buffer[4096];
    passwd entry{};
    passwd* pFound = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &pFound) == 0 && pFound != nullptr)
        return std::string(pFound->pw_dir) + "/.ssh";
    return ".ssh";
}

// Encrypted keys are skipped rather than asked for: nobody may be there to type a passphrase.
int NoPassphrase(const char*, char*, size_t, int, int, void*)
{
    return -1;
}

// libssh waits on the SSH agent without any bound, so an agent that stops answering (a stale
// forwarded socket, a stopped process, a full queue) would hold the login forever, past the
// deadline and the client's cancel. The session therefore gets an agent connection of our own,
// and while this object lives a watcher cuts it off when the limit passes or the client
// cancels: libssh then finds the agent gone and goes on with the key files and the password.
class CAgentWatch
{
  public:
    CAgentWatch(ssh_session session, int cancelFd, std::chrono::steady_clock::time_point limit)
    {
        const char* pszPath = std::getenv("SSH_AUTH_SOCK");
        if (pszPath == nullptr || *pszPath == '\0')
            return; // no agent
        // What an agent that is gone looks like: reads end at once, writes are taken (and not
        // answered with SIGPIPE, which would end the whole program).
        int gone[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gone) != 0)
            return;
        ::shutdown(gone[1], SHUT_WR);
        m_goneSink = gone[1];
        const int agentFd = ConnectAgent(pszPath);
        // Unreachable: libssh must not try again itself, with a connect that would wait.
        // From here the session owns the descriptor it is given and closes it when it is
        // freed, which happens only after this object has stopped watching.
        if (agentFd < 0)
        {
            if (ssh_set_agent_socket(session, gone[0]) != SSH_OK)
                ::close(gone[0]);
            return;
        }
        m_stopFd = ::eventfd(0, EFD_CLOEXEC);
        const int watchFd = ::dup(agentFd);
        if (m_stopFd < 0 || watchFd < 0 || ssh_set_agent_socket(session, agentFd) != SSH_OK)
        {
            for (const int fd : {agentFd, watchFd, gone[0]})
                if (fd >= 0)
                    ::close(fd);
            return;
        }
        // The session's descriptor becomes the gone agent; a call waiting on the real one is
        // woken by its shutdown.
        auto cutOff = [=]
        {
            ::dup2(gone[0], agentFd);
            ::shutdown(watchFd, SHUT_RDWR);
        };
        auto release = [=]
        {
            ::close(watchFd);
            ::close(gone[0]);
        };
        try
        {
            m_thread = std::thread(
                [=, stopFd = m_stopFd]
                {
                    if (!Watch(stopFd, cancelFd, limit))
                        cutOff();
                    release();
                });
        }
        catch (const std::system_error&)
        {
            cutOff(); // no watcher, no agent: the login must stay bounded
            release();
        }
    }

    ~CAgentWatch()
    {
        if (m_thread.joinable())
        {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(m_stopFd, &one, sizeof one);
            m_thread.join();
        }
        for (const int fd : {m_stopFd, m_goneSink})
            if (fd >= 0)
                ::close(fd);
    }

    CAgentWatch(const CAgentWatch&) = delete;
    CAgentWatch& operator=(const CAgentWatch&) = delete;

  private:
    static int ConnectAgent(const char* pszPath)
    {
        sockaddr_un address{};
        if (std::strlen(pszPath) >= sizeof address.sun_path)
            return -1;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, pszPath, std::strlen(pszPath) + 1);
        // Without blocking: a listener whose queue is full would otherwise hold the connect.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        {
            ::close(fd);
            return -1;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK); // as libssh's own would be
        return fd;
    }

    // True when the login finished with the agent in time; false when the limit passed or the
    // client cancelled.
    static bool Watch(int stopFd, int cancelFd, std::chrono::steady_clock::time_point limit)
    {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        for (;;)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  limit - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            const int nReady = ::poll(fds, cancelFd >= 0 ? 2 : 1,
                                      static_cast<int>(std::min<long long>(left, 1000)));
            if (nReady > 0 && fds[0].revents != 0)
                return true;
            if (nReady > 0 && fds[1].revents != 0)
                return false;
        }
    }

    int m_stopFd = -1;
    int m_goneSink = -1; // the gone agent's other end, kept open so that writes are taken
    std::thread m_thread;
};

} // namespace

std::string_view SecureShellHostName(std::string_view address)
{
    if (address.size() >= kScheme.size() &&
        ::strncasecmp(address.data(), kScheme.data(), kScheme.size()) == 0)
        address.remove_prefix(kScheme.size());
    return address;
}

std::string FrameSecureShellReply(std::string_view command, std::string_view output)
{
    std::string reply;
    reply.reserve(command.size() + output.size() + output.size() / 32 + 8);
    reply.append(command);
    reply.append("\r\n");
    for (size_t i = 0; i < output.size(); ++i)
    {
        if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r'))
            reply.push_back('\r');
        reply.push_back(output[i]);
    }
    if (!output.empty() && output.back() != '\n')
        reply.append("\r\n");
    reply.append(kPrompt);
    return reply;
}

lvSecureShell::lvSecureShell()
{
    lvTelnet::put_Port(22);
    m_callbacks.auth_function = &NoPassphrase;
    ssh_callbacks_init(&m_callbacks);
}

lvSecureShell::~lvSecureShell()
{
    lvSecureShell::Disconnect();
}

HRESULT lvSecureShell::Fail(HRESULT hr, const std::string& description)
{
    Disconnect();
    return ReportComponentError(hr, CLSID_lvSecureShell, IID_IlvTelnet, description);
}

HRESULT lvSecureShell::SetCancelDescriptor(LONG fd)
{
    m_cancelFd = fd >= 0 ? static_cast<int>(fd) : -1;
    return S_OK;
}

lvSecureShell::WaitEnd lvSecureShell::Wait(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return m_lastWait = WaitEnd::Expired;
    pollfd fds[2] = {{m_cancelFd, POLLIN, 0}, {ssh_get_fd(m_session), POLLIN, 0}};
    const bool bSocket = fds[1].fd >= 0;
    // The socket wakes the wait when it is known; otherwise only slices pass.
    const int nWait = static_cast<int>(std::min<long long>(left, bSocket ? 250 : kWaitSliceMs));
    if (m_cancelFd < 0)
        fds[0].fd = -1; // poll ignores negative descriptors
    ::poll(fds, bSocket ? 2 : 1, nWait);
    if (fds[0].revents != 0)
        return m_lastWait = WaitEnd::Cancelled;
    return m_lastWait = WaitEnd::Ready;
}

template <class Call> int lvSecureShell::Pump(Call call, int again, Clock::time_point deadline)
{
    m_lastWait = WaitEnd::Ready;
    for (;;)
    {
        const int rc = call();
        if (rc != again || Wait(deadline) != WaitEnd::Ready)
            return rc;
    }
}

std::string lvSecureShell::WaitFailure(std::chrono::seconds limit) const
{
    if (m_lastWait == WaitEnd::Cancelled)
        return "cancelled";
    return "no answer within " + std::to_string(limit.count()) + " seconds";
}

HRESULT lvSecureShell::Connect()
{
    Disconnect();
    try
    {
        CComBSTR address, password;
        SHORT nPort = 22;
        get_Address(&address);
        get_Password(&password);
        get_Port(&nPort);
        const std::string host(SecureShellHostName(NarrowText(address)));
        m_password = NarrowText(password);
        m_loginDeadline = Clock::now() + kConnectLimit;
        // The port is sign-extended; like the telnet transport, its low 16 bits count.
        HRESULT hr = OpenSession(host, static_cast<uint16_t>(nPort));
        if (SUCCEEDED(hr))
            hr = CheckHostKey(host);
        if (SUCCEEDED(hr))
            hr = Authenticate(host);
        return hr;
    }
    catch (const std::bad_alloc&)
    {
        Disconnect();
        return E_OUTOFMEMORY;
    }
}

HRESULT lvSecureShell::OpenSession(const std::string& host, int nPort)
{
    if (host.empty())
        return Fail(E_FAIL, "No host to connect to");
    m_session = ssh_new();
    if (m_session == nullptr)
        return Fail(E_OUTOFMEMORY, "Cannot create an SSH session");
    const std::string directory = UserSshDirectory();
    m_knownHostsPath = directory + "/known_hosts";
    const unsigned int port = static_cast<unsigned int>(nPort);
    const int bNo = 0;
    ssh_set_callbacks(m_session, &m_callbacks);
    // The account's ssh_config is not read: what the host record says is what is used.
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &bNo);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, host.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &port);
    ssh_options_set(m_session, SSH_OPTIONS_SSH_DIR, directory.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, m_knownHostsPath.c_str());
    CComBSTR username;
    get_Username(&username);
    if (const std::string user = NarrowText(username); !user.empty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, user.c_str());
    // Every call from here on returns instead of blocking, so the waits are ours: bounded by the
    // deadline and ended by the client's cancel.
    ssh_set_blocking(m_session, 0);
    TraceWireNote("lvSecureShell", "connecting to " + host + " port " + std::to_string(nPort));
    const int rc = Pump([&] { return ssh_connect(m_session); }, SSH_AGAIN, m_loginDeadline);
    if (rc == SSH_OK)
        return S_OK;
    return Fail(E_FAIL, "Cannot connect to " + host + " port " + std::to_string(nPort) + ": " +
                            (rc == SSH_AGAIN ? WaitFailure(kConnectLimit)
                                             : std::string(ssh_get_error(m_session))));
}

HRESULT lvSecureShell::CheckHostKey(const std::string& host)
{
    switch (ssh_session_is_known_server(m_session))
    {
    case SSH_KNOWN_HOSTS_OK:
        return S_OK;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        return Fail(E_FAIL, "The host key of " + host + " has changed since it was recorded in " +
                                m_knownHostsPath +
                                "; someone may be listening in. Remove the old entry if the "
                                "change is expected");
    case SSH_KNOWN_HOSTS_NOT_FOUND:
    case SSH_KNOWN_HOSTS_UNKNOWN:
        // Seen for the first time: trusted and recorded, so that a later change is noticed.
        if (ssh_session_update_known_hosts(m_session) != SSH_OK)
            return Fail(E_FAIL, "Cannot record the host key of " + host + " in " +
                                    m_knownHostsPath + ": " + ssh_get_error(m_session));
        return S_OK;
    case SSH_KNOWN_HOSTS_ERROR:
    default:
        return Fail(E_FAIL, "Cannot check the host key of " + host + " against " +
                                m_knownHostsPath + ": " + ssh_get_error(m_session));
    }
}

HRESULT lvSecureShell::Authenticate(const std::string& host)
{
    const Clock::time_point deadline = m_loginDeadline;
    auto pump = [&](auto call) { return Pump(call, SSH_AUTH_AGAIN, deadline); };
    int rc = pump([&] { return ssh_userauth_none(m_session, nullptr); });
    const int methods = ssh_userauth_list(m_session, nullptr);
    auto refused = [&] { return rc == SSH_AUTH_DENIED || rc == SSH_AUTH_PARTIAL; };
    if (refused() && (methods & SSH_AUTH_METHOD_PUBLICKEY))
    {
        // A working agent answers at once (or after a confirmation); the rest of the login
        // time is left for the keys and the password.
        const CAgentWatch agent(m_session, m_cancelFd,
                                std::min(deadline, Clock::now() + kAgentLimit));
        rc = pump([&] { return ssh_userauth_publickey_auto(m_session, nullptr, nullptr); });
    }
    if (refused() && !m_password.empty() && (methods & SSH_AUTH_METHOD_PASSWORD))
    {
        TraceWireSecret("lvSecureShell", ETraceDirection::Send, "userauth password");
        rc = pump([&] { return ssh_userauth_password(m_session, nullptr, m_password.c_str()); });
    }
    if (refused() && !m_password.empty() && (methods & SSH_AUTH_METHOD_INTERACTIVE))
    {
        // Hosts that ask through PAM: every prompt is answered with the password.
        rc = pump([&] { return ssh_userauth_kbdint(m_session, nullptr, nullptr); });
        for (int nRound = 0; rc == SSH_AUTH_INFO && nRound < kMaxKeyboardRounds; ++nRound)
        {
            const int nPrompts = ssh_userauth_kbdint_getnprompts(m_session);
            TraceWireSecret("lvSecureShell", ETraceDirection::Send,
                            "userauth keyboard-interactive answer");
            for (int i = 0; i < nPrompts; ++i)
                ssh_userauth_kbdint_setanswer(m_session, static_cast<unsigned int>(i),
                                              m_password.c_str());
            rc = pump([&] { return ssh_userauth_kbdint(m_session, nullptr, nullptr); });
        }
    }
    TraceWireNote("lvSecureShell", rc == SSH_AUTH_SUCCESS ? "authenticated" : "not authenticated");
    if (rc == SSH_AUTH_SUCCESS)
        return S_OK;
    if (rc == SSH_AUTH_AGAIN)
        return Fail(E_FAIL, "The login at " + host + " ended: " + WaitFailure(kConnectLimit));
    if (rc == SSH_AUTH_ERROR)
        return Fail(E_FAIL, "The login at " + host + " broke off: " + ssh_get_error(m_session));
    return Fail(E_FAIL, "Authentication failed at " + host +
                            (m_password.empty()
                                 ? ": neither the SSH agent nor the user's keys were accepted, "
                                   "and no password is set"
                                 : ": neither the SSH agent, the user's keys nor the password "
                                   "were accepted"));
}

HRESULT lvSecureShell::Disconnect()
{
    if (m_session != nullptr)
    {
        ssh_disconnect(m_session);
        ssh_free(m_session);
        m_session = nullptr;
    }
    return S_OK;
}

HRESULT lvSecureShell::IsConnected()
{
    return m_session != nullptr && ssh_is_connected(m_session) ? S_OK : S_FALSE;
}

bool lvSecureShell::ReadChannel(ssh_channel channel, Clock::time_point deadline,
                                std::string& output, bool& bTimedOut)
{
    char buffer[16384];
    bTimedOut = false;
    auto keep = [&](int nRead)
    {
        const size_t nRoom = kMaxReplyBytes - output.size();
        output.append(buffer, std::min(static_cast<size_t>(nRead), nRoom));
        TraceWireBytes("lvSecureShell", ETraceDirection::Receive, ETraceFormat::Text, buffer,
                       static_cast<size_t>(nRead));
    };
    for (;;)
    {
        // Looked at before the reads: a read can take in the last data and the end together,
        // and what it buffered must still be collected.
        const bool bEof = ssh_channel_is_eof(channel) != 0;
        const bool bClosed = ssh_channel_is_closed(channel) != 0;
        // What the command says on its standard error shows as it would on a terminal.
        int nOut = 0, nError = 0;
        while ((nOut = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer, 0)) > 0)
            keep(nOut);
        while ((nError = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer, 1)) > 0)
            keep(nError);
        if (nOut == SSH_ERROR || nError == SSH_ERROR)
            return false;
        if (bEof)
            return true;
        // Closed without the end of its output: only whole when the connection still stands.
        if (bClosed)
            return ssh_is_connected(m_session) != 0;
        switch (Wait(deadline))
        {
        case WaitEnd::Cancelled:
            return false;
        case WaitEnd::Expired:
            bTimedOut = true;
            return true;
        case WaitEnd::Ready:
            break;
        }
    }
}

HRESULT lvSecureShell::Execute(BSTR bstrCommand)
{
    std::vector<char>().swap(m_output);
    m_nOutputLength = 0;
    if (m_session == nullptr)
        return ReportComponentError(E_FAIL, CLSID_lvSecureShell, IID_IlvTelnet, "Not connected");
    try
    {
        const std::string command = NarrowText(bstrCommand);
        TraceWireBytes("lvSecureShell", ETraceDirection::Send, ETraceFormat::Text, command.data(),
                       command.size());
        // Freed on every way out, a failed allocation of the output included; before a failure
        // is reported, since that frees the session and with it what is left of its channels.
        std::unique_ptr<ssh_channel_struct, void (*)(ssh_channel)> owner(ssh_channel_new(m_session),
                                                                         &ssh_channel_free);
        const ssh_channel channel = owner.get();
        if (channel == nullptr)
            return Fail(E_FAIL, std::string("The connection is lost: ") + ssh_get_error(m_session));
        const Clock::time_point deadline = Clock::now() + kExecuteLimit;
        std::string output;
        bool bTimedOut = false;
        const bool bRan = Pump([&] { return ssh_channel_open_session(channel); }, SSH_AGAIN,
                               deadline) == SSH_OK &&
                          Pump([&] { return ssh_channel_request_exec(channel, command.c_str()); },
                               SSH_AGAIN, deadline) == SSH_OK &&
                          ReadChannel(channel, deadline, output, bTimedOut);
        if (bRan)
        {
            ssh_channel_send_eof(channel);
            ssh_channel_close(channel);
        }
        owner.reset();
        if (!bRan)
            return Fail(E_FAIL,
                        "The command did not run: " +
                            (m_lastWait != WaitEnd::Ready ? WaitFailure(kExecuteLimit)
                                                          : std::string(ssh_get_error(m_session))));
        std::string reply = FrameSecureShellReply(command, output);
        m_output.assign(reply.begin(), reply.end());
        m_output.push_back('\0');
        m_nOutputLength = static_cast<LONG>(reply.size());
        return bTimedOut ? S_FALSE : S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT lvSecureShell::GetOutput(char** lpszOutput, SHORT* nSize)
{
    if (lpszOutput != nullptr)
        *lpszOutput = m_nOutputLength > 0 ? m_output.data() : nullptr;
    if (nSize != nullptr)
        *nSize = static_cast<SHORT>(static_cast<uint16_t>(m_nOutputLength & 0xFFFF));
    return S_OK;
}

HRESULT lvSecureShell::GetOutputSize(LONG* pSize)
{
    if (pSize == nullptr)
        return E_POINTER;
    *pSize = m_nOutputLength;
    return S_OK;
}

} // namespace lanvex
