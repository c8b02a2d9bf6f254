// LANVEXLib as other programs see it, read back from the built module through LoadTypeLib: every
// interface, member, DISPID, slot, parameter and help string, the coclasses and their default
// interfaces; and the identities each registration script writes.
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/script_registrar.h"
#include "tests/platform/com/test_hive.h"

#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

enum MemberKind
{
    Get = INVOKE_PROPERTYGET,
    Put = INVOKE_PROPERTYPUT,
    Method = INVOKE_FUNC,
};

// One vtable slot. Params: each parameter as "[flags] type name", IDL style; property accessors
// show no names (the put value carries none).
struct Member
{
    SHORT Slot;
    MEMBERID Id;
    MemberKind Kind;
    std::string Name, Params, Help;
};

struct InterfaceRow
{
    const char* Name;
    IID Iid;
    // In slot order; a derived interface's first slot follows its base's last.
    std::vector<Member> Members;
};

std::vector<Member> Rows(std::initializer_list<std::vector<Member>> parts)
{
    std::vector<Member> all;
    for (const std::vector<Member>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A property's get and put, in slot order.
std::vector<Member> Prop(SHORT getSlot, MEMBERID id, const char* name, const std::string& type)
{
    const std::string help = std::string("property ") + name;
    return {{getSlot, id, Get, name, "[out,retval] " + type + "*", help},
            {static_cast<SHORT>(getSlot + 1), id, Put, name, "[in] " + type, help}};
}

std::vector<Member> Fn(SHORT slot, MEMBERID id, const char* name, const char* params,
                       const char* help)
{
    return {{slot, id, Method, name, params, help}};
}

const std::vector<InterfaceRow>& Interfaces()
{
    static const std::vector<InterfaceRow> rows = {
        {"IlvFTPClient", IID_IlvFTPClient,
         Rows({Prop(7, 1, "Username", "BSTR"),
               Prop(9, 2, "Password", "BSTR"),
               Prop(11, 3, "Address", "BSTR"),
               Fn(13, 4, "Connect", "", "method Connect"),
               Prop(14, 5, "Port", "short"),
               Fn(16, 6, "Disconnect", "", "method Disconnect"),
               Fn(17, 7, "ChangeDir", "BSTR bstrDir", "method ChangeDir"),
               Fn(18, 8, "CreateDir", "BSTR bstrDir", "method CreateDir"),
               Fn(19, 9, "ChangeDirUp", "", "method ChangeDirUp"),
               Fn(20, 10, "KeepLive", "", "method KeepLive"),
               Fn(21, 11, "DeleteFile", "BSTR bstrFile", "method DeleteFile"),
               Fn(22, 12, "DeleteDir", "BSTR bstrDir", "method DeleteDir"),
               Fn(23, 13, "RenameFile", "BSTR oldFile, BSTR newFile", "method RenameFile"),
               Prop(24, 14, "DataPort", "short"),
               Fn(26, 15, "SetPassive", "", "method SetPassive"),
               Fn(27, 17, "SetType", "long bbinary", "method SetType"),
               Fn(28, 20, "WriteFile", "BSTR bstrLocalFile, BSTR bstrRemoteFile",
                  "method WriteFile"),
               Fn(29, 21, "ReadFile", "BSTR bstrRemoteFile, BSTR bstrLocalFile", "method ReadFile"),
               Fn(30, 22, "ReadCurrDir", "", "method ReadDir"),
               Fn(31, 23, "GetFileCount", "short* pCount", "method GetFileCount"),
               Fn(32, 24, "GetFileName", "char* lpFileName, short nId", "method GetFileName"),
               Fn(33, 25, "GetFileSize", "short* pSize, short nId", "method GetFileSize"),
               Fn(34, 26, "IsConnected", "", "method IsConnected"),
               Prop(35, 27, "FileList", "long")})},
        {"IlvCache", IID_IlvCache,
         Rows({Prop(7, 1, "Type", "short"), Fn(9, 2, "Open", "", "method Open"),
               Fn(10, 3, "Close", "", "method Close"), Prop(11, 4, "CacheName", "BSTR"),
               Fn(13, 5, "Write", "unsigned char* lpszData, long* nSize", "method Write"),
               Fn(14, 6, "Commit", "", "method Commit"),
               Fn(15, 7, "RollBack", "", "method RollBack"),
               Fn(16, 8, "Read", "unsigned char* lpszData, long* nSize", "method Read"),
               Fn(17, 9, "GetEOF", "long* bEOF", "method GetEOF")})},
        {"IlvFTPShellFile", IID_IlvFTPShellFile,
         Rows({Prop(7, 1, "CreateDestDirectories", "long"), Prop(9, 2, "FilesOnly", "long"),
               Prop(11, 3, "Function", "short"), Prop(13, 4, "ShowDialog", "long"),
               Prop(15, 5, "From", "BSTR"), Prop(17, 6, "To", "BSTR"),
               Fn(19, 7, "Configure", "", "method Configure"),
               Fn(20, 8, "Execute", "", "method Execute"), Prop(21, 9, "Server", "BSTR"),
               Prop(23, 10, "Username", "BSTR"), Prop(25, 11, "Password", "BSTR")})},
        {"IlvTelnet", IID_IlvTelnet,
         Rows({Prop(7, 1, "Address", "BSTR"), Prop(9, 2, "Username", "BSTR"),
               Prop(11, 3, "Password", "BSTR"), Prop(13, 4, "Port", "short"),
               Fn(15, 5, "Connect", "", "method Connect"),
               Fn(16, 6, "Disconnect", "", "method Disconnect"),
               Fn(17, 7, "IsConnected", "", "method IsConnected"),
               Fn(18, 8, "Execute", "BSTR bstrCommand", "method Execute"),
               Fn(19, 9, "GetOutput", "char** lpszOutput, short* nSize", "method GetOutput")})},
        {"IlvTelnet2", IID_IlvTelnet2,
         Fn(20, 10, "GetOutputSize", "[out,retval] long* pSize", "method GetOutputSize")},
        {"IlvFTPClient2", IID_IlvFTPClient2,
         Rows({Fn(37, 28, "GetFileCount32", "[out,retval] long* pCount", "method GetFileCount32"),
               Fn(38, 29, "GetEntryName", "long nId, [out,retval] BSTR* pName",
                  "method GetEntryName"),
               Fn(39, 30, "GetEntrySize", "long nId, [out,retval] int64* pSize",
                  "method GetEntrySize"),
               Fn(40, 31, "GetEntryIsDirectory", "long nId, [out,retval] long* pIsDir",
                  "method GetEntryIsDirectory"),
               {{41, 32, Get, "LastReplyCode", "[out,retval] long*", "property LastReplyCode"}},
               {{42, 33, Get, "LastReplyText", "[out,retval] BSTR*", "property LastReplyText"}}})},
        {"IlvFTPShellFile2", IID_IlvFTPShellFile2,
         Rows({Prop(27, 12, "DownloadLimit", "int64"), Prop(29, 13, "MinimumRate", "long")})},
        {"IlvFTPClient3", IID_IlvFTPClient3,
         Rows({Prop(43, 34, "Security", "long"),
               Prop(45, 35, "TlsVerify", "long"),
               Prop(47, 36, "TlsCaFile", "BSTR"),
               Prop(49, 37, "TlsPinnedSha256", "BSTR"),
               {{51, 38, Get, "TlsPeerFingerprint", "[out,retval] BSTR*",
                 "property TlsPeerFingerprint"}}})},
    };
    return rows;
}

struct CoclassRow
{
    const char* Name;
    CLSID Clsid;
    std::vector<const char*> Interfaces; // the first is the default
};

const std::vector<CoclassRow>& Coclasses()
{
    static const std::vector<CoclassRow> rows = {
        {"lvFTPClient", CLSID_lvFTPClient, {"IlvFTPClient", "IlvFTPClient2", "IlvFTPClient3"}},
        {"lvCache", CLSID_lvCache, {"IlvCache"}},
        {"lvFTPShellFile", CLSID_lvFTPShellFile, {"IlvFTPShellFile", "IlvFTPShellFile2"}},
        {"lvTelnet", CLSID_lvTelnet, {"IlvTelnet", "IlvTelnet2"}},
        {"lvSecureShell", CLSID_lvSecureShell, {"IlvTelnet", "IlvTelnet2"}},
    };
    return rows;
}

std::string TypeText(const TYPEDESC& type)
{
    switch (type.vt)
    {
    case VT_PTR:
        return type.lptdesc ? TypeText(*type.lptdesc) + "*" : "?*";
    case VT_BSTR:
        return "BSTR";
    case VT_I1:
        return "char";
    case VT_UI1:
        return "unsigned char";
    case VT_I2:
        return "short";
    case VT_I4:
        return "long";
    case VT_I8:
        return "int64";
    default:
        return "vt" + std::to_string(type.vt);
    }
}

std::string FlagsText(USHORT flags)
{
    std::string text;
    for (auto [flag, name] : {std::pair{PARAMFLAG_FIN, "in"},
                              {PARAMFLAG_FOUT, "out"},
                              {PARAMFLAG_FRETVAL, "retval"},
                              {PARAMFLAG_FOPT, "optional"}})
        if (flags & flag)
            text += (text.empty() ? "" : ",") + std::string(name);
    return text.empty() ? text : "[" + text + "] ";
}

std::string Text(BSTR text)
{
    std::string narrow = NarrowFromBstr(text);
    SysFreeString(text);
    return narrow;
}

constexpr UINT kMaxNames = 16;

// The parameters of one function as the table writes them.
std::string ParamsText(ITypeInfo* info, const FUNCDESC& fd)
{
    BSTR names[kMaxNames] = {};
    UINT nNames = 0;
    if (fd.invkind == INVOKE_FUNC)
        info->GetNames(fd.memid, names, kMaxNames, &nNames);
    std::string text;
    for (SHORT i = 0; i < fd.cParams; ++i)
    {
        const ELEMDESC& param = fd.lprgelemdescParam[i];
        text += (i ? ", " : "") + FlagsText(param.paramdesc.wParamFlags) + TypeText(param.tdesc);
        if (static_cast<UINT>(i) + 1 < nNames)
            text += " " + NarrowFromBstr(names[i + 1]);
    }
    for (UINT i = 0; i < nNames; ++i)
        SysFreeString(names[i]);
    return text;
}

class LanvexTypeLib : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(LoadTypeLib(NarrowToWide(LANVEX_MODULE_PATH).c_str(), &m_lib), S_OK)
            << ComrtLastErrorText();
    }
    void TearDown() override
    {
        if (m_lib)
            m_lib->Release();
    }

    ITypeInfo* Info(const char* name)
    {
        for (UINT i = 0; i < m_lib->GetTypeInfoCount(); ++i)
        {
            BSTR found = nullptr;
            m_lib->GetDocumentation(static_cast<INT>(i), &found, nullptr, nullptr, nullptr);
            ITypeInfo* info = nullptr;
            if (Text(found) == name && m_lib->GetTypeInfo(i, &info) == S_OK)
                return info;
        }
        return nullptr;
    }

    ITypeLib* m_lib = nullptr;
};

} // namespace

