// Draws the main window with a watch log open into a PNG (run under Xvfb to look at it).
// Usage: frame_screenshot OUT.png [--splash] [--screen] [--watch]
//   --splash  start as a user would, with the splash (the shot is taken while it is up)
//   --screen  grab the whole screen instead of the main window alone
//   --hosts   store ten hosts and open the Watch button's drop-down for the shot (with
//             --screen, since the menu is a window of its own)
//   --watch   instead of a saved log, watch the telnet server named by VIGIL_TELNET_PORT,
//             VIGIL_TELNET_USER and VIGIL_TELNET_PASSWORD on 127.0.0.1 (Lanvex registered, or
//             found beside the program and registered by it)
//   --pid     sort by "PID" before the shot
//   --focus   make the third line current (the focus mark) and the fifth selected
//   --memory  with --watch: the host's ps speaks POSIX (-o), the shot is sorted by RSS
//   --dark    a dark palette
//   --live    with --watch: OUT.png is a folder; a "sleep" started before the first refresh
//             ends and another starts before the second, then live.png (one new, one gone),
//             filter.png (the filter on "sleep 42"), and after VIGIL_STOP_PEER (a shell
//             command that stops the telnet peer) has run, stale.png
#include "watch/engine/notify_sink.h"
#include "watch/ui/app/psvigil_app.h"
#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/files/watch_log.h"
#include "watch/ui/frame/main_frame.h"

#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace
{

struct SampleRow
{
    const char* User;
    int Pid;
    const char* Cpu;
    const char* Term;
    const char* Start;
    const char* Time;
    const char* Command;
};

const SampleRow kRows[] = {
    {"root", 1, "0.0", "?", "08:01", "0:02.11", "/sbin/init splash"},
    {"root", 2, "0.0", "?", "08:01", "0:00.00", "[kthreadd]"},
    {"daemon", 212, "0.0", "?", "08:01", "0:00.40", "/usr/sbin/atd -f"},
    {"root", 388, "0.1", "?", "08:02", "0:10.75",
     "sshd: /usr/sbin/sshd -D [listener] 0 of 10-100 startups"},
    {"lp", 401, "0.0", "?", "08:02", "0:00.03", "/usr/sbin/cupsd -l"},
    {"kim", 1024, "2.5", "pts/0", "09:14", "1:23.50", "make -j2 all"},
    {"kim", 1031, "12.0", "pts/0", "09:14", "0:41.02",
     "/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus -quiet main_frame.cpp"},
    {"kim", 1100, "0.3", "pts/1", "09:20", "0:00.20", "vim README.md"},
    {"root", 1187, "0.0", "?", "09:30", "0:00.01", "telnetd"},
    {"kim", 1190, "0.3", "pts/2", "09:30", "0:00.20", "ps auxw"},
    {"postgres", 733, "1.2", "?", "08:03", "0:31.77", "postgres: checkpointer"},
    {"www-data", 904, "0.4", "?", "08:05", "0:05.12", "nginx: worker process"},
    {"www-data", 905, "0.4", "?", "08:05", "0:05.09", "nginx: worker process"},
    {"root", 91, "0.0", "?", "08:01", "0:00.87", "/lib/systemd/systemd-journald"},
    {"messagebus", 560, "0.0", "?", "08:01", "0:01.02",
     "/usr/bin/dbus-daemon --system --address=systemd: --nofork"},
};

void WriteSamples(bool watch, bool tenHosts, bool reconnect, bool memory)
{
    COwningPtrArray<HostSettings> hosts;
    if (watch)
    {
        auto* host = new HostSettings;
        SetAddress(*host, "127.0.0.1");
        host->Port = qEnvironmentVariableIntValue("VIGIL_TELNET_PORT");
        SetUsername(*host, qgetenv("VIGIL_TELNET_USER").toStdString());
        SetPassword(*host, qgetenv("VIGIL_TELNET_PASSWORD").toStdString());
        host->Flavour = memory ? kFlavourPosix : kFlavourBsd;
        host->RefreshSeconds = qEnvironmentVariableIsSet("VIGIL_REFRESH_SECONDS")
                                   ? qEnvironmentVariableIntValue("VIGIL_REFRESH_SECONDS")
                                   : 5;
        // A new login for every refresh, so a stopped server shows at the next one.
        host->KeepConnectionOpen = reconnect ? 0 : 1;
        hosts.Add(host);
    }
    QStringList addresses{"build.korvane.lan", "db1.korvane.lan", "127.0.0.1"};
    for (int i = 0; tenHosts && i < 7; ++i)
        addresses << QStringLiteral("node%1.korvane.lan").arg(i + 1);
    for (const QString& address : addresses)
    {
        auto* host = new HostSettings;
        SetAddress(*host, address.toStdString());
        SetUsername(*host, "kim");
        hosts.Add(host);
    }
    WriteHostListFile(kConfigFileName, hosts);

    COwningPtrArray<ProcessRow> rows;
    for (const SampleRow& s : kRows)
    {
        auto* row = new ProcessRow;
        std::snprintf(row->User, sizeof row->User, "%s", s.User);
        std::snprintf(row->PidText, sizeof row->PidText, "%d", s.Pid);
        row->Pid = s.Pid;
        std::snprintf(row->CpuUsage, sizeof row->CpuUsage, "%s", s.Cpu);
        std::snprintf(row->Term, sizeof row->Term, "%s", s.Term);
        std::snprintf(row->StartTime, sizeof row->StartTime, "%s", s.Start);
        std::snprintf(row->CpuTime, sizeof row->CpuTime, "%s", s.Time);
        std::snprintf(row->Command, sizeof row->Command, "%s", s.Command);
        rows.Add(row);
    }
    std::string error;
    SaveWatchLogFile("monday.pvg", rows, &error);
}

QPalette DarkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 48));
    p.setColor(QPalette::WindowText, QColor(220, 220, 220));
    p.setColor(QPalette::Base, QColor(30, 30, 32));
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
    p.setColor(QPalette::Text, QColor(220, 220, 220));
    p.setColor(QPalette::Button, QColor(50, 50, 54));
    p.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    p.setColor(QPalette::Highlight, QColor(38, 110, 190));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
    p.setColor(QPalette::ToolTipText, QColor(220, 220, 220));
    p.setColor(QPalette::PlaceholderText, QColor(130, 130, 130));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    return p;
}

