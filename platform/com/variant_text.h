// The text side of the variant coercions: numbers read from and written as text, shared by
// VariantChangeType's cases.
#pragma once

#include "platform/com/variant.h"

#include <string>

namespace comrt_variant
{

typedef __int128 Wide; // holds every value of every integer type we coerce between

// Decimal or exponent text with an optional sign; infinities and NaN are not numbers here.
HRESULT ParseReal(const std::string& s, double* out);
// The shortest text that reads back as the same value (VT_R4 or VT_R8).
std::string FormatReal(const VARIANT& v);
// The text without its leading and trailing blanks and tabs.
std::string Trimmed(BSTR text);
bool EqualsNoCase(const std::string& a, const char* b);
// Decimal text with an optional sign. Too many digits is an overflow, not a mismatch.
HRESULT ParseInteger(const std::string& s, Wide* out);
std::string FormatInteger(Wide x);

} // namespace comrt_variant
