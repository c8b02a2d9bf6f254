// The session with this computer: the host's ps command line runs as child processes, no login.
#include "watch/engine/local_session.h"

#include "watch/engine/local_command.h"

#include "platform/com/comrt.h"

#include <cstdint>
#include <cstring>

HRESULT CLocalSession::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IlvTelnet ||
        riid == IID_IlvTelnet2)
        *ppv = static_cast<IlvTelnet2*>(this);
    else if (riid == IID_IlvCancel)
        *ppv = static_cast<IlvCancel*>(this);
    else
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CLocalSession::Release()
{
    const ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CLocalSession::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT CLocalSession::Get(const std::string& field, BSTR* value)
{
    if (value == nullptr)
        return E_POINTER;
    *value = BstrFromNarrow(field);
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CLocalSession::Put(std::string& field, BSTR value)
{
    field = NarrowFromBstr(value);
    return S_OK;
}

HRESULT CLocalSession::get_Port(SHORT* value)
{
    if (value == nullptr)
        return E_POINTER;
    *value = m_port;
    return S_OK;
}

HRESULT CLocalSession::put_Port(SHORT value)
{
    m_port = value;
    return S_OK;
}

// Nothing to log in to: the session is open once asked to be.
HRESULT CLocalSession::Connect()
{
    m_connected = true;
    return S_OK;
}

HRESULT CLocalSession::Disconnect()
{
    m_connected = false;
    return S_OK;
}

HRESULT CLocalSession::IsConnected()
{
    return m_connected ? S_OK : S_FALSE;
}

HRESULT CLocalSession::Fail(const std::string& why)
{
    return ComrtReportError(E_FAIL, IID_IlvTelnet, nullptr, why);
}

HRESULT CLocalSession::Execute(BSTR command)
{
    m_reply.clear();
    const std::string line = NarrowFromBstr(command);
    LocalCommand split;
    if (!SplitLocalCommand(line, split))
        return Fail("this computer runs only ps (and grep), not: " + line);
    LocalRunLimits limits;
    limits.Time = kExecuteLimit;
    limits.Output = kCollectLimit;
    limits.CancelFd = m_cancelFd;
    std::string output, why;
    if (!RunLocalCommand(split, limits, output, why))
        return Fail(why);
    m_reply = FrameLocalReply(line, output);
    return S_OK;
}

HRESULT CLocalSession::GetOutput(char** output, SHORT* size)
{
    if (output != nullptr)
        *output = m_reply.empty() ? nullptr : m_reply.data();
    if (size != nullptr)
        *size = static_cast<SHORT>(static_cast<uint16_t>(m_reply.size() & 0xFFFF));
    return S_OK;
}

HRESULT CLocalSession::GetOutputSize(LONG* size)
{
    if (size == nullptr)
        return E_POINTER;
    *size = static_cast<LONG>(m_reply.size());
    return S_OK;
}

HRESULT CLocalSession::SetCancelDescriptor(LONG fd)
{
    m_cancelFd = static_cast<int>(fd);
    return S_OK;
}
