// One TCP connection: connect by name and port, send, and receive with a time-out.
#pragma once

#include "lanvex/net/transport/wire_trace.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct in_addr;

namespace lanvex
{

// Failed socket calls throw CExpSocket (socket_error.h); a time-out or a closed peer is not
// an error but a receive of 0 bytes with the end flag set.
class CTcpConnection
{
  public:
    static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;
    static constexpr uint32_t kDefaultTimeout = 10000;
    static constexpr uint32_t kQuietTimeout = 1000;
    static constexpr int kQuietChunk = 200;
    static constexpr int kTransactCapacity = 1024;
    // How many waits a send may stay quiet while the peer's kernel still answers (see
    // WaitForQueue).
    static constexpr uint32_t kLivePeerWaits = 12;

    CTcpConnection();
    CTcpConnection(const CTcpConnection&) = delete;
    CTcpConnection& operator=(const CTcpConnection&) = delete;
    virtual ~CTcpConnection();

    // Virtual operations in their historical slot order.
    virtual int Close();
    virtual int Connect();
    virtual int Send(const void* pData, int nLength);
    virtual int Receive(void* pBuffer, int nCapacity);
    virtual int Open(const char* pszHost, int nPort);

    void SetTimeout(int nMilliseconds);
    int WaitReadable();
    // Receive that takes bytes already waiting without a wait first (bulk transfers).
    int ReceivePending(void* pBuffer, int nCapacity);
    int Transact(const void* pData, int nLength, bool bReceiveOnly);
    // The reply of the last Transact, zero-terminated after ReplyLength() bytes.
    const char* ReplyBuffer() const;
    int ReplyLength() const { return m_nReplyLength; }
    int SendLine(const char* pszText);
    // Waits until the peer has acknowledged every byte sent, by the rule of a send waiting for
    // room: an upload is done when the server has it, not when it sits in the send queue. False
    // when it stalls; throws on cancel, deadline or a broken connection.
    bool WaitUntilSent();
    int ReadUntilQuiet(char** ppData);

    // Limits a caller may set around its own calls; unset, the connection behaves as it always
    // did. A readable cancel descriptor ends any wait with CExpSocket(kWsaEIntr); a deadline
    // ends the wait that would pass it with CExpSocket(kWsaETimedOut); a read limit ends a
    // ReadUntilQuiet that would collect more with CExpSocket(kWsaENoBufs).
    using Clock = std::chrono::steady_clock;
    void SetCancelDescriptor(int fd) { m_cancelFd = fd; }
    void SetDeadline(std::optional<Clock::time_point> deadline) { m_deadline = deadline; }
    void SetReadLimit(size_t nBytes) { m_nReadLimit = nBytes; }

    // Names the connection in the wire trace (wire_trace.h); an unnamed one is not traced.
    void TraceAs(const char* pszComponent, ETraceFormat format)
    {
        m_pszTraceComponent = pszComponent;
        m_traceFormat = format;
    }
    // The next Send carries a secret: the trace names it and shows "****", never the bytes.
    void MaskNextSend(const char* pszWhat) { m_pszTraceSecret = pszWhat; }

    uint32_t Timeout() const { return m_nTimeout; }
    bool IsEnd() const { return m_bEnd; }
    bool IsConnected() const { return m_bConnected; }
    // The last Receive found the connection closed by the peer (not merely quiet).
    bool PeerClosed() const { return m_bPeerClosed; }
    bool HasSocket() const { return m_socket >= 0; }

  private:
    void ReleaseReply();
    bool ResolveHost(::in_addr* pAddress);
    // Waits up to nMilliseconds (kNoLimit: no limit) for events on the socket; 1 ready, 0 timed
    // out. Throws when the caller cancels or its deadline passes.
    int WaitFor(short nEvents, uint32_t nMilliseconds);
    // Waits for room to send (bEmpty: until the send queue is empty); false once no byte has
    // left the send queue for the wait (longer while the peer's kernel answers).
    bool WaitForQueue(bool bEmpty);
    // The peer's kernel answers: nothing sent waits for a repeat, at most the latest window
    // probe is unanswered (a receiver may rate-limit those answers).
    bool PeerAnswering() const;
    void Trace(ETraceDirection direction, const void* pData, ssize_t nLength);

    int m_socket = -1; // -1: no socket (0 is a valid descriptor here)
    std::optional<std::string> m_host;
    int m_nPort = 0;
    uint32_t m_nTimeout = kDefaultTimeout;
    bool m_bEnd = false;
    bool m_bConnected = false;
    bool m_bPeerClosed = false;
    // Reply block: null (empty and not present) until Transact or ReadUntilQuiet fills it.
    // One spare zero byte always follows the counted bytes.
    std::vector<char> m_reply;
    bool m_bHasReply = false;
    int m_nReplyLength = 0;
    int m_cancelFd = -1;
    std::optional<Clock::time_point> m_deadline;
    size_t m_nReadLimit = static_cast<size_t>(-1);
    const char* m_pszTraceComponent = nullptr;
    ETraceFormat m_traceFormat = ETraceFormat::Text;
    const char* m_pszTraceSecret = nullptr;
};

} // namespace lanvex
