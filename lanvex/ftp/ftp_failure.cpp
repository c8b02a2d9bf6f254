// One guard that turns what an FTP step throws into a result and an error object.
#include "lanvex/ftp/ftp_failure.h"

#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/transport/socket_error.h"

#include <new>

namespace lanvex
{

HRESULT GuardFtpCall(REFCLSID clsid, REFIID iid, HRESULT (*pBody)(void*), void* pContext)
{
    try
    {
        return pBody(pContext);
    }
    catch (const CFtpFailure& failure)
    {
        return ReportComponentError(failure.Result, clsid, iid, failure.Description);
    }
    catch (const CExpSocket& error)
    {
        return ReportComponentError(E_FAIL, clsid, iid,
                                    error.Message() != nullptr ? error.Message()
                                                               : "The connection failed");
    }
    catch (const std::bad_alloc&)
    {
        // Reporting needs a little memory too; if that fails as well the result still holds.
        try
        {
            return ReportComponentError(E_OUTOFMEMORY, clsid, iid, "Out of memory");
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }
    catch (...)
    {
        try
        {
            return ReportComponentError(E_UNEXPECTED, clsid, iid, "Unexpected failure");
        }
        catch (...)
        {
            return E_UNEXPECTED;
        }
    }
}

} // namespace lanvex
