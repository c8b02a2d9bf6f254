// Signals from the grid and alerts in the application: against the real telnet peer (a sleep
// appears, is terminated through the grid's action, goes, and both alerts fire; a process of
// root is refused), and desktop notifications against a private session bus.
#include "tests/watch/sleep_as.h"
#include "watch/engine/process_action.h"
#include "watch/ui/alerts/alert_center.h"
#include "watch/ui/alerts/alert_list_window.h"
#include "watch/ui/alerts/alert_notifier.h"
#include "watch/ui/alerts/alert_rules_page.h"
#include "watch/ui/alerts/alerts_binding.h"
#include "watch/ui/alerts/process_actions.h"
#include "watch/ui/app/psvigil_app.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/frame/main_frame.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// Saves a picture of the whole screen (menus included) when VIGIL_SHOT_DIR names a folder.
void Shoot(const QString& name, QWidget* widget = nullptr)
{
    const QString dir = qEnvironmentVariable("VIGIL_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QTest::qWait(300);
    // On a real display the screen is grabbed where the window is, so pop-ups over it show.
    const QRect area = widget ? widget->window()->frameGeometry() : QRect();
    QPixmap picture = QGuiApplication::platformName() == QLatin1String("xcb")
                          ? QGuiApplication::primaryScreen()->grabWindow(
                                0, area.x(), area.y(), area.width(), area.height())
                          : (widget ? widget->grab() : QPixmap());
    picture.save(QDir(dir).filePath(name + ".png"));
}

} // namespace

