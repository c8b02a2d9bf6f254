// Fuzzes the listing parse: any text, both kinds; one entry per line, every field terminated.
#include "lanvex/ftp/ftp_listing.h"

#include <cstdlib>
#include <cstring>

namespace
{

template <size_t N> void CheckTerminated(const char (&field)[N])
{
    if (std::memchr(field, '\0', N) == nullptr)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<lanvex::FtpFileEntry> entries;
    lanvex::ParseFtpListing(text, (data[0] & 1) != 0, &entries);
    // Lines: every line end (CR LF counts once) plus a last line without one.
    size_t nLines = 0;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' || text[i] == '\r')
        {
            ++nLines;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        }
        else if (i + 1 == text.size())
            ++nLines;
    }
    if (entries.size() != nLines)
        std::abort();
    for (const lanvex::FtpFileEntry& e : entries)
    {
        CheckTerminated(e.Permissions);
        CheckTerminated(e.Owner);
        CheckTerminated(e.Group);
        CheckTerminated(e.Month);
        CheckTerminated(e.Day);
        CheckTerminated(e.TimeOrYear);
        CheckTerminated(e.Name);
        if (std::strlen(e.Name) > e.FullName.size() && (data[0] & 1) != 0)
            std::abort();
    }
    return 0;
}
