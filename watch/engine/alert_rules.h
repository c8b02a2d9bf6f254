// Alert rules: what the user wants to be told about a host's processes, kept as INI text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class AlertKind
{
    Appears,  // a process whose command matches appears
    Goes,     // the last process whose command matches goes away
    CpuAbove, // a matching process uses more than Above % CPU for Refreshes refreshes in a row
    RssAbove, // a matching process holds more than Above MB of memory (RSS)
};

struct AlertRule
{
    std::string Host = "*"; // the host's address as in the host list; "*" for every host
    std::string Name{};     // what notifications call the rule; empty: its description
    AlertKind Kind = AlertKind::Appears;
    std::string Command{}; // extended regular expression (as grep -E) on the command line
    double Above = 0;      // CPU percent or RSS in MB
    int Refreshes = 1;     // CPU: refreshes in a row above the limit
};

// Bounds on what a rules file may hold.
constexpr std::size_t kAlertFileCap = 1u << 20;
constexpr std::size_t kMaxAlertRules = 1000;
constexpr std::size_t kMaxAlertPattern = 512;
constexpr std::size_t kMaxAlertText = 200; // host and name
constexpr int kMaxAlertRefreshes = 1000;

struct AlertRules
{
    std::vector<AlertRule> Rules;
    std::vector<std::string> Problems; // "line 7: ..." for what was left out and why
};

// Reads the text of a rules file. A rule with a problem is left out and the problem noted;
// the others are kept.
AlertRules ParseAlertRules(std::string_view text);
// The text of a rules file holding the rules (each checked by CheckAlertRule first).
std::string FormatAlertRules(const std::vector<AlertRule>& rules);
// Why a rule cannot be kept or evaluated, or empty when it can.
std::string CheckAlertRule(const AlertRule& rule);

// Reads a rules file: a regular file of at most kAlertFileCap bytes. A missing file is an empty
// set of rules; anything else that keeps it from being read is false with error set.
bool LoadAlertRulesFile(const std::string& path, AlertRules& rules, std::string& error);
// The rules file beside a host list file: "psvigil-alerts.ini" in the same folder.
std::string AlertRulesPathBeside(const std::string& hostListPath);

// "appears", "goes", "cpu", "rss": the words the file uses.
const char* AlertKindWord(AlertKind kind);
// 'a process matching "sshd" appears', and so on.
std::string DescribeAlertRule(const AlertRule& rule);
// The rule's name, or its description when it has none.
std::string AlertRuleTitle(const AlertRule& rule);
bool AlertRuleAppliesTo(const AlertRule& rule, std::string_view hostAddress);
// A number as the file and the messages write it: shortest form, '.' whatever the locale.
std::string AlertNumberText(double value);
