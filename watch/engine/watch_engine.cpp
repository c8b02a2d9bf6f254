// The watch cycle: log in through lvTelnet, run ps, parse, count down, refresh.
#include "watch/engine/watch_engine.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"
#include "watch/engine/ps_parser.h"
#include "watch/engine/session_choice.h"


namespace
{

// Hands one of the record's 8-bit texts to a wide property setter.
template <std::size_t N, class Setter> void PutText(const char (&field)[N], Setter setter)
{
    CComBSTR text(FieldText(field));
    setter(text.m_str);
}
} // namespace

HRESULT CWatchEngine::CreateTelnetThroughRuntime(const HostSettings* host, IlvTelnet** telnet,
                                                 std::string* reason)
{
    *telnet = nullptr;
    const SessionChoice choice = ChooseSession(host != nullptr ? *host : HostSettings{});
    const HRESULT hr = CoCreateInstance(*choice.Clsid, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IlvTelnet, reinterpret_cast<void**>(telnet));
    if (FAILED(hr) && reason != nullptr)
        *reason = std::string(choice.Component) +
                  (hr == REGDB_E_CLASSNOTREG ? " is not registered" : " cannot be created");
    return hr;
}

CWatchEngine::CWatchEngine() : m_factory(CreateTelnetThroughRuntime) {}

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
    Stop();
    ShutdownWorker();
}

void CWatchEngine::SetHost(HostSettings* host) { m_host = host; }

void CWatchEngine::Start()
{
    Resume();
    m_refreshEvent.Set();
}

void CWatchEngine::Stop() { m_stopEvent.Set(); }

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
    m_stopEvent.Reset();

    // Whatever ends the run, the user interface hears status 5 so its Watch command comes back.
    auto endRun = [&]
    {
        MarkEnding();
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
                const int result = m_closing.load() ? kRefreshNoConnection : Refresh();
                Post(WM_WATCH_STATUS, kStatusRefreshed, result);
                m_refreshEvent.Reset();
                n = m_host ? m_host->RefreshSeconds : 0;
                if (m_host && m_host->KeepConnectionOpen == 0)
                    CloseConnection();
            }
            if (which == 0 || (m_host && m_host->ManualRefresh != 0) || m_closing.load())
                break;
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
        CloseConnection();
        if (m_telnet == nullptr)
            SetLastFailure(m_createReason.empty() ? "no session component" : m_createReason);
        else if (m_host == nullptr)
            SetLastFailure("no host");
        else
            SetLastFailure("the host did not accept the connection or the login");
        return kRefreshNoConnection;
    }
    BuildCommand(*m_host);
    CComBSTR command(FieldText(m_host->Command));
    const HRESULT executed = m_telnet->Execute(command.m_str);
    if (m_host->KeepConnectionOpen == 0 || FAILED(executed))
        CloseConnection();
    if (FAILED(executed))
    {
        SetLastFailure("the ps command failed");
        return kRefreshPsFailed;
    }
    SetLastFailure({});

    char* output = nullptr;
    SHORT shortSize = 0;
    m_telnet->GetOutput(&output, &shortSize);
    // The 16-bit count wraps for replies over 32767 bytes; ask for the full length when the
    // component can tell it.
    int32_t length = shortSize;
    IlvTelnet2* telnet2 = nullptr;
    if (SUCCEEDED(m_telnet->QueryInterface(IID_IlvTelnet2, reinterpret_cast<void**>(&telnet2))) &&
        telnet2 != nullptr)
    {
        LONG fullSize = 0;
        if (SUCCEEDED(telnet2->GetOutputSize(&fullSize)))
            length = fullSize;
        telnet2->Release();
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
    return FAILED(m_telnet->Connect()) ? -1 : 0;
}

void CWatchEngine::CloseConnection()
{
    if (m_telnet)
        m_telnet->Disconnect();
}
