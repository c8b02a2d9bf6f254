// A loopback TCP peer that plays exact bursts, silences and resets to the code under test.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lanvex::test
{

struct ServerStep
{
    enum Kind
    {
        Send,   // write Bytes at once
        Pause,  // stay silent for Ms milliseconds (still recording what arrives)
        Expect, // read until Bytes has arrived (after the previous Expect); fail after Ms
        Reset,  // abort the connection with RST
        Close,  // orderly close
    };
    Kind What;
    std::string Bytes;
    int Ms = 0;
};

inline ServerStep SendBytes(std::string bytes)
{
    return {ServerStep::Send, std::move(bytes), 0};
}
inline ServerStep Silence(int ms)
{
    return {ServerStep::Pause, {}, ms};
}
inline ServerStep ExpectBytes(std::string bytes, int ms = 5000)
{
    return {ServerStep::Expect, std::move(bytes), ms};
}
inline ServerStep ResetConnection()
{
    return {ServerStep::Reset, {}, 0};
}
inline ServerStep CloseConnection()
{
    return {ServerStep::Close, {}, 0};
}

// Listens on 127.0.0.1 at an ephemeral port and plays one script per accepted connection, in
// order. After a script ends without Reset or Close, it keeps recording until the client closes
// (at most 20 s). Everything ends by itself; the destructor joins.
class CScriptedServer
{
  public:
    // nPort 0 picks an ephemeral port; Port() is 0 when listening failed.
    explicit CScriptedServer(std::vector<std::vector<ServerStep>> sessions, int nPort = 0);
    ~CScriptedServer();

    int Port() const { return m_nPort; }
    // Bytes received on connection nSession so far.
    std::string Received(size_t nSession) const;
    // Waits for the server thread; returns the first failure, empty if all went as scripted.
    std::string Finish();

  private:
    void Run();
    bool PlaySession(int nClient, size_t nSession);
    void Record(size_t nSession, const char* pData, size_t nLength);
    void SetFailure(const std::string& why);

    std::vector<std::vector<ServerStep>> m_sessions;
    int m_listener = -1;
    int m_nPort = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::string m_failure;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort();

} // namespace lanvex::test
