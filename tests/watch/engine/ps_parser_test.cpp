// Reading ps replies: line choice, word-start thresholds, field reading, bounds.
#include "watch/engine/ps_parser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{
constexpr const char* kBsdHeader =
    "USER       PID %CPU %MEM   VSZ  RSS TT  STAT STARTED      TIME COMMAND";

// Parses a copy of text held in a buffer of exactly its length, so a write past the end is
// caught by the sanitizers.
std::vector<ProcessRow> Parse(const std::string& text, int32_t flavour = kFlavourBsd,
                              int32_t filterMode = kFilterShowAll)
{
    std::vector<char> buffer(text.begin(), text.end());
    COwningPtrArray<ProcessRow> rows;
    ParsePsReply(rows, buffer.empty() ? nullptr : buffer.data(),
                 static_cast<int32_t>(buffer.size()), flavour, filterMode);
    std::vector<ProcessRow> out;
    for (int32_t i = 0; i < rows.GetSize(); ++i)
        out.push_back(*rows.GetAt(i));
    return out;
}

std::string Reply(const std::vector<std::string>& lines, const std::string& prompt = "$ ")
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text + prompt;
}
} // namespace

TEST(ParseOutput, BsdWorkedExample)
{
    const auto rows = Parse(Reply({"ps auxw ", kBsdHeader,
                                   "alice 4711 0.0 0.3 1520 980 p1 S 10:02AM 0:00.05 vi notes.txt",
                                   "root 1 0.0 0.1 100 50 ?? Ss 9:00AM 0:01.00 /sbin/init"}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].User, "alice");
    EXPECT_STREQ(rows[0].PidText, "4711");
    EXPECT_EQ(rows[0].Pid, 4711);
    EXPECT_STREQ(rows[0].CpuUsage, "0.0");
    EXPECT_STREQ(rows[0].Term, "p1");
    EXPECT_STREQ(rows[0].StartTime, "10:02AM");
    EXPECT_STREQ(rows[0].CpuTime, "0:00.05");
    EXPECT_STREQ(rows[0].Command, "vi notes.txt");
    EXPECT_STREQ(rows[0].MemUsage, "0.3");
    EXPECT_STREQ(rows[0].Vsz, "1520");
    EXPECT_STREQ(rows[0].Rss, "980");
    EXPECT_STREQ(rows[0].ProcessState, "S");
    EXPECT_STREQ(rows[0].PpidText, ""); // BSD sends no parent
    EXPECT_EQ(rows[0].State, 0);
    EXPECT_STREQ(rows[1].Command, "/sbin/init");
}

TEST(ParseOutput, LineChoiceFollowsTheFilterMode)
{
    const std::string line1 = "bob 10 0.0 0.0 1 1 p2 S 1:00AM 0:00.00 sh";
    const std::string line2 = "bob 11 0.0 0.0 1 1 p2 S 1:00AM 0:00.00 grep bob";
    // Without a filter the second line is taken for the header.
    auto rows = Parse(Reply({"ps auxw ", line1, line2}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Pid, 11);
    // With a filter grep removed the header: reading starts at line 1, the grep line included.
    rows = Parse(Reply({"ps auxw | grep bob", line1, line2}), kFlavourBsd, kFilterByUser);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Pid, 11);
    EXPECT_STREQ(rows[1].Command, "grep bob");
}

TEST(ParseOutput, EmptyAndDegenerateInputsGiveNoRows)
{
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("$ ").empty());
    EXPECT_TRUE(Parse(Reply({"ps auxw "})).empty());
    EXPECT_TRUE(Parse("\r").empty());
    EXPECT_TRUE(Parse("\r\r\r\r\r").empty());
    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow);
    char text[] = "x\r\nh\r\nalice 1 0 0 0 0 p S 1 2 vi\r\n";
    ParsePsReply(rows, text, 0, kFlavourBsd, kFilterShowAll);
    EXPECT_EQ(rows.GetSize(), 0); // the old content is replaced even when nothing is read
    ParsePsReply(rows, text, -5, kFlavourBsd, kFilterShowAll);
    EXPECT_EQ(rows.GetSize(), 0);
}

TEST(ParseOutput, LineSplitting)
{
    const std::string row = "u 5 0.0 0.0 1 1 p1 S 1:00 0:00 cmd";
    // Output ending in CR LF: the empty last line is never read, the last process line is.
    EXPECT_EQ(Parse(Reply({"ps", "HEADER", row}, "")).size(), 1u);
    // The prompt line is never read, even when it looks like a process line.
    EXPECT_EQ(Parse(Reply({"ps", "HEADER"}, row)).size(), 0u);
    // A bare LF does not end a line: the two lines are read as one.
    auto rows = Parse(Reply({"ps", "HEADER", row + "\nu 6 0.0 0.0 1 1 p1 S 1:00 0:00 x"}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Pid, 5);
    EXPECT_EQ(std::string(rows[0].Command), "cmd\nu 6 0.0 0.0 1 1 p1 S 1:00 0:00 x");
    // The byte after a CR is overwritten whatever it is.
    rows = Parse("ps\rXHEADER\r\n" + row + "\rZ$ ");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].User, "u");
    // A CR as the very last byte: nothing is written past the buffer.
    EXPECT_EQ(Parse("ps\r\nHEADER\r\n" + row + "\r").size(), 1u);
}

