// The host-key policy of every libssh session of the library: known_hosts read here, failing
// closed.
#include "lanvex/net/sessions/known_hosts.h"

#include "lanvex/net/sessions/module_state.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace lanvex
{

namespace
{

constexpr std::string_view kHashMagic = "|1|";
constexpr std::size_t kSha1Bytes = 20;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The next blank-separated word of line from at; empty at the end.
std::string_view NextWord(std::string_view line, std::size_t& at)
{
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    const std::size_t begin = at;
    while (at < line.size() && !IsBlank(line[at]))
        ++at;
    return line.substr(begin, at - begin);
}

// Glob match, case-insensitive as host names are: * any run, ? one character.
bool MatchPattern(std::string_view name, std::string_view pattern)
{
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    auto same = [](char a, char b)
    {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size())
    {
        if (p < pattern.size() &&
            (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n]))))
            ++n, ++p;
        else if (p < pattern.size() && pattern[p] == '*')
            starP = p++, starN = n;
        else if (starP != std::string_view::npos)
            p = starP + 1, n = ++starN;
        else
            return false;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool DecodeBase64(std::string_view text, std::string& bytes)
{
    if (text.empty() || text.size() % 4 != 0)
        return false;
    bytes.assign(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0)
        return false;
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    bytes.resize(static_cast<std::size_t>(n) - padding);
    return true;
}

enum class NameMatch
{
    No,
    Yes,
    Unsure // a hashed name that cannot be read
};

// "|1|salt|hash": HMAC-SHA1 of the name keyed with the salt.
NameMatch MatchHashed(std::string_view field, std::string_view name)
{
    field.remove_prefix(kHashMagic.size());
    const std::size_t bar = field.find('|');
    std::string salt, hash;
    if (bar == std::string_view::npos || !DecodeBase64(field.substr(0, bar), salt) ||
        !DecodeBase64(field.substr(bar + 1), hash) || salt.size() != kSha1Bytes ||
        hash.size() != kSha1Bytes)
        return NameMatch::Unsure;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nDigest = 0;
    if (HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()),
             reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest,
             &nDigest) == nullptr ||
        nDigest != kSha1Bytes)
        return NameMatch::Unsure;
    return std::memcmp(digest, hash.data(), kSha1Bytes) == 0 ? NameMatch::Yes : NameMatch::No;
}

// A comma list of patterns: a negated one that matches wins, else any plain one that matches.
NameMatch MatchHosts(std::string_view field, std::string_view name)
{
    if (field.starts_with(kHashMagic))
        return MatchHashed(field, name);
    bool bMatch = false;
    for (std::size_t begin = 0; begin <= field.size();)
    {
        std::size_t end = field.find(',', begin);
        if (end == std::string_view::npos)
            end = field.size();
        std::string_view pattern = field.substr(begin, end - begin);
        const bool bNegated = pattern.starts_with('!');
        if (bNegated)
            pattern.remove_prefix(1);
        if (!pattern.empty() && MatchPattern(name, pattern))
        {
            if (bNegated)
                return NameMatch::No;
            bMatch = true;
        }
        begin = end + 1;
    }
    return bMatch ? NameMatch::Yes : NameMatch::No;
}

// Null when the key cannot be read as written.
using KeyPtr = std::unique_ptr<ssh_key_struct, void (*)(ssh_key)>;
KeyPtr ImportKey(const std::string& type, const std::string& base64)
{
    ssh_key key = nullptr;
    // The blob names its own type, which libssh does not compare with the one written before.
    std::string blob;
    if (!DecodeBase64(base64, blob) || blob.size() < 4)
        return KeyPtr(nullptr, &ssh_key_free);
    const std::size_t nType =
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[0])) << 24) |
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[1])) << 16) |
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[2])) << 8) |
        static_cast<unsigned char>(blob[3]);
    if (nType > blob.size() - 4 || blob.compare(4, nType, type) != 0 || nType != type.size())
        return KeyPtr(nullptr, &ssh_key_free);
    const ssh_keytypes_e keyType = ssh_key_type_from_name(type.c_str());
    if (keyType == SSH_KEYTYPE_UNKNOWN ||
        ssh_pki_import_pubkey_base64(base64.c_str(), keyType, &key) != SSH_OK)
        key = nullptr;
    return KeyPtr(key, &ssh_key_free);
}

