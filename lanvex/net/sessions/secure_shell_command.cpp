// lvSecureShell's Execute: one command on a channel of its own, its output read within bounds
// and framed as the telnet session's reply, and how it ended judged.
#include "lanvex/net/sessions/secure_shell.h"
#include "lanvex/net/sessions/secure_shell_pump.h"

#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/transport/wire_text.h"
#include "lanvex/net/transport/wire_trace.h"

#include "platform/com/text_helpers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

namespace lanvex
{

namespace
{

// What a shell prompt ends in, so that a reader looking for one finds it.
constexpr std::string_view kPrompt = "$ ";
// The first line of the standard error in a description is cut to this many bytes.
constexpr size_t kErrorLineKept = 200;

std::chrono::seconds ExecuteLimit()
{
    if (const char* psz = std::getenv("LANVEX_SSH_EXECUTE_SECONDS"); psz != nullptr)
    {
        char* pEnd = nullptr;
        const long n = std::strtol(psz, &pEnd, 10);
        if (*psz != '\0' && *pEnd == '\0' && n > 0 && n < lvSecureShell::kExecuteLimit.count())
            return std::chrono::seconds(n);
    }
    return lvSecureShell::kExecuteLimit;
}

// The first line with text in it, without its line end, cut to a bound between characters.
std::string FirstErrorLine(std::string_view error)
{
    for (size_t begin = 0; begin < error.size();)
    {
        size_t end = error.find('\n', begin);
        if (end == std::string_view::npos)
            end = error.size();
        std::string_view line = error.substr(begin, end - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (!line.empty())
        {
            if (line.size() > kErrorLineKept)
            {
                size_t cut = kErrorLineKept;
                while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                    --cut;
                line = line.substr(0, cut);
            }
            return std::string(line);
        }
        begin = end + 1;
    }
    return {};
}

} // namespace

std::string FrameSecureShellReply(std::string_view command, std::string_view output)
{
    std::string reply;
    reply.reserve(command.size() + output.size() + output.size() / 32 + 8);
    reply.append(command);
    reply.append("\r\n");
    for (size_t i = 0; i < output.size(); ++i)
    {
        if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r'))
            reply.push_back('\r');
        reply.push_back(output[i]);
    }
    if (!output.empty() && output.back() != '\n')
        reply.append("\r\n");
    reply.append(kPrompt);
    return reply;
}

std::string JudgeCommand(const CommandOutcome& outcome, std::chrono::seconds limit)
{
    std::string why;
    switch (outcome.How)
    {
    case CommandOutcome::End::TimedOut:
        why = "the command did not end within " + std::to_string(limit.count()) + " s";
        break;
    case CommandOutcome::End::Overflow:
        why = "the command printed more than " +
              std::to_string(lvSecureShell::kMaxReplyBytes >> 20) + " MiB";
        break;
    case CommandOutcome::End::Finished:
        if (!outcome.Signal.empty())
            why = "the command was ended by signal " + outcome.Signal +
                  (outcome.CoreDumped ? " (core dumped)" : "");
        else if (outcome.ExitStatus < 0)
            why = "the command ended without an exit status";
        else if (outcome.ExitStatus != 0 && !outcome.PrintedOutput)
            why = "the command exited with status " + std::to_string(outcome.ExitStatus) +
                  " and printed nothing";
        break;
    }
    if (const std::string line = FirstErrorLine(outcome.Error); !why.empty() && !line.empty())
        why += ": " + line;
    return why;
}

// One command's channel as it is read: the output, the start of the standard error and how the
// command ended, as the server tells it.
struct lvSecureShell::CommandRun
{
    std::string Output;
    CommandOutcome Outcome;
    ssh_channel_callbacks_struct Callbacks{};

    explicit CommandRun(ssh_channel channel) : Channel(channel)
    {
        Callbacks.userdata = this;
        Callbacks.channel_exit_status_function =
            [](ssh_session, ssh_channel, int status, void* pRun)
        { static_cast<CommandRun*>(pRun)->Outcome.ExitStatus = status; };
        Callbacks.channel_exit_signal_function = [](ssh_session, ssh_channel, const char* pszSignal,
                                                    int core, const char*, const char*, void* pRun)
        {
            CommandOutcome& outcome = static_cast<CommandRun*>(pRun)->Outcome;
            outcome.Signal = pszSignal != nullptr && *pszSignal != '\0' ? pszSignal : "?";
            outcome.CoreDumped = core != 0;
        };
        ssh_callbacks_init(&Callbacks);
        ssh_set_channel_callbacks(channel, &Callbacks);
    }
    bool Ended() const { return Outcome.ExitStatus >= 0 || !Outcome.Signal.empty(); }
    // libssh keeps a channel closed here until the server closes it too, and would still call
    // back into this object, which is gone by then.
    template <class Owner> void Release(Owner& owner)
    {
        Forget();
        owner.reset();
    }
    void Forget()
    {
        if (Channel != nullptr)
            ssh_remove_channel_callbacks(Channel, &Callbacks);
        Channel = nullptr;
    }
    ~CommandRun() { Forget(); }
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;

