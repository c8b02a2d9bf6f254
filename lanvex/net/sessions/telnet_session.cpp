// lvTelnet: logs in to a host over telnet, runs one command at a time, hands back the raw reply.
#include "lanvex/net/sessions/telnet_session.h"

#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/sessions/component_property.h"
#include "lanvex/net/transport/login_answer.h"
#include "lanvex/net/transport/socket_error.h"
#include "lanvex/net/transport/telnet_negotiation.h"
#include "lanvex/net/transport/wire_text.h"

#include "platform/com/conversion.h"
#include "platform/com/text_helpers.h"

#include <cstring>
#include <new>
#include <string>

namespace lanvex
{

namespace
{

// The members of IlvTelnet, and GetOutputSize from IlvTelnet2, by name and DISPID.
CDispatchTypeInfo g_telnetTypeInfo(LIBID_LANVEXLib, IID_IlvTelnet);
CDispatchTypeInfo g_telnet2TypeInfo(LIBID_LANVEXLib, IID_IlvTelnet2);
constexpr DISPID kFirstTelnet2Dispid = 10;

const char* CStr(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

// The shells' prompt characters; '#' is root's, so that an administrator's login ends a command
// at its prompt rather than after every silent pass.
bool EndsInPrompt(const char* pPass, int nLength)
{
    if (nLength <= 2)
        return false;
    const char c = pPass[nLength - 2];
    return c == '$' || c == '>' || c == '%' || c == ':' || c == '!' || c == '#';
}

// Arms the connection's deadline and read limit for one call and disarms them after it, so that
// the connection of an idle object behaves as it always did.
class CBoundedCall
{
  public:
    CBoundedCall(CTcpConnection& connection, CTcpConnection::Clock::time_point deadline)
        : m_connection(connection)
    {
        m_connection.SetDeadline(deadline);
    }
    ~CBoundedCall()
    {
        m_connection.SetDeadline(std::nullopt);
        m_connection.SetReadLimit(static_cast<size_t>(-1));
    }
    CBoundedCall(const CBoundedCall&) = delete;
    CBoundedCall& operator=(const CBoundedCall&) = delete;

  private:
    CTcpConnection& m_connection;
};

} // namespace

lvTelnet::lvTelnet()
    : CExtendedDispatchImpl<IlvTelnet2>(g_telnetTypeInfo, g_telnet2TypeInfo, kFirstTelnet2Dispid)
{
    m_connection.TraceAs("lvTelnet", ETraceFormat::Telnet);
}

lvTelnet::~lvTelnet()
{
    lvTelnet::Disconnect();
}

IUnknown* lvTelnet::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvTelnet) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvTelnet*>(this);
    if (IsEqualIID(riid, IID_IlvTelnet2))
        return static_cast<IlvTelnet2*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualIID(riid, IID_IlvCancel))
        return static_cast<IlvCancel*>(this);
    return nullptr;
}

// Properties.

HRESULT lvTelnet::get_Address(BSTR* pVal)
{
    return GetTextProperty(m_bstrAddress, pVal);
}

HRESULT lvTelnet::put_Address(BSTR newVal)
{
    return PutTextProperty(m_bstrAddress, newVal);
}

HRESULT lvTelnet::get_Username(BSTR* pVal)
{
    return GetTextProperty(m_bstrUsername, pVal);
}

HRESULT lvTelnet::put_Username(BSTR newVal)
{
    return PutTextProperty(m_bstrUsername, newVal);
}

HRESULT lvTelnet::get_Password(BSTR* pVal)
{
    return GetTextProperty(m_bstrPassword, pVal);
}

HRESULT lvTelnet::put_Password(BSTR newVal)
{
    return PutTextProperty(m_bstrPassword, newVal);
}

HRESULT lvTelnet::get_Port(SHORT* pVal)
{
    return GetValueProperty(m_nPort, pVal);
}

HRESULT lvTelnet::put_Port(SHORT newVal)
{
    return PutValueProperty(m_nPort, newVal);
}

// Session.