TEST_F(LanvexTypeLib, LibraryIdentity)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(m_lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_LANVEXLib);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    m_lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr, file = nullptr;
    ASSERT_EQ(m_lib->GetDocumentation(-1, &name, &help, nullptr, &file), S_OK);
    EXPECT_EQ(Text(name), "LANVEXLib");
    EXPECT_EQ(Text(help), "Lanvex 1.0 Type Library");
    EXPECT_EQ(Text(file), "");
    EXPECT_EQ(m_lib->GetTypeInfoCount(), Interfaces().size() + Coclasses().size())
        << "a type the table does not know";
}

TEST_F(LanvexTypeLib, EveryInterfaceMemberAsDesigned)
{
    for (const InterfaceRow& row : Interfaces())
    {
        SCOPED_TRACE(row.Name);
        ITypeInfo* info = Info(row.Name);
        ASSERT_NE(info, nullptr);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->guid, row.Iid);
        EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
        EXPECT_EQ(ta->wTypeFlags,
                  TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
        EXPECT_EQ(ta->wMajorVerNum, 0);
        EXPECT_EQ(ta->wMinorVerNum, 0);
        EXPECT_EQ(ta->cbSizeVft, (row.Members.back().Slot + 1) * sizeof(void*));
        EXPECT_EQ(ta->cFuncs, row.Members.size());
        const WORD nFuncs = ta->cFuncs;
        info->ReleaseTypeAttr(ta);

        BSTR help = nullptr;
        info->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr);
        EXPECT_EQ(Text(help), std::string(row.Name) + " Interface");

        for (size_t i = 0; i < row.Members.size() && i < nFuncs; ++i)
        {
            const Member& m = row.Members[i];
            SCOPED_TRACE(m.Name + " at slot " + std::to_string(m.Slot));
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(info->GetFuncDesc(static_cast<UINT>(i), &fd), S_OK);
            EXPECT_EQ(fd->oVft, static_cast<SHORT>(m.Slot * sizeof(void*)));
            EXPECT_EQ(fd->memid, m.Id);
            EXPECT_EQ(fd->invkind, static_cast<INVOKEKIND>(m.Kind));
            EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
            EXPECT_EQ(ParamsText(info, *fd), m.Params);
            info->ReleaseFuncDesc(fd);

            BSTR name = nullptr, doc = nullptr;
            ASSERT_EQ(info->GetDocumentation(m.Id, &name, &doc, nullptr, nullptr), S_OK);
            EXPECT_EQ(Text(name), m.Name);
            EXPECT_EQ(Text(doc), m.Help);
        }
        info->Release();
    }
}

