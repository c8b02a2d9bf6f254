// lvTelnet: logs in to a host over telnet, runs one command at a time, hands back the raw reply.
#pragma once

#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/extended_dispatch.h"
#include "lanvex/net/sessions/session_cancel.h"
#include "lanvex/net/transport/tcp_connection.h"

#include "platform/com/bstr.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

class lvTelnet : public CExtendedDispatchImpl<IlvTelnet2>,
                 public ISupportErrorInfo,
                 public IlvCancel,
                 public CComponentObject
{
  public:
    // Seconds of silence are the protocol here: every quiet read lasts at least this long.
    static constexpr int kExecutePasses = 10;
    // Bounds on what a host can make a call cost, whatever it sends or withholds.
    static constexpr std::chrono::seconds kConnectLimit{30};
    static constexpr std::chrono::seconds kExecuteLimit{60};
    static constexpr size_t kCollectLimit = 64u << 20;
    // After the password, the host's answer may take this long to show a shell or a refusal
    // (a refused login is typically announced after a delay of a few seconds).
    static constexpr std::chrono::seconds kLoginSettleLimit{10};
    // Only the end of that answer can decide (its last line, a refusal just above it); a host
    // that pours out more keeps only this much in memory, however many passes it takes.
    static constexpr size_t kLoginAnswerKept = 64u << 10;

    lvTelnet();
    ~lvTelnet() override;

    LANVEX_IUNKNOWN_IMPL

    // IlvTelnet
    STDMETHODIMP get_Address(BSTR* pVal) override;
    STDMETHODIMP put_Address(BSTR newVal) override;
    STDMETHODIMP get_Username(BSTR* pVal) override;
    STDMETHODIMP put_Username(BSTR newVal) override;
    STDMETHODIMP get_Password(BSTR* pVal) override;
    STDMETHODIMP put_Password(BSTR newVal) override;
    STDMETHODIMP get_Port(SHORT* pVal) override;
    STDMETHODIMP put_Port(SHORT newVal) override;
    STDMETHODIMP Connect() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP IsConnected() override;
    STDMETHODIMP Execute(BSTR bstrCommand) override;
    STDMETHODIMP GetOutput(char** lpszOutput, SHORT* nSize) override;

    // IlvTelnet2
    STDMETHODIMP GetOutputSize(LONG* pSize) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IlvCancel
    STDMETHODIMP SetCancelDescriptor(LONG fd) override;

  protected:
    IUnknown* GetInterface(REFIID riid) override;
    // For a session that collects its reply its own way: the getters then hand out a copy of
    // reply (one zero byte after it, not counted); an empty one frees the block.
    void SetReply(std::string_view reply)
    {
        std::vector<char>().swap(m_output);
        m_nOutputLength = 0;
        if (reply.empty())
            return;
        m_output.reserve(reply.size() + 1);
        m_output.assign(reply.begin(), reply.end());
        m_output.push_back('\0');
        m_nOutputLength = static_cast<LONG>(reply.size());
    }
    IUnknown* PrimaryInterface() override { return static_cast<IlvTelnet*>(this); }

  private:
    // Reads one burst of the server's option negotiation and sends the answer.
    void NegotiateOptions();
    // Waits for the host's answer to the password to show a shell or a refusal; returns an
    // empty text when logged in, else why not.
    std::string AwaitLoginAnswer();
    // Sets the error object with the description and returns E_FAIL.
    HRESULT Fail(const std::string& description);
    // Why a socket failure ended a call that had to end by deadline.
    std::string DescribeFailure(int32_t nError, const char* pszMessage, const char* pszCall,
                                std::chrono::seconds limit,
                                CTcpConnection::Clock::time_point deadline) const;

    CComBSTR m_bstrAddress;
    CComBSTR m_bstrUsername;
    CComBSTR m_bstrPassword;
    BOOL m_bConnected = FALSE;
    SHORT m_nPort = 23;
    CTcpConnection m_connection;
    // Everything received since the last Execute began; one zero byte follows the counted ones.
    std::vector<char> m_output;
    LONG m_nOutputLength = 0;
};

} // namespace lanvex
