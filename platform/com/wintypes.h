// Windows base types and calling macros, so component code reads as it would on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int8_t SCHAR;
typedef int16_t VARIANT_BOOL;
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef DWORD LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef uint16_t VARTYPE;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu // a wait or delay without end (or, for unloading, the default)
#endif

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

// The platform's calling convention has no meaning on this ABI; kept so declarations match.
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

// Symbols a server module exports to the runtime (DllGetClassObject and friends).
#define COMRT_EXPORT __attribute__((visibility("default")))
#define STDAPI extern "C" COMRT_EXPORT HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" COMRT_EXPORT type STDAPICALLTYPE

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_NEUTRAL 0x0000

// Only x86-64 and AArch64 have been checked against the interface binary rules
// (single inheritance, no virtual destructor: slot n is vtable entry n).
#if !defined(__x86_64__) && !defined(__aarch64__)
#error "comrt: the interface binary rules are only checked on x86-64 and AArch64"
#endif
