// An alert as text: its time, a JSON object, and the environment a command run for it gets.
#include "watch/engine/alert_text.h"

#include <cstdio>

namespace
{
// Length of the valid UTF-8 sequence at text[i], or 0 when none starts there.
std::size_t SequenceLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
    {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if (k == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();)
    {
        const char c = text[i];
        const std::size_t length = SequenceLength(text, i);
        if (length == 0)
        {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\')
            out += {'\\', c};
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out + "\"";
}

std::string Blanked(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    return out;
}
} // namespace

std::string AlertTimeText(std::time_t time)
{
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string AlertEventJson(const AlertEvent& event)
{
    return "{\"alert\":{\"time\":" + JsonString(AlertTimeText(event.Time)) +
           ",\"host\":" + JsonString(event.Host) + ",\"rule\":" + JsonString(event.Rule) +
           ",\"when\":" + JsonString(AlertKindWord(event.Kind)) +
           ",\"pid\":" + std::to_string(event.Pid) + ",\"user\":" + JsonString(event.User) +
           ",\"command\":" + JsonString(event.Command) + ",\"detail\":" + JsonString(event.Detail) +
           "}}";
}

std::vector<std::pair<std::string, std::string>> AlertEnvironment(const AlertEvent& event)
{
    return {{"PSVIGIL_ALERT_TIME", AlertTimeText(event.Time)},
            {"PSVIGIL_ALERT_HOST", Blanked(event.Host)},
            {"PSVIGIL_ALERT_RULE", Blanked(event.Rule)},
            {"PSVIGIL_ALERT_WHEN", AlertKindWord(event.Kind)},
            {"PSVIGIL_ALERT_PID", std::to_string(event.Pid)},
            {"PSVIGIL_ALERT_USER", Blanked(event.User)},
            {"PSVIGIL_ALERT_COMMAND", Blanked(event.Command)},
            {"PSVIGIL_ALERT_DETAIL", Blanked(event.Detail)}};
}
