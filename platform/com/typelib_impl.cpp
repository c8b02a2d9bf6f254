// ITypeLib and ITypeInfo over a shared type library description.
#include "platform/com/typelib_impl.h"

#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/conversion.h"

#include <new>

namespace
{
std::string Fold(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

HRESULT SetText(BSTR* out, const std::string& text, bool nullWhenEmpty = false)
{
    if (!out)
        return S_OK;
    *out = nullptr;
    if (nullWhenEmpty && text.empty())
        return S_OK;
    *out = BstrFromNarrow(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

TYPEDESC ChainFor(VARTYPE type, BYTE levels, std::deque<TYPEDESC>& nodes)
{
    TYPEDESC td{};
    td.vt = type;
    for (BYTE i = 0; i < levels; ++i)
    {
        nodes.push_back(td);
        TYPEDESC outer{};
        outer.vt = VT_PTR;
        outer.lptdesc = &nodes.back();
        td = outer;
    }
    return td;
}

void FillInterface(const TypeLibInterfaceDesc& itf, TypeLibTypeData& t)
{
    TYPEATTR& a = t.Attr;
    a.guid = itf.Iid;
    a.typekind = TKIND_INTERFACE;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.cFuncs = static_cast<WORD>(itf.Funcs.size());
    a.cImplTypes = 1;
    a.cbAlignment = sizeof(void*);
    a.wTypeFlags = itf.Flags;
    a.wMajorVerNum = itf.MajorVersion;
    a.wMinorVerNum = itf.MinorVersion;
    SHORT slots = itf.BaseIid == IID_IDispatch ? 7 : 3;
    for (const TypeLibFuncDesc& f : itf.Funcs)
    {
        if (f.Slot + 1 > slots)
            slots = static_cast<SHORT>(f.Slot + 1);
        auto fd = std::make_unique<TypeLibFuncData>();
        fd->Desc.memid = f.Id;
        fd->Desc.funckind = FUNC_PUREVIRTUAL;
        fd->Desc.invkind = f.Kind;
        fd->Desc.callconv = CC_STDCALL;
        fd->Desc.cParams = static_cast<SHORT>(f.Params.size());
        fd->Desc.oVft = static_cast<SHORT>(f.Slot * sizeof(void*));
        fd->Desc.elemdescFunc.tdesc.vt = f.ReturnType;
        for (const TypeLibParamDesc& p : f.Params)
        {
            ELEMDESC e{};
            e.tdesc = ChainFor(p.Type, p.PointerLevel, fd->Nodes);
            e.paramdesc.wParamFlags = p.Flags;
            if (p.Flags & PARAMFLAG_FOPT)
                ++fd->Desc.cParamsOpt;
            fd->Params.push_back(e);
        }
        fd->Desc.lprgelemdescParam = fd->Params.empty() ? nullptr : fd->Params.data();
        t.Funcs.push_back(std::move(fd));
    }
    a.cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
}
} // namespace

std::shared_ptr<const TypeLibData> MakeTypeLibData(TypeLibDesc desc)
{
    auto data = std::make_shared<TypeLibData>();
    data->Desc = std::move(desc);
    const TypeLibDesc& d = data->Desc;
    data->Attr = TLIBATTR{d.Libid, d.Lcid, d.SysKind, d.MajorVersion, d.MinorVersion, d.Flags};
    data->Types.resize(d.Interfaces.size() + d.Coclasses.size());
    for (size_t i = 0; i < d.Interfaces.size(); ++i)
        FillInterface(d.Interfaces[i], data->Types[i]);
    for (size_t i = 0; i < d.Coclasses.size(); ++i)
    {
        TYPEATTR& a = data->Types[d.Interfaces.size() + i].Attr;
        a.guid = d.Coclasses[i].Clsid;
        a.typekind = TKIND_COCLASS;
        a.memidConstructor = MEMBERID_NIL;
        a.memidDestructor = MEMBERID_NIL;
        a.cImplTypes = static_cast<WORD>(d.Coclasses[i].Interfaces.size());
        a.cbAlignment = sizeof(void*);
        a.wTypeFlags = d.Coclasses[i].Flags;
    }
    return data;
}

// ---- CTypeLib ----

HRESULT CTypeLib::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib)
    {
        *ppv = static_cast<ITypeLib*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTypeLib::Release()
{
    ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

UINT CTypeLib::GetTypeInfoCount()
{
    return static_cast<UINT>(m_data->Types.size());
}

HRESULT CTypeLib::GetTypeInfo(UINT index, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= m_data->Types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = new (std::nothrow) CTypeInfo(m_data, index);
    return *ppTInfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTypeLib::GetTypeInfoType(UINT index, TYPEKIND* pTKind)
{
    if (!pTKind)
        return E_INVALIDARG;
    if (index >= m_data->Types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = m_data->Types[index].Attr.typekind;
    return S_OK;
}

HRESULT CTypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo)
{
    if (!ppTinfo)
        return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (size_t i = 0; i < m_data->Types.size(); ++i)
        if (m_data->Types[i].Attr.guid == guid)
            return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CTypeLib::GetLibAttr(TLIBATTR** ppTLibAttr)
{
    if (!ppTLibAttr)
        return E_INVALIDARG;
    *ppTLibAttr = const_cast<TLIBATTR*>(&m_data->Attr);
    return S_OK;
}

HRESULT CTypeLib::GetTypeComp(ITypeComp** ppTComp)
{
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT CTypeLib::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                   DWORD* pdwHelpContext, BSTR* pBstrHelpFile)
{
    const TypeLibDesc& d = m_data->Desc;
    if (index == -1)
    {
        if (pdwHelpContext)
            *pdwHelpContext = 0;
        HRESULT hr = SetText(pBstrName, d.Name);
        if (SUCCEEDED(hr))
            hr = SetText(pBstrDocString, d.HelpString);
        if (SUCCEEDED(hr))
            hr = SetText(pBstrHelpFile, d.HelpFile, true);
        return hr;
    }
    if (index < 0 || static_cast<size_t>(index) >= m_data->Types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetTypeInfo(static_cast<UINT>(index), &info);
    if (FAILED(hr))
        return hr;
    hr = info->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString, pdwHelpContext,
                                pBstrHelpFile);
    info->Release();
    return hr;
}

HRESULT CTypeLib::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName)
{
    if (!szNameBuf || !pfName)
        return E_INVALIDARG;
    std::string name = Fold(WideToNarrow(szNameBuf));
    *pfName = FALSE;
    for (const TypeLibInterfaceDesc& itf : m_data->Desc.Interfaces)
    {
        if (Fold(itf.Name) == name)
            *pfName = TRUE;
        for (const TypeLibFuncDesc& f : itf.Funcs)
            if (Fold(f.Name) == name)
                *pfName = TRUE;
    }
    for (const TypeLibCoclassDesc& co : m_data->Desc.Coclasses)
        if (Fold(co.Name) == name)
            *pfName = TRUE;
    return S_OK;
}

HRESULT CTypeLib::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                           USHORT* pcFound)
{
    if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
        return E_INVALIDARG;
    std::string name = Fold(WideToNarrow(szNameBuf));
    USHORT found = 0;
    const TypeLibDesc& d = m_data->Desc;
    for (size_t i = 0; i < d.Interfaces.size() && found < *pcFound; ++i)
        for (const TypeLibFuncDesc& f : d.Interfaces[i].Funcs)
            if (Fold(f.Name) == name)
            {
                if (FAILED(GetTypeInfo(static_cast<UINT>(i), &ppTInfo[found])))
                    break;
                rgMemId[found++] = f.Id;
                break;
            }
    *pcFound = found;
    return S_OK;
}

// ---- CTypeInfo ----

HRESULT CTypeInfo::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo)
    {
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTypeInfo::Release()
{
    ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CTypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr)
{
    if (!ppTypeAttr)
        return E_INVALIDARG;
    *ppTypeAttr = const_cast<TYPEATTR*>(&m_data->Types[m_index].Attr);
    return S_OK;
}

HRESULT CTypeInfo::GetTypeComp(ITypeComp** ppTComp)
{
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT CTypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc)
{
    if (!ppFuncDesc)
        return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    const auto& funcs = m_data->Types[m_index].Funcs;
    if (index >= funcs.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = const_cast<FUNCDESC*>(&funcs[index]->Desc);
    return S_OK;
}

HRESULT CTypeInfo::GetVarDesc(UINT, VARDESC** ppVarDesc)
{
    if (ppVarDesc)
        *ppVarDesc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND; // no variables in these libraries
}

HRESULT CTypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames)
{
    if (!rgBstrNames || !pcNames)
        return E_INVALIDARG;
    *pcNames = 0;
    if (!IsInterface())
        return TYPE_E_ELEMENTNOTFOUND;
    for (const TypeLibFuncDesc& f : Interface().Funcs)
    {
        if (f.Id != memid)
            continue;
        std::vector<std::string> names{f.Name};
        for (const TypeLibParamDesc& p : f.Params)
        {
            if (p.Name.empty())
                break;
            names.push_back(p.Name);
        }
        UINT n = 0;
        for (; n < names.size() && n < cMaxNames; ++n)
            if (FAILED(SetText(&rgBstrNames[n], names[n])))
            {
                while (n > 0)
                    SysFreeString(rgBstrNames[--n]);
                return E_OUTOFMEMORY;
            }
        *pcNames = n;
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CTypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType)
{
    if (!pRefType)
        return E_INVALIDARG;
    if (IsInterface() || index >= Coclass().Interfaces.size())
        return TYPE_E_ELEMENTNOTFOUND; // the base interfaces (stdole) are not modelled
    const std::string name = Fold(Coclass().Interfaces[index]);
    const auto& itfs = m_data->Desc.Interfaces;
    for (size_t i = 0; i < itfs.size(); ++i)
        if (Fold(itfs[i].Name) == name)
        {
            *pRefType = static_cast<HREFTYPE>(i);
            return S_OK;
        }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CTypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags)
{
    if (!pImplTypeFlags)
        return E_INVALIDARG;
    if (IsInterface())
    {
        *pImplTypeFlags = 0;
        return index == 0 ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    if (index >= Coclass().Interfaces.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = index == 0 ? IMPLTYPEFLAG_FDEFAULT : 0;
    return S_OK;
}

HRESULT CTypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId)
{
    if (!rgszNames || !pMemId)
        return E_INVALIDARG;
    if (cNames == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        pMemId[i] = MEMBERID_NIL;
    if (!IsInterface() || !rgszNames[0])
        return DISP_E_UNKNOWNNAME;
    std::string member = Fold(WideToNarrow(rgszNames[0]));
    // The member's parameters come from its method or property-get form first.
    const TypeLibFuncDesc* match = nullptr;
    for (const TypeLibFuncDesc& f : Interface().Funcs)
        if (Fold(f.Name) == member &&
            (!match || match->Kind == INVOKE_PROPERTYPUT || match->Kind == INVOKE_PROPERTYPUTREF))
            match = &f;
    if (!match)
        return DISP_E_UNKNOWNNAME;
    pMemId[0] = match->Id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i)
    {
        std::string param = rgszNames[i] ? Fold(WideToNarrow(rgszNames[i])) : std::string();
        for (size_t k = 0; k < match->Params.size(); ++k)
            if (!param.empty() && Fold(match->Params[k].Name) == param)
                pMemId[i] = static_cast<MEMBERID>(k);
        if (pMemId[i] == MEMBERID_NIL)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CTypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                          VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (!IsInterface())
        return TYPE_E_ELEMENTNOTFOUND;
    return InvokeFromDesc(Interface(), pvInstance, memid, wFlags, pDispParams, pVarResult,
                          pExcepInfo, puArgErr);
}

HRESULT CTypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                    DWORD* pdwHelpContext, BSTR* pBstrHelpFile)
{
    std::string name, help;
    if (memid == MEMBERID_NIL)
    {
        name = IsInterface() ? Interface().Name : Coclass().Name;
        help = IsInterface() ? Interface().HelpString : Coclass().HelpString;
    }
    else
    {
        bool found = false;
        if (IsInterface())
            for (const TypeLibFuncDesc& f : Interface().Funcs)
                if (f.Id == memid && !found)
                {
                    name = f.Name;
                    help = f.HelpString;
                    found = true;
                }
        if (!found)
            return TYPE_E_ELEMENTNOTFOUND;
    }
    if (pdwHelpContext)
        *pdwHelpContext = 0;
    HRESULT hr = SetText(pBstrName, name);
    if (SUCCEEDED(hr))
        hr = SetText(pBstrDocString, help);
    if (SUCCEEDED(hr))
        hr = SetText(pBstrHelpFile, m_data->Desc.HelpFile, true);
    return hr;
}

HRESULT CTypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (hRefType >= m_data->Desc.Interfaces.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = new (std::nothrow) CTypeInfo(m_data, hRefType);
    return *ppTInfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTypeInfo::CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj)
{
    if (!ppvObj)
        return E_INVALIDARG;
    *ppvObj = nullptr;
    if (IsInterface())
        return TYPE_E_ELEMENTNOTFOUND; // only a coclass can be created
    return CoCreateInstance(Coclass().Clsid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

HRESULT CTypeInfo::GetMops(MEMBERID, BSTR* pBstrMops)
{
    if (pBstrMops)
        *pBstrMops = nullptr;
    return S_OK;
}

HRESULT CTypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex)
{
    if (!ppTLib)
        return E_INVALIDARG;
    *ppTLib = new (std::nothrow) CTypeLib(m_data);
    if (!*ppTLib)
        return E_OUTOFMEMORY;
    if (pIndex)
        *pIndex = static_cast<UINT>(m_index);
    return S_OK;
}
