// The "FTP File Operation" dialog in Qt Widgets, and where it can be shown: in the host's running
// application, in one of its own for a console program with a display, or not at all.
#include "lanvex/ftp/shell_file_dialog.h"

#include "lanvex/ftp/shell_file_execute.h"

#include "platform/ui/dialog_units.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
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

enum class Kind
{
    DefaultButton,
    Button,
    Radio,
    Check,
    Group,
    Edit,
    Static
};

struct TemplateControl
{
    int Id; // 0: the control has none
    Kind What;
    const char* Text;
    int X, Y, Width, Height; // dialog units
    bool TabStop;
    int Buddy = 0; // a label's edit, which its mnemonic focuses
};

// The dialog template, in template order: creation order, z-order and Tab order follow it.
constexpr TemplateControl kTemplate[] = {
    {1, Kind::DefaultButton, "&OK", 111, 224, 50, 14, true},
    {2, Kind::Button, "C&ancel", 163, 224, 50, 14, true},
    {203, Kind::Radio, "&Copy", 20, 169, 41, 10, true},
    {204, Kind::Radio, "&Move", 20, 184, 34, 10, false},
    {205, Kind::Radio, "&Delete", 20, 199, 37, 10, false},
    {206, Kind::Check, "Show d&ialog", 100, 169, 57, 10, true},
    {207, Kind::Check, "Files o&nly", 100, 184, 50, 10, true},
    {208, Kind::Check, "Create destination di&rectories", 100, 199, 110, 10, true},
    {0, Kind::Group, "Operation", 7, 155, 73, 62, false},
    {0, Kind::Group, "Options", 88, 155, 125, 63, false},
    {0, Kind::Group, "", 7, 3, 206, 72, false},
    {201, Kind::Edit, "", 75, 15, 80, 14, true},
    {202, Kind::Edit, "", 75, 35, 80, 14, true},
    {209, Kind::Edit, "", 75, 55, 80, 14, true},
    {212, Kind::Check, "S&how", 160, 57, 45, 10, true}, // shows the masked password
    {210, Kind::Edit, "", 20, 99, 165, 14, true},
    {211, Kind::Edit, "", 20, 129, 165, 14, true},
    {0, Kind::Group, "", 7, 77, 206, 75, false},
    {0, Kind::Static, "&From (may use wildcards , *.*, ?.* etc.) :", 20, 89, 160, 8, false, 210},
    {0, Kind::Static, "&To (destination directory or file name) :", 20, 119, 120, 8, false, 211},
    {0, Kind::Static, "&Username", 35, 39, 33, 8, false, 202},
    {0, Kind::Static, "&Password", 36, 57, 32, 8, false, 209},
    {0, Kind::Static, "&Server", 44, 19, 22, 8, false, 201},
};

constexpr int kDialogWidth = 220;
constexpr int kDialogHeight = 245;

