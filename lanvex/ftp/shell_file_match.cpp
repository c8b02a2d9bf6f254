// Reading the names a file operation is given: the server address, the remote pattern and its
// wildcards, and which listed names are plain file names.
#include "lanvex/ftp/shell_file_execute.h"

#include <algorithm>
#include <charconv>

namespace lanvex
{

namespace
{

// The length of the UTF-8 sequence that starts with byte c (1 for a stray byte).
size_t SequenceLength(unsigned char c)
{
    if (c >= 0xF0 && c < 0xF8)
        return 4;
    if (c >= 0xE0)
        return c < 0xF0 ? 3 : 1;
    if (c >= 0xC0)
        return 2;
    return 1;
}

} // namespace

std::optional<FtpServerAddress> ParseFtpServer(std::string_view server)
{
    FtpServerAddress address;
    const size_t nColon = server.find(':');
    address.Host = std::string(server.substr(0, nColon));
    if (address.Host.empty())
        return std::nullopt;
    if (nColon == std::string_view::npos)
        return address;
    const std::string_view port = server.substr(nColon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), address.Port);
    if (ec != std::errc() || end != port.data() + port.size() || address.Port < 1 ||
        address.Port > 65535)
        return std::nullopt;
    return address;
}

std::optional<RemotePattern> SplitRemotePattern(std::string_view from)
{
    RemotePattern split;
    const size_t nSlash = from.rfind('/');
    if (nSlash != std::string_view::npos)
    {
        // "/name" lives in the root; "a/b/name" in a/b.
        split.Directory = std::string(from.substr(0, nSlash == 0 ? 1 : nSlash));
        from.remove_prefix(nSlash + 1);
    }
    if (from.empty())
        return std::nullopt;
    split.Pattern = std::string(from);
    return split;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name)
{
    // Greedy with one step back to the last star: linear in practice, never exponential.
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size())
    {
        if (p < pattern.size() && pattern[p] == '*')
        {
            starP = p++;
            starN = n;
        }
        else if (p < pattern.size() && pattern[p] == '?')
        {
            ++p;
            n += std::min(SequenceLength(static_cast<unsigned char>(name[n])), name.size() - n);
        }
        else if (p < pattern.size() && pattern[p] == name[n])
        {
            ++p;
            ++n;
        }
        else if (starP != std::string_view::npos)
        {
            p = starP + 1;
            starN += SequenceLength(static_cast<unsigned char>(name[starN]));
            n = std::min(starN, name.size());
        }
        else
        {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool IsPlainEntryName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

} // namespace lanvex
