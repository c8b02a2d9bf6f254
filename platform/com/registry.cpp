// The Windows registry functions over the hive file; wide forms convert and call the narrow ones.
#include "platform/com/registry.h"

#include "platform/com/conversion.h"
#include "platform/com/registry_store.h"
#include "platform/com/registry_text.h"
#include "platform/com/registry_values.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

struct HKEY__
{
    RegistryRoot Root;
    std::vector<std::string> Path;
};

using namespace comrt_registry;

namespace
{
std::mutex g_handleLock;
std::unordered_set<HKEY>
    g_handles; // open handles, so a stale or foreign one is refused, not followed

bool Predefined(HKEY h, RegistryRoot* root)
{
    if (h == HKEY_CLASSES_ROOT)
        *root = RegistryRoot::ClassesRoot;
    else if (h == HKEY_CURRENT_USER)
        *root = RegistryRoot::CurrentUser;
    else if (h == HKEY_LOCAL_MACHINE)
        *root = RegistryRoot::LocalMachine;
    else
        return false;
    return true;
}

// The key a handle plus subkey names; ERROR_INVALID_HANDLE / ERROR_INVALID_PARAMETER otherwise.
LONG Resolve(HKEY h, LPCSTR sub, RegistryRoot* root, std::vector<std::string>* path)
{
    path->clear();
    if (!Predefined(h, root))
    {
        std::lock_guard<std::mutex> guard(g_handleLock);
        if (!g_handles.count(h))
            return ERROR_INVALID_HANDLE;
        *root = h->Root;
        *path = h->Path;
    }
    if (sub)
        for (std::string& part : SplitRegistryPath(sub))
        {
            if (!IsValidRegistryKeyName(part))
                return ERROR_INVALID_PARAMETER;
            path->push_back(std::move(part));
        }
    if (path->size() > kRegistryMaxDepth)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

LONG NewHandle(RegistryRoot root, std::vector<std::string> path, PHKEY out)
{
    HKEY h = new (std::nothrow) HKEY__{root, std::move(path)};
    if (!h)
        return ERROR_OUTOFMEMORY;
    std::lock_guard<std::mutex> guard(g_handleLock);
    g_handles.insert(h);
    *out = h;
    return ERROR_SUCCESS;
}

// The key an existing handle names (the handle's key may have been deleted since it was opened).
LONG Existing(const CRegistryHive& hive, RegistryRoot root, const std::vector<std::string>& path,
              bool viaSubkey, CRegistryKey** key)
{
    *key = hive.Find(root, path);
    if (*key)
        return ERROR_SUCCESS;
    return viaSubkey ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

std::string NameOf(LPCSTR name)
{
    return name ? std::string(name) : std::string();
}

LONG OpenKey(HKEY hKey, LPCSTR sub, PHKEY out)
{
    if (!out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, sub, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    LONG rc = RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key;
            return Existing(hive, root, path, sub && *sub, &key);
        });
    return rc == ERROR_SUCCESS ? NewHandle(root, std::move(path), out) : rc;
}

LONG CreateKey(HKEY hKey, LPCSTR sub, PHKEY out, LPDWORD disposition)
{
    if (!out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, sub, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    bool created = false;
    LONG rc = RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            hive.Create(root, path, &created);
            *changed = created;
            return ERROR_SUCCESS;
        });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return NewHandle(root, std::move(path), out);
}

LONG SetValue(HKEY hKey, const std::string& name, DWORD type, const BYTE* data, DWORD cb, bool wide)
{
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, nullptr, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    if (!data && cb)
        return ERROR_INVALID_PARAMETER;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20)
            return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> stored = StoredData(type, data, cb, wide);
    return RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            CRegistryKey* key;
            if (LONG rc = Existing(hive, root, path, false, &key); rc != ERROR_SUCCESS)
                return rc;
            key->SetValue(name, type, stored);
            *changed = true;
            return ERROR_SUCCESS;
        });
}

