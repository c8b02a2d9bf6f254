// Checks that a server module file is a whole ELF shared object before it is handed to dlopen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How much of the file's beginning ModuleFileFault needs: the ELF header and the program headers
// of any real shared object lie there.
constexpr size_t kModuleHeadBytes = 64 * 1024;

// Why the file whose first bytes are `head` (up to kModuleHeadBytes) and whose size is fileSize
// cannot be a whole 64-bit ELF shared object of this machine, or "" when it can: not ELF, another
// class, byte order, machine or file type, or headers or loadable segments reaching past the end
// of the file (a file cut short would make dlopen map pages that do not exist and die of SIGBUS).
std::string ModuleFileFault(std::string_view head, uint64_t fileSize);

// Reads the file's beginning and size and applies ModuleFileFault; "" when it is whole, else the
// reason (also when the file cannot be read).
std::string ModuleFileFaultOfPath(const std::string& path);
