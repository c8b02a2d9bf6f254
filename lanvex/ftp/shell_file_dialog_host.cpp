// Where the file operation's windows can be shown (the host's running application, one of our
// own for a console program with a display, or nowhere), the Configure entry point, and the
// progress window of a run.
#include "lanvex/ftp/shell_file_dialog.h"
#include "lanvex/ftp/shell_file_dialog_modal.h"

#include "lanvex/ftp/shell_file_execute.h"

#include "platform/ui/dialog_units.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace lanvex
{

namespace
{

// Whether a stream socket at this address takes a connection within a short while.
bool Connects(int family, const sockaddr* pAddress, socklen_t nLength)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool bConnected = ::connect(fd, pAddress, nLength) == 0;
    if (!bConnected && errno == EINPROGRESS)
    {
        pollfd pfd = {fd, POLLOUT, 0};
        int nError = 0;
        socklen_t nErrorLength = sizeof nError;
        bConnected = ::poll(&pfd, 1, 500) == 1 &&
                     ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nErrorLength) == 0 &&
                     nError == 0;
    }
    ::close(fd);
    return bConnected;
}

bool UnixSocketConnects(const std::string& path, bool bAbstract)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t nOffset = bAbstract ? 1 : 0; // an abstract name starts with a zero byte
    if (path.size() + nOffset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + nOffset, path.data(), path.size());
    const socklen_t nLength =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + nOffset + path.size());
    return Connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), nLength);
}

bool PluginInstalled(const std::string& platform)
{
    if (platform.find_first_of("/.") != std::string::npos)
        return false;
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libq") + QString::fromStdString(platform) +
                             QStringLiteral(".so"));
}

// Platforms that draw for nobody: a modal dialog there would wait for ever.
bool IsHeadlessPlatform(const std::string& platform)
{
    return platform == "offscreen" || platform == "minimal" || platform == "minimalegl";
}

// The platform QT_QPA_PLATFORM names first ("xcb:option", "wayland;xcb" name more).
std::string FirstPlatform(const char* pszSetting)
{
    const std::string setting = pszSetting != nullptr ? pszSetting : "";
    return setting.substr(0, setting.find_first_of(":;"));
}

// Qt is not made to be unloaded and keeps state past its application's end: once this module
// has brought it into a process it stays there, while the module itself can still be unloaded.
void KeepLibraryOf(const void* pSymbol)
{
    Dl_info info = {};
    if (::dladdr(pSymbol, &info) != 0 && info.dli_fname != nullptr)
        ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

struct CKeepQtLoaded
{
    CKeepQtLoaded()
    {
        KeepLibraryOf(reinterpret_cast<const void*>(&qVersion));
        KeepLibraryOf(reinterpret_cast<const void*>(&QGuiApplication::platformName));
        KeepLibraryOf(reinterpret_cast<const void*>(&QApplication::activeWindow));
    }
} g_keepQtLoaded;

} // namespace

