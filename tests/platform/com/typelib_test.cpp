// Type libraries: the byte form (round trip, damaged input), validation, the Windows-shaped views,
// and registration keys.
#include "platform/com/comrt.h"
#include "tests/platform/com/test_hive.h"
#include "tests/tools/probe_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace
{
std::string DefaultOf(const std::string& path)
{
    char data[512];
    LONG size = sizeof data;
    if (RegQueryValue(HKEY_CLASSES_ROOT, path.c_str(), data, &size) != ERROR_SUCCESS)
        return "<no key>";
    return data;
}

bool KeyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
} // namespace

TEST(TypeLibBytes, RoundTripKeepsTheDescription)
{
    TypeLibDesc desc = MakeProbeTypeLibDesc();
    std::vector<BYTE> bytes = SerializeTypeLib(desc);
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "CMTL");
    TypeLibDesc back;
    ASSERT_EQ(ParseTypeLib(bytes.data(), bytes.size(), &back), S_OK) << ComrtLastErrorText();
    EXPECT_EQ(SerializeTypeLib(back), bytes);
    EXPECT_EQ(back.Interfaces[0].Funcs[8].Params[2].Flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
}

TEST(TypeLibBytes, EveryTruncationAndEveryFlippedByteIsRefused)
{
    std::vector<BYTE> bytes = SerializeTypeLib(MakeProbeTypeLibDesc());
    TypeLibDesc out;
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(ParseTypeLib(bytes.data(), n, &out), TYPE_E_INVDATAREAD) << n;
    for (size_t i = 0; i < bytes.size(); i += 7)
    {
        std::vector<BYTE> bad = bytes;
        bad[i] ^= 0x5A;
        HRESULT hr = ParseTypeLib(bad.data(), bad.size(), &out);
        EXPECT_TRUE(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT) << i;
    }
    std::vector<BYTE> newer = bytes;
    newer[4] = 9; // format version
    EXPECT_EQ(ParseTypeLib(newer.data(), newer.size(), &out), TYPE_E_UNSUPFORMAT);
}

TEST(TypeLibModel, ValidationCatchesWhatDispatchWouldTripOn)
{
    struct Case
    {
        const char* Name;
        void (*Break)(TypeLibDesc&);
    } cases[] = {
        {"slot inside IDispatch", [](TypeLibDesc& d) { d.Interfaces[0].Funcs[0].Slot = 6; }},
        {"slot used twice", [](TypeLibDesc& d) { d.Interfaces[0].Funcs[1].Slot = 7; }},
        {"retval not last", [](TypeLibDesc& d)
         { std::swap(d.Interfaces[0].Funcs[8].Params[0], d.Interfaces[0].Funcs[8].Params[2]); }},
        {"too many parameters",
         [](TypeLibDesc& d) {
             d.Interfaces[0].Funcs[10].Params.resize(9, {"x", VT_I4});
         }},
        {"two DISPIDs for one name", [](TypeLibDesc& d) { d.Interfaces[0].Funcs[1].Id = 99; }},
        {"unknown coclass interface",
         [](TypeLibDesc& d) { d.Coclasses[0].Interfaces = {"INope"}; }},
        {"no LIBID", [](TypeLibDesc& d) { d.Libid = GUID_NULL; }},
        {"BYREF bit in a type",
         [](TypeLibDesc& d) { d.Interfaces[0].Funcs[1].Params[0].Type = VT_BYREF | VT_BSTR; }},
    };
    for (const Case& c : cases)
    {
        TypeLibDesc desc = MakeProbeTypeLibDesc();
        c.Break(desc);
        EXPECT_EQ(ValidateTypeLib(desc), E_INVALIDARG) << c.Name;
        ITypeLib* lib = nullptr;
        EXPECT_EQ(CreateTypeLibFromDesc(desc, &lib), E_INVALIDARG) << c.Name;
        EXPECT_EQ(lib, nullptr);
    }
}

