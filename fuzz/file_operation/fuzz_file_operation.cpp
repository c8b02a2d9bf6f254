// Fuzzes what the file operation makes of outside text: names from a server's listing matched
// against a pattern, the Server and From properties, and which names may be used locally.
#include "lanvex/ftp/shell_file_execute.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace lanvex;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first zero byte (or the middle) parts pattern from name.
    size_t nSplit = text.find('\0');
    if (nSplit == std::string_view::npos)
        nSplit = size / 2;
    const std::string_view pattern = text.substr(0, nSplit);
    const std::string_view name = text.substr(std::min(nSplit + 1, size));
    const bool bMatch = MatchesWildcard(pattern, name);
    // A pattern without wildcards matches exactly itself; "*" matches everything.
    if (pattern.find_first_of("*?") == std::string_view::npos && bMatch != (pattern == name))
        std::abort();
    if (!MatchesWildcard("*", name))
        std::abort();
    if (name.find_first_of("*?") == std::string_view::npos && !MatchesWildcard(name, name))
        std::abort();

    if (const auto address = ParseFtpServer(text))
        if (address->Host.empty() || address->Port < 1 || address->Port > 65535)
            std::abort();
    if (const auto split = SplitRemotePattern(text))
        if (split->Pattern.empty() || split->Pattern.find('/') != std::string::npos)
            std::abort();
    if (IsPlainEntryName(text) && (text == ".." || text.find('/') != std::string_view::npos))
        std::abort();
    return 0;
}
