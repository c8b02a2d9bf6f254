// lvFTPClient: a scriptable FTP client (control session, passive transfers, listings).
#pragma once

#include "lanvex/ftp/ftp_listing.h"
#include "lanvex/ftp/ftp_protocol.h"
#include "lanvex/net/component_object.h"
#include "lanvex/net/extended_dispatch.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/tcp_connection.h"

#include "platform/com/bstr.h"

#include <cstdio>
#include <string>
#include <vector>

namespace lanvex
{

class lvFTPClient : public CExtendedDispatchImpl<IlvFTPClient2>,
                    public ISupportErrorInfo,
                    public CComponentObject
{
public:
    // Transfers move data in blocks of this size.
    static constexpr int kTransferBlock = 10512;
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

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // Through dispatch GetFileName's name buffer is a variant's few bytes, not the 43 the member
    // fills: that call is refused (scripts read names with GetEntryName).
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // How long one reply (or a silent data connection) may take; the transport's default.
    void SetTimeout(int nMilliseconds) { m_nTimeout = nMilliseconds; }

protected:
    IUnknown* GetInterface(REFIID riid) override;
    IUnknown* PrimaryInterface() override { return static_cast<IlvFTPClient*>(this); }

private:
    // Builds, sends and judges one command; an argument that cannot go on the line is refused.
    HRESULT Command(const char* pszVerb);
    HRESULT Command(const char* pszVerb, BSTR argument);
    HRESULT CommandLine(const char* pLine, size_t nLength);
    // Reads the next whole reply into m_lastReply; S_OK, or E_FAIL (reported) when none came.
    HRESULT ReadReply();
    // The result of the reply just read: E_ABORT with the reply text for a refusal, else S_OK.
    HRESULT JudgeReply();
    HRESULT Fail(HRESULT hr, const std::string& description);
    HRESULT RefuseLine(FtpLineResult result);
    void DropControl();

    // Opens the data connection, sends the transfer's command and reads its first reply.
    HRESULT StartTransfer(CTcpConnection& data, const char* pLine, size_t nLength,
                          bool* pFinished);
    // Reads the completion reply (unless the first one already finished the transfer).
    HRESULT FinishTransfer(bool bFinished);
    HRESULT ReceiveData(CTcpConnection& data, FILE* pLocal, std::string* pListing);
    HRESULT SendData(CTcpConnection& data, FILE* pLocal);
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
    int m_nTimeout = static_cast<int>(CTcpConnection::kDefaultTimeout);
    CTcpConnection m_control;
    CFtpReplyReader m_reader;
    FtpReply m_lastReply;
    std::string m_lastCode;
    std::string m_lastText;
    std::vector<FtpFileEntry> m_files;
};

} // namespace lanvex
