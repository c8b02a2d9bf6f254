// lvFTPShellFile: the description of one file operation on an FTP server (copy, move or delete),
// edited by a user in the "FTP File Operation" dialog.
#pragma once

#include "lanvex/ftp/ftp_transfer.h"
#include "lanvex/ftp/shell_file_dialog.h"
#include "lanvex/ftp/text_property.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/extended_dispatch.h"

namespace lanvex
{

class lvFTPShellFile : public CExtendedDispatchImpl<IlvFTPShellFile2>, public CComponentObject
{
  public:
    static constexpr SHORT kCopy = 1;
    static constexpr SHORT kMove = 2;
    static constexpr SHORT kDelete = 3;

    lvFTPShellFile();
    ~lvFTPShellFile() override;

    LANVEX_IUNKNOWN_IMPL

    // IlvFTPShellFile
    STDMETHODIMP get_CreateDestDirectories(LONG* pVal) override;
    STDMETHODIMP put_CreateDestDirectories(LONG newVal) override;
    STDMETHODIMP get_FilesOnly(LONG* pVal) override;
    STDMETHODIMP put_FilesOnly(LONG newVal) override;
    STDMETHODIMP get_Function(SHORT* pVal) override;
    STDMETHODIMP put_Function(SHORT newVal) override;
    STDMETHODIMP get_ShowDialog(LONG* pVal) override;
    STDMETHODIMP put_ShowDialog(LONG newVal) override;
    STDMETHODIMP get_From(BSTR* pVal) override;
    STDMETHODIMP put_From(BSTR newVal) override;
    STDMETHODIMP get_To(BSTR* pVal) override;
    STDMETHODIMP put_To(BSTR newVal) override;
    STDMETHODIMP Configure() override;
    STDMETHODIMP Execute() override;
    STDMETHODIMP get_Server(BSTR* pVal) override;
    STDMETHODIMP put_Server(BSTR newVal) override;
    STDMETHODIMP get_Username(BSTR* pVal) override;
    STDMETHODIMP put_Username(BSTR newVal) override;
    STDMETHODIMP get_Password(BSTR* pVal) override;
    STDMETHODIMP put_Password(BSTR newVal) override;

    // IlvFTPShellFile2
    STDMETHODIMP get_DownloadLimit(LONGLONG* pVal) override;
    STDMETHODIMP put_DownloadLimit(LONGLONG newVal) override;
    STDMETHODIMP get_MinimumRate(LONG* pVal) override;
    STDMETHODIMP put_MinimumRate(LONG newVal) override;

  protected:
    IUnknown* GetInterface(REFIID riid) override;
    IUnknown* PrimaryInterface() override { return static_cast<IlvFTPShellFile*>(this); }

  private:
    CTextProperty m_server;
    CTextProperty m_username;
    CTextProperty m_password;
    CTextProperty m_from;
    CTextProperty m_to;
    LONG m_bShowDialog = 0;
    LONG m_bFilesOnly = 0;
    LONG m_bCreateDestDirectories = 1;
    SHORT m_nFunction = kCopy;
    LONGLONG m_nDownloadLimit = kDefaultDownloadLimit;
    LONG m_nMinimumRate = static_cast<LONG>(kDefaultFloorRate);
};

} // namespace lanvex
