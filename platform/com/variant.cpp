// VARIANT init, clear, copy and the coercions automation needs (integers, reals, BOOL, BSTR).
#include "platform/com/variant.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/unknown.h"
#include "platform/com/variant_text.h"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

using namespace comrt_variant;

namespace
{

bool IsInteger(VARTYPE vt)
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
        return true;
    default:
        return false;
    }
}

// The by-value types a variant may hold here (also what BYREF may point to).
bool IsSupportedValueType(VARTYPE vt)
{
    return vt == VT_EMPTY || vt == VT_NULL || vt == VT_BOOL || vt == VT_BSTR || vt == VT_ERROR ||
           vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_R4 || vt == VT_R8 || IsInteger(vt);
}

bool IsSupported(VARTYPE vt)
{
    if (vt & VT_BYREF)
    {
        VARTYPE base = vt & ~VT_BYREF;
        return base == VT_VARIANT ||
               (IsSupportedValueType(base) && base != VT_EMPTY && base != VT_NULL);
    }
    return IsSupportedValueType(vt);
}

bool ReadInteger(const VARIANT& v, Wide* out)
{
    switch (v.vt)
    {
    case VT_I1:
        *out = static_cast<int8_t>(v.cVal);
        return true;
    case VT_UI1:
        *out = v.bVal;
        return true;
    case VT_I2:
        *out = v.iVal;
        return true;
    case VT_UI2:
        *out = v.uiVal;
        return true;
    case VT_I4:
        *out = v.lVal;
        return true;
    case VT_UI4:
        *out = v.ulVal;
        return true;
    case VT_INT:
        *out = v.intVal;
        return true;
    case VT_UINT:
        *out = v.uintVal;
        return true;
    case VT_I8:
        *out = v.llVal;
        return true;
    case VT_UI8:
        *out = static_cast<ULONGLONG>(v.llVal);
        return true;
    default:
        return false;
    }
}

bool InRange(Wide x, VARTYPE vt)
{
    switch (vt)
    {
    case VT_I1:
        return x >= INT8_MIN && x <= INT8_MAX;
    case VT_UI1:
        return x >= 0 && x <= UINT8_MAX;
    case VT_I2:
        return x >= INT16_MIN && x <= INT16_MAX;
    case VT_UI2:
        return x >= 0 && x <= UINT16_MAX;
    case VT_I4:
    case VT_INT:
        return x >= INT32_MIN && x <= INT32_MAX;
    case VT_UI4:
    case VT_UINT:
        return x >= 0 && x <= UINT32_MAX;
    case VT_I8:
        return x >= INT64_MIN && x <= INT64_MAX;
    case VT_UI8:
        return x >= 0 && x <= static_cast<Wide>(UINT64_MAX);
    default:
        return false;
    }
}

void WriteInteger(VARIANT* v, Wide x, VARTYPE vt)
{
    v->vt = vt;
    v->llVal = 0;
    switch (vt)
    {
    case VT_I1:
        v->cVal = static_cast<CHAR>(x);
        break;
    case VT_UI1:
        v->bVal = static_cast<BYTE>(x);
        break;
    case VT_I2:
        v->iVal = static_cast<SHORT>(x);
        break;
    case VT_UI2:
        v->uiVal = static_cast<USHORT>(x);
        break;
    case VT_I4:
        v->lVal = static_cast<LONG>(x);
        break;
    case VT_UI4:
        v->ulVal = static_cast<ULONG>(x);
        break;
    case VT_INT:
        v->intVal = static_cast<INT>(x);
        break;
    case VT_UINT:
        v->uintVal = static_cast<UINT>(x);
        break;
    case VT_I8:
        v->llVal = static_cast<LONGLONG>(x);
        break;
    case VT_UI8:
        v->llVal = static_cast<LONGLONG>(static_cast<ULONGLONG>(x));
        break;
    default:
        break;
    }
}

bool IsReal(VARTYPE vt)
{
    return vt == VT_R4 || vt == VT_R8;
}

double RealOf(const VARIANT& v)
{
    return v.vt == VT_R4 ? v.fltVal : v.dblVal;
}

// Rounds half to even, as automation's coercions do; NaN and values beyond every integer type
// are an overflow.
HRESULT RoundToInteger(double d, Wide* out)
{
    double r = std::nearbyint(d);
    if (!std::isfinite(r) || std::fabs(r) > 1.8e19)
        return DISP_E_OVERFLOW;
    *out = static_cast<Wide>(r);
    return S_OK;
}

// The value a variant holds, following one BYREF level (a shallow view: owns nothing).
HRESULT Dereference(const VARIANT* src, VARIANT* view)
{
    *view = *src;
    if (!(src->vt & VT_BYREF))
        return S_OK;
    if (!src->byref)
        return E_INVALIDARG;
    VARTYPE base = src->vt & ~VT_BYREF;
    view->vt = base;
    view->llVal = 0;
    switch (base)
    {
    case VT_VARIANT:
        if (src->pvarVal->vt & VT_BYREF)
            return DISP_E_BADVARTYPE; // a reference to a reference is not valid automation data
        *view = *src->pvarVal;
        return S_OK;
    case VT_I1:
    case VT_UI1:
        view->bVal = *src->pbVal;
        return S_OK;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        view->iVal = *src->piVal;
        return S_OK;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
        view->lVal = *src->plVal;
        return S_OK;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
        std::memcpy(&view->llVal, src->byref, sizeof(LONGLONG));
        return S_OK;
    case VT_BSTR:
        view->bstrVal = *src->pbstrVal;
        return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        view->punkVal = *src->ppunkVal;
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}
} // namespace

