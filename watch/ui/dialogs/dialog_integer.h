// Reading the integer typed into a dialog edit, as the dialogs' checks see it.
#pragma once

#include <cstdint>
#include <string_view>

// Reads optional blanks or tabs, a decimal number with an optional sign, and optional blanks or
// tabs. Anything else after the number, an empty text, or a text that yields 0 without its first
// non-blank character being the digit 0 is not an integer and returns false. Numbers beyond the
// 32-bit range saturate, so the caller's range check refuses them instead of seeing a wrapped
// value.
bool ParseDialogInteger(std::string_view text, int32_t& value);
