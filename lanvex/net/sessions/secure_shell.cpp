// lvSecureShell: the telnet session's interfaces over SSH (libssh).
#include "lanvex/net/sessions/secure_shell.h"

#include "lanvex/net/sessions/agent_watch.h"
#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/sessions/known_hosts.h"
#include "lanvex/net/sessions/ssh_user_files.h"
#include "lanvex/net/transport/wire_text.h"
#include "lanvex/net/transport/wire_trace.h"

#include "platform/com/text_helpers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <string.h>
#include <strings.h>
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
// The longest wait on the socket: a safety net only, since every wait starts after what has
// arrived was taken in.
constexpr int kSocketSliceMs = 50;
// The first line of the standard error in a description is cut to this many bytes.
constexpr size_t kErrorLineKept = 200;

void ZeroText(std::string& text)
{
    ::explicit_bzero(text.data(), text.size());
    text.clear();
}


std::chrono::seconds ExecuteLimit()
{
    if (const char* psz = std::getenv("LANVEX_SSH_EXECUTE_SECONDS"); psz != nullptr)
    {
        char* pEnd = nullptr;
        const long n = std::strtol(psz, &pEnd, 10);
        if (*psz != '\0' && *pEnd == '\0' && n > 0 && n < lvSecureShell::kExecuteLimit.count())
            return std::chrono::seconds(n);
    }
    return lvSecureShell::kExecuteLimit;
}

