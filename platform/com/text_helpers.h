// Small text helpers shared by the runtime and the components: a BSTR's characters, ASCII blanks.
#pragma once

#include "platform/com/ascii.h"
#include "platform/com/bstr.h"

#include <optional>
#include <string>
#include <string_view>

// A BSTR's characters; a null BSTR is the empty text.
inline std::u16string_view BstrView(BSTR text)
{
    return text != nullptr ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

// A set text through convert (WideToNarrow, or lanvex's WideToWireText); an unset (null) text
// has none, which properties tell apart from an empty one.
inline std::optional<std::string> TextIfSet(BSTR text, std::string (*convert)(std::u16string_view))
{
    if (text == nullptr)
        return std::nullopt;
    return convert(BstrView(text));
}
