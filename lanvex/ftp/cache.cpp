// lvCache: a stream of bytes written in chunks to a file or to memory, kept with Commit or thrown
// away with RollBack, and read back in chunks with an end-of-data flag.
#include "lanvex/ftp/cache.h"

#include "lanvex/net/sessions/component_property.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace lanvex
{

namespace
{

CDispatchTypeInfo g_cacheTypeInfo(LIBID_LANVEXLib, IID_IlvCache);

// Opens path as a buffered stream in mode "wb" or "rb", only when it is a regular file: a FIFO
// or a device would block or never end. O_NONBLOCK keeps the open itself from waiting on a FIFO.
std::FILE* OpenRegularFile(const std::string& path, bool bWrite, struct stat* pStat)
{
    const int flags = bWrite ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat& st = *pStat;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* pFile = ::fdopen(fd, bWrite ? "wb" : "rb");
    if (pFile == nullptr)
        ::close(fd);
    return pFile;
}

// A chunk operation's arguments: the count must be there, and a buffer whenever bytes move.
HRESULT CheckChunk(const BYTE* pData, const LONG* pSize)
{
    if (pSize == nullptr || (pData == nullptr && *pSize > 0))
        return E_POINTER;
    return *pSize < 0 ? E_INVALIDARG : S_OK;
}

// A chunk's arguments checked, then the step of the cache's storage; no storage moves nothing.
template <class FileStep, class MemoryStep>
HRESULT MoveChunk(SHORT nType, const BYTE* pData, LONG* pSize, FileStep fileStep,
                  MemoryStep memoryStep)
{
    const HRESULT hr = CheckChunk(pData, pSize);
    if (FAILED(hr))
        return hr;
    switch (nType)
    {
    case lvCache::kFileStorage:
        return fileStep();
    case lvCache::kMemoryStorage:
        return memoryStep();
    default:
        *pSize = 0;
        return S_OK;
    }
}

} // namespace

lvCache::lvCache() : IDispatchImpl<IlvCache>(g_cacheTypeInfo) {}

lvCache::~lvCache()
{
    // An uncommitted file stays as far as it was written, as it would after Commit.
    CloseFile();
}

IUnknown* lvCache::GetInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IlvCache) || IsEqualIID(riid, IID_IDispatch))
        return static_cast<IlvCache*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

HRESULT lvCache::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IlvCache) ? S_OK : S_FALSE;
}

HRESULT lvCache::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr)
{
    constexpr DISPID kWrite = 5, kRead = 8;
    if ((dispIdMember == kWrite || dispIdMember == kRead) && pDispParams != nullptr &&
        pDispParams->cArgs == 2)
    {
        VARIANT count;
        VariantInit(&count);
        // The arguments come last first: rgvarg[0] is nSize.
        if (SUCCEEDED(VariantChangeType(&count, &pDispParams->rgvarg[0], 0, VT_I4)) &&
            count.lVal > 1)
            return E_INVALIDARG;
    }
    return IDispatchImpl<IlvCache>::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams,
                                           pVarResult, pExcepInfo, puArgErr);
}

// Properties.

HRESULT lvCache::get_Type(SHORT* pVal)
{
    return GetValueProperty(m_nType, pVal);
}

HRESULT lvCache::put_Type(SHORT newVal)
{
    return PutValueProperty(m_nType, newVal);
}

HRESULT lvCache::get_CacheName(BSTR* pVal)
{
    return m_cacheName.Get(pVal);
}

HRESULT lvCache::put_CacheName(BSTR newVal)
{
    return m_cacheName.Put(newVal);
}

HRESULT lvCache::GetEOF(LONG* bEOF)
{
    return GetValueProperty(m_bEOF, bEOF);
}

// Rounds.

HRESULT lvCache::Open()
{
    m_bEOF = FALSE;
    // An open stream is neither reopened nor rewound; a finished round makes way for a new one.
    if (m_fileState == FileState::Finished)
        m_fileState = FileState::Idle;
    return S_OK;
}

HRESULT lvCache::Close()
{
    return S_OK;
}

