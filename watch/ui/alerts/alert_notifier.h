// Tells the desktop about alerts: org.freedesktop.Notifications over the session bus, with the
// tray icon's balloon when no notification server answers.
#pragma once

#include "watch/ui/alerts/alert_center.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>

class CAlertNotifier : public QObject
{
    Q_OBJECT
  public:
    // fallback shows a balloon (title, text); it returns false when it cannot either.
    using Fallback = std::function<bool(const QString& title, const QString& text)>;
    CAlertNotifier(QDBusConnection bus, Fallback fallback, QObject* parent = nullptr);

    // One notification per alert: summary "Vigilor: RULE", body "HOST: PID COMMAND (DETAIL)".
    void Notify(const QList<CAlertRecord>& records);
    static QString Summary(const CAlertRecord& record);
    static QString Body(const CAlertRecord& record);

  signals:
    // For each alert, once its way out is known: true for the desktop's notification.
    void Delivered(bool byNotificationServer);

  private:
    QDBusConnection m_bus;
    Fallback m_fallback;
};
