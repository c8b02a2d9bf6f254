// Carrying out a file operation with the FTP client: copy or move matching server files into a
// local destination, or delete them on the server.
#include "lanvex/ftp/shell_file_execute.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
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

CFileOperationRun::CFileOperationRun(IlvFTPClient2* pClient, const FileOperationRequest& request,
                                     ProgressFn progress)
    : m_pClient(pClient), m_request(request), m_progress(std::move(progress))
{
}

HRESULT CFileOperationRun::Fail(HRESULT hr, const std::string& what)
{
    if (m_failure.empty())
        m_failure = what;
    return hr;
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
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    hr = Body();
    // The session ends whatever happened; a refused QUIT undoes nothing that was done.
    if (FAILED(m_pClient->Disconnect()))
        TakeErrorDescription();
    return hr;
}

HRESULT CFileOperationRun::Connect()
{
    const std::optional<FtpServerAddress> address = ParseFtpServer(m_request.Server);
    if (!address)
        return Fail(E_INVALIDARG,
                    "Server \"" + m_request.Server + "\" is no host name with an optional :port");
    CComBSTR host{std::string_view(address->Host)};
    CComBSTR user{std::u16string_view(m_request.Username)};
    CComBSTR password{std::u16string_view(m_request.Password)};
    m_pClient->put_Address(host);
    // The client's port is 16-bit signed; it uses the low 16 bits.
    m_pClient->put_Port(static_cast<SHORT>(static_cast<uint16_t>(address->Port)));
    m_pClient->put_Username(user);
    m_pClient->put_Password(password);
    HRESULT hr = m_pClient->Connect();
    if (FAILED(hr))
        return FailClient(hr, "Logging in to " + m_request.Server);
    hr = m_pClient->SetType(1); // binary: sizes compare byte for byte
    if (FAILED(hr))
        return FailClient(hr, "Binary transfers on " + m_request.Server);
    return m_pClient->put_FileList(0); // long listings: sizes and directories
}

