// FTPS for lvFTPClient: the IlvFTPClient3 settings and the steps that put a login under TLS
// (explicit "AUTH TLS" with PBSZ 0 and PROT P, or implicit from the first byte) and every data
// connection after it, resuming the control connection's session.
#pragma once

#include "lanvex/ftp/ftp_control.h"
#include "lanvex/ftp/ftp_transfer.h"
#include "lanvex/ftp/tls_connection.h"

#include "platform/com/bstr.h"

#include <optional>
#include <string>

namespace lanvex
{

class CFtpTls
{
  public:
    // The properties, as scripts set them.
    LONG Security = 0;
    LONG Verify = 1;
    CComBSTR CaFile;
    CComBSTR PinnedSha256;
    std::string PeerFingerprint; // of the last login's server; empty without TLS

    // Opens the control connection as Security says and points the data connections at TLS (or
    // at the plain stream with Security 0). A refused certificate, or a server that refuses TLS,
    // ends the connection before the login is sent. Throws CFtpFailure.
    void Open(CFtpControl& control, CFtpTransfers& transfers,
              const std::optional<std::string>& address, int nPort);

  private:
    void SecureControl(CFtpControl& control, const std::string& host);

    CTlsContext m_context;
};

} // namespace lanvex
