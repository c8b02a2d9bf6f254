// Fuzzes the PASV reply reading: any text, a port only from six numbers after a '('.
#include "lanvex/ftp/ftp_protocol.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<int16_t> port = lanvex::ReadPassivePort(text);
    // A port needs a '(' after the first byte, and at least six digits.
    if (port)
    {
        const size_t nOpen = text.find('(', 1);
        if (nOpen == std::string_view::npos)
            std::abort();
        size_t nDigits = 0;
        for (char c : text.substr(nOpen))
            nDigits += (c >= '0' && c <= '9') ? 1 : 0;
        if (nDigits < 6)
            std::abort();
    }
    return 0;
}