LONG QueryValue(HKEY hKey, const std::string& name, LPDWORD type, LPBYTE data, LPDWORD cb,
                bool wide)
{
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, nullptr, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    if (data && !cb)
        return ERROR_INVALID_PARAMETER;
    return RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key;
            if (LONG rc = Existing(hive, root, path, false, &key); rc != ERROR_SUCCESS)
                return rc;
            const RegistryValue* v = key->FindValue(name);
            if (!v)
                return ERROR_FILE_NOT_FOUND;
            if (type)
                *type = v->Type;
            return CopyOut(OutputData(*v, wide), data, cb);
        });
}

template <class Char>
LONG EnumKey(HKEY hKey, DWORD index, Char* name, LPDWORD cch, PFILETIME lastWrite)
{
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, nullptr, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    if (lastWrite)
        *lastWrite = FILETIME{0, 0};
    return RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key;
            if (LONG rc = Existing(hive, root, path, false, &key); rc != ERROR_SUCCESS)
                return rc;
            std::vector<const CRegistryKey*> subs = key->Subkeys();
            if (index >= subs.size())
                return ERROR_NO_MORE_ITEMS;
            return CopyName(subs[index]->Name(), name, cch);
        });
}

LONG DeleteValue(HKEY hKey, const std::string& name)
{
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, nullptr, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    return RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            CRegistryKey* key;
            if (LONG rc = Existing(hive, root, path, false, &key); rc != ERROR_SUCCESS)
                return rc;
            *changed = key->DeleteValue(name);
            return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
}

LONG DeleteKey(HKEY hKey, LPCSTR sub, bool tree)
{
    RegistryRoot root;
    std::vector<std::string> base;
    if (LONG rc = Resolve(hKey, nullptr, &root, &base); rc != ERROR_SUCCESS)
        return rc;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, sub, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    bool wholeSelf = path.size() == base.size(); // no subkey named
    if (!tree && wholeSelf)
        return ERROR_ACCESS_DENIED; // RegDeleteKey needs a subkey name
    return RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            CRegistryKey* key = hive.Find(root, path);
            if (!key)
                return wholeSelf ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
            if (!tree && key->SubkeyCount() > 0)
                return ERROR_ACCESS_DENIED;
            if (wholeSelf || path.empty())
                key->Clear(); // RegDeleteTree(h, null) empties the key; a root is never removed
            else
                hive.Remove(root, path);
            *changed = true;
            return ERROR_SUCCESS;
        });
}

} // namespace

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    return OpenKey(hKey, lpSubKey, phkResult);
}

LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, const void*,
                    PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return CreateKey(hKey, lpSubKey, phkResult, lpdwDisposition);
}

LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                   DWORD cbData)
{
    return SetValue(hKey, NameOf(lpValueName), dwType, lpData, cbData, false);
}

LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData)
{
    return QueryValue(hKey, NameOf(lpValueName), lpType, lpData, lpcbData, false);
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                  LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (lpClass && lpcchClass && *lpcchClass)
        lpClass[0] = 0;
    if (lpcchClass)
        *lpcchClass = 0;
    return EnumKey(hKey, dwIndex, lpName, lpcchName, lpftLastWriteTime);
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, nullptr, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    return RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key;
            if (LONG rc = Existing(hive, root, path, false, &key); rc != ERROR_SUCCESS)
                return rc;
            if (dwIndex >= key->Values().size())
                return ERROR_NO_MORE_ITEMS;
            const RegistryValue& v = key->Values()[dwIndex];
            if (LONG rc = CopyName(v.Name, lpValueName, lpcchValueName); rc != ERROR_SUCCESS)
                return rc;
            if (lpType)
                *lpType = v.Type;
            return CopyOut(OutputData(v, false), lpData, lpcbData);
        });
}

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName)
{
    return DeleteValue(hKey, NameOf(lpValueName));
}
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey)
{
    return DeleteKey(hKey, lpSubKey, false);
}
LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey)
{
    return DeleteKey(hKey, lpSubKey, true);
}

