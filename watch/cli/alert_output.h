// psvigil-cli watch --alerts FILE [--exec CMD]: the host's rules evaluated at every refresh,
// each alert printed as a line (or a JSON object) and handed to a command if asked.
#pragma once

#include "watch/cli/cli_commands.h"
#include "watch/engine/alert_evaluator.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class CWatchEngine;

class CAlertOutput
{
  public:
    ~CAlertOutput();

    // Moves --alerts FILE and --exec CMD out of args into rest; --format json is noted and left
    // in rest for the table's printer. False for a missing value or --exec without --alerts.
    bool TakeOptions(const CliArgs& args, CliArgs& rest);
    bool Active() const { return !m_path.empty(); }
    // Reads the rules that apply to the host; says what is wrong and returns false when the
    // file cannot be read or holds a rule that cannot be kept.
    bool Load(const std::string& hostAddress);
    // Evaluates the engine's new table and reports what fired.
    void Observe(CWatchEngine& engine);

  private:
    void Print(const AlertEvent& event);
    void Exec(const AlertEvent& event);
    // Collects ended commands; with a wait, gives the others a few seconds to end.
    void Reap(bool wait);

    std::string m_path;
    std::string m_exec;
    bool m_json = false;
    std::unique_ptr<CAlertEvaluator> m_evaluator;
    std::vector<pid_t> m_children;
};
