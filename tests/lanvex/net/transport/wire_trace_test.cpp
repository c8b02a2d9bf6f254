// Wire trace: how bytes are described, and what reaches the trace file.
#include "lanvex/net/transport/wire_trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using lanvex::ETraceDirection;
using lanvex::ETraceFormat;

namespace
{

struct DescribeCase
{
    const char* Label;
    ETraceFormat Format;
    ETraceDirection Direction;
    std::string Bytes;
    std::vector<std::string> Lines;
};

// The label is name enough (the default prints the struct's bytes).
void PrintTo(const DescribeCase& c, std::ostream* os)
{
    *os << c.Label;
}

class DescribeWireBytesTest : public testing::TestWithParam<DescribeCase>
{
};

TEST_P(DescribeWireBytesTest, GivesOneLinePerCommandOrLine)
{
    const DescribeCase& c = GetParam();
    EXPECT_EQ(lanvex::DescribeWireBytes(c.Format, c.Direction, c.Bytes), c.Lines);
}

const std::string kIac = "\xFF";
constexpr auto kTelnet = ETraceFormat::Telnet;
constexpr auto kLines = ETraceFormat::Lines;
constexpr auto kSend = ETraceDirection::Send;
constexpr auto kReceive = ETraceDirection::Receive;

// One case a line: the bytes and their lines side by side.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Telnet, DescribeWireBytesTest, testing::Values(
    DescribeCase{"negotiation", kTelnet, kReceive, kIac + "\xFD\x01" + kIac + "\xFB\x03" + kIac + "\xFD\x18",
                 {"IAC DO ECHO", "IAC WILL SGA", "IAC DO TTYPE"}},
    DescribeCase{"unknown option and command", kTelnet, kReceive, kIac + "\xFE\xC8" + kIac + "\xC8", {"IAC DONT 200", "IAC 200"}},
    DescribeCase{"subnegotiation", kTelnet, kSend, kIac + "\xFA\x18" + std::string("\0VT", 3) + kIac + "\xF0",
                 {"IAC SB TTYPE 00 56 54 IAC SE"}},
    DescribeCase{"doubled IAC inside subnegotiation", kTelnet, kSend, kIac + "\xFA\x1F\x01" + kIac + kIac + kIac + "\xF0",
                 {"IAC SB NAWS 01 FF IAC SE"}},
    DescribeCase{"text around commands, split into lines", kTelnet, kReceive, "Debian\r\nlogin: " + kIac + "\xF9" + "x",
                 {"Debian\\r\\n", "login: ", "IAC GA", "x"}},
    DescribeCase{"doubled IAC in text is a data byte", kTelnet, kReceive, "a" + kIac + kIac + "b", {"a\\xFFb"}},
    DescribeCase{"command cut at the end", kTelnet, kReceive, "ok" + kIac + "\xFD", {"ok", "IAC DO (cut)"}},
    DescribeCase{"subnegotiation cut", kTelnet, kReceive, kIac + "\xFA\x18\x01", {"IAC SB TTYPE 01 (cut)"}}));

INSTANTIATE_TEST_SUITE_P(Lines, DescribeWireBytesTest, testing::Values(
    DescribeCase{"replies", kLines, kReceive, "220 ready\r\n230-Hi\r\n230 ok\r\n", {"220 ready", "230-Hi", "230 ok"}},
    DescribeCase{"password masked in any case", kLines, kSend, "USER u\r\npass s3cret\r\n", {"USER u", "PASS ****"}},
    DescribeCase{"empty password masked", kLines, kSend, "PASS\r\n", {"PASS ****"}},
    DescribeCase{"a reply quoting PASS is left alone", kLines, kReceive, "PASS x\r\n", {"PASS x"}},
    DescribeCase{"longer words are not PASS", kLines, kSend, "PASSIVE\r\nPASV\r\n", {"PASSIVE", "PASV"}},
    DescribeCase{"line without an end, bare line feed", kLines, kReceive, "226 Done\n150 Op", {"226 Done", "150 Op"}},
    DescribeCase{"data shows its size only", ETraceFormat::Data, kReceive, "PASS x\r\n", {"8 bytes of data"}}));
// clang-format on

struct EscapeCase
{
    const char* Label;
    std::string Bytes;
    std::string Shown;
};

void PrintTo(const EscapeCase& c, std::ostream* os)
{
    *os << c.Label;
}

class EscapeWireTextTest : public testing::TestWithParam<EscapeCase>
{
};

TEST_P(EscapeWireTextTest, KeepsTextReadableAndUnambiguous)
{
    EXPECT_EQ(lanvex::EscapeWireText(GetParam().Bytes), GetParam().Shown);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Bytes, EscapeWireTextTest, testing::Values(
    EscapeCase{"controls", std::string("a\r\n\t\0\x1b", 6), "a\\r\\n\\t\\x00\\x1B"},
    EscapeCase{"backslash", "C:\\x", "C:\\\\x"},
    EscapeCase{"valid UTF-8", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80"},
    EscapeCase{"character cut at the end", "\xE2\x82", "\\xE2\\x82"},
    EscapeCase{"overlong and surrogate forms, Latin-1", "\xC0\xAF\xED\xA0\x80\xE9!", "\\xC0\\xAF\\xED\\xA0\\x80\\xE9!"}));
// clang-format on

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class WireTraceFileTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("wire_trace_" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        m_file = m_dir / "trace.log";
    }
    void TearDown() override
    {
        lanvex::ConfigureWireTrace(nullptr);
        fs::remove_all(m_dir);
    }

    fs::path m_dir;
    fs::path m_file;
};

