// Alert rules: the rules file read and written, and rules firing once per change.
#include "watch/engine/alert_evaluator.h"
#include "watch/engine/alert_rules.h"
#include "watch/engine/alert_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool operator==(const AlertRule& a, const AlertRule& b)
{
    return a.Host == b.Host && a.Name == b.Name && a.Kind == b.Kind && a.Command == b.Command &&
           a.Above == b.Above && a.Refreshes == b.Refreshes;
}
} // namespace

TEST(AlertRulesTest, WrittenRulesReadBackTheSame)
{
    const std::vector<AlertRule> rules = {
        {.Host = "*", .Kind = AlertKind::Appears, .Command = "^sleep [0-9]+$"},
        {.Host = "db1", .Name = "backup gone", .Kind = AlertKind::Goes, .Command = " rsync; x=y "},
        {.Host = "ssh://web",
         .Kind = AlertKind::CpuAbove,
         .Command = "\"java\"",
         .Above = 87.5,
         .Refreshes = 3},
        {.Host = "web", .Kind = AlertKind::RssAbove, .Command = "", .Above = 0.1},
    };
    const std::string text = FormatAlertRules(rules);
    const AlertRules back = ParseAlertRules(text);
    EXPECT_TRUE(back.Problems.empty()) << back.Problems.front();
    ASSERT_EQ(back.Rules.size(), rules.size()) << text;
    for (std::size_t i = 0; i < rules.size(); ++i)
        EXPECT_TRUE(back.Rules[i] == rules[i]) << i << "\n" << text;
}

TEST(AlertRulesTest, ProblemsAreNamedAndOnlyTheirRulesLeftOut)
{
    struct Case
    {
        std::string Text;
        std::size_t Rules;
        std::string Problem; // the first one
    };
    const std::string good = "[rule 9]\nwhen = appears\ncommand = x\n";
    const Case cases[] = {
        {"\xEF\xBB\xBF; comment\r\n[Rule]\r\nWHEN = Goes\r\nhost=h\r\n", 1, ""},
        {"[rule]\ncommand = x\n" + good, 1, "rule at line 1: no \"when\""},
        {"[rule]\nwhen = cpu\n" + good, 1, "rule at line 1: no \"above\""},
        {"[rule]\nwhen = sometimes\n" + good, 1,
         "rule at line 1: line 2: \"when\" is one of appears, goes, cpu, rss"},
        {"[rule]\nwhen = cpu\nabove = 5%\n", 0,
         "rule at line 1: line 3: \"above\" is not a number"},
        {"[rule]\nwhen = cpu\nabove = nan\n", 0, "rule at line 1: \"above\" runs from 0 to 1e+09"},
        {"[rule]\nwhen = cpu\nabove = 5\nrefreshes = 0\n", 0,
         "rule at line 1: \"refreshes\" runs from 1 to 1000"},
        {"[rule]\nwhen = goes\ncommand = (a\n", 0, "rule at line 1: command: Unmatched ( or \\("},
        {"[rule]\nwhen = goes\ncommand = (a)\\1\n", 0,
         "rule at line 1: command: back-references are not allowed"},
        {"[rule]\nwhen = goes\ncommand = ((a{1,40}){2,40})\n", 0,
         "rule at line 1: command: counted repetitions multiply past 1000"},
        {"[rule]\nwhen = goes\ncommand = " + std::string(513, 'a') + "\n", 0,
         "rule at line 1: command: longer than 512 bytes"},
        {"[rule]\nwhen = goes\nhost =\n", 0,
         "rule at line 1: no host (\"*\" stands for every host)"},
        {"[rule]\nwhen = goes\ncolour = red\n", 0,
         "rule at line 1: line 3: unknown key \"colour\""},
        {"when = goes\n" + good, 1, "line 1: outside a [rule] section"},
        {"[general]\nx = 1\n" + good, 1, "line 1: only [rule] sections are read"},
        {"[rule\n" + good, 1, "line 1: a section header ends in ]"},
        {"[rule]\nwhen goes\n", 0, "line 2: not a key = value line"},
        {"[rule]\nwhen = goes\nname = " + std::string(5000, 'n') + "\n", 0,
         "line 3: longer than 4096 bytes"},
        {std::string(kAlertFileCap + 1, '\n'), 0, "the file is larger than 1048576 bytes"},
    };
    for (const Case& c : cases)
    {
        const AlertRules read = ParseAlertRules(c.Text);
        EXPECT_EQ(read.Rules.size(), c.Rules) << c.Text.substr(0, 80);
        EXPECT_EQ(read.Problems.empty() ? "" : read.Problems.front(), c.Problem)
            << c.Text.substr(0, 80);
    }
    std::string many;
    for (std::size_t i = 0; i <= kMaxAlertRules; ++i)
        many += good;
    const AlertRules capped = ParseAlertRules(many);
    EXPECT_EQ(capped.Rules.size(), kMaxAlertRules);
    EXPECT_EQ(capped.Problems.size(), 1u);
}

