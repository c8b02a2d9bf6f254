// A loopback FTPS peer for the tests: certificates made on the spot (a CA and the server
// certificates a client must accept or refuse) and a TLS server thread that runs a script.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

using SSL = struct ssl_st;

namespace lanvex::test
{

// Which certificate the server shows.
enum class ETestCert
{
    Good,       // from the test CA, for 127.0.0.1 and localhost
    Expired,    // from the test CA, ended yesterday
    OtherHost,  // from the test CA, for elsewhere.example only
    SelfSigned, // for 127.0.0.1, signed by itself
};

// The test CA and its certificates; made once per process. CaFile() is the CA in PEM.
class CTestPki
{
  public:
    static CTestPki& Get();
    const std::string& CaFile() const { return m_caFile; }
    // The SHA-256 of a certificate, "AB:CD:...".
    std::string Fingerprint(ETestCert which) const;
    struct CKeys;
    const CKeys& Keys() const { return *m_keys; }

  private:
    CTestPki();
    ~CTestPki();
    std::shared_ptr<CKeys> m_keys;
    std::string m_caFile;
};

// One accepted connection, plain until Accept turns it to TLS.
class CPeerConnection
{
  public:
    explicit CPeerConnection(int fd) : m_fd(fd) {}
    ~CPeerConnection();
    CPeerConnection(const CPeerConnection&) = delete;
    CPeerConnection& operator=(const CPeerConnection&) = delete;

    // The server side of the handshake; false when the client gave up or refused.
    bool Accept(ETestCert cert);
    bool Resumed() const;
    void Send(const std::string& bytes);
    // One line with its LF; empty when the client closed or 5 s passed.
    std::string ReadLine();
    // Everything until the client closes (at most 5 s), TLS records decrypted.
    std::string ReadToEnd();
    // close_notify, then the socket.
    void Close();
    // The socket alone, as a server that drops the connection mid-transfer.
    void Drop();

  private:
    int m_fd;
    SSL* m_ssl = nullptr;
    std::string m_pending;
};

// Listens on 127.0.0.1 (control) and on a second port (data), and runs the script on its own
// thread with the first accepted control connection. The destructor joins; nothing waits longer
// than a few seconds.
class CTlsTestServer
{
  public:
    using Script = std::function<void(CTlsTestServer&, CPeerConnection&)>;
    explicit CTlsTestServer(Script script);
    ~CTlsTestServer();

    int Port() const { return m_nPort; }
    // Waits for the script to end.
    void Join();
    int DataPort() const { return m_nDataPort; }
    // A data connection (null after 5 s without one).
    std::unique_ptr<CPeerConnection> AcceptData();
    // The 227 reply that sends the client to the data port.
    std::string PassiveReply() const;

  private:
    int m_listener = -1, m_dataListener = -1;
    int m_nPort = 0, m_nDataPort = 0;
    std::thread m_thread;
};

} // namespace lanvex::test
