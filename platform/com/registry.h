// Windows-style registry functions over the runtime's hive file (HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER).
//
// The hive lives in the file named by the environment variable COMRT_REGISTRY, else in
// $XDG_DATA_HOME/comrt/registry.reg (XDG_DATA_HOME defaults to ~/.local/share). It is stored as
// .reg export text and rewritten atomically (temporary file + rename) under an exclusive lock on
// a side file "<hive>.lock", so concurrent writers in several processes lose nothing. A missing
// file is an empty hive. A damaged file makes every call fail with ERROR_REGISTRY_CORRUPT (the
// file is left as it is; ComrtLastErrorText() tells the line and the reason).
//
// Each function comes in a narrow (UTF-8) and a wide (UTF-16) form, chosen by the type of the
// name arguments; value data of REG_SZ follows the same character type (and, as on Windows,
// includes the terminating zero in its byte count).
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

#include <cstddef>
#include <string>

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

// Access rights are accepted and not enforced (one user owns the hive file).
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

struct FILETIME
{
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

// Narrow forms. A null or empty subkey names the key itself. Names compare case-insensitively.
LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                    REGSAM samDesired, const void* lpSecurityAttributes, PHKEY phkResult,
                    LPDWORD lpdwDisposition);
LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                   DWORD cbData);
// lpData null: reports type and size only. Too small: ERROR_MORE_DATA and the needed size.
LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                     LPBYTE lpData, LPDWORD lpcbData);
// Subkeys in name order; ERROR_NO_MORE_ITEMS past the end. *lpcchName: in the buffer size, out the
// name's length without the zero.
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                  LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                  LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED if it has some, as on Windows).
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey);
// Deletes the subkey and everything under it; with a null subkey, everything under hKey.
LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey);
// The default value of a subkey as text (the old registration API).
LONG RegSetValue(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData);
LONG RegQueryValue(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData);
LONG RegCloseKey(HKEY hKey);

// Wide forms.
LONG RegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                    REGSAM samDesired, const void* lpSecurityAttributes, PHKEY phkResult,
                    LPDWORD lpdwDisposition);
LONG RegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                   DWORD cbData);
LONG RegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                     LPBYTE lpData, LPDWORD lpcbData);
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                  LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegDeleteValue(HKEY hKey, LPCWSTR lpValueName);
LONG RegDeleteKey(HKEY hKey, LPCWSTR lpSubKey);
LONG RegDeleteTree(HKEY hKey, LPCWSTR lpSubKey);

// A literal nullptr name (the key itself, the default value) picks the narrow form.
inline LONG RegOpenKeyEx(HKEY k, std::nullptr_t, DWORD o, REGSAM s, PHKEY r)
{
    return RegOpenKeyEx(k, static_cast<LPCSTR>(nullptr), o, s, r);
}
inline LONG RegSetValueEx(HKEY k, std::nullptr_t, DWORD r, DWORD t, const BYTE* d, DWORD cb)
{
    return RegSetValueEx(k, static_cast<LPCSTR>(nullptr), r, t, d, cb);
}
inline LONG RegQueryValueEx(HKEY k, std::nullptr_t, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD cb)
{
    return RegQueryValueEx(k, static_cast<LPCSTR>(nullptr), r, t, d, cb);
}
inline LONG RegDeleteValue(HKEY k, std::nullptr_t)
{
    return RegDeleteValue(k, static_cast<LPCSTR>(nullptr));
}
inline LONG RegDeleteTree(HKEY k, std::nullptr_t)
{
    return RegDeleteTree(k, static_cast<LPCSTR>(nullptr));
}

// Several changes in one locked transaction: while a CRegTransaction is open on a thread, that
// thread's registry calls work on one in-memory copy of the hive, read under the exclusive lock,
// and Commit writes it back atomically; other writers wait. Without Commit (destruction, Abort)
// nothing is written. Transactions nest on a thread: only the outermost one writes.
//
//   CRegTransaction txn;
//   if (LONG rc = txn.Begin(); rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
//   ... RegCreateKeyEx / RegSetValueEx / RegDeleteTree ...
//   return HRESULT_FROM_WIN32(txn.Commit());
class CRegTransaction
{
  public:
    CRegTransaction();
    ~CRegTransaction();
    CRegTransaction(const CRegTransaction&) = delete;
    CRegTransaction& operator=(const CRegTransaction&) = delete;

    LONG Begin();  // ERROR_REGISTRY_CORRUPT for a damaged hive (then nothing will be written)
    LONG Commit(); // ERROR_CANTWRITE if the file cannot be written; the hive file is then unchanged
    void Abort();

  private:
    bool m_active = false;
};

// Our own: the path of the hive file in use (COMRT_REGISTRY or the XDG default). A hive that is
// a symbolic link is read and rewritten through the link (the link stays); a rewrite keeps an
// existing file's mode, and a new hive is made 0600.
std::string ComrtRegistryPath();
// Our own: how many attempts to change the hive file have failed in this process (the file or its
// lock could not be written, or it was damaged). A caller that runs code which may ignore such a
// failure, such as a server's DllUnregisterServer, compares the count before and after;
// ComrtLastErrorText() tells the reason of the latest.
unsigned long ComrtRegistryWriteFailures();
