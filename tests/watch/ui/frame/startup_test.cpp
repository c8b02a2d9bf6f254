// Start-up pieces: command line, splash, recent files, desktop registration, About box.
#include "watch/ui/frame/about_box.h"
#include "watch/ui/frame/desktop_registration.h"
#include "watch/ui/frame/recent_file_list.h"
#include "watch/ui/frame/resources/artwork.h"
#include "watch/ui/frame/splash_window.h"

#include "tests/watch/ui/frame/frame_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

namespace
{

TEST(CommandLine, EmbeddingOrAutomationTurnsTheSplashOff)
{
    struct Case
    {
        QStringList Arguments;
        bool Splash;
    };
    const Case cases[] = {
        {{"psvigil"}, true},
        {{"psvigil", "log.pvg"}, true},
        {{"psvigil", "-Embedding"}, false},
        {{"psvigil", "-embedding"}, false},
        {{"psvigil", "--Automation", "x.pvg"}, false},
        {{"psvigil", "-Embed"}, true},
        {{"psvigil", "Automation"}, true}, // a file of that name, not a flag
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandLineAllowsSplash(c.Arguments), c.Splash)
            << c.Arguments.join(' ').toStdString();
}

class SplashTest : public ::testing::Test
{
  protected:
    // Counts the key and mouse presses that get through to it.
    class CProbe : public QWidget
    {
      public:
        int m_keys = 0;
        int m_clicks = 0;

      protected:
        void keyPressEvent(QKeyEvent*) override { ++m_keys; }
        void mousePressEvent(QMouseEvent*) override { ++m_clicks; }
    };

    void SetUp() override
    {
        m_owner.resize(300, 200);
        m_owner.show();
        CStartupSplash::EnableSplash(true);
    }
    void TearDown() override
    {
        if (CStartupSplash* splash = CStartupSplash::Current())
            splash->HideSplash();
        CStartupSplash::EnableSplash(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    CProbe m_owner;
};

TEST_F(SplashTest, NotShownWhenNotAllowedAndAtMostOneAtATime)
{
    CStartupSplash::EnableSplash(false);
    CStartupSplash::ShowSplash(&m_owner);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);

    CStartupSplash::EnableSplash(true);
    CStartupSplash::ShowSplash(&m_owner);
    CStartupSplash* first = CStartupSplash::Current();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->size(), QSize(kSplashWidth, kSplashHeight));
    CStartupSplash::ShowSplash(&m_owner);
    EXPECT_EQ(CStartupSplash::Current(), first);
}

TEST_F(SplashTest, KeyPressClosesItAndGoesNoFurther)
{
    CStartupSplash::ShowSplash(&m_owner);
    ASSERT_NE(CStartupSplash::Current(), nullptr);
    QTest::keyClick(&m_owner, Qt::Key_A);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
    EXPECT_EQ(m_owner.m_keys, 0);
    QTest::keyClick(&m_owner, Qt::Key_A);
    EXPECT_EQ(m_owner.m_keys, 1);
}

TEST_F(SplashTest, MouseClickClosesItAndGoesNoFurther)
{
    CStartupSplash::ShowSplash(&m_owner);
    ASSERT_NE(CStartupSplash::Current(), nullptr);
    QTest::mouseClick(&m_owner, Qt::RightButton);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
    EXPECT_EQ(m_owner.m_clicks, 0);
    QTest::mouseClick(&m_owner, Qt::LeftButton);
    EXPECT_EQ(m_owner.m_clicks, 1);
}

TEST_F(SplashTest, GoesAwayByItselfAfterItsTime)
{
    QElapsedTimer clock;
    clock.start();
    CStartupSplash::ShowSplash(&m_owner);
    ASSERT_NE(CStartupSplash::Current(), nullptr);
    QTest::qWait(CStartupSplash::kTimeoutMs - 500);
    EXPECT_NE(CStartupSplash::Current(), nullptr);
    EXPECT_TRUE(WaitUntil([] { return CStartupSplash::Current() == nullptr; }, 2000));
    EXPECT_GE(clock.elapsed(), CStartupSplash::kTimeoutMs - 50);
}

TEST(RecentFileList, KeepsFourMostRecentFirstWithoutDuplicates)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("psvigil.ini"), QSettings::IniFormat);
    CRecentFileList list(&settings);
    for (const char* name : {"a.pvg", "b.pvg", "c.pvg", "d.pvg", "e.pvg"})
        list.Add(dir.filePath(name));
    list.Add(dir.filePath("sub/../c.pvg"));
    ASSERT_EQ(list.GetSize(), 4);
    EXPECT_EQ(list.GetAt(0), dir.filePath("c.pvg"));
    EXPECT_EQ(list.GetAt(1), dir.filePath("e.pvg"));
    EXPECT_EQ(list.GetAt(3), dir.filePath("b.pvg"));
    list.WriteList();

    EXPECT_EQ(settings.value("Recent File List/File1").toString(), dir.filePath("c.pvg"));
    EXPECT_EQ(settings.value("Recent File List/File4").toString(), dir.filePath("b.pvg"));

    list.Remove(0);
    list.WriteList();
    EXPECT_FALSE(settings.contains("Recent File List/File4"));

    CRecentFileList reread(&settings);
    reread.ReadList();
    ASSERT_EQ(reread.GetSize(), 3);
    EXPECT_EQ(reread.GetAt(0), dir.filePath("e.pvg"));
    EXPECT_TRUE(reread.GetMenuText(0).startsWith("&1 "));
}

