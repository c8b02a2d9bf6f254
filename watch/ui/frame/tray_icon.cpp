// The application's icon in the desktop's notification area, with its "Restore" menu.
#include "watch/ui/frame/tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

CTrayIcon::CTrayIcon() : m_available(&QSystemTrayIcon::isSystemTrayAvailable) {}

CTrayIcon::~CTrayIcon()
{
    DeleteIcon();
}

bool CTrayIcon::AddIcon(QWidget* owner, const QString& tip, const QIcon& icon, int iconId)
{
    m_enabled = false;
    if (owner == nullptr)
        return false;
    m_owner = owner;
    m_iconId = iconId;
    m_tip = tip.left(kTrayTipMax);
    if (!m_available || !m_available())
        return false;

    delete m_icon;
    m_icon = new QSystemTrayIcon(icon, this);
    m_icon->setToolTip(m_tip);
    if (m_menu)
    {
        // The platform shows the context menu itself on a right click; the first item is the
        // default one, drawn in bold.
        if (!m_menu->actions().isEmpty())
            m_menu->setDefaultAction(m_menu->actions().first());
        m_icon->setContextMenu(m_menu);
    }
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason)
            { HandleNotification(m_iconId, reason); });
    m_icon->show();
    m_enabled = true;
    return true;
}

void CTrayIcon::SetIconAndTip(const QIcon& icon, const QString& tip)
{
    m_tip = tip.left(kTrayTipMax);
    if (m_icon == nullptr)
        return;
    m_icon->setIcon(icon);
    m_icon->setToolTip(m_tip);
}

bool CTrayIcon::ShowBalloon(const QString& title, const QString& text)
{
    if (!m_enabled || m_icon == nullptr)
        return false;
    m_icon->showMessage(title, text, QSystemTrayIcon::Warning);
    return true;
}

bool CTrayIcon::DeleteIcon()
{
    if (!m_enabled)
        return false;
    m_enabled = false;
    if (m_icon != nullptr)
    {
        m_icon->hide();
        delete m_icon;
        m_icon = nullptr;
    }
    return true;
}

int CTrayIcon::HandleNotification(int iconId, QSystemTrayIcon::ActivationReason reason)
{
    if (iconId != m_iconId)
        return 0;
    // Today's trays send single clicks: one restores the window as a double click does.
    const bool restore =
        reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger;
    if (reason != QSystemTrayIcon::Context && !restore)
        return 1;
    if (!m_menu || m_menu->actions().isEmpty())
        return 0;

    QAction* first = m_menu->actions().first();
    if (reason == QSystemTrayIcon::Context)
    {
        // The platform opens the context menu; make sure its first item is the bold default.
        m_menu->setDefaultAction(first);
        return 1;
    }

    // Click or double click: bring the owner forward and run the menu's first command.
    if (m_owner)
    {
        m_owner->raise();
        m_owner->activateWindow();
    }
    first->trigger();
    return 1;
}
