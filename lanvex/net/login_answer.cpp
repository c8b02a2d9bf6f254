// Judges what a telnet host answered to a password: a shell, a refusal, or not yet clear.
#include "lanvex/net/login_answer.h"

#include "lanvex/net/telnet_negotiation.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace lanvex
{

namespace
{

// The text without telnet commands: IAC IAC is a data byte 255, a subnegotiation is dropped up
// to its IAC SE, the option verbs take three bytes and every other command two.
std::string WithoutCommands(std::string_view answer)
{
    using namespace telnet;
    std::string text;
    text.reserve(answer.size());
    for (size_t i = 0; i < answer.size(); ++i)
    {
        const auto b = static_cast<uint8_t>(answer[i]);
        if (b != kIAC)
        {
            text.push_back(answer[i]);
            continue;
        }
        if (i + 1 >= answer.size())
            break;
        const auto command = static_cast<uint8_t>(answer[i + 1]);
        if (command == kIAC)
            text.push_back(answer[++i]);
        else if (command == kSB)
        {
            const size_t end = answer.find("\xff\xf0", i + 2);
            i = end == std::string_view::npos ? answer.size() : end + 1;
        }
        else
            i += (command >= kWILL && command <= kDONT) ? 2 : 1;
    }
    return text;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The line around position at, without its line end and surrounding blanks.
std::string_view LineAt(std::string_view text, size_t at)
{
    const size_t begin = text.find_last_of("\r\n", at);
    const size_t end = text.find_first_of("\r\n", at);
    const size_t from = begin == std::string_view::npos ? 0 : begin + 1;
    return Trimmed(text.substr(from, end == std::string_view::npos ? text.npos : end - from));
}

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

bool HasVisibleText(std::string_view answer)
{
    return !Trimmed(WithoutCommands(answer)).empty();
}

LoginVerdict JudgeLoginAnswer(std::string_view answer)
{
    const std::string text = WithoutCommands(answer);
    const std::string lower = Lower(text);
    static constexpr std::array<std::string_view, 6> kRefusals = {
        "login incorrect",        "incorrect login", "login failed", "authentication failure",
        "authentication failed", "access denied"};
    for (std::string_view refusal : kRefusals)
    {
        const size_t at = lower.find(refusal);
        if (at != std::string::npos)
            return {LoginVerdict::Refused, std::string(LineAt(text, at))};
    }

    // The last line: the prompt the host waits at. Trailing blanks belong to the prompt.
    std::string_view last(lower);
    const size_t lineStart = last.find_last_of("\r\n");
    if (lineStart != std::string_view::npos)
        last.remove_prefix(lineStart + 1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    if (last.empty())
        return {};
    for (std::string_view prompt : {"login:", "username:", "password:"})
    {
        if (EndsWith(last, prompt))
            return {LoginVerdict::Refused, "the host asked for the login again"};
    }
    const char c = last.back();
    if (c == '$' || c == '#' || c == '>' || c == '%')
        return {LoginVerdict::Accepted, {}};
    return {};
}

} // namespace lanvex
