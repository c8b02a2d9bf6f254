// A rule's command pattern: a POSIX extended regular expression, bounded so that neither
// compiling nor matching it can take unbounded time or memory.
#pragma once

#include <regex.h>

#include <string>
#include <string_view>

class CAlertPattern
{
  public:
    CAlertPattern() = default;
    ~CAlertPattern();
    CAlertPattern(const CAlertPattern&) = delete;
    CAlertPattern& operator=(const CAlertPattern&) = delete;
    CAlertPattern(CAlertPattern&& other) noexcept;
    CAlertPattern& operator=(CAlertPattern&& other) noexcept;

    // Why the pattern is refused (too long, back-references, counted repetitions that multiply
    // past a limit, or what the regular-expression compiler said), or empty when it compiles.
    // An empty pattern matches every command; a refused one none.
    std::string Compile(std::string_view pattern);
    bool Matches(std::string_view text) const;

  private:
    void Free();

    regex_t m_regex{};
    bool m_compiled = false;
    bool m_matchAll = false; // compiled from an empty pattern; a refused one matches nothing
};
