// UTF-16 <-> UTF-8 conversion (invalid input becomes U+FFFD) and character-safe bounded copies.
#include "platform/com/conversion.h"

#include "platform/com/bstr.h"
#include "platform/com/text_helpers.h"

#include <cstring>

namespace
{
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
        out.push_back(static_cast<char>(c));
    else if (c < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else if (c < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000)
        out.push_back(static_cast<char16_t>(c));
    else
    {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Decodes one UTF-8 character at text[i]; advances i by at least one byte.
char32_t DecodeUtf8(std::string_view text, size_t& i)
{
    auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = b(i);
    if (lead < 0x80)
    {
        ++i;
        return lead;
    }
    size_t need;
    char32_t c, min;
    if ((lead & 0xE0) == 0xC0)
        need = 1, c = lead & 0x1F, min = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        need = 2, c = lead & 0x0F, min = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        need = 3, c = lead & 0x07, min = 0x10000;
    else
    {
        ++i;
        return kReplacement;
    }
    if (i + need >= text.size())
    {
        // Truncated sequence: consume the lead only.
        ++i;
        return kReplacement;
    }
    for (size_t k = 1; k <= need; ++k)
    {
        if ((b(i + k) & 0xC0) != 0x80)
        {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    {
        ++i;
        return kReplacement;
    }
    i += need + 1;
    return c;
}
} // namespace

std::string WideToNarrow(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = kReplacement;
        AppendUtf8(out, c);
    }
    return out;
}

std::string WideToNarrow(const OLECHAR* text)
{
    return text ? WideToNarrow(std::u16string_view(text)) : std::string();
}

std::u16string NarrowToWide(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        AppendUtf16(out, DecodeUtf8(text, i));
    return out;
}

std::string NarrowFromBstr(BSTR text)
{
    return WideToNarrow(BstrView(text));
}

BSTR BstrFromNarrow(std::string_view text)
{
    std::u16string wide = NarrowToWide(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    size_t cut = maxBytes;
    // A cut is a boundary when the byte after it starts a character; a sequence is at most 4
    // bytes, so look back at most 3 (stray continuation bytes are no character to keep whole).
    for (int steps = 0;
         cut > 0 && steps < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++steps)
        --cut;
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        return maxBytes;
    return cut;
}

size_t CopyNarrowBounded(char* dest, size_t destSize, std::string_view src)
{
    if (!dest || destSize == 0)
        return 0;
    size_t n = Utf8PrefixLength(src, destSize - 1);
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
    return n;
}

size_t CopyWideToNarrowBounded(char* dest, size_t destSize, std::u16string_view src)
{
    return CopyNarrowBounded(dest, destSize, WideToNarrow(src));
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR, BOOL* lpUsedDefaultChar)
{
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    if (!lpWideCharStr || cchWideChar < -1 || cbMultiByte < 0)
        return 0;
    size_t n = cchWideChar == -1 ? std::u16string_view(lpWideCharStr).size() + 1
                                 : static_cast<size_t>(cchWideChar);
    std::string out = WideToNarrow(std::u16string_view(lpWideCharStr, n));
    if (out.size() > 0x7FFFFFFF)
        return 0;
    if (cbMultiByte == 0)
        return static_cast<int>(out.size());
    if (!lpMultiByteStr || out.size() > static_cast<size_t>(cbMultiByte))
        return 0;
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar)
{
    if (!lpMultiByteStr || cbMultiByte < -1 || cchWideChar < 0)
        return 0;
    size_t n =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::u16string out = NarrowToWide(std::string_view(lpMultiByteStr, n));
    if (out.size() > 0x7FFFFFFF)
        return 0;
    if (cchWideChar == 0)
        return static_cast<int>(out.size());
    if (!lpWideCharStr || out.size() > static_cast<size_t>(cchWideChar))
        return 0;
    std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
    return static_cast<int>(out.size());
}
