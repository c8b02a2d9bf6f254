// HRESULT values and helpers exactly as Windows defines them, plus the runtime's last-error text.
#pragma once

#include "platform/com/wintypes.h"

#include <string>

constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}
constexpr WORD HRESULT_CODE(HRESULT hr)
{
    return static_cast<WORD>(hr & 0xFFFF);
}
constexpr WORD HRESULT_FACILITY(HRESULT hr)
{
    return static_cast<WORD>((hr >> 16) & 0x1FFF);
}

#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_STORAGE 3
#define FACILITY_ITF 4
#define FACILITY_WIN32 7

constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code)
{
    return static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) |
                                (static_cast<uint32_t>(fac) << 16) | static_cast<uint32_t>(code));
}

constexpr HRESULT HRESULT_FROM_WIN32(LONG x)
{
    return x <= 0 ? static_cast<HRESULT>(x)
                  : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFF) |
                                         (FACILITY_WIN32 << 16) | 0x80000000u);
}

constexpr HRESULT ComrtHr(uint32_t v)
{
    return static_cast<HRESULT>(v);
}

// Win32 error codes (the registry functions return these, as on Windows).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_LOCK_VIOLATION = 33;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_BUSY = 170;
constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
constexpr LONG ERROR_KEY_DELETED = 1018;

// Generic results.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = ComrtHr(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = ComrtHr(0x80004001);
constexpr HRESULT E_NOINTERFACE = ComrtHr(0x80004002);
constexpr HRESULT E_POINTER = ComrtHr(0x80004003);
constexpr HRESULT E_ABORT = ComrtHr(0x80004004);
constexpr HRESULT E_FAIL = ComrtHr(0x80004005);
constexpr HRESULT E_ACCESSDENIED = ComrtHr(0x80070005);
constexpr HRESULT E_HANDLE = ComrtHr(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = ComrtHr(0x8007000E);
constexpr HRESULT E_INVALIDARG = ComrtHr(0x80070057);

// Class objects, registration database, activation.
constexpr HRESULT CLASS_E_NOAGGREGATION = ComrtHr(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = ComrtHr(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = ComrtHr(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = ComrtHr(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = ComrtHr(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = ComrtHr(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = ComrtHr(0x80040154);
constexpr HRESULT SELFREG_E_TYPELIB = ComrtHr(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = ComrtHr(0x80040201);
constexpr HRESULT CO_E_NOTINITIALIZED = ComrtHr(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = ComrtHr(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = ComrtHr(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = ComrtHr(0x800401F9);
constexpr HRESULT RPC_E_CHANGED_MODE = ComrtHr(0x80010106);

// Automation.
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = ComrtHr(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = ComrtHr(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = ComrtHr(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = ComrtHr(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = ComrtHr(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = ComrtHr(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = ComrtHr(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = ComrtHr(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = ComrtHr(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = ComrtHr(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = ComrtHr(0x8002000C);
constexpr HRESULT DISP_E_BADPARAMCOUNT = ComrtHr(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = ComrtHr(0x8002000F);
constexpr HRESULT DISP_E_BADCALLEE = ComrtHr(0x80020010);

// Type libraries.
constexpr HRESULT TYPE_E_INVDATAREAD = ComrtHr(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = ComrtHr(0x80028019);
constexpr HRESULT TYPE_E_REGISTRYACCESS = ComrtHr(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = ComrtHr(0x8002801D);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = ComrtHr(0x8002802B);
constexpr HRESULT TYPE_E_IOERROR = ComrtHr(0x80028CA2);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = ComrtHr(0x80029C4A);

// A short English text for a result code ("Class not registered"); "Unknown error 0x..." otherwise.
std::string HResultText(HRESULT hr);
// The result as the registry and the tools print it: "0x80004005".
std::string HResultHex(HRESULT hr);

// The runtime keeps a human-readable detail for its last failure on this thread (a damaged hive's
// line, a module's loader message). Failing runtime calls set it; successful ones leave it.
std::string ComrtLastErrorText();
void ComrtSetLastErrorText(std::string text);
void ComrtClearLastErrorText();
