// The application object: settings, recent files, document, view and frame, start-up steps.
#include "watch/ui/app/psvigil_app.h"

#include "watch/ui/alerts/alerts_binding.h"
#include "watch/ui/app/document_binding.h"
#include "watch/ui/app/lanvex_registration.h"
#include "watch/ui/dialogs/settings_dialog.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/frame/desktop_registration.h"
#include "watch/ui/frame/main_frame.h"
#include "watch/ui/frame/qt_notify_sink.h"
#include "watch/ui/frame/recent_file_list.h"
#include "watch/ui/frame/splash_window.h"

#include "watch/engine/local_host.h"

#include <QCoreApplication>
#include <QSettings>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

CommandLineInfo ParseCommandLine(const QStringList& arguments)
{
    CommandLineInfo info;
    info.ShowSplash = CommandLineAllowsSplash(arguments);
    for (int i = 1; i < arguments.size(); ++i)
    {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--watch") && i + 1 < arguments.size())
        {
            info.WatchHost = arguments.at(++i);
            continue;
        }
        if (argument.startsWith('-'))
            continue;
        if (info.FileName.isEmpty())
            info.FileName = argument;
    }
    return info;
}

CPsvigilApp::CPsvigilApp(QObject* parent)
    : QObject(parent), m_lanvexCandidates(LanvexLibraryCandidates(
                           QCoreApplication::applicationDirPath().toStdString()))
{
}

CPsvigilApp::~CPsvigilApp()
{
    // Window, columns and sort are kept for the next start.
    if (m_settings && m_frame)
    {
        m_frame->SaveSettings(*m_settings);
        if (m_view != nullptr)
            m_view->SaveSettings(*m_settings);
        m_settings->sync();
    }
    // The frame's destruction detaches the sink; the document then joins the worker.
    m_alerts.reset();
    m_frame.reset();
    m_binding.reset();
    m_doc.reset();
    m_sink.reset();
}

bool CPsvigilApp::InitInstance(const QStringList& arguments)
{
    const CommandLineInfo command = ParseCommandLine(arguments);
    CStartupSplash::EnableSplash(command.ShowSplash);

    m_settings = std::make_unique<QSettings>(QStringLiteral("Korvane"), QStringLiteral("psvigil"));
    m_recentFiles = std::make_unique<CRecentFileList>(m_settings.get());
    m_recentFiles->ReadList();

    m_sink = std::make_unique<CQtNotifySink>();
    m_doc = std::make_unique<CPsvigilDoc>();
    m_doc->SetNotifySink(m_sink.get());
    // Started straight from the build or a fresh install, the telnet component may not be
    // registered yet: register the Lanvex that came with this program, as scripts/run would,
    // at start, and again at a watch should the entry vanish meanwhile (that one says why).
    RegisterLanvexIfMissing(m_lanvexCandidates);
    m_doc->Engine().SetTelnetFactory(
        RegisteringTelnetFactory(CWatchEngine::CreateTelnetThroughRuntime, m_lanvexCandidates));
    m_binding = std::make_unique<CDocumentBinding>(m_doc.get());
    m_frame = std::make_unique<CMainFrame>(m_binding.get(), m_recentFiles.get());
    m_frame->setAttribute(Qt::WA_DeleteOnClose, false);
    m_frame->AttachNotifySink(m_sink.get());
    if (!m_frame->Create())
        return false;
    m_view = new CPsvigilView(m_doc.get());
    connect(m_view, &CPsvigilView::CountsChanged, m_frame.get(), &CMainFrame::SetCounts);
    m_frame->SetView(m_view);
    m_binding->SetView(m_view);
    connect(m_frame.get(), &CMainFrame::FilterChanged, m_view, &CPsvigilView::SetFilter);
    connect(m_frame.get(), &CMainFrame::SettingsRequested, this, &CPsvigilApp::OnSettings);
    connect(m_doc.get(), &CPsvigilDoc::WatchedHostChanged, m_frame.get(), &CMainFrame::UpdateTitle);
    m_view->ProcessModel()->SetHighlightRefreshes(
        CSettingsDialog::ReadHighlightRefreshes(*m_settings));
    m_view->RestoreSettings(*m_settings);
    m_frame->RestoreSettings(*m_settings);
    m_alerts = std::make_unique<CAlertsBinding>(m_frame.get(), m_doc.get(), m_view);

    // Repeated at every start so a moved program is found again; a failure is not reported.
    RegisterDocumentType();

    if (!command.FileName.isEmpty())
    {
        // The host list comes from psvigil.cfg even when the run starts with a watch log, so
        // a later OK in the Watch dialog writes the stored hosts back rather than none.
        m_doc->EnsureHostListLoaded();
        if (!m_frame->OpenDocumentFile(command.FileName))
            return false;
    }
    else
    {
        if (!m_doc->NewDocument())
            return false;
        m_frame->ResetDocumentTitle();
    }

    AddThisComputerOnFirstStart();
    if (!command.WatchHost.isEmpty())
        WatchOnStart(command.WatchHost);

    m_frame->show();
    m_frame->update();
    m_frame->setAcceptDrops(true);
    return true;
}

void CPsvigilApp::AddThisComputerOnFirstStart()
{
    // Only in memory: psvigil.cfg is written when the user saves the list, as ever.
    struct stat st
    {
    };
    if (m_doc->HostList().GetSize() == 0 && ::stat(m_doc->ConfigPath().c_str(), &st) != 0 &&
        errno == ENOENT)
        m_doc->HostList().Add(new HostSettings(NewLocalHost()));
}

void CPsvigilApp::WatchOnStart(const QString& address)
{
    const std::string wanted = address.toStdString();
    const bool local = wanted == kLocalAddress || wanted == kLocalHostName;
    COwningPtrArray<HostSettings>& hosts = m_doc->HostList();
    HostSettings* host = nullptr;
    for (int32_t i = 0; host == nullptr && i < hosts.GetSize(); ++i)
    {
        HostSettings* candidate = hosts.GetAt(i);
        if (local ? IsLocalHost(*candidate) : FieldText(candidate->Address) == wanted)
            host = candidate;
    }
    if (host == nullptr && local)
    {
        host = new HostSettings(NewLocalHost());
        hosts.Add(host);
    }
    if (host == nullptr)
    {
        std::fprintf(stderr, "psvigil: no host %s in the host list; nothing is watched\n",
                     wanted.c_str());
        return;
    }
    m_doc->Engine().SetNotifySink(m_sink.get());
    m_doc->Engine().SetHost(host);
    m_doc->Engine().Start();
}

void CPsvigilApp::OnSettings()
{
    CSettingsDialog dialog(m_frame.get());
    dialog.SetHighlightRefreshes(m_view->ProcessModel()->HighlightRefreshes());
    if (dialog.exec() != QDialog::Accepted)
        return;
    CSettingsDialog::WriteHighlightRefreshes(*m_settings, dialog.HighlightRefreshes());
    m_view->ProcessModel()->SetHighlightRefreshes(dialog.HighlightRefreshes());
}