TEST(AlertsAgainstRealHost, TheGridTerminatesASleepAndBothAlertsFire)
{
    const QByteArray port = qgetenv("VIGIL_TELNET_PORT"), user = qgetenv("VIGIL_TELNET_USER"),
                     password = qgetenv("VIGIL_TELNET_PASSWORD");
    if (port.isEmpty() || user.isEmpty() || ::geteuid() != 0)
        GTEST_SKIP() << "no telnet peer (scripts/peers, as root)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("COMRT_REGISTRY", dir.filePath("test.reg").toLocal8Bit());

    COwningPtrArray<HostSettings> hosts;
    auto* host = new HostSettings;
    SetAddress(*host, "127.0.0.1");
    SetUsername(*host, user.toStdString());
    SetPassword(*host, password.toStdString());
    host->Port = port.toInt();
    host->RefreshSeconds = 1;
    hosts.Add(host);
    ASSERT_TRUE(WriteHostListFile(kConfigFileName, hosts));
    const long seconds = 200000 + ::getpid();
    const std::string pattern = "^sleep " + std::to_string(seconds) + "$";
    {
        QFile rules(QStringLiteral("psvigil-alerts.ini"));
        ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
        rules.write(FormatAlertRules({{.Host = "127.0.0.1",
                                       .Name = "sleeper up",
                                       .Kind = AlertKind::Appears,
                                       .Command = pattern},
                                      {.Host = "127.0.0.1",
                                       .Name = "sleeper gone",
                                       .Kind = AlertKind::Goes,
                                       .Command = pattern}})
                        .c_str());
    }

    {
        CPsvigilApp app;
        app.SetLanvexCandidates({VIGIL_TEST_LANVEX});
        ASSERT_TRUE(app.InitInstance({QStringLiteral("psvigil"), QStringLiteral("-Embedding")}));
        CMainFrame* frame = app.GetMainFrame();
        CPsvigilDoc* doc = app.GetDocument();
        CProcessTableModel* model = app.GetView()->ProcessModel();
        CAlertsBinding* alerts = app.GetAlerts();
        ASSERT_NE(alerts, nullptr);
        QAbstractItemModelTester tester(alerts->Center()->Model());
        QSignalSpy finished(alerts->Actions(), &CProcessActions::Finished);
        ASSERT_EQ(alerts->Center()->Rules().size(), 2u);

        ASSERT_TRUE(doc->OnQuickPick(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame->IsRunning() && model->HasData(); }, 20000));

        const pid_t sleeper = vigil::test::StartSleepAs(user.constData(), seconds);
        ASSERT_GT(sleeper, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->RowOfPid(sleeper) >= 0; }, 20000));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return alerts->Center()->Model()->rowCount() == 1; }, 5000));
        EXPECT_EQ(alerts->Center()->Model()->At(0).Rule, "sleeper up");
        EXPECT_TRUE(alerts->Center()->IsMarked(sleeper));
        EXPECT_TRUE(
            model->data(model->index(model->RowOfPid(sleeper), 0), CProcessTableModel::kAlertRole)
                .toBool());
        EXPECT_EQ(alerts->Center()->Unseen(), 1);

        // Right-click menu on the sleeper's line, then Terminate, confirmed.
        app.GetView()->selectRow(model->RowOfPid(sleeper));
        QMenu menu;
        alerts->Actions()->FillMenu(&menu);
        ASSERT_EQ(menu.actions().size(), 7); // five signals, a separator, Renice...
        EXPECT_TRUE(menu.actions().first()->isEnabled());
        if (!qEnvironmentVariableIsEmpty("VIGIL_SHOT_DIR"))
        {
            frame->resize(1100, 600);
            frame->move(0, 0);
            app.GetView()->scrollTo(model->index(model->RowOfPid(sleeper), 0),
                                    QAbstractItemView::PositionAtCenter);
            QTest::qWait(100);
            const QRect line = app.GetView()->visualRect(model->index(model->RowOfPid(sleeper), 6));
            // Opened upwards from the line, as near the bottom of a screen.
            menu.popup(app.GetView()->viewport()->mapToGlobal(line.center() -
                                                              QPoint(0, menu.sizeHint().height())));
            Shoot("context-menu", frame);
            menu.hide();
        }
        QString askedHost;
        std::vector<CActionTarget> askedFor;
        alerts->Actions()->SetConfirm(
            [&](QWidget* parent, const QString& host, ProcessAction& action,
                const std::vector<CActionTarget>& targets)
            {
                askedHost = host;
                askedFor = targets;
                if (!qEnvironmentVariableIsEmpty("VIGIL_SHOT_DIR") && askedFor.size() == 1 &&
                    targets.front().Pid == sleeper)
                {
                    CActionConfirmDialog dialog(host, action, targets, parent);
                    dialog.show();
                    Shoot("confirmation", frame);
                }
                return true;
            });
        alerts->Actions()->Actions().front()->trigger();
        EXPECT_EQ(askedHost, user + "@127.0.0.1");
        ASSERT_EQ(askedFor.size(), 1u);
        EXPECT_EQ(askedFor[0].Pid, sleeper);
        EXPECT_EQ(askedFor[0].Command.toStdString(), "sleep " + std::to_string(seconds));
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 1; }, 20000));
        const QString told =
            user + "@127.0.0.1: TERM sent to " + QString::number(sleeper) + " (exit status 0)";
        EXPECT_EQ(finished.at(0).at(0).toString(), told);
        EXPECT_TRUE(finished.at(0).at(1).toBool());
        EXPECT_EQ(frame->statusBar()->currentMessage(), told);
        int status = 0;
        EXPECT_EQ(::waitpid(sleeper, &status, 0), sleeper);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

        ASSERT_TRUE(
            QTest::qWaitFor([&] { return alerts->Center()->Model()->rowCount() == 2; }, 20000));
        const CAlertRecord& gone = alerts->Center()->Model()->At(0);
        EXPECT_EQ(gone.Rule, "sleeper gone");
        EXPECT_EQ(gone.Host, user + "@127.0.0.1");
        EXPECT_EQ(gone.ProcessText(),
                  QString::number(sleeper) + " sleep " + QString::number(seconds) + " (none left)");

        CAlertListWindow* list = alerts->ShowAlertList();
        EXPECT_EQ(alerts->Center()->Unseen(), 0);
        Shoot("alert-list", frame);
        list->close();

        // This test runs as root: its own process is the peer account's to see, not to stop.
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->RowOfPid(::getpid()) >= 0; }, 5000));
        app.GetView()->selectRow(model->RowOfPid(::getpid()));
        alerts->Actions()->Actions()[4]->trigger(); // Continue
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 2; }, 20000));
        EXPECT_EQ(finished.at(1).at(0).toString(), user + "@127.0.0.1: CONT to " +
                                                       QString::number(::getpid()) +
                                                       ": exit status 1, Operation not permitted");
        EXPECT_FALSE(finished.at(1).at(1).toBool());

        doc->OnHostStop();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->IsRunning(); }, 10000));
        // Without a watch nothing is sent, and the menu says so by being disabled.
        EXPECT_FALSE(alerts->Actions()->Request({}));
        QMenu after;
        alerts->Actions()->FillMenu(&after);
        EXPECT_FALSE(after.actions().first()->isEnabled());
    }
    QDir::setCurrent(previous);
}

