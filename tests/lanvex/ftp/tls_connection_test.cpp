// The TLS layer on its own: the handshake against certificates a client must accept or refuse
// (nothing sent after a refusal), the pin, SSL_CERT_FILE, session resumption, and the ends of a
// TLS stream; the pin as users write it.
#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/ftp/tls_connection.h"
#include "tests/lanvex/ftp/tls_test_peer.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace lanvex
{
namespace
{

using namespace lanvex::test;

struct HandshakeCase
{
    const char* Name;
    ETestCert Cert;
    bool Verify;
    bool CaFile;
    const char* PinOf;   // "good", "self" or null
    const char* Failure; // null: accepted
};

std::optional<Sha256> PinOf(const char* pszWhich)
{
    if (pszWhich == nullptr)
        return std::nullopt;
    return ParseTlsPin(CTestPki::Get().Fingerprint(
        std::string(pszWhich) == "good" ? ETestCert::Good : ETestCert::SelfSigned));
}

TEST(TlsConnection, HandshakeAcceptsOrRefusesWithItsReasonAndSendsNothingAfterARefusal)
{
    const HandshakeCase cases[] = {
        {"trusted CA", ETestCert::Good, true, true, nullptr, nullptr},
        {"expired", ETestCert::Expired, true, true, nullptr, "expired"},
        {"other host", ETestCert::OtherHost, true, true, nullptr, "wrong host"},
        {"self-signed", ETestCert::SelfSigned, true, true, nullptr, "unknown issuer"},
        {"test CA not in the system store", ETestCert::Good, true, false, nullptr,
         "unknown issuer"},
        {"pinned self-signed", ETestCert::SelfSigned, true, false, "self", nullptr},
        {"pin of another certificate", ETestCert::Good, true, true, "self", "pin mismatch"},
        {"pin mismatch without verification", ETestCert::Good, false, false, "self",
         "pin mismatch"},
        {"no verification", ETestCert::SelfSigned, false, false, nullptr, nullptr},
    };
    for (const HandshakeCase& c : cases)
    {
        SCOPED_TRACE(c.Name);
        std::string afterHandshake = "?";
        CTlsTestServer server(
            [&](CTlsTestServer&, CPeerConnection& peer)
            {
                if (peer.Accept(c.Cert))
                    afterHandshake = peer.ReadToEnd();
                else
                    afterHandshake.clear();
            });
        CTlsContext context;
        std::string failure;
        ASSERT_TRUE(context.Start(
            {c.Verify, c.CaFile ? CTestPki::Get().CaFile() : "", PinOf(c.PinOf)}, &failure))
            << failure;
        CTcpConnection connection;
        CTlsStream tls(connection, nullptr, ETraceFormat::Text);
        connection.SetTimeout(3000);
        ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
        const CTlsStream::Handshake result = tls.StartTls(context, "127.0.0.1", true);
        if (c.Failure == nullptr)
        {
            EXPECT_TRUE(result.Ok) << result.Failure;
            tls.SendAll("USER alice\n", 11);
            tls.Finish(); // the server reads to the close_notify
            connection.Close();
        }
        else
        {
            EXPECT_FALSE(result.Ok);
            EXPECT_NE(result.Failure.find(c.Failure), std::string::npos) << result.Failure;
            EXPECT_FALSE(connection.HasSocket());
            connection.Close();
        }
        server.Join();
        EXPECT_EQ(afterHandshake, c.Failure == nullptr ? "USER alice\n" : "");
        if (result.Ok)
        {
            EXPECT_EQ(result.Fingerprint, CTestPki::Get().Fingerprint(c.Cert));
        }
    }
}

TEST(TlsConnection, TheSystemStoreIsWhereSslCertFileSays)
{
    CTlsTestServer server([](CTlsTestServer&, CPeerConnection& peer)
                          { peer.Accept(ETestCert::Good); });
    ::setenv("SSL_CERT_FILE", CTestPki::Get().CaFile().c_str(), 1);
    CTlsContext context;
    std::string failure;
    ASSERT_TRUE(context.Start({}, &failure)) << failure;
    ::unsetenv("SSL_CERT_FILE");
    CTcpConnection connection;
    CTlsStream tls(connection, nullptr, ETraceFormat::Text);
    ASSERT_EQ(connection.Open("127.0.0.1", server.Port()), 1);
    const CTlsStream::Handshake result = tls.StartTls(context, "localhost", true);
    EXPECT_TRUE(result.Ok) << result.Failure;
}

TEST(TlsConnection, AMissingCaFileIsReportedBeforeAnyConnection)
{
    CTlsContext context;
    std::string failure;
    EXPECT_FALSE(context.Start({true, "/nonexistent/ca.pem", std::nullopt}, &failure));
    EXPECT_NE(failure.find("/nonexistent/ca.pem"), std::string::npos) << failure;
}

// A data connection resumes the control connection's session; its stream ends on close_notify,
// and a stream cut without one is a failure, not an end.
TEST(TlsConnection, DataResumesTheControlSessionAndOnlyCloseNotifyEndsAStream)
{
    bool bResumed[2] = {};
    CTlsTestServer server(
        [&](CTlsTestServer& self, CPeerConnection& control)
        {
            if (!control.Accept(ETestCert::Good))
                return;
            control.Send("200 after the handshake\r\n");
            for (int i = 0; i < 2; ++i)
            {
                control.ReadLine();
                std::unique_ptr<CPeerConnection> data = self.AcceptData();
                if (!data || !data->Accept(ETestCert::Good))
                    return;
                bResumed[i] = data->Resumed();
                data->Send(std::string(100000, 'x'));
                if (i == 0)
                    data->Close();
                else
                    data->Drop();
            }
            control.ReadToEnd();
        });
    CTlsContext context;
    std::string failure;
    ASSERT_TRUE(context.Start({true, CTestPki::Get().CaFile(), std::nullopt}, &failure));
    CTcpConnection control;
    CTlsStream controlTls(control, nullptr, ETraceFormat::Text);
    control.SetTimeout(3000);
    ASSERT_EQ(control.Open("127.0.0.1", server.Port()), 1);
    ASSERT_TRUE(controlTls.StartTls(context, "127.0.0.1", true).Ok);
    char reply[64];
    ASSERT_GT(controlTls.Receive(reply, sizeof reply), 0); // takes in the session tickets too
    for (int i = 0; i < 2; ++i)
    {
        SCOPED_TRACE(i == 0 ? "closed with close_notify" : "cut off");
        controlTls.SendAll("RETR x\n", 7);
        CTcpConnection data;
        CTlsStream dataTls(data, nullptr, ETraceFormat::Data);
        data.SetTimeout(3000);
        ASSERT_EQ(data.Open("127.0.0.1", server.DataPort()), 1);
        const CTlsStream::Handshake result = dataTls.StartTls(context, "127.0.0.1", false);
        ASSERT_TRUE(result.Ok) << result.Failure;
        EXPECT_TRUE(result.Resumed);
        size_t nTotal = 0;
        bool bFailed = false;
        char block[10512];
        try
        {
            for (int n; (n = dataTls.Receive(block, sizeof block)) > 0;)
                nTotal += static_cast<size_t>(n);
        }
        catch (const CFtpFailure& failure)
        {
            bFailed = true;
            EXPECT_NE(failure.Description.find("without close_notify"), std::string::npos);
        }
        EXPECT_EQ(bFailed, i == 1);
        if (i == 0)
        {
            EXPECT_EQ(nTotal, 100000u);
            EXPECT_TRUE(dataTls.PeerClosed());
        }
    }
    controlTls.Finish();
    control.Close();
    server.Join();
    EXPECT_TRUE(bResumed[0]);
    EXPECT_TRUE(bResumed[1]);
}

TEST(TlsPolicy, PinsAsUsersWriteThemAndPortsByMode)
{
    const std::string hex = "00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff";
    std::string colons;
    for (size_t i = 0; i < hex.size(); i += 2)
        colons += (i ? ":" : "") + hex.substr(i, 2);
    ASSERT_TRUE(ParseTlsPin(hex));
    EXPECT_EQ(FormatTlsFingerprint(*ParseTlsPin(hex)),
              "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:"
              "BB:CC:DD:EE:FF");
    EXPECT_EQ(ParseTlsPin(colons), ParseTlsPin(hex));
    for (const std::string& bad : {hex.substr(2), hex + "00", hex.substr(1) + "g", std::string()})
        EXPECT_FALSE(ParseTlsPin(bad)) << bad;
    EXPECT_EQ(ControlPortFor(ETlsSecurity::Implicit, 21), 990);
    EXPECT_EQ(ControlPortFor(ETlsSecurity::Implicit, 2990), 2990);
    EXPECT_EQ(ControlPortFor(ETlsSecurity::Explicit, 21), 21);
    EXPECT_FALSE(TlsSecurityFromValue(3));
}

} // namespace
} // namespace lanvex