TEST(AlertRulesTest, TheFileBesideTheHostListIsReadBounded)
{
    EXPECT_EQ(AlertRulesPathBeside("/home/u/psvigil.cfg"), "/home/u/psvigil-alerts.ini");
    EXPECT_EQ(AlertRulesPathBeside("psvigil.cfg"), "psvigil-alerts.ini");

    const auto dir =
        std::filesystem::temp_directory_path() / ("alert-rules-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    AlertRules rules;
    std::string error;
    EXPECT_TRUE(LoadAlertRulesFile((dir / "missing.ini").string(), rules, error));
    EXPECT_TRUE(rules.Rules.empty());
    std::ofstream(dir / "rules.ini") << "[rule]\nwhen = appears\n";
    EXPECT_TRUE(LoadAlertRulesFile((dir / "rules.ini").string(), rules, error));
    EXPECT_EQ(rules.Rules.size(), 1u);
    EXPECT_FALSE(LoadAlertRulesFile(dir.string(), rules, error));
    EXPECT_EQ(error, "not a regular file");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(LoadAlertRulesFile((dir / "fifo").string(), rules, error)); // does not block
    std::filesystem::remove_all(dir);
}

namespace
{
struct Process
{
    int32_t Pid;
    std::string Command;
    std::optional<double> Cpu = std::nullopt;
    std::optional<double> Rss = std::nullopt;
};

std::vector<std::string> FeedTables(CAlertEvaluator& evaluator,
                                    const std::vector<std::vector<Process>>& tables)
{
    std::vector<std::string> fired;
    for (std::size_t t = 0; t < tables.size(); ++t)
    {
        std::vector<ProcessSample> samples;
        for (const Process& p : tables[t])
            samples.push_back({p.Pid, "alice", p.Command, p.Cpu, p.Rss});
        for (const AlertEvent& e : evaluator.Feed(samples, 1000))
            fired.push_back(std::to_string(t) + " " + e.Rule + " " + std::to_string(e.Pid) + " " +
                            e.Detail);
    }
    return fired;
}
} // namespace

TEST(AlertEvaluatorTest, RulesFireOncePerChange)
{
    struct Case
    {
        AlertRule Rule;
        std::vector<std::vector<Process>> Tables;
        std::vector<std::string> Fired;
    };
    const Process sleep1{10, "sleep 300"}, sleep2{11, "sleep 60"}, vi{12, "vi notes"};
    const Case cases[] = {
        // The first table is the baseline; each new matching process fires once.
        {{.Kind = AlertKind::Appears, .Command = "^sleep"},
         {{sleep1, vi}, {sleep1, vi}, {sleep1, sleep2}, {sleep1, sleep2}, {vi}, {sleep2}},
         {"2 a process matching \"^sleep\" appears 11 appeared",
          "5 a process matching \"^sleep\" appears 11 appeared"}},
        // "Goes" fires when the last one is gone, and again only after one came back.
        {{.Name = "sleepers gone", .Kind = AlertKind::Goes, .Command = "sleep"},
         {{sleep1, sleep2}, {sleep2}, {vi}, {vi}, {sleep1}, {}},
         {"2 sleepers gone 11 none left", "5 sleepers gone 10 none left"}},
        {{.Kind = AlertKind::Goes, .Command = "sleep"},
         {{vi}, {}, {sleep1, sleep2}, {vi}},
         {"3 no process matching \"sleep\" left 10 none left (2 gone)"}},
        // CPU: M tables in a row above N, told once until it drops to N or below.
        {{.Kind = AlertKind::CpuAbove, .Command = "java", .Above = 50, .Refreshes = 2},
         {{{1, "java", 60}},
          {{1, "java", 99.5}},
          {{1, "java", 70}},
          {{1, "java", 50}},
          {{1, "java", 51}},
          {{1, "java", 52}},
          {{2, "java", 90}, {3, "javac", 10}}},
         {"1 a process matching \"java\" above 50% CPU for 2 refreshes 1 CPU 99.5% for 2 refreshes",
          "5 a process matching \"java\" above 50% CPU for 2 refreshes 1 CPU 52% for 2 refreshes"}},
        // A usage that is not a number never counts.
        {{.Kind = AlertKind::CpuAbove, .Above = 1},
         {{{1, "x"}}, {{1, "x", 5}}},
         {"1 a process above 1% CPU 1 CPU 5% for 1 refresh"}},
        // RSS fires from the first table on, per process, once per crossing.
        {{.Kind = AlertKind::RssAbove, .Command = "db", .Above = 100},
         {{{5, "db", 0, 150}, {6, "db", 0, 20}},
          {{5, "db", 0, 160}, {6, "db", 0, 101.26}},
          {{5, "db", 0, 90}},
          {{5, "db", 0, 120}}},
         {"0 a process matching \"db\" above 100 MB RSS 5 RSS 150 MB",
          "1 a process matching \"db\" above 100 MB RSS 6 RSS 101.3 MB",
          "3 a process matching \"db\" above 100 MB RSS 5 RSS 120 MB"}},
    };
    for (const Case& c : cases)
    {
        CAlertEvaluator evaluator("h", {c.Rule});
        EXPECT_EQ(FeedTables(evaluator, c.Tables), c.Fired) << DescribeAlertRule(c.Rule);
    }
}

TEST(AlertEvaluatorTest, OnlyTheHostsRulesCountAndResetStartsAfresh)
{
    const std::vector<AlertRule> rules = {
        {.Host = "other", .Kind = AlertKind::Appears},
        {.Host = "h", .Kind = AlertKind::Appears, .Command = "b"},
        {.Host = "*", .Kind = AlertKind::Goes, .Command = "(unclosed"}, // refused
    };
    CAlertEvaluator evaluator("h", rules);
    EXPECT_EQ(evaluator.RuleCount(), 1u);
    EXPECT_EQ(FeedTables(evaluator, {{{1, "a"}}, {{1, "a"}, {2, "b"}}}).size(), 1u);
    evaluator.Reset();
    EXPECT_TRUE(FeedTables(evaluator, {{{3, "b"}}}).empty()); // a new baseline

    // A row's CPU usage text becomes its sample.
    ProcessRow row;
    row.Pid = 7;
    std::strcpy(row.CpuUsage, "12.5");
    std::strcpy(row.Command, "sleep 1");
    const ProcessSample sample = SampleOf(row);
    EXPECT_EQ(sample.CpuPercent, 12.5);
    EXPECT_EQ(sample.Command, "sleep 1");
    std::strcpy(row.CpuUsage, "-");
    EXPECT_FALSE(SampleOf(row).CpuPercent);
}

TEST(AlertTextTest, JsonAndEnvironmentCarryHostTextSafely)
{
    const AlertEvent event{.Time = 0,
                           .Host = "h\"1",
                           .Rule = "r\\",
                           .Kind = AlertKind::Goes,
                           .Pid = 42,
                           .User = "bob",
                           .Command = "a\x1b[2J\xff\xc3\xa9",
                           .Detail = "none left"};
    const std::string json = AlertEventJson(event);
    EXPECT_EQ(
        json.substr(json.find("\"host\"")),
        "\"host\":\"h\\\"1\",\"rule\":\"r\\\\\",\"when\":\"goes\",\"pid\":42,\"user\":\"bob\","
        "\"command\":\"a\\u001b[2J\\ufffd\xc3\xa9\",\"detail\":\"none left\"}}");
    const auto environment = AlertEnvironment(event);
    ASSERT_EQ(environment.size(), 8u);
    EXPECT_EQ(environment[4], (std::pair<std::string, std::string>{"PSVIGIL_ALERT_PID", "42"}));
    EXPECT_EQ(environment[6].second, "a [2J\xff\xc3\xa9");
}
