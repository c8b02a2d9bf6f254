// Passive-mode transfers: PASV, one data connection per transfer, bounded and confirmed.
#include "lanvex/ftp/ftp_transfer.h"

#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/net/transport/socket_error.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <poll.h>

namespace lanvex
{

namespace
{

using Clock = CTcpConnection::Clock;

bool IsCancelled(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&pfd, 1, 0) > 0;
}

// Time for the replies around the data, and for the bytes at the floor rate. Far beyond any
// useful bound it is cut, so that the clock arithmetic cannot overflow.
int64_t AllowedMilliseconds(int64_t nBytes, int64_t nRate, int nWait)
{
    constexpr int64_t kMost = int64_t{1} << 40; // some 35 years
    nRate = std::max<int64_t>(nRate, 1);
    nBytes = std::max<int64_t>(nBytes, 0);
    const int64_t nSeconds = nBytes / nRate;
    if (nSeconds >= kMost / 1000)
        return kMost;
    return 3 * static_cast<int64_t>(nWait) + nSeconds * 1000 + (nBytes % nRate) * 1000 / nRate;
}

std::string Seconds(int64_t nMilliseconds)
{
    return std::to_string((nMilliseconds + 999) / 1000) + " s";
}

// Clears the session's deadline however the transfer ends.
struct CDeadlineScope
{
    CFtpControl& Control;
    CDeadlineScope(CFtpControl& control, Clock::time_point deadline) : Control(control)
    {
        Control.SetDeadline(deadline);
    }
    ~CDeadlineScope() { Control.SetDeadline(std::nullopt); }
};

} // namespace

int16_t CFtpTransfers::Passive()
{
    const FtpReply& reply = m_control.Command("PASV\n");
    if (reply.IsRefusal())
        ThrowFtp(E_ABORT, reply.Text());
    // The host in the reply is ignored: data always goes to the control connection's host.
    const std::optional<int16_t> port = ReadPassivePort(reply.Bytes);
    if (!port)
        ThrowFtp(E_FAIL, "The server's answer to PASV names no data port: " + reply.Text());
    return *port;
}

template <class Move>
int64_t CFtpTransfers::Transfer(std::string_view line, int64_t nSize,
                                const FtpTransferBounds& bounds, int16_t* pDataPort,
                                const std::function<void()>& begin, Move move)
{
    const int nWait = m_control.Wait();
    const int64_t nAllowed =
        AllowedMilliseconds(nSize >= 0 ? nSize : bounds.MaxBytes, bounds.FloorRate, nWait);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nAllowed);
    const CDeadlineScope scope(m_control, deadline);
    // A failure that comes from the deadline says so, whichever wait ran into it.
    const auto inTime = [&](CFtpFailure failure) -> CFtpFailure
    {
        // (A wait cut to the deadline ends within a millisecond before it.)
        if (Clock::now() + std::chrono::milliseconds(20) >= deadline &&
            failure.Description != "Cancelled")
            failure = {E_FAIL, "The transfer did not finish within " + Seconds(nAllowed) +
                                   " (the slowest rate allowed is " +
                                   std::to_string(bounds.FloorRate) + " bytes a second)"};
        return failure;
    };
    try
    {
        *pDataPort = Passive();
        CTcpConnection data;
        data.SetTimeout(nWait);
        data.SetCancelDescriptor(m_control.CancelDescriptor());
        data.SetDeadline(deadline);
        data.TraceAs("lvFTPClient", ETraceFormat::Data);
        // The data connection is opened before the command goes out, so that a port nobody
        // answers on leaves no command waiting for its reply.
        try
        {
            data.Open(m_host ? m_host->c_str() : nullptr, *pDataPort);
        }
        catch (const CExpSocket& error)
        {
            ThrowFtp(E_FAIL, DescribeSocketFailure(error, "data"));
        }
        if (!data.HasSocket())
            ThrowFtp(E_FAIL, "The data connection could not be opened");
        const FtpReply first = m_control.Start(line);
        if (first.IsRefusal())
            ThrowFtp(E_ABORT, first.Text());
        // Usually "150"; a server may also answer at once with its completion, and the data
        // still comes (or the size check finds it missing).
        const bool bAnswered = !first.IsPreliminary();
        int64_t nMoved = 0;
        try
        {
            std::unique_ptr<IFtpStream> stream =
                m_hook ? m_hook(data) : std::make_unique<CPlainFtpStream>(data);
            if (begin)
                begin();
            nMoved = move(*stream);
            // An upload is done when the server has every byte, not when the last ones sit in
            // the send queue: over a slow link that queue takes minutes to drain, and the
            // server's completion reply only comes after it.
            if (!data.WaitUntilSent())
                throw CExpSocket(kWsaETimedOut);
            stream->Finish();
            data.Close(); // an upload's end of data is the end of the file
        }
        catch (...)
        {
            data.Close();
            // The completion the server still owes is read (a failure there changes nothing),
            // unless the user is waiting for the cancel.
            if (IsCancelled(m_control.CancelDescriptor()))
                m_control.Drop();
            else if (!bAnswered)
                try
                {
                    m_control.FinalReply();
                }
                catch (...)
                {
                }
            try
            {
                throw;
            }
            catch (const CExpSocket& error)
            {
                ThrowFtp(E_FAIL, DescribeSocketFailure(error, "data"));
            }
        }
        const FtpReply done = bAnswered ? first : m_control.FinalReply();
        if (done.IsRefusal())
            ThrowFtp(E_ABORT, done.Text());
        if (!done.IsCompletion())
            ThrowFtp(E_FAIL,
                     "The server did not confirm the transfer: " + done.Code() + " " + done.Text());
        if (bounds.ExpectedSize >= 0 && nMoved != bounds.ExpectedSize)
            ThrowFtp(E_FAIL, std::to_string(nMoved) + " of the " +
                                 std::to_string(bounds.ExpectedSize) +
                                 " bytes listed arrived; the transfer is incomplete");
        return nMoved;
    }
    catch (const CFtpFailure& failure)
    {
        throw inTime(failure);
    }
}

