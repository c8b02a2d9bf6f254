// Tray icon: which activations restore the owner, which are handled and ignored.
#include "watch/ui/frame/tray_icon.h"

#include "tests/watch/ui/frame/frame_test_support.h"
#include "watch/ui/frame/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

namespace
{

class TrayIconTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_frame.GetTrayIcon().SetAvailabilityProbe([] { return true; });
        ASSERT_TRUE(m_frame.Create());
        m_tray = &m_frame.GetTrayIcon();
        ASSERT_TRUE(m_tray->IsEnabled());
        m_frame.show();
        m_frame.showMinimized();
        ASSERT_TRUE(WaitUntil([&] { return !m_frame.isVisible(); }));
    }

    CFakeDocument m_doc;
    CMainFrame m_frame{&m_doc, nullptr};
    CTrayIcon* m_tray = nullptr;
};

TEST_F(TrayIconTest, ShowsTheTipAndABoldRestoreMenu)
{
    EXPECT_EQ(m_tray->GetTip(), "Vigilor");
    QMenu* menu = m_tray->GetPopupMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "Restore");
    EXPECT_EQ(menu->defaultAction(), menu->actions().first());
}

TEST_F(TrayIconTest, ClickOrDoubleClickRestoresOthersAreHandledAndIgnored)
{
    const struct
    {
        QSystemTrayIcon::ActivationReason Reason;
        bool Restores;
    } cases[] = {{QSystemTrayIcon::Trigger, true},
                 {QSystemTrayIcon::DoubleClick, true},
                 {QSystemTrayIcon::MiddleClick, false},
                 {QSystemTrayIcon::Unknown, false},
                 {QSystemTrayIcon::Context, false}};
    for (const auto& c : cases)
    {
        if (m_frame.isVisible())
            m_frame.showMinimized();
        ASSERT_TRUE(WaitUntil([&] { return !m_frame.isVisible(); })) << c.Reason;
        EXPECT_EQ(m_tray->HandleNotification(kTrayIconId, c.Reason), 1) << c.Reason;
        EXPECT_EQ(m_frame.isVisible(), c.Restores) << c.Reason;
        EXPECT_EQ(m_frame.isMinimized(), !c.Restores) << c.Reason;
    }
}

TEST_F(TrayIconTest, AnotherIconsNotificationIsNotHandled)
{
    EXPECT_EQ(m_tray->HandleNotification(kTrayIconId + 1, QSystemTrayIcon::DoubleClick), 0);
    EXPECT_FALSE(m_frame.isVisible());
}

TEST(TrayIconLifecycle, AddAndDeleteFollowTheDesktop)
{
    CTrayIcon tray;
    tray.SetAvailabilityProbe([] { return false; });
    QWidget owner;
    EXPECT_FALSE(tray.AddIcon(&owner, "Vigilor", QIcon(), kTrayIconId));
    EXPECT_FALSE(tray.IsEnabled());
    EXPECT_FALSE(tray.DeleteIcon());

    tray.SetAvailabilityProbe([] { return true; });
    EXPECT_FALSE(tray.AddIcon(nullptr, "Vigilor", QIcon(), kTrayIconId));
    EXPECT_TRUE(tray.AddIcon(&owner, QString(80, 'x'), QIcon(), kTrayIconId));
    EXPECT_EQ(tray.GetTip().size(), kTrayTipMax);
    EXPECT_TRUE(tray.DeleteIcon());
    EXPECT_FALSE(tray.DeleteIcon());
}

} // namespace
