// The bytes under an FTP control or data connection. The plain stream is the TCP connection
// itself; a security layer wraps the connection and takes the plain stream's place (the control
// session's WrapStream, the transfers' data-stream hook), so nothing above it changes.
#pragma once

#include "lanvex/net/transport/tcp_connection.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace lanvex
{

class IFtpStream
{
  public:
    virtual ~IFtpStream() = default;
    // Sends all bytes or throws CExpSocket; the connection's wait, cancel and deadline apply.
    virtual void SendAll(const void* pData, size_t nLength) = 0;
    // Up to nCapacity bytes: > 0 read; 0 when nothing came within the connection's wait, or the
    // peer closed (PeerClosed() then says so). Throws CExpSocket.
    virtual int Receive(void* pBuffer, int nCapacity) = 0;
    virtual bool PeerClosed() const = 0;
    // The sender's end of the data, before the connection closes (TLS: close_notify).
    virtual void Finish() {}
};

// The TCP connection as it is.
class CPlainFtpStream : public IFtpStream
{
  public:
    explicit CPlainFtpStream(CTcpConnection& connection) : m_connection(connection) {}
    void SendAll(const void* pData, size_t nLength) override;
    int Receive(void* pBuffer, int nCapacity) override
    {
        return m_connection.ReceivePending(pBuffer, nCapacity);
    }
    bool PeerClosed() const override { return m_connection.PeerClosed(); }

  private:
    CTcpConnection& m_connection;
};

// Makes the stream of a freshly opened data connection (null: the plain one).
using FtpDataStreamHook = std::function<std::unique_ptr<IFtpStream>(CTcpConnection&)>;

} // namespace lanvex