int64_t CFtpTransfers::Download(std::string_view line, const FtpSink& sink,
                                const FtpTransferBounds& bounds, int16_t* pDataPort)
{
    const int nWait = m_control.Wait();
    return Transfer(
        line, bounds.ExpectedSize, bounds, pDataPort, sink.Begin,
        [&](IFtpStream& stream) -> int64_t
        {
            const int64_t nLimit = bounds.ExpectedSize >= 0 ? bounds.ExpectedSize : bounds.MaxBytes;
            std::unique_ptr<char[]> block(new char[kBlock]);
            int64_t nTotal = 0;
            for (;;)
            {
                // The server's close ends the data; a wait that passes without data is a stall.
                const int nRead = stream.Receive(block.get(), kBlock);
                if (nRead <= 0)
                {
                    if (stream.PeerClosed())
                        return nTotal;
                    ThrowFtp(E_FAIL, "No data arrived for " + Seconds(nWait) +
                                         "; the transfer is incomplete");
                }
                if (nRead > nLimit - nTotal)
                    ThrowFtp(E_FAIL, bounds.ExpectedSize >= 0
                                         ? "The server sent more than the " +
                                               std::to_string(nLimit) + " bytes listed"
                                         : "The data passed the " + std::string(bounds.LimitName) +
                                               " of " + std::to_string(nLimit) + " bytes");
                nTotal += nRead;
                sink.Write(block.get(), static_cast<size_t>(nRead));
                if (m_progress)
                    m_progress(nTotal);
            }
        });
}

int64_t CFtpTransfers::Upload(std::string_view line, FILE* pSource, int64_t nSize,
                              const FtpTransferBounds& bounds, int16_t* pDataPort)
{
    return Transfer(line, nSize, bounds, pDataPort, nullptr,
                    [&](IFtpStream& stream) -> int64_t
                    {
                        std::unique_ptr<char[]> block(new char[kBlock]);
                        int64_t nTotal = 0;
                        for (;;)
                        {
                            const size_t nRead = std::fread(block.get(), 1, kBlock, pSource);
                            stream.SendAll(block.get(), nRead);
                            nTotal += static_cast<int64_t>(nRead);
                            if (nRead > 0 && m_progress)
                                m_progress(nTotal);
                            if (nRead < static_cast<size_t>(kBlock))
                            {
                                if (std::ferror(pSource))
                                    ThrowFtp(E_FAIL, "The local file could not be read");
                                return nTotal;
                            }
                        }
                    });
}

} // namespace lanvex
