// Bounded copies into fixed-width text fields.
#pragma once

#include <cstddef>
#include <string_view>

// Length of the longest prefix of text that fits in capacity bytes without cutting a UTF-8
// sequence in two. Bytes that are not valid UTF-8 count as single characters.
std::size_t Utf8FitLength(std::string_view text, std::size_t capacity);

// Copies text into a field of width bytes: at most width-1 bytes, cut on a character boundary,
// then a terminator; the rest of the field is zero-filled so no stale bytes reach a file.
void CopyToField(char* field, std::size_t width, std::string_view text);

template <std::size_t N> void CopyToField(char (&field)[N], std::string_view text)
{
    CopyToField(field, N, text);
}
