// Hands a failure text to the client as the thread's error object, the way every component does.
#include "lanvex/net/component_error.h"

#include "platform/com/activation.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"
#include "platform/com/task_memory.h"

#include <string>

namespace lanvex
{

HRESULT ReportComponentError(HRESULT hr, REFCLSID clsid, REFIID iid, std::string_view description)
{
    ICreateErrorInfo* pCreate = nullptr;
    if (FAILED(CreateErrorInfo(&pCreate)) || pCreate == nullptr)
        return hr;
    std::u16string text = NarrowToWide(description);
    pCreate->SetDescription(text.data());
    LPOLESTR pszProgID = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &pszProgID)) && pszProgID != nullptr)
    {
        pCreate->SetSource(pszProgID);
        CoTaskMemFree(pszProgID);
    }
    pCreate->SetGUID(iid);
    IErrorInfo* pInfo = nullptr;
    if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))))
    {
        SetErrorInfo(0, pInfo);
        pInfo->Release();
    }
    pCreate->Release();
    return hr;
}

} // namespace lanvex
