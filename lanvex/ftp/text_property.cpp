// A text property of a component: read back as a fresh copy, written as a copy of the caller's.
#include "lanvex/ftp/text_property.h"

#include "lanvex/net/sessions/component_property.h"

#include "platform/com/conversion.h"
#include "platform/com/text_helpers.h"

namespace lanvex
{

HRESULT CTextProperty::Get(BSTR* pVal) const
{
    return GetTextProperty(m_text, pVal);
}

HRESULT CTextProperty::Put(BSTR newVal)
{
    return Assign(BstrView(newVal));
}

HRESULT CTextProperty::Assign(std::u16string_view text)
{
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    m_text.Attach(copy);
    return S_OK;
}

std::string CTextProperty::Narrow() const
{
    return WideToNarrow(View());
}

std::u16string_view CTextProperty::View() const
{
    return std::u16string_view(m_text.m_str != nullptr ? m_text.m_str : u"", m_text.Length());
}

} // namespace lanvex
