// lvFTPClient: a scriptable FTP client (control session, passive transfers, listings).
#include "lanvex/ftp/ftp_client.h"

#include "lanvex/net/sessions/component_error.h"
#include "lanvex/net/sessions/component_property.h"
#include "lanvex/net/transport/wire_text.h"

#include "platform/com/conversion.h"
#include "platform/com/text_helpers.h"

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace lanvex
{

namespace
{

// The members of IlvFTPClient, and those IlvFTPClient2 adds, by name and DISPID.
CDispatchTypeInfo g_clientTypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient);
CDispatchTypeInfo g_client2TypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient2);
CDispatchTypeInfo g_client3TypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient3);
constexpr DISPID kFirstClient3Dispid = 34;
constexpr DISPID kFirstClient2Dispid = 28;

// The bytes a text stands for (names travel as bytes, valid UTF-8 or not); an unset text has
// none.
std::optional<std::string> Narrow(BSTR text)
{
    return TextIfSet(text, WideToWireText);
}

struct CFileCloser
{
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};
using CLocalFile = std::unique_ptr<FILE, CFileCloser>;

// The local side of a transfer goes through a large stream buffer, so that the network's small
// blocks do not each become a file system call.
constexpr size_t kLocalBuffer = size_t{1} << 20;

CLocalFile OpenLocal(const std::string& name, const char* pszMode)
{
    CLocalFile file(std::fopen(name.c_str(), pszMode));
    if (file)
        std::setvbuf(file.get(), nullptr, _IOFBF, kLocalBuffer);
    return file;
}

} // namespace

lvFTPClient::lvFTPClient()
    : CExtendedDispatchImpl<IlvFTPClient3>(g_clientTypeInfo, g_client2TypeInfo, kFirstClient2Dispid,
                                           &g_client3TypeInfo, kFirstClient3Dispid)
{
}

lvFTPClient::~lvFTPClient()
{
    // No QUIT: a client going away just drops the control connection.
    m_control.Drop();
}

IUnknown* lvFTPClient::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvFTPClient) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvFTPClient*>(this);
    if (IsEqualIID(riid, IID_IlvFTPClient2))
        return static_cast<IlvFTPClient2*>(this);
    if (IsEqualIID(riid, IID_IlvFTPClient3))
        return static_cast<IlvFTPClient3*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

// Properties.

HRESULT lvFTPClient::get_Username(BSTR* pVal)
{
    return GetTextProperty(m_bstrUsername, pVal);
}

HRESULT lvFTPClient::put_Username(BSTR newVal)
{
    return PutTextProperty(m_bstrUsername, newVal);
}

HRESULT lvFTPClient::get_Password(BSTR* pVal)
{
    return GetTextProperty(m_bstrPassword, pVal);
}

HRESULT lvFTPClient::put_Password(BSTR newVal)
{
    return PutTextProperty(m_bstrPassword, newVal);
}

HRESULT lvFTPClient::get_Address(BSTR* pVal)
{
    return GetTextProperty(m_bstrAddress, pVal);
}

HRESULT lvFTPClient::put_Address(BSTR newVal)
{
    return PutTextProperty(m_bstrAddress, newVal);
}

HRESULT lvFTPClient::get_Port(SHORT* pVal)
{
    return GetValueProperty(m_nPort, pVal);
}

HRESULT lvFTPClient::put_Port(SHORT newVal)
{
    return PutValueProperty(m_nPort, newVal);
}

HRESULT lvFTPClient::get_DataPort(SHORT* pVal)
{
    return GetValueProperty(m_nDataPort, pVal);
}

HRESULT lvFTPClient::put_DataPort(SHORT newVal)
{
    return PutValueProperty(m_nDataPort, newVal);
}

HRESULT lvFTPClient::get_FileList(LONG* pVal)
{
    return GetValueProperty(m_bFileList, pVal);
}

HRESULT lvFTPClient::put_FileList(LONG newVal)
{
    return PutValueProperty(m_bFileList, newVal);
}

// Commands.

std::string lvFTPClient::Line(const char* pszVerb, const std::optional<std::string>& argument)
{
    char line[kFtpCommandCapacity];
    size_t nLength = 0;
    const FtpLineResult built = BuildFtpCommandLine(
        pszVerb, argument ? std::optional<std::string_view>(*argument) : std::nullopt, line,
        sizeof line, &nLength);
    if (built == FtpLineResult::TooLong)
        ThrowFtp(E_INVALIDARG, "The argument is too long for a command line; nothing was sent");
    if (built != FtpLineResult::Ok)
        ThrowFtp(E_INVALIDARG, "The argument holds a line end or a zero character; nothing was "
                               "sent");
    return std::string(line, nLength);
}

