// The options answered before any window exists, and the folder --desktop works in.
#include "watch/ui/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace
{
TEST(EarlyOptions, HelpVersionAndDesktopAreFoundAnywhere)
{
    const struct
    {
        std::vector<std::string> Arguments;
        bool Help, Version, Desktop;
    } cases[] = {
        {{"psvigil"}, false, false, false},
        {{"psvigil", "--help"}, true, false, false},
        {{"psvigil", "-h"}, true, false, false},
        {{"psvigil", "a.pvg", "--version"}, false, true, false},
        {{"psvigil", "--desktop", "/home/kim/a.pvg"}, false, false, true},
        // The program's own name is no option.
        {{"--help"}, false, false, false},
        {{"psvigil", "--helpful", "-Embedding"}, false, false, false},
    };
    for (const auto& c : cases)
    {
        const EarlyOptions o = ParseEarlyOptions(c.Arguments);
        EXPECT_EQ(o.Help, c.Help) << c.Arguments.back();
        EXPECT_EQ(o.Version, c.Version) << c.Arguments.back();
        EXPECT_EQ(o.Desktop, c.Desktop) << c.Arguments.back();
    }
    EXPECT_NE(HelpText().find("--desktop"), std::string::npos);
    EXPECT_EQ(VersionText(), "psvigil (Vigilor) 1.0\n");
}

TEST(DesktopFolder, FollowsTheBaseDirectoryRules)
{
    const struct
    {
        const char* XdgConfigHome;
        const char* Home;
        const char* Expected;
    } cases[] = {
        {"/x/config", "/home/kim", "/x/config/psvigil"},
        {nullptr, "/home/kim", "/home/kim/.config/psvigil"},
        {"", "/home/kim", "/home/kim/.config/psvigil"},
        {"relative/config", "/home/kim", "/home/kim/.config/psvigil"},
        {nullptr, nullptr, ""},
        {nullptr, "relative", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DesktopConfigDir(c.XdgConfigHome, c.Home), c.Expected)
            << (c.XdgConfigHome ? c.XdgConfigHome : "(unset)");
}

TEST(DesktopFolder, IsCreatedAndEnteredOrLeftAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    const std::string target = QDir(dir.path()).filePath("config/psvigil").toStdString();
    std::string previous;
    ASSERT_TRUE(EnterDesktopConfigDir(target, &previous));
    EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(),
              QFileInfo(QString::fromStdString(target)).canonicalFilePath());
    EXPECT_EQ(previous, before.toStdString());
    // Entering it again (it exists now) works too.
    EXPECT_TRUE(EnterDesktopConfigDir(target, nullptr));
    QDir::setCurrent(before);

    // A file in the way, or no folder at all: the current directory stays.
    const std::string blocked = QDir(dir.path()).filePath("file").toStdString();
    {
        QFile file(QString::fromStdString(blocked));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(EnterDesktopConfigDir(blocked + "/psvigil", &previous));
    EXPECT_FALSE(EnterDesktopConfigDir("", &previous));
    EXPECT_EQ(QDir::currentPath(), before);
}
} // namespace
