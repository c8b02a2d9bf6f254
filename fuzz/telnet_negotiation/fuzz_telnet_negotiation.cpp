// Fuzzes the negotiation reply builder: any burst, any reply buffer size, never a write past it.
#include "lanvex/net/telnet_negotiation.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace lanvex;
    // A real burst is at most 50 bytes, and its worst case must fit the standard buffer.
    const size_t nBurst = size < static_cast<size_t>(kNegotiationBurst) ? size : kNegotiationBurst;
    uint8_t reply[kNegotiationReplyCapacity];
    const size_t n = BuildNegotiationReply(data, nBurst, reply, sizeof reply);
    if (n > sizeof reply)
        std::abort();
    size_t nCommands = 0;
    for (size_t p = 0; p + 2 < nBurst; ++p)
        nCommands += (data[p] == 255 && data[p + 1] >= 242) ? 1 : 0;
    // Every command gets its three bytes; the terminal-type answer is the only extra.
    if (n != nCommands * 3 && n != nCommands * 3 + kTerminalTypeAnswerLength)
        std::abort();
    for (size_t i = 0; i < nCommands * 3; i += 3)
        if (reply[i] != 255 || reply[i + 1] < 242)
            std::abort();

    // Any length with a buffer that may be too small: the result is cut, never overrun.
    if (size > 0)
    {
        const size_t nCapacity = data[0] % 64;
        std::vector<uint8_t> small(nCapacity);
        if (BuildNegotiationReply(data, size, small.data(), nCapacity) > nCapacity)
            std::abort();
    }
    return 0;
}
