// The file operation's servers by scheme, and the SFTP client behind the FTP client's interface.
#include "lanvex/ftp/sftp_file_client.h"

#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/sftp_listing.h"

#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/sessions/component_property.h"

#include "platform/com/conversion.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <strings.h>

namespace lanvex
{

namespace
{

CDispatchTypeInfo g_sftpTypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient);
CDispatchTypeInfo g_sftp2TypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient2);
constexpr DISPID kFirstClient2Dispid = 28;

bool TakeScheme(std::string_view& server, std::string_view scheme)
{
    if (server.size() < scheme.size() ||
        ::strncasecmp(server.data(), scheme.data(), scheme.size()) != 0)
        return false;
    server.remove_prefix(scheme.size());
    return true;
}

// lvFTPClient as the operation's client.
class CFtpOperationClient : public IFileOperationClient
{
  public:
    explicit CFtpOperationClient(lvFTPClient* pClient) : m_pClient(pClient) {}
    ~CFtpOperationClient() override { m_pClient->Release(); }
    IlvFTPClient2* Interface() override { return m_pClient; }
    void SetCancelDescriptor(int fd) override { m_pClient->SetCancelDescriptor(fd); }
    void SetDownloadLimit(int64_t nBytes) override { m_pClient->SetDownloadLimit(nBytes); }
    void SetFloorRate(int64_t nRate) override { m_pClient->SetFloorRate(nRate); }
    void SetProgress(std::function<void(int64_t)> progress) override
    {
        m_pClient->SetProgress(std::move(progress));
    }
    HRESULT ListTo(const std::string& localPath) override { return m_pClient->ListTo(localPath); }
    HRESULT DownloadTo(const std::string& remote, const std::string& localPath,
                       int64_t nExpectedSize) override
    {
        return m_pClient->DownloadTo(remote, localPath, nExpectedSize);
    }

  private:
    lvFTPClient* m_pClient;
};

class CSftpOperationClient : public IFileOperationClient
{
  public:
    explicit CSftpOperationClient(CSftpFileClient* pClient) : m_pClient(pClient) {}
    ~CSftpOperationClient() override { m_pClient->Release(); }
    IlvFTPClient2* Interface() override { return m_pClient; }
    void SetCancelDescriptor(int fd) override { m_pClient->Session().SetCancelDescriptor(fd); }
    void SetDownloadLimit(int64_t nBytes) override { m_pClient->SetDownloadLimit(nBytes); }
    void SetFloorRate(int64_t nRate) override { m_pClient->Session().SetFloorRate(nRate); }
    void SetProgress(std::function<void(int64_t)> progress) override
    {
        m_pClient->Session().SetProgress(std::move(progress));
    }
    HRESULT ListTo(const std::string& localPath) override { return m_pClient->ListTo(localPath); }
    HRESULT DownloadTo(const std::string& remote, const std::string& localPath,
                       int64_t nExpectedSize) override
    {
        return m_pClient->DownloadTo(remote, localPath, nExpectedSize);
    }

  private:
    CSftpFileClient* m_pClient;
};

} // namespace

HRESULT CreateFileOperationClient(const std::string& server,
                                  std::unique_ptr<IFileOperationClient>* pClient)
{
    const std::optional<FileServer> parsed = ParseFileServer(server);
    void* pv = nullptr;
    if (parsed && parsed->Kind == EFileServerKind::Sftp)
    {
        const HRESULT hr = CreateComponent<CSftpFileClient>(nullptr, IID_IlvFTPClient2, &pv);
        if (FAILED(hr))
            return hr;
        *pClient = std::make_unique<CSftpOperationClient>(
            static_cast<CSftpFileClient*>(static_cast<IlvFTPClient2*>(pv)));
        return S_OK;
    }
    const HRESULT hr = CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient3, &pv);
    if (FAILED(hr))
        return hr;
    auto* pFtp = static_cast<IlvFTPClient3*>(pv);
    // ftps:// is verified against the system's trust store (SSL_CERT_FILE works) and host name.
    if (parsed && parsed->Kind == EFileServerKind::Ftps)
        pFtp->put_Security(1);
    *pClient = std::make_unique<CFtpOperationClient>(static_cast<lvFTPClient*>(pFtp));
    return S_OK;
}

