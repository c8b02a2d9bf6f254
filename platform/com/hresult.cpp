// Texts for result codes and the per-thread detail of the runtime's last failure.
#include "platform/com/hresult.h"

#include <cstdio>

namespace
{
struct HResultName
{
    HRESULT Code;
    const char* Text;
};

constexpr HResultName kNames[] = {
    {S_OK, "Success"},
    {S_FALSE, "Success (false)"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_ACCESSDENIED, "Access is denied"},
    {E_HANDLE, "The handle is invalid"},
    {E_OUTOFMEMORY, "Not enough memory"},
    {E_INVALIDARG, "The parameter is incorrect"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, "Could not read key from registry"},
    {REGDB_E_WRITEREGDB, "Could not write key to registry"},
    {REGDB_E_KEYMISSING, "Could not find the key in the registry"},
    {REGDB_E_INVALIDVALUE, "Invalid value for registry"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {SELFREG_E_TYPELIB, "Failed to register/unregister type library"},
    {SELFREG_E_CLASS, "Failed to register/unregister class"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {CO_E_DLLNOTFOUND, "DLL for class not found"},
    {CO_E_ERRORINDLL, "Error in the DLL"},
    {RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set"},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "Member not found"},
    {DISP_E_PARAMNOTFOUND, "Parameter not found"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_UNKNOWNNAME, "Unknown name"},
    {DISP_E_NONAMEDARGS, "No named arguments"},
    {DISP_E_BADVARTYPE, "Bad variable type"},
    {DISP_E_EXCEPTION, "Exception occurred"},
    {DISP_E_OVERFLOW, "Out of present range"},
    {DISP_E_BADINDEX, "Invalid index"},
    {DISP_E_UNKNOWNLCID, "Unknown language"},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional"},
    {DISP_E_BADCALLEE, "Invalid callee"},
    {TYPE_E_INVDATAREAD, "Error reading type library data"},
    {TYPE_E_UNSUPFORMAT, "Type library has an unsupported format"},
    {TYPE_E_REGISTRYACCESS, "Error accessing the OLE registry"},
    {TYPE_E_LIBNOTREGISTERED, "Library not registered"},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found"},
    {TYPE_E_IOERROR, "Error accessing the type library file"},
    {TYPE_E_CANTLOADLIBRARY, "Error loading type library/DLL"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified"},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "The specified module could not be found"},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "The specified procedure could not be found"},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), "Not a valid module"},
    {HRESULT_FROM_WIN32(ERROR_BADDB), "The configuration registry database is corrupt"},
    {HRESULT_FROM_WIN32(ERROR_BADKEY), "The configuration registry key is invalid"},
    {HRESULT_FROM_WIN32(ERROR_CANTOPEN), "The configuration registry key could not be opened"},
    {HRESULT_FROM_WIN32(ERROR_CANTREAD), "The configuration registry key could not be read"},
    {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "The configuration registry key could not be written"},
    {HRESULT_FROM_WIN32(ERROR_REGISTRY_CORRUPT), "The registry hive file is damaged"},
    {HRESULT_FROM_WIN32(ERROR_KEY_DELETED), "The registry key has been marked for deletion"},
    {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), "No more data is available"},
    {HRESULT_FROM_WIN32(ERROR_MORE_DATA), "More data is available"},
};

thread_local std::string t_lastErrorText;
} // namespace

std::string HResultHex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string HResultText(HRESULT hr)
{
    for (const HResultName& n : kNames)
        if (n.Code == hr)
            return n.Text;
    return "Unknown error " + HResultHex(hr);
}

std::string ComrtLastErrorText()
{
    return t_lastErrorText;
}
void ComrtSetLastErrorText(std::string text)
{
    t_lastErrorText = std::move(text);
}
void ComrtClearLastErrorText()
{
    t_lastErrorText.clear();
}
