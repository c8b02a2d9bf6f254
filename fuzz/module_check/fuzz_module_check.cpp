// Fuzzes the whole-ELF check: any bytes, whole or claimed longer or shorter than they are, give an
// answer without reading outside them; a file passed as whole holds at least its ELF header.
#include "platform/com/module_check.h"

#include <cstdlib>
#include <elf.h>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view file(reinterpret_cast<const char*>(data), size);
    std::string_view head = file.substr(0, kModuleHeadBytes);
    for (uint64_t claimed : {uint64_t{size}, uint64_t{size} / 2, uint64_t{size} * 2})
        if (ModuleFileFault(head, claimed).empty() && claimed < sizeof(Elf64_Ehdr))
            std::abort();
    return 0;
}
