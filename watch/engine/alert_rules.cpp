// Alert rules: what the user wants to be told about a host's processes, kept as INI text.
#include "watch/engine/alert_rules.h"

#include "watch/engine/alert_pattern.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr std::size_t kMaxLine = 4096;
constexpr double kMaxAbove = 1e9;

struct KindWord
{
    AlertKind Kind;
    const char* Word;
};
constexpr std::array<KindWord, 4> kKindWords = {{{AlertKind::Appears, "appears"},
                                                 {AlertKind::Goes, "goes"},
                                                 {AlertKind::CpuAbove, "cpu"},
                                                 {AlertKind::RssAbove, "rss"}}};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return lower;
}

bool HasControlBytes(std::string_view text)
{
    for (const char c : text)
    {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

// A value as written: blanks around it dropped, or taken literally between double quotes.
std::string_view Unquote(std::string_view value)
{
    value = Trim(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// Quotes a value whose blanks at either end or quotes would otherwise be lost.
std::string Quote(std::string_view value)
{
    const bool needs =
        !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                           value.back() == '\t' || value.front() == '"');
    return needs ? "\"" + std::string(value) + "\"" : std::string(value);
}

// One [rule] section being read.
struct CPendingRule
{
    AlertRule Rule;
    std::size_t Line = 0; // of its header; 0 while no section is open
    bool HasKind = false;
    bool HasAbove = false;
    std::string Problem; // the first one found in it
};

void Finish(CPendingRule& pending, AlertRules& out)
{
    if (pending.Line == 0)
        return;
    const std::string where = "rule at line " + std::to_string(pending.Line) + ": ";
    std::string problem = pending.Problem;
    if (problem.empty() && !pending.HasKind)
        problem = "no \"when\"";
    if (problem.empty() && !pending.HasAbove &&
        (pending.Rule.Kind == AlertKind::CpuAbove || pending.Rule.Kind == AlertKind::RssAbove))
        problem = "no \"above\"";
    if (problem.empty())
        problem = CheckAlertRule(pending.Rule);
    if (problem.empty() && out.Rules.size() >= kMaxAlertRules)
        problem = "more than " + std::to_string(kMaxAlertRules) + " rules";
    // Values that mean nothing for the rule's kind are dropped, as writing it back would.
    if (pending.Rule.Kind != AlertKind::CpuAbove && pending.Rule.Kind != AlertKind::RssAbove)
        pending.Rule.Above = 0;
    if (pending.Rule.Kind != AlertKind::CpuAbove)
        pending.Rule.Refreshes = 1;
    if (problem.empty())
        out.Rules.push_back(pending.Rule);
    else
        out.Problems.push_back(where + problem);
    pending = {};
}

// Sets one key of the open section, or says why it cannot.
std::string SetKey(CPendingRule& pending, const std::string& key, std::string_view value)
{
    AlertRule& rule = pending.Rule;
    if (key == "host")
        rule.Host = value;
    else if (key == "name")
        rule.Name = value;
    else if (key == "command")
        rule.Command = value;
    else if (key == "when")
    {
        const std::string word = Lower(value);
        for (const KindWord& kind : kKindWords)
        {
            if (word == kind.Word)
            {
                rule.Kind = kind.Kind;
                pending.HasKind = true;
                return {};
            }
        }
        return "\"when\" is one of appears, goes, cpu, rss";
    }
    else if (key == "above")
    {
        double above = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), above);
        if (error != std::errc() || end != value.data() + value.size() || value.empty())
            return "\"above\" is not a number";
        rule.Above = above;
        pending.HasAbove = true;
    }
    else if (key == "refreshes")
    {
        int refreshes = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), refreshes);
        if (error != std::errc() || end != value.data() + value.size() || value.empty())
            return "\"refreshes\" is not a whole number";
        rule.Refreshes = refreshes;
    }
    else
        return "unknown key \"" + key.substr(0, 40) + "\"";
    return {};
}
} // namespace

const char* AlertKindWord(AlertKind kind)
{
    for (const KindWord& entry : kKindWords)
    {
        if (entry.Kind == kind)
            return entry.Word;
    }
    return "appears";
}

std::string AlertNumberText(double value)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string CheckAlertRule(const AlertRule& rule)
{
    if (rule.Host.empty())
        return "no host (\"*\" stands for every host)";
    if (rule.Host.size() > kMaxAlertText || rule.Name.size() > kMaxAlertText)
        return "host or name longer than " + std::to_string(kMaxAlertText) + " bytes";
    if (HasControlBytes(rule.Host) || HasControlBytes(rule.Name) || HasControlBytes(rule.Command))
        return "control characters in a value";
    CAlertPattern pattern;
    if (std::string why = pattern.Compile(rule.Command); !why.empty())
        return "command: " + why;
    if (rule.Kind == AlertKind::CpuAbove || rule.Kind == AlertKind::RssAbove)
    {
        if (!std::isfinite(rule.Above) || rule.Above < 0 || rule.Above > kMaxAbove)
            return "\"above\" runs from 0 to " + AlertNumberText(kMaxAbove);
    }
    if (rule.Refreshes < 1 || rule.Refreshes > kMaxAlertRefreshes)
        return "\"refreshes\" runs from 1 to " + std::to_string(kMaxAlertRefreshes);
    return {};
}

