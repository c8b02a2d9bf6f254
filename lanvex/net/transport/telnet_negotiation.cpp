// Builds the reply to one burst of a telnet server's opening option negotiation.
#include "lanvex/net/transport/telnet_negotiation.h"

namespace lanvex
{

namespace
{

uint8_t AnswerVerb(uint8_t nCommand, uint8_t nOption)
{
    using namespace telnet;
    switch (nCommand)
    {
    case kDO:
        return nOption == kOptWindowSize ? kWILL : kWONT;
    case kDONT:
        return kWONT;
    case kWILL:
        return (nOption == kOptEcho || nOption == kOptSuppressGoAhead) ? kDO : kDONT;
    default:
        return nCommand;
    }
}

} // namespace

size_t BuildNegotiationReply(const uint8_t* pBurst, size_t nBurst, uint8_t* pReply,
                             size_t nCapacity)
{
    using namespace telnet;
    size_t nLength = 0;
    if (pBurst == nullptr || nBurst < 3)
        return 0;
    bool bWindowSize = false;
    for (size_t p = 0; p + 2 < nBurst; ++p)
    {
        if (pBurst[p] != kIAC || pBurst[p + 1] < 242)
            continue;
        bWindowSize = bWindowSize || (pBurst[p + 1] == kDO && pBurst[p + 2] == kOptWindowSize);
        if (nLength + 3 > nCapacity)
            return nLength;
        pReply[nLength++] = kIAC;
        pReply[nLength++] = AnswerVerb(pBurst[p + 1], pBurst[p + 2]);
        pReply[nLength++] = pBurst[p + 2];
    }
    bool bHasSE = false;
    for (size_t i = 1; i < nBurst; ++i)
        bHasSE = bHasSE || pBurst[i] == kSE;
    if (bHasSE)
    {
        static const uint8_t kTerminalType[kTerminalTypeAnswerLength] = {0,  118, 116,  49,
                                                                         48, 48,  kIAC, kSE};
        if (nLength + kTerminalTypeAnswerLength > nCapacity)
            return nLength;
        for (uint8_t b : kTerminalType)
            pReply[nLength++] = b;
    }
    if (bWindowSize)
    {
        // Neither size has a byte 255, so nothing needs doubling.
        static_assert((kWindowColumns & 0xFF) != 0xFF && (kWindowColumns >> 8) != 0xFF &&
                      (kWindowRows & 0xFF) != 0xFF && (kWindowRows >> 8) != 0xFF);
        static const uint8_t kWindowSize[kWindowSizeAnswerLength] = {kIAC,
                                                                     kSB,
                                                                     kOptWindowSize,
                                                                     kWindowColumns >> 8,
                                                                     kWindowColumns & 0xFF,
                                                                     kWindowRows >> 8,
                                                                     kWindowRows & 0xFF,
                                                                     kIAC,
                                                                     kSE};
        if (nLength + kWindowSizeAnswerLength > nCapacity)
            return nLength;
        for (uint8_t b : kWindowSize)
            pReply[nLength++] = b;
    }
    return nLength;
}

} // namespace lanvex