HRESULT lvFTPClient::Simple(const char* pszVerb, BSTR argument)
{
    return Guard(
        [&]
        {
            // An unset text goes out as an empty argument; the server answers it.
            m_control.Require(Line(pszVerb, Narrow(argument).value_or(std::string())));
            return S_OK;
        });
}

HRESULT lvFTPClient::Connect()
{
    return Guard(
        [&]
        {
            m_bConnected = FALSE; // the old connection goes whatever happens
            const std::optional<std::string> address = Narrow(m_bstrAddress);
            m_tls.Open(m_control, m_transfers, address, m_nPort); // plain unless Security says
            m_transfers.SetHost(address);
            const std::string user = Line("USER", Narrow(m_bstrUsername).value_or(""));
            const std::string pass = Line("PASS", Narrow(m_bstrPassword).value_or(""));
            // A positive reply to USER, logged in or not, is followed by PASS.
            const FtpReply& userReply = m_control.Command(user);
            if (userReply.IsRefusal())
                ThrowFtp(E_FAIL, userReply.Text());
            const FtpReply& passReply = m_control.Command(pass, "PASS");
            // Only a completion logs in: a refusal or another question is no session.
            if (!passReply.IsCompletion())
                ThrowFtp(E_FAIL, passReply.IsRefusal()
                                     ? passReply.Text()
                                     : "The server did not accept the login: " + passReply.Code() +
                                           " " + passReply.Text());
            m_bConnected = TRUE;
            return S_OK;
        });
}

HRESULT lvFTPClient::Disconnect()
{
    m_bConnected = FALSE;
    return Guard(
        [&]
        {
            struct CDrop
            {
                CFtpControl& Control;
                ~CDrop() { Control.Drop(); }
            } drop{m_control};
            m_control.Require("QUIT\n");
            return S_OK;
        });
}

HRESULT lvFTPClient::IsConnected()
{
    // A connection the component dropped itself (a time-out, a protocol error) is no session.
    return m_bConnected && m_control.IsOpen() ? S_OK : S_FALSE;
}

HRESULT lvFTPClient::ChangeDir(BSTR bstrDir)
{
    return Simple("CWD", bstrDir);
}

HRESULT lvFTPClient::CreateDir(BSTR bstrDir)
{
    return Simple("MKD", bstrDir);
}

HRESULT lvFTPClient::ChangeDirUp()
{
    return Guard([&] { return m_control.Require("CDUP\n"), S_OK; });
}

HRESULT lvFTPClient::KeepLive()
{
    return Guard([&] { return m_control.Require("NOOP\n"), S_OK; });
}

HRESULT lvFTPClient::DeleteFile(BSTR bstrFile)
{
    return Simple("DELE", bstrFile);
}

HRESULT lvFTPClient::DeleteDir(BSTR bstrDir)
{
    return Simple("RMD", bstrDir);
}

HRESULT lvFTPClient::RenameFile(BSTR oldFile, BSTR newFile)
{
    return Guard(
        [&]
        {
            // Both lines are built first: a refused new name must not leave a RNFR pending.
            const std::string from = Line("RNFR", Narrow(oldFile).value_or(""));
            const std::string to = Line("RNTO", Narrow(newFile).value_or(""));
            m_control.Require(from);
            m_control.Require(to);
            return S_OK;
        });
}

HRESULT lvFTPClient::SetType(LONG bbinary)
{
    return Guard([&] { return m_control.Require(bbinary != 0 ? "TYPE I\n" : "TYPE A\n"), S_OK; });
}

// Transfers.

HRESULT lvFTPClient::SetPassive()
{
    return Guard(
        [&]
        {
            m_nDataPort = m_transfers.Passive();
            return S_OK;
        });
}

FtpTransferBounds lvFTPClient::Bounds(int64_t nExpectedSize) const
{
    FtpTransferBounds bounds;
    bounds.ExpectedSize = nExpectedSize;
    bounds.MaxBytes = m_nDownloadLimit;
    bounds.FloorRate = m_nFloorRate;
    return bounds;
}

