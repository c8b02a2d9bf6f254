// Generic dispatch: argument checking and coercion by the type description, then the vtable call.
#include "platform/com/typelib_impl.h"

#include "platform/com/bstr.h"
#include "platform/com/dispatch_call.h"
#include "platform/com/error_info.h"

#include <cstring>

namespace
{
// The types a parameter (or what a one-level pointer parameter points to) may have for dispatch.
bool IsDispatchable(VARTYPE vt)
{
    switch (vt)
    {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_BSTR:
    case VT_ERROR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// Every by-value member of the union starts at its first byte.
void* ValueAddress(VARIANT& v)
{
    return &v.llVal;
}

// Coercion failures keep their meaning for overflow; anything else is a type mismatch.
HRESULT CoercionResult(HRESULT hr)
{
    return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
}

void FillException(EXCEPINFO* info, HRESULT hr)
{
    std::memset(info, 0, sizeof *info);
    info->scode = hr;
    IErrorInfo* error = nullptr;
    if (GetErrorInfo(0, &error) == S_OK && error)
    {
        error->GetSource(&info->bstrSource);
        error->GetDescription(&info->bstrDescription);
        error->GetHelpFile(&info->bstrHelpFile);
        error->GetHelpContext(&info->dwHelpContext);
        error->Release();
    }
}

// Temporaries for one call; cleared on every path out.
struct CallArgs
{
    VARIANT Temps[kDispatchCallMaxArgs];
    VARIANT Retval;
    void* Pointers[kDispatchCallMaxArgs] = {};
    DispatchCallArg Args[kDispatchCallMaxArgs];
    CallArgs()
    {
        for (VARIANT& v : Temps)
            VariantInit(&v);
        VariantInit(&Retval);
    }
    CallArgs(const CallArgs&) = delete;
    CallArgs& operator=(const CallArgs&) = delete;
    ~CallArgs()
    {
        for (VARIANT& v : Temps)
            VariantClear(&v);
        VariantClear(&Retval);
    }
    void SetPointer(size_t i, void* address)
    {
        Pointers[i] = address;
        Args[i] = {VT_PTR, &Pointers[i]};
    }
};

const TypeLibFuncDesc* PickFunction(const TypeLibInterfaceDesc& itf, MEMBERID memid, WORD wFlags)
{
    for (const TypeLibFuncDesc& f : itf.Funcs)
    {
        if (f.Id != memid)
            continue;
        if ((f.Kind == INVOKE_PROPERTYPUT && (wFlags & DISPATCH_PROPERTYPUT)) ||
            (f.Kind == INVOKE_PROPERTYPUTREF && (wFlags & DISPATCH_PROPERTYPUTREF)))
            return &f;
        if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
            continue;
        if ((f.Kind == INVOKE_FUNC && (wFlags & DISPATCH_METHOD)) ||
            (f.Kind == INVOKE_PROPERTYGET && (wFlags & DISPATCH_PROPERTYGET)))
            return &f;
    }
    return nullptr;
}
} // namespace

HRESULT InvokeFromDesc(const TypeLibInterfaceDesc& itf, PVOID pvInstance, MEMBERID memid,
                       WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                       EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (!pvInstance)
        return E_INVALIDARG;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    DISPPARAMS& dp = pDispParams ? *pDispParams : none;
    if ((dp.cArgs && !dp.rgvarg) || (dp.cNamedArgs && !dp.rgdispidNamedArgs) ||
        dp.cNamedArgs > dp.cArgs)
        return E_INVALIDARG;

    const TypeLibFuncDesc* fn = PickFunction(itf, memid, wFlags);
    if (!fn)
        return DISP_E_MEMBERNOTFOUND;
    bool put = fn->Kind == INVOKE_PROPERTYPUT || fn->Kind == INVOKE_PROPERTYPUTREF;
    if (put ? (dp.cNamedArgs > 1 ||
               (dp.cNamedArgs == 1 && dp.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
            : dp.cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;

    const size_t nParams = fn->Params.size();
    if (nParams > kDispatchCallMaxArgs)
        return DISP_E_BADPARAMCOUNT;
    const bool hasRetval = nParams > 0 && (fn->Params.back().Flags & PARAMFLAG_FRETVAL);
    const size_t nFormal = nParams - (hasRetval ? 1 : 0);
    size_t nOptional = 0;
    while (nOptional < nFormal && (fn->Params[nFormal - 1 - nOptional].Flags & PARAMFLAG_FOPT))
        ++nOptional;
    if (dp.cArgs > nFormal || dp.cArgs < nFormal - nOptional)
        return DISP_E_BADPARAMCOUNT;

    CallArgs call;
    for (size_t i = 0; i < nParams; ++i)
    {
        const TypeLibParamDesc& p = fn->Params[i];
        if (hasRetval && i + 1 == nParams)
        {
            if (p.PointerLevel != 1 || (p.Type != VT_VARIANT && !IsDispatchable(p.Type)))
                return DISP_E_BADVARTYPE;
            call.Retval.vt = p.Type == VT_VARIANT ? VARTYPE(VT_EMPTY) : p.Type;
            call.SetPointer(i, p.Type == VT_VARIANT ? &call.Retval : ValueAddress(call.Retval));
            continue;
        }
        UINT argIndex = i < dp.cArgs ? static_cast<UINT>(dp.cArgs - 1 - i) : 0;
        auto fail = [&](HRESULT hr)
        {
            if (puArgErr && i < dp.cArgs)
                *puArgErr = argIndex;
            return hr;
        };
        // A by-value type the call cannot carry (a VARIANT or a date by value) is refused even
        // when omitted: a zero pointer in its place would shift the registers of the rest.
        if (p.PointerLevel == 0 && !IsDispatchable(p.Type))
            return fail(DISP_E_BADVARTYPE);
        // An omitted optional parameter is passed as zero (its temporary is zeroed).
        if (p.PointerLevel == 0)
            call.Args[i] = {p.Type, ValueAddress(call.Temps[i])};
        else
            call.SetPointer(i, nullptr);
        if (i >= dp.cArgs)
            continue;
        VARIANT* arg = &dp.rgvarg[argIndex];
        if (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND)
        {
            if (!(p.Flags & PARAMFLAG_FOPT))
                return fail(DISP_E_PARAMNOTOPTIONAL);
            continue;
        }
        VARIANT& temp = call.Temps[i];
        // The member fills an out-only parameter without freeing what was there: it gets an
        // empty one (a coerced copy of the argument would leak its text or reference).
        const bool outOnly = (p.Flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT)) == PARAMFLAG_FOUT;
        if (p.PointerLevel == 0 && IsDispatchable(p.Type))
        {
            if (HRESULT hr = VariantChangeType(&temp, arg, 0, p.Type); FAILED(hr))
                return fail(CoercionResult(hr));
            call.Args[i] = {p.Type, ValueAddress(temp)};
        }
        else if (p.PointerLevel == 1 && p.Type == VT_VARIANT)
        {
            // VARIANT*: the caller's own variant when passed by reference, else a copy.
            if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal)
                call.SetPointer(i, arg->pvarVal);
            else
            {
                if (HRESULT hr = VariantCopyInd(&temp, arg); FAILED(hr))
                    return fail(CoercionResult(hr));
                if (outOnly)
                    VariantClear(&temp);
                call.SetPointer(i, &temp);
            }
        }
        else if (p.PointerLevel == 1 && IsDispatchable(p.Type))
        {
            // A pointer parameter: the caller's storage when passed by reference with the same
            // type, else a coerced copy (what the member writes there is then not handed back).
            if (arg->vt == (VT_BYREF | p.Type) && arg->byref)
                call.SetPointer(i, arg->byref);
            else
            {
                if (HRESULT hr = VariantChangeType(&temp, arg, 0, p.Type); FAILED(hr))
                    return fail(CoercionResult(hr));
                if (outOnly)
                {
                    VariantClear(&temp);
                    temp.vt = p.Type; // empty, and what the member puts there is freed after
                }
                call.SetPointer(i, ValueAddress(temp));
            }
        }
        else
            return fail(DISP_E_BADVARTYPE); // e.g. char**: not automation data
    }

    HRESULT hr = CallVtableSlot(pvInstance, static_cast<size_t>(fn->Slot), call.Args, nParams);
    if (FAILED(hr))
    {
        if (!pExcepInfo)
            return hr;
        FillException(pExcepInfo, hr);
        return DISP_E_EXCEPTION;
    }
    if (pVarResult)
    {
        VariantInit(pVarResult);
        if (hasRetval)
        {
            *pVarResult = call.Retval; // ownership moves to the caller
            VariantInit(&call.Retval);
        }
    }
    return hr;
}

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid)
{
    if (!ptinfo)
        return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                   DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr)
{
    if (!ptinfo)
        return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}
