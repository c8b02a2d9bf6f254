// The control connection of an FTP session: command lines out, whole replies back, every reply
// in its place. Failures are thrown as CFtpFailure; a refusal (4yz, 5yz) is a reply, not a
// failure, until the caller judges it.
#pragma once

#include "lanvex/ftp/ftp_protocol.h"
#include "lanvex/ftp/ftp_stream.h"
#include "lanvex/net/transport/tcp_connection.h"

#include "platform/com/unknown.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lanvex
{

class CFtpControl
{
  public:
    // A command may be answered by this many preliminary replies before its own; more is a
    // server that never answers.
    static constexpr int kMaxPreliminary = 64;

    CFtpControl();

    // How long one reply may take; also the data connections' silence bound.
    void SetWait(int nMilliseconds) { m_nWait = nMilliseconds; }
    int Wait() const { return m_nWait; }
    // A readable descriptor ends every wait at once (the user cancelled).
    void SetCancelDescriptor(int fd);
    int CancelDescriptor() const { return m_cancelFd; }
    // Bounds every wait of the session until cleared.
    void SetDeadline(std::optional<CTcpConnection::Clock::time_point> deadline);

    // Connects and reads the greeting (preliminary "120"s waited out); a refusing greeting is
    // thrown as E_ABORT. Any earlier connection is dropped first.
    // beforeGreeting runs once the connection stands (implicit TLS starts there).
    void Open(const char* pszHost, int nPort, const std::function<void()>& beforeGreeting = {});
    // Closes without QUIT. Every later command fails at once until the next Open.
    void Drop();
    bool IsOpen() const { return m_bOpen; }

    // Sends one line and returns its reply: the first one that is not preliminary.
    const FtpReply& Command(std::string_view line, const char* pszSecret = nullptr);
    // Command, with a refusal thrown as E_ABORT with the server's text.
    const FtpReply& Require(std::string_view line, const char* pszSecret = nullptr);
    // Sends a line and reads its first reply, preliminary or not (a transfer's "150").
    const FtpReply& Start(std::string_view line);
    // The next reply that is not preliminary.
    const FtpReply& FinalReply();

    const FtpReply& Last() const { return m_last; }
    std::string LastCode() const { return m_last.Code(); }
    std::string LastText() const { return m_last.Text(); }
    // A security layer takes the plain stream's place from the next byte on.
    void WrapStream(std::unique_ptr<IFtpStream> stream) { m_stream = std::move(stream); }
    CTcpConnection& Connection() { return m_connection; }

  private:
    void SendLine(std::string_view line, const char* pszSecret);
    const FtpReply& ReadReply();
    [[noreturn]] void DropAndThrow(HRESULT hr, const std::string& description);

    CTcpConnection m_connection;
    std::unique_ptr<IFtpStream> m_stream;
    CFtpReplyReader m_reader;
    FtpReply m_last;
    bool m_bOpen = false;
    int m_nWait = static_cast<int>(CTcpConnection::kDefaultTimeout);
    int m_cancelFd = -1;
};

// What a transport failure means to the user: cancelled, out of time, or the connection's own.
class CExpSocket;
std::string DescribeSocketFailure(const CExpSocket& error, const char* pszWhich);

} // namespace lanvex