TEST(TypeLib, WindowsShapedViews)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(CreateTypeLibFromDesc(MakeProbeTypeLibDesc(), &lib), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_ProbeLib);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(attr);

    ITypeInfo* probe = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IProbe, &probe), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(probe->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(ta->cbSizeVft, 25 * sizeof(void*));
    probe->ReleaseTypeAttr(ta);

    FUNCDESC* fd = nullptr;
    ASSERT_EQ(probe->GetFuncDesc(0, &fd), S_OK); // get_Name: BSTR* out retval at slot 7
    EXPECT_EQ(fd->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(fd->oVft, static_cast<SHORT>(7 * sizeof(void*)));
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_BSTR);
    EXPECT_EQ(fd->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    probe->ReleaseFuncDesc(fd);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(probe->GetDocumentation(7, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(NarrowFromBstr(name), "Fail");
    EXPECT_EQ(NarrowFromBstr(doc), "method Fail");
    SysFreeString(name);
    SysFreeString(doc);

    OLECHAR member[] = u"add", param[] = u"B", nope[] = u"zz";
    LPOLESTR names[] = {member, param, nope};
    MEMBERID ids[3];
    EXPECT_EQ(probe->GetIDsOfNames(names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(probe->GetIDsOfNames(names, 3, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[2], MEMBERID_NIL);
    probe->Release();

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfo(1, &coclass), S_OK);
    HREFTYPE ref;
    INT flags;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    ITypeInfo* def = nullptr;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, &def), S_OK);
    ASSERT_EQ(def->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID_IProbe);
    def->Release();
    coclass->Release();
    lib->Release();
}

TEST(TypeLib, FileLoadRegisterAndUnregister)
{
    CTestHive hive;
    std::string tlb = hive.Dir() + "/probe.tlb";
    ASSERT_EQ(WriteTypeLibFile(MakeProbeTypeLibDesc(), tlb), S_OK);
    std::u16string wtlb = NarrowToWide(tlb), wdir = NarrowToWide(hive.Dir());

    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(LoadTypeLib(wtlb.c_str(), &lib), S_OK) << ComrtLastErrorText();
    ASSERT_EQ(RegisterTypeLib(lib, wtlb.c_str(), wdir.c_str()), S_OK);
    lib->Release();

    const std::string base = "TypeLib\\" + GuidToString(LIBID_ProbeLib) + "\\1.0";
    EXPECT_EQ(DefaultOf(base), "Probe 1.0 Type Library");
    EXPECT_EQ(DefaultOf(base + "\\409\\win32"), tlb);
    EXPECT_EQ(DefaultOf(base + "\\FLAGS"), "0");
    EXPECT_EQ(DefaultOf(base + "\\HELPDIR"), hive.Dir());
    const std::string itf = "Interface\\" + GuidToString(IID_IProbe);
    EXPECT_EQ(DefaultOf(itf), "IProbe");
    EXPECT_EQ(DefaultOf(itf + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(DefaultOf(itf + "\\TypeLib"), GuidToString(LIBID_ProbeLib));

    // Found by version and locale (an exact locale, its language, or neutral).
    ASSERT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, &lib), S_OK);
    lib->Release();
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 1, 0x0409, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 2, 0, 0x0409, &lib), TYPE_E_LIBNOTREGISTERED);

    // A registered module cut short is refused before dlopen; a file that has gone away, or is
    // not a library.
    std::filesystem::copy_file(PROBE_SERVER_PATH, tlb,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(tlb, std::filesystem::file_size(tlb) / 2);
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_NE(ComrtLastErrorText().find("past the end"), std::string::npos) << ComrtLastErrorText();
    std::ofstream(tlb, std::ios::trunc) << "not a library";
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, &lib), TYPE_E_CANTLOADLIBRARY);
    std::remove(tlb.c_str());
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, &lib), TYPE_E_CANTLOADLIBRARY);
    ASSERT_EQ(mkfifo(tlb.c_str(), 0600), 0); // no writer: must not be waited on
    EXPECT_EQ(LoadRegTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, &lib), TYPE_E_CANTLOADLIBRARY);
    std::remove(tlb.c_str());

    EXPECT_EQ(UnRegisterTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, SYS_WIN32), S_OK);
    EXPECT_FALSE(KeyExists("TypeLib\\" + GuidToString(LIBID_ProbeLib)));
    EXPECT_FALSE(KeyExists(itf));
    EXPECT_TRUE(KeyExists("Interface"));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, SYS_WIN32), TYPE_E_LIBNOTREGISTERED);
}

