// The start-up splash: our picture for a moment while the main window comes up.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class CStartupSplash : public QWidget
{
    Q_OBJECT

  public:
    static constexpr int kTimeoutMs = 2750;

    // Set once at start-up from the command line; a run as an embedded or automation server
    // shows no splash.
    static void EnableSplash(bool enable) { s_allowed = enable; }
    static bool IsSplashAllowed() { return s_allowed; }
    // Shows the splash with owner as its owner, unless splashes are off or one is up.
    static void ShowSplash(QWidget* owner);
    // The splash on screen, or null.
    static CStartupSplash* Current() { return s_current; }

    // Closes the window and repaints the owner; the object deletes itself.
    void HideSplash();

  protected:
    // Sees every event of the application first: a key or mouse button press closes the
    // splash and goes no further.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    CStartupSplash(QWidget* owner, const QPixmap& picture);
    ~CStartupSplash() override;

    QPixmap m_picture;
    QPointer<QWidget> m_owner;
    int m_timerId = 0;
    bool m_hiding = false;

    static bool s_allowed;
    static CStartupSplash* s_current;
};

// Whether a command line asks for no splash: -Embedding or -Automation (any case), as an
// automation server is started.
bool CommandLineAllowsSplash(const QStringList& arguments);
