// A TCP connection that can turn to TLS (OpenSSL) after it is open: the FTP client's control
// connection after "AUTH TLS" (or at once, implicit), and each data connection after its command.
#pragma once

#include "lanvex/ftp/tls_policy.h"
#include "lanvex/net/tcp_connection.h"

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

class CTlsConnection : public CTcpConnection
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

    CTlsConnection() = default;
    ~CTlsConnection() override;

    // Turns the open connection to TLS with host as the name to check. A control connection's
    // sessions are kept in the context; a data connection resumes the context's session. On
    // failure the connection is closed without another byte sent.
    Handshake StartTls(CTlsContext& context, const std::string& host, bool bControl);
    bool IsTls() const { return m_ssl != nullptr; }

    int Close() override;
    int Send(const void* pData, int nLength) override;
    int Receive(void* pBuffer, int nCapacity) override;

    // These hide the transport's own: in TLS, decrypted bytes may wait inside the session
    // while the socket is quiet, and the end is the peer's close_notify.
    int WaitReadable();
    int ReceivePending(void* pBuffer, int nCapacity);
    bool PeerClosed() const { return m_bTlsMode ? m_bTlsClosed : CTcpConnection::PeerClosed(); }
    bool IsEnd() const { return m_bTlsMode ? m_bTlsEnd : CTcpConnection::IsEnd(); }
    int Open(const char* pszHost, int nPort) override;

    // The plain bytes are traced under this name (the encrypted ones never are).
    void TraceAs(const char* pszComponent, ETraceFormat format);

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
    void TracePlain(ETraceDirection direction, const void* pData, int nLength);

    SSL* m_ssl = nullptr;
    int32_t m_nPendingError = 0;
    bool m_bControl = false;
    bool m_bTlsMode = false;   // TLS since StartTls, until the next Open
    bool m_bTlsClosed = false; // close_notify received
    bool m_bTlsEnd = false;
    const char* m_pszComponent = nullptr;
    ETraceFormat m_format = ETraceFormat::Text;
};

} // namespace lanvex
