// Activation of in-process servers: CoGetClassObject, CoCreateInstance, CoFreeUnusedLibraries,
// ProgIDs.
#pragma once

#include "platform/com/unknown.h"

#include <string>

enum CLSCTX : DWORD
{
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL =
        CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
};

// Results, in the order they are checked:
//   ppv null: E_POINTER; no apartment on this thread: CO_E_NOTINITIALIZED;
//   context without CLSCTX_INPROC_SERVER, or no HKCR\CLSID\{clsid}\InprocServer32:
//   REGDB_E_CLASSNOTREG; the hive cannot be read (damaged): REGDB_E_READREGDB; the module does not
//   exist: HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) 0x8007007E; it exists but is not a whole ELF
//   shared object of this machine (e.g. a file cut short), or does not load:
//   HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT) 0x800700C1; it lacks DllGetClassObject:
//   HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) 0x8007007F; otherwise whatever the server answers.
//   ComrtLastErrorText() then tells the details.
// The module stays loaded until it has been idle (DllCanUnloadNow at S_OK) for the unload delay.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// Asks every loaded server module's DllCanUnloadNow. The first S_OK starts the module's idle time
// (any S_FALSE or activation through it ends it); a module idle for dwUnloadDelay milliseconds is
// unloaded. INFINITE means the default, kComrtUnloadDelayMs; 0 unloads an idle module at once,
// which is safe only when no other thread can still be running in it. CoFreeUnusedLibraries uses
// the default. When the last apartment of the process is left, idle modules are unloaded at once.
constexpr DWORD kComrtUnloadDelayMs = 10 * 60 * 1000;
void CoFreeUnusedLibraries();
void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);

// HKCR\<ProgID>\CLSID, else through HKCR\<ProgID>\CurVer; CO_E_CLASSSTRING when neither leads to
// a CLSID (REGDB_E_READREGDB for a damaged hive).
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// HKCR\CLSID\{clsid}\ProgID; REGDB_E_CLASSNOTREG when absent. Free the text with CoTaskMemFree.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// Server module exports, as looked up by the runtime and by comreg.
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)();
typedef HRESULT(STDAPICALLTYPE* LPFNREGISTERSERVER)();

// Our own: the full path of the loaded module (shared library or executable) holding the given
// address, e.g. ComrtModulePath(reinterpret_cast<const void*>(&DllRegisterServer)); "" if unknown.
// This is what a server writes as its InprocServer32 path.
std::string ComrtModulePath(const void* addressInModule);
// Our own: how many server modules the runtime holds loaded (for tests and diagnostics).
size_t ComrtLoadedModuleCount();
// Our own: what the last CoUninitialize of the process does. Idle modules are unloaded at once,
// unless a thread has entered an apartment meanwhile (it may already be returning from a last
// Release into a module); the count is read under the modules' lock, which activation needs.
void ComrtFreeIdleModulesIfNoApartment();
