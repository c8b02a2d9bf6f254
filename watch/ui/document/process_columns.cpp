// The grid's columns: heading, starting width, the text a row shows, and how the column sorts.
#include "watch/ui/document/process_columns.h"

#include "watch/engine/host_settings.h"

#include <array>
#include <cctype>
#include <charconv>
#include <string>

namespace
{
template <auto Field> std::string_view FieldOf(const ProcessRow& row)
{
    return FieldText(row.*Field);
}

const std::array<ProcessColumn, 7> kColumns = {{
    {"User", 60, FieldOf<&ProcessRow::User>, ESortKind::Text},
    {"PID", 50, FieldOf<&ProcessRow::PidText>, ESortKind::Number},
    {"CPU Usage", 80, FieldOf<&ProcessRow::CpuUsage>, ESortKind::Number},
    {"Term", 55, FieldOf<&ProcessRow::Term>, ESortKind::Text},
    {"Start Time", 80, FieldOf<&ProcessRow::StartTime>, ESortKind::StartTime},
    {"CPU Time", 65, FieldOf<&ProcessRow::CpuTime>, ESortKind::Duration},
    {"Command", 290, FieldOf<&ProcessRow::Command>, ESortKind::Text},
}};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// A whole text of digits (at least one), as a number.
std::optional<int> Digits(std::string_view text)
{
    int value = 0;
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "Jan".."Dec" (any case) as 1..12, else 0.
int MonthOf(std::string_view text)
{
    static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
    if (text.size() != 3)
        return 0;
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = kMonths.find(lower);
    return at != std::string_view::npos && at % 3 == 0 ? static_cast<int>(at / 3) + 1 : 0;
}

// "Mon".."Sun" as 1..7 (Qt's day numbers), else 0.
int WeekdayOf(std::string_view text)
{
    static constexpr std::string_view kDays = "montuewedthufrisatsun";
    if (text.size() != 3)
        return 0;
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = kDays.find(lower);
    return at != std::string_view::npos && at % 3 == 0 ? static_cast<int>(at / 3) + 1 : 0;
}

// Minutes after midnight for "H:MM", "HH:MM:SS", "10:02AM", "10AM"; nullopt otherwise.
std::optional<double> TimeOfDay(std::string_view text)
{
    int meridiem = 0; // 1 AM, 2 PM
    if (text.size() > 2)
    {
        const std::string_view tail = text.substr(text.size() - 2);
        if (tail == "AM" || tail == "am")
            meridiem = 1;
        else if (tail == "PM" || tail == "pm")
            meridiem = 2;
        if (meridiem)
            text.remove_suffix(2);
    }
    int parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3)
    {
        const std::size_t colon = text.find(':');
        const std::optional<int> value = Digits(text.substr(0, colon));
        if (!value)
            return std::nullopt;
        parts[count++] = *value;
        if (colon == std::string_view::npos)
            break;
        text.remove_prefix(colon + 1);
    }
    if ((count < 2 && !meridiem) || parts[0] > 23 || parts[1] > 59 || parts[2] > 60)
        return std::nullopt;
    int hour = parts[0];
    if (meridiem)
    {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
    return hour * 60.0 + parts[1] + parts[2] / 60.0;
}

double MinutesOf(const QDate& date, double minutesOfDay = 0)
{
    return static_cast<double>(date.toJulianDay()) * 1440.0 + minutesOfDay;
}

// A month and day that carries no year: this year's, unless that lies after today.
QDate RecentDate(int month, int day, const QDate& today)
{
    QDate date(today.year(), month, day);
    if (date.isValid() && date > today)
        date = QDate(today.year() - 1, month, day);
    return date;
}
} // namespace

std::span<const ProcessColumn> ProcessColumns()
{
    return kColumns;
}

int ProcessColumnCount()
{
    return static_cast<int>(kColumns.size());
}

int ProcessColumnOf(std::string_view heading)
{
    for (std::size_t i = 0; i < kColumns.size(); ++i)
        if (heading == kColumns[i].Heading)
            return static_cast<int>(i);
    return -1;
}

std::string_view ProcessCellText(const ProcessRow& row, int column)
{
    if (column < 0 || column >= ProcessColumnCount())
        return {};
    return kColumns[static_cast<std::size_t>(column)].Text(row);
}

std::optional<double> NumberKey(std::string_view text)
{
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> DurationKey(std::string_view text)
{
    text = Trim(text);
    double days = 0;
    if (const std::size_t dash = text.find('-'); dash != std::string_view::npos)
    {
        const std::optional<int> d = Digits(text.substr(0, dash));
        if (!d)
            return std::nullopt;
        days = *d;
        text.remove_prefix(dash + 1);
    }
    // Up to three fields separated by colons; the last holds the seconds, maybe with a fraction.
    double fields[3] = {0, 0, 0};
    int count = 0;
    while (true)
    {
        const std::size_t colon = text.find(':');
        const std::string_view part = text.substr(0, colon);
        if (count == 3 || part.empty())
            return std::nullopt;
        if (colon == std::string_view::npos)
        {
            const std::optional<double> seconds = NumberKey(part);
            if (!seconds || *seconds < 0 || part.front() == '-')
                return std::nullopt;
            fields[count++] = *seconds;
            break;
        }
        const std::optional<int> whole = Digits(part);
        if (!whole)
            return std::nullopt;
        fields[count++] = *whole;
        text.remove_prefix(colon + 1);
    }
    if (count == 1 && days == 0)
        return std::nullopt; // a bare number is no duration ps prints
    double seconds = 0;
    for (int i = 0; i < count; ++i)
        seconds = seconds * 60 + fields[i];
    return days * 86400 + seconds;
}

std::optional<double> StartTimeKey(std::string_view text, const QDate& today)
{
    text = Trim(text);
    if (text.empty())
        return std::nullopt;
    // Today: "10:02", "10:02:03", "10:02AM".
    if (std::isdigit(static_cast<unsigned char>(text.front())) &&
        text.find(':') != std::string_view::npos)
    {
        const std::optional<double> minutes = TimeOfDay(text);
        return minutes ? std::optional(MinutesOf(today, *minutes)) : std::nullopt;
    }
    // Before this year: "2025".
    if (text.size() == 4)
        if (const std::optional<int> year = Digits(text))
            return MinutesOf(QDate(*year, 1, 1));
    // This year: "Dec07", SysV "Nov 30", "Nov  3".
    if (const int month = text.size() >= 4 ? MonthOf(text.substr(0, 3)) : 0)
    {
        const std::optional<int> day = Digits(Trim(text.substr(3)));
        const QDate date = day ? RecentDate(month, *day, today) : QDate();
        return date.isValid() ? std::optional(MinutesOf(date)) : std::nullopt;
    }
    // BSD, this week: "Tue10AM".
    if (const int weekday = text.size() > 3 ? WeekdayOf(text.substr(0, 3)) : 0)
    {
        const std::optional<double> minutes = TimeOfDay(text.substr(3));
        if (!minutes)
            return std::nullopt;
        // The same weekday as today is a week ago: today's starts show as a time of day.
        const int back = (today.dayOfWeek() - weekday + 6) % 7 + 1;
        return MinutesOf(today.addDays(-back), *minutes);
    }
    // BSD, older: "7Dec25", "07Dec25".
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    if (digits >= 1 && digits <= 2 && text.size() == digits + 5)
    {
        const int month = MonthOf(text.substr(digits, 3));
        const std::optional<int> day = Digits(text.substr(0, digits));
        const std::optional<int> year = Digits(text.substr(digits + 3));
        const QDate date = month && day && year ? QDate(2000 + *year, month, *day) : QDate();
        return date.isValid() ? std::optional(MinutesOf(date)) : std::nullopt;
    }
    return std::nullopt;
}
