// Registers the Lanvex library that came with this program when its telnet component is missing.
#pragma once

#include "platform/com/hresult.h"
#include "watch/engine/watch_engine.h"

#include <string>
#include <vector>

// Where the Lanvex library of this program may be, in the order they are tried: the lib
// folder beside the program's bin folder (the installed layout and the build tree's alike).
std::vector<std::string> LanvexLibraryCandidates(const std::string& programDir);

// Calls the server's DllRegisterServer, as comreg does, so its classes enter the user's hive.
// On failure reason says why.
HRESULT RegisterServerModule(const std::string& path, std::string* reason);

// At start: when the user's hive has no usable telnet component (no entry, or one naming a
// library that is gone), registers the first candidate that exists. True when the component is
// registered afterwards. Cheap when it is: one look into the hive.
bool RegisterLanvexIfMissing(const std::vector<std::string>& candidates);

// Wraps a session factory: when it answers that the class is not registered, the first
// candidate that exists and registers is registered and the factory asked once more. Where that
// fails, the original answer stands and reason tells what was tried.
CWatchEngine::TelnetFactory RegisteringTelnetFactory(CWatchEngine::TelnetFactory inner,
                                                     std::vector<std::string> candidates);