TEST_F(LanvexTypeLib, CoclassesAreCreatableWithTheirDefaultInterface)
{
    for (const CoclassRow& row : Coclasses())
    {
        SCOPED_TRACE(row.Name);
        ITypeInfo* info = Info(row.Name);
        ASSERT_NE(info, nullptr);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->guid, row.Clsid);
        EXPECT_EQ(ta->typekind, TKIND_COCLASS);
        EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FCANCREATE);
        EXPECT_EQ(ta->cImplTypes, row.Interfaces.size());
        info->ReleaseTypeAttr(ta);
        BSTR help = nullptr;
        info->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr);
        EXPECT_EQ(Text(help), std::string(row.Name) + " Class");

        for (size_t i = 0; i < row.Interfaces.size(); ++i)
        {
            HREFTYPE ref = 0;
            INT flags = 0;
            ITypeInfo* itf = nullptr;
            ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(i), &ref), S_OK);
            ASSERT_EQ(info->GetImplTypeFlags(static_cast<UINT>(i), &flags), S_OK);
            EXPECT_EQ(flags, i == 0 ? IMPLTYPEFLAG_FDEFAULT : 0) << row.Interfaces[i];
            ASSERT_EQ(info->GetRefTypeInfo(ref, &itf), S_OK);
            BSTR name = nullptr;
            itf->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            EXPECT_EQ(Text(name), row.Interfaces[i]);
            itf->Release();
        }
        info->Release();
    }
}