LONG RegSetValue(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD)
{
    if (dwType != REG_SZ || !lpData)
        return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    LONG rc = CreateKey(hKey, lpSubKey, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = SetValue(key, std::string(), REG_SZ, reinterpret_cast<const BYTE*>(lpData),
                  static_cast<DWORD>(std::strlen(lpData) + 1), false);
    RegCloseKey(key);
    return rc;
}

LONG RegQueryValue(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData)
{
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    RegistryRoot root;
    std::vector<std::string> path;
    if (LONG rc = Resolve(hKey, lpSubKey, &root, &path); rc != ERROR_SUCCESS)
        return rc;
    std::string text;
    LONG rc = RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key = hive.Find(root, path);
            if (!key)
                return ERROR_FILE_NOT_FOUND;
            const RegistryValue* v = key->FindValue("");
            if (v && !IsRegistryTextType(v->Type))
                return ERROR_INVALID_DATA;
            text = v ? v->Text() : std::string(); // no default value reads as "", as on Windows
            return ERROR_SUCCESS;
        });
    if (rc != ERROR_SUCCESS)
        return rc;
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    DWORD cb = lpcbData && *lpcbData > 0 ? static_cast<DWORD>(*lpcbData) : 0;
    rc = CopyOut(bytes, reinterpret_cast<LPBYTE>(lpData), &cb);
    if (lpcbData)
        *lpcbData = static_cast<LONG>(cb);
    return rc;
}

LONG RegCloseKey(HKEY hKey)
{
    RegistryRoot root;
    if (Predefined(hKey, &root))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(g_handleLock);
    if (!g_handles.erase(hKey))
        return ERROR_INVALID_HANDLE;
    delete hKey;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD o, REGSAM s, PHKEY phkResult)
{
    std::string sub = WideToNarrow(lpSubKey);
    return RegOpenKeyEx(hKey, lpSubKey ? sub.c_str() : nullptr, o, s, phkResult);
}

LONG RegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, const void*,
                    PHKEY phkResult, LPDWORD lpdwDisposition)
{
    std::string sub = WideToNarrow(lpSubKey);
    return CreateKey(hKey, lpSubKey ? sub.c_str() : nullptr, phkResult, lpdwDisposition);
}

LONG RegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                   DWORD cbData)
{
    return SetValue(hKey, WideToNarrow(lpValueName), dwType, lpData, cbData, true);
}

LONG RegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData)
{
    return QueryValue(hKey, WideToNarrow(lpValueName), lpType, lpData, lpcbData, true);
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                  LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (lpClass && lpcchClass && *lpcchClass)
        lpClass[0] = 0;
    if (lpcchClass)
        *lpcchClass = 0;
    return EnumKey(hKey, dwIndex, lpName, lpcchName, lpftLastWriteTime);
}

LONG RegDeleteValue(HKEY hKey, LPCWSTR lpValueName)
{
    return DeleteValue(hKey, WideToNarrow(lpValueName));
}

LONG RegDeleteKey(HKEY hKey, LPCWSTR lpSubKey)
{
    std::string sub = WideToNarrow(lpSubKey);
    return DeleteKey(hKey, lpSubKey ? sub.c_str() : nullptr, false);
}

LONG RegDeleteTree(HKEY hKey, LPCWSTR lpSubKey)
{
    std::string sub = WideToNarrow(lpSubKey);
    return DeleteKey(hKey, lpSubKey ? sub.c_str() : nullptr, true);
}

CRegTransaction::CRegTransaction() = default;

CRegTransaction::~CRegTransaction()
{
    if (m_active)
        RegistryStoreAbort();
}

LONG CRegTransaction::Begin()
{
    if (m_active)
        return ERROR_BUSY;
    LONG rc = RegistryStoreBegin();
    m_active = rc == ERROR_SUCCESS;
    return rc;
}

LONG CRegTransaction::Commit()
{
    if (!m_active)
        return ERROR_INVALID_PARAMETER;
    m_active = false;
    return RegistryStoreCommit();
}

void CRegTransaction::Abort()
{
    if (m_active)
        RegistryStoreAbort();
    m_active = false;
}

std::string ComrtRegistryPath()
{
    return RegistryStorePath();
}

unsigned long ComrtRegistryWriteFailures()
{
    return RegistryStoreWriteFailures();
}
