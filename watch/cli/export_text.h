// Texts for other programs: UTF-8 cut on a character boundary and Prometheus label values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// ValidUtf8 and JsonString are shared with the file formats.
#include "watch/ui/files/table_text.h"

// At most maxBytes of the text, never ending inside a character.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

// A label value of the exposition formats, quotes excluded: backslash, double quote and line
// feed escaped.
std::string LabelValue(std::string_view text);
