// lvSecureShell: the telnet session's interfaces over SSH (libssh): logs in with the agent, the
// user's keys or the password, runs one command per exec channel, hands back a telnet-like reply.
#pragma once

#include "lanvex/net/sessions/telnet_session.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

#include <chrono>
#include <string>
#include <string_view>

namespace lanvex
{

// The part of an address that names the host: "ssh://host" and "host" both give "host".
std::string_view SecureShellHostName(std::string_view address);

// Frames a command's output the way a telnet host's reply looks, so that readers of telnet
// replies take it unchanged: the command line, the output with every line ended by CR LF (line
// ends already in CR LF are kept), and a prompt line without a line end.
std::string FrameSecureShellReply(std::string_view command, std::string_view output);

// What is known about one command once its channel has been read.
struct CommandOutcome
{
    enum class End
    {
        Finished, // the channel ended
        TimedOut, // the limit passed first
        Overflow  // it printed more than the reply may hold
    };
    End How = End::Finished;
    int ExitStatus = -1; // -1: none came
    std::string Signal;  // the signal that ended it, without "SIG"; empty if none
    bool CoreDumped = false;
    bool PrintedOutput = false; // anything at all on its standard output
    std::string Error;          // the start of its standard error
};

// Empty when the command's output is its answer; otherwise why not, followed by the first line
// of what it wrote on its standard error.
std::string JudgeCommand(const CommandOutcome& outcome, std::chrono::seconds limit);

// The properties, the type information, the error support and the output getters are
// lvTelnet's; the session and the password are not.
class lvSecureShell : public lvTelnet
{
  public:
    // Bounds a connect with its login (shorter than telnet's: no login dialogue to wait out).
    static constexpr std::chrono::seconds kConnectLimit{10};
    // Bounds the talk with the SSH agent within it.
    static constexpr std::chrono::seconds kAgentLimit{5};
    // Bounds one command: past it the command is signalled, its channel closed and Execute
    // fails. LANVEX_SSH_EXECUTE_SECONDS may shorten it (tests, impatient scripts).
    static constexpr std::chrono::seconds kExecuteLimit{60};
    // Bounds one reply: a command that prints more fails.
    static constexpr size_t kMaxReplyBytes = 32u << 20;
    // How much of the standard error is kept for the failure description.
    static constexpr size_t kErrorKept = 4096;

    lvSecureShell();
    ~lvSecureShell() override;

    // The password is kept apart and zeroed when replaced, on Disconnect and on release.
    STDMETHODIMP get_Password(BSTR* pVal) override;
    STDMETHODIMP put_Password(BSTR newVal) override;
    STDMETHODIMP Connect() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP IsConnected() override;
    STDMETHODIMP Execute(BSTR bstrCommand) override;
    // The client's descriptor ends the waits of this session, not of the telnet transport.
    STDMETHODIMP SetCancelDescriptor(LONG fd) override;

    // The exit status of the last command that ran to its end, -1 when none came.
    int LastExitStatus() const { return m_nExitStatus; }

  private:
    using Clock = std::chrono::steady_clock;
    enum class WaitEnd
    {
        Ready,     // the host sent something, or the wait slice passed
        Cancelled, // the client's descriptor became readable
        Expired    // the deadline passed
    };
    enum class ReadEnd
    {
        Finished,
        TimedOut,
        Overflow,
        Cancelled,
        Broken // the connection failed
    };
    struct CommandRun;

    // Waits (a short slice at most) for the host to send, the client to cancel or the deadline.
    WaitEnd Wait(Clock::time_point deadline);
    // Repeats a non-blocking libssh call while it answers `again`; `again` still when the wait
    // ended (m_lastWait says why).
    template <class Call> int Pump(Call call, int again, Clock::time_point deadline);
    // Why the last pumped call stopped waiting: "no answer within N seconds" or "cancelled".
    std::string WaitFailure(std::chrono::seconds limit) const;
    // Each returns S_OK or reports its failure (E_FAIL with a description) and returns it.
    HRESULT OpenSession(const std::string& host, int nPort, class CKnownHostsCheck& knownHosts);
    HRESULT Authenticate(const std::string& host);
    // Reads both streams of the channel until it ends, the deadline passes or the reply is
    // too long; never waits once the end has arrived.
    ReadEnd ReadChannel(ssh_channel channel, Clock::time_point deadline, CommandRun& run);
    // Reports the failure and closes the session.
    HRESULT Fail(HRESULT hr, const std::string& description);
    void CloseSession();
    void ForgetPassword();

    ssh_session m_session = nullptr;
    int m_cancelFd = -1;
    Clock::time_point m_loginDeadline;
    WaitEnd m_lastWait = WaitEnd::Ready;
    ssh_callbacks_struct m_callbacks{};
    BSTR m_bstrSecret = nullptr; // the Password property
    int m_nExitStatus = -1;
};

} // namespace lanvex