// The entry's verdict for the name: a problem, a key, or nothing.
void ScanLine(std::string_view line, std::size_t nLine, std::string_view name, KnownHostsScan& scan)
{
    std::size_t at = 0;
    std::string_view word = NextWord(line, at);
    if (word.empty() || word.starts_with('#'))
        return;
    std::string_view marker;
    if (word.starts_with('@'))
    {
        marker = word;
        word = NextWord(line, at);
    }
    const NameMatch match = MatchHosts(word, name);
    if (match == NameMatch::Unsure)
    {
        if (scan.UnsureLine == 0)
            scan.UnsureLine = nLine;
        return;
    }
    if (match == NameMatch::No)
        return;
    auto problem = [&](std::string why)
    {
        if (scan.ProblemLine == 0)
            scan.ProblemLine = nLine, scan.Problem = std::move(why);
    };
    if (marker == "@revoked")
        return problem("a key of this host is marked @revoked");
    if (marker == "@cert-authority")
        return problem("this host is to present a certificate (@cert-authority), which is not "
                       "checked here");
    if (!marker.empty())
        return problem("the entry for this host has an unknown marker " + std::string(marker));
    const std::string type(NextWord(line, at));
    const std::string key(NextWord(line, at));
    if (type.empty() || key.empty())
        return problem("the entry for this host is incomplete");
    if (ssh_key_type_from_name(type.c_str()) == SSH_KEYTYPE_UNKNOWN)
        return problem("the entry for this host has an unknown key type " + type);
    if (!ImportKey(type, key))
        return problem("the key of the entry for this host cannot be read");
    scan.Keys.push_back({nLine, type, key});
}

// The host key algorithms that offer a key of a recorded type.
std::string AlgorithmsFor(const std::string& type)
{
    if (type == "ssh-rsa")
        return "rsa-sha2-512,rsa-sha2-256,ssh-rsa";
    return type;
}

bool HoldsKey(const KnownHostsScan& scan, ssh_key key)
{
    for (const KnownHostsScan::Entry& entry : scan.Keys)
    {
        const KeyPtr recorded = ImportKey(entry.Type, entry.Key);
        if (recorded && ssh_key_cmp(recorded.get(), key, SSH_KEY_CMP_PUBLIC) == 0)
            return true;
    }
    return false;
}

std::string Where(const std::string& path, std::size_t nLine)
{
    return path + " line " + std::to_string(nLine);
}

} // namespace

std::string KnownHostsName(std::string_view host, unsigned int port)
{
    std::string name;
    for (const char c : host)
        name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return port == 22 ? name : "[" + name + "]:" + std::to_string(port);
}

KnownHostsScan ScanKnownHosts(std::string_view text, std::string_view name)
{
    KnownHostsScan scan;
    std::size_t nLine = 0;
    for (std::size_t begin = 0; begin < text.size();)
    {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos)
            end = text.size();
        ScanLine(text.substr(begin, end - begin), ++nLine, name, scan);
        begin = end + 1;
    }
    return scan;
}

namespace
{

struct CFileRead
{
    bool Missing = false;
    std::string Error; // empty when read whole
    std::string Text;
};

// Never waits on the file's kind: a FIFO opens at once without a writer (and is refused), so
// does a terminal.
CFileRead ReadKnownHostsFile(const std::string& path)
{
    CFileRead read;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
    {
        if (errno == ENOENT)
            read.Missing = true;
        else
            read.Error = "cannot open " + path + ": " + std::strerror(errno);
        return read;
    }
    const std::string tooLarge =
        path + " is larger than " + std::to_string(kKnownHostsMaxBytes >> 20) + " MiB";
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        read.Error = "cannot examine " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        read.Error = path + " is not a regular file";
    else if (static_cast<unsigned long long>(info.st_size) > kKnownHostsMaxBytes)
        read.Error = tooLarge;
    else
    {
        // One byte more than the file holds tells a file that grew while it was read.
        read.Text.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t nRead = 0;
        while (nRead < read.Text.size())
        {
            const ssize_t n = ::read(fd, read.Text.data() + nRead, read.Text.size() - nRead);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
            {
                read.Error = "cannot read " + path + ": " + std::strerror(errno);
                break;
            }
            if (n == 0)
                break;
            nRead += static_cast<std::size_t>(n);
        }
        if (read.Error.empty() && nRead == read.Text.size())
            read.Error = path + " changed while it was read";
        read.Text.resize(nRead);
    }
    ::close(fd);
    return read;
}

// A read handed to a thread of its own, so that a file system that does not answer (a hung
// network home) holds that thread and not the login. The module stays loaded while it runs.
struct CReadJob
{
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    CFileRead Result;
};

CFileRead ReadWithin(const std::string& path, std::chrono::steady_clock::time_point deadline,
                     int cancelFd)
{
    auto job = std::make_shared<CReadJob>();
    ModuleLock();
    try
    {
        std::thread(
            [job, path]
            {
                CFileRead result = ReadKnownHostsFile(path);
                {
                    std::lock_guard<std::mutex> lock(job->Mutex);
                    job->Result = std::move(result);
                    job->Finished = true;
                }
                job->Done.notify_all();
                ModuleUnlock();
            })
            .detach();
    }
    catch (const std::system_error&)
    {
        ModuleUnlock();
        return ReadKnownHostsFile(path); // no thread to spare: read in place
    }
    std::unique_lock<std::mutex> lock(job->Mutex);
    for (;;)
    {
        if (job->Done.wait_for(lock, std::chrono::milliseconds(50), [&] { return job->Finished; }))
            return std::move(job->Result);
        pollfd cancel{cancelFd, POLLIN, 0};
        CFileRead given;
        if (cancelFd >= 0 && ::poll(&cancel, 1, 0) > 0)
            given.Error = "the check of " + path + " was cancelled";
        else if (std::chrono::steady_clock::now() >= deadline)
            given.Error = path + " could not be read in time";
        if (!given.Error.empty())
            return given;
    }
}

} // namespace