// The first line with text in it, without its line end, cut to a bound between characters.
std::string FirstErrorLine(std::string_view error)
{
    for (size_t begin = 0; begin < error.size();)
    {
        size_t end = error.find('\n', begin);
        if (end == std::string_view::npos)
            end = error.size();
        std::string_view line = error.substr(begin, end - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (!line.empty())
        {
            if (line.size() > kErrorLineKept)
            {
                size_t cut = kErrorLineKept;
                while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                    --cut;
                line = line.substr(0, cut);
            }
            return std::string(line);
        }
        begin = end + 1;
    }
    return {};
}

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

std::string JudgeCommand(const CommandOutcome& outcome, std::chrono::seconds limit)
{
    std::string why;
    switch (outcome.How)
    {
    case CommandOutcome::End::TimedOut:
        why = "the command did not end within " + std::to_string(limit.count()) + " s";
        break;
    case CommandOutcome::End::Overflow:
        why = "the command printed more than " +
              std::to_string(lvSecureShell::kMaxReplyBytes >> 20) + " MiB";
        break;
    case CommandOutcome::End::Finished:
        if (!outcome.Signal.empty())
            why = "the command was ended by signal " + outcome.Signal +
                  (outcome.CoreDumped ? " (core dumped)" : "");
        else if (outcome.ExitStatus < 0)
            why = "the command ended without an exit status";
        else if (outcome.ExitStatus != 0 && !outcome.PrintedOutput)
            why = "the command exited with status " + std::to_string(outcome.ExitStatus) +
                  " and printed nothing";
        break;
    }
    if (const std::string line = FirstErrorLine(outcome.Error); !why.empty() && !line.empty())
        why += ": " + line;
    return why;
}

// One command's channel as it is read: the output, the start of the standard error and how the
// command ended, as the server tells it.
struct lvSecureShell::CommandRun
{
    std::string Output;
    CommandOutcome Outcome;
    ssh_channel_callbacks_struct Callbacks{};

    explicit CommandRun(ssh_channel channel) : Channel(channel)
    {
        Callbacks.userdata = this;
        Callbacks.channel_exit_status_function =
            [](ssh_session, ssh_channel, int status, void* pRun)
        { static_cast<CommandRun*>(pRun)->Outcome.ExitStatus = status; };
        Callbacks.channel_exit_signal_function = [](ssh_session, ssh_channel, const char* pszSignal,
                                                    int core, const char*, const char*, void* pRun)
        {
            CommandOutcome& outcome = static_cast<CommandRun*>(pRun)->Outcome;
            outcome.Signal = pszSignal != nullptr && *pszSignal != '\0' ? pszSignal : "?";
            outcome.CoreDumped = core != 0;
        };
        ssh_callbacks_init(&Callbacks);
        ssh_set_channel_callbacks(channel, &Callbacks);
    }
    bool Ended() const { return Outcome.ExitStatus >= 0 || !Outcome.Signal.empty(); }
    // libssh keeps a channel closed here until the server closes it too, and would still call
    // back into this object, which is gone by then.
    template <class Owner> void Release(Owner& owner)
    {
        Forget();
        owner.reset();
    }
    void Forget()
    {
        if (Channel != nullptr)
            ssh_remove_channel_callbacks(Channel, &Callbacks);
        Channel = nullptr;
    }
    ~CommandRun() { Forget(); }
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;

    ssh_channel Channel;
};

lvSecureShell::lvSecureShell()
{
    lvTelnet::put_Port(22);
    m_callbacks.auth_function = &NoPassphrase;
    ssh_callbacks_init(&m_callbacks);
}

lvSecureShell::~lvSecureShell()
{
    CloseSession();
    ForgetPassword();
}

HRESULT lvSecureShell::get_Password(BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = m_bstrSecret != nullptr ? SysAllocStringLen(m_bstrSecret, SysStringLen(m_bstrSecret))
                                    : SysAllocString(u"");
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT lvSecureShell::put_Password(BSTR newVal)
{
    ForgetPassword();
    // Up to the first zero character, as every text property.
    m_bstrSecret = newVal != nullptr ? SysAllocString(newVal) : nullptr;
    return S_OK;
}

void lvSecureShell::ForgetPassword()
{
    if (m_bstrSecret != nullptr)
        ::explicit_bzero(m_bstrSecret, SysStringByteLen(m_bstrSecret));
    SysFreeString(m_bstrSecret);
    m_bstrSecret = nullptr;
}

HRESULT lvSecureShell::Fail(HRESULT hr, const std::string& description)
{
    CloseSession();
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
    const int nWait =
        static_cast<int>(std::min<long long>(left, bSocket ? kSocketSliceMs : kWaitSliceMs));
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
    CloseSession();
    try
    {
        CComBSTR address;
        SHORT nPort = 22;
        get_Address(&address);
        get_Port(&nPort);
        const std::string host(SecureShellHostName(WideToWireText(BstrView(address))));
        m_loginDeadline = Clock::now() + kConnectLimit;
        // The port is sign-extended; like the telnet transport, its low 16 bits count.
        const auto port = static_cast<uint16_t>(nPort);
        // Read before connecting, and never by libssh: a file that cannot be read whole ends
        // the login before any password could go out.
        CKnownHostsCheck knownHosts(UserSshDirectory() + "/known_hosts", host, port,
                                    m_loginDeadline, m_cancelFd);
        HRESULT hr = OpenSession(host, port, knownHosts);
        if (SUCCEEDED(hr))
        {
            if (const std::string refusal = knownHosts.Verify(m_session); !refusal.empty())
                hr = Fail(E_FAIL, refusal);
        }
        if (SUCCEEDED(hr))
            hr = Authenticate(host);
        return hr;
    }
    catch (const std::bad_alloc&)
    {
        CloseSession();
        return E_OUTOFMEMORY;
    }
}

HRESULT lvSecureShell::OpenSession(const std::string& host, int nPort, CKnownHostsCheck& knownHosts)
{
    if (host.empty())
        return Fail(E_FAIL, "No host to connect to");
    m_session = ssh_new();
    if (m_session == nullptr)
        return Fail(E_OUTOFMEMORY, "Cannot create an SSH session");
    const std::string directory = UserSshDirectory();
    const unsigned int port = static_cast<unsigned int>(nPort);
    const int bNo = 0, bYes = 1;
    ssh_set_callbacks(m_session, &m_callbacks);
    // The account's ssh_config is not read: what the host record says is what is used.
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &bNo);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, host.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &port);
    ssh_options_set(m_session, SSH_OPTIONS_SSH_DIR, directory.c_str());
    // Small requests go out at once instead of waiting for the previous one's acknowledgement.
    ssh_options_set(m_session, SSH_OPTIONS_NODELAY, &bYes);
    knownHosts.Prepare(m_session);
    CComBSTR username;
    get_Username(&username);
    if (const std::string user = WideToWireText(BstrView(username)); !user.empty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, user.c_str());
    // Every call from here on returns instead of blocking, so the waits are ours: bounded by the
    // deadline and ended by the client's cancel.
    ssh_set_blocking(m_session, 0);
    TraceWireNote("lvSecureShell", "connecting to " + host + " port " + std::to_string(nPort));
    const int rc = Pump([&] { return ssh_connect(m_session); }, SSH_AGAIN, m_loginDeadline);
    if (rc == SSH_OK)
    {
        // In case the option was not honoured on this socket.
        if (const int fd = ssh_get_fd(m_session); fd >= 0)
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &bYes, sizeof bYes);
        return S_OK;
    }
    return Fail(E_FAIL, "Cannot connect to " + host + " port " + std::to_string(nPort) + ": " +
                            (rc == SSH_AGAIN ? WaitFailure(kConnectLimit)
                                             : std::string(ssh_get_error(m_session))));
}

