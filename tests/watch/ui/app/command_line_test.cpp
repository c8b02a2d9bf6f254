// The options answered before any window exists, and the folder --desktop works in.
#include "watch/ui/app/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace
{
TEST(EarlyOptions, FoundAfterTheProgramNameOnly)
{
    const struct
    {
        std::vector<std::string> Arguments;
        bool Help, Version, Desktop;
        std::string Unknown;
    } cases[] = {
        {{"psvigil", "-h"}, true, false, false, ""},
        {{"psvigil", "a.pvg", "--version"}, false, true, false, ""},
        {{"psvigil", "--desktop", "/home/kim/a.pvg"}, false, false, true, ""},
        {{"--help"}, false, false, false, ""},
        {{"psvigil", "--helpful", "-Embedding"}, false, false, false, "--helpful"},
        {{"psvigil", "-platform", "--bogus", "--style=fusion", "-reverse", "-"},
         false,
         false,
         false,
         ""},
        {{"psvigil", "/automation", "-AUTOMATION", "--bogus", "-x"},
         false,
         false,
         false,
         "--bogus"},
    };
    for (const auto& c : cases)
    {
        const EarlyOptions o = ParseEarlyOptions(c.Arguments);
        EXPECT_EQ(std::tuple(o.Help, o.Version, o.Desktop, o.Unknown),
                  std::tuple(c.Help, c.Version, c.Desktop, c.Unknown))
            << c.Arguments.back();
    }
}

TEST(DesktopFolder, FollowsTheBaseDirectoryRules)
{
    const struct
    {
        const char *XdgConfigHome, *Home, *Expected;
    } cases[] = {
        {"/x/config", "/home/kim", "/x/config/psvigil"},
        {nullptr, "/home/kim", "/home/kim/.config/psvigil"},
        {"relative/config", "/home/kim", "/home/kim/.config/psvigil"},
        {nullptr, "relative", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DesktopConfigDir(c.XdgConfigHome, c.Home), c.Expected) << c.Expected;
}

TEST(DesktopFolder, IsCreatedAndEnteredOrLeftAlone)
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    const std::string target = QDir(dir.path()).filePath("config/psvigil").toStdString();
    std::string previous;
    ASSERT_TRUE(EnterDesktopConfigDir(target, &previous));
    EXPECT_EQ(QDir::currentPath().toStdString(), target);
    EXPECT_EQ(previous, before.toStdString());
    QDir::setCurrent(before);

    // Below a plain file no folder can be made: the current directory stays.
    QFile(QDir(dir.path()).filePath("file")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(
        EnterDesktopConfigDir(QDir(dir.path()).filePath("file/psvigil").toStdString(), &previous));
    EXPECT_EQ(QDir::currentPath(), before);
}
} // namespace
