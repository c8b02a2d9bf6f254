// lvFTPClient over TLS: certificates refused before the login is sent (scripted TLS server), a
// data connection cut without close_notify, and login, upload, listing and byte-exact download
// against vsftpd requiring TLS (scripts/peers; skipped without it), with the wire trace showing
// the handshake and the commands but never the password.
#include "lanvex/ftp/ftp_client.h"
#include "lanvex/net/transport/wire_trace.h"
#include "tests/lanvex/ftp/tls_test_peer.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"
#include "tests/lanvex/ftp/ftp_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace lanvex
{
namespace
{

using namespace lanvex::test;
namespace fs = std::filesystem;
using lanvex::test::LastDescription;
using lanvex::test::ReadAll;

struct Ftps
{
    IlvFTPClient3* p = nullptr;
    Ftps(const std::string& user, const std::string& password, int nPort, LONG nSecurity)
    {
        void* pv = nullptr;
        EXPECT_EQ(CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient3, &pv), S_OK);
        p = static_cast<IlvFTPClient3*>(pv);
        static_cast<lvFTPClient*>(p)->SetTimeout(3000);
        p->put_Address(CComBSTR(u"127.0.0.1"));
        p->put_Port(static_cast<SHORT>(nPort));
        p->put_Username(CComBSTR(NarrowToWide(user).c_str()));
        p->put_Password(CComBSTR(NarrowToWide(password).c_str()));
        p->put_Security(nSecurity);
    }
    ~Ftps() { p->Release(); }
    IlvFTPClient3* operator->() const { return p; }
};

CComBSTR Wide(const std::string& text)
{
    return CComBSTR(NarrowToWide(text).c_str());
}

// The server's side of an explicit login up to the handshake.
bool AcceptAuthTls(CPeerConnection& peer, ETestCert cert)
{
    peer.Send("220 ready\r\n");
    if (peer.ReadLine() != "AUTH TLS\n")
        return false;
    peer.Send("234 Proceed with negotiation.\r\n");
    return peer.Accept(cert);
}

TEST(FtpsClient, ACertificateItCannotTrustEndsTheSessionBeforeTheLogin)
{
    struct Case
    {
        const char* Label;
        ETestCert Cert;
        bool CaFile;
        bool PinOfSelfSigned;
        const char* Reason;
    } cases[] = {
        {"wrong pin", ETestCert::Good, true, true, "pin mismatch"},
        {"untrusted certificate", ETestCert::SelfSigned, true, false, "unknown issuer"},
        {"wrong host name", ETestCert::OtherHost, true, false, "wrong host"},
        {"expired", ETestCert::Expired, true, false, "expired"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Label);
        std::string afterHandshake = "?";
        CTlsTestServer server(
            [&](CTlsTestServer&, CPeerConnection& peer)
            { afterHandshake = AcceptAuthTls(peer, c.Cert) ? peer.ReadToEnd() : "no handshake"; });
        {
            Ftps ftp("alice", "s3cret", server.Port(), 1);
            ftp->put_TlsCaFile(Wide(CTestPki::Get().CaFile()));
            if (c.PinOfSelfSigned)
                ftp->put_TlsPinnedSha256(Wide(CTestPki::Get().Fingerprint(ETestCert::SelfSigned)));
            EXPECT_EQ(ftp->Connect(), E_FAIL);
            EXPECT_NE(LastDescription().find(c.Reason), std::string::npos) << LastDescription();
            EXPECT_EQ(ftp->IsConnected(), S_FALSE);
        }
        server.Join();
        EXPECT_EQ(afterHandshake, ""); // not USER, not anything
    }
}

TEST(FtpsClient, ADataConnectionCutWithoutCloseNotifyIsAFailure)
{
    CTlsTestServer server(
        [](CTlsTestServer& self, CPeerConnection& control)
        {
            if (!AcceptAuthTls(control, ETestCert::Good))
                return;
            for (const char* reply :
                 {"200 PBSZ=0\r\n", "200 PROT now Private.\r\n", "331 pw?\r\n", "230 in\r\n"})
            {
                control.ReadLine();
                control.Send(reply);
            }
            control.ReadLine(); // PASV
            control.Send(self.PassiveReply());
            control.ReadLine(); // RETR
            control.Send("150 Opening BINARY mode data connection.\r\n");
            std::unique_ptr<CPeerConnection> data = self.AcceptData();
            if (!data || !data->Accept(ETestCert::Good))
                return;
            data->Send(std::string(50000, 'x'));
            data->Drop(); // no close_notify: anyone could have cut it here
            control.Send("226 Transfer complete.\r\n");
            control.ReadToEnd();
        });
    const fs::path local =
        fs::temp_directory_path() / ("lanvex-ftps-" + std::to_string(::getpid()));
    {
        Ftps ftp("alice", "s3cret", server.Port(), 1);
        ftp->put_TlsCaFile(Wide(CTestPki::Get().CaFile()));
        ASSERT_EQ(ftp->Connect(), S_OK) << LastDescription();
        EXPECT_EQ(ftp->ReadFile(CComBSTR(u"big.bin"), Wide(local.string())), E_FAIL);
        EXPECT_NE(LastDescription().find("without close_notify"), std::string::npos)
            << LastDescription();
    }
    server.Join();
    fs::remove(local);
}

// vsftpd with TLS required (explicit and implicit) from scripts/peers.
class FtpsPeer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* pszPort = std::getenv("VIGIL_FTPS_PORT");
        if (pszPort == nullptr || std::getenv("VIGIL_FTPS_CA") == nullptr)
            GTEST_SKIP() << "no FTPS peer (source scripts/peers start as root)";
        m_nPort = std::atoi(pszPort);
        if (const char* pszImplicit = std::getenv("VIGIL_FTPS_IMPLICIT_PORT"))
            m_nImplicitPort = std::atoi(pszImplicit);
        m_user = std::getenv("VIGIL_FTPS_USER");
        m_password = std::getenv("VIGIL_FTPS_PASSWORD");
        m_ca = std::getenv("VIGIL_FTPS_CA");
        m_dir = fs::temp_directory_path() / ("lanvex-ftps-peer-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        ConfigureWireTrace(nullptr);
        std::error_code ignored;
        if (!m_dir.empty())
            fs::remove_all(m_dir, ignored);
    }

    int m_nPort = 0, m_nImplicitPort = 0;
    std::string m_user, m_password, m_ca;
    fs::path m_dir;
};

