// A scripted stand-in for the telnet component that records every call made on it.
#include "fake_telnet.h"

#include "platform/com/comrt.h"

#include <poll.h>
#include <stdexcept>
#include <thread>

void CFakeTelnet::Log(const std::string& entry)
{
    std::lock_guard<std::mutex> guard(m_logMutex);
    m_log.push_back(entry);
}

HRESULT CFakeTelnet::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IlvTelnet ||
        (riid == IID_IlvTelnet2 && m_script.OffersFullSize))
    {
        *ppv = static_cast<IlvTelnet2*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == IID_IlvCancel && m_script.Cancellable)
    {
        *ppv = static_cast<IlvCancel*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CFakeTelnet::Release()
{
    const ULONG left = --m_refs;
    if (left == 0)
    {
        std::this_thread::sleep_for(m_script.ReleaseDelay);
        Log("Release");
        delete this;
    }
    return left;
}

HRESULT CFakeTelnet::put_Address(BSTR value)
{
    Log("put_Address:" + NarrowFromBstr(value));
    return S_OK;
}
HRESULT CFakeTelnet::put_Username(BSTR value)
{
    Log("put_Username:" + NarrowFromBstr(value));
    return S_OK;
}
HRESULT CFakeTelnet::put_Password(BSTR value)
{
    Log("put_Password:" + NarrowFromBstr(value));
    return S_OK;
}
HRESULT CFakeTelnet::put_Port(SHORT value)
{
    Log("put_Port:" + std::to_string(value));
    return S_OK;
}
HRESULT CFakeTelnet::Connect()
{
    Log("Connect");
    m_connected = SUCCEEDED(m_script.ConnectResult);
    return Failed(m_script.ConnectResult);
}
HRESULT CFakeTelnet::Disconnect()
{
    Log("Disconnect");
    m_connected = false;
    return S_OK;
}
HRESULT CFakeTelnet::IsConnected()
{
    Log("IsConnected");
    return m_connected ? S_OK : S_FALSE;
}
HRESULT CFakeTelnet::Execute(BSTR command)
{
    Log("Execute:" + NarrowFromBstr(command));
    if (m_cancelFd >= 0)
    {
        pollfd pfd{m_cancelFd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(m_script.ExecuteDelay.count())) > 0)
        {
            m_connected = false;
            return E_FAIL;
        }
    }
    else
        std::this_thread::sleep_for(m_script.ExecuteDelay);
    if (m_script.ThrowInExecute)
        throw std::runtime_error("scripted failure");
    if (FAILED(m_script.ExecuteResult))
    {
        m_connected = false;
        return Failed(m_script.ExecuteResult);
    }
    const bool ps = NarrowFromBstr(command).rfind("ps ", 0) == 0;
    const std::string& reply =
        ps || m_script.OtherReply.empty() ? m_script.Reply : m_script.OtherReply;
    m_output.assign(reply.begin(), reply.end());
    return m_script.ExecuteResult;
}
HRESULT CFakeTelnet::GetOutput(char** output, SHORT* size)
{
    Log("GetOutput");
    *output = m_output.empty() ? nullptr : m_output.data();
    *size = static_cast<SHORT>(m_output.size());
    return S_OK;
}
HRESULT CFakeTelnet::GetOutputSize(LONG* size)
{
    *size = static_cast<LONG>(m_output.size());
    return S_OK;
}
HRESULT CFakeTelnet::SetCancelDescriptor(LONG fd)
{
    Log("SetCancelDescriptor");
    m_cancelFd = static_cast<int>(fd);
    return S_OK;
}
HRESULT CFakeTelnet::Failed(HRESULT hr)
{
    if (FAILED(hr) && !m_script.FailureText.empty())
    {
        ICreateErrorInfo* create = nullptr;
        CreateErrorInfo(&create);
        std::u16string text = NarrowToWide(m_script.FailureText);
        create->SetDescription(text.data());
        IErrorInfo* info = nullptr;
        create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
        SetErrorInfo(0, info);
        info->Release();
        create->Release();
    }
    return hr;
}
