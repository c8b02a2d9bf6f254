// Fuzzes what the SFTP side makes of a server's names: a name either gets no listing line or one
// that the FTP listing reader reads back as exactly that name, size and kind; and the pin text.
#include "lanvex/ftp/ftp_listing.h"
#include "lanvex/ftp/sftp_listing.h"
#include "lanvex/ftp/tls_policy.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    int64_t nSize = 0;
    std::memcpy(&nSize, data, sizeof nSize);
    const bool bDirectory = (data[8] & 1) != 0;
    const std::string_view name(reinterpret_cast<const char*>(data + 9), size - 9);
    if (const std::optional<std::string> line = lanvex::SftpListingLine(name, nSize, bDirectory))
    {
        std::vector<lanvex::FtpFileEntry> entries;
        lanvex::ParseFtpListing(*line, false, &entries);
        if (entries.size() != 1 || entries[0].FullName != name || entries[0].FullSize != nSize ||
            entries[0].IsDirectory != bDirectory)
            std::abort();
    }
    // A pin either reads as 32 bytes that print back in the canonical form, or not at all.
    if (const std::optional<lanvex::Sha256> pin = lanvex::ParseTlsPin(name))
        if (lanvex::ParseTlsPin(lanvex::FormatTlsFingerprint(*pin)) != pin)
            std::abort();
    return 0;
}
