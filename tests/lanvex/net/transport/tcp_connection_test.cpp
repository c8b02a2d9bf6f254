// Transport tests against a scripted loopback peer: time-outs, quiet reads, errors, framing.
#include "lanvex/net/transport/socket_error.h"
#include "lanvex/net/transport/tcp_connection.h"
#include "tests/lanvex/net/scripted_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lanvex
{
namespace
{

using namespace lanvex::test;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(SocketError, MessagesFollowTheErrorNumber)
{
    const struct
    {
        int32_t Error;
        const char* Message;
    } cases[] = {
        {10054, "Error connection reset : 10054"},
        {10058, "Error connection shutdown : 10058"},
        {10061, "Error connection refused : 10061"},
        {10038, "Error Socket : 10038"},
        {-7, "Error Socket : -7"},
    };
    for (const auto& c : cases)
    {
        try
        {
            throw CExpSocket(c.Error);
        }
        catch (const CExpComm& e) // the base catches the subclass
        {
            EXPECT_EQ(e.ErrorCode(), c.Error);
            EXPECT_STREQ(e.Message(), c.Message);
        }
    }
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
}

TEST(TcpConnection, FreshAndClosedStates)
{
    CTcpConnection connection;
    EXPECT_EQ(connection.Timeout(), 10000u);
    EXPECT_EQ(connection.Close(), 1);
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(connection.ReplyBuffer(), nullptr);
    connection.SetTimeout(-1);
    EXPECT_EQ(connection.Timeout(), CTcpConnection::kNoLimit);
}

TEST(TcpConnection, RefusedPortThrows10061)
{
    CTcpConnection connection;
    try
    {
        connection.Open("127.0.0.1", UnusedPort());
        FAIL() << "connect to a closed port succeeded";
    }
    catch (const CExpSocket& e)
    {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_STREQ(e.Message(), "Error connection refused : 10061");
    }
    EXPECT_FALSE(connection.IsConnected());
}

TEST(TcpConnection, UnresolvableHostReturnsZero)
{
    CTcpConnection connection;
    EXPECT_EQ(connection.Open("no-such-host.invalid", 23), 0);
    EXPECT_FALSE(connection.IsConnected());
    // Without a socket a read fails instead of sleeping through the time-out.
    char buffer[8];
    EXPECT_THROW(connection.Receive(buffer, sizeof buffer), CExpSocket);
}

TEST(TcpConnection, ReopeningReleasesTheEarlierSocket)
{
    // The server takes the second connection only after the first one has been closed.
    // A leaked first socket would hold it back for the server's 20 s patience.
    CScriptedServer server({{}, {ExpectBytes("x", 5000), CloseConnection()}});
    const auto start = Clock::now();
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    EXPECT_EQ(connection.Send("x", 1), 1);
    char buffer[4];
    connection.SetTimeout(10000);
    EXPECT_EQ(connection.Receive(buffer, sizeof buffer), 0); // the server closes after the "x"
    EXPECT_LT(MsSince(start), 10000);
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, ReceiveTimeoutSetsEndFlagAndSendClearsIt)
{
    CScriptedServer server({{ExpectBytes("x", 5000)}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    connection.SetTimeout(200);
    char buffer[8];
    const auto start = Clock::now();
    EXPECT_EQ(connection.Receive(buffer, sizeof buffer), 0);
    EXPECT_GE(MsSince(start), 190);
    EXPECT_TRUE(connection.IsEnd());
    EXPECT_EQ(connection.Send("x", 1), 1);
    EXPECT_FALSE(connection.IsEnd());
    connection.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, SendLineFramesWithCrLfAndSkipsEmptyText)
{
    CScriptedServer server({{ExpectBytes("ls -l\r\nX")}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    EXPECT_EQ(connection.SendLine(""), 0);
    EXPECT_EQ(connection.SendLine("ls -l"), 7);
    EXPECT_EQ(connection.Send("X", 1), 1);
    connection.Close();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Received(0), "ls -l\r\nX"); // the empty line sent nothing at all
}

TEST(TcpConnection, ReadUntilQuietCollectsBurstsAndKeepsTheShortTimeout)
{
    CScriptedServer server(
        {{SendBytes("abc"), Silence(300), SendBytes(std::string(450, 'd')), Silence(2500)}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    char* pData = nullptr;
    const auto start = Clock::now();
    const int nTotal = connection.ReadUntilQuiet(&pData);
    EXPECT_GE(MsSince(start), 1250); // 300 ms gap plus the closing second of silence
    ASSERT_EQ(nTotal, 453);
    EXPECT_EQ(std::string(pData, 3), "abc");
    EXPECT_EQ(std::string(pData + 3, 450), std::string(450, 'd'));
    EXPECT_EQ(connection.Timeout(), 1000u);

    // A silent peer: nothing, a null block, and the read waited the short time-out only.
    const auto second = Clock::now();
    EXPECT_EQ(connection.ReadUntilQuiet(&pData), 0);
    EXPECT_EQ(pData, nullptr);
    EXPECT_LT(MsSince(second), 2000);
    connection.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, PeerCloseEndsQuietReadEarly)
{
    CScriptedServer server({{SendBytes("bye"), CloseConnection()}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    char* pData = nullptr;
    const auto start = Clock::now();
    EXPECT_EQ(connection.ReadUntilQuiet(&pData), 3);
    EXPECT_LT(MsSince(start), 900);
    EXPECT_TRUE(connection.IsEnd());
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, ResetDuringReadThrows10054)
{
    CScriptedServer server({{ExpectBytes("go"), ResetConnection()}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    connection.Send("go", 2);
    char buffer[16];
    try
    {
        // The first wait may see the reset before or as the read; either way it must throw.
        for (int i = 0; i < 3; ++i)
            connection.Receive(buffer, sizeof buffer);
        FAIL() << "reset went unnoticed";
    }
    catch (const CExpSocket& e)
    {
        EXPECT_EQ(e.ErrorCode(), 10054);
        EXPECT_STREQ(e.Message(), "Error connection reset : 10054");
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, SendToAVanishedPeerThrowsWithoutSignal)
{
    CScriptedServer server({{ResetConnection()}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    EXPECT_EQ(server.Finish(), "");
    // Without MSG_NOSIGNAL the second send would kill the test with SIGPIPE.
    std::string block(4096, 'z');
    EXPECT_THROW(for (int i = 0; i < 20; ++i)
                     connection.Send(block.data(), static_cast<int>(block.size())),
                 CExpSocket);
}

TEST(TcpConnection, TransactTerminatesAndCountsTheReply)
{
    std::string longReply = "220 " + std::string(1500, 'r');
    CScriptedServer server({{ExpectBytes("NOOP\n"), SendBytes("200 ok\r\n"), ExpectBytes("STAT\n"),
                             SendBytes(longReply)}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    ASSERT_EQ(connection.Transact("NOOP\n", 5, false), 1);
    EXPECT_EQ(connection.ReplyLength(), 8);
    EXPECT_STREQ(connection.ReplyBuffer(), "200 ok\r\n");

    ASSERT_EQ(connection.Transact("STAT\n", 5, false), 1);
    // At most 1024 bytes per reply, and a text reader stops there.
    EXPECT_LE(connection.ReplyLength(), 1024);
    EXPECT_EQ(std::strlen(connection.ReplyBuffer()), static_cast<size_t>(connection.ReplyLength()));
    connection.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpConnection, ReadUntilQuietCollectsLargeReplies)
{
    const std::string big(2 * 1024 * 1024 + 17, 'q');
    CScriptedServer server({{SendBytes(big), Silence(1500)}});
    CTcpConnection connection;
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    char* pData = nullptr;
    ASSERT_EQ(connection.ReadUntilQuiet(&pData), static_cast<int>(big.size()));
    EXPECT_EQ(std::memcmp(pData, big.data(), big.size()), 0);
    connection.Close();
    EXPECT_EQ(server.Finish(), "");
}

// Signals an eventfd after a delay, from its own thread; joined on destruction.
class CCancelLater
{
  public:
    explicit CCancelLater(int nDelayMs)
        : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          m_thread(
              [this, nDelayMs]
              {
                  std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
                  const uint64_t one = 1;
                  [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
              })
    {
    }
    ~CCancelLater()
    {
        m_thread.join();
        ::close(m_fd);
    }
    int Fd() const { return m_fd; }

  private:
    int m_fd;
    std::thread m_thread;
};

std::vector<ServerStep> Trickle(int nBytes, int nGapMs)
{
    std::vector<ServerStep> steps;
    for (int i = 0; i < nBytes; ++i)
    {
        steps.push_back(SendBytes("x"));
        steps.push_back(Silence(nGapMs));
    }
    return steps;
}

// What a caller's limits do to a peer that never falls quiet, floods, or says nothing.
TEST(TcpConnection, CallerLimitsEndReadsWithTheirOwnErrors)
{
    struct Case
    {
        const char* Name;
        std::vector<ServerStep> Steps;
        int DeadlineMs;   // 0: none
        size_t ReadLimit; // 0: none
        int CancelMs;     // 0: none
        int32_t Error;
        long WithinMs;
    };
    const Case cases[] = {
        {"TrickleMeetsTheDeadline", Trickle(20, 300), 1500, 0, 0, kWsaETimedOut, 2500},
        {"FloodMeetsTheReadLimit",
         {SendBytes(std::string(1 << 20, 'f')), Silence(3000)},
         0,
         100000,
         0,
         kWsaENoBufs,
         2000},
        {"SilenceIsCancelled", {Silence(5000)}, 0, 0, 300, kWsaEIntr, 1000},
        {"TrickleIsCancelled", Trickle(20, 300), 0, 0, 700, kWsaEIntr, 1500},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        CScriptedServer server({c.Steps});
        CTcpConnection connection;
        ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
        std::optional<CCancelLater> cancel;
        if (c.CancelMs > 0)
            connection.SetCancelDescriptor(cancel.emplace(c.CancelMs).Fd());
        const auto start = Clock::now();
        if (c.DeadlineMs > 0)
            connection.SetDeadline(start + std::chrono::milliseconds(c.DeadlineMs));
        if (c.ReadLimit > 0)
            connection.SetReadLimit(c.ReadLimit);
        char* pData = nullptr;
        try
        {
            connection.ReadUntilQuiet(&pData);
            ADD_FAILURE() << "no limit ended the read";
        }
        catch (const CExpSocket& e)
        {
            EXPECT_EQ(e.ErrorCode(), c.Error);
        }
        EXPECT_LT(MsSince(start), c.WithinMs);
        connection.Close();
        server.Finish();
    }
}

// A name lookup holds the caller no longer than its limits: a stop or a passed deadline ends it
// (a name server that never answers cannot be had here; these reach the same wait).
TEST(TcpConnection, NameLookupEndsOnCancelOrDeadline)
{
    CScriptedServer server({{Silence(200)}});
    {
        CTcpConnection connection;
        ASSERT_EQ(connection.Open("localhost", server.Port()), 1); // a name, not an address
        connection.Close();
    }
    {
        CTcpConnection connection;
        CCancelLater cancel(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        connection.SetCancelDescriptor(cancel.Fd());
        EXPECT_THROW(connection.Open("localhost", server.Port()), CExpSocket);
    }
    {
        CTcpConnection connection;
        connection.SetDeadline(Clock::now() - std::chrono::seconds(1));
        try
        {
            connection.Open("localhost", server.Port());
            ADD_FAILURE() << "a lookup past its deadline went on";
        }
        catch (const CExpSocket& e)
        {
            EXPECT_EQ(e.ErrorCode(), kWsaETimedOut);
        }
    }
    server.Finish();
}

// A peer that accepts but never reads: sending ends after the connection's wait, or at once
// when cancelled, instead of blocking in a full send buffer.
TEST(TcpConnection, SendToAPeerThatStopsReadingEnds)
{
    // The kernel completes the connection in the listen queue; nobody ever accepts or reads.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nSize = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), nSize), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nSize), 0);
    for (const int nCancelMs : {300, 0})
    {
        SCOPED_TRACE(nCancelMs);
        CTcpConnection connection;
        ASSERT_EQ(connection.Open("127.0.0.1", ntohs(address.sin_port)), 1);
        // The listening kernel answers, so the quiet may last kLivePeerWaits waits.
        connection.SetTimeout(100);
        std::optional<CCancelLater> cancel;
        if (nCancelMs > 0)
            connection.SetCancelDescriptor(cancel.emplace(nCancelMs).Fd());
        const std::string block(1 << 20, 'u');
        const auto start = Clock::now();
        try
        {
            for (int i = 0; i < 256; ++i)
                connection.Send(block.data(), static_cast<int>(block.size()));
            ADD_FAILURE() << "256 MB went to a peer that reads nothing";
        }
        catch (const CExpSocket& e)
        {
            EXPECT_EQ(e.ErrorCode(), nCancelMs > 0 ? kWsaEIntr : kWsaETimedOut);
        }
        EXPECT_LT(MsSince(start), 3000);
        connection.Close();
    }
    ::close(listener);
}

// A listener whose accept queue is full drops new connection requests, so a connect there
// waits; it must end after the transport's 10 s, or at once when cancelled.
TEST(TcpConnection, ConnectToAFullAcceptQueueTimesOutOrIsCancelled)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nSize = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), nSize), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nSize), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i)
    {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), nSize);
    }
    const int nPort = ntohs(address.sin_port);

    for (const int nCancelMs : {300, 0})
    {
        SCOPED_TRACE(nCancelMs);
        CTcpConnection connection;
        std::optional<CCancelLater> cancel;
        if (nCancelMs > 0)
            connection.SetCancelDescriptor(cancel.emplace(nCancelMs).Fd());
        const auto start = Clock::now();
        try
        {
            connection.Open("127.0.0.1", nPort);
            ADD_FAILURE() << "connected to a full queue";
        }
        catch (const CExpSocket& e)
        {
            EXPECT_EQ(e.ErrorCode(), nCancelMs > 0 ? kWsaEIntr : kWsaETimedOut);
        }
        if (nCancelMs > 0)
            EXPECT_LT(MsSince(start), 1000);
        else
            EXPECT_LT(MsSince(start), 11000);
        EXPECT_FALSE(connection.IsConnected());
    }
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

} // namespace
} // namespace lanvex
