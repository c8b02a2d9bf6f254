// Type information of the library's interfaces for the components' IDispatch, loaded from the
// registered LANVEXLib on first use and kept until the module unloads.
#include "lanvex/net/dispatch_type_info.h"

#include "lanvex/net/lanvex.h"

namespace lanvex
{

HRESULT CLanvexTypeInfo::Get(ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pInfo == nullptr)
    {
        ITypeLib* pLib = nullptr;
        HRESULT hr = LoadRegTypeLib(LIBID_LANVEXLib, 1, 0, kLanvexTypeLibLcid, &pLib);
        if (FAILED(hr))
            return hr;
        hr = pLib->GetTypeInfoOfGuid(m_iid, &m_pInfo);
        pLib->Release();
        if (FAILED(hr))
        {
            m_pInfo = nullptr;
            return hr;
        }
    }
    m_pInfo->AddRef();
    *ppTInfo = m_pInfo;
    return S_OK;
}

void CLanvexTypeInfo::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pInfo != nullptr)
    {
        m_pInfo->Release();
        m_pInfo = nullptr;
    }
}

} // namespace lanvex