void VariantInit(VARIANTARG* pvarg)
{
    if (!pvarg)
        return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    if (!IsSupported(pvarg->vt))
        return DISP_E_BADVARTYPE;
    if (pvarg->vt == VT_BSTR)
        SysFreeString(pvarg->bstrVal);
    else if ((pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) && pvarg->punkVal)
        pvarg->punkVal->Release();
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (!IsSupported(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if (copy.vt == VT_BSTR && copy.bstrVal)
    {
        copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    }
    else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal)
        copy.punkVal->AddRef();
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
    {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc)
{
    if (!pvarDest || !pvargSrc)
        return E_INVALIDARG;
    if (!IsSupported(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT view;
    HRESULT hr = Dereference(pvargSrc, &view);
    if (FAILED(hr))
        return hr;
    if (pvarDest == pvargSrc)
    {
        // The view shares the source's text or reference: take a copy before clearing.
        VARIANT temp;
        VariantInit(&temp);
        hr = VariantCopy(&temp, &view);
        if (FAILED(hr))
            return hr;
        *pvarDest = temp;
        return S_OK;
    }
    return VariantCopy(pvarDest, &view);
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt)
{
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    if (!IsSupported(pvarSrc->vt) || !IsSupported(vt) || (vt & VT_BYREF))
        return DISP_E_BADVARTYPE;
    VARIANT src;
    HRESULT hr = Dereference(pvarSrc, &src);
    if (FAILED(hr))
        return hr;

    VARIANT result;
    VariantInit(&result);
    if (src.vt == vt)
    {
        hr = VariantCopy(&result, &src);
        if (FAILED(hr))
            return hr;
    }
    else if (IsInteger(vt) || vt == VT_BOOL)
    {
        Wide x = 0;
        if (src.vt == VT_EMPTY)
            x = 0;
        else if (src.vt == VT_BOOL)
            x = src.boolVal ? -1 : 0;
        else if (ReadInteger(src, &x))
        {
        }
        else if (IsReal(src.vt) && vt == VT_BOOL)
            x = RealOf(src) != 0.0 ? -1 : 0;
        else if (IsReal(src.vt))
        {
            if (HRESULT rounded = RoundToInteger(RealOf(src), &x); FAILED(rounded))
                return rounded;
        }
        else if (src.vt == VT_BSTR)
        {
            std::string text = Trimmed(src.bstrVal);
            if (vt == VT_BOOL && EqualsNoCase(text, "true"))
                x = -1;
            else if (vt == VT_BOOL && EqualsNoCase(text, "false"))
                x = 0;
            else if (HRESULT parsed = ParseInteger(text, &x); FAILED(parsed))
                return parsed;
        }
        else
            return DISP_E_TYPEMISMATCH;

        if (vt == VT_BOOL)
        {
            result.vt = VT_BOOL;
            result.boolVal = x != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        }
        else
        {
            if (!InRange(x, vt))
                return DISP_E_OVERFLOW;
            WriteInteger(&result, x, vt);
        }
    }
    else if (vt == VT_BSTR)
    {
        std::string text;
        Wide x = 0;
        if (src.vt == VT_EMPTY)
            text.clear();
        else if (src.vt == VT_BOOL)
            text = (wFlags & VARIANT_ALPHABOOL) ? (src.boolVal ? "True" : "False")
                                                : (src.boolVal ? "-1" : "0");
        else if (ReadInteger(src, &x))
            text = FormatInteger(x);
        else if (IsReal(src.vt))
            text = FormatReal(src);
        else
            return DISP_E_TYPEMISMATCH;
        result.vt = VT_BSTR;
        result.bstrVal = BstrFromNarrow(text);
        if (!result.bstrVal)
            return E_OUTOFMEMORY;
    }
    else if (IsReal(vt))
    {
        double d = 0;
        Wide x = 0;
        if (src.vt == VT_EMPTY)
            d = 0;
        else if (src.vt == VT_BOOL)
            d = src.boolVal ? -1 : 0;
        else if (ReadInteger(src, &x))
            d = static_cast<double>(x);
        else if (IsReal(src.vt))
            d = RealOf(src);
        else if (src.vt == VT_BSTR)
        {
            if (HRESULT parsed = ParseReal(Trimmed(src.bstrVal), &d); FAILED(parsed))
                return parsed;
        }
        else
            return DISP_E_TYPEMISMATCH;
        result.vt = vt;
        if (vt == VT_R8)
            result.dblVal = d;
        else if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
            return DISP_E_OVERFLOW;
        else
            result.fltVal = static_cast<float>(d);
    }
    else if (vt == VT_EMPTY)
        result.vt = VT_EMPTY;
    else if (vt == VT_UNKNOWN && src.vt == VT_DISPATCH)
    {
        result.vt = VT_UNKNOWN;
        result.punkVal = src.pdispVal;
        if (result.punkVal)
            result.punkVal->AddRef();
    }
    else
        return DISP_E_TYPEMISMATCH;

    hr = VariantClear(pvargDest);
    if (FAILED(hr))
    {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID, USHORT wFlags,
                            VARTYPE vt)
{
    return VariantChangeType(pvargDest, pvarSrc, wFlags, vt);
}
