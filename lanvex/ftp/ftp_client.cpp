// lvFTPClient: a scriptable FTP client (control session, passive transfers, listings).
#include "lanvex/ftp/ftp_client.h"

#include "lanvex/net/component_error.h"
#include "lanvex/net/component_property.h"
#include "lanvex/net/socket_error.h"

#include "platform/com/conversion.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace lanvex
{

namespace
{

// The members of IlvFTPClient, and those IlvFTPClient2 adds, by name and DISPID.
CDispatchTypeInfo g_clientTypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient);
CDispatchTypeInfo g_client2TypeInfo(LIBID_LANVEXLib, IID_IlvFTPClient2);
constexpr DISPID kFirstClient2Dispid = 28;

// Narrow form of a text; an unset text has none.
std::optional<std::string> Narrow(BSTR text)
{
    if (text == nullptr)
        return std::nullopt;
    return WideToNarrow(std::u16string_view(text, SysStringLen(text)));
}

HRESULT CopyOut(const std::string& value, BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    const std::u16string wide = NarrowToWide(value);
    *pVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
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

std::string Seconds(int nMilliseconds)
{
    return std::to_string((nMilliseconds + 999) / 1000) + " s";
}

} // namespace

lvFTPClient::lvFTPClient()
    : CExtendedDispatchImpl<IlvFTPClient2>(g_clientTypeInfo, g_client2TypeInfo, kFirstClient2Dispid)
{
    m_control.TraceAs("lvFTPClient", ETraceFormat::Lines);
}

lvFTPClient::~lvFTPClient()
{
    // No QUIT: a client going away just drops the control connection.
    DropControl();
}

IUnknown* lvFTPClient::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvFTPClient) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvFTPClient*>(this);
    if (IsEqualIID(riid, IID_IlvFTPClient2))
        return static_cast<IlvFTPClient2*>(this);
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

// The command step.

HRESULT lvFTPClient::Fail(HRESULT hr, const std::string& description)
{
    return ReportComponentError(hr, CLSID_lvFTPClient, IID_IlvFTPClient, description);
}

HRESULT lvFTPClient::RefuseLine(FtpLineResult result)
{
    return Fail(E_INVALIDARG, result == FtpLineResult::TooLong
                                  ? "The argument is too long for a command line; nothing was sent"
                                  : "The argument holds a line end or a zero character; nothing "
                                    "was sent");
}

void lvFTPClient::DropControl()
{
    if (m_control.IsConnected() || m_control.HasSocket())
        m_control.Close();
    m_reader.Reset();
}

HRESULT lvFTPClient::Command(const char* pszVerb)
{
    char line[kFtpCommandCapacity];
    size_t nLength = 0;
    BuildFtpCommandLine(pszVerb, std::nullopt, line, sizeof line, &nLength);
    return CommandLine(line, nLength);
}

HRESULT lvFTPClient::Command(const char* pszVerb, BSTR argument)
{
    // An unset text goes out as an empty argument; the server answers it.
    const std::string text = Narrow(argument).value_or(std::string());
    char line[kFtpCommandCapacity];
    size_t nLength = 0;
    const FtpLineResult built = BuildFtpCommandLine(pszVerb, text, line, sizeof line, &nLength);
    if (built != FtpLineResult::Ok)
        return RefuseLine(built);
    return CommandLine(line, nLength);
}

