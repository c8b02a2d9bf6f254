// Reading the files psvigil-cli is pointed at: regular files only, and never more than a cap.
#include "watch/cli/cli_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadBoundedFile(const std::string& path, std::size_t cap, bool takePrefix, std::string& bytes,
                     std::string& error)
{
    bytes.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
    {
        error = std::strerror(errno);
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        ::close(fd);
        error = "not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(st.st_size) > cap && !takePrefix)
    {
        ::close(fd);
        error = "larger than " + std::to_string(cap) + " bytes";
        return false;
    }
    bytes.resize(cap);
    std::size_t total = 0;
    while (total < cap)
    {
        const ssize_t n = ::read(fd, bytes.data() + total, cap - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(total);
    return true;
}

std::string FirstLine(const std::string& bytes)
{
    std::string line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}
