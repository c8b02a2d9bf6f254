// Fuzzes the negotiation reply builder (any burst, any reply buffer size, never a write past it)
// the judgement of a login answer, and the byte-for-byte passage of texts.
#include "lanvex/net/transport/login_answer.h"
#include "lanvex/net/transport/telnet_negotiation.h"
#include "lanvex/net/transport/wire_text.h"

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
    // Every command gets its three bytes; the terminal-type and window-size answers are the
    // only extras.
    const size_t nExtra = n - nCommands * 3;
    if (n < nCommands * 3 ||
        (nExtra != 0 && nExtra != kTerminalTypeAnswerLength && nExtra != kWindowSizeAnswerLength &&
         nExtra != kTerminalTypeAnswerLength + kWindowSizeAnswerLength))
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

    // What a host answers to a password is judged without reading past it.
    const LoginVerdict verdict =
        JudgeLoginAnswer(std::string_view(reinterpret_cast<const char*>(data), size));
    if (verdict.What == LoginVerdict::Refused && verdict.Reason.size() > size + 40)
        std::abort();
    HasVisibleText(std::string_view(reinterpret_cast<const char*>(data), size));

    // Any bytes cross the wide interface and come back unchanged.
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (WideToWireText(WireTextToWide(text)) != text)
        std::abort();
    return 0;
}
