// The ps command line of a host run on this computer, without a shell, bounded in time and size.
#include "watch/engine/local_command.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{
using Clock = std::chrono::steady_clock;

constexpr std::string_view kGrepPart = "| grep ";

// What a flavour's ps part may hold: the word ps, options and output column lists.
bool IsPsWordCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == ',' || c == '=' || c == '_';
}

// Variables that change ps's width or columns or grep's output would make the reply
// unreadable to the parser; a host's login shell does not carry the desktop's values either.
bool KeepInChildEnvironment(std::string_view entry)
{
    for (std::string_view name : {"COLUMNS=", "LINES=", "PS_FORMAT=", "PS_PERSONALITY=", "CMD_ENV=",
                                  "GREP_OPTIONS=", "GREP_COLOR=", "GREP_COLORS="})
    {
        if (entry.substr(0, name.size()) == name)
            return false;
    }
    return true;
}

std::vector<char*> ChildEnvironment()
{
    std::vector<char*> envp;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    {
        if (KeepInChildEnvironment(*entry))
            envp.push_back(*entry);
    }
    envp.push_back(nullptr);
    return envp;
}

// Starts one program in process group group (0: a new group it leads), with standard input
// from in (-1: /dev/null) and output and error to the given descriptors.
pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err, pid_t group,
            char* const* envp, int& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in < 0)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);

    // The child starts with default signal handling whatever the caller ignores (a program
    // that ignores SIGPIPE would leave ps writing into a closed grep), and in its own group so
    // that one kill ends the whole pipeline.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, group);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Waits for a child until the deadline or the cancel descriptor; false while it still runs.
bool ReapBy(pid_t pid, int& status, Clock::time_point deadline, int cancelFd)
{
    for (;;)
    {
        const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid)
            return true;
        if (reaped < 0 && errno != EINTR)
        {
            // Reaped behind our back (SIGCHLD ignored): how it ended is unknown.
            status = -1;
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        pollfd cancel{cancelFd, POLLIN, 0};
        if (::poll(&cancel, cancelFd >= 0 ? 1 : 0, 5) > 0)
            return false;
    }
}

// Kills the pipeline's group and reaps its members; one stuck in the kernel (a hung mount) is
// left to a thread of its own rather than holding the caller.
void KillAndReap(pid_t group, const std::vector<pid_t>& pids)
{
    ::kill(-group, SIGKILL);
    for (pid_t pid : pids)
    {
        int status = 0;
        if (!ReapBy(pid, status, Clock::now() + std::chrono::seconds(1), -1))
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
}

void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string FirstLine(const std::string& text)
{
    std::string line = text.substr(0, std::min(text.find('\n'), std::size_t{200}));
    return line.empty() ? line : ": " + line;
}

// Why a program of the pipeline failed, or empty when it ended well (grep's status 1 means
// only that no line matched).
std::string EndingFailure(const char* program, int status, int acceptedStatus,
                          const std::string& output)
{
    if (status == -1)
        return std::string("how ") + program + " ended is unknown";
    if (WIFSIGNALED(status))
        return std::string(program) + " was ended by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) > acceptedStatus)
        return std::string(program) + " ended with status " + std::to_string(WEXITSTATUS(status)) +
               FirstLine(output);
    return {};
}
} // namespace

bool SplitLocalCommand(std::string_view line, LocalCommand& command)
{
    command = LocalCommand{};
    std::string_view psPart = line;
    if (const std::size_t bar = line.find(kGrepPart); bar != std::string_view::npos)
    {
        psPart = line.substr(0, bar);
        command.Grep = true;
        command.Pattern = std::string(line.substr(bar + kGrepPart.size()));
    }
    std::size_t at = 0;
    while (at < psPart.size())
    {
        if (psPart[at] == ' ')
        {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < psPart.size() && psPart[end] != ' ')
        {
            if (!IsPsWordCharacter(psPart[end]))
                return false;
            ++end;
        }
        command.Ps.emplace_back(psPart.substr(at, end - at));
        at = end;
    }
    return !command.Ps.empty() && command.Ps.front() == "ps";
}

std::vector<std::string> GrepArguments(const std::string& pattern)
{
    if (!pattern.empty() && pattern.front() == '-')
        return {"grep", "-e", pattern};
    return {"grep", pattern};
}

