// Evaluates one host's alert rules against each new process table and says what fired: once
// per change (a process appears, the last one goes, a limit is crossed), not at every refresh.
#include "watch/engine/alert_evaluator.h"

#include "watch/engine/host_settings.h"

#include <charconv>
#include <cmath>

namespace
{
std::optional<double> NumberOf(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The row's resident set size in MB, from ps's RSS column (KiB) once rows carry it; until
// then rules on it stay silent.
template <class Row> std::optional<double> RowRssMegabytes(const Row& row)
{
    if constexpr (requires { row.Rss; })
    {
        const std::optional<double> kib = NumberOf(FieldText(row.Rss));
        return kib ? std::optional<double>(*kib / 1024) : std::nullopt;
    }
    else
    {
        (void)row;
        return std::nullopt;
    }
}
} // namespace

ProcessSample SampleOf(const ProcessRow& row)
{
    ProcessSample sample;
    sample.Pid = row.Pid;
    sample.User = FieldText(row.User);
    sample.Command = FieldText(row.Command);
    sample.CpuPercent = NumberOf(FieldText(row.CpuUsage));
    sample.RssMegabytes = RowRssMegabytes(row);
    return sample;
}

std::vector<ProcessSample> SamplesOf(const COwningPtrArray<ProcessRow>& rows)
{
    std::vector<ProcessSample> samples;
    samples.reserve(static_cast<std::size_t>(rows.GetSize()));
    for (int32_t i = 0; i < rows.GetSize(); ++i)
    {
        if (const ProcessRow* row = rows.GetAt(i))
            samples.push_back(SampleOf(*row));
    }
    return samples;
}

CAlertEvaluator::CAlertEvaluator(std::string hostAddress, const std::vector<AlertRule>& rules)
    : m_host(std::move(hostAddress))
{
    for (const AlertRule& rule : rules)
    {
        if (!AlertRuleAppliesTo(rule, m_host) || !CheckAlertRule(rule).empty())
            continue;
        CRuleState state;
        state.Rule = rule;
        state.Title = AlertRuleTitle(rule);
        if (!state.Pattern.Compile(rule.Command).empty())
            continue;
        m_rules.push_back(std::move(state));
    }
}

void CAlertEvaluator::Reset()
{
    m_seenTable = false;
    for (CRuleState& state : m_rules)
    {
        state.Matching.clear();
        state.Streak.clear();
        state.Fired.clear();
    }
}

std::vector<AlertEvent> CAlertEvaluator::Feed(const std::vector<ProcessSample>& samples,
                                              std::time_t now)
{
    std::vector<AlertEvent> events;
    for (CRuleState& state : m_rules)
        FeedRule(state, samples, now, events);
    m_seenTable = true;
    return events;
}

void CAlertEvaluator::FeedRule(CRuleState& state, const std::vector<ProcessSample>& samples,
                               std::time_t now, std::vector<AlertEvent>& events)
{
    const AlertRule& rule = state.Rule;
    auto fire =
        [&](int32_t pid, std::string_view user, std::string_view command, std::string detail)
    {
        events.push_back({now, m_host, state.Title, rule.Kind, pid, std::string(user),
                          std::string(command), std::move(detail)});
    };

    std::map<int32_t, SeenProcess> matching;
    for (const ProcessSample& sample : samples)
    {
        if (!state.Pattern.Matches(sample.Command))
            continue;
        matching.try_emplace(sample.Pid,
                             SeenProcess{std::string(sample.User), std::string(sample.Command)});
        if (rule.Kind == AlertKind::Appears && m_seenTable && !state.Matching.count(sample.Pid))
            fire(sample.Pid, sample.User, sample.Command, "appeared");
        if (rule.Kind == AlertKind::CpuAbove)
        {
            if (!sample.CpuPercent || *sample.CpuPercent <= rule.Above)
            {
                state.Streak.erase(sample.Pid);
                state.Fired.erase(sample.Pid);
                continue;
            }
            const int streak = ++state.Streak[sample.Pid];
            if (streak >= rule.Refreshes && state.Fired.insert(sample.Pid).second)
                fire(sample.Pid, sample.User, sample.Command,
                     "CPU " + AlertNumberText(*sample.CpuPercent) + "% for " +
                         std::to_string(streak) + (streak == 1 ? " refresh" : " refreshes"));
        }
        if (rule.Kind == AlertKind::RssAbove)
        {
            if (!sample.RssMegabytes || *sample.RssMegabytes <= rule.Above)
                state.Fired.erase(sample.Pid);
            else if (state.Fired.insert(sample.Pid).second)
                fire(sample.Pid, sample.User, sample.Command,
                     "RSS " + AlertNumberText(std::round(*sample.RssMegabytes * 10) / 10) + " MB");
        }
    }
    if (rule.Kind == AlertKind::Goes && m_seenTable && !state.Matching.empty() && matching.empty())
    {
        const auto& [pid, last] = *state.Matching.begin();
        const std::size_t gone = state.Matching.size();
        fire(pid, last.User, last.Command,
             gone == 1 ? "none left" : "none left (" + std::to_string(gone) + " gone)");
    }
    // Processes that went are forgotten, so a PID used again starts afresh.
    for (auto it = state.Streak.begin(); it != state.Streak.end();)
        it = matching.count(it->first) ? std::next(it) : state.Streak.erase(it);
    for (auto it = state.Fired.begin(); it != state.Fired.end();)
        it = matching.count(*it) ? std::next(it) : state.Fired.erase(it);
    state.Matching = std::move(matching);
}