std::optional<FileServer> ParseFileServer(std::string_view server)
{
    FileServer result;
    if (TakeScheme(server, "ftps://"))
        result.Kind = EFileServerKind::Ftps;
    else if (TakeScheme(server, "sftp://"))
        result.Kind = EFileServerKind::Sftp, result.Port = 22;
    else if (TakeScheme(server, "ftp://"))
        result.Kind = EFileServerKind::Ftp;
    else if (server.find("://") != std::string_view::npos)
        return std::nullopt;
    if (!server.empty() && server.back() == '/')
        server.remove_suffix(1);
    const size_t nColon = server.find(':');
    result.Host = std::string(server.substr(0, nColon));
    if (result.Host.empty() || result.Host.find_first_of("/@ ") != std::string::npos)
        return std::nullopt;
    if (nColon == std::string_view::npos)
        return result;
    const std::string_view port = server.substr(nColon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), result.Port);
    if (ec != std::errc() || end != port.data() + port.size() || result.Port < 1 ||
        result.Port > 65535)
        return std::nullopt;
    return result;
}

CSftpFileClient::CSftpFileClient()
    : CExtendedDispatchImpl<IlvFTPClient2>(g_sftpTypeInfo, g_sftp2TypeInfo, kFirstClient2Dispid)
{
}

CSftpFileClient::~CSftpFileClient() = default;

IUnknown* CSftpFileClient::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvFTPClient) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvFTPClient*>(this);
    if (IsEqualIID(riid, IID_IlvFTPClient2))
        return static_cast<IlvFTPClient2*>(this);
    return nullptr;
}

HRESULT CSftpFileClient::Failed()
{
    const HRESULT hr = m_session.IsConnected() ? E_ABORT : E_FAIL;
    return ReportComponentError(hr, CLSID_lvFTPShellFile, IID_IlvFTPShellFile, m_session.Failure());
}

std::string CSftpFileClient::Resolve(BSTR name) const
{
    const std::string text = NarrowFromBstr(name);
    if (m_cwd.empty() || (!text.empty() && text[0] == '/'))
        return text;
    return m_cwd.back() == '/' ? m_cwd + text : m_cwd + "/" + text;
}

// Properties.

HRESULT CSftpFileClient::get_Username(BSTR* pVal)
{
    return GetTextProperty(m_bstrUsername, pVal);
}
HRESULT CSftpFileClient::put_Username(BSTR newVal)
{
    return PutTextProperty(m_bstrUsername, newVal);
}
HRESULT CSftpFileClient::get_Password(BSTR* pVal)
{
    return GetTextProperty(m_bstrPassword, pVal);
}
HRESULT CSftpFileClient::put_Password(BSTR newVal)
{
    return PutTextProperty(m_bstrPassword, newVal);
}
HRESULT CSftpFileClient::get_Address(BSTR* pVal)
{
    return GetTextProperty(m_bstrAddress, pVal);
}
HRESULT CSftpFileClient::put_Address(BSTR newVal)
{
    return PutTextProperty(m_bstrAddress, newVal);
}
HRESULT CSftpFileClient::get_Port(SHORT* pVal)
{
    return GetValueProperty(m_nPort, pVal);
}
HRESULT CSftpFileClient::put_Port(SHORT newVal)
{
    return PutValueProperty(m_nPort, newVal);
}
HRESULT CSftpFileClient::get_FileList(LONG* pVal)
{
    return GetValueProperty(m_bFileList, pVal);
}
HRESULT CSftpFileClient::put_FileList(LONG newVal)
{
    return PutValueProperty(m_bFileList, newVal);
}

// FTP's own settings mean nothing here.
HRESULT CSftpFileClient::get_DataPort(SHORT* pVal)
{
    return GetValueProperty(SHORT{0}, pVal);
}
HRESULT CSftpFileClient::put_DataPort(SHORT)
{
    return S_OK;
}
HRESULT CSftpFileClient::SetPassive()
{
    return S_OK;
}
HRESULT CSftpFileClient::SetType(LONG)
{
    return S_OK;
} // always binary
HRESULT CSftpFileClient::get_LastReplyCode(LONG* pCode)
{
    return GetValueProperty(LONG{0}, pCode);
}

HRESULT CSftpFileClient::get_LastReplyText(BSTR* pText)
{
    return GetTextProperty(CComBSTR(), pText);
}

// Session.

HRESULT CSftpFileClient::Connect()
{
    m_cwd.clear();
    m_entries.clear();
    // The port is sign-extended; its low 16 bits count.
    if (!m_session.Connect(NarrowFromBstr(m_bstrAddress), static_cast<uint16_t>(m_nPort),
                           NarrowFromBstr(m_bstrUsername), NarrowFromBstr(m_bstrPassword)))
        return ReportComponentError(E_FAIL, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    m_session.Failure());
    return S_OK;
}

