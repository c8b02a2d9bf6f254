// A sleep of the real peer's account, started by a test (as root) so that the host sees a
// process of that user appear; the test reaps it.
#pragma once

#include <pwd.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace vigil::test
{

// The child's PID, or -1 when the account is unknown or the test does not run as root.
inline pid_t StartSleepAs(const char* user, long seconds)
{
    const passwd* account = ::getpwnam(user);
    if (account == nullptr || ::geteuid() != 0)
        return -1;
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    const pid_t child = ::fork();
    if (child == 0)
    {
        if (::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(127);
        const std::string text = std::to_string(seconds);
        ::execlp("sleep", "sleep", text.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

} // namespace vigil::test
