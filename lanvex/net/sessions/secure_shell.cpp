// lvSecureShell: the telnet session's interfaces over SSH (libssh): the password, the login and
// the bounded waits (Execute is in secure_shell_command.cpp).
#include "lanvex/net/sessions/secure_shell.h"
#include "lanvex/net/sessions/secure_shell_pump.h"

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
// Replies of at most this many prompt rounds are answered with the password.
constexpr int kMaxKeyboardRounds = 8;
// The longest single wait: a cancel is seen within it even while the socket cannot be watched
// (a connect before libssh has its socket).
constexpr int kWaitSliceMs = 10;
// The longest wait on the socket: a safety net only, since every wait starts after what has
// arrived was taken in.
constexpr int kSocketSliceMs = 50;

void ZeroText(std::string& text)
{
    ::explicit_bzero(text.data(), text.size());
    text.clear();
}

} // namespace

std::string_view SecureShellHostName(std::string_view address)
{
    if (address.size() >= kScheme.size() &&
        ::strncasecmp(address.data(), kScheme.data(), kScheme.size()) == 0)
        address.remove_prefix(kScheme.size());
    return address;
}

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

} // namespace lanvex
