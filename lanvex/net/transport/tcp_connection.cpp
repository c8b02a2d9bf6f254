// One TCP connection on POSIX sockets; poll() with the time-out stands before each read.
#include "lanvex/net/transport/tcp_connection.h"

#include "lanvex/net/transport/host_lookup.h"
#include "lanvex/net/transport/socket_error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/tcp.h>
#include <mutex>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace lanvex
{

namespace
{

[[noreturn]] void ThrowLastError()
{
    throw CExpSocket(WinsockErrorFromErrno(errno));
}

} // namespace

// Resolves a host name or dotted address to its first IPv4 address; a null or empty name is the
// local machine. A name server that does not answer holds the caller no longer than a connect
// may take, and the caller's cancel ends the wait at once.
bool CTcpConnection::ResolveHost(in_addr* pAddress)
{
    if (!m_host || m_host->empty())
        return ResolveLocalMachine(pAddress);
    if (::inet_pton(AF_INET, m_host->c_str(), pAddress) == 1)
        return true;
    return LookUpHostName(*m_host, std::chrono::milliseconds(kDefaultTimeout), m_deadline,
                          m_cancelFd, pAddress);
}

CTcpConnection::CTcpConnection() = default;

CTcpConnection::~CTcpConnection()
{
    ReleaseReply();
    CTcpConnection::Close();
}

int CTcpConnection::Open(const char* pszHost, int nPort)
{
    if (pszHost != nullptr)
        m_host = std::string(pszHost);
    else
        m_host.reset();
    m_nPort = nPort;
    m_pszTraceSecret = nullptr; // a mask left by a send that failed is not for this connection
    if (m_pszTraceComponent != nullptr && WireTraceOn())
        TraceWireNote(m_pszTraceComponent, "connecting to " + m_host.value_or("(local)") +
                                               " port " + std::to_string(nPort & 0xFFFF));
    return Connect();
}

int CTcpConnection::Connect()
{
    in_addr address{};
    if (!ResolveHost(&address))
        return 0;
    // A handle still held from an earlier connect would otherwise be lost, and with it a
    // descriptor per reconnect.
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
    {
        m_socket = -1;
        return 0;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(m_nPort & 0xFFFF));
    target.sin_addr = address;
    // The connect runs without blocking so that it is bounded (a full accept queue or a host
    // that drops the packets would otherwise hold it for minutes) and can be cancelled.
    const int nFlags = ::fcntl(m_socket, F_GETFL, 0);
    ::fcntl(m_socket, F_SETFL, nFlags | O_NONBLOCK);
    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0)
    {
        if (errno != EINTR && errno != EINPROGRESS)
            ThrowLastError();
        if (!WaitFor(POLLOUT, kDefaultTimeout))
            throw CExpSocket(kWsaETimedOut);
        int nError = 0;
        socklen_t nSize = sizeof nError;
        ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &nError, &nSize);
        // A reset means the peer accepted and then dropped the connection before we looked:
        // connected, as a blocking connect would say; the next send or read reports the reset.
        if (nError != 0 && nError != ECONNRESET && nError != EPIPE)
            throw CExpSocket(WinsockErrorFromErrno(nError));
    }
    ::fcntl(m_socket, F_SETFL, nFlags);
    m_bConnected = true;
    return 1;
}

