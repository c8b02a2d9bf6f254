// A text property of a component: read back as a fresh copy, written as a copy of the caller's.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

#include <string>

namespace lanvex
{

class CTextProperty
{
  public:
    // A new copy for the caller; an unset text reads as an empty one, never as null.
    HRESULT Get(BSTR* pVal) const;
    // Stores a copy of newVal (null: the empty text).
    HRESULT Put(BSTR newVal);
    // Stores a copy of text (the component's own edits, such as a dialog's).
    HRESULT Assign(std::u16string_view text);

    // The text in the narrow encoding, with any embedded zero characters kept.
    std::string Narrow() const;
    std::u16string_view View() const;

  private:
    CComBSTR m_text;
};

} // namespace lanvex