// Runs the event loop until done holds, for at most seconds.
bool WaitFor(const std::function<bool()>& done, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i)
    {
        if (done())
            return true;
        QTest::qWait(100);
    }
    return done();
}

// The window with a title strip on top, as a window manager would draw it (Xvfb has none).
bool Save(CMainFrame* frame, const QString& path)
{
    QTest::qWait(400);
    const QPixmap window = frame->grab();
    const int strip = frame->fontMetrics().height() * 2;
    QPixmap shot(window.width(), window.height() + strip * window.devicePixelRatio());
    shot.setDevicePixelRatio(window.devicePixelRatio());
    shot.fill(frame->palette().color(QPalette::Highlight));
    QPainter painter(&shot);
    QFont font = frame->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(frame->palette().color(QPalette::HighlightedText));
    painter.drawText(QRect(0, 0, frame->width(), strip), Qt::AlignCenter, frame->windowTitle());
    painter.drawPixmap(0, strip, window);
    painter.end();
    const bool ok = shot.save(path);
    std::printf("%s %s (%s)\n", ok ? "saved" : "FAILED", qPrintable(path),
                qPrintable(frame->windowTitle()));
    std::fflush(stdout);
    return ok;
}

// The live watch of the telnet peer: a new process, a gone one, the filter, stale rows.
int LiveScenario(CPsvigilApp& app, const QString& folder)
{
    CMainFrame* frame = app.GetMainFrame();
    CPsvigilView* view = app.GetView();
    // The failure is told in a message box, which would hold this loop up.
    frame->SetMessageReporter([](const QString& text)
                              { std::printf("told: %s\n", qPrintable(text)); });
    int merges = 0;
    QObject::connect(view, &CPsvigilView::CountsChanged, [&merges] { ++merges; });
    QProcess going, coming;
    going.start("sleep", {"4201"});
    going.waitForStarted();
    view->Sort(1, false); // newest processes on top
    app.GetDocument()->OnQuickPick(0);
    if (!WaitFor([&] { return merges > 0 && view->model()->rowCount() > 0; }, 60))
    {
        std::printf("no first refresh: %s\n", qPrintable(frame->GetPaneText(kPaneRefresh)));
        return 1;
    }
    going.kill();
    going.waitForFinished();
    coming.start("sleep", {"4202"});
    coming.waitForStarted();
    const int before = merges;
    if (!WaitFor([&] { return merges > before; }, 60))
    {
        std::printf("no second refresh: %s\n", qPrintable(frame->GetPaneText(kPaneRefresh)));
        return 1;
    }
    WaitFor([&] { return !frame->GetPaneText(kPaneCountdown).isEmpty(); }, 5);
    // The new "sleep" in the middle, the gone one near it.
    const QModelIndex fresh = view->model()->index(
        app.GetView()->ProcessModel()->RowOfPid(static_cast<int32_t>(coming.processId())), 0);
    if (fresh.isValid())
    {
        view->scrollTo(fresh, QAbstractItemView::PositionAtCenter);
        view->selectionModel()->setCurrentIndex(fresh, QItemSelectionModel::NoUpdate);
    }
    bool ok = Save(frame, folder + "/live.png");
    frame->GetFilterField()->setText("sleep 42");
    ok = Save(frame, folder + "/filter.png") && ok;
    frame->GetFilterField()->clear();

    const QByteArray stop = qgetenv("VIGIL_STOP_PEER");
    if (!stop.isEmpty() && std::system(stop.constData()) == 0)
    {
        if (WaitFor([&] { return frame->GetPaneText(kPaneRefresh).startsWith("Last refreshed"); },
                    60))
            ok = Save(frame, folder + "/stale.png") && ok;
        else
            ok = false;
    }
    coming.kill();
    coming.waitForFinished();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const char* out = argc > 1 ? argv[1] : "frame.png";
    bool splash = false;
    bool screen = false;
    bool watch = false;
    bool hosts = false;
    bool byPid = false;
    bool focus = false;
    bool memory = false;
    bool dark = false;
    bool live = false;
    for (int i = 2; i < argc; ++i)
    {
        dark |= std::strcmp(argv[i], "--dark") == 0;
        live |= std::strcmp(argv[i], "--live") == 0;
        splash |= std::strcmp(argv[i], "--splash") == 0;
        screen |= std::strcmp(argv[i], "--screen") == 0;
        watch |= std::strcmp(argv[i], "--watch") == 0;
        hosts |= std::strcmp(argv[i], "--hosts") == 0;
        byPid |= std::strcmp(argv[i], "--pid") == 0;
        focus |= std::strcmp(argv[i], "--focus") == 0;
        memory |= std::strcmp(argv[i], "--memory") == 0;
    }
    const QString outPath = QDir::current().absoluteFilePath(QString::fromLocal8Bit(out));

    // Keep the user's settings, registration and psvigil.cfg out of it.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toLocal8Bit());
    QDir::setCurrent(home.path());
    WriteSamples(watch, hosts, live, memory);

    int qtArgc = 1;
    QApplication qapp(qtArgc, argv);
    QApplication::setApplicationName("psvigil");
    QApplication::setOrganizationName("Korvane");
    if (dark)
    {
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(DarkPalette());
    }

    QStringList arguments{"psvigil"};
    if (!watch)
        arguments << "monday.pvg";
    if (!splash)
        arguments << "-Embedding";
    CPsvigilApp app;
    if (!app.InitInstance(arguments))
        return 1;
    CMainFrame* frame = app.GetMainFrame();
    if (live && watch)
    {
        // The size a first start gives, whatever the scale factor.
        frame->FitToScreen();
        return LiveScenario(app, outPath);
    }
    frame->resize(memory ? 1100 : 760, memory ? 560 : 460);
    frame->move(40, 40);
    if (watch)
    {
        // The first quick-pick, as the Watch button's drop-down would start it; then wait for
        // the first refresh and one countdown step.
        app.GetDocument()->OnQuickPick(0);
        for (int i = 0; i < 300; ++i)
        {
            QTest::qWait(100);
            if (!frame->GetPaneText(kPaneRefresh).isEmpty() &&
                !frame->GetPaneText(kPaneCountdown).isEmpty())
                break;
        }
        std::printf("pane 1: %s\npane 2: %s\npane 3: %s\n",
                    qPrintable(frame->GetPaneText(kPaneCountdown)),
                    qPrintable(frame->GetPaneText(kPaneTotal)),
                    qPrintable(frame->GetPaneText(kPaneRefresh)));
    }
    else if (hosts)
    {
        QTest::qWait(300);
        // The drop-down runs its own loop: take the shot from inside it, then close it.
        bool saved = false;
        QTimer::singleShot(500,
                           [&]
                           {
                               saved = frame->screen()->grabWindow(0).save(outPath);
                               frame->GetHostMenu()->close();
                           });
        frame->GetWatchButton()->showMenu();
        if (!saved)
            return 1;
        std::printf("%s\n", outPath.toLocal8Bit().constData());
        return 0;
    }
    else
    {
        frame->OnWatchNotify(WM_WATCH_STATUS, kStatusRunBegins, 0);
        frame->OnWatchNotify(WM_WATCH_STATUS, kStatusRefreshed, kRefreshOk);
        frame->OnWatchNotify(WM_WATCH_STATUS, kStatusCountdown, 7);
    }
    if (byPid)
        app.GetView()->Sort(1, true);
    if (memory)
        app.GetView()->Sort(ProcessColumnOf("RSS"), false);
    if (focus)
    {
        CPsvigilView* view = app.GetView();
        view->selectRow(4);
        view->selectionModel()->setCurrentIndex(view->model()->index(2, 0),
                                                QItemSelectionModel::NoUpdate);
        frame->activateWindow();
        view->setFocus();
    }
    QTest::qWait(600);

    const QPixmap shot = screen ? frame->screen()->grabWindow(0) : frame->grab();
    if (!shot.save(outPath))
        return 1;
    std::printf("%s\n", outPath.toLocal8Bit().constData());
    return 0;
}