int CTcpConnection::Send(const void* pData, int nLength)
{
    if (nLength < 0)
        nLength = 0;
    // A peer that stops reading fills its window; the send then fails once no byte has moved
    // for as long as a read waits for data (and ends on the caller's cancel or deadline). A slow
    // but steady reader is no stop: the kernel may signal room only after a large part of its
    // buffer has drained, so the bytes leaving the send queue count as movement too, and a peer
    // whose kernel still answers is given longer (WaitForQueue).
    const char* pNext = static_cast<const char*>(pData);
    size_t nLeft = static_cast<size_t>(nLength);
    size_t nTotal = 0;
    do
    {
        if (nLength > 0 && !WaitForQueue(false))
            throw CExpSocket(kWsaETimedOut);
        // MSG_NOSIGNAL: a peer that went away must become an error, not a SIGPIPE.
        const ssize_t nSent = ::send(m_socket, pNext, nLeft, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (nSent < 0)
        {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            ThrowLastError();
        }
        pNext += nSent;
        nLeft -= static_cast<size_t>(nSent);
        nTotal += static_cast<size_t>(nSent);
        if (nSent == 0)
            break;
    } while (nLeft > 0);
    Trace(ETraceDirection::Send, pData, static_cast<ssize_t>(nTotal));
    m_bEnd = (nTotal == 0);
    return static_cast<int>(nTotal);
}

void CTcpConnection::Trace(ETraceDirection direction, const void* pData, ssize_t nLength)
{
    const char* pszSecret = direction == ETraceDirection::Send ? m_pszTraceSecret : nullptr;
    if (direction == ETraceDirection::Send)
        m_pszTraceSecret = nullptr;
    if (m_pszTraceComponent == nullptr || nLength <= 0 || !WireTraceOn())
        return;
    if (pszSecret != nullptr)
        TraceWireSecret(m_pszTraceComponent, direction, pszSecret);
    else
        TraceWireBytes(m_pszTraceComponent, direction, m_traceFormat, pData,
                       static_cast<size_t>(nLength));
}

// A send fails once no byte has left the send queue for the wait, as a read fails without data,
// unless the peer's kernel still answers. A Linux receiver that reads slowly keeps its window
// shut until a large part of its buffer has drained (a 128 KiB buffer read at 16 KiB/s opens
// some 6 s apart, at 1 KiB/s over 90 s apart), so what its program takes does not show here for
// longer than the wait. A peer that answers is given kLivePeerWaits waits (two minutes at the
// default 10 s), which still bounds a program that stopped reading behind a live kernel; a peer
// that has left data or probes unanswered throughout one wait fails then. The caller's deadline
// and cancel end every wait as before.
bool CTcpConnection::WaitForQueue(bool bEmpty)
{
    const bool bUnlimited = (m_nTimeout == kNoLimit);
    if (bUnlimited && !bEmpty)
        return WaitFor(POLLOUT, kNoLimit) != 0;
    int nQueued = -1;
    ::ioctl(m_socket, SIOCOUTQ, &nQueued);
    if (bEmpty && nQueued == 0)
        return true;
    // The queue is looked at several times within one wait, so that movement is seen in time;
    // an emptying queue soon after the last send, then less often.
    const uint32_t nSlice = bUnlimited ? 500 : std::clamp<uint32_t>(m_nTimeout / 5, 10, 500);
    uint32_t nNap = bEmpty ? 1 : nSlice;
    const std::chrono::milliseconds plain(bUnlimited ? 0 : m_nTimeout);
    auto lastMove = Clock::now();
    auto lastAnswer = lastMove;
    for (;;)
    {
        const auto end = bUnlimited
                             ? Clock::time_point::max()
                             : std::min(lastAnswer + plain, lastMove + plain * kLivePeerWaits);
        const auto now = Clock::now();
        if (now >= end)
            return false;
        const int64_t nLeft = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        if (WaitFor(bEmpty ? 0 : POLLOUT, static_cast<uint32_t>(std::min<int64_t>(nLeft, nNap))))
        {
            if (!bEmpty)
                return true;
            // Only an error or a hang-up wakes a wait for no event: the queue will not drain.
            int nError = 0;
            socklen_t nSize = sizeof nError;
            ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &nError, &nSize);
            throw CExpSocket(nError != 0 ? WinsockErrorFromErrno(nError) : kWsaEConnReset);
        }
        nNap = std::min(nNap * 2, nSlice);
        int nNow = -1;
        if (::ioctl(m_socket, SIOCOUTQ, &nNow) == 0 && nNow != nQueued)
        {
            if (bEmpty && nNow == 0)
                return true;
            lastMove = lastAnswer = Clock::now(); // the peer took bytes: not stopped
            nQueued = nNow;
        }
        else if (PeerAnswering())
            lastAnswer = Clock::now();
    }
}

bool CTcpConnection::WaitUntilSent()
{
    if (m_socket < 0)
        throw CExpSocket(kWsaENotSock);
    return WaitForQueue(true);
}

bool CTcpConnection::PeerAnswering() const
{
    tcp_info info{};
    socklen_t nSize = sizeof info;
    if (::getsockopt(m_socket, IPPROTO_TCP, TCP_INFO, &info, &nSize) != 0 ||
        nSize < offsetof(tcp_info, tcpi_probes) + sizeof info.tcpi_probes)
        return false; // nothing known: the plain wait
    return info.tcpi_retransmits == 0 && info.tcpi_probes <= 1;
}

int CTcpConnection::WaitReadable()
{
    return WaitFor(POLLIN | POLLRDHUP, m_nTimeout);
}

int CTcpConnection::WaitFor(short nEvents, uint32_t nMilliseconds)
{
    pollfd pfds[2] = {{m_socket, nEvents, 0}, {m_cancelFd, POLLIN, 0}};
    const nfds_t nCount = m_cancelFd >= 0 ? 2 : 1;
    const bool bUnlimited = (nMilliseconds == kNoLimit);
    auto deadline = Clock::now() + std::chrono::milliseconds(bUnlimited ? 0 : nMilliseconds);
    // The caller's deadline shortens the wait; reaching it is a failure, not a quiet peer.
    const bool bCallerDeadline = m_deadline && (bUnlimited || *m_deadline < deadline);
    if (bCallerDeadline)
        deadline = *m_deadline;
    for (;;)
    {
        int nWait = -1;
        if (!bUnlimited || bCallerDeadline)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            nWait =
                left.count() <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
        }
        const int nReady = ::poll(pfds, nCount, nWait);
        if (nCount == 2 && nReady > 0 && pfds[1].revents != 0)
            throw CExpSocket(kWsaEIntr);
        if (nReady > 0)
            return 1;
        if (nReady == 0)
        {
            if (bCallerDeadline)
                throw CExpSocket(kWsaETimedOut);
            return 0;
        }
        if (errno != EINTR)
            return 1; // let the read report the failure
    }
}