QString ToQt(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQt(const QString& text)
{
    return text.toStdU16String();
}

class CFileOperationDlg : public QDialog
{
  public:
    CFileOperationDlg(QWidget* pOwner, FileOperationFields& fields)
        : QDialog(pOwner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint),
          m_fields(fields)
    {
        setWindowTitle(QStringLiteral("FTP File Operation"));
        setModal(true);
        CreateControls();
        setFixedSize(DialogUnitsX(this, kDialogWidth) + m_nExtraWidth,
                     DialogUnitsY(this, kDialogHeight));
        ShowFields();
    }

    // OK: every control read back, in this order, then the dialog ends.
    void accept() override
    {
        m_fields.From = FromQt(EditText(210));
        m_fields.To = FromQt(EditText(211));
        m_fields.ShowDialog = Checked(206);
        m_fields.FilesOnly = Checked(207);
        m_fields.CreateDestDirectories = Checked(208);
        m_fields.Function = Checked(203) ? 1 : Checked(204) ? 2 : 3;
        m_fields.Server = FromQt(EditText(201));
        m_fields.Username = FromQt(EditText(202));
        m_fields.Password = FromQt(EditText(209));
        QDialog::accept();
    }

  private:
    void CreateControls()
    {
        auto* pRadios = new QButtonGroup(this);
        QWidget* pPreviousStop = nullptr;
        std::vector<QWidget*> frames;
        for (const TemplateControl& c : kTemplate)
        {
            QWidget* pControl = MakeControl(c, pRadios);
            if (c.Id != 0)
            {
                pControl->setObjectName(QString::number(c.Id));
                m_controls[c.Id] = pControl;
            }
            PlaceInDialogUnits(pControl, this, c.X, c.Y, c.Width, c.Height);
            // A text wider than its template box (another font than the template's) stays whole.
            if (c.What != Kind::Edit && c.What != Kind::Group)
                pControl->resize(std::max(pControl->width(), pControl->sizeHint().width()),
                                 pControl->height());
            if (c.What == Kind::Group || c.What == Kind::Static)
                frames.push_back(pControl);
            if (c.Buddy != 0)
                m_labels[c.Buddy] = static_cast<QLabel*>(pControl);
            if (c.TabStop)
            {
                if (pPreviousStop != nullptr)
                    setTabOrder(pPreviousStop, pControl);
                pPreviousStop = pControl;
            }
        }
        // Frames come late in the template but must not cover the controls inside them.
        for (QWidget* pFrame : frames)
            pFrame->lower();
        for (const TemplateControl& c : kTemplate)
            if (c.Buddy != 0)
                m_labels[c.Buddy]->setBuddy(m_controls.at(c.Buddy));
        // The password is masked; "Show" shows it while checked.
        auto* pPassword = static_cast<QLineEdit*>(m_controls.at(209));
        pPassword->setEchoMode(QLineEdit::Password);
        connect(static_cast<QCheckBox*>(m_controls.at(212)), &QCheckBox::toggled, pPassword,
                [pPassword](bool bShow)
                { pPassword->setEchoMode(bShow ? QLineEdit::Normal : QLineEdit::Password); });
        // A check box whose text is wider than the template's box (another font than the
        // template's) stays inside its frame: the frame grows to hold it, and the dialog with it.
        KeepInsideFrames();
    }

    void KeepInsideFrames()
    {
        const QList<QGroupBox*> groups = findChildren<QGroupBox*>();
        const int nWidth = DialogUnitsX(this, kDialogWidth);
        int nRight = nWidth;
        for (QGroupBox* pGroup : groups)
            for (const auto& [id, pControl] : m_controls)
            {
                const QRect frame = pGroup->geometry();
                const QRect inner = frame.adjusted(0, 0, -DialogUnitsX(this, 3), 0);
                if (!frame.contains(pControl->geometry().topLeft()) ||
                    inner.right() >= pControl->geometry().right())
                    continue;
                pGroup->resize(pControl->geometry().right() + DialogUnitsX(this, 4) - frame.left(),
                               frame.height());
                nRight = std::max(nRight, pGroup->geometry().right() + DialogUnitsX(this, 7));
            }
        m_nExtraWidth = nRight - nWidth;
    }

    QWidget* MakeControl(const TemplateControl& c, QButtonGroup* pRadios)
    {
        const QString text = QString::fromLatin1(c.Text);
        switch (c.What)
        {
        case Kind::DefaultButton:
        case Kind::Button:
        {
            auto* pButton = new QPushButton(text, this);
            pButton->setDefault(c.What == Kind::DefaultButton);
            pButton->setAutoDefault(true);
            connect(pButton, &QPushButton::clicked, this,
                    c.Id == 1 ? &QDialog::accept : &QDialog::reject);
            return pButton;
        }
        case Kind::Radio:
        {
            // The group is one Tab stop (the checked button); arrows move within it.
            auto* pRadio = new QRadioButton(text, this);
            pRadios->addButton(pRadio, c.Id);
            return pRadio;
        }
        case Kind::Check:
            return new QCheckBox(text, this);
        case Kind::Group:
            return new QGroupBox(text, this);
        case Kind::Edit:
        {
            auto* pEdit = new QLineEdit(this);
            pEdit->setFocusPolicy(Qt::StrongFocus);
            return pEdit;
        }
        case Kind::Static:
        {
            auto* pLabel = new QLabel(text, this);
            pLabel->setTextFormat(Qt::PlainText);
            return pLabel;
        }
        }
        return nullptr;
    }

    void ShowFields()
    {
        SetEditText(210, m_fields.From);
        SetEditText(211, m_fields.To);
        SetChecked(206, m_fields.ShowDialog != 0);
        SetChecked(207, m_fields.FilesOnly != 0);
        SetChecked(208, m_fields.CreateDestDirectories != 0);
        const int radio = m_fields.Function == 1 ? 203 : m_fields.Function == 2 ? 204 : 205;
        SetChecked(radio, true); // auto-exclusive: the other two are cleared
        SetEditText(201, m_fields.Server);
        SetEditText(202, m_fields.Username);
        SetEditText(209, m_fields.Password);
    }

    QString EditText(int id) const { return static_cast<QLineEdit*>(m_controls.at(id))->text(); }
    void SetEditText(int id, const std::u16string& text)
    {
        static_cast<QLineEdit*>(m_controls.at(id))->setText(ToQt(text));
    }
    LONG Checked(int id) const
    {
        return static_cast<QAbstractButton*>(m_controls.at(id))->isChecked() ? 1 : 0;
    }
    void SetChecked(int id, bool bChecked)
    {
        static_cast<QAbstractButton*>(m_controls.at(id))->setChecked(bChecked);
    }

    FileOperationFields& m_fields;
    std::map<int, QWidget*> m_controls;
    std::map<int, QLabel*> m_labels;
    int m_nExtraWidth = 0;

  public:
    int ExtraWidth() const { return m_nExtraWidth; }
};

HRESULT RunModally(QWidget* pOwner, FileOperationFields& fields)
{
    FileOperationFields edited = fields;
    CFileOperationDlg dialog(pOwner, edited);
    if (dialog.exec() != QDialog::Accepted)
        return S_FALSE;
    fields = edited;
    return S_OK;
}

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
