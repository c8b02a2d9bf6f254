// A loopback FTPS peer for the tests: certificates made on the spot and a scripted TLS server.
#include "tests/lanvex/ftp/tls_test_peer.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanvex::test
{

namespace
{

constexpr int kWaitMs = 5000;

EVP_PKEY* NewKey()
{
    return EVP_EC_gen("P-256");
}

X509* MakeCert(EVP_PKEY* pKey, const char* pszName, const char* pszAltNames, long nFromDays,
               long nToDays, X509* pIssuer, EVP_PKEY* pIssuerKey, bool bCa)
{
    static long s_nSerial = 1;
    X509* pCert = X509_new();
    X509_set_version(pCert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(pCert), s_nSerial++);
    X509_gmtime_adj(X509_getm_notBefore(pCert), nFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(pCert), nToDays * 86400);
    X509_set_pubkey(pCert, pKey);
    X509_NAME* pName = X509_get_subject_name(pCert);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(pszName), -1, -1, 0);
    X509_set_issuer_name(pCert, pIssuer ? X509_get_subject_name(pIssuer) : pName);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, pIssuer ? pIssuer : pCert, pCert, nullptr, nullptr, 0);
    auto add = [&](int nid, const char* value)
    {
        X509_EXTENSION* pExt = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(pCert, pExt, -1);
        X509_EXTENSION_free(pExt);
    };
    add(NID_basic_constraints, bCa ? "critical,CA:TRUE" : "CA:FALSE");
    if (bCa)
        add(NID_key_usage, "critical,keyCertSign,cRLSign");
    if (pszAltNames != nullptr)
        add(NID_subject_alt_name, pszAltNames);
    X509_sign(pCert, pIssuerKey ? pIssuerKey : pKey, EVP_sha256());
    return pCert;
}

bool WaitFor(int fd, short events)
{
    pollfd pfd{fd, events, 0};
    return ::poll(&pfd, 1, kWaitMs) > 0;
}

int Listen(int* pPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nSize = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nSize) != 0)
        return -1;
    *pPort = ntohs(address.sin_port);
    return fd;
}

int AcceptOn(int listener)
{
    return listener >= 0 && WaitFor(listener, POLLIN)
               ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)
               : -1;
}

} // namespace

struct CTestPki::CKeys
{
    EVP_PKEY* CaKey = nullptr;
    X509* Ca = nullptr;
    EVP_PKEY* Key = nullptr;
    X509* Certs[4] = {};
    SSL_CTX* Contexts[4] = {};

    ~CKeys()
    {
        for (SSL_CTX* pCtx : Contexts)
            SSL_CTX_free(pCtx);
        for (X509* pCert : Certs)
            X509_free(pCert);
        X509_free(Ca);
        EVP_PKEY_free(Key);
        EVP_PKEY_free(CaKey);
    }
};

CTestPki& CTestPki::Get()
{
    static CTestPki s_pki;
    return s_pki;
}

CTestPki::CTestPki() : m_keys(std::make_shared<CKeys>())
{
    // OpenSSL writes to the server's sockets with write(): a client that is gone must not end
    // the test program.
    std::signal(SIGPIPE, SIG_IGN);
    CKeys& k = *m_keys;
    k.CaKey = NewKey();
    k.Ca = MakeCert(k.CaKey, "Lanvex Test CA", nullptr, -1, 30, nullptr, nullptr, true);
    k.Key = NewKey();
    const char* kHere = "IP:127.0.0.1,DNS:localhost";
    k.Certs[0] = MakeCert(k.Key, "localhost", kHere, -1, 30, k.Ca, k.CaKey, false);
    k.Certs[1] = MakeCert(k.Key, "localhost", kHere, -30, -1, k.Ca, k.CaKey, false);
    k.Certs[2] =
        MakeCert(k.Key, "elsewhere.example", "DNS:elsewhere.example", -1, 30, k.Ca, k.CaKey, false);
    k.Certs[3] = MakeCert(k.Key, "localhost", kHere, -1, 30, nullptr, nullptr, false);
    for (int i = 0; i < 4; ++i)
    {
        SSL_CTX* pCtx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(pCtx, k.Certs[i]);
        SSL_CTX_use_PrivateKey(pCtx, k.Key);
        static const unsigned char kId[] = "lanvex-test";
        SSL_CTX_set_session_id_context(pCtx, kId, sizeof kId - 1);
        k.Contexts[i] = pCtx;
    }
    m_caFile = (std::filesystem::temp_directory_path() /
                ("lanvex-test-ca-" + std::to_string(::getpid()) + ".pem"))
                   .string();
    if (FILE* pFile = std::fopen(m_caFile.c_str(), "w"))
    {
        PEM_write_X509(pFile, k.Ca);
        std::fclose(pFile);
    }
}

