// This computer as a host of the list: its address, its name on screen, its default record.
#pragma once

#include "watch/engine/host_settings.h"

#include <string>
#include <string_view>

// The address that names this computer, and what the host list and the Settings page call it.
constexpr std::string_view kLocalAddress = "local:";
constexpr char kLocalHostName[] = "This computer";

bool IsLocalHost(const HostSettings& host);

// The user running this program; empty when the system cannot tell.
std::string LocalUserName();

// A record for this computer: its address, and the user running this program as the login
// name, so "by current user" keeps that user's processes.
HostSettings NewLocalHost();

// How the host list shows a host: this computer by its name, every other host by its address.
std::string_view HostDisplayName(const HostSettings& host);
