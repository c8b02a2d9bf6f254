// Whole-ELF check of a server module: header, program and section header tables, loadable segments.
#include "platform/com/module_check.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#else
#error "name this machine's ELF e_machine"
#endif

// offset + count * size <= limit, without overflow.
bool TableFits(uint64_t offset, uint64_t count, uint64_t size, uint64_t limit)
{
    if (offset > limit)
        return false;
    return size == 0 || count <= (limit - offset) / size;
}
} // namespace

std::string ModuleFileFault(std::string_view head, uint64_t fileSize)
{
    Elf64_Ehdr eh;
    if (head.size() < sizeof eh || fileSize < sizeof eh)
        return "too short for an ELF header";
    std::memcpy(&eh, head.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
        return "not an ELF file";
    if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return "not a 64-bit little-endian ELF file";
    if (eh.e_machine != kMachine)
        return "built for another machine";
    if (eh.e_type != ET_DYN)
        return "not a shared object";
    if (eh.e_phnum == 0 || eh.e_phentsize != sizeof(Elf64_Phdr))
        return "no usable program headers";
    if (!TableFits(eh.e_phoff, eh.e_phnum, sizeof(Elf64_Phdr), fileSize))
        return "program headers reach past the end of the file (cut short?)";
    if (eh.e_shoff != 0 && !TableFits(eh.e_shoff, eh.e_shnum, eh.e_shentsize, fileSize))
        return "section headers reach past the end of the file (cut short?)";
    if (!TableFits(eh.e_phoff, eh.e_phnum, sizeof(Elf64_Phdr), head.size()))
        return "program headers lie beyond the file's first " + std::to_string(kModuleHeadBytes) +
               " bytes";
    for (uint16_t i = 0; i < eh.e_phnum; ++i)
    {
        Elf64_Phdr ph;
        std::memcpy(&ph, head.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
        if (ph.p_type == PT_LOAD && !TableFits(ph.p_offset, 1, ph.p_filesz, fileSize))
            return "a loadable segment reaches past the end of the file (cut short?)";
    }
    return std::string();
}

std::string ModuleFileFaultOfPath(const std::string& path)
{
    // Non-blocking: opening a FIFO must not wait for a writer (regular files read as usual).
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::string("cannot open: ") + std::strerror(errno);
    struct stat st;
    std::string head(kModuleHeadBytes, '\0');
    size_t got = 0;
    std::string fault;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        fault = "not a regular file";
    while (fault.empty() && got < head.size())
    {
        ssize_t n = pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fault = std::string("cannot read: ") + std::strerror(errno);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (!fault.empty())
        return fault;
    head.resize(got);
    return ModuleFileFault(head, static_cast<uint64_t>(st.st_size));
}
