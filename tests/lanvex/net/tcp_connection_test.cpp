// Transport tests against a scripted loopback peer: time-outs, quiet reads, errors, framing.
#include "lanvex/net/socket_error.h"
#include "lanvex/net/tcp_connection.h"
#include "tests/lanvex/net/scripted_server.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>

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
    CScriptedServer server({{SendBytes("abc"), Silence(300), SendBytes(std::string(450, 'd')),
                             Silence(2500)}});
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
    EXPECT_THROW(
        for (int i = 0; i < 20; ++i) connection.Send(block.data(), static_cast<int>(block.size())),
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

} // namespace
} // namespace lanvex