    ssh_channel Channel;
};

lvSecureShell::ReadEnd lvSecureShell::ReadChannel(ssh_channel channel, Clock::time_point deadline,
                                                  CommandRun& run)
{
    char buffer[16384];
    std::string& error = run.Outcome.Error;
    // Takes in everything libssh holds or can read now; false when the connection broke.
    // Reading one stream can bring data of the other, so the passes go on until one brings
    // nothing. Standard error never enters the reply.
    auto drain = [&]
    {
        for (bool bMore = true; bMore;)
        {
            bMore = false;
            for (const int bError : {0, 1})
            {
                int nRead = 0;
                while ((nRead = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer,
                                                             bError)) > 0)
                {
                    bMore = true;
                    const auto n = static_cast<size_t>(nRead);
                    TraceWireBytes("lvSecureShell", ETraceDirection::Receive, ETraceFormat::Text,
                                   buffer, n);
                    if (bError)
                        error.append(buffer,
                                     std::min(n, kErrorKept - std::min(kErrorKept, error.size())));
                    else if (run.Output.size() <= kMaxReplyBytes)
                        run.Output.append(buffer,
                                          std::min(n, kMaxReplyBytes + 1 - run.Output.size()));
                }
                if (nRead == SSH_ERROR)
                    return false;
            }
            if (run.Output.size() > kMaxReplyBytes)
                break;
        }
        return true;
    };
    for (;;)
    {
        if (!drain())
            return ReadEnd::Broken;
        if (run.Output.size() > kMaxReplyBytes)
            return ReadEnd::Overflow;
        // Once the output has ended, reads take in nothing more: what follows (the exit status,
        // the close) is taken in here, at once, instead of after a wait on a quiet socket. Its
        // answer cannot tell a failure from a status still to come (-1 both), the session can.
        if (ssh_channel_is_eof(channel) && !run.Ended() && !ssh_channel_is_closed(channel))
        {
            ssh_channel_get_exit_status(channel);
            if (ssh_is_connected(m_session) == 0)
                return ReadEnd::Broken;
        }
        if (ssh_channel_is_closed(channel) || (ssh_channel_is_eof(channel) && run.Ended()))
            return drain() ? ReadEnd::Finished : ReadEnd::Broken;
        switch (Wait(deadline))
        {
        case WaitEnd::Cancelled:
            return ReadEnd::Cancelled;
        case WaitEnd::Expired:
            return ReadEnd::TimedOut;
        case WaitEnd::Ready:
            break;
        }
    }
}

HRESULT lvSecureShell::Execute(BSTR bstrCommand)
{
    SetReply({});
    m_nExitStatus = -1;
    if (m_session == nullptr)
        return ReportComponentError(E_FAIL, CLSID_lvSecureShell, IID_IlvTelnet, "Not connected");
    try
    {
        const std::string command = WideToWireText(BstrView(bstrCommand));
        TraceWireBytes("lvSecureShell", ETraceDirection::Send, ETraceFormat::Text, command.data(),
                       command.size());
        // Freed on every way out, a failed allocation of the output included; before a failure
        // is reported, since that frees the session and with it what is left of its channels.
        std::unique_ptr<ssh_channel_struct, void (*)(ssh_channel)> owner(ssh_channel_new(m_session),
                                                                         &ssh_channel_free);
        const ssh_channel channel = owner.get();
        if (channel == nullptr)
            return Fail(E_FAIL, std::string("The connection is lost: ") + ssh_get_error(m_session));
        const std::chrono::seconds limit = ExecuteLimit();
        const Clock::time_point deadline = Clock::now() + limit;
        CommandRun run(channel);
        const bool bStarted =
            Pump([&] { return ssh_channel_open_session(channel); }, SSH_AGAIN, deadline) ==
                SSH_OK &&
            Pump([&] { return ssh_channel_request_exec(channel, command.c_str()); }, SSH_AGAIN,
                 deadline) == SSH_OK;
        const ReadEnd end = bStarted ? ReadChannel(channel, deadline, run) : ReadEnd::Broken;
        if (!bStarted || end == ReadEnd::Cancelled || end == ReadEnd::Broken)
        {
            std::string why =
                m_lastWait != WaitEnd::Ready ? WaitFailure(limit) : ssh_get_error(m_session);
            if (why.empty())
                why = "the server closed the connection";
            run.Release(owner);
            return Fail(E_FAIL, (bStarted ? "The connection broke during the command: "
                                          : "The command did not run: ") +
                                    why);
        }
        if (end != ReadEnd::Finished)
        {
            // Nothing should be left running: the command is told to end (a server may refuse:
            // OpenSSH does for a forced command) and its channel is closed, so a command that
            // goes on writing finds its output gone.
            ssh_channel_request_send_signal(channel, "TERM");
            run.Outcome.How = end == ReadEnd::TimedOut ? CommandOutcome::End::TimedOut
                                                       : CommandOutcome::End::Overflow;
        }
        ssh_channel_close(channel);
        run.Release(owner);
        m_nExitStatus = run.Outcome.ExitStatus;
        run.Outcome.PrintedOutput = !run.Output.empty();
        if (const std::string why = JudgeCommand(run.Outcome, limit); !why.empty())
            return ReportComponentError(E_FAIL, CLSID_lvSecureShell, IID_IlvTelnet, why);
        SetReply(FrameSecureShellReply(command, run.Output));
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

} // namespace lanvex
