// UTF-16 <-> narrow (UTF-8) conversion and bounded copies into fixed fields that never split a
// character.
#pragma once

#include "platform/com/wintypes.h"

#include <string>
#include <string_view>

// Invalid input (a lone surrogate, a malformed UTF-8 sequence) becomes U+FFFD; nothing is dropped
// silently and nothing reads past the input.
std::string WideToNarrow(std::u16string_view text);
std::string WideToNarrow(const OLECHAR* text); // null = empty
std::u16string NarrowToWide(std::string_view text);

// BSTR helpers: NarrowFromBstr(null) is "", BstrFromNarrow returns null only when out of memory.
std::string NarrowFromBstr(BSTR text);
BSTR BstrFromNarrow(std::string_view text);

// Copies as much of src as fits into dest[destSize] with a terminating zero, cutting only at a
// character boundary (a UTF-8 sequence is never split). Returns the bytes copied (without the
// zero). destSize 0 writes nothing.
size_t CopyNarrowBounded(char* dest, size_t destSize, std::string_view src);
// The same from wide text: converts, then cuts at a character boundary.
size_t CopyWideToNarrowBounded(char* dest, size_t destSize, std::u16string_view src);
// The longest prefix of text, at most maxBytes long, that ends on a character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);

// Windows spellings. Code pages CP_ACP, CP_OEMCP and CP_UTF8 all mean UTF-8 here. A length of -1
// means zero-terminated (the zero is converted and counted). A destination too small: returns 0
// (ERROR_INSUFFICIENT_BUFFER), writes no partial character. Size 0 asks for the needed size.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
int WideCharToMultiByte(UINT codePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
