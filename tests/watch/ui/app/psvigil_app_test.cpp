// Start-up as a whole: the frame, the document and the view wired together by the application.
#include "watch/ui/app/psvigil_app.h"

#include "tests/watch/ui/frame/frame_test_support.h"
#include "watch/engine/local_host.h"
#include "watch/engine/notify_sink.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/files/watch_log.h"
#include "watch/ui/frame/main_frame.h"
#include "watch/ui/frame/qt_notify_sink.h"
#include "watch/ui/frame/status_pane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace
{

ProcessRow* MakeRow(int pid, const char* command)
{
    auto* row = new ProcessRow;
    std::snprintf(row->User, sizeof row->User, "kim");
    std::snprintf(row->PidText, sizeof row->PidText, "%d", pid);
    row->Pid = pid;
    std::snprintf(row->Command, sizeof row->Command, "%s", command);
    return row;
}

class PsvigilAppTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Starting registers Lanvex where the hive lacks it: never in the user's own hive.
        qputenv("COMRT_REGISTRY", m_dir.filePath("start.reg").toLocal8Bit());
        m_previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());

        COwningPtrArray<HostSettings> hosts;
        for (const char* address : {"alpha", "beta"})
        {
            auto* host = new HostSettings;
            SetAddress(*host, address);
            hosts.Add(host);
        }
        ASSERT_TRUE(WriteHostListFile(kConfigFileName, hosts));

        COwningPtrArray<ProcessRow> rows;
        rows.Add(MakeRow(10, "init"));
        rows.Add(MakeRow(9, "cron"));
        std::string error;
        ASSERT_TRUE(SaveWatchLogFile("saved.pvg", rows, &error)) << error;
    }
    void TearDown() override
    {
        QDir::setCurrent(m_previous);
        qunsetenv("COMRT_REGISTRY");
    }

    QTemporaryDir m_dir;
    QString m_previous;
    CPsvigilApp m_app;
};

TEST_F(PsvigilAppTest, StartsUntitledWithTheStoredHosts)
{
    ASSERT_TRUE(m_app.InitInstance({"psvigil", "-Embedding"}));
    CMainFrame* frame = m_app.GetMainFrame();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->acceptDrops());
    EXPECT_EQ(frame->windowTitle(), "Untitled - Vigilor");
    EXPECT_EQ(frame->GetPaneText(kPaneTotal), "Total : 0");

    QMenu menu;
    frame->BuildHostMenu(&menu);
    ASSERT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(menu.actions()[1]->text(), "beta");
}

TEST_F(PsvigilAppTest, StartedWithAWatchLogStillLoadsTheStoredHosts)
{
    ASSERT_TRUE(m_app.InitInstance({"psvigil", "-Embedding", "saved.pvg"}));
    CMainFrame* frame = m_app.GetMainFrame();
    EXPECT_EQ(frame->windowTitle(), "saved.pvg (watch log) - Vigilor");
    EXPECT_EQ(frame->GetPaneText(kPaneTotal), "Total : 2");
    EXPECT_EQ(m_app.GetDocument()->ProcessTable().GetSize(), 2);
    EXPECT_EQ(m_app.GetDocument()->HostList().GetSize(), 2);
}

// Without psvigil.cfg the list holds this computer, --watch starts it, and nothing is written.
TEST_F(PsvigilAppTest, AFreshStartWatchesThisComputer)
{
    ASSERT_TRUE(QFile::remove(kConfigFileName));
    ASSERT_TRUE(m_app.InitInstance({"psvigil", "-Embedding", "--watch", "local:"}));
    const COwningPtrArray<HostSettings>& hosts = m_app.GetDocument()->HostList();
    ASSERT_EQ(hosts.GetSize(), 1);
    EXPECT_TRUE(IsLocalHost(*hosts.GetAt(0)));
    CMainFrame* frame = m_app.GetMainFrame();
    QMenu menu;
    frame->BuildHostMenu(&menu);
    EXPECT_EQ(menu.actions().value(0)->text(), kLocalHostName);
    EXPECT_TRUE(
        WaitUntil([&] { return frame->GetPaneText(kPaneRefresh).startsWith("Refreshed"); }, 10000));
    EXPECT_NE(frame->GetPaneText(kPaneTotal), "Total : 0");
    EXPECT_FALSE(QFile::exists(kConfigFileName));
}

