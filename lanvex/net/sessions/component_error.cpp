// Hands a failure text to the client as the thread's error object, the way every component does.
#include "lanvex/net/sessions/component_error.h"

#include "platform/com/activation.h"
#include "platform/com/error_info.h"
#include "platform/com/task_memory.h"

namespace lanvex
{

HRESULT ReportComponentError(HRESULT hr, REFCLSID clsid, REFIID iid, std::string_view description)
{
    // The source is what the registry says at this moment; unregistered, the error has none.
    LPOLESTR pszProgID = nullptr;
    if (FAILED(ProgIDFromCLSID(clsid, &pszProgID)))
        pszProgID = nullptr;
    ComrtReportError(hr, iid, pszProgID, description);
    CoTaskMemFree(pszProgID);
    return hr;
}

} // namespace lanvex
