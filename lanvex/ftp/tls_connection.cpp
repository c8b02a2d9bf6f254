// TLS (OpenSSL) for the FTP client. The encrypted bytes go through the transport's own send and
// receive (a BIO of ours), so its waits, cancel and deadline hold in TLS too.
#include "lanvex/ftp/tls_connection.h"

#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/net/transport/socket_error.h"
#include "lanvex/net/transport/wire_trace.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>

namespace lanvex
{

namespace
{

// The first verification error of a handshake (OpenSSL keeps only the last), so that the reason
// given is the one a user fixes first.
int FirstErrorIndex()
{
    static const int s_nIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return s_nIndex;
}

// Which connection a session belongs to: only the control connection's are kept.
int ControlIndex()
{
    static const int s_nIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return s_nIndex;
}

int ContextIndex()
{
    static const int s_nIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return s_nIndex;
}

int RecordFirstError(int bOk, X509_STORE_CTX* pStore)
{
    if (!bOk)
    {
        auto* pSsl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(pStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* pFirst =
            pSsl ? static_cast<long*>(SSL_get_ex_data(pSsl, FirstErrorIndex())) : nullptr;
        if (pFirst != nullptr && *pFirst == X509_V_OK)
            *pFirst = X509_STORE_CTX_get_error(pStore);
    }
    // The handshake goes on; the verdict is ours, after it, so that it can name its reason.
    return 1;
}

int KeepNewSession(SSL* pSsl, SSL_SESSION* pSession)
{
    auto* pContext =
        static_cast<CTlsContext*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(pSsl), ContextIndex()));
    if (pContext == nullptr || SSL_get_ex_data(pSsl, ControlIndex()) == nullptr)
        return 0;
    pContext->KeepSession(pSession);
    return 1; // the reference is ours now
}

std::string OpenSslErrorText()
{
    const unsigned long nError = ERR_get_error();
    if (nError == 0)
        return "no further detail";
    char text[256];
    ERR_error_string_n(nError, text, sizeof text);
    return text;
}

std::optional<Sha256> CertificateDigest(SSL* pSsl)
{
    X509* pCert = SSL_get0_peer_certificate(pSsl);
    if (pCert == nullptr)
        return std::nullopt;
    Sha256 digest{};
    unsigned int nLength = 0;
    if (X509_digest(pCert, EVP_sha256(), digest.data(), &nLength) != 1 || nLength != digest.size())
        return std::nullopt;
    return digest;
}

} // namespace

// Context.

CTlsContext::~CTlsContext()
{
    Reset();
}

void CTlsContext::Reset()
{
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    m_session = nullptr;
    if (m_ctx != nullptr)
        SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
}

void CTlsContext::KeepSession(SSL_SESSION* pSession)
{
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    m_session = pSession;
}

bool CTlsContext::Start(const Settings& settings, std::string* pFailure)
{
    Reset();
    m_settings = settings;
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (m_ctx == nullptr)
    {
        *pFailure = "TLS cannot start: " + OpenSslErrorText();
        return false;
    }
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    SSL_CTX_set_ex_data(m_ctx, ContextIndex(), this);
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(m_ctx, &KeepNewSession);
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, &RecordFirstError);
    if (settings.Pin || !settings.Verify)
        return true;
    const bool bLoaded =
        settings.CaFile.empty()
            ? SSL_CTX_set_default_verify_paths(m_ctx) == 1
            : SSL_CTX_load_verify_locations(m_ctx, settings.CaFile.c_str(), nullptr) == 1;
    if (!bLoaded)
    {
        *pFailure = (settings.CaFile.empty() ? std::string("The system's trusted CAs")
                                             : "TlsCaFile " + settings.CaFile) +
                    " could not be read: " + OpenSslErrorText();
        Reset();
        return false;
    }
    return true;
}

// The BIO under the session: the connection's own Send and Receive.

struct CTlsStream::CBioMethod
{
    BIO_METHOD* Method = nullptr;
    CBioMethod()
    {
        Method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "lanvex transport");
        BIO_meth_set_write(Method, &CTlsStream::BioWrite);
        BIO_meth_set_read(Method, &CTlsStream::BioRead);
        BIO_meth_set_ctrl(Method, &CTlsStream::BioCtrl);
    }
    ~CBioMethod() { BIO_meth_free(Method); }
    static const CBioMethod& Get()
    {
        static const CBioMethod s_method;
        return s_method;
    }
};

