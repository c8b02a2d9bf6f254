// The SSH agent connection of one login, cut off when its time is up or the client cancels.
#pragma once

#include <libssh/libssh.h>

#include <chrono>
#include <thread>

namespace lanvex
{

// libssh waits on the SSH agent without any bound, so an agent that stops answering (a stale
// forwarded socket, a stopped process, a full queue) would hold the login forever, past the
// deadline and the client's cancel. The session therefore gets an agent connection of our own,
// and while this object lives a watcher cuts it off when the limit passes or the client
// cancels: libssh then finds the agent gone and goes on with the key files and the password.
class CAgentWatch
{
  public:
    CAgentWatch(ssh_session session, int cancelFd, std::chrono::steady_clock::time_point limit);
    ~CAgentWatch();

    CAgentWatch(const CAgentWatch&) = delete;
    CAgentWatch& operator=(const CAgentWatch&) = delete;

  private:
    static bool Watch(int stopFd, int cancelFd, std::chrono::steady_clock::time_point limit);

    int m_stopFd = -1;
    int m_goneSink = -1; // the gone agent's other end, kept open so that writes are taken
    std::thread m_thread;
};

} // namespace lanvex