HRESULT lvCache::Commit()
{
    if (m_nType == kMemoryStorage)
        m_nReadPos = 0;
    if (m_nType != kFileStorage || m_fileState != FileState::Open)
        return S_OK;
    // Buffered bytes reach the disk only now; losing them must not pass for a kept file.
    const bool bFlushed = std::fflush(m_pFile) == 0;
    CloseFile();
    m_fileState = FileState::Finished;
    return bFlushed ? S_OK : E_FAIL;
}

HRESULT lvCache::RollBack()
{
    if (m_nType == kMemoryStorage)
        m_nReadPos = 0;
    if (m_nType != kFileStorage || m_fileState != FileState::Open)
        return S_OK;
    CloseFile();
    struct stat st = {};
    if (!m_writtenPath.empty() && ::lstat(m_writtenPath.c_str(), &st) == 0 &&
        st.st_dev == m_writtenDevice && st.st_ino == m_writtenInode)
        ::unlink(m_writtenPath.c_str()); // a failed deletion is not reported
    m_fileState = FileState::Finished;
    return S_OK;
}

// Chunks.

HRESULT lvCache::Write(BYTE* lpszData, LONG* nSize)
{
    return MoveChunk(
        m_nType, lpszData, nSize, [&] { return WriteFile(lpszData, nSize); },
        [&] { return WriteMemory(lpszData, *nSize); });
}

HRESULT lvCache::Read(BYTE* lpszData, LONG* nSize)
{
    return MoveChunk(
        m_nType, lpszData, nSize, [&] { return ReadFile(lpszData, nSize); },
        [&] { return ReadMemory(lpszData, nSize); });
}

HRESULT lvCache::EnsureFile(const char* pszMode)
{
    switch (m_fileState)
    {
    case FileState::Open:
        return S_OK; // Write and Read share whichever stream came first
    case FileState::Finished:
        return E_UNEXPECTED;
    case FileState::Idle:
        break;
    }
    const std::u16string_view name = m_cacheName.View();
    // An empty name names no file; one with a zero inside would name a different file.
    if (name.empty() || name.find(u'\0') != std::u16string_view::npos)
        return E_HANDLE;
    const bool bWrite = pszMode[0] == 'w';
    const std::string path = m_cacheName.Narrow();
    struct stat st = {};
    m_pFile = OpenRegularFile(path, bWrite, &st);
    if (m_pFile == nullptr)
        return E_HANDLE;
    m_writtenPath = bWrite ? path : std::string();
    m_writtenDevice = st.st_dev;
    m_writtenInode = st.st_ino;
    m_fileState = FileState::Open;
    return S_OK;
}

void lvCache::CloseFile()
{
    if (m_pFile != nullptr)
    {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
}

HRESULT lvCache::WriteFile(const BYTE* pData, LONG* pSize)
{
    const HRESULT hr = EnsureFile("wb");
    if (FAILED(hr))
        return hr;
    // A short write (disk full) shows only in the count.
    *pSize = static_cast<LONG>(std::fwrite(pData, 1, static_cast<size_t>(*pSize), m_pFile));
    return S_OK;
}

HRESULT lvCache::ReadFile(BYTE* pData, LONG* pSize)
{
    const HRESULT hr = EnsureFile("rb");
    if (FAILED(hr))
        return hr;
    const size_t nWanted = static_cast<size_t>(*pSize);
    const size_t nRead = std::fread(pData, 1, nWanted, m_pFile);
    if (nRead < nWanted)
        m_bEOF = TRUE;
    *pSize = static_cast<LONG>(nRead);
    return S_OK;
}

HRESULT lvCache::WriteMemory(const BYTE* pData, LONG nSize)
{
    try
    {
        m_held.insert(m_held.end(), pData, pData + nSize); // grows geometrically
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (const std::length_error&)
    {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT lvCache::ReadMemory(BYTE* pData, LONG* pSize)
{
    if (m_held.empty())
        return E_POINTER;
    const size_t nWanted = static_cast<size_t>(*pSize);
    const size_t nRead = std::min(nWanted, m_held.size() - m_nReadPos);
    if (nRead > 0)
        std::memcpy(pData, m_held.data() + m_nReadPos, nRead);
    m_nReadPos += nRead;
    if (nRead < nWanted)
        m_bEOF = TRUE;
    *pSize = static_cast<LONG>(nRead);
    return S_OK;
}

} // namespace lanvex
