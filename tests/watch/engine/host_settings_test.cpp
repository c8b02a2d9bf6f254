// The host record: defaults, command lines, bounded text fields; and the owning array.
#include "watch/engine/host_settings.h"
#include "watch/engine/owning_array.h"
#include "watch/engine/text_field.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

TEST(HostSettings, NewHostHasTheDefaults)
{
    HostSettings host;
    EXPECT_EQ(host.ManualRefresh, 0);
    EXPECT_EQ(host.KeepConnectionOpen, 1);
    EXPECT_EQ(host.RefreshSeconds, 10);
    EXPECT_EQ(host.Port, 23);
    EXPECT_STREQ(host.Command, "ps auxw | grep %s");
    EXPECT_EQ(host.Flavour, 0);
    EXPECT_EQ(host.FilterMode, 0);
    EXPECT_STREQ(host.Address, "");
    EXPECT_STREQ(host.FilterExpression, "");
}

struct CommandCase
{
    int32_t Flavour;
    int32_t FilterMode;
    const char* User;
    const char* Expression;
    const char* Expected;
};

void PrintTo(const CommandCase& c, std::ostream* os)
{
    *os << "flavour " << c.Flavour << ", filter " << c.FilterMode;
}

class BuildCommandTest : public testing::TestWithParam<CommandCase>
{
};

TEST_P(BuildCommandTest, WritesTheLineIntoTheRecord)
{
    const CommandCase& c = GetParam();
    HostSettings host;
    host.Flavour = c.Flavour;
    host.FilterMode = c.FilterMode;
    SetUsername(host, c.User);
    SetFilterExpression(host, c.Expression);
    const std::string line = BuildCommand(host);
    EXPECT_EQ(line, c.Expected);
    // The record keeps what fits of it.
    EXPECT_EQ(std::string(host.Command), line.substr(0, sizeof host.Command - 1));
}

INSTANTIATE_TEST_SUITE_P(
    AllFlavoursAndFilters, BuildCommandTest,
    testing::Values(
        CommandCase{0, 0, "alice", "x", "ps auxw "},
        CommandCase{0, 1, "alice", "x", "ps auxw | grep alice"},
        CommandCase{0, 2, "alice", "ssh d", "ps auxw | grep ssh d"},
        CommandCase{1, 0, "alice", "x", "ps -ef "},
        CommandCase{1, 1, "alice", "x", "ps -ef | grep alice"},
        CommandCase{1, 2, "alice", "a;b|c", "ps -ef | grep a;b|c"},
        CommandCase{3, 0, "", "", "ps -ef "}, // any other nonzero is SysV
        CommandCase{-1, 0, "", "", "ps -ef "},
        CommandCase{2, 0, "", "",
                    "ps -e -o user,pid,ppid,pcpu,pmem,vsz,rss,stat,tty,stime,time,args "},
        CommandCase{
            2, 1, "alice", "",
            "ps -e -o user,pid,ppid,pcpu,pmem,vsz,rss,stat,tty,stime,time,args | grep alice"},
        CommandCase{0, 1, "", "x", "ps auxw | grep "}, // empty login name
        CommandCase{0, 7, "alice", "x", "ps auxw | grep "}));

TEST(HostSettings, LongestCommandFitsAndUnterminatedFieldsStopAtTheirWidth)
{
    HostSettings host;
    host.FilterMode = kFilterByExpression;
    // A record read from disk may hold no terminator in a text field.
    std::memset(host.FilterExpression, 'x', sizeof host.FilterExpression);
    std::memset(host.Username, 'u', sizeof host.Username);
    BuildCommand(host);
    EXPECT_EQ(std::string(host.Command), "ps auxw | grep " + std::string(20, 'x').substr(0, 20));
    EXPECT_LT(std::strlen(host.Command), sizeof host.Command);
}

TEST(TextField, CutsAtTheCapacityWithoutSplittingACharacter)
{
    HostSettings host;
    SetUsername(host, std::string(18, 'a') + "\xC3\xA9"); // 20 bytes, field holds 19
    EXPECT_EQ(std::string(host.Username), std::string(18, 'a'));
    SetUsername(host, std::string(17, 'a') + "\xC3\xA9"); // exactly 19 bytes fits
    EXPECT_EQ(std::string(host.Username), std::string(17, 'a') + "\xC3\xA9");
    SetAddress(host, std::string(200, 'h'));
    EXPECT_EQ(std::strlen(host.Address), 127u);
    // A four-byte character across the cut goes whole.
    EXPECT_EQ(Utf8FitLength("ab\xF0\x9F\x98\x80", 5), 2u);
    // Stray continuation bytes are single characters and may be cut anywhere.
    EXPECT_EQ(Utf8FitLength("a\x80\x80\x80\x80\x80", 3), 3u);
    char field[4];
    CopyToField(field, "abcdef");
    EXPECT_STREQ(field, "abc");
}

TEST(OwningArray, GrowsByFiveAndYieldsNothingOutOfRange)
{
    COwningPtrArray<int> array;
    EXPECT_EQ(array.GetCapacity(), 5);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(array.Add(new int(i)), i);
    EXPECT_EQ(array.GetCapacity(), 10);
    EXPECT_EQ(array.GetAt(-1), nullptr);
    EXPECT_EQ(array.GetAt(6), nullptr);
    array.RemoveAt(1);
    array.RemoveAt(99);
    ASSERT_EQ(array.GetSize(), 5);
    EXPECT_EQ(*array.GetAt(1), 2);
    array.RemoveWhere([](int v) { return v % 2 == 0; });
    ASSERT_EQ(array.GetSize(), 2);
    EXPECT_EQ(*array.GetAt(0), 3);
    EXPECT_EQ(*array.GetAt(1), 5);
    array.RemoveAll();
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 5);
}
