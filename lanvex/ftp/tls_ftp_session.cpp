// FTPS for lvFTPClient: the IlvFTPClient3 properties and the TLS steps of a login.
#include "lanvex/ftp/tls_ftp_session.h"

#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/net/sessions/component_property.h"

#include "platform/com/conversion.h"

namespace lanvex
{

namespace
{

constexpr const char* kTrace = "lvFTPClient";

} // namespace

void CFtpTls::Open(CFtpControl& control, CFtpTransfers& transfers,
                   const std::optional<std::string>& address, int nPort)
{
    PeerFingerprint.clear();
    control.Drop(); // nothing of an earlier session may use the context below
    const std::optional<ETlsSecurity> security = TlsSecurityFromValue(Security);
    if (!security)
        ThrowFtp(E_INVALIDARG, "Security is " + std::to_string(Security) +
                                   "; it is 0 (none), 1 (AUTH TLS) or 2 (implicit TLS)");
    if (*security == ETlsSecurity::None)
    {
        transfers.SetDataStreamHook(nullptr);
        control.Open(address ? address->c_str() : nullptr, nPort);
        return;
    }
    CTlsContext::Settings settings;
    settings.Verify = Verify != 0;
    settings.CaFile = NarrowFromBstr(CaFile);
    if (const std::string pin = NarrowFromBstr(PinnedSha256); !pin.empty())
    {
        settings.Pin = ParseTlsPin(pin);
        if (!settings.Pin)
            ThrowFtp(E_INVALIDARG, "TlsPinnedSha256 is no SHA-256 (64 hex digits, colons allowed)");
    }
    std::string failure;
    if (!m_context.Start(settings, &failure))
        ThrowFtp(E_FAIL, failure);
    // The name the certificate must carry: the address as given (the local machine's own name
    // when none is).
    const std::string host = address && !address->empty() ? *address : "localhost";
    if (*security == ETlsSecurity::Implicit)
        control.Open(address ? address->c_str() : nullptr, ControlPortFor(*security, nPort),
                     [&] { SecureControl(control, host); });
    else
    {
        control.Open(address ? address->c_str() : nullptr, nPort);
        const FtpReply& reply = control.Command("AUTH TLS\n");
        if (reply.Code() != "234")
        {
            control.Drop();
            ThrowFtp(E_FAIL,
                     "The server did not agree to TLS: " + reply.Code() + " " + reply.Text());
        }
        SecureControl(control, host);
    }
    // Data connections in TLS too (RFC 4217's "protection buffer" is 0 for a stream).
    control.Require("PBSZ 0\n");
    control.Require("PROT P\n");
    transfers.SetDataStreamHook(
        [this, host](CTcpConnection& data) -> std::unique_ptr<IFtpStream>
        {
            auto stream = std::make_unique<CTlsStream>(data, kTrace, ETraceFormat::Data);
            const CTlsStream::Handshake result = stream->StartTls(m_context, host, false);
            if (!result.Ok)
                ThrowFtp(E_FAIL, "TLS on the data connection: " + result.Failure);
            return stream;
        });
}

void CFtpTls::SecureControl(CFtpControl& control, const std::string& host)
{
    auto stream = std::make_unique<CTlsStream>(control.Connection(), kTrace, ETraceFormat::Lines);
    const CTlsStream::Handshake result = stream->StartTls(m_context, host, true);
    if (!result.Ok)
    {
        stream.reset();
        control.Drop();
        ThrowFtp(E_FAIL, "TLS with " + host + " refused: " + result.Failure);
    }
    PeerFingerprint = result.Fingerprint;
    control.WrapStream(std::move(stream));
}

// lvFTPClient's IlvFTPClient3 properties live with the TLS steps they feed.

HRESULT lvFTPClient::get_Security(LONG* pVal)
{
    return GetValueProperty(m_tls.Security, pVal);
}

HRESULT lvFTPClient::put_Security(LONG newVal)
{
    return PutValueProperty(m_tls.Security, newVal);
}

HRESULT lvFTPClient::get_TlsVerify(LONG* pVal)
{
    return GetValueProperty(m_tls.Verify, pVal);
}

HRESULT lvFTPClient::put_TlsVerify(LONG newVal)
{
    return PutValueProperty(m_tls.Verify, newVal);
}

HRESULT lvFTPClient::get_TlsCaFile(BSTR* pVal)
{
    return GetTextProperty(m_tls.CaFile, pVal);
}

HRESULT lvFTPClient::put_TlsCaFile(BSTR newVal)
{
    return PutTextProperty(m_tls.CaFile, newVal);
}

HRESULT lvFTPClient::get_TlsPinnedSha256(BSTR* pVal)
{
    return GetTextProperty(m_tls.PinnedSha256, pVal);
}

HRESULT lvFTPClient::put_TlsPinnedSha256(BSTR newVal)
{
    return PutTextProperty(m_tls.PinnedSha256, newVal);
}

HRESULT lvFTPClient::get_TlsPeerFingerprint(BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    const std::u16string wide = NarrowToWide(m_tls.PeerFingerprint);
    *pVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace lanvex
