// Hands a failure text to the client as the thread's error object, the way every component does.
#pragma once

#include "platform/com/unknown.h"

#include <string_view>

namespace lanvex
{

// Creates an error object (description = the text, source = the ProgID the registry holds for
// clsid at this moment, GUID = iid, no help), makes it the calling thread's current one and
// returns hr, so a method can end with `return ReportComponentError(E_ABORT, ...)`.
HRESULT ReportComponentError(HRESULT hr, REFCLSID clsid, REFIID iid, std::string_view description);

} // namespace lanvex