namespace
{
// The probe's interface with one more member, DISPID 40 at slot 25.
ITypeInfo* ProbeInfoWith(TypeLibFuncDesc extra)
{
    TypeLibDesc desc = MakeProbeTypeLibDesc();
    desc.Interfaces[0].Funcs.push_back(std::move(extra));
    ITypeLib* lib = nullptr;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(CreateTypeLibFromDesc(desc, &lib)))
    {
        lib->GetTypeInfoOfGuid(IID_IProbe, &info);
        lib->Release();
    }
    return info;
}

int g_reached = 0;
HRESULT Reached(void*)
{
    ++g_reached;
    return S_OK;
}
} // namespace

// An optional parameter of a type the call cannot carry by value is refused, given or omitted,
// before the member is reached; one it can carry is passed as zero when omitted.
TEST(TypeLib, DispatchRefusesByValueTypesItCannotPass)
{
    struct Case
    {
        const char* Name;
        VARTYPE Type;
        UINT Args;
        HRESULT Expected;
    } cases[] = {
        {"VARIANT omitted", VT_VARIANT, 0, DISP_E_BADVARTYPE},
        {"VARIANT given", VT_VARIANT, 1, DISP_E_BADVARTYPE},
        {"date omitted", VT_DATE, 0, DISP_E_BADVARTYPE},
        {"LONG omitted", VT_I4, 0, S_OK},
    };
    void* vtable[26];
    std::fill(std::begin(vtable), std::end(vtable), reinterpret_cast<void*>(&Reached));
    void* instance = vtable;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ITypeInfo* info = ProbeInfoWith(TypeLibMethod(
            "Later", 40, 25, "", {{"when", c.Type, 0, PARAMFLAG_FIN | PARAMFLAG_FOPT}}));
        ASSERT_NE(info, nullptr) << ComrtLastErrorText();
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        DISPPARAMS params{&arg, nullptr, c.Args, 0};
        UINT argErr = 99;
        g_reached = 0;
        EXPECT_EQ(info->Invoke(&instance, 40, DISPATCH_METHOD, &params, nullptr, nullptr, &argErr),
                  c.Expected);
        EXPECT_EQ(g_reached, c.Expected == S_OK ? 1 : 0);
        EXPECT_EQ(argErr, c.Args && FAILED(c.Expected) ? 0u : 99u);
        info->Release();
    }
}

namespace
{
std::string g_seen;
HRESULT Fill(void*, BSTR* text)
{
    g_seen = *text ? NarrowFromBstr(*text) : "<empty>";
    SysFreeString(*text); // as an in-out member does; an out-only one could not
    *text = SysAllocString(u"filled");
    return S_OK;
}
} // namespace

// A string given by value to a pointer parameter reaches an in-out member as a copy, and an
// out-only member as an empty string (a copy it overwrites would leak).
TEST(TypeLib, DispatchGivesOutOnlyParametersEmpty)
{
    struct Case
    {
        const char* Name;
        USHORT Flags;
        const char* Seen;
    } cases[] = {
        {"in-out", PARAMFLAG_FIN | PARAMFLAG_FOUT, "old"},
        {"out only", PARAMFLAG_FOUT, "<empty>"},
    };
    void* vtable[26];
    std::fill(std::begin(vtable), std::end(vtable), reinterpret_cast<void*>(&Fill));
    void* instance = vtable;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ITypeInfo* info =
            ProbeInfoWith(TypeLibMethod("Fill", 40, 25, "", {{"text", VT_BSTR, 1, c.Flags}}));
        ASSERT_NE(info, nullptr) << ComrtLastErrorText();
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_BSTR;
        arg.bstrVal = SysAllocString(u"old");
        DISPPARAMS params{&arg, nullptr, 1, 0};
        g_seen.clear();
        EXPECT_EQ(info->Invoke(&instance, 40, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(g_seen, c.Seen);
        VariantClear(&arg);
        info->Release();
    }
}
