// An SFTP session (libssh) for the file operation: login as lvSecureShell does, and the watch
// that bounds every call (the file-system calls are in sftp_session_files.cpp). libssh's SFTP
// calls block without a limit of their own, so a watch thread ends a wait that passes its
// deadline (or the caller's cancel) by shutting the socket down under them.
#include "lanvex/ftp/sftp_session.h"

#include "lanvex/net/sessions/known_hosts.h"
#include "lanvex/net/sessions/ssh_user_files.h"
#include "lanvex/net/transport/wire_trace.h"

#include <libssh/callbacks.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanvex
{

namespace
{

constexpr const char* kTrace = "lvFTPShellFile";
constexpr int kMaxKeyboardRounds = 8;
constexpr int kWaitSliceMs = 10;

std::string StatusText(int nStatus)
{
    switch (nStatus)
    {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
        return "no such file or directory";
    case SSH_FX_PERMISSION_DENIED:
        return "permission denied";
    case SSH_FX_FILE_ALREADY_EXISTS:
        return "it exists already";
    case SSH_FX_WRITE_PROTECT:
        return "the server's file system is read-only";
    case SSH_FX_OP_UNSUPPORTED:
        return "the server does not support it";
    default:
        return {};
    }
}

} // namespace

// Ends the session's blocking waits: at the armed deadline or the caller's cancel it shuts the
// socket down, so the libssh call under way returns with an error; at the agent's deadline it
// cuts the agent off alone (libssh then goes on with the key files and the password).
class CSftpSession::CWatch
{
  public:
    CWatch(int socketFd, int agentFd, int cancelFd)
        : m_socketFd(::dup(socketFd)), m_agentFd(agentFd >= 0 ? ::dup(agentFd) : -1),
          m_agentTarget(agentFd), m_cancelFd(cancelFd), m_stopFd(::eventfd(0, EFD_CLOEXEC))
    {
        // What an agent that is gone looks like: reads end at once, writes are taken (never a
        // SIGPIPE, which would end the whole program).
        if (m_agentFd >= 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_gone) == 0)
            ::shutdown(m_gone[1], SHUT_WR);
        m_thread = std::thread([this] { Run(); });
    }
    ~CWatch()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
        m_thread.join();
        for (const int fd : {m_socketFd, m_agentFd, m_stopFd, m_gone[0], m_gone[1]})
            if (fd >= 0)
                ::close(fd);
    }
    CWatch(const CWatch&) = delete;
    CWatch& operator=(const CWatch&) = delete;

    void Arm(Clock::time_point deadline) { m_deadline = deadline.time_since_epoch().count(); }
    void ArmAgent(Clock::time_point deadline)
    {
        m_agentDeadline = deadline.time_since_epoch().count();
    }
    void AgentDone() { m_agentDeadline = kNever; }
    bool Expired() const { return m_bExpired; }
    bool Cancelled() const { return m_bCancelled; }

  private:
    static constexpr Clock::rep kNever = Clock::time_point::max().time_since_epoch().count();

    void Run()
    {
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_cancelFd, POLLIN, 0}};
        for (;;)
        {
            const Clock::rep now = Clock::now().time_since_epoch().count();
            if (now >= m_agentDeadline.load())
                CutAgent();
            if (now >= m_deadline.load())
            {
                m_bExpired = true;
                break;
            }
            const auto next = std::min(m_deadline.load(), m_agentDeadline.load()) - now;
            const long long nMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(next))
                    .count();
            const int nReady = ::poll(fds, m_cancelFd >= 0 ? 2 : 1,
                                      static_cast<int>(std::clamp<long long>(nMs + 1, 1, 100)));
            if (nReady > 0 && fds[0].revents != 0)
                return; // the session is done with us
            if (nReady > 0 && fds[1].revents != 0)
            {
                m_bCancelled = true;
                break;
            }
        }
        CutAgent();
        ::shutdown(m_socketFd, SHUT_RDWR);
        // Stay until told: the descriptors must outlive every call that may still use them.
        pollfd stop{m_stopFd, POLLIN, 0};
        while (::poll(&stop, 1, -1) <= 0)
        {
        }
    }
    void CutAgent()
    {
        if (m_agentFd < 0 || m_bAgentCut)
            return;
        m_bAgentCut = true;
        if (m_gone[0] >= 0)
            ::dup2(m_gone[0], m_agentTarget);
        ::shutdown(m_agentFd, SHUT_RDWR);
    }

    int m_socketFd, m_agentFd, m_agentTarget, m_cancelFd, m_stopFd;
    int m_gone[2] = {-1, -1};
    bool m_bAgentCut = false;
    std::atomic<Clock::rep> m_deadline{kNever};
    std::atomic<Clock::rep> m_agentDeadline{kNever};
    std::atomic<bool> m_bExpired{false};
    std::atomic<bool> m_bCancelled{false};
    std::thread m_thread;
};