int CTcpConnection::Receive(void* pBuffer, int nCapacity)
{
    // Waiting on a descriptor that is not there would only sleep; fail like the platform does
    // when it cannot arm the wait.
    if (m_socket < 0)
        throw CExpSocket(kWsaENotSock);
    m_bPeerClosed = false;
    if (!WaitReadable())
    {
        m_bEnd = true;
        return 0;
    }
    ssize_t nRead;
    do
    {
        nRead = ::recv(m_socket, pBuffer, static_cast<size_t>(nCapacity < 0 ? 0 : nCapacity),
                       MSG_DONTWAIT);
    } while (nRead < 0 && errno == EINTR);
    if (nRead < 0)
    {
        // A wake-up without data (rare) counts as nothing read in this wait.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
        {
            m_bEnd = true;
            return 0;
        }
        ThrowLastError();
    }
    Trace(ETraceDirection::Receive, pBuffer, nRead);
    m_bEnd = (nRead == 0);
    m_bPeerClosed = (nRead == 0 && nCapacity > 0);
    return static_cast<int>(nRead);
}

int CTcpConnection::ReceivePending(void* pBuffer, int nCapacity)
{
    if (m_socket >= 0 && nCapacity > 0)
    {
        ssize_t nRead;
        do
        {
            nRead = ::recv(m_socket, pBuffer, static_cast<size_t>(nCapacity), MSG_DONTWAIT);
        } while (nRead < 0 && errno == EINTR);
        if (nRead > 0)
        {
            Trace(ETraceDirection::Receive, pBuffer, nRead); // as Receive would
            m_bEnd = false;
            m_bPeerClosed = false;
            return static_cast<int>(nRead);
        }
    }
    // Nothing waiting (or the close, or an error): the ordinary receive waits and reports it.
    return Receive(pBuffer, nCapacity);
}

int CTcpConnection::Close()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_bConnected = false;
    return 1;
}

void CTcpConnection::SetTimeout(int nMilliseconds)
{
    m_nTimeout = (nMilliseconds == -1) ? kNoLimit : static_cast<uint32_t>(nMilliseconds);
}

void CTcpConnection::ReleaseReply()
{
    std::vector<char>().swap(m_reply);
    m_bHasReply = false;
    m_nReplyLength = 0;
}

int CTcpConnection::Transact(const void* pData, int nLength, bool bReceiveOnly)
{
    if (!bReceiveOnly && Send(pData, nLength) < 1)
        return 0;
    ReleaseReply();
    // The reply is counted and zero-terminated so that a reader of it as text stops at what
    // arrived.
    m_reply.assign(kTransactCapacity + 1, '\0');
    m_bHasReply = true;
    const int nRead = Receive(m_reply.data(), kTransactCapacity);
    m_nReplyLength = nRead;
    return nRead >= 1 ? 1 : 0;
}

const char* CTcpConnection::ReplyBuffer() const
{
    return m_bHasReply ? m_reply.data() : nullptr;
}

int CTcpConnection::SendLine(const char* pszText)
{
    const int nLength = pszText ? static_cast<int>(std::strlen(pszText)) : 0;
    const int nSent = Send(pszText ? pszText : "", nLength);
    if (nSent == 0)
        return 0;
    return nSent + Send("\r\n", 2);
}

int CTcpConnection::ReadUntilQuiet(char** ppData)
{
    ReleaseReply();
    m_nTimeout = kQuietTimeout;
    char chunk[kQuietChunk];
    int nTotal = 0;
    int nCount = Receive(chunk, kQuietChunk);
    while (nCount > 0)
    {
        // The count is a signed 32-bit number; a peer that never stops cannot overflow it.
        if (nCount > INT_MAX - 1 - nTotal)
            break;
        if (static_cast<size_t>(nTotal) + static_cast<size_t>(nCount) > m_nReadLimit)
            throw CExpSocket(kWsaENoBufs);
        // The vector grows geometrically, so a long reply costs time linear in its size; the
        // caller only ever sees the counted bytes.
        m_reply.resize(static_cast<size_t>(nTotal)); // drop the terminator of the last chunk
        m_reply.insert(m_reply.end(), chunk, chunk + nCount);
        m_reply.push_back('\0');
        nTotal += nCount;
        m_bHasReply = true;
        nCount = Receive(chunk, kQuietChunk);
    }
    m_nReplyLength = nTotal;
    if (ppData != nullptr)
        *ppData = nTotal > 0 ? m_reply.data() : nullptr;
    return nTotal;
}

} // namespace lanvex
