// The watch cycle: log in through lvTelnet, run ps, parse, count down, refresh.
#include "watch/engine/watch_engine.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"
#include "watch/engine/ps_parser.h"


namespace
{
IlvTelnet* CreateTelnetThroughRuntime()
{
    IlvTelnet* telnet = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_lvTelnet, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IlvTelnet, reinterpret_cast<void**>(&telnet));
    return SUCCEEDED(hr) ? telnet : nullptr;
}

// Hands one of the record's 8-bit texts to a wide property setter.
template <std::size_t N, class Setter> void PutText(const char (&field)[N], Setter setter)
{
    CComBSTR text(FieldText(field));
    setter(text.m_str);
}
} // namespace

CWatchEngine::CWatchEngine() : m_factory(CreateTelnetThroughRuntime) {}

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
    m_telnet = m_factory ? m_factory() : nullptr;
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
        return kRefreshNoConnection;
    }
    BuildCommand(*m_host);
    CComBSTR command(FieldText(m_host->Command));
    const HRESULT executed = m_telnet->Execute(command.m_str);
    if (m_host->KeepConnectionOpen == 0 || FAILED(executed))
        CloseConnection();
    if (FAILED(executed))
        return kRefreshPsFailed;

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
