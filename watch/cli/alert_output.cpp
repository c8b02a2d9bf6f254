// psvigil-cli watch --alerts FILE [--exec CMD]: the host's rules evaluated at every refresh,
// each alert printed as a line (or a JSON object) and handed to a command if asked.
#include "watch/cli/alert_output.h"

#include "watch/cli/row_printer.h"
#include "watch/engine/alert_text.h"
#include "watch/engine/watch_engine.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace
{
// Commands still running beyond this many are not started again until some end.
constexpr std::size_t kMaxRunningCommands = 32;
constexpr auto kExitWait = std::chrono::seconds(5);
} // namespace

CAlertOutput::~CAlertOutput()
{
    Reap(true);
}

bool CAlertOutput::TakeOptions(const CliArgs& args, CliArgs& rest)
{
    rest.clear();
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((a == "--alerts" || a == "--exec") && !hasValue)
            return false;
        if (a == "--alerts")
            m_path = args[++i];
        else if (a == "--exec")
            m_exec = args[++i];
        else
        {
            if (a == "--format" && hasValue)
                m_json = args[i + 1] == "json";
            rest.push_back(a);
        }
    }
    return m_exec.empty() || !m_path.empty();
}

bool CAlertOutput::Load(const std::string& hostAddress)
{
    AlertRules rules;
    std::string error;
    if (!LoadAlertRulesFile(m_path, rules, error))
    {
        std::fprintf(stderr, "psvigil-cli: cannot read %s: %s\n", EscapeField(m_path).c_str(),
                     error.c_str());
        return false;
    }
    for (const std::string& problem : rules.Problems)
        std::fprintf(stderr, "psvigil-cli: %s: %s\n", EscapeField(m_path).c_str(),
                     EscapeField(problem).c_str());
    if (!rules.Problems.empty())
        return false;
    m_evaluator = std::make_unique<CAlertEvaluator>(hostAddress, rules.Rules);
    if (m_evaluator->RuleCount() == 0)
        std::fprintf(stderr, "psvigil-cli: no rule of %s applies to %s\n",
                     EscapeField(m_path).c_str(), EscapeField(hostAddress).c_str());
    return true;
}

void CAlertOutput::Observe(CWatchEngine& engine)
{
    if (!m_evaluator)
        return;
    std::vector<AlertEvent> events;
    {
        CAutoLock lock(engine.GetLock());
        events = m_evaluator->Feed(SamplesOf(engine.GetSnapshot()), std::time(nullptr));
    }
    Reap(false);
    for (const AlertEvent& event : events)
    {
        Print(event);
        if (!m_exec.empty())
            Exec(event);
    }
    std::fflush(stdout);
}

void CAlertOutput::Print(const AlertEvent& event)
{
    if (m_json)
    {
        std::printf("%s\n", AlertEventJson(event).c_str());
        return;
    }
    const std::string fields[] = {
        AlertTimeText(event.Time), event.Host, event.Rule,    AlertKindWord(event.Kind),
        std::to_string(event.Pid), event.User, event.Command, event.Detail};
    std::string line = "!";
    for (const std::string& field : fields)
        line += "\t" + EscapeField(field);
    std::printf("%s\n", line.c_str());
}

void CAlertOutput::Exec(const AlertEvent& event)
{
    if (m_children.size() >= kMaxRunningCommands)
    {
        std::fprintf(stderr,
                     "psvigil-cli: %zu alert commands still running; not starting "
                     "another\n",
                     m_children.size());
        return;
    }
    // The details travel in the environment only: the command line is the user's own text.
    std::vector<std::string> owned;
    for (char** entry = environ; entry && *entry; ++entry)
    {
        if (std::strncmp(*entry, "PSVIGIL_ALERT_", 14) != 0)
            owned.emplace_back(*entry);
    }
    for (const auto& [name, value] : AlertEnvironment(event))
        owned.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : owned)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", dashC = "-c", command = m_exec;
    char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t child = -1;
    const int error = posix_spawn(&child, shell.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        std::fprintf(stderr, "psvigil-cli: cannot run the alert command: %s\n",
                     std::strerror(error));
    else
        m_children.push_back(child);
}

void CAlertOutput::Reap(bool wait)
{
    const auto until = std::chrono::steady_clock::now() + kExitWait;
    for (;;)
    {
        for (auto it = m_children.begin(); it != m_children.end();)
        {
            int status = 0;
            const pid_t ended = ::waitpid(*it, &status, WNOHANG);
            it = ended == 0 ? std::next(it) : m_children.erase(it);
        }
        if (!wait || m_children.empty() || std::chrono::steady_clock::now() >= until)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
