// The in-memory type library model a server describes itself with, its .tlb byte form, and the
// export through which a server module carries it.
#pragma once

#include "platform/com/typelib.h"

#include <string>
#include <vector>

// A parameter: its type is Type with PointerLevel levels of VT_PTR around it, so a BSTR* retval
// is { VT_BSTR, 1 }, a SHORT* is { VT_I2, 1 } and a char** is { VT_I1, 2 }.
struct TypeLibParamDesc
{
    std::string Name; // may be empty (a property-put value carries no name)
    VARTYPE Type = VT_EMPTY;
    BYTE PointerLevel = 0;
    USHORT Flags = PARAMFLAG_NONE; // PARAMFLAG_FIN / FOUT / FRETVAL / FOPT
};

struct TypeLibFuncDesc
{
    std::string Name;
    MEMBERID Id = 0; // the DISPID; a get/put pair shares one
    INVOKEKIND Kind = INVOKE_FUNC;
    SHORT Slot = 0; // vtable slot: 7 is the first after IUnknown and IDispatch
    std::string HelpString;
    std::vector<TypeLibParamDesc> Params;
    VARTYPE ReturnType = VT_HRESULT;
};

struct TypeLibInterfaceDesc
{
    std::string Name;
    IID Iid = GUID_NULL;
    std::string HelpString;
    WORD Flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    WORD MajorVersion = 0;
    WORD MinorVersion = 0;
    std::string BaseName = "IDispatch";
    IID BaseIid = IID_IDispatch;
    std::vector<TypeLibFuncDesc> Funcs;
};

struct TypeLibCoclassDesc
{
    std::string Name;
    CLSID Clsid = GUID_NULL;
    std::string HelpString;
    WORD Flags = TYPEFLAG_FCANCREATE;
    std::vector<std::string> Interfaces; // names of this library's interfaces; the first is default
};

// A library this one refers to (e.g. stdole for IDispatch).
struct TypeLibImportDesc
{
    std::string Name;
    GUID Libid = GUID_NULL;
    WORD MajorVersion = 0;
    WORD MinorVersion = 0;
};

struct TypeLibDesc
{
    std::string Name;
    GUID Libid = GUID_NULL;
    WORD MajorVersion = 1;
    WORD MinorVersion = 0;
    LCID Lcid = 0;
    SYSKIND SysKind = SYS_WIN32;
    WORD Flags = 0; // LIBFLAG_*
    std::string HelpString;
    std::string HelpFile;
    std::vector<TypeLibImportDesc> Imports;
    std::vector<TypeLibInterfaceDesc> Interfaces;
    std::vector<TypeLibCoclassDesc> Coclasses;
};

// Shorthands for the usual shapes of dual-interface members.
//   property get: one parameter { "", Type, 1, FOUT|FRETVAL }
//   property put: one parameter { "", Type, 0, FIN }
//   method: the given parameters as they stand
TypeLibFuncDesc TypeLibPropGet(std::string name, MEMBERID id, SHORT slot, VARTYPE type,
                               std::string helpString);
TypeLibFuncDesc TypeLibPropPut(std::string name, MEMBERID id, SHORT slot, VARTYPE type,
                               std::string helpString);
TypeLibFuncDesc TypeLibMethod(std::string name, MEMBERID id, SHORT slot, std::string helpString,
                              std::vector<TypeLibParamDesc> params = {});

// Limits that keep a library (and the reader of outside bytes) bounded.
constexpr size_t kTypeLibMaxItems = 4096;   // interfaces, coclasses, functions per interface
constexpr size_t kTypeLibMaxParams = 8;     // parameters per function (the dispatch call cap)
constexpr size_t kTypeLibMaxString = 65536; // bytes per name or help string
constexpr SHORT kTypeLibMaxSlot = 1024;

// Checks what dispatch relies on: names present and unique per interface and kind, slots in
// [7, kTypeLibMaxSlot) for interfaces based on IDispatch (>= 3 on IUnknown), parameter counts
// within the cap, retval only last, coclass interfaces known. E_INVALIDARG with
// ComrtLastErrorText() telling the first fault.
HRESULT ValidateTypeLib(const TypeLibDesc& desc);

// The .tlb byte form: a 16-byte header ("CMTL", format version, payload size, checksum) followed
// by the payload (little-endian integers, strings as u32 length + UTF-8 bytes).
std::vector<BYTE> SerializeTypeLib(const TypeLibDesc& desc);
// Reads outside bytes: never reads past size, bounds every count, validates the result.
// Not a library: TYPE_E_INVDATAREAD; a newer format version: TYPE_E_UNSUPFORMAT.
HRESULT ParseTypeLib(const BYTE* data, size_t size, TypeLibDesc* out);
// Writes the .tlb atomically (temporary file + rename). TYPE_E_IOERROR on failure.
HRESULT WriteTypeLibFile(const TypeLibDesc& desc, const std::string& path);
// An ITypeLib over a description (validated first: E_INVALIDARG if it does not hold).
HRESULT CreateTypeLibFromDesc(const TypeLibDesc& desc, ITypeLib** pptlib);
// The description behind an ITypeLib made by this runtime (E_INVALIDARG for a foreign object).
HRESULT GetTypeLibDesc(ITypeLib* ptlib, TypeLibDesc* out);

// The export by which a server module carries its library: it hands out the serialized bytes,
// which stay valid while the module is loaded.
#define COMRT_TYPELIB_EXPORT "ComrtGetTypeLib"
typedef HRESULT(STDAPICALLTYPE* LPFNGETTYPELIB)(const BYTE** ppData, DWORD* pcbData);

// In a server source file: COMRT_EMBED_TYPELIB(MakeMyTypeLibDesc) where MakeMyTypeLibDesc() returns
// a TypeLibDesc. Defines the export above over bytes serialized once, on first use.
#define COMRT_EMBED_TYPELIB(makeDesc)                                                              \
    STDAPI ComrtGetTypeLib(const BYTE** ppData, DWORD* pcbData)                                    \
    {                                                                                              \
        if (!ppData || !pcbData)                                                                   \
            return E_POINTER;                                                                      \
        static const std::vector<BYTE> s_bytes = SerializeTypeLib(makeDesc());                     \
        *ppData = s_bytes.data();                                                                  \
        *pcbData = static_cast<DWORD>(s_bytes.size());                                             \
        return S_OK;                                                                               \
    }
