// Judges what a telnet host answered to a password: a shell, a refusal, or not yet clear.
#pragma once

#include <string>
#include <string_view>

namespace lanvex
{

struct LoginVerdict
{
    enum Kind
    {
        Pending,  // nothing tells yet; wait for more
        Accepted, // the answer ends in a shell prompt
        Refused,  // the host said no, or asks for the login again
    };
    Kind What = Pending;
    // Why the login was refused, for the client; while pending, a refusal text seen so far.
    std::string Reason;
};

// Looks at everything the host sent after the password (telnet commands and terminal control
// sequences included). A new login or password prompt on the last line is a refusal; a last
// line ending in a shell prompt character ($ # > %, optionally followed by blanks) is a shell,
// even below a greeting that quotes a refusal text; a refusal text ("Login incorrect" and its
// kin) with nothing visible after it is a refusal.
LoginVerdict JudgeLoginAnswer(std::string_view answer);

// True when the answer holds anything other than telnet commands and white space.
bool HasVisibleText(std::string_view answer);

} // namespace lanvex
