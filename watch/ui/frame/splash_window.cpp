// The start-up splash: our picture for a moment while the main window comes up.
#include "watch/ui/frame/splash_window.h"

#include "watch/ui/frame/resources/artwork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

bool CStartupSplash::s_allowed = false;
CStartupSplash* CStartupSplash::s_current = nullptr;

bool CommandLineAllowsSplash(const QStringList& arguments)
{
    for (int i = 1; i < arguments.size(); ++i)
    {
        QString flag = arguments.at(i);
        if (!flag.startsWith('-'))
            continue;
        while (flag.startsWith('-'))
            flag.remove(0, 1);
        if (flag.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0 ||
            flag.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

void CStartupSplash::ShowSplash(QWidget* owner)
{
    if (!s_allowed || s_current != nullptr)
        return;
    const QPixmap picture = DrawSplashPicture();
    if (picture.isNull())
        return;
    auto* splash = new CStartupSplash(owner, picture);
    splash->show();
    splash->repaint();
}

CStartupSplash::CStartupSplash(QWidget* owner, const QPixmap& picture)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(picture), m_owner(owner)
{
    s_current = this;
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    setFixedSize(m_picture.size());

    // Centred over the owner when it is on screen, else in the screen's work area (the main
    // window is not shown yet when the splash comes up at start).
    QRect area;
    if (m_owner && m_owner->isVisible())
        area = m_owner->frameGeometry();
    else if (QScreen* screen = m_owner ? m_owner->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        move(area.center() - rect().center());

    // Precise: a coarse timer may fire up to 5% early.
    m_timerId = startTimer(kTimeoutMs, Qt::PreciseTimer);
    QCoreApplication::instance()->installEventFilter(this);
}

CStartupSplash::~CStartupSplash()
{
    QCoreApplication::instance()->removeEventFilter(this);
    if (s_current == this)
        s_current = nullptr;
}

void CStartupSplash::HideSplash()
{
    if (m_hiding)
        return;
    m_hiding = true;
    QCoreApplication::instance()->removeEventFilter(this);
    if (m_timerId != 0)
    {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    hide();
    if (m_owner)
        m_owner->repaint();
    s_current = nullptr;
    deleteLater();
}

bool CStartupSplash::eventFilter(QObject* watched, QEvent* event)
{
    if (m_hiding)
        return QWidget::eventFilter(watched, event);
    switch (event->type())
    {
    case QEvent::ShortcutOverride:
        // Claim the key so no shortcut fires; the key press that follows closes the splash.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        HideSplash();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void CStartupSplash::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
}

void CStartupSplash::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timerId)
        HideSplash();
    else
        QWidget::timerEvent(event);
}
