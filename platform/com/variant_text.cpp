// Numbers read from and written as text for the variant coercions.
#include "platform/com/variant_text.h"

#include "platform/com/conversion.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace comrt_variant
{

// Decimal or exponent text with an optional sign; infinities and NaN are not numbers here.
HRESULT ParseReal(const std::string& s, double* out)
{
    const char* begin = s.data();
    const char* end = begin + s.size();
    if (begin != end && *begin == '+')
        ++begin;
    if (begin != end && *begin == '-' && begin != s.data())
        return DISP_E_TYPEMISMATCH; // "+-1": one sign only
    auto [ptr, ec] = std::from_chars(begin, end, *out);
    if (ec == std::errc::result_out_of_range)
        return DISP_E_OVERFLOW;
    if (ec != std::errc() || ptr != end || !std::isfinite(*out))
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

// The shortest text that reads back as the same value.
std::string FormatReal(const VARIANT& v)
{
    char text[64];
    auto [ptr, ec] = v.vt == VT_R4 ? std::to_chars(text, text + sizeof text, v.fltVal)
                                   : std::to_chars(text, text + sizeof text, v.dblVal);
    return ec == std::errc() ? std::string(text, ptr) : std::string();
}

std::string Trimmed(BSTR text)
{
    std::string s = NarrowFromBstr(text);
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Decimal text with an optional sign. Too many digits is an overflow, not a mismatch.
HRESULT ParseInteger(const std::string& s, Wide* out)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i == s.size())
        return DISP_E_TYPEMISMATCH;
    Wide value = 0;
    bool overflow = false;
    for (; i < s.size(); ++i)
    {
        if (s[i] < '0' || s[i] > '9')
            return DISP_E_TYPEMISMATCH;
        if (!overflow)
        {
            value = value * 10 + (s[i] - '0');
            if (value > static_cast<Wide>(UINT64_MAX))
                overflow = true;
        }
    }
    if (overflow)
        return DISP_E_OVERFLOW;
    *out = negative ? -value : value;
    return S_OK;
}

std::string FormatInteger(Wide x)
{
    if (x == 0)
        return "0";
    bool negative = x < 0;
    std::string digits;
    while (x != 0)
    {
        int d = static_cast<int>(x % 10);
        digits.push_back(static_cast<char>('0' + (d < 0 ? -d : d)));
        x /= 10;
    }
    if (negative)
        digits.push_back('-');
    return std::string(digits.rbegin(), digits.rend());
}

} // namespace comrt_variant
