// Signals and priority changes for processes of the watched host: the shell line we send and
// what the host answered for each process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ProcessSignal
{
    HangUp,
    Interrupt,
    Quit,
    Kill,
    User1,
    User2,
    Terminate,
    Stop,
    Continue,
};

struct ProcessAction
{
    bool Renice = false; // renice instead of a signal
    ProcessSignal Signal = ProcessSignal::Terminate;
    int Nice = 0; // with Renice: -20 .. 19
    std::vector<int32_t> Pids;
};

constexpr int kNiceMin = -20;
constexpr int kNiceMax = 19;
// One line stays far below a terminal's line limit; larger selections are refused.
constexpr std::size_t kMaxActionPids = 128;

// "TERM", "KILL", ...: the name kill takes after the dash.
const char* SignalName(ProcessSignal signal);
// "TERM", "term", "SIGTERM" or the signal's usual number ("15"); nothing for anything else.
std::optional<ProcessSignal> SignalFromName(std::string_view name);

// Why an action cannot be sent (no process, a PID that is not a positive number, too many
// processes, a nice value out of range), or empty when it can.
std::string CheckAction(const ProcessAction& action);

// The shell line for a checked action. It holds only our own words and decimal numbers, never
// text from the host, and marks where each process's answer begins and ends with its exit
// status, so the answers can be told apart over telnet, where the shell keeps the status.
std::string BuildActionCommand(const ProcessAction& action);

// What the host answered for one process.
struct ProcessActionOutcome
{
    int32_t Pid = 0;
    std::optional<int> ExitStatus; // none when the reply held no status for it
    std::string Message;           // what the command printed, one line, control bytes blanked
    std::string Reason;            // the gist of a refusal ("Operation not permitted")
    bool Succeeded() const { return ExitStatus && *ExitStatus == 0; }
};

// Reads the reply to BuildActionCommand's line: one outcome per PID of the action, in order.
std::vector<ProcessActionOutcome> ParseActionReply(std::string_view reply,
                                                   const std::vector<int32_t>& pids);

// "TERM" or "renice 5": what was asked, for messages.
std::string ActionName(const ProcessAction& action);

// One line for a status bar: "TERM sent to 4711" or "TERM to 4711 refused: Operation not
// permitted", with counts when there were several processes.
std::string SummarizeOutcomes(const ProcessAction& action,
                              const std::vector<ProcessActionOutcome>& outcomes);
