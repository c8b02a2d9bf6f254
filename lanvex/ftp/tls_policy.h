// FTPS decisions that need no socket: the security mode's port, the certificate pin as written by
// a user, fingerprints as shown, and the words for a certificate that fails verification.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lanvex
{

enum class ETlsSecurity : int
{
    None = 0,     // plain FTP, as always
    Explicit = 1, // "AUTH TLS" after the greeting (RFC 4217)
    Implicit = 2, // TLS from the first byte
};

constexpr int kFtpPort = 21;
constexpr int kImplicitFtpsPort = 990;

// Security as a script sets it; anything but 0, 1 and 2 is no mode.
std::optional<ETlsSecurity> TlsSecurityFromValue(long nValue);

// The control port: implicit TLS talks to 990 unless the caller chose a port other than 21.
int ControlPortFor(ETlsSecurity security, int nPort);

using Sha256 = std::array<uint8_t, 32>;

// A pin as users copy it: 64 hex digits, in either case, with or without colons or blanks
// between the bytes ("AB:CD:..." as openssl x509 -fingerprint prints it). No value otherwise.
std::optional<Sha256> ParseTlsPin(std::string_view text);

// "AB:CD:...": upper-case hex, colon between bytes, the form the pin accepts.
std::string FormatTlsFingerprint(const Sha256& digest);

// Why a certificate was refused, in the words a user acts on, from OpenSSL's verify error.
std::string TlsVerifyFailureText(long nVerifyError);

// Whether host is a literal IPv4 or IPv6 address (checked against the certificate's IP entries,
// and sent without a server name).
bool IsIpAddressLiteral(std::string_view host);

} // namespace lanvex