CTestPki::~CTestPki()
{
    std::remove(m_caFile.c_str());
}

std::string CTestPki::Fingerprint(ETestCert which) const
{
    unsigned char digest[32];
    unsigned int nLength = 0;
    X509_digest(m_keys->Certs[static_cast<int>(which)], EVP_sha256(), digest, &nLength);
    std::string text;
    char part[4];
    for (unsigned int i = 0; i < nLength; ++i)
    {
        std::snprintf(part, sizeof part, i ? ":%02X" : "%02X", digest[i]);
        text += part;
    }
    return text;
}

// One connection.

CPeerConnection::~CPeerConnection()
{
    Drop();
}

bool CPeerConnection::Accept(ETestCert cert)
{
    m_ssl = SSL_new(CTestPki::Get().Keys().Contexts[static_cast<int>(cert)]);
    SSL_set_fd(m_ssl, m_fd);
    // The socket blocks; a client that stops answering is cut off by the receive time-out.
    timeval limit{kWaitMs / 1000, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ERR_clear_error();
    return SSL_accept(m_ssl) == 1;
}

bool CPeerConnection::Resumed() const
{
    return m_ssl != nullptr && SSL_session_reused(m_ssl) == 1;
}

void CPeerConnection::Send(const std::string& bytes)
{
    if (m_ssl != nullptr)
        SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()));
    else
        ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string CPeerConnection::ReadLine()
{
    for (;;)
    {
        const size_t nEnd = m_pending.find('\n');
        if (nEnd != std::string::npos)
        {
            std::string line = m_pending.substr(0, nEnd + 1);
            m_pending.erase(0, nEnd + 1);
            return line;
        }
        char chunk[4096];
        int nRead = 0;
        if (m_ssl != nullptr)
            nRead = SSL_read(m_ssl, chunk, sizeof chunk);
        else if (WaitFor(m_fd, POLLIN))
            nRead = static_cast<int>(::recv(m_fd, chunk, sizeof chunk, 0));
        if (nRead <= 0)
            return {};
        m_pending.append(chunk, static_cast<size_t>(nRead));
    }
}

std::string CPeerConnection::ReadToEnd()
{
    std::string all;
    std::swap(all, m_pending);
    for (;;)
    {
        char chunk[16384];
        int nRead = 0;
        if (m_ssl != nullptr)
            nRead = SSL_read(m_ssl, chunk, sizeof chunk);
        else if (WaitFor(m_fd, POLLIN))
            nRead = static_cast<int>(::recv(m_fd, chunk, sizeof chunk, 0));
        if (nRead <= 0)
            return all;
        all.append(chunk, static_cast<size_t>(nRead));
    }
}

void CPeerConnection::Close()
{
    if (m_ssl != nullptr)
        SSL_shutdown(m_ssl);
    Drop();
}

void CPeerConnection::Drop()
{
    if (m_ssl != nullptr)
        SSL_free(m_ssl);
    m_ssl = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// The server.

CTlsTestServer::CTlsTestServer(Script script)
{
    CTestPki::Get(); // the certificates exist before a client can ask
    m_listener = Listen(&m_nPort);
    m_dataListener = Listen(&m_nDataPort);
    m_thread = std::thread(
        [this, script = std::move(script)]
        {
            const int fd = AcceptOn(m_listener);
            if (fd < 0)
                return;
            CPeerConnection control(fd);
            script(*this, control);
        });
}

void CTlsTestServer::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

CTlsTestServer::~CTlsTestServer()
{
    Join();
    for (const int fd : {m_listener, m_dataListener})
        if (fd >= 0)
            ::close(fd);
}

std::unique_ptr<CPeerConnection> CTlsTestServer::AcceptData()
{
    const int fd = AcceptOn(m_dataListener);
    return fd >= 0 ? std::make_unique<CPeerConnection>(fd) : nullptr;
}

std::string CTlsTestServer::PassiveReply() const
{
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(m_nDataPort / 256) + "," +
           std::to_string(m_nDataPort % 256) + ").\r\n";
}

} // namespace lanvex::test
