// Host name lookup for the transport: bounded in time and ended by the caller's cancel.
#pragma once

#include <chrono>
#include <optional>
#include <string>

struct in_addr;

namespace lanvex
{

// The local machine's first IPv4 address, from the system's own tables.
bool ResolveLocalMachine(::in_addr* pAddress);

// Looks name up to its first IPv4 address. Waits no longer than wait, nor past deadline; a
// readable cancelFd ends the wait with CExpSocket(kWsaEIntr), the time limit with
// CExpSocket(kWsaETimedOut). False when the name is not found.
bool LookUpHostName(const std::string& name, std::chrono::milliseconds wait,
                    std::optional<std::chrono::steady_clock::time_point> deadline, int cancelFd,
                    ::in_addr* pAddress);

} // namespace lanvex
