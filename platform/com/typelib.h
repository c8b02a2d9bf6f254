// Type libraries: ITypeLib / ITypeInfo with Windows slots and structures, loading and registration,
// and generic dispatch (ITypeInfo::Invoke, DispInvoke, DispGetIDsOfNames).
//
// Where a type library lives. A .tlb file holds the serialized form of typelib_model.h (magic
// "CMTL", versioned, little-endian). A server module carries its library inside itself by
// exporting `ComrtGetTypeLib` (see COMRT_EMBED_TYPELIB in typelib_model.h), which hands out the
// same bytes. LoadTypeLib(path) accepts either: a file starting with the magic is read as a .tlb,
// anything else is dlopen'ed and asked through that export.
#pragma once

#include "platform/com/unknown.h"

struct ITypeLib;
struct ITypeComp;
struct ARRAYDESC;
struct VARDESC;

typedef DWORD HREFTYPE;

enum SYSKIND
{
    SYS_WIN16 = 0,
    SYS_WIN32 = 1,
    SYS_MAC = 2,
    SYS_WIN64 = 3,
};

enum TYPEKIND
{
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX,
};

enum INVOKEKIND
{
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};

enum FUNCKIND
{
    FUNC_VIRTUAL = 0,
    FUNC_PUREVIRTUAL = 1,
    FUNC_NONVIRTUAL = 2,
    FUNC_STATIC = 3,
    FUNC_DISPATCH = 4,
};

enum CALLCONV
{
    CC_FASTCALL = 0,
    CC_CDECL = 1,
    CC_PASCAL = 2,
    CC_STDCALL = 4,
};

enum REGKIND
{
    REGKIND_DEFAULT = 0,
    REGKIND_REGISTER = 1,
    REGKIND_NONE = 2,
};

#define PARAMFLAG_NONE 0x00
#define PARAMFLAG_FIN 0x01
#define PARAMFLAG_FOUT 0x02
#define PARAMFLAG_FLCID 0x04
#define PARAMFLAG_FRETVAL 0x08
#define PARAMFLAG_FOPT 0x10
#define PARAMFLAG_FHASDEFAULT 0x20

#define TYPEFLAG_FAPPOBJECT 0x0001
#define TYPEFLAG_FCANCREATE 0x0002
#define TYPEFLAG_FLICENSED 0x0004
#define TYPEFLAG_FPREDECLID 0x0008
#define TYPEFLAG_FHIDDEN 0x0010
#define TYPEFLAG_FCONTROL 0x0020
#define TYPEFLAG_FDUAL 0x0040
#define TYPEFLAG_FNONEXTENSIBLE 0x0080
#define TYPEFLAG_FOLEAUTOMATION 0x0100
#define TYPEFLAG_FRESTRICTED 0x0200
#define TYPEFLAG_FAGGREGATABLE 0x0400
#define TYPEFLAG_FREPLACEABLE 0x0800
#define TYPEFLAG_FDISPATCHABLE 0x1000

#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2
#define IMPLTYPEFLAG_FRESTRICTED 0x4

#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define LIBFLAG_FHASDISKIMAGE 0x8

// VT_PTR chains: a parameter of type BSTR* is { VT_PTR, lptdesc -> { VT_BSTR } }.
struct TYPEDESC
{
    union
    {
        TYPEDESC* lptdesc;
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};

struct PARAMDESCEX;
struct PARAMDESC
{
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};

struct IDLDESC
{
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};

struct ELEMDESC
{
    TYPEDESC tdesc;
    union
    {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct FUNCDESC
{
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft; // byte offset of the vtable slot: slot * sizeof(void*)
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct TYPEATTR
{
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft; // bytes of the vtable, including the inherited slots
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};

struct TLIBATTR
{
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

// Interfaces: the operations this runtime does not model (type compositions, variables, DLL
// entries, member addresses) answer E_NOTIMPL.
struct ITypeInfo : public IUnknown
{
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) = 0;             // 3
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;               // 4
    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) = 0; // 5
    STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) = 0;    // 6
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                        UINT* pcNames) = 0;                                           // 7
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) = 0;              // 8
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) = 0;                 // 9
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0; // 10
    STDMETHOD(Invoke)
    (PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
     EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0; // 11
    STDMETHOD(GetDocumentation)
    (MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
     BSTR* pBstrHelpFile) = 0; // 12
    STDMETHOD(GetDllEntry)
    (MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
     WORD* pwOrdinal) = 0;                                                          // 13
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;          // 14
    STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) = 0; // 15
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) = 0; // 16
    STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) = 0;                        // 17
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) = 0;           // 18
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) = 0;                     // 19
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) = 0;                     // 20
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) = 0;                        // 21

  protected:
    ~ITypeInfo() = default;
};
typedef ITypeInfo* LPTYPEINFO;

