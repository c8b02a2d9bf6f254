// Type library descriptions: the shorthands for their members and their validation.
#include "platform/com/typelib_model.h"

#include <set>

namespace
{
std::string Fold(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool BadText(const std::string& s)
{
    if (s.size() > kTypeLibMaxString)
        return true;
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20)
            return true;
    return false;
}

HRESULT Invalid(const std::string& why)
{
    ComrtSetLastErrorText("type library: " + why);
    return E_INVALIDARG;
}

HRESULT ValidateInterface(const TypeLibInterfaceDesc& itf)
{
    if (itf.Name.empty() || BadText(itf.Name) || BadText(itf.HelpString) || BadText(itf.BaseName))
        return Invalid("interface without a proper name");
    if (itf.Iid == GUID_NULL)
        return Invalid("interface " + itf.Name + " has no IID");
    if (itf.Funcs.size() > kTypeLibMaxItems)
        return Invalid("interface " + itf.Name + " has too many functions");
    SHORT firstSlot = itf.BaseIid == IID_IDispatch ? 7 : 3;
    std::set<std::pair<std::string, int>> namesAndKinds;
    std::set<SHORT> slots;
    for (const TypeLibFuncDesc& f : itf.Funcs)
    {
        std::string where = itf.Name + "." + f.Name;
        if (f.Name.empty() || BadText(f.Name) || BadText(f.HelpString))
            return Invalid("function without a proper name in " + itf.Name);
        if (f.Kind != INVOKE_FUNC && f.Kind != INVOKE_PROPERTYGET && f.Kind != INVOKE_PROPERTYPUT &&
            f.Kind != INVOKE_PROPERTYPUTREF)
            return Invalid(where + ": unknown invoke kind");
        if (f.Slot < firstSlot || f.Slot >= kTypeLibMaxSlot)
            return Invalid(where + ": slot " + std::to_string(f.Slot) + " out of range");
        if (!slots.insert(f.Slot).second)
            return Invalid(where + ": slot " + std::to_string(f.Slot) + " used twice");
        if (!namesAndKinds.insert({Fold(f.Name), f.Kind}).second)
            return Invalid(where + ": defined twice");
        if (f.ReturnType != VT_HRESULT)
            return Invalid(where + ": must return HRESULT");
        if (f.Params.size() > kTypeLibMaxParams)
            return Invalid(where + ": more than " + std::to_string(kTypeLibMaxParams) +
                           " parameters");
        for (size_t i = 0; i < f.Params.size(); ++i)
        {
            const TypeLibParamDesc& p = f.Params[i];
            if (BadText(p.Name))
                return Invalid(where + ": bad parameter name");
            if (p.Type & ~VT_TYPEMASK)
                return Invalid(where + ": parameter type flags (use PointerLevel for pointers)");
            if (p.PointerLevel > 2)
                return Invalid(where + ": too many pointer levels");
            if ((p.Flags & PARAMFLAG_FRETVAL) && (i + 1 != f.Params.size() || p.PointerLevel == 0))
                return Invalid(where + ": retval must be the last parameter and a pointer");
        }
        for (const TypeLibFuncDesc& other : itf.Funcs)
            if (&other != &f && Fold(other.Name) == Fold(f.Name) && other.Id != f.Id)
                return Invalid(where + ": one name, two DISPIDs");
            else if (&other != &f && other.Id == f.Id && Fold(other.Name) != Fold(f.Name))
                return Invalid(where + ": DISPID shared with " + other.Name);
    }
    return S_OK;
}
} // namespace

TypeLibFuncDesc TypeLibPropGet(std::string name, MEMBERID id, SHORT slot, VARTYPE type,
                               std::string helpString)
{
    TypeLibFuncDesc f;
    f.Name = std::move(name);
    f.Id = id;
    f.Kind = INVOKE_PROPERTYGET;
    f.Slot = slot;
    f.HelpString = std::move(helpString);
    f.Params.push_back(TypeLibParamDesc{"", type, 1, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL});
    return f;
}

TypeLibFuncDesc TypeLibPropPut(std::string name, MEMBERID id, SHORT slot, VARTYPE type,
                               std::string helpString)
{
    TypeLibFuncDesc f;
    f.Name = std::move(name);
    f.Id = id;
    f.Kind = INVOKE_PROPERTYPUT;
    f.Slot = slot;
    f.HelpString = std::move(helpString);
    f.Params.push_back(TypeLibParamDesc{"", type, 0, PARAMFLAG_FIN});
    return f;
}

TypeLibFuncDesc TypeLibMethod(std::string name, MEMBERID id, SHORT slot, std::string helpString,
                              std::vector<TypeLibParamDesc> params)
{
    TypeLibFuncDesc f;
    f.Name = std::move(name);
    f.Id = id;
    f.Kind = INVOKE_FUNC;
    f.Slot = slot;
    f.HelpString = std::move(helpString);
    f.Params = std::move(params);
    return f;
}

HRESULT ValidateTypeLib(const TypeLibDesc& desc)
{
    if (desc.Name.empty() || BadText(desc.Name) || BadText(desc.HelpString) ||
        BadText(desc.HelpFile))
        return Invalid("library without a proper name");
    if (desc.Libid == GUID_NULL)
        return Invalid("library " + desc.Name + " has no LIBID");
    if (desc.Interfaces.size() > kTypeLibMaxItems || desc.Coclasses.size() > kTypeLibMaxItems ||
        desc.Imports.size() > kTypeLibMaxItems)
        return Invalid("too many entries");
    std::set<std::string> names;
    std::set<GUID> guids;
    for (const TypeLibImportDesc& imp : desc.Imports)
        if (BadText(imp.Name))
            return Invalid("bad import name");
    for (const TypeLibInterfaceDesc& itf : desc.Interfaces)
    {
        if (HRESULT hr = ValidateInterface(itf); FAILED(hr))
            return hr;
        if (!names.insert(Fold(itf.Name)).second || !guids.insert(itf.Iid).second)
            return Invalid("interface " + itf.Name + " defined twice");
    }
    for (const TypeLibCoclassDesc& co : desc.Coclasses)
    {
        if (co.Name.empty() || BadText(co.Name) || BadText(co.HelpString))
            return Invalid("coclass without a proper name");
        if (co.Clsid == GUID_NULL)
            return Invalid("coclass " + co.Name + " has no CLSID");
        if (!names.insert(Fold(co.Name)).second || !guids.insert(co.Clsid).second)
            return Invalid("coclass " + co.Name + " defined twice");
        if (co.Interfaces.size() > kTypeLibMaxItems)
            return Invalid("coclass " + co.Name + " lists too many interfaces");
        for (const std::string& name : co.Interfaces)
        {
            bool known = false;
            for (const TypeLibInterfaceDesc& itf : desc.Interfaces)
                known = known || Fold(itf.Name) == Fold(name);
            if (!known)
                return Invalid("coclass " + co.Name + " names unknown interface " + name);
        }
    }
    return S_OK;
}
