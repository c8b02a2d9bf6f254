// lvFTPShellFile: the description of one file operation on an FTP server (copy, move or delete),
// edited by a user in the "FTP File Operation" dialog.
#include "lanvex/ftp/shell_file.h"

#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/sftp_file_client.h"
#include "lanvex/ftp/shell_file_execute.h"
#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/sessions/component_property.h"

#include "platform/com/error_info.h"

namespace lanvex
{

namespace
{

CDispatchTypeInfo g_shellFileTypeInfo(LIBID_LANVEXLib, IID_IlvFTPShellFile);
CDispatchTypeInfo g_shellFile2TypeInfo(LIBID_LANVEXLib, IID_IlvFTPShellFile2);
constexpr DISPID kFirstShellFile2Dispid = 12;

} // namespace

lvFTPShellFile::lvFTPShellFile()
    : CExtendedDispatchImpl<IlvFTPShellFile2>(g_shellFileTypeInfo, g_shellFile2TypeInfo,
                                              kFirstShellFile2Dispid)
{
}

lvFTPShellFile::~lvFTPShellFile() = default;

IUnknown* lvFTPShellFile::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvFTPShellFile) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvFTPShellFile*>(this);
    if (IsEqualIID(riid, IID_IlvFTPShellFile2))
        return static_cast<IlvFTPShellFile2*>(this);
    return nullptr;
}

// Number properties are stored without checks.

HRESULT lvFTPShellFile::get_CreateDestDirectories(LONG* pVal)
{
    return GetValueProperty(m_bCreateDestDirectories, pVal);
}

HRESULT lvFTPShellFile::put_CreateDestDirectories(LONG newVal)
{
    return PutValueProperty(m_bCreateDestDirectories, newVal);
}

HRESULT lvFTPShellFile::get_FilesOnly(LONG* pVal)
{
    return GetValueProperty(m_bFilesOnly, pVal);
}

HRESULT lvFTPShellFile::put_FilesOnly(LONG newVal)
{
    return PutValueProperty(m_bFilesOnly, newVal);
}

HRESULT lvFTPShellFile::get_Function(SHORT* pVal)
{
    return GetValueProperty(m_nFunction, pVal);
}

HRESULT lvFTPShellFile::put_Function(SHORT newVal)
{
    return PutValueProperty(m_nFunction, newVal);
}

HRESULT lvFTPShellFile::get_ShowDialog(LONG* pVal)
{
    return GetValueProperty(m_bShowDialog, pVal);
}

HRESULT lvFTPShellFile::put_ShowDialog(LONG newVal)
{
    return PutValueProperty(m_bShowDialog, newVal);
}

HRESULT lvFTPShellFile::get_DownloadLimit(LONGLONG* pVal)
{
    return GetValueProperty(m_nDownloadLimit, pVal);
}

HRESULT lvFTPShellFile::put_DownloadLimit(LONGLONG newVal)
{
    return PutValueProperty(m_nDownloadLimit, newVal);
}

HRESULT lvFTPShellFile::get_MinimumRate(LONG* pVal)
{
    return GetValueProperty(m_nMinimumRate, pVal);
}

HRESULT lvFTPShellFile::put_MinimumRate(LONG newVal)
{
    return PutValueProperty(m_nMinimumRate, newVal);
}

// Text properties.

HRESULT lvFTPShellFile::get_From(BSTR* pVal)
{
    return m_from.Get(pVal);
}

HRESULT lvFTPShellFile::put_From(BSTR newVal)
{
    return m_from.Put(newVal);
}

HRESULT lvFTPShellFile::get_To(BSTR* pVal)
{
    return m_to.Get(pVal);
}

HRESULT lvFTPShellFile::put_To(BSTR newVal)
{
    return m_to.Put(newVal);
}

HRESULT lvFTPShellFile::get_Server(BSTR* pVal)
{
    return m_server.Get(pVal);
}

HRESULT lvFTPShellFile::put_Server(BSTR newVal)
{
    return m_server.Put(newVal);
}

HRESULT lvFTPShellFile::get_Username(BSTR* pVal)
{
    return m_username.Get(pVal);
}

HRESULT lvFTPShellFile::put_Username(BSTR newVal)
{
    return m_username.Put(newVal);
}

HRESULT lvFTPShellFile::get_Password(BSTR* pVal)
{
    return m_password.Get(pVal);
}

HRESULT lvFTPShellFile::put_Password(BSTR newVal)
{
    return m_password.Put(newVal);
}

// Operations.

HRESULT lvFTPShellFile::Configure()
{
    FileOperationFields fields;
    fields.Server = m_server.View();
    fields.Username = m_username.View();
    fields.Password = m_password.View();
    fields.From = m_from.View();
    fields.To = m_to.View();
    fields.ShowDialog = m_bShowDialog;
    fields.FilesOnly = m_bFilesOnly;
    fields.CreateDestDirectories = m_bCreateDestDirectories;
    fields.Function = m_nFunction;
    const HRESULT hr = RunFileOperationDialog(fields);
    if (hr != S_OK)
        return hr; // Cancel, or no dialog here: nothing changes
    m_from.Assign(fields.From);
    m_to.Assign(fields.To);
    m_bShowDialog = fields.ShowDialog;
    m_bFilesOnly = fields.FilesOnly;
    m_bCreateDestDirectories = fields.CreateDestDirectories;
    m_nFunction = fields.Function;
    m_server.Assign(fields.Server);
    m_username.Assign(fields.Username);
    m_password.Assign(fields.Password);
    return S_OK;
}

HRESULT lvFTPShellFile::Execute()
{
    FileOperationRequest request;
    request.Server = m_server.Narrow();
    request.Username = std::u16string(m_username.View());
    request.Password = std::u16string(m_password.View());
    request.From = m_from.Narrow();
    request.To = m_to.Narrow();
    request.Function = m_nFunction;
    request.FilesOnly = m_bFilesOnly != 0;
    request.CreateDestDirectories = m_bCreateDestDirectories != 0;
    request.DownloadLimit = m_nDownloadLimit;
    request.MinimumRate = m_nMinimumRate;
    std::string failure;
    HRESULT hr = S_OK;
    try
    {
        CFileOperationStatus status;
        CFileOperationProgress progress(m_bShowDialog != 0);
        // The run may go to a thread of its own (the window stays responsive): everything it
        // needs, the client included, is made there.
        hr = progress.Run(status,
                          [&]
                          {
                              // FTP, FTPS or SFTP, as Server says.
                              std::unique_ptr<IFileOperationClient> pClient;
                              HRESULT hrRun = CreateFileOperationClient(request.Server, &pClient);
                              if (FAILED(hrRun))
                                  return failure = "The client could not be created", hrRun;
                              CFileOperationRun run(pClient.get(), request, status);
                              hrRun = run.Run();
                              failure = run.Failure();
                              return hrRun;
                          });
    }
    catch (const std::bad_alloc&)
    {
        hr = E_OUTOFMEMORY;
        failure = "Out of memory";
    }
    catch (...)
    {
        hr = E_UNEXPECTED; // no exception leaves a component
        failure = "Unexpected failure";
    }
    if (FAILED(hr))
        return ReportComponentError(hr, CLSID_lvFTPShellFile, IID_IlvFTPShellFile, failure);
    SetErrorInfo(0, nullptr); // nothing left over from the client's steps
    return hr;
}

} // namespace lanvex