TEST_F(FtpsPeer, LogsInUploadsListsAndDownloadsByteExactOverExplicitAndImplicitTls)
{
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + i / 977);
    std::ofstream(m_dir / "up.bin", std::ios::binary) << bytes;
    const fs::path trace = m_dir / "trace.log";
    ASSERT_TRUE(ConfigureWireTrace(trace.c_str()));
    for (const auto& [nSecurity, nPort] : {std::pair{1, m_nPort}, std::pair{2, m_nImplicitPort}})
    {
        SCOPED_TRACE(nSecurity == 1 ? "explicit" : "implicit");
        if (nPort == 0)
            continue;
        Ftps ftp(m_user, m_password, nPort, nSecurity);
        ftp->put_TlsCaFile(Wide(m_ca));
        ASSERT_EQ(ftp->Connect(), S_OK) << LastDescription();
        CComBSTR fingerprint;
        ftp->get_TlsPeerFingerprint(&fingerprint);
        EXPECT_EQ(SysStringLen(fingerprint), 95u); // 32 bytes as "AB:" ... "EF"
        const std::string remote = "lanvex-ftps-" + std::to_string(nSecurity) + ".bin";
        ASSERT_EQ(ftp->SetType(1), S_OK);
        ASSERT_EQ(ftp->WriteFile(Wide((m_dir / "up.bin").string()), Wide(remote)), S_OK)
            << LastDescription();
        ftp->put_FileList(0);
        ASSERT_EQ(ftp->ReadCurrDir(), S_OK) << LastDescription();
        LONG nCount = 0;
        ftp->GetFileCount32(&nCount);
        bool bListed = false;
        for (LONG i = 0; i < nCount; ++i)
        {
            CComBSTR name;
            LONGLONG nSize = 0;
            ftp->GetEntryName(i, &name);
            ftp->GetEntrySize(i, &nSize);
            bListed |=
                NarrowFromBstr(name) == remote && nSize == static_cast<LONGLONG>(bytes.size());
        }
        EXPECT_TRUE(bListed);
        const fs::path down = m_dir / "down.bin";
        ASSERT_EQ(ftp->ReadFile(Wide(remote), Wide(down.string())), S_OK) << LastDescription();
        EXPECT_TRUE(ReadAll(down) == bytes);
        EXPECT_EQ(ftp->DeleteFile(Wide(remote)), S_OK);
        EXPECT_EQ(ftp->Disconnect(), S_OK);
    }
    ConfigureWireTrace(nullptr);
    const std::string log = ReadAll(trace);
    EXPECT_NE(log.find("TLS established"), std::string::npos);
    EXPECT_NE(log.find("AUTH TLS"), std::string::npos);
    EXPECT_NE(log.find("PASS ****"), std::string::npos);
    EXPECT_NE(log.find("RETR lanvex-ftps-1.bin"), std::string::npos);
    EXPECT_EQ(log.find(m_password), std::string::npos);
}

} // namespace
} // namespace lanvex
