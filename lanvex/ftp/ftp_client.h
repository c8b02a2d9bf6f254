// lvFTPClient: a scriptable FTP client (control session, passive transfers, listings).
#pragma once

#include "lanvex/ftp/ftp_control.h"
#include "lanvex/ftp/ftp_failure.h"
#include "lanvex/ftp/ftp_listing.h"
#include "lanvex/ftp/ftp_protocol.h"
#include "lanvex/ftp/ftp_transfer.h"
#include "lanvex/ftp/tls_ftp_session.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/extended_dispatch.h"
#include "lanvex/net/transport/tcp_connection.h"

#include "platform/com/bstr.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lanvex
{

class lvFTPClient : public CExtendedDispatchImpl<IlvFTPClient3>,
                    public ISupportErrorInfo,
                    public CComponentObject
{
  public:
    // Transfers move data in blocks of this size.
    static constexpr int kTransferBlock = CFtpTransfers::kBlock;
    // A listing larger than this is cut off as a failure.
    static constexpr size_t kMaxListing = size_t{256} << 20;
    // So are more entries than this: each takes some 170 bytes, a short line only a few.
    static constexpr size_t kMaxListingEntries = size_t{1} << 22;

    lvFTPClient();
    ~lvFTPClient() override;

    LANVEX_IUNKNOWN_IMPL

    // IlvFTPClient
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

    // IlvFTPClient2
    STDMETHODIMP GetFileCount32(LONG* pCount) override;
    STDMETHODIMP GetEntryName(LONG nId, BSTR* pName) override;
    STDMETHODIMP GetEntrySize(LONG nId, LONGLONG* pSize) override;
    STDMETHODIMP GetEntryIsDirectory(LONG nId, LONG* pIsDir) override;
    STDMETHODIMP get_LastReplyCode(LONG* pCode) override;
    STDMETHODIMP get_LastReplyText(BSTR* pText) override;

    // IlvFTPClient3 (tls_ftp_session.cpp)
    STDMETHODIMP get_Security(LONG* pVal) override;
    STDMETHODIMP put_Security(LONG newVal) override;
    STDMETHODIMP get_TlsVerify(LONG* pVal) override;
    STDMETHODIMP put_TlsVerify(LONG newVal) override;
    STDMETHODIMP get_TlsCaFile(BSTR* pVal) override;
    STDMETHODIMP put_TlsCaFile(BSTR newVal) override;
    STDMETHODIMP get_TlsPinnedSha256(BSTR* pVal) override;
    STDMETHODIMP put_TlsPinnedSha256(BSTR newVal) override;
    STDMETHODIMP get_TlsPeerFingerprint(BSTR* pVal) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // Through dispatch GetFileName's name buffer is a variant's few bytes, not the 43 the member
    // fills: that call is refused (scripts read names with GetEntryName).
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // How long one reply (or a silent data connection) may take; the transport's default.
    void SetTimeout(int nMilliseconds) { m_control.SetWait(nMilliseconds); }
    // A readable descriptor cancels whatever the client waits for, at once.
    void SetCancelDescriptor(int fd) { m_control.SetCancelDescriptor(fd); }
    // Called with the bytes moved so far during a transfer.
    void SetProgress(std::function<void(int64_t)> progress)
    {
        m_transfers.SetProgress(std::move(progress));
    }
    // The most a download of unknown size may bring, and the slowest rate any transfer's time
    // bound allows for.
    void SetDownloadLimit(int64_t nBytes) { m_nDownloadLimit = nBytes; }
    void SetFloorRate(int64_t nBytesPerSecond) { m_nFloorRate = nBytesPerSecond; }
    // A security layer's hook for the data connections.
    void SetDataStreamHook(FtpDataStreamHook hook)
    {
        m_transfers.SetDataStreamHook(std::move(hook));
    }
    CFtpControl& Control() { return m_control; }

    // RETR of remote name bytes into a local file created once the server agrees; with a listed
    // size (>= 0) the download must bring exactly that many bytes.
    HRESULT DownloadTo(const std::string& remote, const std::string& localPath,
                       int64_t nExpectedSize);
    // The long listing of the current directory, as the server sends it, into a local file.
    HRESULT ListTo(const std::string& localPath);

  protected:
    IUnknown* GetInterface(REFIID riid) override;
    IUnknown* PrimaryInterface() override { return static_cast<IlvFTPClient*>(this); }

  private:
    // Runs a method body under the one guard: what it throws becomes the result.
    template <class Body> HRESULT Guard(Body&& body)
    {
        return GuardFtp(CLSID_lvFTPClient, IID_IlvFTPClient, std::forward<Body>(body));
    }
    // The command line for a verb and an argument (unset: none); a line that cannot be sent is
    // thrown as E_INVALIDARG.
    static std::string Line(const char* pszVerb, const std::optional<std::string>& argument);
    HRESULT Simple(const char* pszVerb, BSTR argument);
    int64_t Retrieve(const std::string& line, const std::string& localPath,
                     const FtpTransferBounds& bounds);
    FtpTransferBounds Bounds(int64_t nExpectedSize) const;

    const FtpFileEntry* Entry(long nId) const;
    // The shared steps of every per-entry getter: a null out pointer, then an unknown entry.
    template <class Out, class Read> HRESULT ReadEntry(long nId, Out* pOut, Read read) const
    {
        if (pOut == nullptr)
            return E_POINTER;
        const FtpFileEntry* pEntry = Entry(nId);
        if (pEntry == nullptr)
            return E_INVALIDARG;
        return read(*pEntry, pOut);
    }

    CComBSTR m_bstrUsername;
    CComBSTR m_bstrPassword;
    CComBSTR m_bstrAddress;
    SHORT m_nPort = 21;
    SHORT m_nDataPort = 0;
    LONG m_bFileList = 1;
    BOOL m_bConnected = FALSE;
    int64_t m_nDownloadLimit = kDefaultDownloadLimit;
    int64_t m_nFloorRate = kDefaultFloorRate;
    CFtpTls m_tls; // before the control session, which it outlives
    CFtpControl m_control;
    CFtpTransfers m_transfers{m_control};
    std::vector<FtpFileEntry> m_files;
};

} // namespace lanvex
