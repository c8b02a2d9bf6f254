// A loopback TCP peer that plays exact bursts, silences and resets to the code under test.
#include "tests/lanvex/net/scripted_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanvex::test
{

namespace
{

using Clock = std::chrono::steady_clock;

int ListenLoopback(int* pPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(*pPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nSize = sizeof address;
    const int nOn = 1;
    if (fd >= 0 && *pPort != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), nSize) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nSize) != 0)
    {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *pPort = ntohs(address.sin_port);
    return fd;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

CScriptedServer::CScriptedServer(std::vector<std::vector<ServerStep>> sessions, int nPort)
    : m_sessions(std::move(sessions)), m_nPort(nPort), m_received(m_sessions.size())
{
    m_listener = ListenLoopback(&m_nPort);
    if (m_listener < 0)
    {
        m_nPort = 0;
        m_failure = "cannot listen on 127.0.0.1";
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

CScriptedServer::~CScriptedServer()
{
    Finish();
}

std::string CScriptedServer::Finish()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
    {
        ::close(m_listener);
        m_listener = -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

std::string CScriptedServer::Received(size_t nSession) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return nSession < m_received.size() ? m_received[nSession] : std::string();
}

void CScriptedServer::Record(size_t nSession, const char* pData, size_t nLength)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received[nSession].append(pData, nLength);
}

void CScriptedServer::SetFailure(const std::string& why)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure.empty())
        m_failure = why;
}

void CScriptedServer::Run()
{
    for (size_t nSession = 0; nSession < m_sessions.size(); ++nSession)
    {
        pollfd pfd{m_listener, POLLIN, 0};
        if (::poll(&pfd, 1, 20000) != 1)
        {
            SetFailure("no connection " + std::to_string(nSession) + " within 20 s");
            return;
        }
        const int nClient = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (nClient < 0)
        {
            SetFailure("accept failed");
            return;
        }
        if (PlaySession(nClient, nSession))
            ::close(nClient);
    }
}

// Returns true when the descriptor is still open and should be closed by the caller.
bool CScriptedServer::PlaySession(int nClient, size_t nSession)
{
    size_t nMark = 0; // where the next Expect starts looking
    char buffer[4096];
    // Reads whatever is there until the deadline or the peer's close; false on close.
    auto ReadUntil = [&](Clock::time_point deadline, const std::string* pWanted) -> bool
    {
        for (;;)
        {
            if (pWanted != nullptr)
            {
                const std::string got = Received(nSession);
                const size_t nFound = got.find(*pWanted, nMark);
                if (nFound != std::string::npos)
                {
                    nMark = nFound + pWanted->size();
                    return true;
                }
            }
            pollfd pfd{nClient, POLLIN, 0};
            const int nLeft = MsLeft(deadline);
            const int nReady = ::poll(&pfd, 1, nLeft);
            if (nReady == 0)
                return pWanted == nullptr;
            if (nReady < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            const ssize_t nRead = ::recv(nClient, buffer, sizeof buffer, 0);
            if (nRead <= 0)
                return false;
            Record(nSession, buffer, static_cast<size_t>(nRead));
        }
    };

    for (const ServerStep& step : m_sessions[nSession])
    {
        switch (step.What)
        {
        case ServerStep::Send:
            if (::send(nClient, step.Bytes.data(), step.Bytes.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(step.Bytes.size()))
            {
                SetFailure("send failed");
                return true;
            }
            break;
        case ServerStep::Pause:
            if (!ReadUntil(Clock::now() + std::chrono::milliseconds(step.Ms), nullptr))
            {
                // The client closed during the silence: nothing more to play.
                return true;
            }
            break;
        case ServerStep::Expect:
            if (!ReadUntil(Clock::now() + std::chrono::milliseconds(step.Ms), &step.Bytes))
            {
                SetFailure("session " + std::to_string(nSession) + ": expected bytes never came");
                return true;
            }
            break;
        case ServerStep::Reset:
        {
            linger abort{1, 0};
            ::setsockopt(nClient, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::close(nClient);
            return false;
        }
        case ServerStep::Close:
            ::close(nClient);
            return false;
        }
    }
    ReadUntil(Clock::now() + std::chrono::seconds(20), nullptr);
    return true;
}

int UnusedPort()
{
    int nPort = 0;
    const int fd = ListenLoopback(&nPort);
    if (fd >= 0)
        ::close(fd);
    return nPort;
}

} // namespace lanvex::test
