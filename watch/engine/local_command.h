// The ps command line of a host run on this computer: split into argument vectors, run as
// child processes without a shell, and framed as the reply a telnet host would send.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The ps part as words, and the grep pattern as one argument (no shell ever splits it).
struct LocalCommand
{
    std::vector<std::string> Ps;
    bool Grep = false;
    std::string Pattern;
};

// Reads a line as the host record builds it: "ps" and option words, optionally followed by
// "| grep " and the pattern. Anything else in the ps part (a shell character, another
// program) is refused, so no record can make this computer run more than ps and grep.
bool SplitLocalCommand(std::string_view line, LocalCommand& command);

// grep's arguments for the pattern: a pattern that starts with '-' is still a pattern.
std::vector<std::string> GrepArguments(const std::string& pattern);

// The bytes a telnet host sends for this command: the echoed line, the output with every
// line ended by CR LF, then a prompt; so the parser reads it exactly as a remote reply.
std::string FrameLocalReply(std::string_view line, std::string_view output);

struct LocalRunLimits
{
    std::chrono::milliseconds Time{60000};
    std::size_t Output = 64u << 20;
    // Readable when the run must end at once (the child is killed); -1 for none.
    int CancelFd = -1;
};

// Runs the command (ps, piped into grep when it has a pattern) with standard input from
// /dev/null and both programs' standard error mixed into the output, as on a terminal. True
// when ps (and grep, whose "no line matched" is not a failure) ended normally; otherwise why
// says what went wrong and nothing is left running.
bool RunLocalCommand(const LocalCommand& command, const LocalRunLimits& limits, std::string& output,
                     std::string& why);
