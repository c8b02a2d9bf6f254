// Which session component watches a host, from the host record alone.
#include "watch/engine/session_choice.h"

#include "watch/engine/local_host.h"

#include "lanvex/net/lanvex.h"

#include <cstring>
#include <strings.h>

SessionChoice ChooseSession(const HostSettings& host)
{
    const std::string_view address(host.Address, strnlen(host.Address, sizeof host.Address));
    const bool bScheme =
        address.size() >= kSecureShellScheme.size() &&
        ::strncasecmp(address.data(), kSecureShellScheme.data(), kSecureShellScheme.size()) == 0;
    SessionChoice choice;
    if (IsLocalHost(host))
    {
        choice.Local = true;
        choice.Component = "ps on this computer";
        return choice;
    }
    choice.SecureShell = bScheme || host.Port == 22;
    choice.Clsid = choice.SecureShell ? &CLSID_lvSecureShell : &CLSID_lvTelnet;
    choice.Component = choice.SecureShell ? "the SSH component Lanvex.lvSecureShell"
                                          : "the telnet component Lanvex.lvTelnet";
    return choice;
}