int CTlsStream::BioWrite(BIO* pBio, const char* pData, int nLength)
{
    auto* pSelf = static_cast<CTlsStream*>(BIO_get_data(pBio));
    BIO_clear_retry_flags(pBio);
    try
    {
        const int nSent = pSelf->m_connection.Send(pData, nLength);
        return nSent > 0 ? nSent : -1;
    }
    catch (const CExpSocket& error)
    {
        pSelf->m_nPendingError = error.ErrorCode();
        return -1;
    }
}

int CTlsStream::BioRead(BIO* pBio, char* pBuffer, int nCapacity)
{
    auto* pSelf = static_cast<CTlsStream*>(BIO_get_data(pBio));
    BIO_clear_retry_flags(pBio);
    try
    {
        const int nRead = pSelf->m_connection.ReceivePending(pBuffer, nCapacity);
        if (nRead > 0 || pSelf->m_connection.PeerClosed())
            return nRead;
        // The wait passed without a byte: OpenSSL hears "try again", the caller "nothing yet".
        BIO_set_retry_read(pBio);
        return -1;
    }
    catch (const CExpSocket& error)
    {
        pSelf->m_nPendingError = error.ErrorCode();
        return -1;
    }
}

long CTlsStream::BioCtrl(BIO*, int nCommand, long, void*)
{
    return nCommand == BIO_CTRL_FLUSH ? 1 : 0;
}

void CTlsStream::RethrowPending()
{
    if (m_nPendingError != 0)
    {
        const int32_t nError = m_nPendingError;
        m_nPendingError = 0;
        throw CExpSocket(nError);
    }
}

// The stream.

CTlsStream::CTlsStream(CTcpConnection& connection, const char* pszTraceComponent,
                       ETraceFormat format)
    : m_connection(connection), m_pszComponent(pszTraceComponent), m_format(format)
{
}

CTlsStream::~CTlsStream()
{
    FreeSsl();
}

void CTlsStream::FreeSsl()
{
    if (m_ssl != nullptr)
        SSL_free(m_ssl);
    m_ssl = nullptr;
    m_nPendingError = 0;
    // The connection traces its own bytes again.
    m_connection.TraceAs(m_pszComponent, m_format);
}

void CTlsStream::Finish()
{
    if (m_ssl == nullptr || !SSL_is_init_finished(m_ssl))
        return;
    // close_notify tells the server the upload ended here, not on a cut connection.
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    m_nPendingError = 0;
    if (!m_bControl && !(SSL_get_shutdown(m_ssl) & SSL_RECEIVED_SHUTDOWN))
        DrainBeforeClose();
}

void CTlsStream::DrainBeforeClose()
{
    // What the server sent and nobody read (TLS 1.3 session tickets after the handshake) would
    // make the close a reset, and a reset can overtake the last data of an upload at the server
    // (vsftpd then answers 426 with the file cut short). So the data connection is read until the
    // server closes it too, which it does once it has everything; briefly, whatever happens.
    const uint32_t nWait = std::min<uint32_t>(m_connection.Timeout(), kDrainLimitMs);
    m_connection.SetDeadline(CTcpConnection::Clock::now() + std::chrono::milliseconds(nWait));
    char scratch[4096];
    for (int nRound = 0; nRound < 64; ++nRound)
    {
        ERR_clear_error();
        if (SSL_read(m_ssl, scratch, sizeof scratch) <= 0)
            break;
    }
    m_connection.SetDeadline(std::nullopt);
    m_nPendingError = 0;
}

