// This computer as a host of the list: its address, its name on screen, its default record.
#include "watch/engine/local_host.h"

#include <pwd.h>
#include <unistd.h>

bool IsLocalHost(const HostSettings& host)
{
    return FieldText(host.Address) == kLocalAddress;
}

std::string LocalUserName()
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return {};
}

HostSettings NewLocalHost()
{
    HostSettings host;
    SetAddress(host, kLocalAddress);
    SetUsername(host, LocalUserName());
    return host;
}

std::string_view HostDisplayName(const HostSettings& host)
{
    return IsLocalHost(host) ? std::string_view(kLocalHostName) : FieldText(host.Address);
}
