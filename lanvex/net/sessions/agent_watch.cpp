// The SSH agent connection of one login, cut off when its time is up or the client cancels.
#include "lanvex/net/sessions/agent_watch.h"

#include "lanvex/net/sessions/ssh_user_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace lanvex
{

CAgentWatch::CAgentWatch(ssh_session session, int cancelFd,
                         std::chrono::steady_clock::time_point limit)
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
    const int agentFd = ConnectAgentSocket(pszPath);
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

CAgentWatch::~CAgentWatch()
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

// True when the login finished with the agent in time; false when the limit passed or the
// client cancelled.
bool CAgentWatch::Watch(int stopFd, int cancelFd, std::chrono::steady_clock::time_point limit)
{
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              limit - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        const int nReady =
            ::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (nReady > 0 && fds[0].revents != 0)
            return true;
        if (nReady > 0 && fds[1].revents != 0)
            return false;
    }
}

} // namespace lanvex
