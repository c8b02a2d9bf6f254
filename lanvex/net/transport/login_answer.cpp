// Judges what a telnet host answered to a password: a shell, a refusal, or not yet clear.
#include "lanvex/net/transport/login_answer.h"

#include "lanvex/net/transport/telnet_negotiation.h"

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

// The text without terminal control sequences: a shell may colour its prompt, set the window
// title or switch on bracketed paste after it ("host% \e[?2004h"), which ends no line a person
// sees. CSI runs to its final byte, OSC to BEL or ESC \, any other escape to the byte after its
// intermediate bytes.
std::string WithoutEscapes(std::string_view text)
{
    constexpr char kEsc = '\x1b';
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != kEsc)
        {
            plain.push_back(text[i]);
            continue;
        }
        if (i + 1 >= text.size())
            break;
        const char kind = text[++i];
        if (kind == '[')
        {
            while (i + 1 < text.size() && !(text[i + 1] >= 0x40 && text[i + 1] <= 0x7E))
                ++i;
            ++i;
        }
        else if (kind == ']')
        {
            while (i + 1 < text.size() && text[i + 1] != '\a' &&
                   !(text[i + 1] == kEsc && i + 2 < text.size() && text[i + 2] == '\\'))
                ++i;
            i += (i + 1 < text.size() && text[i + 1] == kEsc) ? 2 : 1;
        }
        else
        {
            // ESC, intermediate bytes, one final byte ("\e(B" of a colour reset).
            while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x2F)
                ++i;
        }
    }
    return plain;
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
    const std::string text = WithoutEscapes(WithoutCommands(answer));
    const std::string lower = Lower(text);
    static constexpr std::array<std::string_view, 6> kRefusals = {
        "login incorrect",        "incorrect login",       "login failed",
        "authentication failure", "authentication failed", "access denied"};
    std::string refusal;
    size_t refusalEnd = std::string::npos;
    for (std::string_view word : kRefusals)
    {
        const size_t at = lower.find(word);
        if (at != std::string::npos)
        {
            refusal = LineAt(text, at);
            refusalEnd = lower.find_first_of("\r\n", at);
            break;
        }
    }

    // The last line: the prompt the host waits at. Trailing blanks belong to the prompt.
    std::string_view last(lower);
    const size_t lineStart = last.find_last_of("\r\n");
    if (lineStart != std::string_view::npos)
        last.remove_prefix(lineStart + 1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    if (!last.empty())
    {
        // "Last login:" opens a greeting line; it asks for nothing.
        const bool bGreeting = EndsWith(last, "last login:");
        for (std::string_view prompt : {"login:", "username:", "password:"})
        {
            if (!bGreeting && EndsWith(last, prompt))
                return {LoginVerdict::Refused,
                        refusal.empty() ? "the host asked for the login again" : refusal};
        }
        // A shell prompt wins over a refusal text above it: a greeting may quote one.
        const char c = last.back();
        if (c == '$' || c == '#' || c == '>' || c == '%')
            return {LoginVerdict::Accepted, {}};
    }
    // A refusal with nothing visible after it is the host's last word so far.
    if (!refusal.empty() && (refusalEnd == std::string::npos ||
                             Trimmed(std::string_view(text).substr(refusalEnd)).empty()))
        return {LoginVerdict::Refused, refusal};
    return {LoginVerdict::Pending, refusal};
}

} // namespace lanvex