HRESULT CSftpFileClient::Disconnect()
{
    m_session.Disconnect();
    return S_OK;
}

HRESULT CSftpFileClient::IsConnected()
{
    return m_session.IsConnected() ? S_OK : S_FALSE;
}

HRESULT CSftpFileClient::KeepLive()
{
    return m_session.IsConnected() ? S_OK : E_FAIL;
}

HRESULT CSftpFileClient::ChangeDir(BSTR bstrDir)
{
    const std::string path = Resolve(bstrDir);
    if (!m_session.IsDirectory(path))
        return Failed();
    m_cwd = path;
    return S_OK;
}

HRESULT CSftpFileClient::ChangeDirUp()
{
    // Only where the operation itself went down; above the login directory it is "..".
    const size_t nSlash = m_cwd.find_last_of('/');
    const std::string last = nSlash == std::string::npos ? m_cwd : m_cwd.substr(nSlash + 1);
    if (m_cwd.empty() || last == "..")
        m_cwd = m_cwd.empty() ? ".." : m_cwd + "/..";
    else if (nSlash == std::string::npos)
        m_cwd.clear();
    else
        m_cwd.erase(nSlash == 0 ? 1 : nSlash);
    return S_OK;
}

HRESULT CSftpFileClient::CreateDir(BSTR bstrDir)
{
    return m_session.MakeDirectory(Resolve(bstrDir)) ? S_OK : Failed();
}

HRESULT CSftpFileClient::DeleteFile(BSTR bstrFile)
{
    return m_session.Remove(Resolve(bstrFile)) ? S_OK : Failed();
}

HRESULT CSftpFileClient::DeleteDir(BSTR bstrDir)
{
    return m_session.RemoveDirectory(Resolve(bstrDir)) ? S_OK : Failed();
}

HRESULT CSftpFileClient::RenameFile(BSTR oldFile, BSTR newFile)
{
    return m_session.Rename(Resolve(oldFile), Resolve(newFile)) ? S_OK : Failed();
}

// Transfers.

HRESULT CSftpFileClient::ReadFile(BSTR bstrRemoteFile, BSTR bstrLocalFile)
{
    const std::string local = NarrowFromBstr(bstrLocalFile);
    FILE* pLocal = nullptr;
    int64_t nBytes = 0;
    const bool bOk = m_session.Download(
        Resolve(bstrRemoteFile), [&] { return pLocal = std::fopen(local.c_str(), "wb"); },
        m_nDownloadLimit, &nBytes);
    const bool bClosed = pLocal == nullptr || std::fclose(pLocal) == 0;
    if (!bOk)
        return pLocal == nullptr && m_session.IsConnected() &&
                       m_session.Failure() == "The local file could not be created"
                   ? ReportComponentError(E_HANDLE, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                          m_session.Failure())
                   : Failed();
    if (!bClosed)
        return ReportComponentError(E_FAIL, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    "The local file could not be written");
    return S_OK;
}

HRESULT CSftpFileClient::WriteFile(BSTR bstrLocalFile, BSTR bstrRemoteFile)
{
    FILE* pLocal = std::fopen(NarrowFromBstr(bstrLocalFile).c_str(), "rb");
    if (pLocal == nullptr)
        return ReportComponentError(E_HANDLE, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    "The local file could not be opened");
    const bool bOk = m_session.Upload(pLocal, Resolve(bstrRemoteFile));
    std::fclose(pLocal);
    return bOk ? S_OK : Failed();
}

HRESULT CSftpFileClient::ReadCurrDir()
{
    m_entries.clear();
    return m_session.List(m_cwd, &m_entries, kMaxEntries) ? S_OK : Failed();
}

// The file operation's steps.

HRESULT CSftpFileClient::ListTo(const std::string& localPath)
{
    m_entries.clear();
    if (!m_session.List(m_cwd, &m_entries, kMaxEntries))
        return Failed();
    // The form a Unix FTP server lists in, so that one reader takes both.
    FILE* pFile = std::fopen(localPath.c_str(), "wb");
    if (pFile == nullptr)
        return ReportComponentError(E_HANDLE, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    "The listing could not be kept in " + localPath);
    bool bOk = true;
    for (const CSftpSession::Entry& entry : m_entries)
        if (const std::optional<std::string> line =
                SftpListingLine(entry.Name, entry.Size, entry.IsDirectory))
            bOk = bOk && std::fwrite(line->data(), 1, line->size(), pFile) == line->size();
    m_entries.clear(); // the file holds them; memory stays small however large the directory
    if (std::fclose(pFile) != 0 || !bOk)
        return ReportComponentError(E_FAIL, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    "The listing could not be written to " + localPath);
    return S_OK;
}

