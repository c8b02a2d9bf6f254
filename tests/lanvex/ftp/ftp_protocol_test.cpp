// The FTP control dialogue on bytes: command lines, reply assembly in any segmenting, PASV.
#include "lanvex/ftp/ftp_protocol.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace lanvex
{
namespace
{

struct LineCase
{
    const char* Label;
    const char* Verb;
    std::optional<std::string> Argument;
    size_t Capacity;
    FtpLineResult Result;
    std::string Bytes; // the line when built
};

TEST(FtpCommandLine, BuildsExactBytesOrRefusesWithoutWriting)
{
    const std::string name1017(1017, 'n');
    const LineCase cases[] = {
        {"argument", "CWD", "/tmp", 64, FtpLineResult::Ok, "CWD /tmp\n"},
        {"no argument", "NOOP", std::nullopt, 64, FtpLineResult::Ok, "NOOP\n"},
        {"empty argument", "PASS", "", 64, FtpLineResult::Ok, "PASS \n"},
        {"blanks kept", "DELE", "a b", 64, FtpLineResult::Ok, "DELE a b\n"},
        {"LF", "DELE", "a\nDELE b", 64, FtpLineResult::ControlInArgument, ""},
        {"CR", "RNTO", "x\ry", 64, FtpLineResult::ControlInArgument, ""},
        {"zero", "CWD", std::string("a\0b", 3), 64, FtpLineResult::ControlInArgument, ""},
        {"fits exactly", "RETR", name1017, kFtpCommandCapacity, FtpLineResult::Ok,
         "RETR " + name1017 + "\n"},
        {"one too long", "RETR", name1017 + "n", kFtpCommandCapacity, FtpLineResult::TooLong, ""},
        {"name bytes as they are", "RETR", "caf\xe9.txt", 64, FtpLineResult::Ok,
         "RETR caf\xe9.txt\n"},
    };
    for (const LineCase& c : cases)
    {
        SCOPED_TRACE(c.Label);
        std::vector<char> buffer(c.Capacity + 8, '#');
        size_t nLength = 12345;
        const std::optional<std::string_view> argument =
            c.Argument ? std::optional<std::string_view>(*c.Argument) : std::nullopt;
        EXPECT_EQ(BuildFtpCommandLine(c.Verb, argument, buffer.data(), c.Capacity, &nLength),
                  c.Result);
        if (c.Result == FtpLineResult::Ok)
        {
            EXPECT_EQ(std::string(buffer.data(), nLength), c.Bytes);
            EXPECT_EQ(buffer[nLength], '\0');
        }
        else
        {
            EXPECT_EQ(nLength, 12345u);
            EXPECT_EQ(buffer[0], '#');
        }
        // Guard bytes past the capacity are never touched.
        for (size_t i = c.Capacity; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], '#');
    }
}

struct ReaderCase
{
    const char* Label;
    std::string Input;
    std::vector<std::string> Replies; // complete replies, in order
    size_t Left;                      // bytes still buffered afterwards
};

std::vector<std::string> Drain(CFtpReplyReader& reader)
{
    std::vector<std::string> replies;
    FtpReply reply;
    while (reader.Next(&reply) == CFtpReplyReader::Status::Complete)
        replies.push_back(reply.Bytes);
    return replies;
}

TEST(FtpReplyReader, SameRepliesWhereverTheInputIsCut)
{
    const ReaderCase cases[] = {
        {"one line", "220 ready\r\n", {"220 ready\r\n"}, 0},
        {"bare LF", "220 ready\n", {"220 ready\n"}, 0},
        {"two joined",
         "150 Opening\r\n226 Transfer complete.\r\n",
         {"150 Opening\r\n", "226 Transfer complete.\r\n"},
         0},
        {"multi-line",
         "211-Features:\r\n EPSV\r\n211 End\r\n",
         {"211-Features:\r\n EPSV\r\n211 End\r\n"},
         0},
        {"other codes inside",
         "230-Hi\r\n231 not the end\r\n230-more\r\n230 in\r\n",
         {"230-Hi\r\n231 not the end\r\n230-more\r\n230 in\r\n"},
         0},
        {"end line without text", "220-a\n220\n", {"220-a\n220\n"}, 0},
        {"reply then the start of the next", "200 ok\r\n226 Tra", {"200 ok\r\n"}, 7},
        {"multi-line not ended", "211-Features:\r\n EPSV\r\n", {}, 22},
        {"odd line is a reply", "hello\r\n220 x\r\n", {"hello\r\n", "220 x\r\n"}, 0},
    };
    for (const ReaderCase& c : cases)
    {
        SCOPED_TRACE(c.Label);
        // Whole, in two pieces at every cut, and a byte at a time.
        for (size_t nCut = 0; nCut <= c.Input.size(); ++nCut)
        {
            CFtpReplyReader reader;
            reader.Append(c.Input.data(), nCut);
            std::vector<std::string> replies = Drain(reader);
            reader.Append(c.Input.data() + nCut, c.Input.size() - nCut);
            for (std::string& reply : Drain(reader))
                replies.push_back(std::move(reply));
            EXPECT_EQ(replies, c.Replies) << "cut at " << nCut;
            EXPECT_EQ(reader.Buffered(), c.Left) << "cut at " << nCut;
        }
        CFtpReplyReader reader;
        std::vector<std::string> replies;
        for (char byte : c.Input)
        {
            reader.Append(&byte, 1);
            for (std::string& reply : Drain(reader))
                replies.push_back(std::move(reply));
        }
        EXPECT_EQ(replies, c.Replies) << "byte by byte";
    }
}

TEST(FtpReplyReader, EndlessRepliesOverflowInsteadOfGrowing)
{
    const std::string cases[] = {
        std::string(100, 'x'),                          // a line that never ends
        "211-start\r\n" + std::string(30, 'y') + "\r\n" // a multi-line reply that never ends
            + std::string(30, 'z') + "\r\n211-still\r\n",
        std::string(70, 'w') + "\n", // one whole line longer than the bound
    };
    for (const std::string& input : cases)
    {
        CFtpReplyReader reader(64);
        reader.Append(input.data(), input.size());
        FtpReply reply;
        EXPECT_EQ(reader.Next(&reply), CFtpReplyReader::Status::Overflow) << input;
    }
}

TEST(FtpReply, CodeTextAndJudgement)
{
    struct Case
    {
        std::string Bytes, Code, Text;
        bool Refusal;
        bool WellFormed = true;
    };
    const std::string long100 = "550 " + std::string(100, 'a') + "\r\n";
    // A two-byte character that would straddle the 80th byte is left out whole.
    const std::string straddle = "553 " + std::string(79, 'b') + "\xc3\xa9" + "\r\n";
    const Case cases[] = {
        {"530 Login incorrect.\r\n", "530", "Login incorrect.\r\n", true},
        {"421 Timeout.\r\n", "421", "Timeout.\r\n", true},
        {"150 Here comes\r\n", "150", "Here comes\r\n", false},
        {"331 Please specify\r\n", "331", "Please specify\r\n", false},
        {long100, "550", std::string(80, 'a'), true},
        {straddle, "553", std::string(79, 'b'), true},
        {"5\n", "5\n", "", true, false},
        {"x99 odd\r\n", "x99", "odd\r\n", false, false},
        {"226\r\n", "226", "\n", false, false},
        {"abc\r\n", "abc", "\n", false, false},
        {"211-Features:\r\n EPSV\r\n211 End\r\n", "211", "Features:\r\n EPSV\r\n211 End\r\n",
         false},
    };
    for (const Case& c : cases)
    {
        FtpReply reply{c.Bytes};
        EXPECT_EQ(reply.Code(), c.Code) << c.Bytes;
        EXPECT_EQ(reply.Text(), c.Text) << c.Bytes;
        EXPECT_EQ(reply.IsRefusal(), c.Refusal) << c.Bytes;
        EXPECT_EQ(reply.IsWellFormed(), c.WellFormed) << c.Bytes;
    }
}

TEST(FtpPassiveReply, ReadsTheDataPortOrNothing)
{
    struct Case
    {
        const char* Text;
        std::optional<int16_t> Port;
    };
    const std::string before200 = "227 " + std::string(200, 'x') + " (10,0,0,1,19,137)\r\n";
    const Case cases[] = {
        {"227 Entering Passive Mode (192,168,1,5,19,137).\r\n", int16_t{5001}},
        {"227 Entering Passive Mode (127,0,0,1,200,10)", static_cast<int16_t>(51210 - 65536)},
        {"227 Entering Passive Mode ( 1, 2 ,3,4,0,21)", int16_t{21}},
        {"227 (9,9,9,9,9,9) then (1,2,3,4,0,22)", int16_t{9 * 256 + 9}},
        {"227 Mode (1,2,3,4,0,23", int16_t{23}},
        {"227 Entering Passive Mode 127,0,0,1,19,137", int16_t{5001}},
        {"227 =127,0,0,1,19,137", int16_t{5001}},
        {"227-Mode\r\n227 (127,0,0,1,19,137)\r\n", int16_t{5001}},
        {before200.c_str(), int16_t{5001}},                      // long text before the numbers
        {"227 Mode (1,2 then 127,0,0,1,19,137)", int16_t{5001}}, // two numbers are no match
        {"227 Mode (127,0,0,1,19)", std::nullopt},
        {"227 Mode (127,0,0,1,19,x)", std::nullopt},
        {"227 Mode (127,0,0,1,19;137)", std::nullopt},
        {"227 Mode (127,0,0,1,19,256)", std::nullopt}, // numbers are bytes, never wrapped
        {"227 Mode (127,0,0,1,300,1)", std::nullopt},
        {"227 Mode (127,0,0,1,19,1370)", std::nullopt},
        {"227 Mode (127,0,0,1,-19,137)", std::nullopt},
        {"227 Entering Passive Mode.\r\n", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadPassivePort(c.Text), c.Port) << c.Text;
}

} // namespace
} // namespace lanvex