HRESULT lvFTPClient::CommandLine(const char* pLine, size_t nLength)
{
    try
    {
        if (m_control.Send(pLine, static_cast<int>(nLength)) < 1)
            return Fail(E_FAIL, "The command could not be sent");
        const HRESULT hr = ReadReply();
        return FAILED(hr) ? hr : JudgeReply();
    }
    catch (const CExpSocket&)
    {
        return Fail(E_FAIL, "The control connection failed");
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT lvFTPClient::ReadReply()
{
    // The whole reply must arrive within one wait; a server that trickles or never ends a reply
    // cannot hold the caller longer, and after such a failure the connection is dropped, so that
    // a late reply is never taken for the next command's.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeout);
    for (;;)
    {
        FtpReply reply;
        const CFtpReplyReader::Status status = m_reader.Next(&reply);
        if (status == CFtpReplyReader::Status::Complete)
        {
            m_lastReply = std::move(reply);
            m_lastCode = m_lastReply.Code();
            m_lastText = m_lastReply.Text();
            return S_OK;
        }
        if (status == CFtpReplyReader::Status::Overflow)
        {
            DropControl();
            return Fail(E_FAIL, "The server's reply did not end within 1 MB; the control "
                                "connection was closed");
        }
        if (!m_control.HasSocket())
            throw CExpSocket(kWsaENotSock);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        m_control.SetTimeout(left > 0 ? static_cast<int>(left) : 0);
        if (left <= 0 || !m_control.WaitReadable())
        {
            DropControl();
            return Fail(E_FAIL, "No complete reply from the server within " + Seconds(m_nTimeout) +
                                    "; the control connection was closed");
        }
        char chunk[4096];
        const int nRead = m_control.Receive(chunk, sizeof chunk);
        if (nRead <= 0)
        {
            DropControl();
            return Fail(E_FAIL, "The server closed the control connection");
        }
        m_reader.Append(chunk, static_cast<size_t>(nRead));
    }
}

HRESULT lvFTPClient::JudgeReply()
{
    return m_lastReply.IsRefusal() ? Fail(E_ABORT, m_lastText) : S_OK;
}

// Session.

HRESULT lvFTPClient::Connect()
{
    DropControl();
    try
    {
        const std::optional<std::string> address = Narrow(m_bstrAddress);
        // The port is sign-extended; the transport uses its low 16 bits.
        m_control.Open(address ? address->c_str() : nullptr, m_nPort);
        if (!m_control.HasSocket())
            return Fail(E_ABORT, "The server's address could not be resolved");
        // The greeting; a "120" (ready soon) comes before the real one, and only one is waited
        // out, so a server repeating it cannot hold the caller.
        HRESULT hr = ReadReply();
        if (SUCCEEDED(hr) && m_lastReply.IsPreliminary())
            hr = ReadReply();
        if (FAILED(hr))
            return E_ABORT; // the description is in place
        if (m_lastReply.IsRefusal())
            return Fail(E_ABORT, m_lastText);
    }
    catch (const CExpSocket&)
    {
        DropControl();
        return Fail(E_ABORT, "The server could not be reached");
    }
    // A positive preliminary reply to USER counts as success, so PASS always follows.
    HRESULT hr = Command("USER", m_bstrUsername);
    if (SUCCEEDED(hr))
        hr = Command("PASS", m_bstrPassword);
    if (FAILED(hr))
        return E_FAIL; // the step's error information stays
    m_bConnected = TRUE;
    return S_OK;
}

HRESULT lvFTPClient::Disconnect()
{
    m_bConnected = FALSE;
    const HRESULT hr = Command("QUIT");
    DropControl();
    return hr;
}

HRESULT lvFTPClient::IsConnected()
{
    return m_bConnected ? S_OK : S_FALSE;
}

HRESULT lvFTPClient::ChangeDir(BSTR bstrDir)
{
    return Command("CWD", bstrDir);
}

HRESULT lvFTPClient::CreateDir(BSTR bstrDir)
{
    return Command("MKD", bstrDir);
}

HRESULT lvFTPClient::ChangeDirUp()
{
    return Command("CDUP");
}

HRESULT lvFTPClient::KeepLive()
{
    return Command("NOOP");
}

HRESULT lvFTPClient::DeleteFile(BSTR bstrFile)
{
    return Command("DELE", bstrFile);
}

HRESULT lvFTPClient::DeleteDir(BSTR bstrDir)
{
    return Command("RMD", bstrDir);
}

HRESULT lvFTPClient::RenameFile(BSTR oldFile, BSTR newFile)
{
    // Both lines are built first: a refused new name must not leave a RNFR pending.
    char from[kFtpCommandCapacity];
    char to[kFtpCommandCapacity];
    size_t nFrom = 0;
    size_t nTo = 0;
    FtpLineResult built = BuildFtpCommandLine(
        "RNFR", Narrow(oldFile).value_or(std::string()), from, sizeof from, &nFrom);
    if (built == FtpLineResult::Ok)
        built = BuildFtpCommandLine("RNTO", Narrow(newFile).value_or(std::string()), to, sizeof to,
                                    &nTo);
    if (built != FtpLineResult::Ok)
        return RefuseLine(built);
    const HRESULT hr = CommandLine(from, nFrom);
    if (hr != S_OK)
        return hr;
    return CommandLine(to, nTo);
}

HRESULT lvFTPClient::SetType(LONG bbinary)
{
    return Command(bbinary != 0 ? "TYPE I" : "TYPE A");
}

// Transfers.

HRESULT lvFTPClient::SetPassive()
{
    const HRESULT hr = Command("PASV");
    if (FAILED(hr))
        return hr;
    // The host in the reply is ignored: data always goes to Address.
    if (const std::optional<int16_t> port = ReadPassivePort(m_lastText))
        m_nDataPort = *port;
    return hr;
}

HRESULT lvFTPClient::StartTransfer(CTcpConnection& data, const char* pLine, size_t nLength,
                                   bool* pFinished)
{
    *pFinished = false;
    try
    {
        // The data connection is opened before the command goes out, so that a port nobody
        // answers on leaves no command waiting for its reply.
        const std::optional<std::string> address = Narrow(m_bstrAddress);
        data.SetTimeout(m_nTimeout);
        data.TraceAs("lvFTPClient", ETraceFormat::Data);
        data.Open(address ? address->c_str() : nullptr, m_nDataPort);
        if (!data.HasSocket())
            return Fail(E_FAIL, "The data connection could not be opened");
    }
    catch (const CExpSocket&)
    {
        return Fail(E_FAIL, "The data connection could not be opened");
    }
    const HRESULT hr = CommandLine(pLine, nLength);
    if (hr != S_OK)
        return hr;
    // Usually "150"; a server may also finish at once with its completion reply.
    *pFinished = !m_lastReply.IsPreliminary();
    return S_OK;
}

HRESULT lvFTPClient::FinishTransfer(bool bFinished)
{
    if (bFinished)
        return JudgeReply();
    try
    {
        const HRESULT hr = ReadReply();
        return FAILED(hr) ? hr : JudgeReply();
    }
    catch (const CExpSocket&)
    {
        return Fail(E_FAIL, "The control connection failed");
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT lvFTPClient::ReceiveData(CTcpConnection& data, FILE* pLocal, std::string* pListing)
{
    try
    {
        std::unique_ptr<char[]> block(new char[kTransferBlock]);
        for (;;)
        {
            // The server's close ends the data; a wait that passes without data is a stall.
            const int nRead = data.ReceivePending(block.get(), kTransferBlock);
            if (nRead <= 0)
            {
                if (data.PeerClosed())
                    return S_OK;
                return Fail(E_FAIL, "The data connection was silent for " + Seconds(m_nTimeout) +
                                        "; the transfer is incomplete");
            }
            if (pLocal != nullptr &&
                std::fwrite(block.get(), 1, static_cast<size_t>(nRead), pLocal) !=
                    static_cast<size_t>(nRead))
                return Fail(E_FAIL, "The local file could not be written");
            if (pListing != nullptr)
            {
                if (pListing->size() + static_cast<size_t>(nRead) > kMaxListing)
                    return Fail(E_FAIL, "The listing is larger than 256 MB");
                pListing->append(block.get(), static_cast<size_t>(nRead));
            }
        }
    }
    catch (const CExpSocket&)
    {
        return Fail(E_FAIL, "The data connection failed");
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT lvFTPClient::SendData(CTcpConnection& data, FILE* pLocal)
{
    try
    {
        std::unique_ptr<char[]> block(new char[kTransferBlock]);
        for (;;)
        {
            const size_t nRead = std::fread(block.get(), 1, kTransferBlock, pLocal);
            for (size_t nSent = 0; nSent < nRead;)
            {
                const int n = data.Send(block.get() + nSent, static_cast<int>(nRead - nSent));
                if (n < 1)
                    return Fail(E_FAIL, "The data connection took no more bytes");
                nSent += static_cast<size_t>(n);
            }
            if (nRead < static_cast<size_t>(kTransferBlock))
                return std::ferror(pLocal) ? Fail(E_FAIL, "The local file could not be read")
                                           : S_OK;
        }
    }
    catch (const CExpSocket&)
    {
        return Fail(E_FAIL, "The data connection failed");
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT lvFTPClient::WriteFile(BSTR bstrLocalFile, BSTR bstrRemoteFile)
{
    char line[kFtpTransferCommandCapacity];
    size_t nLength = 0;
    const FtpLineResult built = BuildFtpCommandLine(
        "STOR", Narrow(bstrRemoteFile).value_or(std::string()), line, sizeof line, &nLength);
    if (built != FtpLineResult::Ok)
        return RefuseLine(built);
    // The local file first: once STOR goes out, the server replaces the remote file.
    const std::string localName = Narrow(bstrLocalFile).value_or(std::string());
    CLocalFile local = OpenLocal(localName, "rb");
    if (!local)
        return Fail(E_HANDLE, "The local file could not be opened");
    // Some names open but never read (a folder): one byte is read ahead to find out before
    // the server is asked to replace anything.
    const int nFirst = std::fgetc(local.get());
    if (nFirst == EOF ? std::ferror(local.get()) != 0
                      : std::ungetc(nFirst, local.get()) == EOF)
        return Fail(E_HANDLE, "The local file could not be read");

    HRESULT hr = SetPassive();
    if (FAILED(hr))
        return hr;
    CTcpConnection data;
    bool bFinished = false;
    hr = StartTransfer(data, line, nLength, &bFinished);
    if (hr != S_OK)
        return hr;
    const HRESULT hrData = bFinished ? S_OK : SendData(data, local.get());
    data.Close(); // the end of the data is the end of the file
    hr = FinishTransfer(bFinished);
    return FAILED(hrData) ? hrData : hr;
}

HRESULT lvFTPClient::ReadFile(BSTR bstrRemoteFile, BSTR bstrLocalFile)
{
    char line[kFtpTransferCommandCapacity];
    size_t nLength = 0;
    const FtpLineResult built = BuildFtpCommandLine(
        "RETR", Narrow(bstrRemoteFile).value_or(std::string()), line, sizeof line, &nLength);
    if (built != FtpLineResult::Ok)
        return RefuseLine(built);
    const std::string localName = Narrow(bstrLocalFile).value_or(std::string());

    HRESULT hr = SetPassive();
    if (FAILED(hr))
        return hr;
    CTcpConnection data;
    bool bFinished = false;
    hr = StartTransfer(data, line, nLength, &bFinished);
    if (hr != S_OK)
        return hr;
    // Only now, with the server's consent, is the local file created or truncated.
    CLocalFile local = OpenLocal(localName, "wb");
    HRESULT hrData = S_OK;
    if (!local)
        hrData = Fail(E_HANDLE, "The local file could not be created");
    else if (!bFinished)
        hrData = ReceiveData(data, local.get(), nullptr);
    if (local && std::fclose(local.release()) != 0 && SUCCEEDED(hrData))
        hrData = Fail(E_FAIL, "The local file could not be written");
    data.Close();
    hr = FinishTransfer(bFinished);
    return FAILED(hrData) ? hrData : hr;
}

HRESULT lvFTPClient::ReadCurrDir()
{
    m_files.clear();
    HRESULT hr = SetPassive();
    if (FAILED(hr))
        return hr;
    CTcpConnection data;
    bool bFinished = false;
    hr = StartTransfer(data, m_bFileList != 0 ? "NLST\n" : "LIST\n", 5, &bFinished);
    if (hr != S_OK)
        return hr;
    std::string listing;
    HRESULT hrData = S_OK;
    try
    {
        if (!bFinished)
            hrData = ReceiveData(data, nullptr, &listing);
        if (!ParseFtpListing(listing, m_bFileList != 0, &m_files, kMaxListingEntries) &&
            SUCCEEDED(hrData))
            hrData = Fail(E_FAIL, "The listing has more than " +
                                      std::to_string(kMaxListingEntries) + " entries");
    }
    catch (const std::bad_alloc&)
    {
        hrData = E_OUTOFMEMORY;
    }
    data.Close();
    hr = FinishTransfer(bFinished);
    return FAILED(hrData) ? hrData : hr;
}

// The file list.

const FtpFileEntry* lvFTPClient::Entry(long nId) const
{
    if (nId < 0 || static_cast<size_t>(nId) >= m_files.size())
        return nullptr;
    return &m_files[static_cast<size_t>(nId)];
}

HRESULT lvFTPClient::GetFileCount(SHORT* pCount)
{
    if (pCount == nullptr)
        return E_POINTER;
    *pCount = static_cast<SHORT>(static_cast<uint16_t>(m_files.size() & 0xFFFF));
    return S_OK;
}

HRESULT lvFTPClient::GetFileName(char* lpFileName, SHORT nId)
{
    return ReadEntry(nId, lpFileName, [](const FtpFileEntry& entry, char* pName)
                     {
                         std::memcpy(pName, entry.Name, std::strlen(entry.Name) + 1);
                         return S_OK;
                     });
}

HRESULT lvFTPClient::GetFileSize(SHORT* pSize, SHORT nId)
{
    return ReadEntry(nId, pSize, [](const FtpFileEntry& entry, SHORT* pOut)
                     {
                         *pOut = static_cast<SHORT>(
                             static_cast<uint16_t>(static_cast<uint32_t>(entry.Size) & 0xFFFF));
                         return S_OK;
                     });
}

HRESULT lvFTPClient::GetFileCount32(LONG* pCount)
{
    if (pCount == nullptr)
        return E_POINTER;
    *pCount = m_files.size() > static_cast<size_t>(INT32_MAX) ? INT32_MAX
                                                               : static_cast<LONG>(m_files.size());
    return S_OK;
}

HRESULT lvFTPClient::GetEntryName(LONG nId, BSTR* pName)
{
    if (pName != nullptr)
        *pName = nullptr;
    return ReadEntry(nId, pName, [](const FtpFileEntry& entry, BSTR* pOut)
                     { return CopyOut(entry.FullName, pOut); });
}

HRESULT lvFTPClient::GetEntrySize(LONG nId, LONGLONG* pSize)
{
    return ReadEntry(nId, pSize, [](const FtpFileEntry& entry, LONGLONG* pOut)
                     {
                         *pOut = entry.FullSize;
                         return S_OK;
                     });
}

HRESULT lvFTPClient::GetEntryIsDirectory(LONG nId, LONG* pIsDir)
{
    return ReadEntry(nId, pIsDir, [](const FtpFileEntry& entry, LONG* pOut)
                     {
                         *pOut = entry.IsDirectory ? 1 : 0;
                         return S_OK;
                     });
}

HRESULT lvFTPClient::get_LastReplyCode(LONG* pCode)
{
    if (pCode == nullptr)
        return E_POINTER;
    // Three digits, or 0 when the last reply did not start with them.
    LONG code = 0;
    for (char c : m_lastCode)
    {
        if (c < '0' || c > '9')
            return *pCode = 0, S_OK;
        code = code * 10 + (c - '0');
    }
    *pCode = m_lastCode.size() == 3 ? code : 0;
    return S_OK;
}

HRESULT lvFTPClient::get_LastReplyText(BSTR* pText)
{
    return CopyOut(m_lastText, pText);
}

HRESULT lvFTPClient::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                            DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr)
{
    constexpr DISPID kGetFileName = 24;
    if (dispIdMember == kGetFileName)
        return Fail(E_INVALIDARG, "GetFileName needs a 43-byte buffer that a dispatch call cannot "
                                  "pass; use GetEntryName");
    return CExtendedDispatchImpl<IlvFTPClient2>::Invoke(dispIdMember, riid, lcid, wFlags,
                                                        pDispParams, pVarResult, pExcepInfo,
                                                        puArgErr);
}

HRESULT lvFTPClient::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IlvFTPClient) || IsEqualIID(riid, IID_IlvFTPClient2) ? S_OK
                                                                                     : S_FALSE;
}

} // namespace lanvex
