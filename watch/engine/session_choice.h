// Which session component watches a host, from the host record alone (the file format stays).
#pragma once

#include "watch/engine/host_settings.h"

#include "platform/com/guid.h"

#include <string_view>

// Telnet for every host, except SSH for an address written "ssh://name" or for port 22, and
// this computer itself (no component, no login) for the address "local:". The address goes to
// the component as it is: lvSecureShell reads past the "ssh://" itself.
struct SessionChoice
{
    bool SecureShell = false;
    bool Local = false;
    const CLSID* Clsid = nullptr;    // null for this computer
    const char* Component = nullptr; // how the failure reason names it
};

SessionChoice ChooseSession(const HostSettings& host);

// The form of an address that makes a host an SSH host.
constexpr std::string_view kSecureShellScheme = "ssh://";
