// Runs a registration script against the registry hive, in register or unregister mode.
#include "lanvex/net/sessions/script_registrar.h"

#include "lanvex/net/transport/registration_scripts.h"

#include "platform/com/hresult.h"
#include "platform/com/registry.h"

namespace lanvex
{

namespace
{

HKEY RootKey(const std::string& name)
{
    return name == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

LONG SetString(HKEY hKey, const char* pszName, const std::string& value)
{
    return RegSetValueEx(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
}

LONG RegisterKey(HKEY hParent, const RegScriptKey& key)
{
    if (key.ForceRemove)
    {
        const LONG rc = RegDeleteTree(hParent, key.Name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            return rc;
    }
    HKEY hKey = nullptr;
    LONG rc = RegCreateKeyEx(hParent, key.Name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (key.HasDefault)
        rc = SetString(hKey, nullptr, key.Default);
    for (size_t i = 0; rc == ERROR_SUCCESS && i < key.Values.size(); ++i)
        rc = SetString(hKey, key.Values[i].first.c_str(), key.Values[i].second);
    for (size_t i = 0; rc == ERROR_SUCCESS && i < key.Subkeys.size(); ++i)
        rc = RegisterKey(hKey, key.Subkeys[i]);
    RegCloseKey(hKey);
    return rc;
}

bool HasSubkeys(HKEY hKey)
{
    char name[2];
    DWORD nName = sizeof name;
    const LONG rc = RegEnumKeyEx(hKey, 0, name, &nName, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

// Unregistration removes what the script wrote and leaves keys that others share: a key is
// deleted only when nothing else is left under it, a NoRemove key never.
LONG UnregisterKey(HKEY hParent, const RegScriptKey& key)
{
    if (key.ForceRemove && !key.NoRemove)
    {
        const LONG rc = RegDeleteTree(hParent, key.Name.c_str());
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    HKEY hKey = nullptr;
    LONG rc = RegOpenKeyEx(hParent, key.Name.c_str(), 0, KEY_ALL_ACCESS, &hKey);
    if (rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    for (size_t i = 0; rc == ERROR_SUCCESS && i < key.Subkeys.size(); ++i)
        rc = UnregisterKey(hKey, key.Subkeys[i]);
    if (!key.NoRemove)
        for (const auto& value : key.Values)
            RegDeleteValue(hKey, value.first.c_str());
    const bool bEmpty = !HasSubkeys(hKey);
    RegCloseKey(hKey);
    if (rc == ERROR_SUCCESS && !key.NoRemove && bEmpty)
    {
        rc = RegDeleteKey(hParent, key.Name.c_str());
        if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
    }
    return rc;
}

} // namespace

HRESULT ApplyRegScript(const RegScript& script, bool bRegister)
{
    CRegTransaction transaction;
    if (const LONG rc = transaction.Begin(); rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    for (const RegScriptKey& root : script.Roots)
    {
        const HKEY hRoot = RootKey(root.Name);
        for (const RegScriptKey& key : root.Subkeys)
        {
            const LONG rc = bRegister ? RegisterKey(hRoot, key) : UnregisterKey(hRoot, key);
            if (rc != ERROR_SUCCESS)
            {
                transaction.Abort();
                return HRESULT_FROM_WIN32(rc);
            }
        }
    }
    return HRESULT_FROM_WIN32(transaction.Commit());
}

HRESULT RunRegScript(std::string_view text, bool bRegister, const std::string& modulePath)
{
    std::string expanded;
    std::string error;
    RegScript script;
    if (!ExpandScriptMacros(text, {{"MODULE", modulePath}}, &expanded, &error) ||
        !ParseRegScript(expanded, &script, &error))
    {
        ComrtSetLastErrorText("registration script: " + error);
        return E_UNEXPECTED;
    }
    return ApplyRegScript(script, bRegister);
}

HRESULT RunScriptResource(int nResource, bool bRegister, const std::string& modulePath)
{
    const std::string_view text = LoadScriptResource(nResource);
    if (text.empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); // no such resource
    return RunRegScript(text, bRegister, modulePath);
}

} // namespace lanvex
