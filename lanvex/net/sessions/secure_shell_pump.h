// The loop around every non-blocking libssh call of lvSecureShell: called again while it asks
// to be, between bounded, cancellable waits. Shared by the login and the command.
#pragma once

#include "lanvex/net/sessions/secure_shell.h"

namespace lanvex
{

template <class Call> int lvSecureShell::Pump(Call call, int again, Clock::time_point deadline)
{
    m_lastWait = WaitEnd::Ready;
    for (;;)
    {
        const int rc = call();
        if (rc != again || Wait(deadline) != WaitEnd::Ready)
            return rc;
    }
}

} // namespace lanvex