HRESULT lvFTPClient::WriteFile(BSTR bstrLocalFile, BSTR bstrRemoteFile)
{
    return Guard(
        [&]
        {
            const std::string line = Line("STOR", Narrow(bstrRemoteFile).value_or(""));
            // The local file first: once STOR goes out, the server replaces the remote file.
            CLocalFile local = OpenLocal(Narrow(bstrLocalFile).value_or(""), "rb");
            if (!local)
                ThrowFtp(E_HANDLE, "The local file could not be opened");
            // Some names open but never read (a folder): one byte is read ahead to find out
            // before the server is asked to replace anything.
            const int nFirst = std::fgetc(local.get());
            if (nFirst == EOF ? std::ferror(local.get()) != 0
                              : std::ungetc(nFirst, local.get()) == EOF)
                ThrowFtp(E_HANDLE, "The local file could not be read");
            struct stat st = {};
            const int64_t nSize = ::fstat(::fileno(local.get()), &st) == 0 ? st.st_size : -1;
            m_transfers.Upload(line, local.get(), nSize, Bounds(-1), &m_nDataPort);
            return S_OK;
        });
}

int64_t lvFTPClient::Retrieve(const std::string& line, const std::string& localPath,
                              const FtpTransferBounds& bounds)
{
    CLocalFile local;
    FtpSink sink;
    // Only with the server's consent is the local file created or truncated.
    sink.Begin = [&]
    {
        local = OpenLocal(localPath, "wb");
        if (!local)
            ThrowFtp(E_HANDLE, "The local file could not be created");
    };
    sink.Write = [&](const char* pData, size_t nLength)
    {
        if (std::fwrite(pData, 1, nLength, local.get()) != nLength)
            ThrowFtp(E_FAIL, "The local file could not be written");
    };
    const int64_t nBytes = m_transfers.Download(line, sink, bounds, &m_nDataPort);
    if (std::fclose(local.release()) != 0)
        ThrowFtp(E_FAIL, "The local file could not be written");
    return nBytes;
}

HRESULT lvFTPClient::ReadFile(BSTR bstrRemoteFile, BSTR bstrLocalFile)
{
    return Guard(
        [&]
        {
            Retrieve(Line("RETR", Narrow(bstrRemoteFile).value_or("")),
                     Narrow(bstrLocalFile).value_or(""), Bounds(-1));
            return S_OK;
        });
}

HRESULT lvFTPClient::DownloadTo(const std::string& remote, const std::string& localPath,
                                int64_t nExpectedSize)
{
    return Guard(
        [&]
        {
            Retrieve(Line("RETR", remote), localPath, Bounds(nExpectedSize));
            return S_OK;
        });
}

HRESULT lvFTPClient::ListTo(const std::string& localPath)
{
    return Guard(
        [&]
        {
            FtpTransferBounds bounds = Bounds(-1);
            bounds.LimitName = "download limit (for a listing)";
            Retrieve("LIST\n", localPath, bounds);
            return S_OK;
        });
}

HRESULT lvFTPClient::ReadCurrDir()
{
    m_files.clear();
    return Guard(
        [&]
        {
            try
            {
                std::string listing;
                FtpSink sink;
                sink.Write = [&](const char* pData, size_t nLength)
                { listing.append(pData, nLength); };
                FtpTransferBounds bounds = Bounds(-1);
                bounds.MaxBytes = static_cast<int64_t>(kMaxListing);
                bounds.LimitName = "listing limit";
                m_transfers.Download(m_bFileList != 0 ? "NLST\n" : "LIST\n", sink, bounds,
                                     &m_nDataPort);
                if (!ParseFtpListing(listing, m_bFileList != 0, &m_files, kMaxListingEntries))
                    ThrowFtp(E_FAIL, "The listing has more than " +
                                         std::to_string(kMaxListingEntries) + " entries");
            }
            catch (...)
            {
                // A failed listing leaves no partial list behind.
                m_files.clear();
                throw;
            }
            return S_OK;
        });
}

HRESULT lvFTPClient::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                            DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr)
{
    constexpr DISPID kGetFileName = 24;
    if (dispIdMember == kGetFileName)
        return ReportComponentError(E_INVALIDARG, CLSID_lvFTPClient, IID_IlvFTPClient,
                                    "GetFileName needs a 43-byte buffer that a dispatch call "
                                    "cannot pass; use GetEntryName");
    return CExtendedDispatchImpl<IlvFTPClient3>::Invoke(
        dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

HRESULT lvFTPClient::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IlvFTPClient) || IsEqualIID(riid, IID_IlvFTPClient2) ||
                   IsEqualIID(riid, IID_IlvFTPClient3)
               ? S_OK
               : S_FALSE;
}

} // namespace lanvex