CSftpSession::CSftpSession() = default;

CSftpSession::~CSftpSession()
{
    Disconnect();
}

void CSftpSession::Disconnect()
{
    if (m_sftp != nullptr)
    {
        Arm(); // a server that does not answer the close cannot hold the caller
        sftp_free(m_sftp);
        m_sftp = nullptr;
    }
    if (m_session != nullptr && m_watch && !m_watch->Expired() && !m_watch->Cancelled())
        ssh_disconnect(m_session);
    m_watch.reset(); // before the socket goes: it holds a copy of it
    if (m_session != nullptr)
        ssh_free(m_session);
    m_session = nullptr;
}

void CSftpSession::Arm()
{
    Arm(std::min(Clock::now() + m_wait, m_transferEnd));
}

void CSftpSession::Arm(Clock::time_point deadline)
{
    if (m_watch)
        m_watch->Arm(deadline);
}

bool CSftpSession::Fail(const std::string& text)
{
    if (m_failure.empty())
        m_failure = text;
    return false;
}

bool CSftpSession::FailCall(const std::string& what, const std::string& path)
{
    std::string why;
    if (m_watch && m_watch->Cancelled())
        why = "cancelled";
    else if (m_watch && m_watch->Expired() && Clock::now() >= m_transferEnd)
        why = "the transfer did not finish in time (the slowest rate allowed is " +
              std::to_string(m_nFloorRate) + " bytes a second)";
    else if (m_watch && m_watch->Expired())
        why = "no answer from the server within " + std::to_string((m_wait.count() + 999) / 1000) +
              " s";
    else if (m_sftp != nullptr && !(why = StatusText(sftp_get_error(m_sftp))).empty())
        ;
    else if (m_session != nullptr)
        why = ssh_get_error(m_session);
    const bool bLost = m_session == nullptr || !ssh_is_connected(m_session) ||
                       (m_watch && (m_watch->Expired() || m_watch->Cancelled()));
    m_failure = what + " " + path + ": " + (why.empty() ? "the server refused" : why);
    if (bLost)
        Disconnect(); // nothing more can be asked on it
    return false;
}

template <class Call> int CSftpSession::Pump(Call call, int again, Clock::time_point deadline)
{
    for (;;)
    {
        const int rc = call();
        if (rc != again)
            return rc;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return m_bTimedOut = true, rc;
        pollfd fds[2] = {{ssh_get_fd(m_session), POLLIN, 0}, {m_cancelFd, POLLIN, 0}};
        const bool bSocket = fds[0].fd >= 0;
        if (!bSocket)
            fds[0].fd = -1;
        ::poll(fds, 2, static_cast<int>(std::min<long long>(left, bSocket ? 250 : kWaitSliceMs)));
        if (m_cancelFd >= 0 && fds[1].revents != 0)
            return m_bCancelled = true, rc;
    }
}

bool CSftpSession::Connect(const std::string& host, int nPort, const std::string& user,
                           const std::string& password)
{
    Disconnect();
    m_failure.clear();
    m_bTimedOut = m_bCancelled = false;
    // The host-key policy of lvSecureShell: known_hosts read by us, failing closed.
    CKnownHostsCheck knownHosts(UserSshDirectory() + "/known_hosts", host,
                                static_cast<unsigned int>(nPort));
    m_pKnownHosts = &knownHosts;
    const bool bOk = OpenSession(host, nPort, user) && CheckHostKey(host) &&
                     Authenticate(host, password) && StartSftp();
    m_pKnownHosts = nullptr;
    return bOk;
}

