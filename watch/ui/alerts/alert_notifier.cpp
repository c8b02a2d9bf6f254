// Tells the desktop about alerts: org.freedesktop.Notifications over the session bus, with the
// tray icon's balloon when no notification server answers.
#include "watch/ui/alerts/alert_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace
{
// Asked without blocking; a server that does not answer in this time counts as absent.
constexpr int kNotifyTimeoutMs = 3000;
} // namespace

CAlertNotifier::CAlertNotifier(QDBusConnection bus, Fallback fallback, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_fallback(std::move(fallback))
{
}

QString CAlertNotifier::Summary(const CAlertRecord& record)
{
    return QStringLiteral("Vigilor: %1").arg(record.Rule);
}

QString CAlertNotifier::Body(const CAlertRecord& record)
{
    return QStringLiteral("%1: %2").arg(record.Host, record.ProcessText());
}

void CAlertNotifier::Notify(const QList<CAlertRecord>& records)
{
    for (const CAlertRecord& record : records)
    {
        const QString summary = Summary(record);
        const QString body = Body(record);
        auto fallBack = [this, summary, body]
        {
            if (m_fallback)
                m_fallback(summary, body);
            emit Delivered(false);
        };
        if (!m_bus.isConnected())
        {
            fallBack();
            continue;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // The body is plain text: servers that read markup must not take host text for it.
        QVariantMap hints;
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
        hints.insert(QStringLiteral("category"), QStringLiteral("device"));
        call << QStringLiteral("psvigil") << 0u << QStringLiteral("dialog-warning") << summary
             << body.toHtmlEscaped() << QStringList() << hints << -1;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kNotifyTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, fallBack](QDBusPendingCallWatcher* finished)
                {
                    finished->deleteLater();
                    if (finished->isError())
                        fallBack();
                    else
                        emit Delivered(true);
                });
    }
}