TEST_F(PsvigilAppTest, SnapshotPostedByTheEngineReachesTheView)
{
    ASSERT_TRUE(m_app.InitInstance({"psvigil", "-Embedding"}));
    CWatchEngine& engine = m_app.GetDocument()->Engine();
    {
        CAutoLock lock(engine.GetLock());
        engine.GetSnapshot().Add(MakeRow(1, "init"));
        engine.GetSnapshot().Add(MakeRow(2, "kthreadd"));
        engine.GetSnapshot().Add(MakeRow(3, "sshd"));
    }
    CQtNotifySink* sink = m_app.GetNotifySink();
    sink->PostNotify(WM_WATCH_STATUS, kStatusRunBegins, 0);
    sink->PostNotify(WM_WATCH_TABLE, 0, 0);
    sink->PostNotify(WM_WATCH_STATUS, kStatusRefreshed, kRefreshOk);
    CMainFrame* frame = m_app.GetMainFrame();
    ASSERT_TRUE(WaitUntil([&] { return frame->GetPaneText(kPaneTotal) == "Total : 3"; }));
    EXPECT_TRUE(frame->IsRunning());
    EXPECT_TRUE(
        WaitUntil([&] { return frame->GetPaneText(kPaneRefresh).startsWith("Refreshed "); }));
}

TEST_F(PsvigilAppTest, QuickPickRunsTheEngineAndTheFrameFollowsIt)
{
    // An empty component hive: the telnet session cannot be created, so every refresh of the
    // real engine reports "Unable to connect" without touching the network.
    qputenv("COMRT_REGISTRY", m_dir.filePath("empty.reg").toLocal8Bit());
    m_app.SetLanvexCandidates({}); // and no library to register
    ASSERT_TRUE(m_app.InitInstance({"psvigil", "-Embedding"}));
    CMainFrame* frame = m_app.GetMainFrame();
    QStringList messages;
    frame->SetMessageReporter([&](const QString& text) { messages << text; });

    QMenu menu;
    frame->BuildHostMenu(&menu);
    ASSERT_FALSE(menu.actions().isEmpty());
    menu.actions().first()->trigger();
    ASSERT_TRUE(WaitUntil([&] { return frame->GetPaneText(kPaneRefresh) == "Unable to connect"; }));
    EXPECT_TRUE(frame->IsRunning());
    EXPECT_FALSE(frame->GetCommand(kCmdHostWatch)->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return frame->GetPaneText(kPaneCountdown) == "9 sec."; }));

    frame->GetCommand(kCmdHostStop)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !frame->IsRunning(); }));
    EXPECT_EQ(frame->GetPaneText(kPaneCountdown), "");
    EXPECT_EQ(frame->GetPaneText(kPaneRefresh), "Unable to connect");
    EXPECT_TRUE(frame->GetCommand(kCmdHostWatch)->isEnabled());
    // Why, once, and as the pane's tool tip.
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Unable to connect: ")) << messages[0].toStdString();
    EXPECT_TRUE(frame->GetPane(kPaneRefresh)->toolTip().contains("not registered"));

    // Going down in the middle of a run: the frame leaves first, the engine's worker is
    // joined with the document, and nothing it posts meanwhile reaches a dead frame.
    frame->BuildHostMenu(&menu);
    menu.actions().first()->trigger();
    ASSERT_TRUE(WaitUntil([&] { return frame->IsRunning(); }));
    qunsetenv("COMRT_REGISTRY");
}

TEST_F(PsvigilAppTest, AWatchLogThatCannotBeOpenedEndsStartUp)
{
    // The failure is reported in a message box; close it as a user would.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout,
                     []
                     {
                         if (QWidget* box = QApplication::activeModalWidget())
                             box->close();
                     });
    closer.start(50);
    EXPECT_FALSE(m_app.InitInstance({"psvigil", "-Embedding", "missing.pvg"}));
}

} // namespace
