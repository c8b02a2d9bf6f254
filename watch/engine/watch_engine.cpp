// The watch cycle: log in through lvTelnet, run ps, parse, count down, refresh.
#include "watch/engine/watch_engine.h"

#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/session_cancel.h"
#include "lanvex/net/transport/wire_text.h"
#include "platform/com/comrt.h"
#include "watch/engine/local_session.h"
#include "watch/engine/ps_parser.h"
#include "watch/engine/session_choice.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <sys/eventfd.h>
#include <unistd.h>

namespace
{

// One of the record's 8-bit texts as the component's wide text; bytes that are not UTF-8 (a
// record from an older machine) still reach the host unchanged.
template <std::size_t N> CComBSTR WideText(const char (&field)[N])
{
    return CComBSTR(std::u16string_view(lanvex::WireTextToWide(FieldText(field))));
}

CommandReply FailedCommand(std::string why)
{
    CommandReply reply;
    reply.Failure = std::move(why);
    return reply;
}

template <std::size_t N, class Setter> void PutText(const char (&field)[N], Setter setter)
{
    CComBSTR text = WideText(field);
    setter(text.m_str);
}
} // namespace

HRESULT CWatchEngine::CreateTelnetThroughRuntime(const HostSettings* host, IlvTelnet** telnet,
                                                 std::string* reason)
{
    *telnet = nullptr;
    const SessionChoice choice = ChooseSession(host != nullptr ? *host : HostSettings{});
    // This computer needs neither the runtime nor a registered component.
    if (choice.Local)
    {
        *telnet = new (std::nothrow) CLocalSession;
        if (*telnet == nullptr && reason != nullptr)
            *reason = std::string(choice.Component) + " cannot be started";
        return *telnet != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    const HRESULT hr = CoCreateInstance(*choice.Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet,
                                        reinterpret_cast<void**>(telnet));
    if (FAILED(hr) && reason != nullptr)
        *reason = std::string(choice.Component) +
                  (hr == REGDB_E_CLASSNOTREG ? " is not registered" : " cannot be created");
    return hr;
}

CWatchEngine::CWatchEngine()
    : m_factory(CreateTelnetThroughRuntime), m_cancelFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_stopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

std::string CWatchEngine::GetLastFailure() const
{
    std::lock_guard<std::mutex> guard(m_failureMutex);
    return m_lastFailure;
}

void CWatchEngine::SetLastFailure(std::string reason)
{
    std::lock_guard<std::mutex> guard(m_failureMutex);
    m_lastFailure = std::move(reason);
}

CWatchEngine::~CWatchEngine()
{
    m_closing.store(true);
    m_sink.store(nullptr);
    // A connect or a read in flight ends now instead of at the host's leisure.
    if (m_cancelFd >= 0)
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_cancelFd, &one, sizeof one);
    }
    Stop();
    ShutdownWorker();
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

void CWatchEngine::SetHost(HostSettings* host)
{
    m_host = host;
}

void CWatchEngine::Start()
{
    {
        std::lock_guard<std::mutex> guard(m_commandMutex);
        m_takingCommands = true;
    }
    Resume();
    m_refreshEvent.Set();
}

void CWatchEngine::Stop()
{
    // The descriptor first: a run that begins meanwhile clears both, or sees the event too.
    if (m_stopFd >= 0)
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_stopFd, &one, sizeof one);
    }
    m_stopEvent.Set();
}

void CWatchEngine::ClearTable()
{
    CAutoLock lock(m_lock);
    m_snapshot.RemoveAll();
}

void CWatchEngine::ParseOutput(char* text, int32_t length)
{
    CAutoLock lock(m_lock);
    const int32_t flavour = m_host ? m_host->Flavour : kFlavourBsd;
    const int32_t filterMode = m_host ? m_host->FilterMode : kFilterShowAll;
    ParsePsReply(m_snapshot, text, length, flavour, filterMode);
    Post(WM_WATCH_TABLE, 0, 0);
}

void CWatchEngine::Post(uint32_t message, intptr_t wParam, intptr_t lParam)
{
    if (IWatchNotifySink* sink = m_sink.load())
        sink->PostNotify(message, wParam, lParam);
}

