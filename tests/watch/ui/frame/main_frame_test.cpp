// Main frame: status texts per notification, enabled states, host drop-down, title, drops.
#include "watch/ui/frame/main_frame.h"

#include "tests/watch/ui/frame/frame_test_support.h"
#include "watch/engine/notify_sink.h"
#include "watch/ui/frame/recent_file_list.h"
#include "watch/ui/frame/status_pane.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <memory>

namespace
{

class MainFrameTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_settings =
            std::make_unique<QSettings>(m_dir.filePath("psvigil.ini"), QSettings::IniFormat);
        m_recent = std::make_unique<CRecentFileList>(m_settings.get());
        m_frame = std::make_unique<CMainFrame>(&m_doc, m_recent.get());
        ASSERT_TRUE(m_frame->Create());
        m_frame->SetClock([this] { return m_now; });
        m_frame->SetMessageReporter([this](const QString& text) { m_messages << text; });
    }

    void Status(intptr_t code, intptr_t value)
    {
        m_frame->OnWatchNotify(WM_WATCH_STATUS, code, value);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<CRecentFileList> m_recent;
    CFakeDocument m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    QTime m_now{9, 0, 0};
    QStringList m_messages;
};

struct RefreshTimeCase
{
    QLocale Locale;
    QTime Time;
    const char* Expected;
};

TEST_F(MainFrameTest, RefreshTimeIsZeroPaddedInTheLocalesFormat)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    const QLocale de(QLocale::German, QLocale::Germany);
    const RefreshTimeCase cases[] = {
        {us, QTime(12, 22, 0), "12:22:00 PM"},      {us, QTime(0, 5, 9), "12:05:09 AM"},
        {uk, QTime(9, 5, 3), "09:05:03"},           {de, QTime(23, 0, 7), "23:00:07"},
        {QLocale::c(), QTime(7, 8, 9), "07:08:09"},
    };
    for (const RefreshTimeCase& c : cases)
        EXPECT_EQ(RefreshTimeText(c.Time, c.Locale), QString::fromUtf8(c.Expected))
            << c.Locale.name().toStdString() << " " << c.Time.toString().toStdString();
}

TEST_F(MainFrameTest, RefreshPaneSaysSinceWhenAfterFailures)
{
    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    const struct
    {
        QTime Last;
        int Failures;
        const char* Expected;
    } cases[] = {
        {QTime(12, 3, 5), 0, "Refreshed 12:03:05"},
        {QTime(12, 3, 5), 1, "Last refreshed 12:03:05, 1 failure"},
        {QTime(12, 3, 5), 2, "Last refreshed 12:03:05, 2 failures"},
        {QTime(), 1, "Unable to connect"},
        {QTime(), 3, "Unable to connect, 3 failures"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefreshPaneText(c.Last, c.Failures, "Unable to connect", uk), c.Expected);
}

TEST_F(MainFrameTest, EachNotificationWritesItsPane)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    m_now = QTime(12, 3, 5);
    struct Case
    {
        intptr_t Code;
        intptr_t Value;
        int Pane;
        const char* Expected;
    };
    const Case cases[] = {
        {kStatusRefreshed, kRefreshNoConnection, kPaneRefresh, "Unable to connect"},
        {kStatusRefreshed, kRefreshPsFailed, kPaneRefresh,
         "Failed to execute ps command, 2 failures"},
        // An unknown result leaves the last text in place.
        {kStatusRefreshed, 7, kPaneRefresh, "Failed to execute ps command, 2 failures"},
        {kStatusRefreshed, kRefreshOk, kPaneRefresh, "Refreshed 12:03:05"},
        {kStatusRefreshed, kRefreshNoConnection, kPaneRefresh,
         "Last refreshed 12:03:05, 1 failure"},
        {kStatusCountdown, 9, kPaneCountdown, "9 sec."},
        {kStatusCountdown, 0, kPaneCountdown, "0 sec."},
        {kStatusRunEnds, 0, kPaneCountdown, ""},
        // The end of a run keeps the last result.
        {kStatusRunEnds, 0, kPaneRefresh, "Last refreshed 12:03:05, 1 failure"},
    };
    for (const Case& c : cases)
    {
        Status(c.Code, c.Value);
        EXPECT_EQ(m_frame->GetPaneText(c.Pane).toStdString(), c.Expected)
            << "code " << c.Code << " value " << c.Value;
    }
    // The document hears every result, for its stale rows.
    EXPECT_EQ(m_doc.Results, (std::vector<intptr_t>{1, 2, 7, 0, 1}));
    QLocale::setDefault(QLocale::c());

    m_frame->SetTotal(0);
    EXPECT_EQ(m_frame->GetPaneText(kPaneTotal), "Total : 0");
    m_frame->SetTotal(1234);
    EXPECT_EQ(m_frame->GetPaneText(kPaneTotal), "Total : 1234");
    EXPECT_EQ(m_frame->GetPaneText(kPanePrompt), "Ready");
}