bool CSftpSession::OpenSession(const std::string& host, int nPort, const std::string& user)
{
    if (host.empty())
        return Fail("No host to connect to");
    m_session = ssh_new();
    if (m_session == nullptr)
        return Fail("Cannot create an SSH session");
    const std::string directory = UserSshDirectory();
    const unsigned int port = static_cast<unsigned int>(nPort);
    const int bNo = 0;
    static ssh_callbacks_struct s_callbacks = []
    {
        ssh_callbacks_struct callbacks{};
        callbacks.auth_function = &NoPassphrase;
        ssh_callbacks_init(&callbacks);
        return callbacks;
    }();
    ssh_set_callbacks(m_session, &s_callbacks);
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &bNo);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, host.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &port);
    ssh_options_set(m_session, SSH_OPTIONS_SSH_DIR, directory.c_str());
    m_pKnownHosts->Prepare(m_session);
    if (!user.empty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, user.c_str());
    ssh_set_blocking(m_session, 0);
    TraceWireNote(kTrace, "SFTP: connecting to " + host + " port " + std::to_string(nPort));
    const int rc =
        Pump([&] { return ssh_connect(m_session); }, SSH_AGAIN, Clock::now() + kConnectLimit);
    if (rc == SSH_OK)
        return true;
    const std::string why = m_bCancelled ? "cancelled"
                            : rc == SSH_AGAIN
                                ? "no answer within " + std::to_string(kConnectLimit.count()) + " s"
                                : std::string(ssh_get_error(m_session));
    Disconnect();
    return Fail("Cannot connect to " + host + " port " + std::to_string(nPort) + ": " + why);
}

bool CSftpSession::CheckHostKey(const std::string& host)
{
    const std::string refusal = m_pKnownHosts->Verify(m_session);
    if (refusal.empty())
        return true;
    Disconnect();
    return Fail("The host key of " + host + " is refused: " + refusal);
}

bool CSftpSession::Authenticate(const std::string& host, const std::string& password)
{
    // From here every call blocks, bounded by the watch.
    const int agentFd = ConnectAgentSocket(std::getenv("SSH_AUTH_SOCK"));
    if (agentFd >= 0 && ssh_set_agent_socket(m_session, agentFd) != SSH_OK)
        ::close(agentFd);
    m_watch = std::make_unique<CWatch>(ssh_get_fd(m_session), agentFd, m_cancelFd);
    const Clock::time_point deadline = Clock::now() + kConnectLimit;
    Arm(deadline);
    ssh_set_blocking(m_session, 1);
    int rc = ssh_userauth_none(m_session, nullptr);
    const int methods = ssh_userauth_list(m_session, nullptr);
    auto refused = [&] { return rc == SSH_AUTH_DENIED || rc == SSH_AUTH_PARTIAL; };
    if (refused() && (methods & SSH_AUTH_METHOD_PUBLICKEY))
    {
        m_watch->ArmAgent(std::min(deadline, Clock::now() + kAgentLimit));
        rc = ssh_userauth_publickey_auto(m_session, nullptr, nullptr);
        m_watch->AgentDone();
    }
    if (refused() && !password.empty() && (methods & SSH_AUTH_METHOD_PASSWORD))
    {
        TraceWireSecret(kTrace, ETraceDirection::Send, "userauth password");
        rc = ssh_userauth_password(m_session, nullptr, password.c_str());
    }
    if (refused() && !password.empty() && (methods & SSH_AUTH_METHOD_INTERACTIVE))
    {
        rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
        for (int nRound = 0; rc == SSH_AUTH_INFO && nRound < kMaxKeyboardRounds; ++nRound)
        {
            const int nPrompts = ssh_userauth_kbdint_getnprompts(m_session);
            TraceWireSecret(kTrace, ETraceDirection::Send, "userauth keyboard-interactive answer");
            for (int i = 0; i < nPrompts; ++i)
                ssh_userauth_kbdint_setanswer(m_session, static_cast<unsigned int>(i),
                                              password.c_str());
            rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
        }
    }
    TraceWireNote(kTrace,
                  rc == SSH_AUTH_SUCCESS ? "SFTP: authenticated" : "SFTP: not authenticated");
    if (rc == SSH_AUTH_SUCCESS)
        return true;
    std::string why;
    if (m_watch->Cancelled())
        why = "cancelled";
    else if (m_watch->Expired())
        why = "no answer within " + std::to_string(kConnectLimit.count()) + " s";
    else if (rc == SSH_AUTH_ERROR)
        why = std::string("the login broke off: ") + ssh_get_error(m_session);
    else
        why = password.empty() ? "neither the SSH agent nor the user's keys were accepted, and "
                                 "no password is set"
                               : "neither the SSH agent, the user's keys nor the password were "
                                 "accepted";
    Disconnect();
    return Fail("Authentication failed at " + host + ": " + why);
}

bool CSftpSession::StartSftp()
{
    Arm();
    m_sftp = sftp_new(m_session);
    if (m_sftp == nullptr || sftp_init(m_sftp) != SSH_OK)
    {
        const std::string why =
            m_watch->Expired() ? "no answer in time" : std::string(ssh_get_error(m_session));
        if (m_sftp != nullptr)
            sftp_free(m_sftp);
        m_sftp = nullptr;
        Disconnect();
        return Fail("The server offers no SFTP: " + why);
    }
    return true;
}

} // namespace lanvex
