// Carrying out a file operation with the FTP client: copy or move matching server files into a
// local destination, or delete them on the server.
#include "lanvex/ftp/shell_file_execute.h"

#include "lanvex/ftp/sftp_file_client.h"

#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/ftp_listing.h"
#include "lanvex/ftp/shell_file_dialog.h"
#include "lanvex/ftp/shell_file_listing.h"
#include "lanvex/net/transport/wire_text.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace lanvex
{

namespace
{

namespace fs = std::filesystem;

constexpr SHORT kCopy = 1;
constexpr SHORT kMove = 2;
constexpr SHORT kDelete = 3;
// Directories are followed no deeper than this: a server that answers every CWD with one more
// directory inside would otherwise keep the run going until the stack runs out.
constexpr int kMaxTreeDepth = 100;

std::string Join(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Creates a new empty file next to path, with the permissions a new file gets here (mkstemp's
// would be owner-only); its name in *pTemp.
bool CreateBeside(const std::string& path, std::string* pTemp)
{
    static std::atomic<unsigned> s_nCounter{0};
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        *pTemp = path + ".lvftp-" + std::to_string(::getpid()) + "-" +
                 std::to_string(s_nCounter.fetch_add(1));
        const int fd = ::open(pTemp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            ::close(fd);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool IsDirectory(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string TakeErrorDescription()
{
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr)
        return {};
    BSTR description = nullptr;
    pInfo->GetDescription(&description);
    pInfo->Release();
    std::string text = NarrowFromBstr(description);
    SysFreeString(description);
    return text;
}

namespace
{

// A name's bytes as a text the client turns back into the same bytes.
CComBSTR WireName(const std::string& name)
{
    const std::u16string wide = WireTextToWide(name);
    return CComBSTR{std::u16string_view(wide)};
}

} // namespace

CFileOperationRun::CFileOperationRun(IFileOperationClient* pClient,
                                     const FileOperationRequest& request,
                                     CFileOperationStatus& status)
    : m_pClient(pClient), m_pInterface(pClient->Interface()), m_request(request), m_status(status)
{
}

CFileOperationRun::~CFileOperationRun()
{
    if (!m_workDir.empty())
    {
        std::error_code ignored;
        fs::remove_all(m_workDir, ignored);
    }
}

HRESULT CFileOperationRun::Fail(HRESULT hr, const std::string& what)
{
    if (m_failure.empty())
        m_failure = m_status.IsCancelled() ? "Cancelled (" + what + ")" : what;
    return m_status.IsCancelled() ? E_ABORT : hr;
}

HRESULT CFileOperationRun::FailClient(HRESULT hr, const std::string& what)
{
    const std::string description = TakeErrorDescription();
    return Fail(hr, what + ": " + (description.empty() ? HResultText(hr) : description));
}

HRESULT CFileOperationRun::Run()
{
    if (m_request.Function != kCopy && m_request.Function != kMove && m_request.Function != kDelete)
        return Fail(E_INVALIDARG, "Function " + std::to_string(m_request.Function) +
                                      " is none of 1 (copy), 2 (move) and 3 (delete)");
    // What the description itself gets wrong is said before any connection is made.
    if (!SplitRemotePattern(m_request.From))
        return Fail(E_INVALIDARG, "From \"" + m_request.From + "\" names no file");
    if (m_request.Function != kDelete && m_request.To.empty())
        return Fail(E_INVALIDARG, "To names no destination");
    // A zero inside would make the system see a shorter path than the one given.
    if (m_request.To.find('\0') != std::string::npos)
        return Fail(E_INVALIDARG, "To holds a zero character");
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    std::string work = ((error ? fs::path("/tmp") : temp) / "lvftp-XXXXXX").string();
    if (::mkdtemp(work.data()) == nullptr)
        return Fail(E_HANDLE, "No working directory for the listings could be made");
    m_workDir = work;
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    hr = Body();
    // The session ends whatever happened; a refused QUIT undoes nothing that was done.
    if (FAILED(m_pInterface->Disconnect()))
        TakeErrorDescription();
    return hr;
}

HRESULT CFileOperationRun::Connect()
{
    const std::optional<FileServer> address = ParseFileServer(m_request.Server);
    if (!address)
        return Fail(E_INVALIDARG, "Server \"" + m_request.Server +
                                      "\" is no host name with an optional :port (and an optional "
                                      "ftps:// or sftp:// before it)");
    m_pClient->SetCancelDescriptor(m_status.CancelDescriptor());
    m_pClient->SetDownloadLimit(m_request.DownloadLimit);
    m_pClient->SetFloorRate(m_request.MinimumRate);
    CComBSTR host{std::string_view(address->Host)};
    CComBSTR user{std::u16string_view(m_request.Username)};
    CComBSTR password{std::u16string_view(m_request.Password)};
    m_pInterface->put_Address(host);
    // The client's port is 16-bit signed; it uses the low 16 bits.
    m_pInterface->put_Port(static_cast<SHORT>(static_cast<uint16_t>(address->Port)));
    m_pInterface->put_Username(user);
    m_pInterface->put_Password(password);
    HRESULT hr = m_pInterface->Connect();
    if (FAILED(hr))
        return FailClient(hr, "Logging in to " + m_request.Server);
    hr = m_pInterface->SetType(1); // binary: sizes compare byte for byte
    if (FAILED(hr))
        return FailClient(hr, "Binary transfers on " + m_request.Server);
    return S_OK;
}

HRESULT CFileOperationRun::ListCurrentDirectory(const std::string& remotePath, std::string* pFile)
{
    const std::string shown = remotePath.empty() ? std::string("the login directory") : remotePath;
    *pFile = m_workDir + "/" + std::to_string(m_nListings++);
    const HRESULT hr = m_pClient->ListTo(*pFile);
    if (FAILED(hr))
    {
        ::unlink(pFile->c_str());
        return FailClient(hr, "Listing " + shown);
    }
    return S_OK;
}

HRESULT CFileOperationRun::Body()
{
    const std::optional<RemotePattern> from = SplitRemotePattern(m_request.From);
    if (!from->Directory.empty())
    {
        const HRESULT hr = m_pInterface->ChangeDir(WireName(from->Directory));
        if (FAILED(hr))
            return FailClient(hr, from->Directory);
    }
    std::string file;
    HRESULT hr = ListCurrentDirectory(from->Directory, &file);
    if (FAILED(hr))
        return hr;
    CListing listing(file);
    if (!listing.IsOpen())
        return Fail(E_HANDLE, "The listing of " + m_request.From + " could not be read back");
    const auto matches = [&](const Entry& entry)
    {
        return MatchesWildcard(from->Pattern, entry.Name) &&
               !(entry.IsDirectory && m_request.FilesOnly);
    };
    // Two passes over the saved listing: what matched decides where the files go.
    size_t nMatches = 0;
    int64_t nFiles = 0;
    Entry first;
    Entry entry;
    for (CListing::Next next; (next = listing.Read(&entry)) != CListing::Next::End;)
    {
        if (next == CListing::Next::TooLong)
            return Fail(E_FAIL, "The listing of " + m_request.From + " has a line longer than " +
                                    std::to_string(CListing::kMaxLine) + " bytes");
        if (!matches(entry))
            continue;
        if (nMatches++ == 0)
            first = entry;
        nFiles += entry.IsDirectory ? 0 : 1;
    }
    if (nMatches == 0)
        return Fail(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                    "No file on " + m_request.Server + " matches " + m_request.From);
    m_status.Found(nFiles);

    bool bIntoDirectory = true;
    if (m_request.Function != kDelete)
    {
        const bool bWildcards = from->Pattern.find_first_of("*?") != std::string::npos;
        hr = PrepareDestination(nMatches, first, bWildcards, &bIntoDirectory);
        if (FAILED(hr))
            return hr;
    }
    listing.Rewind();
    while (listing.Read(&entry) == CListing::Next::Entry)
    {
        if (!matches(entry))
            continue;
        const std::string local = bIntoDirectory ? Join(m_request.To, entry.Name) : m_request.To;
        hr = HandleEntry(entry, from->Directory, local);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CFileOperationRun::PrepareDestination(size_t nMatches, const Entry& first, bool bWildcards,
                                              bool* pbIntoDirectory)
{
    const std::string& to = m_request.To;
    // A pattern with wildcards always goes into a directory, however many files it matched, so
    // the outcome never depends on what the server happens to hold.
    const bool bSingleFile = nMatches == 1 && !first.IsDirectory && !bWildcards;
    *pbIntoDirectory = IsDirectory(to) || to.back() == '/' || !bSingleFile;
    // The directory that must exist: To itself, or the one the single file goes into.
    std::string needed = to;
    if (!*pbIntoDirectory)
        needed = fs::path(to).parent_path().string();
    if (needed.empty() || IsDirectory(needed))
        return S_OK;
    if (!m_request.CreateDestDirectories)
        return Fail(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                    "The destination directory " + needed + " does not exist");
    std::error_code error;
    fs::create_directories(needed, error);
    if (error)
        return Fail(E_HANDLE, "The destination directory " + needed +
                                  " could not be created: " + error.message());
    return S_OK;
}

HRESULT CFileOperationRun::HandleEntry(const Entry& entry, const std::string& remoteDir,
                                       const std::string& localPath)
{
    const std::string remotePath = Join(remoteDir, entry.Name);
    if (m_status.IsCancelled())
        return Fail(E_ABORT, "before " + remotePath);
    if (entry.IsDirectory)
        return WalkTree(entry, remotePath, localPath);
    if (m_request.Function != kDelete)
        return TransferFile(entry, remotePath, localPath);
    m_status.BeginFile(remotePath, -1);
    const HRESULT hr = m_pInterface->DeleteFile(WireName(entry.Name));
    return FAILED(hr) ? FailClient(hr, remotePath) : S_OK;
}

HRESULT CFileOperationRun::TransferFile(const Entry& entry, const std::string& remotePath,
                                        const std::string& localPath)
{
    m_status.BeginFile(remotePath, entry.Size);
    // The download lands in a file of its own beside the target and takes the target's name
    // only when complete (a 2yz completion and, where the listing gave one, exactly its size),
    // so a failed one never damages a file that was there.
    std::string temp;
    if (!CreateBeside(localPath, &temp))
        return Fail(E_HANDLE, localPath + ": no file can be created beside it");
    m_pClient->SetProgress([this](int64_t nBytes) { m_status.Moved(nBytes); });
    HRESULT hr = m_pClient->DownloadTo(entry.Name, temp, entry.Size);
    m_pClient->SetProgress(nullptr);
    if (FAILED(hr))
    {
        ::unlink(temp.c_str());
        return FailClient(hr,
                          remotePath + (m_request.Function == kMove ? " (the server's file is kept)"
                                                                    : std::string()));
    }
    if (::rename(temp.c_str(), localPath.c_str()) != 0)
    {
        const int nError = errno;
        ::unlink(temp.c_str());
        return Fail(E_HANDLE, localPath + ": " + std::strerror(nError));
    }
    if (m_request.Function == kMove)
    {
        hr = m_pInterface->DeleteFile(WireName(entry.Name));
        if (FAILED(hr))
            return FailClient(hr, remotePath + " was copied but not deleted");
    }
    return S_OK;
}

HRESULT CFileOperationRun::WalkTree(const Entry& entry, const std::string& remotePath,
                                    const std::string& localPath)
{
    m_status.BeginDirectory(remotePath);
    if (m_request.Function != kDelete)
    {
        std::error_code error;
        fs::create_directory(localPath, error);
        if (error)
            return Fail(E_HANDLE, localPath + ": " + error.message());
    }
    HRESULT hr = EnterDirectory(entry.Name, remotePath);
    if (FAILED(hr))
        return hr;
    std::string file;
    hr = ListCurrentDirectory(remotePath, &file);
    if (FAILED(hr))
        return hr;
    {
        // Only this level's listing file is open while the walk goes deeper.
        CListing listing(file);
        if (!listing.IsOpen())
            hr = Fail(E_HANDLE, "The listing of " + remotePath + " could not be read back");
        Entry child;
        int64_t nFiles = 0;
        for (CListing::Next next;
             SUCCEEDED(hr) && (next = listing.Read(&child)) != CListing::Next::End;)
            if (next == CListing::Next::TooLong)
                hr = Fail(E_FAIL, "The listing of " + remotePath + " has a line longer than " +
                                      std::to_string(CListing::kMaxLine) + " bytes");
            else
                nFiles += child.IsDirectory ? 0 : 1;
        if (SUCCEEDED(hr))
        {
            m_status.Found(nFiles);
            listing.Rewind();
        }
        while (SUCCEEDED(hr) && listing.Read(&child) == CListing::Next::Entry)
            hr = HandleEntry(child, remotePath,
                             m_request.Function == kDelete ? std::string()
                                                           : Join(localPath, child.Name));
    }
    ::unlink(file.c_str());
    if (FAILED(hr))
        return hr;
    hr = LeaveDirectory(remotePath);
    if (FAILED(hr) || m_request.Function == kCopy)
        return hr;
    hr = m_pInterface->DeleteDir(WireName(entry.Name));
    if (FAILED(hr))
        return FailClient(hr, m_request.Function == kMove
                                  ? remotePath + " was copied but not removed"
                                  : remotePath);
    return S_OK;
}

HRESULT CFileOperationRun::EnterDirectory(const std::string& name, const std::string& remotePath)
{
    if (m_nDepth >= kMaxTreeDepth)
        return Fail(E_FAIL, remotePath + ": more than " + std::to_string(kMaxTreeDepth) +
                                " directories deep");
    const HRESULT hr = m_pInterface->ChangeDir(WireName(name));
    if (FAILED(hr))
        return FailClient(hr, remotePath);
    ++m_nDepth;
    return S_OK;
}

HRESULT CFileOperationRun::LeaveDirectory(const std::string& remotePath)
{
    const HRESULT hr = m_pInterface->ChangeDirUp();
    if (FAILED(hr))
        return FailClient(hr, "Leaving " + remotePath);
    --m_nDepth;
    return S_OK;
}

} // namespace lanvex
