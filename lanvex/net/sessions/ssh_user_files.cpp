// Where an SSH login finds the account's files and agent.
#include "lanvex/net/sessions/ssh_user_files.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lanvex
{

std::string UserSshDirectory()
{
    if (const char* pszHome = std::getenv("HOME"); pszHome != nullptr && *pszHome != '\0')
        return std::string(pszHome) + "/.ssh";
    char buffer[4096];
    passwd entry{};
    passwd* pFound = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &pFound) == 0 && pFound != nullptr)
        return std::string(pFound->pw_dir) + "/.ssh";
    return ".ssh";
}

int NoPassphrase(const char*, char*, size_t, int, int, void*)
{
    return -1;
}

int ConnectAgentSocket(const char* pszPath)
{
    sockaddr_un address{};
    if (pszPath == nullptr || *pszPath == '\0' || std::strlen(pszPath) >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, pszPath, std::strlen(pszPath) + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    return fd;
}

} // namespace lanvex