// Each script's identities, as registration writes them (the dialog's script too, which
// registration itself never runs).
TEST(LanvexScripts, EachScriptWritesItsClassIdentity)
{
    struct Case
    {
        int Resource;
        const char* ClassName;
        const char* Clsid;
    } cases[] = {
        {101, "lvFTPClient", "{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}"},
        {103, "lvCache", "{3B6E1F08-6D25-11D3-9E41-02A95C7D8E16}"},
        {104, "lvFTPShellFile", "{7D41B214-4E2C-11D3-8A37-02C4D18E5B90}"},
        {105, "lvFTPShellFileDlg", "{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}"},
        {108, "lvTelnet", "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}"},
        {109, "lvSecureShell", "{46374BC6-5DEB-41DA-BAAC-755E548340F6}"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.ClassName);
        CTestHive hive;
        ASSERT_EQ(lanvex::RunScriptResource(c.Resource, true, "/opt/lanvex/libLanvex.so"), S_OK);
        const std::string progId = std::string("Lanvex.") + c.ClassName + ".1";
        const std::string independent = std::string("Lanvex.") + c.ClassName;
        const std::string description = std::string(c.ClassName) + " Class";
        const std::string key = std::string("CLSID\\") + c.Clsid;
        struct Expected
        {
            std::string Key, Value;
        } expected[] = {
            {progId, description},
            {progId + "\\CLSID", c.Clsid},
            {independent, description},
            {independent + "\\CLSID", c.Clsid},
            {independent + "\\CurVer", progId},
            {key, description},
            {key + "\\ProgID", progId},
            {key + "\\VersionIndependentProgID", independent},
            {key + "\\InprocServer32", "/opt/lanvex/libLanvex.so"},
            {key + "\\TypeLib", "{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}"},
        };
        for (const Expected& e : expected)
        {
            char value[256] = {};
            LONG size = sizeof value;
            EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, e.Key.c_str(), value, &size), ERROR_SUCCESS)
                << e.Key;
            EXPECT_EQ(std::string(value), e.Value) << e.Key;
        }
    }
}
