// Carrying out a file operation with the FTP client: copy or move matching server files into a
// local destination, or delete them on the server.
#pragma once

#include "lanvex/net/lanvex.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

// "host" or "host:port" (port 1 to 65535; 21 when left out).
struct FtpServerAddress
{
    std::string Host;
    int Port = 21;
};
std::optional<FtpServerAddress> ParseFtpServer(std::string_view server);

// From split at its last slash: the directory to change to (empty: the login directory) and the
// pattern of names in it. No pattern (From empty or ending in a slash) is no From.
struct RemotePattern
{
    std::string Directory;
    std::string Pattern;
};
std::optional<RemotePattern> SplitRemotePattern(std::string_view from);

// Whether name matches pattern, where * stands for any run of characters and ? for one
// character (a whole UTF-8 sequence, never a byte of one).
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// Whether a name from a server's listing can be used as a local file name as it stands: not
// empty, not "." or "..", no slash and no zero byte (a listing is outside input).
bool IsPlainEntryName(std::string_view name);

// The calling thread's error object's description, taken (so no longer current); empty when
// there is none.
std::string TakeErrorDescription();

struct FileOperationRequest
{
    std::string Server;
    std::u16string Username;
    std::u16string Password;
    std::string From;
    std::string To;
    SHORT Function = 1;
    bool FilesOnly = false;
    bool CreateDestDirectories = true;
    int64_t DownloadLimit = int64_t{64} << 30;
    int64_t MinimumRate = 1024;
};

// What a run reports while it works, read by a progress window on another thread, and the
// window's way to stop it: Cancel makes CancelDescriptor readable, which ends any wait at once.
class CFileOperationStatus
{
  public:
    struct Snapshot
    {
        std::string Path;     // the file or directory being handled
        int64_t Done = 0;     // files begun so far ("n of N files")
        int64_t Found = 0;    // files known so far
        int64_t Bytes = 0;    // of the current file
        int64_t Size = -1;    // of the current file; -1 when unknown
        int64_t AllBytes = 0; // of every file so far
        bool Cancelled = false;
    };

    CFileOperationStatus();
    ~CFileOperationStatus();
    CFileOperationStatus(const CFileOperationStatus&) = delete;
    CFileOperationStatus& operator=(const CFileOperationStatus&) = delete;

    void Found(int64_t nFiles);
    void BeginFile(const std::string& path, int64_t nSize);
    void BeginDirectory(const std::string& path);
    void Moved(int64_t nBytes); // bytes of the current file so far
    Snapshot Read() const;

    void Cancel();
    bool IsCancelled() const;
    int CancelDescriptor() const { return m_cancelFd; }

  private:
    mutable std::mutex m_mutex;
    Snapshot m_now;
    int64_t m_nEarlierBytes = 0;
    int m_cancelFd = -1;
};

class IFileOperationClient;

// One run of an operation over a logged-out client. Run answers S_OK when everything was done,
// else the first failure's status, with Failure() naming the file; nothing done is undone, and
// nothing is deleted on the server unless its copy arrived whole. Directories are walked with
// one listing per level kept in a file on disk, so memory stays small whatever the tree.
class CFileOperationRun
{
  public:
    CFileOperationRun(IFileOperationClient* pClient, const FileOperationRequest& request,
                      CFileOperationStatus& status);
    ~CFileOperationRun();
    HRESULT Run();
    const std::string& Failure() const { return m_failure; }

  private:
    struct Entry
    {
        std::string Name;
        int64_t Size = -1; // -1: the listing gave none
        bool IsDirectory = false;
    };
    class CListing;

    HRESULT Connect();
    HRESULT Body();
    // Lists the current directory into a file of its own (one per level being walked).
    HRESULT ListCurrentDirectory(const std::string& remotePath, std::string* pFile);
    // Where the matches go locally: a directory (*pbIntoDirectory) or, for one file named
    // without wildcards, its name.
    HRESULT PrepareDestination(size_t nMatches, const Entry& first, bool bWildcards,
                               bool* pbIntoDirectory);
    HRESULT HandleEntry(const Entry& entry, const std::string& remoteDir,
                        const std::string& localPath);
    HRESULT TransferFile(const Entry& entry, const std::string& remotePath,
                         const std::string& localPath);
    // Copies, moves or deletes everything in a directory, then the directory itself.
    HRESULT WalkTree(const Entry& entry, const std::string& remotePath,
                     const std::string& localPath);
    HRESULT EnterDirectory(const std::string& name, const std::string& remotePath);
    HRESULT LeaveDirectory(const std::string& remotePath);

    // Records the first failure: what about it, with the client's own description if it left
    // one, and returns hr. A cancelled run says so instead.
    HRESULT Fail(HRESULT hr, const std::string& what);
    HRESULT FailClient(HRESULT hr, const std::string& what);

    IFileOperationClient* m_pClient; // FTP, FTPS or SFTP, by Server
    IlvFTPClient2* m_pInterface;
    FileOperationRequest m_request;
    CFileOperationStatus& m_status;
    std::string m_failure;
    std::string m_workDir; // the listings on disk
    int m_nDepth = 0;      // directories entered below From's
    unsigned m_nListings = 0;
};

} // namespace lanvex
