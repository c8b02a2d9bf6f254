// The watch log: exact bytes, length prefixes, the wide form, damaged and truncated files.
#include "watch/ui/files/watch_log.h"

#include "watch/engine/host_settings.h"
#include "watch/engine/text_field.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace
{
ProcessRow MakeRow(const char* user, int32_t pid, const char* command)
{
    ProcessRow row;
    CopyToField(row.User, user);
    CopyToField(row.PidText, std::to_string(pid));
    row.Pid = pid;
    CopyToField(row.CpuUsage, "0.5");
    CopyToField(row.Term, "pts/1");
    CopyToField(row.StartTime, "10:02AM");
    CopyToField(row.CpuTime, "0:00.05");
    CopyToField(row.Command, command);
    CopyToField(row.MemUsage, "1.5");
    CopyToField(row.Vsz, "123456");
    CopyToField(row.Rss, "7890");
    CopyToField(row.ProcessState, "Ss");
    CopyToField(row.PpidText, "1");
    row.Ppid = 1;
    row.State = kRowUpdated;
    return row;
}

WatchLogHeader MakeHeader(int32_t version)
{
    WatchLogHeader header;
    header.Version = version;
    if (version >= 2)
    {
        header.Address = "ssh://db.local";
        header.Port = 22;
        header.Transport = kTransportSsh;
        header.Flavour = 2;
        header.RefreshTime = 1796779425; // 2026-12-09T01:23:45Z
    }
    return header;
}

// A classic log keeps only the classic fields.
ProcessRow ClassicPart(ProcessRow row)
{
    ProcessRow classic;
    std::memcpy(static_cast<void*>(&classic), &row, offsetof(ProcessRow, State));
    return classic;
}

std::vector<ProcessRow> ReadAll(std::string_view bytes, ArchiveStatus* status = nullptr,
                                WatchLogHeader* header = nullptr)
{
    std::vector<ProcessRow> rows;
    const ArchiveStatus s = ReadWatchLog(
        bytes, [&](std::unique_ptr<ProcessRow> row) { rows.push_back(*row); }, header);
    if (status)
        *status = s;
    return rows;
}

TEST(WatchLog, ExactBytesOfOneRow)
{
    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow(MakeRow("bob", 42, "vi x")));
    const std::string expected = std::string("\x64\x00\x00\x00\x01\x00\x00\x00", 8) +
                                 "\x03"
                                 "bob"
                                 "\x02"
                                 "42" +
                                 std::string("\x2a\x00\x00\x00", 4) +
                                 "\x03"
                                 "0.5"
                                 "\x05"
                                 "pts/1"
                                 "\x07"
                                 "10:02AM"
                                 "\x07"
                                 "0:00.05"
                                 "\x04"
                                 "vi x";
    EXPECT_EQ(WatchLogBytes(rows), expected);
}

TEST(WatchLog, EmptyTableStartsWithMarker100)
{
    COwningPtrArray<ProcessRow> rows;
    EXPECT_EQ(WatchLogBytes(rows), std::string("\x64\x00\x00\x00\x00\x00\x00\x00", 8));
}

TEST(WatchLog, RoundTripKeepsRowsAndOrderButNotState)
{
    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow(MakeRow("root", 1, "/sbin/init splash")));
    rows.Add(new ProcessRow(MakeRow("alice", 4711, std::string(255, 'c').c_str())));
    rows.Add(new ProcessRow(MakeRow("", -5, "")));
    for (int32_t version : {1, 2})
    {
        SCOPED_TRACE(version);
        ArchiveStatus status{};
        WatchLogHeader header;
        const WatchLogHeader written = MakeHeader(version);
        const std::vector<ProcessRow> back =
            ReadAll(WatchLogBytes(rows, written), &status, &header);
        EXPECT_EQ(status, ArchiveStatus::Ok);
        EXPECT_EQ(header.Version, version);
        EXPECT_EQ(header.Address, written.Address);
        EXPECT_EQ(header.Port, written.Port);
        EXPECT_EQ(header.Transport, written.Transport);
        EXPECT_EQ(header.Flavour, written.Flavour);
        EXPECT_EQ(header.RefreshTime, written.RefreshTime);
        ASSERT_EQ(back.size(), 3u);
        for (int i = 0; i < 3; ++i)
        {
            ProcessRow expected = *rows.GetAt(i);
            if (version == 1)
                expected = ClassicPart(expected);
            expected.State = kRowNew;
            EXPECT_EQ(std::memcmp(&back[static_cast<std::size_t>(i)], &expected, sizeof(expected)),
                      0)
                << i;
        }
    }
}

