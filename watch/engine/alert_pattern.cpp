// A rule's command pattern: a POSIX extended regular expression, bounded so that neither
// compiling nor matching it can take unbounded time or memory.
#include "watch/engine/alert_pattern.h"

#include "watch/engine/alert_rules.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace
{
// Counted repetitions are expanded by the compiler: (a{1,100}){1,100} holds 10000 copies.
constexpr long kMaxRepetitionProduct = 1000;

// The product of the upper bounds of every {n}, {n,} and {n,m} in the pattern (an open bound
// counts as its lower one), saturated just past the limit.
long RepetitionProduct(std::string_view pattern)
{
    long product = 1;
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        if (pattern[i] != '{')
            continue;
        long low = 0, high = -1;
        std::size_t k = i + 1;
        bool digits = false;
        for (; k < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[k])); ++k)
            low = std::min(low * 10 + (pattern[k] - '0'), kMaxRepetitionProduct + 1), digits = true;
        if (!digits)
            continue;
        if (k < pattern.size() && pattern[k] == ',')
        {
            ++k;
            if (k < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[k])))
                high = 0;
            for (; k < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[k])); ++k)
                high = std::min(high * 10 + (pattern[k] - '0'), kMaxRepetitionProduct + 1);
        }
        const long bound = std::max({low, high, 1L});
        product = std::min(product * bound, kMaxRepetitionProduct + 1);
    }
    return product;
}
} // namespace

CAlertPattern::~CAlertPattern()
{
    Free();
}

CAlertPattern::CAlertPattern(CAlertPattern&& other) noexcept
    : m_regex(other.m_regex), m_compiled(std::exchange(other.m_compiled, false)),
      m_matchAll(other.m_matchAll)
{
}

CAlertPattern& CAlertPattern::operator=(CAlertPattern&& other) noexcept
{
    if (this != &other)
    {
        Free();
        m_regex = other.m_regex;
        m_compiled = std::exchange(other.m_compiled, false);
        m_matchAll = other.m_matchAll;
    }
    return *this;
}

void CAlertPattern::Free()
{
    if (m_compiled)
        regfree(&m_regex);
    m_compiled = false;
}

std::string CAlertPattern::Compile(std::string_view pattern)
{
    Free();
    m_matchAll = pattern.empty();
    if (pattern.empty())
        return {};
    if (pattern.size() > kMaxAlertPattern)
        return "longer than " + std::to_string(kMaxAlertPattern) + " bytes";
    if (pattern.find('\0') != std::string_view::npos)
        return "holds a zero byte";
    // Back-references make matching exponential; extended expressions do not need them.
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i)
    {
        if (pattern[i] == '\\' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9')
            return "back-references are not allowed";
        if (pattern[i] == '\\')
            ++i;
    }
    if (RepetitionProduct(pattern) > kMaxRepetitionProduct)
        return "counted repetitions multiply past " + std::to_string(kMaxRepetitionProduct);
    const std::string text(pattern);
    const int error = regcomp(&m_regex, text.c_str(), REG_EXTENDED | REG_NOSUB);
    if (error != 0)
    {
        char message[160] = {};
        regerror(error, &m_regex, message, sizeof message);
        return message;
    }
    m_compiled = true;
    return {};
}

bool CAlertPattern::Matches(std::string_view text) const
{
    if (!m_compiled)
        return m_matchAll;
    const std::string terminated(text.substr(0, text.find('\0')));
    return regexec(&m_regex, terminated.c_str(), 0, nullptr, 0) == 0;
}
