// Replacing a file in one step: write a temporary file beside it, flush it, rename it over.
#include "watch/ui/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
mode_t CurrentUmask()
{
    // umask can only be read by setting it; put it back at once.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool WriteAll(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0)
    {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         int* errnoOut)
{
    std::vector<char> temp(path.begin(), path.end());
    static constexpr char kSuffix[] = ".tmpXXXXXX";
    temp.insert(temp.end(), kSuffix, kSuffix + sizeof(kSuffix)); // includes the terminator
    // mkstemp creates the file with mode 0600, so a password never sits in a readable file.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
    {
        if (errnoOut)
            *errnoOut = errno;
        return false;
    }
    const mode_t wanted = (mode == kModeFromUmask) ? (0666 & ~CurrentUmask()) : mode;
    bool ok = ::fchmod(fd, wanted) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int cause = ok ? 0 : errno;
    if (::close(fd) != 0 && ok)
    {
        ok = false;
        cause = errno;
    }
    if (ok && ::rename(temp.data(), path.c_str()) != 0)
    {
        ok = false;
        cause = errno;
    }
    if (!ok)
        ::unlink(temp.data());
    if (errnoOut)
        *errnoOut = cause;
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st
    {
    };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
    {
        ::close(fd);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}
