// Texts for other programs: valid UTF-8, JSON strings and Prometheus label values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text with every byte that is not part of a well-formed UTF-8 character replaced by
// U+FFFD (a process's command line is bytes; JSON and Prometheus want UTF-8).
std::string ValidUtf8(std::string_view text);

// At most maxBytes of the text, never ending inside a character.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

// A JSON string, quotes included.
std::string JsonString(std::string_view text);

// A label value of the exposition formats, quotes excluded: backslash, double quote and line
// feed escaped.
std::string LabelValue(std::string_view text);
