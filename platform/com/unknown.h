// The core interfaces in Windows slot order: IUnknown, IClassFactory, IDispatch and the
// error-object interfaces. Abstract classes, no virtual destructor, so slot n is vtable entry n.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/variant.h"
#include "platform/com/wintypes.h"

struct ITypeInfo;

constexpr IID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
constexpr IID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");
constexpr IID IID_IDispatch = MakeGuid("{00020400-0000-0000-C000-000000000046}");
constexpr IID IID_ITypeInfo = MakeGuid("{00020401-0000-0000-C000-000000000046}");
constexpr IID IID_ITypeLib = MakeGuid("{00020402-0000-0000-C000-000000000046}");
constexpr IID IID_IErrorInfo = MakeGuid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
constexpr IID IID_ICreateErrorInfo = MakeGuid("{22F03340-547D-101B-8E65-08002B2BD119}");
constexpr IID IID_ISupportErrorInfo = MakeGuid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
// The standard automation library (stdole2) and its universal proxy class.
constexpr GUID LIBID_stdole = MakeGuid("{00020430-0000-0000-C000-000000000046}");
constexpr CLSID CLSID_PSOAInterface = MakeGuid("{00020424-0000-0000-C000-000000000046}");

struct IUnknown
{
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0; // slot 0
    STDMETHOD_(ULONG, AddRef)() = 0;                              // slot 1
    STDMETHOD_(ULONG, Release)() = 0;                             // slot 2

  protected:
    ~IUnknown() = default; // objects are destroyed by Release, never through the interface
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown
{
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0; // slot 3
    STDMETHOD(LockServer)(BOOL fLock) = 0;                                             // slot 4

  protected:
    ~IClassFactory() = default;
};
typedef IClassFactory* LPCLASSFACTORY;

// Dispatch identifiers and invoke flags.
#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)
#define DISPID_CONSTRUCTOR (-6)
#define DISPID_DESTRUCTOR (-7)
#define MEMBERID_NIL DISPID_UNKNOWN
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// Arguments of IDispatch::Invoke: rgvarg is in reverse order (rgvarg[cArgs-1] is the first).
struct DISPPARAMS
{
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO
{
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};
typedef EXCEPINFO* LPEXCEPINFO;

struct IDispatch : public IUnknown
{
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;                          // slot 3
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0; // slot 4
    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
     DISPID* rgDispId) = 0; // slot 5
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
     UINT* puArgErr) = 0; // slot 6

  protected:
    ~IDispatch() = default;
};
typedef IDispatch* LPDISPATCH;

struct IErrorInfo : public IUnknown
{
    STDMETHOD(GetGUID)(GUID* pGUID) = 0;                   // slot 3
    STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;           // slot 4
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0; // slot 5
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;       // slot 6
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;  // slot 7

  protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : public IUnknown
{
    STDMETHOD(SetGUID)(REFGUID rguid) = 0;                 // slot 3
    STDMETHOD(SetSource)(LPOLESTR szSource) = 0;           // slot 4
    STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0; // slot 5
    STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;       // slot 6
    STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;    // slot 7

  protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : public IUnknown
{
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0; // slot 3

  protected:
    ~ISupportErrorInfo() = default;
};
