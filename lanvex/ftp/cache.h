// lvCache: a stream of bytes written in chunks to a file or to memory, kept with Commit or thrown
// away with RollBack, and read back in chunks with an end-of-data flag.
#pragma once

#include "lanvex/ftp/text_property.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"

#include "platform/com/dispatch_impl.h"

#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lanvex
{

class lvCache : public IDispatchImpl<IlvCache>, public ISupportErrorInfo, public CComponentObject
{
  public:
    static constexpr SHORT kFileStorage = 0;
    static constexpr SHORT kMemoryStorage = 1;

    lvCache();
    ~lvCache() override;

    LANVEX_IUNKNOWN_IMPL

    // Through dispatch a chunk's buffer is one by-reference byte: a longer Write or Read there
    // would run past it, so it is refused.
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // IlvCache
    STDMETHODIMP get_Type(SHORT* pVal) override;
    STDMETHODIMP put_Type(SHORT newVal) override;
    STDMETHODIMP Open() override;
    STDMETHODIMP Close() override;
    STDMETHODIMP get_CacheName(BSTR* pVal) override;
    STDMETHODIMP put_CacheName(BSTR newVal) override;
    STDMETHODIMP Write(BYTE* lpszData, LONG* nSize) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP RollBack() override;
    STDMETHODIMP Read(BYTE* lpszData, LONG* nSize) override;
    STDMETHODIMP GetEOF(LONG* bEOF) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  protected:
    IUnknown* GetInterface(REFIID riid) override;
    IUnknown* PrimaryInterface() override { return static_cast<IlvCache*>(this); }

  private:
    // Where the file stream stands. After Commit or RollBack the stream is gone for good; only
    // Open starts a new round, so a stray Write can't truncate what was just committed.
    enum class FileState
    {
        Idle,    // nothing opened in this round yet
        Open,    // m_pFile serves Write and Read
        Finished // committed or rolled back; Write and Read refused until Open
    };

    // Opens the cache file in mode ("wb" or "rb") unless the round has a stream already.
    HRESULT EnsureFile(const char* pszMode);
    void CloseFile();

    HRESULT WriteFile(const BYTE* pData, LONG* pSize);
    HRESULT ReadFile(BYTE* pData, LONG* pSize);
    HRESULT WriteMemory(const BYTE* pData, LONG nSize);
    HRESULT ReadMemory(BYTE* pData, LONG* pSize);

    SHORT m_nType = kFileStorage;
    CTextProperty m_cacheName;
    BOOL m_bEOF = FALSE;

    FileState m_fileState = FileState::Idle;
    std::FILE* m_pFile = nullptr;
    // The file as it was named when this cache created it for writing; RollBack deletes this one
    // and no other. Empty when the stream was opened for reading.
    std::string m_writtenPath;
    // That file's identity: whatever took its name since is not this cache's to delete.
    dev_t m_writtenDevice = 0;
    ino_t m_writtenInode = 0;

    std::vector<BYTE> m_held;
    size_t m_nReadPos = 0;
};

} // namespace lanvex
