// Bounded copies into fixed-width text fields.
#include "watch/engine/text_field.h"

#include <cstring>

std::size_t Utf8FitLength(std::string_view text, std::size_t capacity)
{
    if (text.size() <= capacity)
        return text.size();
    // Step back from the cut over continuation bytes to the start of the character it splits.
    std::size_t cut = capacity;
    std::size_t back = cut;
    while (back > 0 && (static_cast<unsigned char>(text[back]) & 0xC0) == 0x80 && cut - back < 3)
        --back;
    if (back == cut)
        return cut; // the cut falls on a character start
    const unsigned char lead = static_cast<unsigned char>(text[back]);
    std::size_t seqLen = 1;
    if ((lead & 0xE0) == 0xC0)
        seqLen = 2;
    else if ((lead & 0xF0) == 0xE0)
        seqLen = 3;
    else if ((lead & 0xF8) == 0xF0)
        seqLen = 4;
    // Only a genuine multi-byte sequence that crosses the cut is dropped whole.
    if (seqLen > 1 && back + seqLen > cut)
        return back;
    return cut;
}

void CopyToField(char* field, std::size_t width, std::string_view text)
{
    if (width == 0)
        return;
    const std::size_t n = Utf8FitLength(text, width - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}
