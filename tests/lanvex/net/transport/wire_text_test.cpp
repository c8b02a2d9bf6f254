// Narrow texts through wide interfaces: exact wide forms, and the bytes back as they went in
// (the negotiation fuzz target checks the round trip on any input).
#include "lanvex/net/transport/wire_text.h"

#include <gtest/gtest.h>

namespace lanvex
{
namespace
{

TEST(WireText, KnownTextsAndTheirWideForms)
{
    const struct
    {
        const char* Name;
        std::string Narrow;
        std::u16string Wide;
    } cases[] = {
        {"Ascii", "ps -ef | grep x", u"ps -ef | grep x"},
        {"Utf8", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
         u"\u00E9t\u00E9 \u20AC \U0001F600"},
        // Latin-1 bytes, a cut sequence, an overlong form and an encoded surrogate are bytes.
        {"Latin1", "\xE9t\xE9", u"\xDCE9t\xDCE9"},
        {"CutSequence", "a\xE2\x82", u"a\xDCE2\xDC82"},
        {"Overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
        {"EncodedSurrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
        {"BeyondUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(WireTextToWide(c.Narrow), c.Wide);
        EXPECT_EQ(WideToWireText(c.Wide), c.Narrow);
    }
    // Lone surrogates that stand for no byte are replaced, never dropped.
    EXPECT_EQ(WideToWireText(u"\xD800x\xDC10"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

} // namespace
} // namespace lanvex