TEST_F(MainFrameTest, CountsShowTheChangesAndTheFilteredTotal)
{
    const struct
    {
        const char* Filter;
        int Total, Matching, Added, Gone;
        const char* TotalText;
        const char* Changes;
    } cases[] = {
        {"", 245, 245, 3, 1, "Total : 245", "+3 -1"},
        {"", 245, 245, 0, 0, "Total : 245", "+0 -0"},
        {"ssh", 245, 12, 0, 2, "12 of 245", "+0 -2"},
        {"", 0, 0, 0, 0, "Total : 0", ""},
    };
    for (const auto& c : cases)
    {
        m_frame->GetFilterField()->setText(c.Filter);
        m_frame->SetCounts(c.Total, c.Matching, c.Added, c.Gone);
        EXPECT_EQ(m_frame->GetPaneText(kPaneTotal), c.TotalText);
        EXPECT_EQ(m_frame->GetPaneText(kPaneChanges), c.Changes);
    }
}

TEST_F(MainFrameTest, FilterFieldTakesCtrlFAndEscapeClearsIt)
{
    auto* view = new QLineEdit; // stands in for the grid
    m_frame->SetView(view);
    m_frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    QSignalSpy changes(m_frame.get(), &CMainFrame::FilterChanged);
    view->setFocus();
    QTest::keySequence(m_frame.get(), QKeySequence::Find);
    QLineEdit* field = m_frame->GetFilterField();
    EXPECT_TRUE(field->hasFocus());
    QTest::keyClicks(field, "ssh");
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().at(0).toString(), "ssh");
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(changes.last().at(0).toString(), "");
    QTest::keyClick(field, Qt::Key_Escape); // empty: back to the grid
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(MainFrameTest, MenusHaveOneMnemonicEach)
{
    QStringList keys;
    for (QAction* menu : m_frame->menuBar()->actions())
    {
        const QString text = menu->text();
        const qsizetype amp = text.indexOf('&');
        ASSERT_GE(amp, 0) << text.toStdString();
        keys << text.mid(amp + 1, 1).toLower();
    }
    keys.removeDuplicates();
    EXPECT_EQ(keys.size(), m_frame->menuBar()->actions().size());
    EXPECT_EQ(m_frame->menuBar()->actions().at(2)->text(), "&Host"); // Alt+H
}

TEST_F(MainFrameTest, FirstWindowFitsTheScreenAndGeometryIsKept)
{
    QSettings empty(m_dir.filePath("empty.ini"), QSettings::IniFormat);
    m_frame->RestoreSettings(empty);
    const QRect room = m_frame->screen()->availableGeometry();
    EXPECT_LE(m_frame->width(), room.width());
    EXPECT_LE(m_frame->height(), room.height());

    m_frame->resize(500, 300);
    m_frame->SaveSettings(*m_settings);
    CFakeDocument doc;
    CMainFrame again(&doc, nullptr);
    ASSERT_TRUE(again.Create());
    again.RestoreSettings(*m_settings);
    EXPECT_EQ(again.size(), QSize(500, 300));
}

