// The session with this computer: the host's ps command line runs as child processes, no login.
#pragma once

#include "watch/engine/local_host.h"

#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/session_cancel.h"

#include <atomic>
#include <chrono>
#include <string>

// Offers the telnet session's interfaces, so the engine, the parser and the watch log see a
// telnet reply. Connect only marks the session open; Execute runs the command line (bounded
// as the telnet session's command is, and ended at once through IlvCancel's descriptor).
class CLocalSession final : public IlvTelnet2, public IlvCancel
{
  public:
    static constexpr std::chrono::seconds kExecuteLimit{60};
    static constexpr std::size_t kCollectLimit = 64u << 20;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override;
    // Made in-process by the engine, not through the runtime, so it has no type information.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    STDMETHOD(get_Address)(BSTR* value) override { return Get(m_address, value); }
    STDMETHOD(put_Address)(BSTR value) override { return Put(m_address, value); }
    STDMETHOD(get_Username)(BSTR* value) override { return Get(m_username, value); }
    STDMETHOD(put_Username)(BSTR value) override { return Put(m_username, value); }
    STDMETHOD(get_Password)(BSTR* value) override { return Get(m_password, value); }
    STDMETHOD(put_Password)(BSTR value) override { return Put(m_password, value); }
    STDMETHOD(get_Port)(SHORT* value) override;
    STDMETHOD(put_Port)(SHORT value) override;
    STDMETHOD(Connect)() override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(IsConnected)() override;
    STDMETHOD(Execute)(BSTR command) override;
    STDMETHOD(GetOutput)(char** output, SHORT* size) override;
    STDMETHOD(GetOutputSize)(LONG* size) override;
    STDMETHOD(SetCancelDescriptor)(LONG fd) override;

  private:
    static HRESULT Get(const std::string& field, BSTR* value);
    static HRESULT Put(std::string& field, BSTR value);
    static HRESULT Fail(const std::string& why);

    std::atomic<ULONG> m_refs{1};
    std::string m_address, m_username, m_password;
    SHORT m_port = 0;
    bool m_connected = false;
    std::string m_reply;
    int m_cancelFd = -1;
};
