// VARIANT: the automation subset (EMPTY, integers, R4, R8, BOOL, BSTR, ERROR, DISPATCH, UNKNOWN,
// BYREF of these) with init, clear, copy and coercion.
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

#include <cstddef>

struct IUnknown;
struct IDispatch;

enum VARENUM : VARTYPE
{
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT
{
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union
    {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        double dblVal;
        float fltVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        INT* pintVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        PVOID byref;
        struct
        {
            PVOID pvRecord;
            PVOID pRecInfo;
        } brecVal; // sizes the union as on 64-bit Windows
    };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;
static_assert(sizeof(VARIANT) == 24 && offsetof(VARIANT, lVal) == 8,
              "VARIANT layout as on 64-bit Windows");

// Accessor macros as in the Windows headers.
#define V_VT(X) ((X)->vt)
#define V_I2(X) ((X)->iVal)
#define V_I4(X) ((X)->lVal)
#define V_R4(X) ((X)->fltVal)
#define V_R8(X) ((X)->dblVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_BSTR(X) ((X)->bstrVal)
#define V_ERROR(X) ((X)->scode)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_BYREF(X) ((X)->byref)
#define V_I2REF(X) ((X)->piVal)
#define V_I4REF(X) ((X)->plVal)
#define V_BOOLREF(X) ((X)->pboolVal)
#define V_BSTRREF(X) ((X)->pbstrVal)
#define V_VARIANTREF(X) ((X)->pvarVal)

// VariantChangeType flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02 // BOOL -> BSTR gives "True"/"False" instead of "-1"/"0"
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (BSTR, interface reference) and leaves it VT_EMPTY. BYREF variants
// own nothing. An unsupported type: DISP_E_BADVARTYPE, the variant is left as it was.
HRESULT VariantClear(VARIANTARG* pvarg);
// Clears dest, then copies src (a fresh BSTR, an added reference). dest == src is a no-op.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// As VariantCopy, but a BYREF source is copied as the value it points to.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Coerces src (BYREF is followed) to vt into dest; dest may equal src. Between EMPTY, I1, UI1, I2,
// UI2, I4, UI4, INT, UINT, I8, UI8, R4, R8, BOOL, BSTR: decimal text, "True"/"False" for BOOL,
// reals rounded half to even into integers and written as the shortest text that reads back the
// same, range checked (DISP_E_OVERFLOW). Anything else, or unparsable text: DISP_E_TYPEMISMATCH.
// On failure dest is left unchanged.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt);