TEST(DesktopRegistration, WritesTheTypeAndEntryAndRepeatsQuietly)
{
    QTemporaryDir dir;
    const QString program = "/opt/my apps/psvigil";
    ASSERT_TRUE(RegisterDocumentType(dir.path(), program));

    QFile mime(dir.filePath("mime/packages/psvigil.xml"));
    ASSERT_TRUE(mime.open(QIODevice::ReadOnly));
    const QByteArray xml = mime.readAll();
    EXPECT_TRUE(xml.contains("<glob pattern=\"*.pvg\"/>"));
    EXPECT_TRUE(xml.contains("<comment>Psvig Document</comment>"));
    EXPECT_TRUE(xml.contains(kWatchLogMimeType));

    QFile entry(dir.filePath("applications/psvigil.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray desktop = entry.readAll();
    EXPECT_TRUE(desktop.contains("Exec=\"/opt/my apps/psvigil\" --desktop %f\n"));
    EXPECT_TRUE(desktop.contains(QByteArray("MimeType=") + kWatchLogMimeType + ";\n"));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("icons/hicolor/64x64/apps/psvigil.png")));

    const QDateTime before = QFileInfo(entry).lastModified();
    QTest::qWait(20);
    EXPECT_TRUE(RegisterDocumentType(dir.path(), program));
    EXPECT_EQ(QFileInfo(entry.fileName()).lastModified(), before);

    // A registration that cannot be written reports false and nothing else.
    QFile blocker(dir.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(RegisterDocumentType(dir.filePath("blocked"), program));
}

TEST(DesktopRegistration, AProgramWhosePrefixHasAnEntryLeavesTheMenuToIt)
{
    QTemporaryDir prefix;
    QTemporaryDir data;
    const QString program = prefix.filePath("bin/psvigil");
    ASSERT_TRUE(RegisterDocumentType(data.path(), program)); // as an earlier version did
    const QString userEntry = data.filePath("applications/psvigil.desktop");
    QFile mine(data.filePath("mime/packages/other.xml")); // the user's own file stays
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("x") == 1);
    mine.close();

    ASSERT_TRUE(QDir(prefix.path()).mkpath("share/applications"));
    QFile packaged(prefix.filePath("share/applications/psvigil.desktop"));
    ASSERT_TRUE(packaged.open(QIODevice::WriteOnly) && packaged.write("[Desktop Entry]\n") > 0);
    packaged.close();
    EXPECT_TRUE(PrefixHasDesktopEntry(program));
    EXPECT_TRUE(RegisterDocumentType(data.path(), program));
    EXPECT_FALSE(QFileInfo::exists(userEntry));
    EXPECT_FALSE(QFileInfo::exists(data.filePath("mime/packages/psvigil.xml")));
    EXPECT_FALSE(QFileInfo::exists(data.filePath("icons/hicolor/64x64/apps/psvigil.png")));
    EXPECT_TRUE(mine.exists());
}

TEST(DesktopRegistration, ExecLineQuotesWhatTheShellWouldReadDifferently)
{
    EXPECT_EQ(DesktopExecLine("/usr/bin/psvigil"), "\"/usr/bin/psvigil\" --desktop %f");
    EXPECT_EQ(DesktopExecLine("/a$b/p\"q"), "\"/a\\\\$b/p\\\\\"q\" --desktop %f");
    EXPECT_EQ(DesktopExecLine("/a\\b/50%"), "\"/a\\\\\\\\b/50%%\" --desktop %f");
}

TEST(AboutBox, ShowsTheVersionLine)
{
    CAboutBox about;
    EXPECT_EQ(about.windowTitle(), "About");
    auto* version = about.findChild<QLabel*>("version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "Vigilor Version 1.0");
}

} // namespace
