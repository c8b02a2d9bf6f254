// One TCP connection: connect by name and port, send, and receive with a time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    int ReadUntilQuiet(char** ppData);

    uint32_t Timeout() const { return m_nTimeout; }
    bool IsEnd() const { return m_bEnd; }
    bool IsConnected() const { return m_bConnected; }
    bool HasSocket() const { return m_socket >= 0; }

private:
    void ReleaseReply();

    int m_socket = -1; // -1: no socket (0 is a valid descriptor here)
    std::optional<std::string> m_host;
    int m_nPort = 0;
    uint32_t m_nTimeout = kDefaultTimeout;
    bool m_bEnd = false;
    bool m_bConnected = false;
    // Reply block: null (empty and not present) until Transact or ReadUntilQuiet fills it.
    // One spare zero byte always follows the counted bytes.
    std::vector<char> m_reply;
    bool m_bHasReply = false;
    int m_nReplyLength = 0;
};

} // namespace lanvex