CTlsStream::Handshake CTlsStream::StartTls(CTlsContext& context, const std::string& host,
                                           bool bControl)
{
    Handshake result;
    FreeSsl();
    m_bClosed = false;
    m_bControl = bControl;
    m_ssl = SSL_new(context.Handle());
    BIO* pBio = m_ssl != nullptr ? BIO_new(CBioMethod::Get().Method) : nullptr;
    if (pBio == nullptr)
    {
        result.Failure = "TLS cannot start: " + OpenSslErrorText();
        FreeSsl();
        m_connection.Close();
        return result;
    }
    BIO_set_data(pBio, this);
    BIO_set_init(pBio, 1);
    SSL_set_bio(m_ssl, pBio, pBio);
    long nFirstError = X509_V_OK;
    SSL_set_ex_data(m_ssl, FirstErrorIndex(), &nFirstError);
    SSL_set_ex_data(m_ssl, ControlIndex(), bControl ? this : nullptr);
    if (IsIpAddressLiteral(host))
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
    else
    {
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
    }
    if (!bControl)
    {
        // A copy: OpenSSL marks the session a connection used as spent when that connection
        // ends without a shutdown it likes, and every later data connection needs it.
        if (SSL_SESSION* pCopy = context.ResumableSession() != nullptr
                                     ? SSL_SESSION_dup(context.ResumableSession())
                                     : nullptr)
        {
            SSL_set_session(m_ssl, pCopy);
            SSL_SESSION_free(pCopy);
        }
        SSL_set_read_ahead(m_ssl, 1); // bulk data: fewer, larger reads
    }
    // The encrypted bytes are not traced; the handshake is, as a note.
    m_connection.TraceAs(nullptr, m_format);
    const bool bTrace = m_pszComponent != nullptr && WireTraceOn();
    if (bTrace)
        TraceWireNote(m_pszComponent, "TLS handshake with " + host);

    ERR_clear_error();
    const int rc = SSL_connect(m_ssl);
    SSL_set_ex_data(m_ssl, FirstErrorIndex(), nullptr);
    if (rc != 1)
    {
        const int nWhy = SSL_get_error(m_ssl, rc);
        result.Failure = m_nPendingError != 0 ? "the connection failed during the TLS handshake"
                         : nWhy == SSL_ERROR_WANT_READ
                             ? "the server did not answer the TLS handshake in time"
                             : "the TLS handshake failed: " + OpenSslErrorText();
    }
    else if (const std::optional<Sha256> digest = CertificateDigest(m_ssl); !digest)
        result.Failure = "the server sent no certificate";
    else
    {
        result.Fingerprint = FormatTlsFingerprint(*digest);
        const CTlsContext::Settings& settings = context.Configured();
        if (settings.Pin && *settings.Pin != *digest)
            result.Failure = "the server's certificate does not match TlsPinnedSha256 (pin "
                             "mismatch); its SHA-256 is " +
                             result.Fingerprint;
        else if (!settings.Pin && settings.Verify)
        {
            const long nError =
                nFirstError != X509_V_OK ? nFirstError : SSL_get_verify_result(m_ssl);
            if (nError != X509_V_OK)
                result.Failure = TlsVerifyFailureText(nError);
        }
    }
    if (!result.Failure.empty())
    {
        if (bTrace)
            TraceWireNote(m_pszComponent, "TLS refused: " + result.Failure);
        // Not a byte more: no close_notify, no command.
        FreeSsl();
        m_connection.Close();
        return result;
    }
    result.Ok = true;
    result.Resumed = SSL_session_reused(m_ssl) == 1;
    if (bTrace)
        TraceWireNote(m_pszComponent, std::string("TLS established: ") + SSL_get_version(m_ssl) +
                                          " " + SSL_get_cipher_name(m_ssl) +
                                          (result.Resumed ? ", session resumed" : "") +
                                          ", certificate SHA-256 " + result.Fingerprint);
    return result;
}

void CTlsStream::SendAll(const void* pData, size_t nLength)
{
    if (m_ssl == nullptr)
        throw CExpSocket(kWsaENotSock);
    const char* p = static_cast<const char*>(pData);
    while (nLength > 0)
    {
        const int nChunk = nLength > (1u << 30) ? (1 << 30) : static_cast<int>(nLength);
        ERR_clear_error();
        const int nWritten = SSL_write(m_ssl, p, nChunk);
        RethrowPending();
        if (nWritten <= 0)
            throw CExpSocket(kWsaEConnReset);
        if (m_pszComponent != nullptr && WireTraceOn())
            TraceWireBytes(m_pszComponent, ETraceDirection::Send, m_format, p,
                           static_cast<size_t>(nWritten));
        p += nWritten;
        nLength -= static_cast<size_t>(nWritten);
    }
}

int CTlsStream::Receive(void* pBuffer, int nCapacity)
{
    if (m_ssl == nullptr)
        throw CExpSocket(kWsaENotSock);
    if (nCapacity <= 0 || m_bClosed)
        return 0;
    ERR_clear_error();
    const int nRead = SSL_read(m_ssl, pBuffer, nCapacity);
    if (nRead > 0)
    {
        if (m_pszComponent != nullptr && WireTraceOn())
            TraceWireBytes(m_pszComponent, ETraceDirection::Receive, m_format, pBuffer,
                           static_cast<size_t>(nRead));
        return nRead;
    }
    const int nWhy = SSL_get_error(m_ssl, nRead);
    RethrowPending();
    if (nWhy == SSL_ERROR_WANT_READ)
        return 0; // the wait passed
    if (nWhy == SSL_ERROR_ZERO_RETURN)
    {
        m_bClosed = true; // the server's close_notify: a clean end
        return 0;
    }
    // The connection ended without close_notify, or its records were damaged: what came may be
    // cut short, so it is a failure, not an end.
    if (m_bControl)
        throw CExpSocket(kWsaEConnReset); // the control session ends as on any broken connection
    ThrowFtp(E_FAIL, "The data connection's TLS ended without close_notify; the transfer may be "
                     "cut short");
}

} // namespace lanvex
