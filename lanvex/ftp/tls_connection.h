// TLS (OpenSSL) for the FTP client: what a login trusts, and the stream that takes the plain
// one's place on the control and data connections.
#pragma once

#include "lanvex/ftp/ftp_stream.h"
#include "lanvex/ftp/tls_policy.h"
#include "lanvex/net/transport/tcp_connection.h"
#include "lanvex/net/transport/wire_trace.h"

#include <memory>
#include <string>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;
using SSL_SESSION = struct ssl_session_st;
using BIO = struct bio_st;

namespace lanvex
{

// What a session trusts; one per login, shared by its control and data connections so that the
// data connections resume the control connection's session (servers such as vsftpd insist).
class CTlsContext
{
  public:
    struct Settings
    {
        bool Verify = true; // chain (system store, or CaFile alone) and host name
        std::string CaFile; // empty: the system store as OpenSSL finds it (SSL_CERT_FILE works)
        std::optional<Sha256> Pin; // the one certificate accepted, in place of the checks above
    };

    CTlsContext() = default;
    ~CTlsContext();
    CTlsContext(const CTlsContext&) = delete;
    CTlsContext& operator=(const CTlsContext&) = delete;

    // False with *pFailure when the trust store cannot be read.
    bool Start(const Settings& settings, std::string* pFailure);
    void Reset();
    bool IsStarted() const { return m_ctx != nullptr; }
    const Settings& Configured() const { return m_settings; }

    SSL_CTX* Handle() const { return m_ctx; }
    // The newest session the control connection was given, to resume on a data connection.
    SSL_SESSION* ResumableSession() const { return m_session; }
    void KeepSession(SSL_SESSION* pSession); // takes the reference

  private:
    SSL_CTX* m_ctx = nullptr;
    SSL_SESSION* m_session = nullptr;
    Settings m_settings;
};

// TLS over an open connection, in the place of the plain FTP stream: the control connection after
// "AUTH TLS" (or at once, implicit), a data connection after its command's first reply. The
// encrypted bytes go through the connection's own Send and Receive, so its waits, cancel and
// deadline hold in TLS too; the plain bytes are traced in their place.
class CTlsStream : public IFtpStream
{
  public:
    // How a handshake ended.
    struct Handshake
    {
        bool Ok = false;
        std::string Failure;     // why not, in words
        std::string Fingerprint; // the server's certificate, "AB:CD:..."
        bool Resumed = false;
    };

    CTlsStream(CTcpConnection& connection, const char* pszTraceComponent, ETraceFormat format);
    ~CTlsStream() override;
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    // host is the name checked against the certificate. A control connection's sessions are
    // kept in the context; a data connection resumes the context's session. On failure the
    // connection is closed without another byte sent.
    Handshake StartTls(CTlsContext& context, const std::string& host, bool bControl);

    void SendAll(const void* pData, size_t nLength) override;
    // 0 for a quiet wait, or for the server's close_notify (PeerClosed). A connection that ends
    // without close_notify may have been cut: that is thrown as a failure.
    int Receive(void* pBuffer, int nCapacity) override;
    bool PeerClosed() const override { return m_bClosed; }
    // close_notify; a data connection then reads to the server's close (see DrainBeforeClose).
    void Finish() override;

  private:
    struct CBioMethod;
    static int BioWrite(BIO* pBio, const char* pData, int nLength);
    static int BioRead(BIO* pBio, char* pBuffer, int nCapacity);
    static long BioCtrl(BIO* pBio, int nCommand, long nArg, void* pPtr);
    // Rethrows a transport failure that a BIO call had to swallow inside OpenSSL.
    void RethrowPending();
    void FreeSsl();
    void DrainBeforeClose();
    static constexpr uint32_t kDrainLimitMs = 3000;

    CTcpConnection& m_connection;
    const char* m_pszComponent;
    ETraceFormat m_format;
    SSL* m_ssl = nullptr;
    int32_t m_nPendingError = 0;
    bool m_bControl = false;
    bool m_bClosed = false; // close_notify received
};

} // namespace lanvex