void lvTelnet::NegotiateOptions()
{
    uint8_t burst[kNegotiationBurst];
    uint8_t reply[kNegotiationReplyCapacity];
    const int nRead = m_connection.Receive(burst, kNegotiationBurst);
    const size_t nReply = BuildNegotiationReply(burst, nRead > 0 ? static_cast<size_t>(nRead) : 0,
                                                reply, sizeof reply);
    m_connection.Send(reply, static_cast<int>(nReply));
}

HRESULT lvTelnet::Fail(const std::string& description)
{
    return ReportComponentError(E_FAIL, CLSID_lvTelnet, IID_IlvTelnet, description);
}

std::string lvTelnet::DescribeFailure(int32_t nError, const char* pszMessage, const char* pszCall,
                                      std::chrono::seconds limit,
                                      CTcpConnection::Clock::time_point deadline) const
{
    switch (nError)
    {
    case kWsaEIntr:
        return std::string(pszCall) + " was cancelled";
    case kWsaENoBufs:
        return "the host sent more than " + std::to_string(kCollectLimit >> 20) + " MB";
    case kWsaETimedOut:
        if (CTcpConnection::Clock::now() >= deadline)
            return std::string(pszCall) + " did not finish within " +
                   std::to_string(limit.count()) + " s";
        if (!m_connection.IsConnected())
            return "the host did not accept the connection within " +
                   std::to_string(CTcpConnection::kDefaultTimeout / 1000) + " s";
        break;
    default:
        break;
    }
    return pszMessage != nullptr ? pszMessage : "Error Socket : " + std::to_string(nError);
}

std::string lvTelnet::AwaitLoginAnswer()
{
    const auto settled = CTcpConnection::Clock::now() + kLoginSettleLimit;
    std::string answer;
    size_t nCollected = 0;
    LoginVerdict verdict;
    for (;;)
    {
        m_connection.SetReadLimit(kCollectLimit - nCollected);
        char* pData = nullptr;
        const int nCount = m_connection.ReadUntilQuiet(&pData);
        nCollected += static_cast<size_t>(nCount);
        const std::string_view pass(pData != nullptr ? pData : "", static_cast<size_t>(nCount));
        if (pass.size() >= kLoginAnswerKept)
            answer.assign(pass.substr(pass.size() - kLoginAnswerKept));
        else
        {
            if (answer.size() + pass.size() > kLoginAnswerKept)
                answer.erase(0, answer.size() + pass.size() - kLoginAnswerKept);
            answer.append(pass);
        }
        verdict = JudgeLoginAnswer(answer);
        if (verdict.What == LoginVerdict::Accepted)
            return {};
        if (verdict.What == LoginVerdict::Refused)
            return verdict.Reason;
        if (m_connection.PeerClosed())
            return verdict.Reason.empty() ? "the host closed the connection after the password"
                                          : verdict.Reason;
        if (CTcpConnection::Clock::now() >= settled)
            break;
    }
    // A host that answered with text but no prompt we know is taken at its word, as it always
    // was, unless that text held a refusal; one that said nothing at all has not let us in.
    if (!verdict.Reason.empty())
        return verdict.Reason;
    if (!HasVisibleText(answer))
        return "the host did not answer the password";
    return {};
}