// Every field of a version-2 header that holds what no writer stores makes the file
// unreadable, as does anything after the last row.
TEST(WatchLog, Version2WithAWrongFieldIsNotALog)
{
    struct WrongCase
    {
        const char* Name;
        void (*Damage)(WatchLogHeader&);
        const char* Tail;
    };
    const WrongCase cases[] = {
        {"port", [](WatchLogHeader& h) { h.Port = 65536; }, ""},
        {"negative port", [](WatchLogHeader& h) { h.Port = -1; }, ""},
        {"transport", [](WatchLogHeader& h) { h.Transport = 3; }, ""},
        {"flavour", [](WatchLogHeader& h) { h.Flavour = 3; }, ""},
        {"time before 1970", [](WatchLogHeader& h) { h.RefreshTime = -1; }, ""},
        {"time after 9999", [](WatchLogHeader& h) { h.RefreshTime = kLatestRefreshTime + 1; }, ""},
        {"a byte after the rows", [](WatchLogHeader&) {}, "x"},
    };
    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow(MakeRow("a", 1, "one")));
    for (const WrongCase& c : cases)
    {
        SCOPED_TRACE(c.Name);
        WatchLogHeader header = MakeHeader(2);
        c.Damage(header);
        ArchiveStatus status{};
        ReadAll(WatchLogBytes(rows, header) + c.Tail, &status);
        EXPECT_EQ(status, ArchiveStatus::BadFormat);
    }
    // An address longer than a host record holds is cut by writers, so a longer one is damage.
    CArchiveWriter out;
    out.WriteInt32(100);
    out.WriteInt32(-2);
    out.WriteString(std::string(128, 'h'));
    ArchiveStatus status{};
    ReadAll(out.Bytes() + WatchLogBytes(rows, MakeHeader(2)).substr(8 + 1 + 14), &status);
    EXPECT_EQ(status, ArchiveStatus::BadFormat);
    WatchLogHeader longAddress = MakeHeader(2);
    longAddress.Address = std::string(200, 'h');
    WatchLogHeader back;
    ReadAll(WatchLogBytes(rows, longAddress), &status, &back);
    EXPECT_EQ(back.Address, std::string(127, 'h'));
}

struct PrefixCase
{
    std::size_t Length;
    std::string Prefix;
};