CKnownHostsCheck::CKnownHostsCheck(std::string path, std::string_view host, unsigned int port,
                                   std::chrono::steady_clock::time_point deadline, int cancelFd)
    : m_path(std::move(path)), m_host(host), m_name(KnownHostsName(host, port))
{
    CFileRead read = ReadWithin(m_path, deadline, cancelFd);
    m_bMissing = read.Missing;
    m_readError = std::move(read.Error);
    if (!m_readError.empty())
        return;
    m_nSize = read.Text.size();
    m_bEndsInLine = read.Text.empty() || read.Text.back() == '\n';
    m_scan = ScanKnownHosts(read.Text, m_name);
}

void CKnownHostsCheck::Prepare(ssh_session session) const
{
    // libssh reads these for its own checks and to order the host key algorithms; it opens
    // them with a call that waits on a FIFO for ever. Its checks are not used here.
    ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, "/dev/null");
    ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null");
    std::string algorithms;
    for (const KnownHostsScan::Entry& entry : m_scan.Keys)
    {
        const std::string wanted = AlgorithmsFor(entry.Type);
        if (algorithms.find(wanted) == std::string::npos)
            algorithms += (algorithms.empty() ? "" : ",") + wanted;
    }
    // A type libssh does not offer leaves its default list, and the key is refused later.
    if (!algorithms.empty())
        ssh_options_set(session, SSH_OPTIONS_HOSTKEYS, algorithms.c_str());
}

std::string CKnownHostsCheck::Verify(ssh_session session)
{
    if (!m_readError.empty())
        return "Cannot check the host key: " + m_readError;
    if (m_scan.ProblemLine != 0)
        return "Refused the host key: " + Where(m_path, m_scan.ProblemLine) + ": " + m_scan.Problem;
    ssh_key serverKey = nullptr;
    if (ssh_get_server_publickey(session, &serverKey) != SSH_OK || serverKey == nullptr)
        return "The server presented no host key";
    const KeyPtr server(serverKey, &ssh_key_free);
    if (HoldsKey(m_scan, server.get()))
        return {};
    if (!m_scan.Keys.empty())
        return "The host key of " + m_host + " has changed since it was recorded in " +
               Where(m_path, m_scan.Keys.front().Line) +
               "; someone may be listening in. Remove the old entry if the change is expected";
    if (m_scan.UnsureLine != 0)
        return "Refused to record the host key of " + m_host + ": " +
               Where(m_path, m_scan.UnsureLine) +
               " holds a hashed host name that cannot be read, and may be this host's";
    return Record(server.get());
}

std::string CKnownHostsCheck::Record(ssh_key key) const
{
    char* pBase64 = nullptr;
    const char* pszType = ssh_key_type_to_char(ssh_key_type(key));
    if (pszType == nullptr || ssh_pki_export_pubkey_base64(key, &pBase64) != SSH_OK)
        return "Cannot record the host key of " + m_host + ": its type is not known";
    std::string line = (m_bEndsInLine ? "" : "\n") + m_name + " " + pszType + " " + pBase64 + "\n";
    ssh_string_free_char(pBase64);
    const std::string directory = m_path.substr(0, m_path.find_last_of('/') + 1);
    if (m_bMissing && !directory.empty())
        ::mkdir(directory.c_str(), 0700); // as OpenSSH makes ~/.ssh; an error shows at the open
    const int fd = ::open(m_path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return "Cannot record the host key of " + m_host + " in " + m_path + ": " +
               std::strerror(errno);
    struct stat info
    {
    };
    std::string failure;
    // Sessions that meet new hosts at once (many hosts watched together) take turns, for a
    // bounded time; one that finds the file grown decides again on what it holds now.
    std::size_t nExpected = m_nSize;
    bool bLocked = false;
    for (int i = 0; i < 200 && !(bLocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (bLocked && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) > m_nSize)
    {
        const CFileRead now = ReadKnownHostsFile(m_path);
        const KnownHostsScan scan = ScanKnownHosts(now.Text, m_name);
        const bool bReadable = now.Error.empty() && scan.ProblemLine == 0 && scan.UnsureLine == 0;
        if (bReadable && HoldsKey(scan, key))
        {
            ::close(fd); // recorded meanwhile, as this server presents it
            return {};
        }
        if (bReadable && scan.Keys.empty() && !now.Text.empty())
        {
            line = (now.Text.back() == '\n' ? "" : "\n") + line.substr(m_bEndsInLine ? 0 : 1);
            nExpected = now.Text.size();
        }
    }
    // Only the file that was read is extended: not one that changed or appeared meanwhile.
    if (!bLocked || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) != nExpected)
        failure = m_path + " changed while the host key was checked";
    else if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        failure = std::string("cannot write ") + m_path + ": " + std::strerror(errno);
    ::close(fd);
    return failure.empty() ? std::string()
                           : "Cannot record the host key of " + m_host + ": " + failure;
}

} // namespace lanvex
