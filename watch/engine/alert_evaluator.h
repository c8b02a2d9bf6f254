// Evaluates one host's alert rules against each new process table and says what fired: once
// per change (a process appears, the last one goes, a limit is crossed), not at every refresh.
#pragma once

#include "watch/engine/alert_pattern.h"
#include "watch/engine/alert_rules.h"
#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What the rules look at in one process; the views point into the row it came from.
struct ProcessSample
{
    int32_t Pid = 0;
    std::string_view User;
    std::string_view Command;
    std::optional<double> CpuPercent;
    std::optional<double> RssMegabytes;
};

// The sample of a row: CPU from its usage text, RSS when the row carries it.
ProcessSample SampleOf(const ProcessRow& row);
std::vector<ProcessSample> SamplesOf(const COwningPtrArray<ProcessRow>& rows);

struct AlertEvent
{
    std::time_t Time = 0;
    std::string Host;
    std::string Rule; // the rule's title
    AlertKind Kind = AlertKind::Appears;
    int32_t Pid = 0;
    std::string User;
    std::string Command;
    std::string Detail; // "appeared", "none left", "CPU 93.5% for 3 refreshes", "RSS 412 MB"
};

class CAlertEvaluator
{
  public:
    // Keeps the rules that apply to the host and can be evaluated.
    CAlertEvaluator(std::string hostAddress, const std::vector<AlertRule>& rules);

    // The alerts that the new table fires. The first table is where appearing and going are
    // measured from, so it fires none of those; limits fire from the first table on.
    std::vector<AlertEvent> Feed(const std::vector<ProcessSample>& samples, std::time_t now);
    // Forgets every table seen (a new watch starts).
    void Reset();
    std::size_t RuleCount() const { return m_rules.size(); }

  private:
    struct SeenProcess
    {
        std::string User;
        std::string Command;
    };
    struct CRuleState
    {
        AlertRule Rule;
        std::string Title;
        CAlertPattern Pattern;
        std::map<int32_t, SeenProcess> Matching; // at the last table
        std::map<int32_t, int> Streak;           // CPU: tables in a row above the limit
        std::set<int32_t> Fired;                 // limits: above now, already told
    };

    void FeedRule(CRuleState& state, const std::vector<ProcessSample>& samples, std::time_t now,
                  std::vector<AlertEvent>& events);

    std::string m_host;
    std::vector<CRuleState> m_rules;
    bool m_seenTable = false;
};
