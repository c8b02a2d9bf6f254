// Atomic saves: through symbolic links to the file they name, and in place where the folder
// takes no temporary file.
#include "watch/ui/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
class Scratch
{
  public:
    Scratch()
    {
        char pattern[] = "/tmp/atomictestXXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~Scratch()
    {
        for (const auto& entry : fs::recursive_directory_iterator(m_path))
            if (!entry.is_symlink() && entry.is_directory())
                ::chmod(entry.path().c_str(), 0700);
        ::chmod(m_path.c_str(), 0700);
        fs::remove_all(m_path);
    }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

  private:
    fs::path m_path;
};

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

int Temporaries(const std::string& dir)
{
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        n += entry.path().filename().string().find(".tmp") != std::string::npos;
    return n;
}

struct LinkCase
{
    const char* Name;
    // Links to make, each (link, what it points at), made in order after "sub/" and the
    // target's old content exist.
    std::vector<std::pair<std::string, std::string>> Links;
    const char* Saved;  // the path written
    const char* Target; // where the bytes must land ("" when the save must fail)
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
    Scratch dir;
    fs::create_directory(dir / "sub");
    Put(dir / "sub/real.pvg", "old");
    for (const auto& [link, to] : c.Links)
        fs::create_symlink(to, dir / link);

    const bool ok = WriteFileAtomically(dir / c.Saved, "new", 0644);
    EXPECT_EQ(ok, *c.Target != '\0');
    for (const auto& [link, to] : c.Links)
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    if (ok)
    {
        EXPECT_EQ(Content(dir / c.Target), "new");
        EXPECT_EQ(Temporaries(dir / ""), 0);
    }
    else
    {
        EXPECT_EQ(Content(dir / "sub/real.pvg"), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AtomicSaveThroughLinks,
    ::testing::Values(LinkCase{"plain file", {}, "sub/real.pvg", "sub/real.pvg"},
                      LinkCase{"relative link into a folder",
                               {{"log.pvg", "sub/real.pvg"}},
                               "log.pvg",
                               "sub/real.pvg"},
                      LinkCase{"chain of links",
                               {{"sub/middle.pvg", "real.pvg"}, {"log.pvg", "sub/middle.pvg"}},
                               "log.pvg",
                               "sub/real.pvg"},
                      LinkCase{"link to a file not there yet",
                               {{"log.pvg", "sub/fresh.pvg"}},
                               "log.pvg",
                               "sub/fresh.pvg"},
                      LinkCase{"link loop", {{"a.pvg", "b.pvg"}, {"b.pvg", "a.pvg"}}, "a.pvg", ""}),
    [](const ::testing::TestParamInfo<LinkCase>& info)
    {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(AtomicSave, AbsoluteLinkTargetIsFollowed)
{
    Scratch dir;
    fs::create_directory(dir / "sub");
    Put(dir / "sub/real.pvg", "old");
    fs::create_symlink(dir / "sub/real.pvg", dir / "log.pvg");
    EXPECT_EQ(FinalLinkTarget(dir / "log.pvg"), dir / "sub/real.pvg");
    ASSERT_TRUE(WriteFileAtomically(dir / "log.pvg", "new", 0644));
    EXPECT_TRUE(fs::is_symlink(dir / "log.pvg"));
    EXPECT_EQ(Content(dir / "sub/real.pvg"), "new");
}

TEST(AtomicSave, FolderWithoutRoomForATemporaryIsWrittenInPlace)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root adds files to any folder";
    const struct
    {
        mode_t FileMode;
        mode_t Asked;
        bool Written;
        mode_t ModeAfter;
    } cases[] = {
        {0644, kModeFromUmask, true, 0644}, // a watch log keeps its mode
        {0644, 0600, true, 0600},           // the host list narrows it: a password inside
        {0444, 0600, false, 0444},          // a read-only file stays as it was
    };
    for (const auto& c : cases)
    {
        Scratch dir;
        const std::string path = dir / "psvigil.cfg";
        Put(path, "old content");
        ::chmod(path.c_str(), c.FileMode);
        ::chmod((dir / "").c_str(), 0500);
        int cause = 0;
        EXPECT_EQ(WriteFileAtomically(path, "new", c.Asked, &cause), c.Written) << cause;
        struct stat st
        {
        };
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.ModeAfter);
        EXPECT_EQ(Content(path), c.Written ? "new" : "old content");
        EXPECT_NE(cause, c.Written ? -1 : 0);
    }
}
} // namespace