std::string FrameLocalReply(std::string_view line, std::string_view output)
{
    std::string reply;
    reply.reserve(line.size() + output.size() + output.size() / 64 + 8);
    reply.append(line);
    reply.append("\r\n");
    for (std::size_t at = 0; at < output.size();)
    {
        const std::size_t end = std::min(output.find('\n', at), output.size());
        reply.append(output.substr(at, end - at));
        reply.append("\r\n");
        at = end + 1;
    }
    reply.append("$ ");
    return reply;
}

bool RunLocalCommand(const LocalCommand& command, const LocalRunLimits& limits, std::string& output,
                     std::string& why)
{
    output.clear();
    why.clear();
    int outPipe[2] = {-1, -1};
    int midPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || (command.Grep && ::pipe2(midPipe, O_CLOEXEC) != 0))
    {
        why = std::string("cannot make a pipe: ") + std::strerror(errno);
        for (int* fd : {&outPipe[0], &outPipe[1], &midPipe[0], &midPipe[1]})
            CloseIfOpen(*fd);
        return false;
    }
    const std::vector<char*> envp = ChildEnvironment();
    // grep first, so ps finds it running and lists it, as it nearly always does behind a
    // shell; the pipeline's group is grep's then, or ps's alone.
    int error = 0;
    pid_t grep = -1;
    if (command.Grep)
        grep = Spawn(GrepArguments(command.Pattern), midPipe[0], outPipe[1], outPipe[1], 0,
                     envp.data(), error);
    pid_t ps = -1;
    if (!command.Grep || grep > 0)
        ps = Spawn(command.Ps, -1, command.Grep ? midPipe[1] : outPipe[1], outPipe[1],
                   command.Grep ? grep : 0, envp.data(), error);
    for (int* fd : {&outPipe[1], &midPipe[0], &midPipe[1]})
        CloseIfOpen(*fd);
    const pid_t group = command.Grep ? grep : ps;
    if (ps < 0)
    {
        why = std::string(command.Grep && grep < 0 ? "cannot start grep: " : "cannot start ps: ") +
              std::strerror(error);
        if (grep > 0)
            KillAndReap(grep, {grep});
        CloseIfOpen(outPipe[0]);
        return false;
    }
    std::vector<pid_t> pids{ps};
    if (grep > 0)
        pids.push_back(grep);

    const Clock::time_point deadline = Clock::now() + limits.Time;
    const std::string seconds = limits.Time.count() % 1000 == 0
                                    ? std::to_string(limits.Time.count() / 1000) + " s"
                                    : std::to_string(limits.Time.count()) + " ms";
    std::string failure;
    std::vector<char> chunk(64 * 1024);
    for (;;)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
        {
            failure = "ps did not finish within " + seconds;
            break;
        }
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {limits.CancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, limits.CancelFd >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
        {
            failure = std::string("cannot wait for ps: ") + std::strerror(errno);
            break;
        }
        if (limits.CancelFd >= 0 && fds[1].revents != 0)
        {
            failure = "stopped";
            break;
        }
        if (ready == 0)
            continue;
        const ssize_t n = ::read(outPipe[0], chunk.data(), chunk.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
        {
            failure = std::string("cannot read ps: ") + std::strerror(errno);
            break;
        }
        if (n == 0)
            break;
        if (output.size() + static_cast<std::size_t>(n) > limits.Output)
        {
            failure = "ps printed more than " + std::to_string(limits.Output >> 20) + " MB";
            break;
        }
        output.append(chunk.data(), static_cast<std::size_t>(n));
    }
    CloseIfOpen(outPipe[0]);

    // The output has ended, so the programs are ending too; still bounded, and stoppable.
    int psStatus = 0, grepStatus = 0;
    if (failure.empty() && (!ReapBy(ps, psStatus, deadline, limits.CancelFd) ||
                            (grep > 0 && !ReapBy(grep, grepStatus, deadline, limits.CancelFd))))
        failure = Clock::now() >= deadline ? "ps did not finish within " + seconds : "stopped";
    if (!failure.empty())
    {
        KillAndReap(group, pids);
        output.clear();
        why = failure;
        return false;
    }
    why = EndingFailure("ps", psStatus, 0, output);
    if (why.empty() && grep > 0)
        why = EndingFailure("grep", grepStatus, 1, output);
    return why.empty();
}