TEST(ParseOutput, ShortLinesAreDroppedAndTheCommandStartsAtTheThreshold)
{
    const auto rows = Parse(Reply({"ps", "HEADER", "u 5 0.0 0.0 1 1 p1 S 1:00 0:00",
                                   "u 6 0.0 0.0 1 1 p1 S 1:00 0:00  two  blanks  kept "}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Pid, 6);
    EXPECT_STREQ(rows[0].Command, "two  blanks  kept ");
}

TEST(ParseOutput, TabsSeparateFieldsButNotWordStarts)
{
    // Ten word starts only counting blanks; the tab splits PID from %CPU for the fields.
    const auto rows = Parse(Reply({"ps", "HEADER", "u 7\t1.5 0.0 1 1 p1 S 1:00 0:00 cmd arg"}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].PidText, "7");
    EXPECT_STREQ(rows[0].CpuUsage, "1.5");
    EXPECT_STREQ(rows[0].Term, "p1");
    EXPECT_STREQ(rows[0].CpuTime, "0:00");
    EXPECT_STREQ(rows[0].Command, "arg"); // one word start fewer before it: one word later
}

TEST(ParseOutput, SysVReadsAnEightCharacterStartTime)
{
    const auto rows = Parse(Reply({"ps -ef ", "     UID   PID  PPID  C    STIME TTY      TIME CMD",
                                   "    root     1     0  0 10:02:33 ?        0:01 /sbin/init -z",
                                   "   alice   812   800  1   Dec 07 pts/1    0:00 bash"}),
                            kFlavourSysV);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].User, "root");
    EXPECT_EQ(rows[0].Pid, 1);
    EXPECT_STREQ(rows[0].CpuUsage, "");
    EXPECT_STREQ(rows[0].StartTime, "10:02:33");
    EXPECT_STREQ(rows[0].Term, "?");
    EXPECT_STREQ(rows[0].CpuTime, "0:01");
    EXPECT_STREQ(rows[0].Command, "/sbin/init -z");
    EXPECT_STREQ(rows[0].PpidText, "0");
    EXPECT_STREQ(rows[0].Rss, ""); // SysV sends no memory
    EXPECT_EQ(rows[1].Ppid, 800);
    // A date with a blank is one start time; the later fields keep their columns.
    EXPECT_STREQ(rows[1].StartTime, "Dec 07");
    EXPECT_STREQ(rows[1].Term, "pts/1");
    EXPECT_STREQ(rows[1].CpuTime, "0:00");
    EXPECT_STREQ(rows[1].Command, "bash");
}

struct SysVShape
{
    const char* Name;
    const char* Line;
    const char* StartTime; // null: the line is not a process line
    const char* Term;
    const char* CpuTime;
    const char* Command;
    int32_t Flavour = kFlavourSysV;
    const char* Rss = ""; // POSIX lines only
};

void PrintTo(const SysVShape& c, std::ostream* os)
{
    *os << c.Name;
}

class SysVLineShape : public testing::TestWithParam<SysVShape>
{
};