void CWatchEngine::Run()
{
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_telnet = nullptr;
    m_createReason.clear();
    m_createResult = m_factory ? m_factory(m_host, &m_telnet, &m_createReason) : E_NOINTERFACE;
    if (FAILED(m_createResult) && m_telnet != nullptr)
    {
        m_telnet->Release();
        m_telnet = nullptr;
    }
    // Components that can be interrupted learn how; the others are bounded by their own limits.
    IlvCancel* cancel = nullptr;
    if (m_telnet != nullptr && m_cancelFd >= 0 &&
        SUCCEEDED(m_telnet->QueryInterface(IID_IlvCancel, reinterpret_cast<void**>(&cancel))) &&
        cancel != nullptr)
    {
        // A local ps ends at Stop already: there is no login whose refresh is worth finishing.
        const bool local = m_host != nullptr && ChooseSession(*m_host).Local;
        cancel->SetCancelDescriptor(local ? m_stopFd : m_cancelFd);
        cancel->Release();
    }
    m_stopEvent.Reset();
    if (m_stopFd >= 0)
    {
        uint64_t stale = 0; // one read takes the whole count
        [[maybe_unused]] const ssize_t drained = ::read(m_stopFd, &stale, sizeof stale);
    }
    {
        std::lock_guard<std::mutex> guard(m_commandMutex);
        m_takingCommands = true;
    }

    // Whatever ends the run, the user interface hears status 5 so its Watch command comes back.
    auto endRun = [&]
    {
        MarkEnding();
        RefuseQueuedCommands("the watch ended before the command ran");
        Post(WM_WATCH_STATUS, kStatusRunEnds, 0);
        if (m_telnet)
        {
            CloseConnection();
            m_telnet->Release();
            m_telnet = nullptr;
        }
        if (SUCCEEDED(apartment))
            CoUninitialize();
    };

    try
    {
        int n = 0;
        Post(WM_WATCH_STATUS, kStatusRunBegins, 0);
        for (;;)
        {
            int which = WaitForEither(m_stopEvent, m_refreshEvent, m_tickMs);
            if (m_closing.load())
                which = 0;
            if (which == 1 || n == 0)
            {
                // Commands go first, so the refresh right after shows what they did.
                if (!m_closing.load())
                    RunQueuedCommands();
                const int result = m_closing.load() ? kRefreshNoConnection : Refresh();
                Post(WM_WATCH_STATUS, kStatusRefreshed, result);
                m_refreshEvent.Reset();
                // Unlike a refresh request, a command queued meanwhile is not dropped.
                if (HasQueuedCommands())
                    m_refreshEvent.Set();
                // An interval below one second (a damaged or hand-made record) would count down
                // below zero for ever instead of refreshing.
                n = m_host ? std::max(m_host->RefreshSeconds, kRefreshMin) : 0;
                if (m_host && m_host->KeepConnectionOpen == 0)
                    CloseConnection();
            }
            // A single-refresh run goes round once more for commands queued during it; once it
            // decides to end, a command that comes later is refused at once, not left waiting.
            if (which == 0 || (m_host && m_host->ManualRefresh != 0) || m_closing.load())
            {
                if (which == 0 || m_closing.load() || !EndUnlessCommandsWait())
                    break;
            }
            if (which == -1)
                Post(WM_WATCH_STATUS, kStatusCountdown, --n);
        }
    }
    catch (...)
    {
        endRun();
        return;
    }
    endRun();
}

int CWatchEngine::Refresh()
{
    if (m_host == nullptr || OpenConnection() != 0)
    {
        std::string why;
        if (m_telnet == nullptr)
            why = m_createReason.empty() ? "no session component" : m_createReason;
        else if (m_host == nullptr)
            why = "no host";
        else
            why = ComponentFailure("the host did not accept the connection or the login");
        CloseConnection();
        SetLastFailure(std::move(why));
        return kRefreshNoConnection;
    }
    // The whole line: a POSIX one is longer than the record's Command field.
    const std::string line = BuildCommand(*m_host);
    CComBSTR command(std::u16string_view(lanvex::WireTextToWide(line)));
    SetErrorInfo(0, nullptr);
    const HRESULT executed = m_telnet->Execute(command.m_str);
    const std::string why = FAILED(executed) ? ComponentFailure("the ps command failed") : "";
    if (m_host->KeepConnectionOpen == 0 || FAILED(executed))
        CloseConnection();
    if (FAILED(executed))
    {
        SetLastFailure(why);
        return kRefreshPsFailed;
    }
    SetLastFailure({});

    char* output = nullptr;
    SHORT shortSize = 0;
    m_telnet->GetOutput(&output, &shortSize);
    // The 16-bit count wraps for replies over 32767 bytes (read unsigned it still serves up to
    // 65535); ask for the full length when the component can tell it.
    int32_t length = static_cast<uint16_t>(shortSize);
    IlvTelnet2* telnet2 = nullptr;
    if (SUCCEEDED(m_telnet->QueryInterface(IID_IlvTelnet2, reinterpret_cast<void**>(&telnet2))) &&
        telnet2 != nullptr)
    {
        LONG fullSize = 0;
        if (SUCCEEDED(telnet2->GetOutputSize(&fullSize)))
            length = fullSize;
        telnet2->Release();
    }
    // No prompt and not a byte, not even the echo, for the whole command: the host has gone
    // silent (switched off, cut off), which is no refresh.
    if (executed == S_FALSE && (output == nullptr || length <= 0))
    {
        CloseConnection();
        SetLastFailure("the host did not answer the command");
        return kRefreshPsFailed;
    }
    ParseOutput(output, output ? length : 0);
    return kRefreshOk;
}

