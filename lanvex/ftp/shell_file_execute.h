// Carrying out a file operation with the FTP client: copy or move matching server files into a
// local destination, or delete them on the server.
#pragma once

#include "lanvex/net/lanvex.h"

#include <cstdint>
#include <functional>
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
};

// One run of an operation over a logged-out client. Run answers S_OK when everything was done,
// else the first failure's status, with Failure() naming the file; nothing done is undone.
class CFileOperationRun
{
  public:
    // Called before each file or directory is handled; false stops the run (the user cancelled).
    using ProgressFn = std::function<bool(const std::string& remotePath)>;

    CFileOperationRun(IlvFTPClient2* pClient, const FileOperationRequest& request,
                      ProgressFn progress);
    HRESULT Run();
    const std::string& Failure() const { return m_failure; }

  private:
    struct Entry
    {
        std::string Name;
        int64_t Size = 0;
        bool IsDirectory = false;
    };

    HRESULT Connect();
    HRESULT Body();
    HRESULT ListCurrentDirectory(const std::string& remotePath, std::vector<Entry>* pEntries);
    // Where the matches go locally: a directory (*pbIntoDirectory) or, for one file named
    // without wildcards, its name.
    HRESULT PrepareDestination(const std::vector<Entry>& matches, bool bWildcards,
                               bool* pbIntoDirectory);
    HRESULT HandleEntry(const Entry& entry, const std::string& remoteDir,
                        const std::string& localPath);
    HRESULT TransferFile(const Entry& entry, const std::string& remotePath,
                         const std::string& localPath);
    HRESULT TransferTree(const Entry& entry, const std::string& remotePath,
                         const std::string& localPath);
    HRESULT DeleteTree(const std::string& name, const std::string& remotePath);
    HRESULT EnterDirectory(const std::string& name, const std::string& remotePath);
    HRESULT LeaveDirectory(const std::string& remotePath);

    // Records the first failure: what about it, with the client's own description if it left
    // one, and returns hr.
    HRESULT Fail(HRESULT hr, const std::string& what);
    HRESULT FailClient(HRESULT hr, const std::string& what);

    IlvFTPClient2* m_pClient;
    FileOperationRequest m_request;
    ProgressFn m_progress;
    std::string m_failure;
    int m_nDepth = 0; // directories entered below From's
};

} // namespace lanvex
