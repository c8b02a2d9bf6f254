// Turns a host's raw ps reply into process rows, splitting the reply in place.
#include "watch/engine/ps_parser.h"

#include "watch/engine/text_field.h"

#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

namespace
{
constexpr int kBsdWordStarts = 10;
constexpr int kSysVWordStarts = 8;
constexpr std::size_t kStartTimeChars = 8;

// White space as a scanf-style reader sees it.
bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Position of the word start where the count reaches target (only the blank separates words
// here), or -1 when the line has fewer.
std::ptrdiff_t FindWordStart(std::string_view line, int target)
{
    int count = 0;
    for (std::size_t k = 1; k < line.size(); ++k)
    {
        if (line[k - 1] == ' ' && line[k] != ' ' && ++count == target)
            return static_cast<std::ptrdiff_t>(k);
    }
    return -1;
}

// Reads fields the way a scanf-style reader would, but never past a field.
class CFieldReader
{
  public:
    explicit CFieldReader(std::string_view line) : m_line(line) {}

    void SkipSpace()
    {
        while (m_pos < m_line.size() && IsScanSpace(m_line[m_pos]))
            ++m_pos;
    }

    // Reads the next word into field (cut to its width); returns false when the line is done.
    bool Word(char* field, std::size_t width)
    {
        SkipSpace();
        const std::size_t begin = m_pos;
        while (m_pos < m_line.size() && !IsScanSpace(m_line[m_pos]))
            ++m_pos;
        if (m_pos == begin)
            return false;
        if (field)
            CopyToField(field, width, m_line.substr(begin, m_pos - begin));
        return true;
    }

    // Takes exactly count characters, blanks included, as %c%c... does.
    bool Chars(char* field, std::size_t width, std::size_t count)
    {
        const std::size_t n = std::min(count, m_line.size() - m_pos);
        CopyToField(field, width, m_line.substr(m_pos, n));
        m_pos += n;
        return n == count;
    }

  private:
    std::string_view m_line;
    std::size_t m_pos = 0;
};

void ReadBsd(std::string_view line, ProcessRow& row)
{
    CFieldReader reader(line);
    char* const targets[10] = {row.User, row.PidText, row.CpuUsage, nullptr, nullptr,
                               nullptr,  row.Term,    nullptr,      row.StartTime, row.CpuTime};
    const std::size_t widths[10] = {sizeof row.User, sizeof row.PidText, sizeof row.CpuUsage, 0, 0,
                                    0, sizeof row.Term, 0, sizeof row.StartTime,
                                    sizeof row.CpuTime};
    for (int i = 0; i < 10; ++i)
    {
        if (!reader.Word(targets[i], widths[i]))
            return;
    }
}

void ReadSysV(std::string_view line, ProcessRow& row)
{
    CFieldReader reader(line);
    if (!reader.Word(row.User, sizeof row.User) || !reader.Word(row.PidText, sizeof row.PidText) ||
        !reader.Word(nullptr, 0) || !reader.Word(nullptr, 0))
        return;
    reader.SkipSpace();
    if (!reader.Chars(row.StartTime, sizeof row.StartTime, kStartTimeChars))
        return;
    if (!reader.Word(row.Term, sizeof row.Term))
        return;
    reader.Word(row.CpuTime, sizeof row.CpuTime);
}

// Decimal value as atoi reads it, saturated instead of overflowing.
int32_t PidValue(const char* text)
{
    while (IsScanSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = (*text++ == '-');
    long long value = 0;
    while (*text >= '0' && *text <= '9')
    {
        value = value * 10 + (*text++ - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value > INT_MAX ? INT_MAX : value);
}
} // namespace

void ParsePsReply(COwningPtrArray<ProcessRow>& rows, char* text, int32_t length, int32_t flavour,
                  int32_t filterMode)
{
    rows.RemoveAll();
    if (text == nullptr || length <= 0)
        return;

    // Split at every carriage return: it and the byte after it (normally the line feed) become
    // NUL, and the next line starts behind them. A byte turned to NUL is never seen as CR.
    std::vector<int32_t> starts;
    std::vector<int32_t> ends;
    starts.reserve(static_cast<std::size_t>(length) / 64 + 2);
    ends.reserve(starts.capacity());
    starts.push_back(0);
    for (int32_t i = 0; i < length; ++i)
    {
        if (text[i] != '\r')
            continue;
        text[i] = '\0';
        if (i + 1 < length)
            text[i + 1] = '\0';
        ends.push_back(i);
        starts.push_back(i + 2);
    }

    const int threshold = flavour == kFlavourBsd ? kBsdWordStarts : kSysVWordStarts;
    const std::size_t first = filterMode == kFilterShowAll ? 2 : 1;
    // The last line (the prompt) has no carriage return behind it and is never read.
    for (std::size_t index = first; index + 1 < starts.size(); ++index)
    {
        const char* begin = text + starts[index];
        // A NUL inside the line ends it, as it would for any C string reader.
        const std::size_t span = static_cast<std::size_t>(ends[index] - starts[index]);
        const std::string_view line(begin, strnlen(begin, span));

        // Today's SysV hosts print the user column left-aligned, so the line's first word has
        // no blank before it; counting it keeps CMD at the eighth word start, as it is with a
        // right-aligned column, instead of dropping processes without arguments.
        int target = threshold;
        if (flavour != kFlavourBsd && !line.empty() && line[0] != ' ')
            --target;
        const std::ptrdiff_t commandAt = FindWordStart(line, target);
        if (commandAt < 0)
            continue;

        auto* row = new ProcessRow;
        if (flavour == kFlavourBsd)
            ReadBsd(line, *row);
        else
            ReadSysV(line, *row);
        CopyToField(row->Command, line.substr(static_cast<std::size_t>(commandAt)));
        row->Pid = PidValue(row->PidText);
        rows.Add(row);
    }
}
