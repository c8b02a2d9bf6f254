// The file operation's servers: which protocol a Server names ("host[:port]" FTP,
// "ftps://host[:port]" FTP with explicit TLS, "sftp://host[:port]" SFTP), what the operation asks
// of a server's client, and an SFTP client behind the FTP client's interface, so that copy, move
// and delete run the same steps (and keep the same bounds and data-loss rules) over all three.
#pragma once

#include "lanvex/ftp/sftp_session.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/extended_dispatch.h"

#include "platform/com/bstr.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

enum class EFileServerKind
{
    Ftp,
    Ftps,
    Sftp,
};

struct FileServer
{
    EFileServerKind Kind = EFileServerKind::Ftp;
    std::string Host;
    int Port = 21; // 21, or 22 for sftp:// when left out
};

// No value for an unknown scheme, an empty host, a port outside 1 to 65535, or a path after the
// host (the From property names files).
std::optional<FileServer> ParseFileServer(std::string_view server);

// What a file operation asks of its server's client beyond IlvFTPClient2 (lvFTPClient's own
// members, which the SFTP client offers too).
class IFileOperationClient
{
  public:
    virtual ~IFileOperationClient() = default;
    virtual IlvFTPClient2* Interface() = 0;
    virtual void SetCancelDescriptor(int fd) = 0;
    virtual void SetDownloadLimit(int64_t nBytes) = 0;
    virtual void SetFloorRate(int64_t nBytesPerSecond) = 0;
    virtual void SetProgress(std::function<void(int64_t)> progress) = 0;
    // The long listing of the current directory, one "ls -l" line an entry, into a local file.
    virtual HRESULT ListTo(const std::string& localPath) = 0;
    // remote into a local file made once the server agrees; with a listed size (>= 0) exactly
    // that many bytes must arrive.
    virtual HRESULT DownloadTo(const std::string& remote, const std::string& localPath,
                               int64_t nExpectedSize) = 0;
};

// The client for server (an unreadable Server gets the FTP client, whose run then says why):
// lvFTPClient, with verified explicit TLS for ftps://, or the SFTP client.
HRESULT CreateFileOperationClient(const std::string& server,
                                  std::unique_ptr<IFileOperationClient>* pClient);

// Not registered and not creatable by clients: the file operation makes one for an sftp://
// Server. Names are paths relative to the login directory unless they start with a slash.
class CSftpFileClient : public CExtendedDispatchImpl<IlvFTPClient2>, public CComponentObject
{
  public:
    // Downloads larger than this fail (no listing size to go by here).
    static constexpr int64_t kMaxDownload = int64_t{64} << 30;
    static constexpr size_t kMaxEntries = size_t{1} << 22;

    CSftpFileClient();
    ~CSftpFileClient() override;

    LANVEX_IUNKNOWN_IMPL

    STDMETHODIMP get_Username(BSTR* pVal) override;
    STDMETHODIMP put_Username(BSTR newVal) override;
    STDMETHODIMP get_Password(BSTR* pVal) override;
    STDMETHODIMP put_Password(BSTR newVal) override;
    STDMETHODIMP get_Address(BSTR* pVal) override;
    STDMETHODIMP put_Address(BSTR newVal) override;
    STDMETHODIMP Connect() override;
    STDMETHODIMP get_Port(SHORT* pVal) override;
    STDMETHODIMP put_Port(SHORT newVal) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ChangeDir(BSTR bstrDir) override;
    STDMETHODIMP CreateDir(BSTR bstrDir) override;
    STDMETHODIMP ChangeDirUp() override;
    STDMETHODIMP KeepLive() override;
    STDMETHODIMP DeleteFile(BSTR bstrFile) override;
    STDMETHODIMP DeleteDir(BSTR bstrDir) override;
    STDMETHODIMP RenameFile(BSTR oldFile, BSTR newFile) override;
    STDMETHODIMP get_DataPort(SHORT* pVal) override;
    STDMETHODIMP put_DataPort(SHORT newVal) override;
    STDMETHODIMP SetPassive() override;
    STDMETHODIMP SetType(LONG bbinary) override;
    STDMETHODIMP WriteFile(BSTR bstrLocalFile, BSTR bstrRemoteFile) override;
    STDMETHODIMP ReadFile(BSTR bstrRemoteFile, BSTR bstrLocalFile) override;
    STDMETHODIMP ReadCurrDir() override;
    STDMETHODIMP GetFileCount(SHORT* pCount) override;
    STDMETHODIMP GetFileName(char* lpFileName, SHORT nId) override;
    STDMETHODIMP GetFileSize(SHORT* pSize, SHORT nId) override;
    STDMETHODIMP IsConnected() override;
    STDMETHODIMP get_FileList(LONG* pVal) override;
    STDMETHODIMP put_FileList(LONG newVal) override;
    STDMETHODIMP GetFileCount32(LONG* pCount) override;
    STDMETHODIMP GetEntryName(LONG nId, BSTR* pName) override;
    STDMETHODIMP GetEntrySize(LONG nId, LONGLONG* pSize) override;
    STDMETHODIMP GetEntryIsDirectory(LONG nId, LONG* pIsDir) override;
    STDMETHODIMP get_LastReplyCode(LONG* pCode) override;
    STDMETHODIMP get_LastReplyText(BSTR* pText) override;

    CSftpSession& Session() { return m_session; }
    // The file operation's own steps (IFileOperationClient).
    HRESULT ListTo(const std::string& localPath);
    HRESULT DownloadTo(const std::string& remote, const std::string& localPath,
                       int64_t nExpectedSize);
    void SetDownloadLimit(int64_t nBytes) { m_nDownloadLimit = nBytes; }

  protected:
    IUnknown* GetInterface(REFIID riid) override;
    IUnknown* PrimaryInterface() override { return static_cast<IlvFTPClient*>(this); }

  private:
    // The path of name from the current directory.
    std::string Resolve(BSTR name) const;
    // The session's failure as the error object: E_ABORT when the server refused and the
    // session stands, E_FAIL when it is gone.
    HRESULT Failed();
    const CSftpSession::Entry* Entry(LONG nId) const;

    CComBSTR m_bstrUsername, m_bstrPassword, m_bstrAddress;
    SHORT m_nPort = 22;
    int64_t m_nDownloadLimit = kMaxDownload;
    LONG m_bFileList = 1;
    std::string m_cwd; // empty: the login directory
    CSftpSession m_session;
    std::vector<CSftpSession::Entry> m_entries;
};

} // namespace lanvex
