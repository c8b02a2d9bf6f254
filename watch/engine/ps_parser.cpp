// Turns a host's raw ps reply into process rows, splitting the reply in place.
#include "watch/engine/ps_parser.h"

#include "platform/com/ascii.h"

#include "watch/engine/text_field.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace
{
constexpr int kBsdWordStarts = 10;

// Copies text into a field of a fresh row, which is zero-filled already: cut on a character
// boundary, and the terminator is one of the zeros behind it.
void CopyToFreshField(char* field, std::size_t width, std::string_view text)
{
    std::memcpy(field, text.data(), Utf8FitLength(text, width - 1));
}
template <std::size_t N> void CopyToFreshField(char (&field)[N], std::string_view text)
{
    CopyToFreshField(field, N, text);
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
        while (m_pos < m_line.size() && IsAsciiSpace(m_line[m_pos]))
            ++m_pos;
    }

    // Reads the next word into field (cut to its width); returns false when the line is done.
    bool Word(char* field, std::size_t width)
    {
        std::string_view word;
        if (!Word(&word))
            return false;
        if (field)
            CopyToFreshField(field, width, word);
        return true;
    }

    // Reads the next word as a view into the line.
    bool Word(std::string_view* word)
    {
        SkipSpace();
        const std::size_t begin = m_pos;
        while (m_pos < m_line.size() && !IsAsciiSpace(m_line[m_pos]))
            ++m_pos;
        *word = m_line.substr(begin, m_pos - begin);
        return m_pos != begin;
    }

    bool AtEnd() const { return m_pos >= m_line.size(); }
    std::size_t Position() const { return m_pos; }

  private:
    std::string_view m_line;
    std::size_t m_pos = 0;
};

void ReadBsd(std::string_view line, ProcessRow& row)
{
    CFieldReader reader(line);
    char* const targets[10] = {row.User, row.PidText, row.CpuUsage,     row.MemUsage,  row.Vsz,
                               row.Rss,  row.Term,    row.ProcessState, row.StartTime, row.CpuTime};
    const std::size_t widths[10] = {
        sizeof row.User,      sizeof row.PidText, sizeof row.CpuUsage, sizeof row.MemUsage,
        sizeof row.Vsz,       sizeof row.Rss,     sizeof row.Term,     sizeof row.ProcessState,
        sizeof row.StartTime, sizeof row.CpuTime};
    for (int i = 0; i < 10; ++i)
    {
        if (!reader.Word(targets[i], widths[i]))
            return;
    }
}

bool IsMonthName(std::string_view word)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (word.size() != 3)
        return false;
    const char lower[3] = {static_cast<char>(word[0] | 0x20), static_cast<char>(word[1] | 0x20),
                           static_cast<char>(word[2] | 0x20)};
    for (std::string_view month : kMonths)
    {
        if (month == std::string_view(lower, 3))
            return true;
    }
    return false;
}

bool IsDayOfMonth(std::string_view word)
{
    return !word.empty() && word.size() <= 2 &&
           word.find_first_not_of("0123456789") == std::string_view::npos;
}

// Reads a start time by its shape: one word ("10:02:33", "19:56", "Dec07"), or two when a
// month name is followed by a day ("Nov 30"). False when the line ends first.
bool ReadStartTime(std::string_view line, CFieldReader& reader, ProcessRow& row)
{
    std::string_view first;
    if (!reader.Word(&first))
        return false;
    std::string_view startTime = first;
    CFieldReader ahead = reader;
    std::string_view day;
    if (IsMonthName(first) && ahead.Word(&day) && IsDayOfMonth(day))
    {
        reader = ahead;
        startTime = line.substr(static_cast<std::size_t>(first.data() - line.data()),
                                static_cast<std::size_t>(day.data() + day.size() - first.data()));
    }
    CopyToFreshField(row.StartTime, startTime);
    return true;
}

// Reads TTY and TIME, then finds the command: the rest of the line. Returns where the command
// starts, or npos when the line ends before it.
std::size_t ReadTermTimeCommand(CFieldReader& reader, ProcessRow& row, bool termFirst)
{
    if (termFirst && !reader.Word(row.Term, sizeof row.Term))
        return std::string_view::npos;
    if (!reader.Word(row.CpuTime, sizeof row.CpuTime))
        return std::string_view::npos;
    reader.SkipSpace();
    return reader.AtEnd() ? std::string_view::npos : reader.Position();
}