TEST_P(SysVLineShape, ReadsEachColumnInItsField)
{
    const SysVShape& c = GetParam();
    const auto rows =
        Parse(Reply({"ps -ef ", "UID PID PPID C STIME TTY TIME CMD", c.Line}), c.Flavour);
    if (c.StartTime == nullptr)
    {
        EXPECT_TRUE(rows.empty());
        return;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].User, "vigil");
    EXPECT_EQ(rows[0].Pid, 4242);
    EXPECT_STREQ(rows[0].StartTime, c.StartTime);
    EXPECT_STREQ(rows[0].Term, c.Term);
    EXPECT_STREQ(rows[0].CpuTime, c.CpuTime);
    EXPECT_STREQ(rows[0].Command, c.Command);
    EXPECT_EQ(rows[0].Ppid, 1);
    EXPECT_STREQ(rows[0].Rss, c.Rss);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SysVLineShape,
    testing::Values(
        // Linux: five-character start times, a time or a month with its day run together.
        SysVShape{"LinuxTime", "vigil 4242 1 0 19:56 ?  00:00:05 /usr/lib/process_api --x", "19:56",
                  "?", "00:00:05", "/usr/lib/process_api --x"},
        SysVShape{"LinuxDate", "vigil 4242 1 0 Dec07 pts/0 00:00:00 -bash", "Dec07", "pts/0",
                  "00:00:00", "-bash"},
        // Classic hosts: right-aligned, eight-character times, a month and a day apart.
        SysVShape{"ClassicTime", "   vigil  4242     1  0 10:02:33 ?        0:01 sh -c  a  b",
                  "10:02:33", "?", "0:01", "sh -c  a  b"},
        SysVShape{"MonthAndDay", "   vigil  4242     1  0   Nov 30 console  0:00 sh", "Nov 30",
                  "console", "0:00", "sh"},
        SysVShape{"MonthAndOneDigitDay", "vigil 4242 1 0 Nov  3 ? 0:00 sh", "Nov  3", "?", "0:00",
                  "sh"},
        // A month name that is not followed by a day is a word like any other.
        SysVShape{"MonthThenTerm", "vigil 4242 1 0 Jan tty1 0:00 sh x", "Jan", "tty1", "0:00",
                  "sh x"},
        SysVShape{"NoCommand", "vigil 4242 1 0 19:56 ? 00:00:05", nullptr, "", "", ""},
        SysVShape{"NoCommandAfterADate", "vigil 4242 1 0 Nov 30 ? 00:00:05", nullptr, "", "", ""},
        // ps -e -o user,pid,ppid,pcpu,pmem,vsz,rss,stat,tty,stime,time,args; the header above
        // the line is passed over by its shape, whatever the filter mode.
        SysVShape{"Posix", "vigil 4242 1 0.5 1.2 123456 7890 Ss ? 19:56 00:00:05 /usr/sbin/x -y",
                  "19:56", "?", "00:00:05", "/usr/sbin/x -y", kFlavourPosix, "7890"},
        SysVShape{"PosixMonthAndDay", "vigil 4242 1 0.0 0.0 0 0 Z pts/0 Nov 30 0:00 [sh] <defunct>",
                  "Nov 30", "pts/0", "0:00", "[sh] <defunct>", kFlavourPosix, "0"},
        SysVShape{"PosixHeader", "USER PID PPID %CPU %MEM VSZ RSS STAT TT STIME TIME COMMAND",
                  nullptr, "", "", "", kFlavourPosix},
        SysVShape{"PosixNoCommand", "vigil 4242 1 0.0 0.0 0 0 S ? 19:56 0:00", nullptr, "", "", "",
                  kFlavourPosix}));

TEST(ParseOutput, SysVWithALeftAlignedUserColumnKeepsEveryProcess)
{
    // Linux prints UID flush left; processes without arguments must not vanish.
    const auto rows =
        Parse(Reply({"ps -ef ", "UID          PID    PPID  C STIME TTY          TIME CMD",
                     "root           2       0  0 15:54 ?        00:00:00 [kthreadd]",
                     "alice        812     800  1 15:55 pts/1    00:00:00 -bash"}),
              kFlavourSysV);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].User, "root");
    EXPECT_EQ(rows[0].Pid, 2);
    EXPECT_STREQ(rows[0].Command, "[kthreadd]");
    EXPECT_STREQ(rows[1].Command, "-bash");
    EXPECT_EQ(rows[1].Pid, 812);
}

TEST(ParseOutput, PidValueAndBounds)
{
    const std::string longWord(300, 'w');
    std::string longCommand(250, 'c');
    longCommand += "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"; // three euro signs across the cut
    const auto rows =
        Parse(Reply({"ps", "HEADER", "u abc 0 0 1 1 p S 1 2 cmd", "u -12x 0 0 1 1 p S 1 2 cmd",
                     "u 99999999999 0 0 1 1 p S 1 2 cmd",
                     longWord + " 5 " + longWord + " 0 1 1 " + longWord + " " + longWord + " " +
                         longWord + " " + longWord + " " + longCommand}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].Pid, 0);
    EXPECT_EQ(rows[1].Pid, -12);
    EXPECT_EQ(rows[2].Pid, 2147483647);
    EXPECT_EQ(std::string(rows[3].User), longWord.substr(0, 19));
    EXPECT_EQ(std::string(rows[3].CpuUsage), longWord.substr(0, 14));
    EXPECT_EQ(std::string(rows[3].Term), longWord.substr(0, 14));
    EXPECT_EQ(std::string(rows[3].ProcessState), longWord.substr(0, 15));
    EXPECT_EQ(std::string(rows[3].StartTime), longWord.substr(0, 25));
    EXPECT_EQ(std::string(rows[3].CpuTime), longWord.substr(0, 19));
    // 255 bytes available: 250 c's and one whole euro sign; the next would be split.
    EXPECT_EQ(std::string(rows[3].Command), std::string(250, 'c') + "\xE2\x82\xAC");
}

TEST(ParseOutput, RepliesBeyondSixteenBitsAreReadWhole)
{
    std::vector<std::string> lines = {"ps auxw ", kBsdHeader};
    for (int pid = 1; pid <= 600; ++pid)
        lines.push_back("daemon " + std::to_string(pid) +
                        " 0.0 0.1 10000 2000 ? S 10:00 0:00 /usr/sbin/some-long-daemon-name "
                        "--with --many --arguments");
    const std::string text = Reply(lines);
    ASSERT_GT(text.size(), 32767u);
    const auto rows = Parse(text);
    ASSERT_EQ(rows.size(), 600u);
    EXPECT_EQ(rows.back().Pid, 600);
}