HRESULT CFileOperationRun::Body()
{
    const std::optional<RemotePattern> from = SplitRemotePattern(m_request.From);
    if (!from->Directory.empty())
    {
        CComBSTR dir{std::string_view(from->Directory)};
        const HRESULT hr = m_pClient->ChangeDir(dir);
        if (FAILED(hr))
            return FailClient(hr, from->Directory);
    }
    std::vector<Entry> entries;
    HRESULT hr = ListCurrentDirectory(from->Directory, &entries);
    if (FAILED(hr))
        return hr;
    std::vector<Entry> matches;
    for (const Entry& entry : entries)
        if (MatchesWildcard(from->Pattern, entry.Name) &&
            !(entry.IsDirectory && m_request.FilesOnly))
            matches.push_back(entry);
    if (matches.empty())
        return Fail(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                    "No file on " + m_request.Server + " matches " + m_request.From);

    bool bIntoDirectory = true;
    if (m_request.Function != kDelete)
    {
        const bool bWildcards = from->Pattern.find_first_of("*?") != std::string::npos;
        hr = PrepareDestination(matches, bWildcards, &bIntoDirectory);
        if (FAILED(hr))
            return hr;
    }
    for (const Entry& entry : matches)
    {
        const std::string local = bIntoDirectory ? Join(m_request.To, entry.Name) : m_request.To;
        hr = HandleEntry(entry, from->Directory, local);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CFileOperationRun::ListCurrentDirectory(const std::string& remotePath,
                                                std::vector<Entry>* pEntries)
{
    const std::string shown = remotePath.empty() ? std::string("the login directory") : remotePath;
    HRESULT hr = m_pClient->ReadCurrDir();
    if (FAILED(hr))
        return FailClient(hr, "Listing " + shown);
    LONG nCount = 0;
    m_pClient->GetFileCount32(&nCount);
    for (LONG i = 0; i < nCount; ++i)
    {
        Entry entry;
        BSTR name = nullptr;
        LONG bDirectory = 0;
        LONGLONG nSize = 0;
        m_pClient->GetEntryName(i, &name);
        m_pClient->GetEntrySize(i, &nSize);
        m_pClient->GetEntryIsDirectory(i, &bDirectory);
        entry.Name = NarrowFromBstr(name);
        SysFreeString(name);
        entry.Size = nSize;
        entry.IsDirectory = bDirectory != 0;
        // A line that is no entry (a long listing's "total") has no name; a name that can't be
        // a plain file name is no entry to act on either.
        if (IsPlainEntryName(entry.Name))
            pEntries->push_back(std::move(entry));
    }
    return S_OK;
}

HRESULT CFileOperationRun::PrepareDestination(const std::vector<Entry>& matches, bool bWildcards,
                                              bool* pbIntoDirectory)
{
    const std::string& to = m_request.To;
    // A pattern with wildcards always goes into a directory, however many files it matched, so
    // the outcome never depends on what the server happens to hold.
    const bool bSingleFile = matches.size() == 1 && !matches[0].IsDirectory && !bWildcards;
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
    if (m_progress && !m_progress(remotePath))
        return Fail(E_ABORT, "Cancelled before " + remotePath);
    if (m_request.Function == kDelete)
    {
        if (entry.IsDirectory)
            return DeleteTree(entry.Name, remotePath);
        CComBSTR name{std::string_view(entry.Name)};
        const HRESULT hr = m_pClient->DeleteFile(name);
        return FAILED(hr) ? FailClient(hr, remotePath) : S_OK;
    }
    return entry.IsDirectory ? TransferTree(entry, remotePath, localPath)
                             : TransferFile(entry, remotePath, localPath);
}

HRESULT CFileOperationRun::TransferFile(const Entry& entry, const std::string& remotePath,
                                        const std::string& localPath)
{
    // The download lands in a file of its own beside the target and takes the target's name
    // only when complete, so a failed one never damages a file that was there.
    std::string temp;
    if (!CreateBeside(localPath, &temp))
        return Fail(E_HANDLE, localPath + ": no file can be created beside it");
    CComBSTR remote{std::string_view(entry.Name)};
    CComBSTR local{std::string_view(temp)};
    HRESULT hr = m_pClient->ReadFile(remote, local);
    if (FAILED(hr))
    {
        ::unlink(temp.c_str());
        return FailClient(hr, remotePath);
    }
    struct stat st = {};
    const int64_t nGot = ::stat(temp.c_str(), &st) == 0 ? st.st_size : -1;
    if (m_request.Function == kMove && nGot != entry.Size)
    {
        ::unlink(temp.c_str());
        return Fail(E_FAIL, remotePath + ": " + std::to_string(nGot) + " of " +
                                std::to_string(entry.Size) +
                                " bytes arrived; the server's file is kept");
    }
    if (::rename(temp.c_str(), localPath.c_str()) != 0)
    {
        const int nError = errno;
        ::unlink(temp.c_str());
        return Fail(E_HANDLE, localPath + ": " + std::strerror(nError));
    }
    if (m_request.Function == kMove)
    {
        hr = m_pClient->DeleteFile(remote);
        if (FAILED(hr))
            return FailClient(hr, remotePath + " was copied but not deleted");
    }
    return S_OK;
}

HRESULT CFileOperationRun::TransferTree(const Entry& entry, const std::string& remotePath,
                                        const std::string& localPath)
{
    std::error_code error;
    fs::create_directory(localPath, error);
    if (error)
        return Fail(E_HANDLE, localPath + ": " + error.message());
    HRESULT hr = EnterDirectory(entry.Name, remotePath);
    if (FAILED(hr))
        return hr;
    std::vector<Entry> entries;
    hr = ListCurrentDirectory(remotePath, &entries);
    for (size_t i = 0; SUCCEEDED(hr) && i < entries.size(); ++i)
        hr = HandleEntry(entries[i], remotePath, Join(localPath, entries[i].Name));
    if (FAILED(hr))
        return hr;
    hr = LeaveDirectory(remotePath);
    if (FAILED(hr) || m_request.Function != kMove)
        return hr;
    CComBSTR name{std::string_view(entry.Name)};
    hr = m_pClient->DeleteDir(name);
    return FAILED(hr) ? FailClient(hr, remotePath + " was copied but not removed") : S_OK;
}

HRESULT CFileOperationRun::DeleteTree(const std::string& name, const std::string& remotePath)
{
    HRESULT hr = EnterDirectory(name, remotePath);
    if (FAILED(hr))
        return hr;
    std::vector<Entry> entries;
    hr = ListCurrentDirectory(remotePath, &entries);
    for (size_t i = 0; SUCCEEDED(hr) && i < entries.size(); ++i)
        hr = HandleEntry(entries[i], remotePath, std::string());
    if (FAILED(hr))
        return hr;
    hr = LeaveDirectory(remotePath);
    if (FAILED(hr))
        return hr;
    CComBSTR dir{std::string_view(name)};
    hr = m_pClient->DeleteDir(dir);
    return FAILED(hr) ? FailClient(hr, remotePath) : S_OK;
}

HRESULT CFileOperationRun::EnterDirectory(const std::string& name, const std::string& remotePath)
{
    if (m_nDepth >= kMaxTreeDepth)
        return Fail(E_FAIL, remotePath + ": more than " + std::to_string(kMaxTreeDepth) +
                                " directories deep");
    CComBSTR dir{std::string_view(name)};
    const HRESULT hr = m_pClient->ChangeDir(dir);
    if (FAILED(hr))
        return FailClient(hr, remotePath);
    ++m_nDepth;
    return S_OK;
}

HRESULT CFileOperationRun::LeaveDirectory(const std::string& remotePath)
{
    const HRESULT hr = m_pClient->ChangeDirUp();
    if (FAILED(hr))
        return FailClient(hr, "Leaving " + remotePath);
    --m_nDepth;
    return S_OK;
}

} // namespace lanvex
