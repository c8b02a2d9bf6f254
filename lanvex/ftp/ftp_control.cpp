// The control connection of an FTP session: command lines out, whole replies back.
#include "lanvex/ftp/ftp_control.h"

#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/net/transport/socket_error.h"

#include <chrono>

namespace lanvex
{

namespace
{

std::string Seconds(int nMilliseconds)
{
    return std::to_string((nMilliseconds + 999) / 1000) + " s";
}

// A line that is no reply, shown as far as it is printable and short.
std::string Quoted(const std::string& bytes)
{
    std::string shown;
    for (char c : bytes.substr(0, 40))
        shown += (c >= ' ' && c != 0x7F) ? c : '.';
    return "\"" + shown + "\"";
}

} // namespace

void CPlainFtpStream::SendAll(const void* pData, size_t nLength)
{
    const char* p = static_cast<const char*>(pData);
    while (nLength > 0)
    {
        const int nChunk = nLength > (1u << 30) ? (1 << 30) : static_cast<int>(nLength);
        const int nSent = m_connection.Send(p, nChunk);
        if (nSent < 1)
            throw CExpSocket(kWsaEShutdown);
        p += nSent;
        nLength -= static_cast<size_t>(nSent);
    }
}

std::string DescribeSocketFailure(const CExpSocket& error, const char* pszWhich)
{
    if (error.ErrorCode() == kWsaEIntr)
        return "Cancelled";
    return std::string("The ") + pszWhich + " connection failed" +
           (error.Message() != nullptr ? std::string(": ") + error.Message() : std::string());
}

CFtpControl::CFtpControl() : m_stream(std::make_unique<CPlainFtpStream>(m_connection))
{
    m_connection.TraceAs("lvFTPClient", ETraceFormat::Lines);
}

void CFtpControl::SetCancelDescriptor(int fd)
{
    m_cancelFd = fd;
    m_connection.SetCancelDescriptor(fd);
}

void CFtpControl::SetDeadline(std::optional<CTcpConnection::Clock::time_point> deadline)
{
    m_connection.SetDeadline(deadline);
}

void CFtpControl::Drop()
{
    if (m_connection.IsConnected() || m_connection.HasSocket())
        m_connection.Close();
    m_reader.Reset();
    m_stream = std::make_unique<CPlainFtpStream>(m_connection);
    m_bOpen = false;
}

void CFtpControl::DropAndThrow(HRESULT hr, const std::string& description)
{
    Drop();
    ThrowFtp(hr, description);
}

void CFtpControl::Open(const char* pszHost, int nPort, const std::function<void()>& beforeGreeting)
{
    Drop();
    try
    {
        m_connection.SetTimeout(m_nWait);
        // The port is sign-extended; the transport uses its low 16 bits.
        m_connection.Open(pszHost, nPort);
    }
    catch (const CExpSocket& error)
    {
        DropAndThrow(E_ABORT,
                     error.ErrorCode() == kWsaEIntr
                         ? std::string("Cancelled")
                         : "The server could not be reached" +
                               (error.Message() != nullptr ? std::string(": ") + error.Message()
                                                           : std::string()));
    }
    if (!m_connection.HasSocket())
        DropAndThrow(E_ABORT, "The server's address could not be resolved");
    m_bOpen = true;
    if (beforeGreeting)
        beforeGreeting();
    try
    {
        const FtpReply& greeting = FinalReply();
        if (greeting.IsRefusal())
            DropAndThrow(E_ABORT, greeting.Text());
    }
    catch (const CFtpFailure& failure)
    {
        ThrowFtp(E_ABORT, failure.Description); // the connection is already dropped
    }
}

void CFtpControl::SendLine(std::string_view line, const char* pszSecret)
{
    if (!m_bOpen)
        ThrowFtp(E_FAIL, "Not connected (the control connection is closed)");
    try
    {
        m_connection.SetTimeout(m_nWait);
        if (pszSecret != nullptr)
            m_connection.MaskNextSend(pszSecret);
        m_stream->SendAll(line.data(), line.size());
    }
    catch (const CExpSocket& error)
    {
        DropAndThrow(E_FAIL, DescribeSocketFailure(error, "control"));
    }
}

const FtpReply& CFtpControl::ReadReply()
{
    if (!m_bOpen)
        ThrowFtp(E_FAIL, "Not connected (the control connection is closed)");
    // The whole reply must arrive within one wait; after a failure the connection is dropped,
    // so that a late reply is never taken for the next command's.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nWait);
    for (;;)
    {
        FtpReply reply;
        const CFtpReplyReader::Status status = m_reader.Next(&reply);
        if (status == CFtpReplyReader::Status::Complete)
        {
            if (!reply.IsWellFormed())
                DropAndThrow(E_FAIL, "The server sent " + Quoted(reply.Bytes) +
                                         ", which is no reply; the control connection was closed");
            m_last = std::move(reply);
            return m_last;
        }
        if (status == CFtpReplyReader::Status::Overflow)
            DropAndThrow(E_FAIL, "The server's reply did not end within 1 MB; the control "
                                 "connection was closed");
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        char chunk[4096];
        int nRead = 0;
        try
        {
            m_connection.SetTimeout(static_cast<int>(left));
            nRead = m_stream->Receive(chunk, sizeof chunk);
        }
        catch (const CExpSocket& error)
        {
            DropAndThrow(E_FAIL, DescribeSocketFailure(error, "control"));
        }
        if (nRead <= 0)
        {
            if (m_stream->PeerClosed())
                DropAndThrow(E_FAIL, "The server closed the control connection");
            break;
        }
        m_reader.Append(chunk, static_cast<size_t>(nRead));
    }
    DropAndThrow(E_FAIL, "No complete reply from the server within " + Seconds(m_nWait) +
                             "; the control connection was closed");
}

const FtpReply& CFtpControl::FinalReply()
{
    // Preliminary replies are read and left in the wire trace; the command's own comes after.
    for (int i = 0; i <= kMaxPreliminary; ++i)
        if (!ReadReply().IsPreliminary())
            return m_last;
    DropAndThrow(E_FAIL, "The server sent more than " + std::to_string(kMaxPreliminary) +
                             " preliminary replies; the control connection was closed");
}

const FtpReply& CFtpControl::Command(std::string_view line, const char* pszSecret)
{
    SendLine(line, pszSecret);
    return FinalReply();
}

const FtpReply& CFtpControl::Require(std::string_view line, const char* pszSecret)
{
    const FtpReply& reply = Command(line, pszSecret);
    if (reply.IsRefusal())
        ThrowFtp(E_ABORT, reply.Text());
    return reply;
}

const FtpReply& CFtpControl::Start(std::string_view line)
{
    SendLine(line, nullptr);
    return ReadReply();
}

} // namespace lanvex
