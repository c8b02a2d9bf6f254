// Lanvex public interfaces: IlvTelnet, IlvTelnet2, IlvFTPClient, IlvFTPClient2, IlvFTPClient3,
// IlvCache, IlvFTPShellFile, IlvFTPShellFile2,
// their IIDs, the class identifiers and LIBID_LANVEXLib. Clients need only this header and
// comrt; the identifiers are constants here (internal linkage, so a module stays unloadable),
// so nothing of libLanvex is linked.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/wintypes.h"

// Type library LANVEXLib, version 1.0.
constexpr GUID LIBID_LANVEXLib = MakeGuid("{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}");

constexpr IID IID_IlvFTPClient = MakeGuid("{E2057CAF-48B9-11D3-8C5A-02B3E4F6A719}");
constexpr IID IID_IlvFTPClient2 = MakeGuid("{8D7167F0-4DA6-4115-A808-AA99CAB18EA8}");
constexpr IID IID_IlvFTPClient3 = MakeGuid("{16A47EA0-2369-4353-A21D-FC353EEFEECA}");
constexpr IID IID_IlvCache = MakeGuid("{3B6E1F07-6D25-11D3-9E41-02A95C7D8E16}");
constexpr IID IID_IlvFTPShellFile = MakeGuid("{7D41B213-4E2C-11D3-8A37-02C4D18E5B90}");
constexpr IID IID_IlvFTPShellFile2 = MakeGuid("{80C72817-49AA-40DB-9B12-7D42503BD602}");
constexpr IID IID_IlvTelnet = MakeGuid("{91F3E725-A6D1-11D3-B52E-0290F7C2A3D4}");
constexpr IID IID_IlvTelnet2 = MakeGuid("{628FDBB6-B14E-42FE-9540-A5E84CABA4CE}");

constexpr CLSID CLSID_lvFTPClient = MakeGuid("{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}");
constexpr CLSID CLSID_lvCache = MakeGuid("{3B6E1F08-6D25-11D3-9E41-02A95C7D8E16}");
constexpr CLSID CLSID_lvFTPShellFile = MakeGuid("{7D41B214-4E2C-11D3-8A37-02C4D18E5B90}");
constexpr CLSID CLSID_lvTelnet = MakeGuid("{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}");
// The same session interfaces over SSH.
constexpr CLSID CLSID_lvSecureShell = MakeGuid("{46374BC6-5DEB-41DA-BAAC-755E548340F6}");

// Telnet session: logs in, runs one command at a time, hands back the raw reply.
struct IlvTelnet : public IDispatch
{
    STDMETHOD(get_Address)(BSTR* pVal) = 0;   // slot 7, DISPID 1
    STDMETHOD(put_Address)(BSTR newVal) = 0;  // slot 8, DISPID 1
    STDMETHOD(get_Username)(BSTR* pVal) = 0;  // slot 9, DISPID 2
    STDMETHOD(put_Username)(BSTR newVal) = 0; // slot 10, DISPID 2
    STDMETHOD(get_Password)(BSTR* pVal) = 0;  // slot 11, DISPID 3
    STDMETHOD(put_Password)(BSTR newVal) = 0; // slot 12, DISPID 3
    STDMETHOD(get_Port)(SHORT* pVal) = 0;     // slot 13, DISPID 4
    STDMETHOD(put_Port)(SHORT newVal) = 0;    // slot 14, DISPID 4
    STDMETHOD(Connect)() = 0;                 // slot 15, DISPID 5
    STDMETHOD(Disconnect)() = 0;              // slot 16, DISPID 6
    STDMETHOD(IsConnected)() = 0;             // slot 17, DISPID 7
    STDMETHOD(Execute)(BSTR bstrCommand) = 0; // slot 18, DISPID 8
    // The component's own reply block (not a copy, not terminated) and the low 16 bits of its
    // length; valid until the next Execute or the release of the object.
    STDMETHOD(GetOutput)(char** lpszOutput, SHORT* nSize) = 0; // slot 19, DISPID 9

  protected:
    ~IlvTelnet() = default;
};

// The same session with the reply's full length.
struct IlvTelnet2 : public IlvTelnet
{
    STDMETHOD(GetOutputSize)(LONG* pSize) = 0; // slot 20, DISPID 10

  protected:
    ~IlvTelnet2() = default;
};

