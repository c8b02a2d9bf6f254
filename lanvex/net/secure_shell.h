// lvSecureShell: the telnet session's interfaces over SSH (libssh): logs in with the agent, the
// user's keys or the password, runs one command per exec channel, hands back a telnet-like reply.
#pragma once

#include "lanvex/net/telnet_session.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

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
    // Bounds every wait of a connect, a login and a channel request.
    static constexpr long kConnectSeconds = 10;
    // Bounds one command: past it the channel is closed and Execute answers S_FALSE.
    static constexpr int kExecuteSeconds = 60;
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

private:
    // Each returns S_OK or reports its failure (E_FAIL with a description) and returns it.
    HRESULT OpenSession(const std::string& host, int nPort);
    HRESULT CheckHostKey(const std::string& host);
    HRESULT Authenticate(const std::string& host);
    // Reads the channel to its end or the deadline; false when the connection broke.
    bool ReadChannel(ssh_channel channel, std::string& output, bool& bTimedOut);
    HRESULT Fail(HRESULT hr, const std::string& description);

    ssh_session m_session = nullptr;
    ssh_callbacks_struct m_callbacks{};
    std::string m_knownHostsPath;
    std::string m_password;
    std::vector<char> m_output; // the framed reply and one zero byte after it
    LONG m_nOutputLength = 0;
};

} // namespace lanvex