struct ITypeLib : public IUnknown
{
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;                            // 3
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) = 0;         // 4
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) = 0;        // 5
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) = 0; // 6
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) = 0;                    // 7
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;                     // 8
    // index -1 documents the library itself.
    STDMETHOD(GetDocumentation)
    (INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
     BSTR* pBstrHelpFile) = 0;                                               // 9
    STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0; // 10
    STDMETHOD(FindName)
    (LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
     USHORT* pcFound) = 0;                                      // 11
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) = 0; // 12

  protected:
    ~ITypeLib() = default;
};
typedef ITypeLib* LPTYPELIB;

// Loads a .tlb file or a server module's embedded library. File missing or unloadable:
// TYPE_E_CANTLOADLIBRARY; bytes that are not a valid library: TYPE_E_INVDATAREAD or
// TYPE_E_UNSUPFORMAT (ComrtLastErrorText() tells why).
HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
// Loads the library registered under HKCR\TypeLib\{LIBID}\<major>.<minor>\<lcid>\win32 (the
// highest registered minor version >= wVerMinor with the same major; lcid, then 0).
// Not registered: TYPE_E_LIBNOTREGISTERED; registered path does not load: TYPE_E_CANTLOADLIBRARY.
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, BSTR* lpbstrPathName);
// Writes, in one registry transaction:
//   HKCR\TypeLib\{LIBID}\<maj>.<min>         default = library help string
//   ...\<maj>.<min>\<lcid>\win32             default = szFullPath
//   ...\<maj>.<min>\FLAGS                    default = library flags in decimal ("0")
//   ...\<maj>.<min>\HELPDIR                  default = szHelpDir (or "")
//   HKCR\Interface\{IID}                     default = interface name (each dual/oleautomation one)
//   ...\ProxyStubClsid, ProxyStubClsid32     default = {00020424-0000-0000-C000-000000000046}
//   ...\TypeLib                              default = {LIBID}, "Version" = "<maj>.<min>"
// Version numbers are written in hex, as Windows does.
HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// Removes what RegisterTypeLib wrote for that version and locale; empty parent keys go too.
// Not registered: TYPE_E_LIBNOTREGISTERED.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind);

// Generic dispatch over a type description (the Windows helpers): a component's IDispatch can
// forward to these. DispInvoke calls ptinfo->Invoke(_this, ...). See dispatch_impl.h.
//
// ITypeInfo::GetIDsOfNames: the first name is a member (case-insensitive), the others that
// member's parameters (their DISPID is the parameter's index); unknown: DISP_E_UNKNOWNNAME with
// DISPID_UNKNOWN in those places.
// ITypeInfo::Invoke calls vtable slot oVft/sizeof(void*) of pvInstance with the arguments coerced
// to the parameter types:
//   - DISPATCH_PROPERTYPUT picks the put function and wants its one named argument to be
//     DISPID_PROPERTYPUT (a put without it is accepted too); other named arguments:
//     DISP_E_NONAMEDARGS. DISPATCH_METHOD / DISPATCH_PROPERTYGET pick a method or a get.
//     No such member: DISP_E_MEMBERNOTFOUND.
//   - too many or too few arguments (optional ones may be left out): DISP_E_BADPARAMCOUNT;
//     VT_ERROR/DISP_E_PARAMNOTFOUND for a required one: DISP_E_PARAMNOTOPTIONAL;
//     an argument that does not coerce: DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW, *puArgErr = its
//     index in rgvarg; a parameter type dispatch cannot pass (e.g. char**): DISP_E_BADVARTYPE.
//   - a pointer parameter takes a BYREF argument of the same type as it stands, or a copy of a
//     by-value argument; the retval parameter's value lands in pVarResult (VT_EMPTY otherwise).
//   - the member's failure: DISP_E_EXCEPTION with pExcepInfo->scode = the failure and source and
//     description from the thread's error object if one was set (the bare failure when pExcepInfo
//     is null). A success result (S_OK, S_FALSE) is returned as the member gave it.
HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid);
HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                   DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr);

#include "platform/com/typelib_model.h"
