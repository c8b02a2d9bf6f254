// Which session component watches a host, from the host record alone (the file format stays).
#pragma once

#include "watch/engine/host_settings.h"

#include "platform/com/guid.h"

#include <string_view>

// Telnet for every host, except SSH for an address written "ssh://name" or for port 22.
struct SessionChoice
{
    bool SecureShell = false;
    const CLSID* Clsid = nullptr;
    const char* Component = nullptr; // how the failure reason names it
    std::string_view Address;        // the host name to connect to, inside the host record
};

SessionChoice ChooseSession(const HostSettings& host);

// The form of an address that makes a host an SSH host.
constexpr std::string_view kSecureShellScheme = "ssh://";
