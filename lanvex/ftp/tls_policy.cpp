// FTPS decisions that need no socket: ports, pins, fingerprints and refusal texts.
#include "lanvex/ftp/tls_policy.h"

#include <arpa/inet.h>
#include <openssl/x509_vfy.h>

namespace lanvex
{

std::optional<ETlsSecurity> TlsSecurityFromValue(long nValue)
{
    if (nValue < 0 || nValue > 2)
        return std::nullopt;
    return static_cast<ETlsSecurity>(nValue);
}

int ControlPortFor(ETlsSecurity security, int nPort)
{
    return security == ETlsSecurity::Implicit && nPort == kFtpPort ? kImplicitFtpsPort : nPort;
}

std::optional<Sha256> ParseTlsPin(std::string_view text)
{
    Sha256 digest{};
    size_t nDigits = 0;
    for (const char c : text)
    {
        if (c == ':' || c == ' ')
            continue;
        int nValue = -1;
        if (c >= '0' && c <= '9')
            nValue = c - '0';
        else if (c >= 'a' && c <= 'f')
            nValue = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nValue = c - 'A' + 10;
        if (nValue < 0 || nDigits >= 2 * digest.size())
            return std::nullopt;
        digest[nDigits / 2] = static_cast<uint8_t>(digest[nDigits / 2] << 4 | nValue);
        ++nDigits;
    }
    if (nDigits != 2 * digest.size())
        return std::nullopt;
    return digest;
}

std::string FormatTlsFingerprint(const Sha256& digest)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(digest.size() * 3);
    for (const uint8_t byte : digest)
    {
        if (!text.empty())
            text.push_back(':');
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

std::string TlsVerifyFailureText(long nVerifyError)
{
    switch (nVerifyError)
    {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the server's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the server's certificate is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the server's certificate is for another host (wrong host)";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "the server's certificate comes from an unknown issuer (not in the trusted CAs; "
               "set TlsCaFile, or TlsPinnedSha256 for a self-signed server)";
    default:
        return std::string("the server's certificate was refused: ") +
               X509_verify_cert_error_string(nVerifyError);
    }
}

bool IsIpAddressLiteral(std::string_view host)
{
    const std::string text(host);
    unsigned char address[16];
    return ::inet_pton(AF_INET, text.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

} // namespace lanvex