// FTP client: control session, passive transfers, listings.
struct IlvFTPClient : public IDispatch
{
    STDMETHOD(get_Username)(BSTR* pVal) = 0;                           // slot 7, DISPID 1
    STDMETHOD(put_Username)(BSTR newVal) = 0;                          // slot 8
    STDMETHOD(get_Password)(BSTR* pVal) = 0;                           // slot 9, DISPID 2
    STDMETHOD(put_Password)(BSTR newVal) = 0;                          // slot 10
    STDMETHOD(get_Address)(BSTR* pVal) = 0;                            // slot 11, DISPID 3
    STDMETHOD(put_Address)(BSTR newVal) = 0;                           // slot 12
    STDMETHOD(Connect)() = 0;                                          // slot 13, DISPID 4
    STDMETHOD(get_Port)(SHORT* pVal) = 0;                              // slot 14, DISPID 5
    STDMETHOD(put_Port)(SHORT newVal) = 0;                             // slot 15
    STDMETHOD(Disconnect)() = 0;                                       // slot 16, DISPID 6
    STDMETHOD(ChangeDir)(BSTR bstrDir) = 0;                            // slot 17, DISPID 7
    STDMETHOD(CreateDir)(BSTR bstrDir) = 0;                            // slot 18, DISPID 8
    STDMETHOD(ChangeDirUp)() = 0;                                      // slot 19, DISPID 9
    STDMETHOD(KeepLive)() = 0;                                         // slot 20, DISPID 10
    STDMETHOD(DeleteFile)(BSTR bstrFile) = 0;                          // slot 21, DISPID 11
    STDMETHOD(DeleteDir)(BSTR bstrDir) = 0;                            // slot 22, DISPID 12
    STDMETHOD(RenameFile)(BSTR oldFile, BSTR newFile) = 0;             // slot 23, DISPID 13
    STDMETHOD(get_DataPort)(SHORT* pVal) = 0;                          // slot 24, DISPID 14
    STDMETHOD(put_DataPort)(SHORT newVal) = 0;                         // slot 25
    STDMETHOD(SetPassive)() = 0;                                       // slot 26, DISPID 15
    STDMETHOD(SetType)(LONG bbinary) = 0;                              // slot 27, DISPID 17
    STDMETHOD(WriteFile)(BSTR bstrLocalFile, BSTR bstrRemoteFile) = 0; // slot 28, DISPID 20
    STDMETHOD(ReadFile)(BSTR bstrRemoteFile, BSTR bstrLocalFile) = 0;  // slot 29, DISPID 21
    STDMETHOD(ReadCurrDir)() = 0;                                      // slot 30, DISPID 22
    STDMETHOD(GetFileCount)(SHORT* pCount) = 0;                        // slot 31, DISPID 23
    STDMETHOD(GetFileName)(char* lpFileName, SHORT nId) = 0;           // slot 32, DISPID 24
    STDMETHOD(GetFileSize)(SHORT* pSize, SHORT nId) = 0;               // slot 33, DISPID 25
    STDMETHOD(IsConnected)() = 0;                                      // slot 34, DISPID 26
    STDMETHOD(get_FileList)(LONG* pVal) = 0;                           // slot 35, DISPID 27
    STDMETHOD(put_FileList)(LONG newVal) = 0;                          // slot 36

  protected:
    ~IlvFTPClient() = default;
};

// The same client with the file list in full: whole names, 64-bit sizes, which entries are
// directories, a 32-bit count, and the last reply. Indexes count from 0.
struct IlvFTPClient2 : public IlvFTPClient
{
    STDMETHOD(GetFileCount32)(LONG* pCount) = 0;                // slot 37, DISPID 28
    STDMETHOD(GetEntryName)(LONG nId, BSTR* pName) = 0;         // slot 38, DISPID 29
    STDMETHOD(GetEntrySize)(LONG nId, LONGLONG* pSize) = 0;     // slot 39, DISPID 30
    STDMETHOD(GetEntryIsDirectory)(LONG nId, LONG* pIsDir) = 0; // slot 40, DISPID 31
    STDMETHOD(get_LastReplyCode)(LONG* pCode) = 0;              // slot 41, DISPID 32
    STDMETHOD(get_LastReplyText)(BSTR* pText) = 0;              // slot 42, DISPID 33

  protected:
    ~IlvFTPClient2() = default;
};

// The same client over TLS. Security: 0 none, 1 explicit ("AUTH TLS"), 2 implicit (TLS from the
// first byte; port 990 when Port is left at 21). TlsVerify (default 1) checks the server's
// certificate against the system's trust store (or TlsCaFile alone when set) and its host name;
// TlsPinnedSha256, when set, is the SHA-256 of the one certificate accepted (hex, colons
// optional) in place of those checks. TlsPeerFingerprint: the server's certificate after Connect.
struct IlvFTPClient3 : public IlvFTPClient2
{
    STDMETHOD(get_Security)(LONG* pVal) = 0;           // slot 43, DISPID 34
    STDMETHOD(put_Security)(LONG newVal) = 0;          // slot 44
    STDMETHOD(get_TlsVerify)(LONG* pVal) = 0;          // slot 45, DISPID 35
    STDMETHOD(put_TlsVerify)(LONG newVal) = 0;         // slot 46
    STDMETHOD(get_TlsCaFile)(BSTR* pVal) = 0;          // slot 47, DISPID 36
    STDMETHOD(put_TlsCaFile)(BSTR newVal) = 0;         // slot 48
    STDMETHOD(get_TlsPinnedSha256)(BSTR* pVal) = 0;    // slot 49, DISPID 37
    STDMETHOD(put_TlsPinnedSha256)(BSTR newVal) = 0;   // slot 50
    STDMETHOD(get_TlsPeerFingerprint)(BSTR* pVal) = 0; // slot 51, DISPID 38

