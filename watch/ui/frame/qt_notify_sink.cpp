// Carries the watch engine's notifications from its worker thread to the user-interface thread.
#include "watch/ui/frame/qt_notify_sink.h"

#include <QCoreApplication>

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
        m_queue.clear();
    }
    m_handler = nullptr;
}

void CQtNotifySink::PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_detached)
        return;
    m_queue.push_back({message, wParam, lParam});
    // One wake-up at a time: the drain takes everything queued until it finds the queue empty.
    if (!m_wakePosted)
    {
        m_wakePosted = true;
        QCoreApplication::postEvent(this, new QEvent(EventType()));
    }
}

void CQtNotifySink::customEvent(QEvent*)
{
    // Nobody else posts custom events to this object; the event carries nothing.
    Drain();
}

void CQtNotifySink::Drain()
{
    // Only what was queued when the drain began: a worker that keeps posting must not keep
    // the user-interface thread here. The rest waits for the next wake-up, which is posted
    // only at the end, so a nested event loop inside a handler cannot overtake the queue.
    std::size_t budget = 0;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        budget = m_queue.size();
    }
    for (; budget > 0; --budget)
    {
        WatchNotification next;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_detached || m_queue.empty())
                break;
            next = m_queue.front();
            m_queue.pop_front();
        }
        // A copy, because the handler may detach this sink while it runs.
        Handler handler = m_handler;
        if (handler)
            handler(next.Message, next.WParam, next.LParam);
    }

    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_detached || m_queue.empty())
        m_wakePosted = false;
    else
        QCoreApplication::postEvent(this, new QEvent(EventType()));
}
