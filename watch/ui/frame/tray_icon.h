// The application's icon in the desktop's notification area, with its "Restore" menu.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>

// Icon id of the main frame's tray icon; also the id of its pop-up menu.
constexpr int kTrayIconId = 142;
// Tips longer than this are cut (the notification record holds 63 characters and a zero).
constexpr int kTrayTipMax = 63;

class CTrayIcon : public QObject
{
    Q_OBJECT

  public:
    CTrayIcon();
    ~CTrayIcon() override;

    // The menu whose first item a click or double click runs and a right click shows, default item
    // in bold. Not owned: the owner window keeps it.
    void SetPopupMenu(QMenu* menu) { m_menu = menu; }
    QMenu* GetPopupMenu() const { return m_menu; }

    // Shows the icon. Fails, leaving the icon hidden, without an owner window or where the
    // desktop offers no notification area.
    bool AddIcon(QWidget* owner, const QString& tip, const QIcon& icon, int iconId);
    // Hides the icon; false when it was not shown.
    bool DeleteIcon();
    bool IsEnabled() const { return m_enabled; }
    // Changes the picture and the tip of a shown icon (alerts waiting, or none).
    void SetIconAndTip(const QIcon& icon, const QString& tip);
    // The icon's balloon message; false when the icon is not shown.
    bool ShowBalloon(const QString& title, const QString& text);
    QString GetTip() const { return m_tip; }

    // Turns an activation of the icon into a command for the owner window. Returns 0 when the
    // notification is not for this icon (or there is no menu), 1 when it was handled, even by
    // doing nothing.
    int HandleNotification(int iconId, QSystemTrayIcon::ActivationReason reason);

    // Tests replace the desktop's answer to "is there a notification area?".
    void SetAvailabilityProbe(std::function<bool()> probe) { m_available = std::move(probe); }

  private:
    bool m_enabled = false;
    int m_iconId = 0;
    QString m_tip;
    QPointer<QWidget> m_owner;
    QPointer<QMenu> m_menu;
    QSystemTrayIcon* m_icon = nullptr;
    std::function<bool()> m_available;
};