HRESULT lvTelnet::Connect()
{
    Disconnect();
    const auto deadline = CTcpConnection::Clock::now() + kConnectLimit;
    const CBoundedCall bound(m_connection, deadline);
    try
    {
        const std::optional<std::string> address = TextIfSet(m_bstrAddress, WideToWireText);
        // The port is sign-extended; the transport uses its low 16 bits, so -1 is 65535.
        if (m_connection.Open(CStr(address), m_nPort) == 0)
            return Fail("cannot find the host " + address.value_or(std::string()));
        m_connection.SetReadLimit(kCollectLimit);
        NegotiateOptions();
        NegotiateOptions();
        char* pData = nullptr;
        if (m_connection.ReadUntilQuiet(&pData) == 0)
            return Fail("the host sent no login prompt");
        // The login prompts are not read: whatever the host sends is the cue for the next line.
        m_connection.SendLine(CStr(TextIfSet(m_bstrUsername, WideToWireText)));
        if (m_connection.ReadUntilQuiet(&pData) == 0)
            return Fail("the host did not answer the login name");
        m_connection.MaskNextSend("password line");
        m_connection.SendLine(CStr(TextIfSet(m_bstrPassword, WideToWireText)));
        // The answer to the password is read, so that a refused login never takes the next
        // command line as a user name.
        const std::string refusal = AwaitLoginAnswer();
        if (!refusal.empty())
            return Fail(refusal);
        m_bConnected = TRUE;
        return S_OK;
    }
    catch (const CExpSocket& e)
    {
        m_bConnected = FALSE;
        return Fail(
            DescribeFailure(e.ErrorCode(), e.Message(), "the login", kConnectLimit, deadline));
    }
    catch (const std::bad_alloc&)
    {
        m_bConnected = FALSE;
        return E_OUTOFMEMORY;
    }
}

HRESULT lvTelnet::Disconnect()
{
    // A connect that failed after creating its socket leaves the socket without the connected
    // flag; closing it here keeps repeated failing connects from leaking descriptors.
    if (m_connection.IsConnected() || m_connection.HasSocket())
        m_connection.Close();
    m_bConnected = FALSE;
    return S_OK;
}

HRESULT lvTelnet::IsConnected()
{
    return m_bConnected ? S_OK : S_FALSE;
}

HRESULT lvTelnet::Execute(BSTR bstrCommand)
{
    std::vector<char>().swap(m_output);
    m_nOutputLength = 0;
    const auto deadline = CTcpConnection::Clock::now() + kExecuteLimit;
    const CBoundedCall bound(m_connection, deadline);
    try
    {
        const std::string command = TextIfSet(bstrCommand, WideToWireText).value_or(std::string());
        m_connection.SendLine(command.c_str());
        for (int nPass = 0; nPass < kExecutePasses; ++nPass)
        {
            m_connection.SetReadLimit(kCollectLimit - static_cast<size_t>(m_nOutputLength));
            char* pPass = nullptr;
            const int nCount = m_connection.ReadUntilQuiet(&pPass);
            if (nCount > 0)
            {
                if (!m_output.empty())
                    m_output.pop_back(); // the terminator of the previous pass
                m_output.insert(m_output.end(), pPass, pPass + nCount);
                m_output.push_back('\0');
                m_nOutputLength += nCount;
            }
            if (EndsInPrompt(pPass, nCount))
                return S_OK;
        }
        return S_FALSE;
    }
    catch (const CExpSocket& e)
    {
        const std::string why =
            DescribeFailure(e.ErrorCode(), e.Message(), "the command", kExecuteLimit, deadline);
        Disconnect();
        return Fail(why);
    }
    catch (const std::bad_alloc&)
    {
        // No exception crosses the interface; the passes collected so far stay.
        return E_OUTOFMEMORY;
    }
}

HRESULT lvTelnet::GetOutput(char** lpszOutput, SHORT* nSize)
{
    if (lpszOutput != nullptr)
        *lpszOutput = m_nOutputLength > 0 ? m_output.data() : nullptr;
    if (nSize != nullptr)
        *nSize = static_cast<SHORT>(static_cast<uint16_t>(m_nOutputLength & 0xFFFF));
    return S_OK;
}

HRESULT lvTelnet::GetOutputSize(LONG* pSize)
{
    if (pSize == nullptr)
        return E_POINTER;
    *pSize = m_nOutputLength;
    return S_OK;
}

HRESULT lvTelnet::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IlvTelnet) || IsEqualIID(riid, IID_IlvTelnet2) ? S_OK : S_FALSE;
}

HRESULT lvTelnet::SetCancelDescriptor(LONG fd)
{
    m_connection.SetCancelDescriptor(fd >= 0 ? static_cast<int>(fd) : -1);
    return S_OK;
}

} // namespace lanvex