bool LocalXDisplayReachable(const std::string& display)
{
    // ":N", ":N.S", "unix:N": the server's local socket; "host:N" (ssh's "localhost:10.0"
    // included): TCP port 6000 + N there, as Qt would reach it. Qt ends the process when the
    // display it was given does not answer, so an unanswered one is no display.
    const size_t nColon = display.rfind(':');
    if (nColon == std::string::npos)
        return false;
    const std::string host = display.substr(0, nColon);
    std::string number = display.substr(nColon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (!host.empty() && host != "unix")
    {
        const int nPort = 6000 + std::stoi(number);
        if (nPort > 65535)
            return false;
        addrinfo hints = {};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* pResults = nullptr;
        if (::getaddrinfo(host.c_str(), std::to_string(nPort).c_str(), &hints, &pResults) != 0)
            return false;
        bool bConnects = false;
        for (addrinfo* p = pResults; p != nullptr && !bConnects; p = p->ai_next)
            bConnects = Connects(p->ai_family, p->ai_addr, p->ai_addrlen);
        ::freeaddrinfo(pResults);
        return bConnects;
    }
    const std::string path = "/tmp/.X11-unix/X" + number;
    return UnixSocketConnects(path, false) || UnixSocketConnects(path, true);
}

DialogHost ChooseDialogHost(const DialogHostFacts& facts)
{
    if (facts.ApplicationExists)
        return facts.ApplicationHasWidgets && facts.OnApplicationThread ? DialogHost::Running
                                                                        : DialogHost::None;
    if (!facts.OnMainThread)
        return DialogHost::None;
    if (facts.PlatformChosen)
        return DialogHost::OwnChosen;
    if (facts.XDisplayReachable)
        return DialogHost::OwnX;
    return DialogHost::None;
}

// Widgets on the calling thread for as long as this lives: the host's running application, or
// one of our own in a console program that has a display.
class CWidgetHost
{
  public:
    CWidgetHost()
    {
        QCoreApplication* pApp = QCoreApplication::instance();
        DialogHostFacts facts;
        facts.ApplicationExists = pApp != nullptr;
        facts.ApplicationHasWidgets = qobject_cast<QApplication*>(pApp) != nullptr;
        facts.OnApplicationThread = pApp != nullptr && QThread::currentThread() == pApp->thread();
        facts.OnMainThread = ::syscall(SYS_gettid) == ::getpid();
        // Qt ends the process when its platform can't start, so that is made sure of first.
        if (!facts.ApplicationExists)
        {
            const std::string platform = FirstPlatform(std::getenv("QT_QPA_PLATFORM"));
            facts.PlatformChosen = !platform.empty() && platform != "xcb" &&
                                   !IsHeadlessPlatform(platform) && PluginInstalled(platform);
            const char* pszDisplay = std::getenv("DISPLAY");
            facts.XDisplayReachable = !facts.PlatformChosen && pszDisplay != nullptr &&
                                      PluginInstalled("xcb") && LocalXDisplayReachable(pszDisplay);
        }
        m_host = ChooseDialogHost(facts);
        if (m_host == DialogHost::OwnChosen || m_host == DialogHost::OwnX)
        {
            // The platform is named so that Qt never picks one that can't start here.
            if (m_host == DialogHost::OwnX)
                m_argc = 3;
            m_pOwnApp = std::make_unique<QApplication>(m_argc, m_argv);
        }
    }

    bool CanShow() const { return m_host != DialogHost::None; }
    QWidget* Owner() const
    {
        return m_host == DialogHost::Running ? QApplication::activeWindow() : nullptr;
    }

  private:
    DialogHost m_host = DialogHost::None;
    // QApplication keeps references to its arguments: they live as long as it does.
    char m_szName[7] = "lanvex";
    char m_szOption[10] = "-platform";
    char m_szXcb[4] = "xcb";
    char* m_argv[4] = {m_szName, m_szOption, m_szXcb, nullptr};
    int m_argc = 1;
    std::unique_ptr<QApplication> m_pOwnApp;
};

HRESULT RunFileOperationDialog(FileOperationFields& fields)
{
    CWidgetHost host;
    return host.CanShow() ? RunModally(host.Owner(), fields) : S_FALSE;
}

struct CFileOperationProgress::Impl
{
    CWidgetHost Host;
};

CFileOperationProgress::CFileOperationProgress(bool bShow)
{
    if (bShow)
        m_pImpl = std::make_unique<Impl>();
}

CFileOperationProgress::~CFileOperationProgress() = default;

HRESULT CFileOperationProgress::Run(CFileOperationStatus& status,
                                    const std::function<HRESULT()>& work)
{
    if (!m_pImpl || !m_pImpl->Host.CanShow())
        return work();
    QProgressDialog dialog(m_pImpl->Host.Owner());
    dialog.setWindowTitle(QStringLiteral("FTP File Operation"));
    dialog.setCancelButtonText(QStringLiteral("&Cancel"));
    dialog.setRange(0, 0);
    dialog.setMinimumDuration(0);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumWidth(DialogUnitsX(&dialog, 260));
    dialog.setLabelText(QStringLiteral("Connecting..."));
    // Cancel stops the run at once: its waits end when the status's descriptor turns readable.
    QObject::connect(&dialog, &QProgressDialog::canceled, [&status] { status.Cancel(); });
    dialog.show();

    std::atomic<bool> bDone{false};
    HRESULT hr = E_UNEXPECTED;
    QEventLoop loop;
    std::thread worker(
        [&]
        {
            try
            {
                hr = work();
            }
            catch (const std::bad_alloc&)
            {
                hr = E_OUTOFMEMORY;
            }
            catch (...)
            {
                hr = E_UNEXPECTED;
            }
            bDone = true;
        });
    // The window reads the status a few times a second; the rate is over the last seconds.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout,
                     [&]
                     {
                         if (bDone)
                         {
                             loop.quit();
                             return;
                         }
                         const CFileOperationStatus::Snapshot now = status.Read();
                         if (now.Done == 0 && now.Path.empty())
                             return;
                         FileOperationProgressSnapshot shown;
                         shown.Path = now.Path;
                         shown.Done = now.Done;
                         shown.Found = now.Found;
                         shown.Bytes = now.Bytes;
                         shown.Size = now.Size;
                         const double seconds =
                             std::chrono::duration<double>(Clock::now() - start).count();
                         shown.BytesPerSecond =
                             seconds > 0 ? static_cast<double>(now.AllBytes) / seconds : 0;
                         const FileOperationProgressText text = DescribeProgress(shown);
                         dialog.setLabelText(QString::fromUtf8(text.Label.c_str()));
                         if (text.Permille < 0)
                             dialog.setRange(0, 0);
                         else
                         {
                             dialog.setRange(0, 1000);
                             dialog.setValue(text.Permille);
                         }
                     });
    timer.start();
    loop.exec();
    worker.join();
    return hr;
}

} // namespace lanvex
