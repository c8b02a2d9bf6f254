// psvigil.cfg: reading its edge cases, the exact bytes written, and the safe replacement.
#include "watch/ui/files/config_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

class TempDir
{
  public:
    TempDir()
    {
        char pattern[] = "/tmp/cfgtestXXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string File(const char* name) const { return (m_path / name).string(); }
    const fs::path& Path() const { return m_path; }

  private:
    fs::path m_path;
};

std::string Int32Bytes(int32_t v)
{
    std::string s(4, '\0');
    std::memcpy(s.data(), &v, 4);
    return s;
}

std::string RecordBytes(const HostSettings& host)
{
    return std::string(reinterpret_cast<const char*>(&host), sizeof(host));
}

HostSettings SampleHost(const char* address)
{
    HostSettings h;
    SetAddress(h, address);
    SetUsername(h, "alice");
    SetPassword(h, "s3cret");
    h.Port = 2323;
    h.RefreshSeconds = 30;
    h.ManualRefresh = 1;
    h.KeepConnectionOpen = 0;
    h.Flavour = kFlavourSysV;
    h.FilterMode = kFilterByExpression;
    SetFilterExpression(h, "sshd");
    return h;
}

void ExpectDefaults(const HostSettings& h)
{
    EXPECT_EQ(FieldText(h.Address), "");
    EXPECT_EQ(h.Port, 23);
    EXPECT_EQ(h.RefreshSeconds, 10);
    EXPECT_EQ(h.KeepConnectionOpen, 1);
    EXPECT_EQ(h.ManualRefresh, 0);
    EXPECT_EQ(FieldText(h.Command), "ps auxw | grep %s");
}

struct EmptyCase
{
    const char* Name;
    std::string Bytes;
    bool CountRead;
};

TEST(HostListRead, FilesThatGiveAnEmptyList)
{
    const EmptyCase cases[] = {
        {"zero bytes", "", false},
        {"count cut short", std::string("\x03\x00", 2), false},
        {"count zero", Int32Bytes(0) + RecordBytes(SampleHost("a")), true},
        {"count negative", Int32Bytes(-1) + RecordBytes(SampleHost("a")), true},
        {"count most negative", Int32Bytes(INT32_MIN), true},
    };
    for (const EmptyCase& c : cases)
    {
        SCOPED_TRACE(c.Name);
        COwningPtrArray<HostSettings> hosts;
        hosts.Add(new HostSettings); // stale content must go
        const HostListReadReport report = ParseHostList(c.Bytes, hosts);
        EXPECT_TRUE(report.Opened);
        EXPECT_EQ(report.CountRead, c.CountRead);
        EXPECT_EQ(hosts.GetSize(), 0);
    }
}

TEST(HostListRead, MissingFileGivesEmptyListQuietly)
{
    TempDir dir;
    COwningPtrArray<HostSettings> hosts;
    hosts.Add(new HostSettings);
    const HostListReadReport report = ReadHostListFile(dir.File("psvigil.cfg"), hosts);
    EXPECT_FALSE(report.Opened);
    EXPECT_EQ(hosts.GetSize(), 0);
}

TEST(HostListRead, CountLargerThanRecordsFillsDefaults)
{
    const HostSettings stored = SampleHost("alpha.example");
    COwningPtrArray<HostSettings> hosts;
    const HostListReadReport report = ParseHostList(Int32Bytes(3) + RecordBytes(stored), hosts);
    ASSERT_EQ(hosts.GetSize(), 3);
    EXPECT_TRUE(report.Truncated);
    EXPECT_EQ(report.CompleteRecords, 1);
    EXPECT_EQ(std::memcmp(hosts.GetAt(0), &stored, sizeof(stored)), 0);
    ExpectDefaults(*hosts.GetAt(1));
    ExpectDefaults(*hosts.GetAt(2));
}

TEST(HostListRead, RecordCutShortKeepsDefaultsInMissingBytes)
{
    const HostSettings stored = SampleHost("beta");
    // Up to and including Password: Port and everything after it are missing.
    const std::string bytes = Int32Bytes(1) + RecordBytes(stored).substr(0, 180);
    COwningPtrArray<HostSettings> hosts;
    ParseHostList(bytes, hosts);
    ASSERT_EQ(hosts.GetSize(), 1);
    const HostSettings& h = *hosts.GetAt(0);
    EXPECT_EQ(FieldText(h.Address), "beta");
    EXPECT_EQ(FieldText(h.Password), "s3cret");
    EXPECT_EQ(h.RefreshSeconds, 30);
    EXPECT_EQ(h.Port, 23);
    EXPECT_EQ(h.Flavour, 0);
    EXPECT_EQ(FieldText(h.Command), "ps auxw | grep %s");
}

TEST(HostListRead, AbsurdCountIsBoundedByTheFileSize)
{
    COwningPtrArray<HostSettings> hosts;
    const HostListReadReport report =
        ParseHostList(Int32Bytes(INT32_MAX) + RecordBytes(SampleHost("x")), hosts);
    EXPECT_TRUE(report.CountBounded);
    EXPECT_EQ(report.StoredCount, INT32_MAX);
    EXPECT_EQ(hosts.GetSize(), 1 + kMaxDefaultedHostRecords);
}

TEST(HostListRead, FieldsWithoutTerminatorStayInsideTheirWidth)
{
    HostSettings h;
    std::memset(h.Address, 'A', sizeof(h.Address)); // no terminator on disk
    COwningPtrArray<HostSettings> hosts;
    ParseHostList(Int32Bytes(1) + RecordBytes(h), hosts);
    ASSERT_EQ(hosts.GetSize(), 1);
    EXPECT_EQ(FieldText(hosts.GetAt(0)->Address).size(), sizeof(h.Address));
}

TEST(HostListWrite, BytesAreCountThenRecordImages)
{
    COwningPtrArray<HostSettings> hosts;
    hosts.Add(new HostSettings(SampleHost("one")));
    hosts.Add(new HostSettings);
    const std::string bytes = HostListBytes(hosts);
    ASSERT_EQ(bytes.size(), 4u + 2 * 252);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\x00\x00\x00", 4));
    // Spot-check the layout of the first record: Port at 180, Flavour at 224.
    EXPECT_EQ(bytes.substr(4 + 180, 4), std::string("\x13\x09\x00\x00", 4)); // 2323
    EXPECT_EQ(bytes.substr(4 + 224, 4), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(bytes.substr(4 + 12, 4), std::string("one\0", 4));
    EXPECT_EQ(bytes.substr(4 + 252 + 8, 4), std::string("\x0a\x00\x00\x00", 4)); // 10 s

    COwningPtrArray<HostSettings> back;
    ParseHostList(bytes, back);
    ASSERT_EQ(back.GetSize(), 2);
    EXPECT_EQ(std::memcmp(back.GetAt(0), hosts.GetAt(0), 252), 0);
    EXPECT_EQ(std::memcmp(back.GetAt(1), hosts.GetAt(1), 252), 0);
}

TEST(HostListWrite, ReplacesFileOwnerOnlyAndLeavesNoTemporary)
{
    TempDir dir;
    const std::string path = dir.File("psvigil.cfg");
    {
        std::ofstream old(path);
        old << "old content that is longer than four bytes";
    }
    ::chmod(path.c_str(), 0644);
    COwningPtrArray<HostSettings> hosts;
    hosts.Add(new HostSettings(SampleHost("gamma")));
    ASSERT_TRUE(WriteHostListFile(path, hosts));

    struct stat st
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), 4u + 252);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);

    COwningPtrArray<HostSettings> back;
    ReadHostListFile(path, back);
    ASSERT_EQ(back.GetSize(), 1);
    EXPECT_EQ(FieldText(back.GetAt(0)->Address), "gamma");
}

TEST(HostListWrite, UnwritablePlaceAndFileFailsAndKeepsOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    TempDir dir;
    const std::string path = dir.File("psvigil.cfg");
    {
        std::ofstream old(path);
        old << "keep";
    }
    ::chmod(path.c_str(), 0400);
    ::chmod(dir.Path().c_str(), 0500);
    COwningPtrArray<HostSettings> hosts;
    EXPECT_FALSE(WriteHostListFile(path, hosts));
    ::chmod(dir.Path().c_str(), 0700);
    std::ifstream in(path);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}
} // namespace
