// Negotiation replies: exact bytes in, exact bytes out, including bursts cut at every point.
#include "lanvex/net/transport/telnet_negotiation.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace lanvex
{
namespace
{

using Bytes = std::vector<uint8_t>;

Bytes Reply(const Bytes& burst, size_t nCapacity = kNegotiationReplyCapacity)
{
    Bytes reply(nCapacity + 16, 0xEE);
    const size_t n = BuildNegotiationReply(burst.data(), burst.size(), reply.data(), nCapacity);
    EXPECT_LE(n, nCapacity);
    for (size_t i = nCapacity; i < reply.size(); ++i)
        EXPECT_EQ(reply[i], 0xEE) << "wrote past the capacity";
    reply.resize(n);
    return reply;
}

// What the standard Debian telnet server (inetutils) opens with, in its two bursts.
const Bytes kDebianFirst = {255, 251, 37,  255, 251, 38,  255, 253, 24,  255, 253,
                            32,  255, 253, 35,  255, 253, 39,  255, 253, 36};
const Bytes kDebianSecond = {255, 251, 3,  255, 253, 1, 255, 253, 34,
                             255, 253, 31, 255, 251, 5, 255, 253, 33};

struct NegotiationCase
{
    const char* Name;
    Bytes Burst;
    Bytes Expected;
};

// The case's name is label enough (the default prints the struct's bytes, pointers included).
void PrintTo(const NegotiationCase& c, std::ostream* os)
{
    *os << c.Name;
}

class NegotiationReply : public testing::TestWithParam<NegotiationCase>
{
};

TEST_P(NegotiationReply, MatchesExactly)
{
    EXPECT_EQ(Reply(GetParam().Burst), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, NegotiationReply,
    testing::Values(
        // DO and DONT get WONT; WILL ECHO and WILL SUPPRESS-GO-AHEAD get DO.
        NegotiationCase{"EchoTermTypeSga",
                        {255, 253, 1, 255, 253, 24, 255, 251, 3},
                        {255, 252, 1, 255, 252, 24, 255, 253, 3}},
        NegotiationCase{"TerminalTypeRequest",
                        {255, 250, 24, 1, 255, 240},
                        {255, 250, 24, 0, 118, 116, 49, 48, 48, 255, 240}},
        NegotiationCase{"TooShort", {255, 253}, {}}, NegotiationCase{"Empty", {}, {}},
        NegotiationCase{"PlainText", {'l', 'o', 'g', 'i', 'n', ':'}, {}},
        // Agreeing to authentication or encryption would stall the login for ever.
        NegotiationCase{"RefusesOtherWills",
                        {255, 251, 37, 255, 251, 38, 255, 251, 1},
                        {255, 254, 37, 255, 254, 38, 255, 253, 1}},
        NegotiationCase{"DontGetsWont", {255, 254, 31}, {255, 252, 31}},
        NegotiationCase{"WontEchoedBack", {255, 252, 5}, {255, 252, 5}},
        NegotiationCase{"OtherCommandsEchoed", {255, 241, 0, 255, 246, 7}, {255, 246, 7}},
        // The scan moves one byte at a time, also inside a command it answered.
        NegotiationCase{"EscapedIacScannedTwice", {255, 255, 253, 9}, {255, 255, 253, 255, 252, 9}},
        NegotiationCase{"CommandCutAtEndIgnored", {255, 253, 1, 255, 253}, {255, 252, 1}},
        // SE only counts after the first byte.
        NegotiationCase{"LeadingSeIgnored", {240, 1, 2}, {}},
        NegotiationCase{
            "SeAnywhereAddsTerminalType", {1, 2, 240}, {0, 118, 116, 49, 48, 48, 255, 240}},
        NegotiationCase{"DebianFirstBurst", kDebianFirst, {255, 254, 37,  255, 254, 38,  255,
                                                           252, 24,  255, 252, 32,  255, 252,
                                                           35,  255, 252, 39,  255, 252, 36}},
        // DO WINDOW-SIZE gets WILL, and the burst's reply ends with the wide window's report.
        NegotiationCase{"DebianSecondBurst",
                        kDebianSecond,
                        {255, 253, 3,   255, 252, 1,   255, 252, 34, 255, 251, 31,  255, 254,
                         5,   255, 252, 33,  255, 250, 31,  2,   0,  0,   24,  255, 240}},
        // Asked twice in one burst, reported once; after the terminal type, never inside it.
        NegotiationCase{"WindowSizeTwiceAndTerminalType",
                        {255, 253, 31, 255, 250, 24, 1, 255, 240, 255, 253, 31, 255, 254, 31},
                        {255, 251, 31, 255, 250, 24,  255, 251, 31, 255, 252, 31, 0,   118, 116,
                         49,  48,  48, 255, 240, 255, 250, 31,  2,  0,   0,   24, 255, 240}}),
    [](const testing::TestParamInfo<NegotiationCase>& info) { return info.param.Name; });

TEST(NegotiationReplyLimits, WorstCaseFitsAndSmallBuffersAreRespected)
{
    Bytes worst(kNegotiationBurst - 1, 255);
    worst.push_back(240);
    worst[1] = 253; // DO WINDOW-SIZE as well, so every extra is in the reply
    worst[2] = 31;
    const Bytes full = Reply(worst);
    EXPECT_EQ(full.size(), static_cast<size_t>(kNegotiationReplyCapacity) - 2 * 3);
    for (size_t nCapacity = 0; nCapacity < full.size(); ++nCapacity)
    {
        const Bytes cut = Reply(worst, nCapacity);
        ASSERT_LE(cut.size(), nCapacity);
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
    }
}

// The reply without its closing window-size report (reported by the part that asked for it).
Bytes WithoutWindowSize(Bytes reply)
{
    const Bytes report = {255, 250, 31, 2, 0, 0, 24, 255, 240};
    if (reply.size() >= report.size() && std::equal(report.rbegin(), report.rend(), reply.rbegin()))
        reply.resize(reply.size() - report.size());
    return reply;
}

// A command split across two bursts is answered in neither; everything else is answered once.
TEST(NegotiationReplyLimits, BurstCutAtEveryPoint)
{
    for (const Bytes* pBurst : {&kDebianFirst, &kDebianSecond})
    {
        const Bytes full = WithoutWindowSize(Reply(*pBurst));
        for (size_t nCut = 0; nCut <= pBurst->size(); ++nCut)
        {
            const Bytes head =
                WithoutWindowSize(Reply(Bytes(pBurst->begin(), pBurst->begin() + nCut)));
            const Bytes tail =
                WithoutWindowSize(Reply(Bytes(pBurst->begin() + nCut, pBurst->end())));
            ASSERT_LE(head.size() + tail.size(), full.size());
            EXPECT_TRUE(std::equal(head.begin(), head.end(), full.begin())) << "cut " << nCut;
            EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), full.rbegin())) << "cut " << nCut;
            EXPECT_EQ((full.size() - head.size() - tail.size()) % 3, 0u);
            EXPECT_LE(full.size() - head.size() - tail.size(), 3u) << "cut " << nCut;
        }
    }
}

} // namespace
} // namespace lanvex