  protected:
    ~IlvFTPClient3() = default;
};

// Byte cache in a file or in memory, with commit and roll-back.
struct IlvCache : public IDispatch
{
    STDMETHOD(get_Type)(SHORT* pVal) = 0;              // slot 7, DISPID 1
    STDMETHOD(put_Type)(SHORT newVal) = 0;             // slot 8
    STDMETHOD(Open)() = 0;                             // slot 9, DISPID 2
    STDMETHOD(Close)() = 0;                            // slot 10, DISPID 3
    STDMETHOD(get_CacheName)(BSTR* pVal) = 0;          // slot 11, DISPID 4
    STDMETHOD(put_CacheName)(BSTR newVal) = 0;         // slot 12
    STDMETHOD(Write)(BYTE* lpszData, LONG* nSize) = 0; // slot 13, DISPID 5
    STDMETHOD(Commit)() = 0;                           // slot 14, DISPID 6
    STDMETHOD(RollBack)() = 0;                         // slot 15, DISPID 7
    STDMETHOD(Read)(BYTE* lpszData, LONG* nSize) = 0;  // slot 16, DISPID 8
    STDMETHOD(GetEOF)(LONG* bEOF) = 0;                 // slot 17, DISPID 9

  protected:
    ~IlvCache() = default;
};

// Description of one FTP file operation, edited in its dialog.
struct IlvFTPShellFile : public IDispatch
{
    STDMETHOD(get_CreateDestDirectories)(LONG* pVal) = 0;  // slot 7, DISPID 1
    STDMETHOD(put_CreateDestDirectories)(LONG newVal) = 0; // slot 8
    STDMETHOD(get_FilesOnly)(LONG* pVal) = 0;              // slot 9, DISPID 2
    STDMETHOD(put_FilesOnly)(LONG newVal) = 0;             // slot 10
    STDMETHOD(get_Function)(SHORT* pVal) = 0;              // slot 11, DISPID 3
    STDMETHOD(put_Function)(SHORT newVal) = 0;             // slot 12
    STDMETHOD(get_ShowDialog)(LONG* pVal) = 0;             // slot 13, DISPID 4
    STDMETHOD(put_ShowDialog)(LONG newVal) = 0;            // slot 14
    STDMETHOD(get_From)(BSTR* pVal) = 0;                   // slot 15, DISPID 5
    STDMETHOD(put_From)(BSTR newVal) = 0;                  // slot 16
    STDMETHOD(get_To)(BSTR* pVal) = 0;                     // slot 17, DISPID 6
    STDMETHOD(put_To)(BSTR newVal) = 0;                    // slot 18
    STDMETHOD(Configure)() = 0;                            // slot 19, DISPID 7
    STDMETHOD(Execute)() = 0;                              // slot 20, DISPID 8
    STDMETHOD(get_Server)(BSTR* pVal) = 0;                 // slot 21, DISPID 9
    STDMETHOD(put_Server)(BSTR newVal) = 0;                // slot 22
    STDMETHOD(get_Username)(BSTR* pVal) = 0;               // slot 23, DISPID 10
    STDMETHOD(put_Username)(BSTR newVal) = 0;              // slot 24
    STDMETHOD(get_Password)(BSTR* pVal) = 0;               // slot 25, DISPID 11
    STDMETHOD(put_Password)(BSTR newVal) = 0;              // slot 26

  protected:
    ~IlvFTPShellFile() = default;
};

// The bounds of an executed operation: the most a download without a listed size may bring
// (bytes), and the slowest rate (bytes a second) a transfer's time limit allows for.
struct IlvFTPShellFile2 : public IlvFTPShellFile
{
    STDMETHOD(get_DownloadLimit)(LONGLONG* pVal) = 0;  // slot 27, DISPID 12
    STDMETHOD(put_DownloadLimit)(LONGLONG newVal) = 0; // slot 28
    STDMETHOD(get_MinimumRate)(LONG* pVal) = 0;        // slot 29, DISPID 13
    STDMETHOD(put_MinimumRate)(LONG newVal) = 0;       // slot 30

  protected:
    ~IlvFTPShellFile2() = default;
};
