// What an lvFTPClient reads back after a command: the entries of the last listing and the last
// reply's code and text.
#include "lanvex/ftp/ftp_client.h"

#include "lanvex/net/transport/wire_text.h"

#include "platform/com/conversion.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace lanvex
{

namespace
{

HRESULT CopyOut(const std::string& value, BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    const std::u16string wide = WireTextToWide(value);
    *pVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace

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
    return ReadEntry(nId, lpFileName,
                     [](const FtpFileEntry& entry, char* pName)
                     {
                         std::memcpy(pName, entry.Name, std::strlen(entry.Name) + 1);
                         return S_OK;
                     });
}

HRESULT lvFTPClient::GetFileSize(SHORT* pSize, SHORT nId)
{
    return ReadEntry(nId, pSize,
                     [](const FtpFileEntry& entry, SHORT* pOut)
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
    return ReadEntry(nId, pName,
                     [](const FtpFileEntry& entry, BSTR* pOut)
                     { return CopyOut(entry.FullName, pOut); });
}

HRESULT lvFTPClient::GetEntrySize(LONG nId, LONGLONG* pSize)
{
    return ReadEntry(nId, pSize,
                     [](const FtpFileEntry& entry, LONGLONG* pOut)
                     {
                         *pOut = entry.FullSize;
                         return S_OK;
                     });
}

HRESULT lvFTPClient::GetEntryIsDirectory(LONG nId, LONG* pIsDir)
{
    return ReadEntry(nId, pIsDir,
                     [](const FtpFileEntry& entry, LONG* pOut)
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
    const std::string lastCode = m_control.LastCode();
    LONG code = 0;
    for (char c : lastCode)
    {
        if (c < '0' || c > '9')
            return *pCode = 0, S_OK;
        code = code * 10 + (c - '0');
    }
    *pCode = lastCode.size() == 3 ? code : 0;
    return S_OK;
}

HRESULT lvFTPClient::get_LastReplyText(BSTR* pText)
{
    if (pText == nullptr)
        return E_POINTER;
    const std::u16string wide = NarrowToWide(m_control.LastText());
    *pText = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pText != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace lanvex
