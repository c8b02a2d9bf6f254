// Fuzzes the trace's descriptions of received bytes: any burst gives lines that are valid
// UTF-8 without control characters, and a sent PASS line never shows its argument.
#include "lanvex/net/transport/wire_trace.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace
{
// Only what the escaping lets through: printable ASCII and well-formed multi-byte characters.
bool Readable(const std::string& line)
{
    for (std::size_t i = 0; i < line.size();)
    {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7F)
            return false;
        std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > line.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace lanvex;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (ETraceFormat format : {ETraceFormat::Telnet, ETraceFormat::Lines, ETraceFormat::Text})
        for (const std::string& line : DescribeWireBytes(format, ETraceDirection::Receive, bytes))
            if (!Readable(line))
                std::abort();

    // After a line end, so the PASS command starts a line of its own.
    const std::string secret = "\nPASS \x01secret\x02\r\n";
    for (const std::string& line :
         DescribeWireBytes(ETraceFormat::Lines, ETraceDirection::Send, std::string(bytes) + secret))
        if (line.find("secret") != std::string::npos &&
            bytes.find("secret") == std::string_view::npos)
            std::abort();
    return 0;
}