TEST_F(MainFrameTest, TableNotificationMergesAndUnknownMessagesAreIgnored)
{
    m_frame->OnWatchNotify(WM_WATCH_TABLE, 0, 0);
    m_frame->OnWatchNotify(WM_WATCH_TABLE, 0, 0);
    m_frame->OnWatchNotify(WM_USER + 3, kStatusRunBegins, 0);
    EXPECT_EQ(m_doc.m_merges, 2);
    EXPECT_FALSE(m_frame->IsRunning());
}

TEST_F(MainFrameTest, RunningFlagDrivesWatchAndStop)
{
    QAction* watch = m_frame->GetCommand(kCmdHostWatch);
    QAction* stop = m_frame->GetCommand(kCmdHostStop);
    ASSERT_NE(watch, nullptr);
    ASSERT_NE(stop, nullptr);

    EXPECT_TRUE(watch->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    stop->trigger();
    EXPECT_EQ(m_doc.m_stops, 0);

    Status(kStatusRunBegins, 0);
    EXPECT_TRUE(m_frame->IsRunning());
    EXPECT_FALSE(watch->isEnabled());
    EXPECT_FALSE(m_frame->GetWatchButton()->isEnabled()); // and with it the drop-down
    EXPECT_TRUE(stop->isEnabled());
    watch->trigger();
    EXPECT_EQ(m_doc.m_watches, 0);
    stop->trigger();
    EXPECT_EQ(m_doc.m_stops, 1);

    Status(kStatusRunEnds, 0);
    EXPECT_FALSE(m_frame->IsRunning());
    EXPECT_TRUE(watch->isEnabled());
    EXPECT_TRUE(m_frame->GetWatchButton()->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    watch->trigger();
    EXPECT_EQ(m_doc.m_watches, 1);
}

TEST_F(MainFrameTest, RefreshKeyWorksOnlyWhileRunningAndQuitHasItsKey)
{
    QAction* refresh = m_frame->GetCommand(kCmdHostRefresh);
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(m_frame->GetCommand(kCmdAppExit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    refresh->trigger();
    EXPECT_EQ(m_doc.m_refreshes, 0);
    Status(kStatusRunBegins, 0);
    refresh->trigger();
    EXPECT_EQ(m_doc.m_refreshes, 1);
}

TEST_F(MainFrameTest, PanesGrowToShowTheirWholeTextAndKeepTheirWidth)
{
    m_frame->show();
    const QFontMetrics metrics(m_frame->statusBar()->font());
    const int blank = metrics.horizontalAdvance(QLatin1Char(' '));
    const struct
    {
        int Pane;
        int Blanks; // the pane's own width
        QString Text;
    } cases[] = {
        {kPaneTotal, 16, "Total : 0"},
        {kPaneTotal, 16, "Total : 1234"},
        {kPaneTotal, 16, "Total : 2147483647"},
        {kPaneCountdown, 16, "2147483647 sec."},
        {kPaneRefresh, 54, "Last refreshed 12:59:59 PM, 2147483647 failures"},
        {kPaneRefresh, 54, "Failed to execute ps command"},
    };
    for (const auto& c : cases)
    {
        if (c.Pane == kPaneTotal)
            m_frame->SetTotal(c.Text.mid(8).toInt());
        else
            m_frame->GetPane(c.Pane)->SetText(c.Text);
        QApplication::processEvents();
        const QWidget* pane = m_frame->GetPane(c.Pane);
        EXPECT_EQ(m_frame->GetPaneText(c.Pane), c.Text);
        EXPECT_GE(pane->width(), c.Blanks * blank) << c.Text.toStdString();
        EXPECT_GE(pane->width(), metrics.horizontalAdvance(c.Text.trimmed()) + 6)
            << c.Text.toStdString();
    }
}

TEST_F(MainFrameTest, FailureReasonIsTheToolTipAndToldOnce)
{
    const struct
    {
        intptr_t Code, Result;
        const char* Reason; // the document's, and so the tool tip
        int Messages;       // told so far
    } steps[] = {
        {kStatusRefreshed, kRefreshNoConnection, "not registered", 1},
        // Manual mode: every refresh is a run of its own; still no second message.
        {kStatusRunEnds, 0, "not registered", 1},
        {kStatusRunBegins, 0, "not registered", 1},
        {kStatusRefreshed, kRefreshNoConnection, "not registered", 1},
        {kStatusRefreshed, kRefreshPsFailed, "the ps command failed", 2},
        {kStatusRefreshed, kRefreshOk, "", 2},
        // After a refresh that worked, the old reason is news again.
        {kStatusRefreshed, kRefreshNoConnection, "not registered", 3},
    };
    for (const auto& step : steps)
    {
        m_doc.m_lastFailure = step.Reason;
        Status(step.Code, step.Result);
        QApplication::processEvents();
        const QString failure = step.Result == kRefreshNoConnection ? "Unable to connect: "
                                : step.Result == kRefreshPsFailed ? "Failed to execute ps command: "
                                                                  : "";
        EXPECT_EQ(m_frame->GetPane(kPaneRefresh)->toolTip(),
                  step.Code == kStatusRefreshed ? failure + step.Reason
                                                : m_frame->GetPane(kPaneRefresh)->toolTip());
        EXPECT_EQ(m_messages.size(), step.Messages) << step.Reason;
    }
    EXPECT_EQ(m_messages.at(1), "Failed to execute ps command: the ps command failed");
}

TEST_F(MainFrameTest, HostDropDownListsEveryHostAndDisablesFromTheTenth)
{
    for (int i = 0; i < 11; ++i)
        m_doc.AddHost("host" + std::to_string(i) + (i == 4 ? "&co" : ""));
    QMenu menu;
    m_frame->BuildHostMenu(&menu);
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 11);
    for (int i = 0; i < 11; ++i)
    {
        EXPECT_EQ(actions[i]->data().toInt(), kCmdQuickPickFirst + i);
        EXPECT_EQ(actions[i]->isEnabled(), i < 9) << i;
    }
    EXPECT_EQ(actions[0]->text(), "host0");
    EXPECT_EQ(actions[4]->text(), "host4&&co"); // shown as typed, not as a mnemonic

    actions[8]->trigger();
    actions[9]->trigger(); // disabled: no handler
    actions[0]->trigger();
    EXPECT_EQ(m_doc.m_quickPicks, (std::vector<int>{8, 0}));

    // Rebuilt afresh each time it opens.
    m_doc.m_hosts.clear();
    m_frame->BuildHostMenu(&menu);
    EXPECT_TRUE(menu.actions().isEmpty());
}

TEST_F(MainFrameTest, TitleFollowsTheDocumentAndFailuresChangeNothing)
{
    EXPECT_EQ(m_frame->windowTitle(), "Untitled - Vigilor");

    const QString log = m_dir.filePath("monday.pvg");
    EXPECT_TRUE(m_frame->OpenDocumentFile(log));
    EXPECT_EQ(m_frame->windowTitle(), "monday.pvg (watch log) - Vigilor");
    EXPECT_EQ(m_recent->GetAt(0), log);

    m_doc.m_openResult = false;
    m_doc.m_openError = "Unexpected file format.";
    EXPECT_FALSE(m_frame->OpenDocumentFile(m_dir.filePath("broken.pvg")));
    EXPECT_EQ(m_messages, QStringList{"Unexpected file format."});
    EXPECT_EQ(m_frame->windowTitle(), "monday.pvg (watch log) - Vigilor");
    EXPECT_EQ(m_recent->GetSize(), 1);

    m_frame->GetCommand(kCmdFileNew)->trigger();
    EXPECT_EQ(m_doc.m_news, 1);
    EXPECT_EQ(m_frame->windowTitle(), "Untitled - Vigilor");

    // Save with a name in place writes there without asking.
    m_frame->SaveDocumentFile(m_dir.filePath("tuesday.pvg"));
    m_frame->GetCommand(kCmdFileSave)->trigger();
    EXPECT_EQ(m_doc.m_saved.size(), 2);
    EXPECT_EQ(m_doc.m_saved.last(), m_dir.filePath("tuesday.pvg"));
    EXPECT_EQ(m_frame->windowTitle(), "tuesday.pvg (watch log) - Vigilor");

    // A watch names its host and transport, in the title and in a pane.
    m_doc.WatchedHost = "kim@db1";
    m_doc.WatchedTransport = "SSH";
    Status(kStatusRunBegins, 0);
    EXPECT_EQ(m_frame->windowTitle(), "kim@db1 (SSH) - Vigilor");
    EXPECT_EQ(m_frame->GetPaneText(kPaneHost), QString::fromUtf8("kim@db1 \u00b7 SSH"));
    Status(kStatusRefreshed, kRefreshNoConnection);
    // Another host starts afresh: no refresh time or failures of the last one.
    m_doc.WatchedHost = "h2";
    m_doc.WatchedTransport = "telnet";
    Status(kStatusRunBegins, 0);
    EXPECT_EQ(m_frame->windowTitle(), "h2 (telnet) - Vigilor");
    EXPECT_EQ(m_frame->GetPaneText(kPaneRefresh), "");
}

TEST_F(MainFrameTest, RecentEntryThatNoLongerOpensLeavesTheList)
{
    m_frame->OpenDocumentFile(m_dir.filePath("a.pvg"));
    m_frame->OpenDocumentFile(m_dir.filePath("b.pvg"));
    m_doc.m_openResult = false;
    m_frame->OnOpenRecentFile(1); // a.pvg
    EXPECT_EQ(m_recent->GetSize(), 1);
    EXPECT_EQ(m_recent->GetAt(0), m_dir.filePath("b.pvg"));
    EXPECT_EQ(m_messages, QStringList{"Failed to open document."});
}

TEST_F(MainFrameTest, DroppedFilesAreOpenedInTurn)
{
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(m_dir.filePath("one.pvg")), QUrl("http://example.com/x.pvg"),
                   QUrl::fromLocalFile(m_dir.filePath("two.pvg"))});
    m_frame->setAcceptDrops(true); // as the application does at start-up
    // A drop reaches only the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_frame.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_frame.get(), &drop);
    EXPECT_EQ(m_doc.m_opened, (QStringList{m_dir.filePath("one.pvg"), m_dir.filePath("two.pvg")}));
    EXPECT_EQ(m_frame->windowTitle(), "two.pvg (watch log) - Vigilor");
    delete mime;
}

TEST_F(MainFrameTest, MinimisedFrameHidesOnlyWithATrayIcon)
{
    // The offscreen desktop has no notification area: the frame must stay reachable.
    ASSERT_FALSE(m_frame->GetTrayIcon().IsEnabled());
    m_frame->show();
    m_frame->showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(m_frame->isVisible());

    CFakeDocument doc;
    CMainFrame trayed(&doc, nullptr);
    trayed.GetTrayIcon().SetAvailabilityProbe([] { return true; });
    ASSERT_TRUE(trayed.Create());
    ASSERT_TRUE(trayed.GetTrayIcon().IsEnabled());
    trayed.show();
    trayed.showMinimized();
    EXPECT_TRUE(WaitUntil([&] { return !trayed.isVisible(); }));

    // "Restore" from the tray menu brings it back, restored.
    trayed.GetCommand(kCmdTrayRestore)->trigger();
    EXPECT_TRUE(trayed.isVisible());
    EXPECT_FALSE(trayed.isMinimized());
}

} // namespace
