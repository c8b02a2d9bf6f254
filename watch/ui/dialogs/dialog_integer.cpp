// Reading the integer typed into a dialog edit, as the dialogs' checks see it.
#include "watch/ui/dialogs/dialog_integer.h"

#include <limits>

namespace
{
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

bool ParseDialogInteger(std::string_view text, int32_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    const char first = i < text.size() ? text[i] : '\0';

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    {
        digits = true;
        if (magnitude <= kLimit)
            magnitude = magnitude * 10 + (text[i] - '0');
        ++i;
    }
    int64_t number = 0;
    if (digits)
        number = negative ? -magnitude : magnitude;

    if (number == 0 && first != '0')
        return false;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i != text.size())
        return false;

    if (number > std::numeric_limits<int32_t>::max())
        number = std::numeric_limits<int32_t>::max();
    if (number < std::numeric_limits<int32_t>::min())
        number = std::numeric_limits<int32_t>::min();
    value = static_cast<int32_t>(number);
    return true;
}