HRESULT CSftpFileClient::DownloadTo(const std::string& remote, const std::string& localPath,
                                    int64_t nExpectedSize)
{
    FILE* pLocal = nullptr;
    int64_t nBytes = 0;
    const std::string path = Resolve(CComBSTR(NarrowToWide(remote).c_str()));
    const bool bOk = m_session.Download(
        path, [&] { return pLocal = std::fopen(localPath.c_str(), "wb"); },
        nExpectedSize >= 0 ? nExpectedSize : m_nDownloadLimit, &nBytes);
    const bool bClosed = pLocal == nullptr || std::fclose(pLocal) == 0;
    if (!bOk)
        return Failed();
    if (!bClosed)
        return ReportComponentError(E_FAIL, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    "The local file could not be written");
    if (nExpectedSize >= 0 && nBytes != nExpectedSize)
        return ReportComponentError(E_FAIL, CLSID_lvFTPShellFile, IID_IlvFTPShellFile,
                                    std::to_string(nBytes) + " of the " +
                                        std::to_string(nExpectedSize) +
                                        " bytes listed arrived; the transfer is incomplete");
    return S_OK;
}

// The listing.

const CSftpSession::Entry* CSftpFileClient::Entry(LONG nId) const
{
    return nId >= 0 && static_cast<size_t>(nId) < m_entries.size()
               ? &m_entries[static_cast<size_t>(nId)]
               : nullptr;
}

HRESULT CSftpFileClient::GetFileCount(SHORT* pCount)
{
    return GetValueProperty(static_cast<SHORT>(m_entries.size() & 0xFFFF), pCount);
}

HRESULT CSftpFileClient::GetFileCount32(LONG* pCount)
{
    return GetValueProperty(static_cast<LONG>(std::min<size_t>(m_entries.size(), INT32_MAX)),
                            pCount);
}

HRESULT CSftpFileClient::GetFileName(char* lpFileName, SHORT nId)
{
    // The historical 43-byte buffer: the name is cut there, never split inside a character.
    const CSftpSession::Entry* pEntry = Entry(nId);
    if (lpFileName == nullptr)
        return E_POINTER;
    if (pEntry == nullptr)
        return E_INVALIDARG;
    size_t nLength = std::min<size_t>(pEntry->Name.size(), 42);
    while (nLength > 0 && nLength < pEntry->Name.size() &&
           (static_cast<unsigned char>(pEntry->Name[nLength]) & 0xC0) == 0x80)
        --nLength;
    std::memcpy(lpFileName, pEntry->Name.data(), nLength);
    lpFileName[nLength] = '\0';
    return S_OK;
}

HRESULT CSftpFileClient::GetFileSize(SHORT* pSize, SHORT nId)
{
    const CSftpSession::Entry* pEntry = Entry(nId);
    if (pSize == nullptr)
        return E_POINTER;
    if (pEntry == nullptr)
        return E_INVALIDARG;
    *pSize = static_cast<SHORT>(static_cast<uint16_t>(pEntry->Size & 0xFFFF));
    return S_OK;
}

HRESULT CSftpFileClient::GetEntryName(LONG nId, BSTR* pName)
{
    if (pName == nullptr)
        return E_POINTER;
    *pName = nullptr;
    const CSftpSession::Entry* pEntry = Entry(nId);
    if (pEntry == nullptr)
        return E_INVALIDARG;
    const std::u16string wide = NarrowToWide(pEntry->Name);
    *pName = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pName != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CSftpFileClient::GetEntrySize(LONG nId, LONGLONG* pSize)
{
    const CSftpSession::Entry* pEntry = Entry(nId);
    if (pSize == nullptr)
        return E_POINTER;
    return pEntry == nullptr ? E_INVALIDARG : (*pSize = pEntry->Size, S_OK);
}

HRESULT CSftpFileClient::GetEntryIsDirectory(LONG nId, LONG* pIsDir)
{
    const CSftpSession::Entry* pEntry = Entry(nId);
    if (pIsDir == nullptr)
        return E_POINTER;
    return pEntry == nullptr ? E_INVALIDARG : (*pIsDir = pEntry->IsDirectory ? 1 : 0, S_OK);
}

} // namespace lanvex