int CWatchEngine::OpenConnection()
{
    // No component (it could not be created): every refresh reports that it cannot connect.
    if (m_telnet == nullptr)
        return -1;
    if (m_telnet->IsConnected() != S_FALSE)
        return 0;
    PutText(m_host->Address, [&](BSTR text) { m_telnet->put_Address(text); });
    PutText(m_host->Username, [&](BSTR text) { m_telnet->put_Username(text); });
    PutText(m_host->Password, [&](BSTR text) { m_telnet->put_Password(text); });
    m_telnet->put_Port(static_cast<SHORT>(m_host->Port));
    SetErrorInfo(0, nullptr);
    return FAILED(m_telnet->Connect()) ? -1 : 0;
}

std::string CWatchEngine::ComponentFailure(const char* fallback) const
{
    IErrorInfo* info = nullptr;
    std::string description;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr)
    {
        BSTR text = nullptr;
        if (SUCCEEDED(info->GetDescription(&text)))
            description = NarrowFromBstr(text);
        SysFreeString(text);
        info->Release();
    }
    return description.empty() ? fallback : description;
}

void CWatchEngine::CloseConnection()
{
    if (m_telnet)
        m_telnet->Disconnect();
}

void CWatchEngine::QueueCommand(std::string commandLine, CommandDone done)
{
    {
        std::lock_guard<std::mutex> guard(m_commandMutex);
        if (m_takingCommands)
        {
            m_commands.push_back({std::move(commandLine), std::move(done)});
            m_refreshEvent.Set();
            return;
        }
    }
    if (done)
        done(FailedCommand("no watch is running"));
}

bool CWatchEngine::EndUnlessCommandsWait()
{
    std::lock_guard<std::mutex> guard(m_commandMutex);
    if (!m_commands.empty())
        return true;
    m_takingCommands = false;
    return false;
}

bool CWatchEngine::HasQueuedCommands()
{
    std::lock_guard<std::mutex> guard(m_commandMutex);
    return !m_commands.empty();
}

void CWatchEngine::RefuseQueuedCommands(const char* why)
{
    std::deque<QueuedCommand> left;
    {
        std::lock_guard<std::mutex> guard(m_commandMutex);
        m_takingCommands = false;
        left.swap(m_commands);
    }
    for (QueuedCommand& command : left)
    {
        if (command.Done)
            command.Done(FailedCommand(why));
    }
}

void CWatchEngine::RunQueuedCommands()
{
    for (;;)
    {
        QueuedCommand command;
        {
            std::lock_guard<std::mutex> guard(m_commandMutex);
            if (m_commands.empty())
                return;
            command = std::move(m_commands.front());
            m_commands.pop_front();
        }
        CommandReply reply;
        try
        {
            reply = ExecuteCommand(command.Line);
        }
        catch (...)
        {
            reply = FailedCommand("the command could not be sent");
        }
        if (command.Done)
            command.Done(reply);
    }
}

CommandReply CWatchEngine::ExecuteCommand(const std::string& line)
{
    CommandReply reply;
    if (m_host == nullptr || OpenConnection() != 0)
    {
        if (m_telnet == nullptr)
            reply.Failure = m_createReason.empty() ? "no session component" : m_createReason;
        else if (m_host == nullptr)
            reply.Failure = "no host";
        else
            reply.Failure = ComponentFailure("the host did not accept the connection or the login");
        CloseConnection();
        return reply;
    }
    CComBSTR command(std::u16string_view(lanvex::WireTextToWide(line)));
    SetErrorInfo(0, nullptr);
    const HRESULT executed = m_telnet->Execute(command.m_str);
    if (FAILED(executed))
    {
        reply.Failure = ComponentFailure("the command failed");
        CloseConnection();
        return reply;
    }
    char* output = nullptr;
    SHORT shortSize = 0;
    m_telnet->GetOutput(&output, &shortSize);
    LONG length = static_cast<uint16_t>(shortSize);
    IlvTelnet2* telnet2 = nullptr;
    if (SUCCEEDED(m_telnet->QueryInterface(IID_IlvTelnet2, reinterpret_cast<void**>(&telnet2))) &&
        telnet2 != nullptr)
    {
        LONG fullSize = 0;
        if (SUCCEEDED(telnet2->GetOutputSize(&fullSize)) && fullSize >= 0)
            length = fullSize;
        telnet2->Release();
    }
    if (output != nullptr && length > 0)
        reply.Output.assign(output, static_cast<std::size_t>(length));
    reply.Ran = true;
    if (m_host->KeepConnectionOpen == 0)
        CloseConnection();
    return reply;
}