TEST_F(WireTraceFileTest, RecordsStampProcessComponentAndDirection)
{
    ASSERT_TRUE(lanvex::ConfigureWireTrace(m_file.c_str()));
    ASSERT_TRUE(lanvex::WireTraceOn());
    const std::string negotiation = kIac + "\xFD\x01";
    lanvex::TraceWireBytes("lvTelnet", kReceive, kTelnet, negotiation.data(), negotiation.size());
    lanvex::TraceWireSecret("lvTelnet", kSend, "password line");
    lanvex::TraceWireNote("lvFTPClient", "connecting");

    const std::string stamp =
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[)" + std::to_string(::getpid()) + "\\] ";
    const std::regex expected(stamp + "lvTelnet < IAC DO ECHO\n" + stamp +
                              R"(lvTelnet > password line \*\*\*\*\n)" + stamp +
                              R"(lvFTPClient \* connecting\n)");
    EXPECT_TRUE(std::regex_match(ReadFile(m_file), expected)) << ReadFile(m_file);
    EXPECT_EQ(fs::status(m_file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WireTraceFileTest, FullFileMovesAsideAndTheTraceGoesOn)
{
    constexpr std::size_t kCap = 400;
    ASSERT_TRUE(lanvex::ConfigureWireTrace(m_file.c_str(), kCap));
    for (int i = 0; i < 40; ++i)
        lanvex::TraceWireBytes("lvTelnet", kSend, ETraceFormat::Text, "ps auxw\r\n", 9);
    EXPECT_LE(fs::file_size(m_file), kCap);
    EXPECT_LE(fs::file_size(m_dir / "trace.log.1"), kCap);
    EXPECT_GT(fs::file_size(m_file), 0u);
    // Whole lines only, in both files.
    EXPECT_EQ(ReadFile(m_file).back(), '\n');
    EXPECT_EQ(ReadFile(m_dir / "trace.log.1").back(), '\n');
}

TEST_F(WireTraceFileTest, APipeIsWrittenButNeverMovedAside)
{
    // A device such as /dev/null behaves the same; a pipe can be made without privileges.
    ASSERT_EQ(::mkfifo(m_file.c_str(), 0600), 0);
    const int reader = ::open(m_file.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(lanvex::ConfigureWireTrace(m_file.c_str(), 100));
    for (int i = 0; i < 20; ++i)
        lanvex::TraceWireBytes("lvTelnet", kSend, ETraceFormat::Text, "ps auxw\r\n", 9);
    lanvex::ConfigureWireTrace(nullptr);
    char buffer[8192];
    EXPECT_GT(::read(reader, buffer, sizeof buffer), 20 * 40);
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(m_file));
    EXPECT_FALSE(fs::exists(m_dir / "trace.log.1"));
}

TEST_F(WireTraceFileTest, APipeNobodyReadsNeverHoldsTheCaller)
{
    ASSERT_EQ(::mkfifo(m_file.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(lanvex::ConfigureWireTrace(m_file.c_str())); // no reader: not waited for
    testing::internal::GetCapturedStderr();

    // A reader that stops reading, and one that has gone: the trace ends, the caller goes on
    // (and is not killed by SIGPIPE).
    for (const bool bReaderGone : {false, true})
    {
        const int reader = ::open(m_file.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        ASSERT_TRUE(lanvex::ConfigureWireTrace(m_file.c_str()));
        if (bReaderGone)
            ::close(reader);
        const std::string chunk(4096, 'x');
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 200 && lanvex::WireTraceOn(); ++i)
            lanvex::TraceWireBytes("lvTelnet", kReceive, ETraceFormat::Text, chunk.data(),
                                   chunk.size());
        EXPECT_FALSE(lanvex::WireTraceOn()) << bReaderGone;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << bReaderGone;
        if (!bReaderGone)
            ::close(reader);
    }
}

TEST_F(WireTraceFileTest, OffOrUnopenableWritesNothing)
{
    ASSERT_TRUE(lanvex::ConfigureWireTrace(""));
    EXPECT_FALSE(lanvex::WireTraceOn());
    lanvex::TraceWireBytes("lvTelnet", kSend, kTelnet, "x", 1);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(lanvex::ConfigureWireTrace((m_dir / "missing" / "trace.log").c_str()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open the trace file"),
              std::string::npos);
    EXPECT_FALSE(lanvex::WireTraceOn());
    lanvex::TraceWireBytes("lvTelnet", kSend, kTelnet, "x", 1);
    EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(WireTraceFileTest, DashMeansStandardError)
{
    ASSERT_TRUE(lanvex::ConfigureWireTrace("-"));
    testing::internal::CaptureStderr();
    lanvex::TraceWireBytes("lvTelnet", kReceive, kTelnet, "Login incorrect\r\n", 17);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("lvTelnet < Login incorrect\\r\\n\n"),
              std::string::npos);
}

} // namespace