namespace
{
// The desktop's notification server, as far as the test needs it: records every Notify.
class CRecordingNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QStringList Received;
  public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int)
    {
        Received << app + "|" + summary + "|" + body;
        return static_cast<uint>(Received.size());
    }
};
} // namespace

TEST(AlertNotifierTest, NotificationsReachTheSessionBusAndFallBackToTheTray)
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(5000))
        GTEST_SKIP() << "dbus-daemon is not installed (scripts/setup installs it)";
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromLatin1(daemon.readLine()).trimmed();
    {
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
        ASSERT_TRUE(client.isConnected() && server.isConnected());
        CRecordingNotificationServer recorder;
        ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &recorder, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

        QStringList balloons;
        CAlertNotifier notifier(client,
                                [&](const QString& title, const QString& text)
                                {
                                    balloons << title + "|" + text;
                                    return true;
                                });
        QSignalSpy delivered(&notifier, &CAlertNotifier::Delivered);
        const CAlertRecord record{QDateTime::currentDateTime(),
                                  "alice@db1",
                                  "backup gone",
                                  4711,
                                  "rsync <-a> /srv",
                                  "none left"};
        notifier.Notify({record});
        ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.size() == 1; }, 5000));
        EXPECT_TRUE(delivered.at(0).at(0).toBool());
        // Host text goes as plain text: markup in a command stays text.
        EXPECT_EQ(recorder.Received,
                  QStringList{"psvigil|Vigilor: backup gone|alice@db1: 4711 rsync &lt;-a&gt; /srv "
                              "(none left)"});
        EXPECT_TRUE(balloons.isEmpty());

        // No server on the bus: the tray's balloon says it instead.
        server.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        notifier.Notify({record});
        ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.size() == 2; }, 5000));
        EXPECT_FALSE(delivered.at(1).at(0).toBool());
        EXPECT_EQ(balloons, QStringList{"Vigilor: backup gone|alice@db1: 4711 rsync <-a> /srv "
                                        "(none left)"});
        server.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
    daemon.kill();
    daemon.waitForFinished(5000);
}

TEST(AlertRulesPageTest, EditsTheHostsRulesAndCommitsUnderItsNewAddress)
{
    HostSettings host;
    SetAddress(host, "db1");
    const std::vector<AlertRule> all = {
        {.Host = "db1", .Kind = AlertKind::Goes, .Command = "rsync"},
        {.Host = "web", .Kind = AlertKind::Appears}};
    std::string committedFrom, committedTo;
    std::vector<AlertRule> committed;
    CAlertRulesPage page(
        host, all, {},
        [&](const std::string& from, const std::string& to, std::vector<AlertRule> rules)
        {
            committedFrom = from;
            committedTo = to;
            committed = std::move(rules);
        });
    ASSERT_EQ(page.EditedRules().size(), 1u); // only this host's
    page.findChild<QPushButton*>(QStringLiteral("add"))->click();
    page.findChild<QComboBox*>(QStringLiteral("when"))->setCurrentIndex(2); // CPU above
    QTest::keyClicks(page.findChild<QLineEdit*>(QStringLiteral("command")), "java");
    ASSERT_EQ(page.EditedRules().size(), 2u);
    EXPECT_EQ(page.EditedRules()[1].Kind, AlertKind::CpuAbove);
    EXPECT_EQ(page.EditedRules()[1].Command, "java");
    page.resize(420, 380);
    page.show();
    Shoot("alert-rules-page", &page);

    SetAddress(host, "db2");
    page.Commit(host);
    EXPECT_EQ(committedFrom, "db1");
    EXPECT_EQ(committedTo, "db2");
    ASSERT_EQ(committed.size(), 2u);
    EXPECT_EQ(committed[0].Host, "db2");
    EXPECT_EQ(committed[1].Command, "java");
}

#include "alerts_test.moc"
