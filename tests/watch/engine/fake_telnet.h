// A scripted stand-in for the telnet component that records every call made on it.
#pragma once

#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/session_cancel.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

class CFakeTelnet final : public IlvTelnet2, public IlvCancel
{
  public:
    struct Script
    {
        HRESULT ConnectResult = S_OK;
        HRESULT ExecuteResult = S_OK;
        bool ThrowInExecute = false;
        bool OffersFullSize = true; // answers IlvTelnet2
        std::string Reply;
        std::string OtherReply{}; // when set, the reply to every command but ps
        std::chrono::milliseconds ExecuteDelay{0};
        std::chrono::milliseconds ReleaseDelay{0};
        std::string FailureText{}; // a failing Connect or Execute leaves it as the error object
        bool Cancellable = false;  // answers IlvCancel; a delayed Execute then ends when told
    };

    CFakeTelnet(const Script& script, std::vector<std::string>& log, std::mutex& logMutex)
        : m_script(script), m_log(log), m_logMutex(logMutex)
    {
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(get_Address)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Address)(BSTR value) override;
    STDMETHOD(get_Username)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Username)(BSTR value) override;
    STDMETHOD(get_Password)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Password)(BSTR value) override;
    STDMETHOD(get_Port)(SHORT*) override { return E_NOTIMPL; }
    STDMETHOD(put_Port)(SHORT value) override;
    STDMETHOD(Connect)() override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(IsConnected)() override;
    STDMETHOD(Execute)(BSTR command) override;
    STDMETHOD(GetOutput)(char** output, SHORT* size) override;
    STDMETHOD(GetOutputSize)(LONG* size) override;
    STDMETHOD(SetCancelDescriptor)(LONG fd) override;

  private:
    void Log(const std::string& entry);
    HRESULT Failed(HRESULT hr);

    Script m_script;
    std::vector<std::string>& m_log;
    std::mutex& m_logMutex;
    std::atomic<ULONG> m_refs{1};
    bool m_connected = false;
    std::vector<char> m_output;
    int m_cancelFd = -1;
};