TEST(ArchiveStream, LengthPrefixForms)
{
    const PrefixCase cases[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {0xFFFD, std::string("\xFF\xFD\xFF", 3)},
        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    for (const PrefixCase& c : cases)
    {
        SCOPED_TRACE(c.Length);
        CArchiveWriter out;
        const std::string text(c.Length, 'x');
        out.WriteString(text);
        ASSERT_EQ(out.Bytes().size(), c.Prefix.size() + c.Length);
        EXPECT_EQ(out.Bytes().substr(0, c.Prefix.size()), c.Prefix);

        // Read back into a field that is too small: cut, terminated, nothing past it.
        char field[21];
        std::memset(field, '#', sizeof(field));
        CArchiveReader in(out.Bytes());
        EXPECT_EQ(in.ReadStringInto(field, 20), ArchiveStatus::Ok);
        EXPECT_EQ(in.Remaining(), 0u);
        EXPECT_EQ(std::string(field), std::string(std::min<std::size_t>(c.Length, 19), 'x'));
        EXPECT_EQ(field[20], '#');
    }
}

TEST(ArchiveStream, WideStringsArriveAsUtf8)
{
    struct WideCase
    {
        std::u16string Text;
        std::size_t Width;
        std::string Expected;
    };
    const WideCase cases[] = {
        {u"plain", 20, "plain"},
        {u"M\u00fcller", 20, "M\u00fcller"},
        {u"a\u20acb", 20, "a\u20acb"},
        {u"\U0001D11E!", 20, "\U0001D11E!"},
        {u"ab\u20ac", 5, "ab"}, // the 3-byte euro does not fit in 4 bytes after "ab"
        {u"\u00e9\u00e9\u00e9", 6, "\u00e9\u00e9"}, // 5 bytes of room: two whole characters
        {std::u16string(1, char16_t(0xD800)) + u"x", 20, "\uFFFDx"}, // lone surrogate
        {std::u16string(300, u'w'), 256, std::string(255, 'w')},     // long form inside
    };
    for (const WideCase& c : cases)
    {
        CArchiveWriter out;
        out.WriteWideString(c.Text);
        out.WriteString("next");
        std::vector<char> field(c.Width);
        char next[8];
        CArchiveReader in(out.Bytes());
        ASSERT_EQ(in.ReadStringInto(field.data(), field.size()), ArchiveStatus::Ok);
        ASSERT_EQ(in.ReadStringInto(next), ArchiveStatus::Ok);
        EXPECT_EQ(std::string(field.data()), c.Expected);
        EXPECT_STREQ(next, "next");
    }
}

TEST(ArchiveStream, WideMarkerTwiceIsBadFormat)
{
    const std::string bytes("\xFF\xFE\xFF\xFF\xFE\xFF\x01\x00", 8);
    CArchiveReader in(bytes);
    char field[8];
    EXPECT_EQ(in.ReadStringInto(field), ArchiveStatus::BadFormat);
}

TEST(ArchiveStream, HugeLengthsEndTheFileInsteadOfAllocating)
{
    const std::string cases[] = {
        std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFFshort", 12),        // 4 GiB narrow
        std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x41", 10), // 8 GiB wide
        std::string("\xFF\xFC\xFF"
                    "abc",
                    6), // 65532 > 3 left
    };
    for (const std::string& bytes : cases)
    {
        CArchiveReader in(bytes);
        char field[20];
        EXPECT_EQ(in.ReadStringInto(field), ArchiveStatus::EndOfFile);
    }
}

TEST(WatchLog, EveryTruncationEndsEarlyWithRowsBeforeItKept)
{
    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow(MakeRow("a", 1, "one")));
    COwningPtrArray<ProcessRow> oneRow;
    oneRow.Add(new ProcessRow(MakeRow("a", 1, "one")));
    rows.Add(new ProcessRow(MakeRow("b", 2, "two")));
    for (int32_t version : {1, 2})
    {
        const std::string full = WatchLogBytes(rows, MakeHeader(version));
        const std::size_t firstRowEnd = WatchLogBytes(oneRow, MakeHeader(version)).size();
        for (std::size_t cut = 0; cut < full.size(); ++cut)
        {
            ArchiveStatus status{};
            const std::vector<ProcessRow> got =
                ReadAll(std::string_view(full).substr(0, cut), &status);
            EXPECT_EQ(status, ArchiveStatus::EndOfFile) << version << " " << cut;
            EXPECT_EQ(got.size(), cut >= firstRowEnd ? 1u : 0u) << version << " " << cut;
        }
    }
}

// No writer produces a negative count: random bytes must not pass for an empty log.
TEST(WatchLog, NegativeCountIsNotALog)
{
    ArchiveStatus status{};
    EXPECT_TRUE(ReadAll(std::string("\x64\0\0\0\xFF\xFF\xFF\xFF", 8), &status).empty());
    EXPECT_EQ(status, ArchiveStatus::BadFormat);
}

TEST(WatchLogFile, MessagesForMissingAndDamagedFiles)
{
    char dir[] = "/tmp/pvgtestXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string missing = std::string(dir) + "/missing.pvg";
    const std::string damaged = std::string(dir) + "/damaged.pvg";
    {
        std::ofstream out(damaged, std::ios::binary);
        out.write("\x64\0\0\0\x05\0\0\0\x03"
                  "ab",
                  11);
    }
    std::string error;
    auto ignore = [](std::unique_ptr<ProcessRow>) {};
    EXPECT_FALSE(LoadWatchLogFile(missing, ignore, &error));
    EXPECT_EQ(error, "Failed to open document.");
    EXPECT_FALSE(LoadWatchLogFile(damaged, ignore, &error));
    EXPECT_EQ(error, "Unexpected file format.");

    COwningPtrArray<ProcessRow> rows;
    rows.Add(new ProcessRow(MakeRow("c", 3, "three")));
    const std::string saved = std::string(dir) + "/saved.pvg";
    ASSERT_TRUE(SaveWatchLogFile(saved, rows, &error));
    int count = 0;
    EXPECT_TRUE(LoadWatchLogFile(
        saved, [&](std::unique_ptr<ProcessRow>) { ++count; }, &error));
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(SaveWatchLogFile(std::string(dir) + "/no/such/dir.pvg", rows, &error));
    EXPECT_EQ(error, "Failed to save document.");
    std::filesystem::remove_all(dir);
}
} // namespace