AlertRules ParseAlertRules(std::string_view text)
{
    AlertRules out;
    if (text.size() > kAlertFileCap)
    {
        out.Problems.push_back("the file is larger than " + std::to_string(kAlertFileCap) +
                               " bytes");
        return out;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    CPendingRule pending;
    bool inOtherSection = false;
    for (std::size_t number = 1; !text.empty(); ++number)
    {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.size() > kMaxLine)
        {
            out.Problems.push_back(where + "longer than " + std::to_string(kMaxLine) + " bytes");
            if (pending.Problem.empty() && pending.Line != 0)
                pending.Problem = "holds a line that is too long";
            continue;
        }
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[')
        {
            Finish(pending, out);
            if (line.back() != ']')
            {
                out.Problems.push_back(where + "a section header ends in ]");
                inOtherSection = true;
                continue;
            }
            const std::string section = Lower(Trim(line.substr(1, line.size() - 2)));
            inOtherSection = section.rfind("rule", 0) != 0;
            if (inOtherSection)
                out.Problems.push_back(where + "only [rule] sections are read");
            else
                pending.Line = number;
            continue;
        }
        if (inOtherSection)
            continue;
        const std::size_t equals = line.find('=');
        if (pending.Line == 0 || equals == std::string_view::npos)
        {
            out.Problems.push_back(where + (pending.Line == 0 ? "outside a [rule] section"
                                                              : "not a key = value line"));
            continue;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        if (std::string why = SetKey(pending, key, Unquote(line.substr(equals + 1)));
            !why.empty() && pending.Problem.empty())
            pending.Problem = "line " + std::to_string(number) + ": " + why;
    }
    Finish(pending, out);
    return out;
}

std::string FormatAlertRules(const std::vector<AlertRule>& rules)
{
    std::string text = "; psvigil alert rules, one [rule] section each.\n"
                       "; host: the host's address in the host list, * for every host\n"
                       "; when: appears, goes (none left), cpu (above percent for refreshes in a "
                       "row), rss (above MB)\n"
                       "; command: extended regular expression on the command line; empty "
                       "matches all\n";
    int number = 0;
    for (const AlertRule& rule : rules)
    {
        text += "\n[rule " + std::to_string(++number) + "]\n";
        text += "host = " + Quote(rule.Host) + "\n";
        if (!rule.Name.empty())
            text += "name = " + Quote(rule.Name) + "\n";
        text += "when = " + std::string(AlertKindWord(rule.Kind)) + "\n";
        text += "command = " + Quote(rule.Command) + "\n";
        if (rule.Kind == AlertKind::CpuAbove || rule.Kind == AlertKind::RssAbove)
            text += "above = " + AlertNumberText(rule.Above) + "\n";
        if (rule.Kind == AlertKind::CpuAbove)
            text += "refreshes = " + std::to_string(rule.Refreshes) + "\n";
    }
    return text;
}

bool LoadAlertRulesFile(const std::string& path, AlertRules& rules, std::string& error)
{
    rules = {};
    // Non-blocking, so a FIFO put in its place cannot hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return true;
        error = std::strerror(errno);
        return false;
    }
    struct stat info
    {
    };
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok)
        error = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        ok = false, error = "not a regular file";
    else if (static_cast<std::size_t>(info.st_size) > kAlertFileCap)
        ok = false, error = "larger than " + std::to_string(kAlertFileCap) + " bytes";
    std::string bytes;
    while (ok)
    {
        char chunk[16384];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false, error = std::strerror(errno);
        else if (n == 0)
            break;
        else if (bytes.size() + static_cast<std::size_t>(n) > kAlertFileCap)
            ok = false, error = "larger than " + std::to_string(kAlertFileCap) + " bytes";
        else
            bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (ok)
        rules = ParseAlertRules(bytes);
    return ok;
}

std::string AlertRulesPathBeside(const std::string& hostListPath)
{
    const std::size_t slash = hostListPath.rfind('/');
    return (slash == std::string::npos ? std::string() : hostListPath.substr(0, slash + 1)) +
           "psvigil-alerts.ini";
}

std::string DescribeAlertRule(const AlertRule& rule)
{
    const std::string matching = rule.Command.empty() ? "" : " matching \"" + rule.Command + "\"";
    switch (rule.Kind)
    {
    case AlertKind::Appears:
        return "a process" + matching + " appears";
    case AlertKind::Goes:
        return "no process" + matching + " left";
    case AlertKind::CpuAbove:
        return "a process" + matching + " above " + AlertNumberText(rule.Above) + "% CPU" +
               (rule.Refreshes > 1 ? " for " + std::to_string(rule.Refreshes) + " refreshes" : "");
    case AlertKind::RssAbove:
        return "a process" + matching + " above " + AlertNumberText(rule.Above) + " MB RSS";
    }
    return {};
}

std::string AlertRuleTitle(const AlertRule& rule)
{
    return rule.Name.empty() ? DescribeAlertRule(rule) : rule.Name;
}

bool AlertRuleAppliesTo(const AlertRule& rule, std::string_view hostAddress)
{
    return rule.Host == "*" || rule.Host == hostAddress;
}
