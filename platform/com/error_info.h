// Error objects: one current error object per thread (CreateErrorInfo, SetErrorInfo, GetErrorInfo).
#pragma once

#include "platform/com/unknown.h"

#include <string_view>

// A fresh error object (all fields empty) that also answers IErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes perrinfo (may be null) this thread's current error object, replacing the old one.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands over this thread's current error object and clears it; S_FALSE and null when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// Convenience for components: creates an error object with the given description (UTF-8),
// source and interface GUID, makes it current, and returns hr so a method can write
// `return ComrtReportError(E_ABORT, IID_IlvFTPClient, u"Lanvex.lvFTPClient.1", text);`.
HRESULT ComrtReportError(HRESULT hr, REFGUID iid, LPCOLESTR source, std::string_view description);