HRESULT lvSecureShell::Authenticate(const std::string& host)
{
    const Clock::time_point deadline = m_loginDeadline;
    auto pump = [&](auto call) { return Pump(call, SSH_AUTH_AGAIN, deadline); };
    // The only narrow copy of the password lives as long as the login.
    std::string password = WideToWireText(BstrView(m_bstrSecret));
    struct CZeroOnExit
    {
        std::string& Text;
        ~CZeroOnExit() { ZeroText(Text); }
    } zero{password};
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
    if (refused() && !password.empty() && (methods & SSH_AUTH_METHOD_PASSWORD))
    {
        TraceWireSecret("lvSecureShell", ETraceDirection::Send, "userauth password");
        rc = pump([&] { return ssh_userauth_password(m_session, nullptr, password.c_str()); });
    }
    if (refused() && !password.empty() && (methods & SSH_AUTH_METHOD_INTERACTIVE))
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
                                              password.c_str());
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
                            (password.empty()
                                 ? ": neither the SSH agent nor the user's keys were accepted, "
                                   "and no password is set"
                                 : ": neither the SSH agent, the user's keys nor the password "
                                   "were accepted"));
}

void lvSecureShell::CloseSession()
{
    if (m_session != nullptr)
    {
        ssh_disconnect(m_session);
        ssh_free(m_session);
        m_session = nullptr;
    }
}

HRESULT lvSecureShell::Disconnect()
{
    CloseSession();
    // The client puts the password again before the next Connect (the engine does).
    ForgetPassword();
    return S_OK;
}

HRESULT lvSecureShell::IsConnected()
{
    return m_session != nullptr && ssh_is_connected(m_session) ? S_OK : S_FALSE;
}

lvSecureShell::ReadEnd lvSecureShell::ReadChannel(ssh_channel channel, Clock::time_point deadline,
                                                  CommandRun& run)
{
    char buffer[16384];
    std::string& error = run.Outcome.Error;
    // Takes in everything libssh holds or can read now; false when the connection broke.
    // Reading one stream can bring data of the other, so the passes go on until one brings
    // nothing. Standard error never enters the reply.
    auto drain = [&]
    {
        for (bool bMore = true; bMore;)
        {
            bMore = false;
            for (const int bError : {0, 1})
            {
                int nRead = 0;
                while ((nRead = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer,
                                                             bError)) > 0)
                {
                    bMore = true;
                    const auto n = static_cast<size_t>(nRead);
                    TraceWireBytes("lvSecureShell", ETraceDirection::Receive, ETraceFormat::Text,
                                   buffer, n);
                    if (bError)
                        error.append(buffer,
                                     std::min(n, kErrorKept - std::min(kErrorKept, error.size())));
                    else if (run.Output.size() <= kMaxReplyBytes)
                        run.Output.append(buffer,
                                          std::min(n, kMaxReplyBytes + 1 - run.Output.size()));
                }
                if (nRead == SSH_ERROR)
                    return false;
            }
            if (run.Output.size() > kMaxReplyBytes)
                break;
        }
        return true;
    };
    for (;;)
    {
        if (!drain())
            return ReadEnd::Broken;
        if (run.Output.size() > kMaxReplyBytes)
            return ReadEnd::Overflow;
        // Once the output has ended, reads take in nothing more: what follows (the exit status,
        // the close) is taken in here, at once, instead of after a wait on a quiet socket. Its
        // answer cannot tell a failure from a status still to come (-1 both), the session can.
        if (ssh_channel_is_eof(channel) && !run.Ended() && !ssh_channel_is_closed(channel))
        {
            ssh_channel_get_exit_status(channel);
            if (ssh_is_connected(m_session) == 0)
                return ReadEnd::Broken;
        }
        if (ssh_channel_is_closed(channel) || (ssh_channel_is_eof(channel) && run.Ended()))
            return drain() ? ReadEnd::Finished : ReadEnd::Broken;
        switch (Wait(deadline))
        {
        case WaitEnd::Cancelled:
            return ReadEnd::Cancelled;
        case WaitEnd::Expired:
            return ReadEnd::TimedOut;
        case WaitEnd::Ready:
            break;
        }
    }
}

