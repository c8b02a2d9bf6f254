// Runs a registration script against the registry hive, in register or unregister mode.
#pragma once

#include "lanvex/net/transport/registry_script.h"

#include "platform/com/wintypes.h"

#include <string>

namespace lanvex
{

// Writes (bRegister) or removes the keys of a parsed script in one registry transaction.
// Returns S_OK or the failing registry call's error as an HRESULT; nothing of the script is
// written when it fails.
HRESULT ApplyRegScript(const RegScript& script, bool bRegister);

// Expands %MODULE% with modulePath, parses the script text and applies it.
HRESULT RunRegScript(std::string_view text, bool bRegister, const std::string& modulePath);

// The same for the script stored under resource nResource.
HRESULT RunScriptResource(int nResource, bool bRegister, const std::string& modulePath);

} // namespace lanvex
