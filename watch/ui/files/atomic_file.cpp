// Replacing a file in one step: write a temporary file beside it, flush it, rename it over.
#include "watch/ui/files/atomic_file.h"

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

int OpenRegularFile(const std::string& path, int flags, mode_t mode, int* cause)
{
    // O_NONBLOCK keeps the open itself from waiting (on a FIFO without a writer, say).
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
    {
        *cause = errno;
        return -1;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        *cause = EINVAL;
        ::close(fd);
        return -1;
    }
    // On a regular file reads and writes wait as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string FinalLinkTarget(const std::string& path)
{
    std::string current = path;
    // As many links as the system itself follows; a longer chain is taken for a loop.
    for (int hops = 0; hops <= 40; ++hops)
    {
        struct stat st
        {
        };
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size())
            return current;
        std::string next(target.data(), static_cast<std::size_t>(n));
        if (next.empty())
            return current;
        if (next[0] != '/')
        {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                next = current.substr(0, slash + 1) + next;
        }
        current = next;
    }
    return {};
}

namespace
{
// Rewrites the file itself, for a folder that takes no temporary file. Not atomic, but the
// only way to save a writable file there. The room for the new bytes is taken first and the old
// ones are written over rather than cut away first, so a full disk or a size limit leaves the
// old file whole.
bool WriteInPlace(const std::string& path, std::string_view bytes, mode_t mode, int* cause)
{
    // A FIFO put in the file's place would otherwise hold the save for ever.
    const int fd = OpenRegularFile(path, O_WRONLY | O_CREAT, 0600, cause);
    if (fd < 0)
        return false;
    // An explicit mode (a password inside) narrows the file's; failing that, it stays as it was.
    if (mode != kModeFromUmask)
        (void)::fchmod(fd, mode);
    const int room = bytes.empty() ? 0 : ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
    bool ok = room == 0 && WriteAll(fd, bytes) &&
              ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
    *cause = ok ? 0 : room != 0 ? room : errno;
    if (::close(fd) != 0 && ok)
    {
        ok = false;
        *cause = errno;
    }
    return ok;
}
} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         int* errnoOut)
{
    // Through a symbolic link the file it names is replaced, beside itself; the link stays.
    const std::string target = FinalLinkTarget(path);
    if (target.empty())
    {
        if (errnoOut)
            *errnoOut = ELOOP;
        return false;
    }
    std::vector<char> temp(target.begin(), target.end());
    static constexpr char kSuffix[] = ".tmpXXXXXX";
    temp.insert(temp.end(), kSuffix, kSuffix + sizeof(kSuffix)); // includes the terminator
    // mkstemp creates the file with mode 0600, so a password never sits in a readable file.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
    {
        int cause = errno;
        bool ok = false;
        // A writable file in a folder the user may not add to.
        if (cause == EACCES || cause == EPERM)
            ok = WriteInPlace(target, bytes, mode, &cause);
        if (errnoOut)
            *errnoOut = cause;
        return ok;
    }
    const mode_t wanted = (mode == kModeFromUmask) ? (0666 & ~CurrentUmask()) : mode;
    bool ok = ::fchmod(fd, wanted) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int cause = ok ? 0 : errno;
    if (::close(fd) != 0 && ok)
    {
        ok = false;
        cause = errno;
    }
    if (ok && ::rename(temp.data(), target.c_str()) != 0)
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
    // Only a regular file ends: a FIFO would hold the open or the read for ever, a device such
    // as /dev/zero would fill memory.
    int cause = 0;
    const int fd = OpenRegularFile(path, O_RDONLY, 0, &cause);
    if (fd < 0)
        return false;
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
