// CSV and JSON texts of process fields: quoting, escapes, numbers, broken UTF-8, times.
#include "watch/ui/files/table_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(TableText, FieldsAndValues)
{
    struct TextCase
    {
        std::string Text;
        std::string Csv;
        std::string JsonNumber; // JsonValue(text, true)
    };
    const TextCase cases[] = {
        {"", "", "null"},
        {"4711", "4711", "4711"},
        {"0.3", "0.3", "0.3"},
        {"-12", "-12", "-12"},
        {"007", "007", "\"007\""}, // JSON writes no leading zero
        {"1.", "1.", "\"1.\""},
        {"0,3", "\"0,3\"", "\"0,3\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\"", "\"say \\\"hi\\\"\""},
        {"a\r\nb", "\"a\r\nb\"", "\"a\\u000d\\u000ab\""},
        {"back\\slash\x1b[2J", "back\\slash\x1b[2J", "\"back\\\\slash\\u001b[2J\""},
        {"\xc2\x9b"
         "1m",
         "\xc2\x9b"
         "1m",
         "\"\\u009b1m\""}, // a C1 control
        {"M\xc3\xbcller", "M\xc3\xbcller", "\"M\xc3\xbcller\""},
        {"bad\xff", "bad\xef\xbf\xbd", "\"bad\xef\xbf\xbd\""}, // not UTF-8: U+FFFD
    };
    for (const TextCase& c : cases)
    {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(CsvField(c.Text), c.Csv);
        EXPECT_EQ(JsonValue(c.Text, true), c.JsonNumber);
    }
    EXPECT_EQ(JsonValue("4711", false), "\"4711\"");
    EXPECT_EQ(CsvRecord({"a", "b,c", ""}), "a,\"b,c\",\r\n");
    EXPECT_EQ(IsoUtcTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoUtcTime(1796779425), "2026-12-09T01:23:45Z");
}
