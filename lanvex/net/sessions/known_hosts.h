// The host-key policy of every libssh session of the library: known_hosts is read here, never by
// libssh, and anything that cannot be checked is refused (OpenSSH's accept-new, failing closed).
#pragma once

#include <libssh/libssh.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

// A known_hosts larger than this is not read, and so not trusted.
constexpr std::size_t kKnownHostsMaxBytes = 16u << 20;

// The name known_hosts entries use: "host" on port 22, "[host]:port" on any other.
std::string KnownHostsName(std::string_view host, unsigned int port);

// What one known_hosts text says about one name.
struct KnownHostsScan
{
    struct Entry
    {
        std::size_t Line = 0; // from 1
        std::string Type;     // "ssh-ed25519"
        std::string Key;      // the base64 form, as written
    };
    std::vector<Entry> Keys; // the readable plain entries for the name, in file order
    // The first line for the name that forbids trusting any key (damaged, @revoked,
    // @cert-authority): its number and why; 0 when there is none.
    std::size_t ProblemLine = 0;
    std::string Problem;
    // The first line that cannot be told apart from one for the name (a damaged hashed name):
    // it forbids recording a first key, not accepting a recorded one.
    std::size_t UnsureLine = 0;
};

// Pure: the lines of text (a whole known_hosts) that concern name, matched as OpenSSH does
// (patterns with * and ?, negation with !, hashed names).
KnownHostsScan ScanKnownHosts(std::string_view text, std::string_view name);

// One check of one server: construct it before ssh_connect, call Prepare, connect, then Verify.
class CKnownHostsCheck
{
  public:
    // Reads the file now, without blocking on it: a FIFO, a device, a directory, an unreadable
    // or an oversize file is noted and refused by Verify. A missing file is an empty one. A file
    // system that does not answer by the deadline, or a cancel on cancelFd (readable when the
    // client wants to stop), is refused as well.
    CKnownHostsCheck(std::string path, std::string_view host, unsigned int port,
                     std::chrono::steady_clock::time_point deadline =
                         std::chrono::steady_clock::now() + std::chrono::seconds(10),
                     int cancelFd = -1);

    // Keeps libssh away from every known_hosts file (it would open them with a blocking call)
    // and asks the server for a key of a type recorded for it, so that a recorded key is met.
    void Prepare(ssh_session session) const;

    // After the key exchange: empty when the server's key may be trusted, else why not (naming
    // the file and the line). A host without any entry in a file read whole gets its key
    // recorded, and a failure to record it is a refusal too.
    std::string Verify(ssh_session session);

    const std::string& Path() const { return m_path; }

  private:
    std::string Record(ssh_key key) const;

    std::string m_path;
    std::string m_host;
    std::string m_name;
    std::string m_readError; // empty when the file was read whole (or is missing)
    bool m_bMissing = false;
    bool m_bEndsInLine = true; // the text read ends with a line end (or is empty)
    std::size_t m_nSize = 0;
    KnownHostsScan m_scan;
};

} // namespace lanvex
