// Saves pictures of both dialogs when VIGIL_SHOT_DIR names a folder, so they can be looked at.
#include "watch/ui/dialogs/host_list_dialog.h"
#include "watch/ui/dialogs/options_sheet.h"

#include "tests/watch/ui/dialogs/dialog_test_driver.h"

#include <QCheckBox>
#include <QDir>
#include <QPixmap>

namespace
{
void Save(QWidget* window, const QString& name)
{
    const QString dir = qEnvironmentVariable("VIGIL_SHOT_DIR");
    window->show();
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(QDir(dir).filePath(name)));
}
} // namespace

TEST(DialogScreenshots, SavesBothDialogs)
{
    if (qEnvironmentVariableIsEmpty("VIGIL_SHOT_DIR"))
        GTEST_SKIP() << "VIGIL_SHOT_DIR not set";

    COwningPtrArray<HostSettings> hosts;
    for (const char* address : {"alpha.example.net", "10.0.0.7", "build-server"})
    {
        auto* host = new HostSettings;
        SetAddress(*host, address);
        hosts.Add(host);
    }
    CWatchDlg watch(hosts);
    Save(&watch, "watch_dialog.png");

    HostSettings host;
    SetAddress(host, "alpha.example.net");
    SetUsername(host, "alice");
    SetPassword(host, "secret");
    host.ManualRefresh = 1;
    host.FilterMode = kFilterByExpression;
    SetFilterExpression(host, "httpd");
    CHostOptionsDlg options(host);
    Save(&options, "host_options_settings.png");
    ClickTab(Control<QTabWidget>(&options, "sheet"), 1);
    Save(&options, "host_options_filter.png");
}
