// lvSecureShell: the telnet session's interfaces over SSH (libssh): logs in with the agent, the
// user's keys or the password, runs one command per exec channel, hands back a telnet-like reply.
#pragma once

#include "lanvex/net/telnet_session.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

// The part of an address that names the host: "ssh://host" and "host" both give "host".
std::string_view SecureShellHostName(std::string_view address);

// Frames a command's output the way a telnet host's reply looks, so that readers of telnet
// replies take it unchanged: the command line, the output with every line ended by CR LF (line
// ends already in CR LF are kept), and a prompt line without a line end.
std::string FrameSecureShellReply(std::string_view command, std::string_view output);

// The properties, the type information and the error support are lvTelnet's; the session is not.
class lvSecureShell : public lvTelnet
{
  public:
    // Bounds a connect with its login (shorter than telnet's: no login dialogue to wait out).
    static constexpr std::chrono::seconds kConnectLimit{10};
    // Bounds the talk with the SSH agent within it.
    static constexpr std::chrono::seconds kAgentLimit{5};
    // Bounds one command: past it the channel is closed and Execute answers S_FALSE.
    static constexpr std::chrono::seconds kExecuteLimit{60};
    // Bounds one reply; the rest of a longer one is read and dropped.
    static constexpr size_t kMaxReplyBytes = 32u << 20;

    lvSecureShell();
    ~lvSecureShell() override;

    STDMETHODIMP Connect() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP IsConnected() override;
    STDMETHODIMP Execute(BSTR bstrCommand) override;
    STDMETHODIMP GetOutput(char** lpszOutput, SHORT* nSize) override;
    STDMETHODIMP GetOutputSize(LONG* pSize) override;
    // The client's descriptor ends the waits of this session, not of the telnet transport.
    STDMETHODIMP SetCancelDescriptor(LONG fd) override;

  private:
    using Clock = std::chrono::steady_clock;
    enum class WaitEnd
    {
        Ready,     // the host sent something, or the wait slice passed
        Cancelled, // the client's descriptor became readable
        Expired    // the deadline passed
    };

    // Waits (a short slice at most) for the host to send, the client to cancel or the deadline.
    WaitEnd Wait(Clock::time_point deadline);
    // Repeats a non-blocking libssh call while it answers `again`; `again` still when the wait
    // ended (m_lastWait says why).
    template <class Call> int Pump(Call call, int again, Clock::time_point deadline);
    // Why the last pumped call stopped waiting: "timed out after N s" or "cancelled".
    std::string WaitFailure(std::chrono::seconds limit) const;
    // Each returns S_OK or reports its failure (E_FAIL with a description) and returns it.
    HRESULT OpenSession(const std::string& host, int nPort);
    HRESULT CheckHostKey(const std::string& host);
    HRESULT Authenticate(const std::string& host);
    // Reads the channel to its end or the deadline; false when the connection broke or the
    // client cancelled.
    bool ReadChannel(ssh_channel channel, Clock::time_point deadline, std::string& output,
                     bool& bTimedOut);
    HRESULT Fail(HRESULT hr, const std::string& description);

    ssh_session m_session = nullptr;
    int m_cancelFd = -1;
    Clock::time_point m_loginDeadline;
    WaitEnd m_lastWait = WaitEnd::Ready;
    ssh_callbacks_struct m_callbacks{};
    std::string m_knownHostsPath;
    std::string m_password;
    std::vector<char> m_output; // the framed reply and one zero byte after it
    LONG m_nOutputLength = 0;
};

} // namespace lanvex