HRESULT lvSecureShell::Execute(BSTR bstrCommand)
{
    SetReply({});
    m_nExitStatus = -1;
    if (m_session == nullptr)
        return ReportComponentError(E_FAIL, CLSID_lvSecureShell, IID_IlvTelnet, "Not connected");
    try
    {
        const std::string command = WideToWireText(BstrView(bstrCommand));
        TraceWireBytes("lvSecureShell", ETraceDirection::Send, ETraceFormat::Text, command.data(),
                       command.size());
        // Freed on every way out, a failed allocation of the output included; before a failure
        // is reported, since that frees the session and with it what is left of its channels.
        std::unique_ptr<ssh_channel_struct, void (*)(ssh_channel)> owner(ssh_channel_new(m_session),
                                                                         &ssh_channel_free);
        const ssh_channel channel = owner.get();
        if (channel == nullptr)
            return Fail(E_FAIL, std::string("The connection is lost: ") + ssh_get_error(m_session));
        const std::chrono::seconds limit = ExecuteLimit();
        const Clock::time_point deadline = Clock::now() + limit;
        CommandRun run(channel);
        const bool bStarted =
            Pump([&] { return ssh_channel_open_session(channel); }, SSH_AGAIN, deadline) ==
                SSH_OK &&
            Pump([&] { return ssh_channel_request_exec(channel, command.c_str()); }, SSH_AGAIN,
                 deadline) == SSH_OK;
        const ReadEnd end = bStarted ? ReadChannel(channel, deadline, run) : ReadEnd::Broken;
        if (!bStarted || end == ReadEnd::Cancelled || end == ReadEnd::Broken)
        {
            std::string why =
                m_lastWait != WaitEnd::Ready ? WaitFailure(limit) : ssh_get_error(m_session);
            if (why.empty())
                why = "the server closed the connection";
            run.Release(owner);
            return Fail(E_FAIL, (bStarted ? "The connection broke during the command: "
                                          : "The command did not run: ") +
                                    why);
        }
        if (end != ReadEnd::Finished)
        {
            // Nothing should be left running: the command is told to end (a server may refuse:
            // OpenSSH does for a forced command) and its channel is closed, so a command that
            // goes on writing finds its output gone.
            ssh_channel_request_send_signal(channel, "TERM");
            run.Outcome.How = end == ReadEnd::TimedOut ? CommandOutcome::End::TimedOut
                                                       : CommandOutcome::End::Overflow;
        }
        ssh_channel_close(channel);
        run.Release(owner);
        m_nExitStatus = run.Outcome.ExitStatus;
        run.Outcome.PrintedOutput = !run.Output.empty();
        if (const std::string why = JudgeCommand(run.Outcome, limit); !why.empty())
            return ReportComponentError(E_FAIL, CLSID_lvSecureShell, IID_IlvTelnet, why);
        SetReply(FrameSecureShellReply(command, run.Output));
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

} // namespace lanvex