// Reads a SysV line by its shape: UID, PID, PPID and C; STIME in one or two words; TTY and
// TIME; the command is the rest of the line.
std::size_t ReadSysV(std::string_view line, ProcessRow& row)
{
    CFieldReader reader(line);
    if (!reader.Word(row.User, sizeof row.User) || !reader.Word(row.PidText, sizeof row.PidText) ||
        !reader.Word(row.PpidText, sizeof row.PpidText) || !reader.Word(nullptr, 0) ||
        !ReadStartTime(line, reader, row))
        return std::string_view::npos;
    return ReadTermTimeCommand(reader, row, true);
}

bool IsDigits(std::string_view word)
{
    return !word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos;
}

// Reads the reply to "ps -e -o user,pid,ppid,pcpu,pmem,vsz,rss,stat,tty,stime,time,args".
// The header is known by its shape: its PID column is not a number.
std::size_t ReadPosix(std::string_view line, ProcessRow& row)
{
    CFieldReader reader(line);
    std::string_view pid;
    if (!reader.Word(row.User, sizeof row.User) || !reader.Word(&pid) || !IsDigits(pid))
        return std::string_view::npos;
    CopyToFreshField(row.PidText, pid);
    char* const targets[] = {row.PpidText, row.CpuUsage,     row.MemUsage, row.Vsz,
                             row.Rss,      row.ProcessState, row.Term};
    const std::size_t widths[] = {sizeof row.PpidText, sizeof row.CpuUsage, sizeof row.MemUsage,
                                  sizeof row.Vsz,      sizeof row.Rss,      sizeof row.ProcessState,
                                  sizeof row.Term};
    for (std::size_t i = 0; i < std::size(targets); ++i)
    {
        if (!reader.Word(targets[i], widths[i]))
            return std::string_view::npos;
    }
    if (!ReadStartTime(line, reader, row))
        return std::string_view::npos;
    return ReadTermTimeCommand(reader, row, false);
}

// Decimal value as atoi reads it, saturated instead of overflowing.
int32_t PidValue(const char* text)
{
    while (IsAsciiSpace(*text))
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

void ParsePsReply(COwningPtrArray<ProcessRow>& rows, char* text, int32_t length,
                  int32_t flavourValue, int32_t filterMode)
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
    // memchr finds each carriage return many bytes at a time.
    char* const end = text + length;
    for (char* cr = text;
         (cr = static_cast<char*>(std::memchr(cr, '\r', static_cast<std::size_t>(end - cr)))) !=
         nullptr;
         ++cr)
    {
        const auto i = static_cast<int32_t>(cr - text);
        *cr = '\0';
        if (cr + 1 < end)
            cr[1] = '\0';
        ends.push_back(i);
        starts.push_back(i + 2);
    }

    const int32_t flavour = EffectiveFlavour(flavourValue);
    // The POSIX reply's header is skipped by its shape, so reading starts right after the echo.
    const std::size_t first = filterMode == kFilterShowAll && flavour != kFlavourPosix ? 2 : 1;
    // The last line (the prompt) has no carriage return behind it and is never read.
    for (std::size_t index = first; index + 1 < starts.size(); ++index)
    {
        const char* begin = text + starts[index];
        // A NUL inside the line ends it, as it would for any C string reader.
        const std::size_t span = static_cast<std::size_t>(ends[index] - starts[index]);
        const std::string_view line(begin, strnlen(begin, span));

        auto row = std::make_unique<ProcessRow>();
        if (flavour == kFlavourBsd)
        {
            const std::ptrdiff_t commandAt = FindWordStart(line, kBsdWordStarts);
            if (commandAt < 0)
                continue;
            ReadBsd(line, *row);
            CopyToFreshField(row->Command, line.substr(static_cast<std::size_t>(commandAt)));
        }
        else
        {
            // SysV columns vary in width and shape between hosts (a left-aligned user, a
            // five-character or two-word start time), so the line is read by its words.
            const std::size_t commandAt =
                flavour == kFlavourPosix ? ReadPosix(line, *row) : ReadSysV(line, *row);
            if (commandAt == std::string_view::npos)
                continue;
            CopyToFreshField(row->Command, line.substr(commandAt));
            row->Ppid = PidValue(row->PpidText);
        }
        row->Pid = PidValue(row->PidText);
        rows.Add(row.release());
    }
}
