// An SFTP session (libssh) for the file operation's "sftp://" servers: the login of lvSecureShell
// (host key checked first and failing closed; then the agent, the user's keys, the password),
// then the few file-system calls a copy, move or delete needs, each bounded and cancellable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace lanvex
{

class CKnownHostsCheck;

class CSftpSession
{
  public:
    using Clock = std::chrono::steady_clock;
    struct Entry
    {
        std::string Name;
        int64_t Size = 0;
        bool IsDirectory = false;
    };

    // The login, as for lvSecureShell; the agent's share of it.
    static constexpr std::chrono::seconds kConnectLimit{10};
    static constexpr std::chrono::seconds kAgentLimit{5};
    // Reads ask for this much at a time, this many requests ahead; writes go in blocks of
    // kWriteBlock (well inside the 256 KiB message OpenSSH's server takes).
    static constexpr uint32_t kReadBlock = 64u << 10;
    static constexpr int kReadsAhead = 16;
    static constexpr size_t kWriteBlock = 128u << 10;

    CSftpSession();
    ~CSftpSession();
    CSftpSession(const CSftpSession&) = delete;
    CSftpSession& operator=(const CSftpSession&) = delete;

    // How long one call may go without the server moving a byte (the FTP client's wait).
    void SetWait(std::chrono::milliseconds wait) { m_wait = wait; }
    // A descriptor that becomes readable when the caller cancels: every wait ends at once.
    void SetCancelDescriptor(int fd) { m_cancelFd = fd; }
    // A transfer's whole time allows for this rate over its size (or limit), beyond the waits.
    void SetFloorRate(int64_t nBytesPerSecond) { m_nFloorRate = nBytesPerSecond; }
    // Called with the bytes moved so far during a transfer.
    void SetProgress(std::function<void(int64_t)> progress) { m_progress = std::move(progress); }

    // Each returns false with Failure() set; a failed call leaves the session as it was, except
    // that a time-out, a cancel or a broken connection ends it (IsConnected false).
    bool Connect(const std::string& host, int nPort, const std::string& user,
                 const std::string& password);
    void Disconnect();
    bool IsConnected() const { return m_sftp != nullptr; }

    bool List(const std::string& path, std::vector<Entry>* pEntries, size_t nMaxEntries);
    bool IsDirectory(const std::string& path);
    // Downloads into the file openLocal gives (asked only once the server has opened remote, so
    // a refusal touches nothing here); more than nLimit bytes is a failure. *pBytes: what arrived.
    bool Download(const std::string& remote, const std::function<FILE*()>& openLocal,
                  int64_t nLimit, int64_t* pBytes);
    bool Upload(FILE* pLocal, const std::string& remote);
    bool Remove(const std::string& path);
    bool RemoveDirectory(const std::string& path);
    bool MakeDirectory(const std::string& path);
    bool Rename(const std::string& from, const std::string& to);

    const std::string& Failure() const { return m_failure; }

  private:
    class CWatch;
    // Repeats a non-blocking libssh call while it answers `again`, until the deadline or a cancel.
    template <class Call> int Pump(Call call, int again, Clock::time_point deadline);
    bool OpenSession(const std::string& host, int nPort, const std::string& user);
    bool CheckHostKey(const std::string& host);
    bool Authenticate(const std::string& host, const std::string& password);
    bool StartSftp();
    // The failure of an SFTP call on path: the server's status in words, or why the wait ended.
    bool FailCall(const std::string& what, const std::string& path);
    bool Fail(const std::string& text);
    // Gives the next blocking step the wait (or until the deadline).
    void Arm();
    void Arm(Clock::time_point deadline);

    ssh_session m_session = nullptr;
    sftp_session m_sftp = nullptr;
    std::unique_ptr<CWatch> m_watch;
    int m_cancelFd = -1;
    int64_t m_nFloorRate = 1024;
    std::function<void(int64_t)> m_progress;
    // The end of the transfer under way (no limit outside one); every step's wait stops there.
    Clock::time_point m_transferEnd = Clock::time_point::max();
    std::chrono::milliseconds m_wait{10000};
    CKnownHostsCheck* m_pKnownHosts = nullptr; // during Connect
    std::string m_failure;
    bool m_bTimedOut = false;
    bool m_bCancelled = false;
};

} // namespace lanvex
