// Carries the watch engine's notifications from its worker thread to the user-interface thread.
#include "watch/ui/qt_notify_sink.h"

#include <QCoreApplication>

namespace
{

class CWatchNotifyEvent : public QEvent
{
  public:
    CWatchNotifyEvent(uint32_t message, intptr_t wParam, intptr_t lParam)
        : QEvent(CQtNotifySink::EventType()), m_message(message), m_wParam(wParam),
          m_lParam(lParam)
    {
    }

    uint32_t m_message;
    intptr_t m_wParam;
    intptr_t m_lParam;
};

} // namespace

CQtNotifySink::CQtNotifySink(QObject* parent) : QObject(parent) {}

CQtNotifySink::~CQtNotifySink()
{
    Detach();
}

QEvent::Type CQtNotifySink::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void CQtNotifySink::SetHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void CQtNotifySink::Detach()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_detached = true;
    }
    m_handler = nullptr;
    QCoreApplication::removePostedEvents(this, EventType());
}

void CQtNotifySink::PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam)
{
    // Held across the post so Detach cannot slip in between the check and the post.
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_detached)
        return;
    // Events of one priority for one receiver are delivered in the order they were posted.
    QCoreApplication::postEvent(this, new CWatchNotifyEvent(message, wParam, lParam));
}

void CQtNotifySink::customEvent(QEvent* event)
{
    if (event->type() != EventType())
    {
        QObject::customEvent(event);
        return;
    }
    auto* notify = static_cast<CWatchNotifyEvent*>(event);
    // A copy, because the handler may detach this sink while it runs.
    Handler handler = m_handler;
    if (handler)
        handler(notify->m_message, notify->m_wParam, notify->m_lParam);
}
