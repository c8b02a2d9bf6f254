// ASCII character classes that do not ask the locale; header-only, so that the Qt-free and
// runtime-free layers can share them.
#pragma once

// The blanks of the C locale's isspace: blank, tab, LF, VT, FF, CR.
constexpr bool IsAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
