// Atomic saves: through symbolic links to the file they name, and in place where the folder
// takes no temporary file.
#include "watch/ui/files/atomic_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
std::string Content(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct LinkCase
{
    const char* Name;
    // Links made in order, each (link, what it points at); "/" before a target makes it
    // absolute inside the scratch folder. sub/real.pvg holds "old" before the save.
    std::vector<std::pair<std::string, std::string>> Links;
    const char* Saved;
    const char* Target; // where the bytes must land; "" when the save must fail
};

std::ostream& operator<<(std::ostream& os, const LinkCase& c)
{
    return os << c.Name;
}

class AtomicSaveThroughLinks : public ::testing::TestWithParam<LinkCase>
{
};

TEST_P(AtomicSaveThroughLinks, TheNamedFileIsReplacedAndTheLinksStay)
{
    const LinkCase& c = GetParam();
    char pattern[] = "/tmp/atomictestXXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    fs::create_directory(dir / "sub");
    std::ofstream(dir / "sub/real.pvg") << "old";
    for (const auto& [link, to] : c.Links)
        fs::create_symlink(to[0] == '/' ? (dir / to.substr(1)) : fs::path(to), dir / link);

    EXPECT_EQ(WriteFileAtomically(dir / c.Saved, "new", 0644), *c.Target != '\0');
    for (const auto& [link, to] : c.Links)
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    EXPECT_EQ(Content(dir / (*c.Target ? c.Target : "sub/real.pvg")), *c.Target ? "new" : "old");
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AtomicSaveThroughLinks,
    ::testing::Values(
        LinkCase{"plain file", {}, "sub/real.pvg", "sub/real.pvg"},
        LinkCase{"absolute link", {{"log.pvg", "/sub/real.pvg"}}, "log.pvg", "sub/real.pvg"},
        LinkCase{"relative link", {{"log.pvg", "sub/real.pvg"}}, "log.pvg", "sub/real.pvg"},
        LinkCase{"chain read from each link's folder",
                 {{"sub/middle.pvg", "real.pvg"}, {"log.pvg", "sub/middle.pvg"}},
                 "log.pvg",
                 "sub/real.pvg"},
        LinkCase{
            "link to a file not there yet", {{"log.pvg", "sub/new.pvg"}}, "log.pvg", "sub/new.pvg"},
        LinkCase{"loop", {{"a.pvg", "b.pvg"}, {"b.pvg", "a.pvg"}}, "a.pvg", ""}),
    [](const ::testing::TestParamInfo<LinkCase>& info)
    {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(AtomicSave, FolderWithoutRoomForATemporaryIsWrittenInPlace)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root adds files to any folder";
    const std::string big(4096, 'x');
    const struct
    {
        mode_t FileMode, Asked;
        bool Written;
        mode_t ModeAfter;
        rlim_t SizeLimit; // 0: none
    } cases[] = {
        {0644, kModeFromUmask, true, 0644, 0},     // a watch log keeps the file's mode
        {0644, 0600, true, 0600, 0},               // the host list narrows it: a password inside
        {0444, 0600, false, 0444, 0},              // a read-only file stays as it was
        {0644, kModeFromUmask, false, 0644, 1024}, // no room for the new bytes: the old stay
    };
    ::signal(SIGXFSZ, SIG_IGN);
    for (const auto& c : cases)
    {
        char pattern[] = "/tmp/atomictestXXXXXX";
        const fs::path dir = ::mkdtemp(pattern);
        const fs::path path = dir / "psvigil.cfg";
        std::ofstream(path) << "old";
        ::chmod(path.c_str(), c.FileMode);
        ::chmod(dir.c_str(), 0500);
        const std::string saved = c.SizeLimit != 0 ? big : "new";
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        if (c.SizeLimit != 0)
        {
            const rlimit limit{c.SizeLimit, before.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        EXPECT_EQ(WriteFileAtomically(path, saved, c.Asked), c.Written);
        ::setrlimit(RLIMIT_FSIZE, &before);
        struct stat st
        {
        };
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.ModeAfter);
        EXPECT_EQ(Content(path), c.Written ? saved : "old");
        ::chmod(dir.c_str(), 0700);
        fs::remove_all(dir);
    }
}

// A FIFO or a device in a file's place is no file to read: refused at once, never waited on.
TEST(ReadWholeFile, OnlyRegularFilesAreRead)
{
    char pattern[] = "/tmp/atomictestXXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::ofstream(dir / "file") << "bytes";
    std::string bytes;
    EXPECT_FALSE(ReadWholeFile(dir / "fifo", bytes));
    EXPECT_FALSE(ReadWholeFile("/dev/zero", bytes));
    EXPECT_FALSE(ReadWholeFile(dir, bytes));
    EXPECT_TRUE(ReadWholeFile(dir / "file", bytes));
    EXPECT_EQ(bytes, "bytes");
    fs::remove_all(dir);
}
} // namespace
