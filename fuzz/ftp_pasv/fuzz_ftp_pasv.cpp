// Fuzzes the PASV reply reading: any text, a port only from six numbers of 0 to 255 in a row,
// and the port those numbers give.
#include "lanvex/ftp/ftp_protocol.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<int16_t> port = lanvex::ReadPassivePort(text);
    if (!port)
        return 0;
    // The port's two bytes are written somewhere in the text as decimal numbers of 0 to 255
    // after four more, each after a comma.
    const auto value = static_cast<uint16_t>(*port);
    const std::string last = std::to_string(value & 0xFF);
    size_t nCommas = 0;
    for (char c : text)
        nCommas += c == ',' ? 1 : 0;
    if (nCommas < 5 || text.find(last) == std::string_view::npos ||
        text.find(std::to_string(value >> 8)) == std::string_view::npos)
        std::abort();
    return 0;
}
