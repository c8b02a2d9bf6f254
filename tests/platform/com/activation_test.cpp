// The whole path through the test server module: registration, activation by CLSID and ProgID,
// vtable and dispatch calls, error objects, unloading, unregistration, and the failure results.
#include "platform/com/comrt.h"
#include "tests/platform/com/test_hive.h"
#include "tests/tools/probe_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace
{
HRESULT CallExport(const char* name)
{
    void* module = dlopen(PROBE_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return E_FAIL;
    auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(module, name));
    HRESULT hr = fn ? fn() : E_FAIL;
    dlclose(module);
    return hr;
}

std::string DefaultOf(const std::string& path)
{
    char data[512];
    LONG size = sizeof data;
    if (RegQueryValue(HKEY_CLASSES_ROOT, path.c_str(), data, &size) != ERROR_SUCCESS)
        return "<no key>";
    return data;
}

void PointClassAt(const std::string& module)
{
    ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT,
                          ("CLSID\\" + GuidToString(CLSID_Probe) + "\\InprocServer32").c_str(),
                          REG_SZ, module.c_str(), 0),
              ERROR_SUCCESS);
}

VARIANT Int(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

VARIANT Text(const char* s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromNarrow(s);
    return v;
}

class Activation : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(CallExport("DllRegisterServer"), S_OK) << ComrtLastErrorText();
    }
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }

    IProbe* Create()
    {
        IProbe* probe = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IProbe,
                                   reinterpret_cast<void**>(&probe)),
                  S_OK)
            << ComrtLastErrorText();
        return probe;
    }

    DISPID Id(IDispatch* d, const char16_t* name)
    {
        std::u16string n(name);
        LPOLESTR names[] = {n.data()};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        return id;
    }

    // Invokes with the arguments given first to last.
    HRESULT Call(IDispatch* d, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                 VARIANT* result = nullptr, EXCEPINFO* excep = nullptr, UINT* argErr = nullptr)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                          static_cast<UINT>(reversed.size()), 0};
        if (flags == DISPATCH_PROPERTYPUT && !reversed.empty())
            params.rgdispidNamedArgs = &put, params.cNamedArgs = 1;
        HRESULT hr = d->Invoke(Id(d, name), IID_NULL, 0, flags, &params, result, excep, argErr);
        for (VARIANT& v : reversed)
            VariantClear(&v);
        return hr;
    }

    CTestHive m_hive;
};
} // namespace

TEST_F(Activation, CreatesByClsidAndByProgIdAndCallsThroughTheVtable)
{
    IProbe* probe = Create();
    ASSERT_NE(probe, nullptr);
    CComBSTR name(u"alpha");
    EXPECT_EQ(probe->put_Name(name), S_OK);
    CComBSTR back;
    EXPECT_EQ(probe->get_Name(&back), S_OK);
    EXPECT_EQ(std::u16string(back.m_str), u"alpha");
    LONG sum = 0;
    EXPECT_EQ(probe->Add(-2, 40, &sum), S_OK);
    EXPECT_EQ(sum, 38);
    EXPECT_EQ(probe->IsReady(), S_FALSE);
    probe->Release();

    for (const char16_t* progId : {u"ComrtTest.Probe.1", u"ComrtTest.Probe", u"comrttest.probe"})
    {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_Probe);
    }
    // The version-independent ProgID also leads on through CurVer alone.
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "ComrtTest.Probe\\CLSID"), ERROR_SUCCESS);
    CLSID viaCurVer{};
    EXPECT_EQ(CLSIDFromProgID(u"ComrtTest.Probe", &viaCurVer), S_OK);
    EXPECT_EQ(viaCurVer, CLSID_Probe);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_Probe, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"ComrtTest.Probe.1");
    CoTaskMemFree(progId);
}

TEST_F(Activation, FailuresGiveWindowsResults)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IErrorInfo, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IProbe, nullptr),
              E_POINTER);
    EXPECT_EQ(CoCreateInstance(IID_IProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"ComrtTest.Nothing", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(ProgIDFromCLSID(IID_IProbe, reinterpret_cast<LPOLESTR*>(&out)), REGDB_E_CLASSNOTREG);

    struct Case
    {
        std::string Module;
        HRESULT Hr;
    } cases[] = {
        {m_hive.Dir() + "/missing.so", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {NOEXPORTS_MODULE_PATH, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)},
        {m_hive.Dir() + "/registry.reg", HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)}, // not a module
    };
    for (const Case& c : cases)
    {
        PointClassAt(c.Module);
        EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
                  c.Hr)
            << c.Module;
        EXPECT_NE(ComrtLastErrorText().find(c.Module), std::string::npos) << ComrtLastErrorText();
    }
}

TEST_F(Activation, NeedsAnApartment)
{
    CoUninitialize();
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize(); // one level left for TearDown
}

TEST_F(Activation, DispatchPropertiesAndMethods)
{
    IProbe* probe = Create();
    ASSERT_NE(probe, nullptr);
    IDispatch* d = probe;
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(d, u"Name", DISPATCH_PROPERTYPUT, {Text("beta")}), S_OK);
    EXPECT_EQ(Call(d, u"name", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(NarrowFromBstr(result.bstrVal), "beta");
    VariantClear(&result);

    EXPECT_EQ(Call(d, u"Count", DISPATCH_PROPERTYPUT, {Text("-12")}), S_OK); // coerced to SHORT
    SHORT n = 0;
    EXPECT_EQ(probe->get_Count(&n), S_OK);
    EXPECT_EQ(n, -12);
    EXPECT_EQ(Call(d, u"Enabled", DISPATCH_PROPERTYPUT, {Text("True")}), S_OK);
    EXPECT_EQ(Call(d, u"Enabled", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);

    EXPECT_EQ(Call(d, u"Add", DISPATCH_METHOD, {Text("3"), Int(-40000)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, -39997);
    EXPECT_EQ(Call(d, u"Concat", DISPATCH_METHOD, {Text("ab"), Int(12)}, &result), S_OK);
    EXPECT_EQ(NarrowFromBstr(result.bstrVal), "ab12");
    VariantClear(&result);
    EXPECT_EQ(Call(d, u"Sum7", DISPATCH_METHOD,
                   {Int(1), Int(2), Int(3), Int(4), Int(5), Int(6), Int(-7)}, &result),
              S_OK);
    EXPECT_EQ(result.lVal, 14);
    EXPECT_EQ(Call(d, u"IsReady", DISPATCH_METHOD, {}, &result), S_FALSE);
    EXPECT_EQ(result.vt, VT_EMPTY);

    SHORT twice = 21;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &twice;
    EXPECT_EQ(Call(d, u"Twice", DISPATCH_METHOD, {ref}), S_OK);
    EXPECT_EQ(twice, 42); // written through to the caller's storage

    // Floating-point values go in their own registers, between integer ones, and come back.
    EXPECT_EQ(
        Call(d, u"Scale", DISPATCH_METHOD, {Int(3), Text("0.5"), Int(100), Text("-0.25")}, &result),
        S_OK);
    EXPECT_EQ(result.vt, VT_R8);
    EXPECT_EQ(result.dblVal, 101.25);
    VARIANT ratio;
    VariantInit(&ratio);
    ratio.vt = VT_R8;
    ratio.dblVal = 0.75;
    EXPECT_EQ(Call(d, u"Ratio", DISPATCH_PROPERTYPUT, {ratio}), S_OK);
    EXPECT_EQ(Call(d, u"Ratio", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_R4);
    EXPECT_EQ(result.fltVal, 0.75f);
    probe->Release();
}

TEST_F(Activation, DispatchFailuresAsOnWindows)
{
    IProbe* probe = Create();
    ASSERT_NE(probe, nullptr);
    IDispatch* d = probe;
    UINT argErr = 99;
    VARIANT result;
    VariantInit(&result);

    EXPECT_EQ(Call(d, u"Add", DISPATCH_METHOD, {Int(1)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(d, u"Add", DISPATCH_METHOD, {Int(1), Int(2), Int(3)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(d, u"Add", DISPATCH_METHOD, {Int(1), Text("x")}, &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u); // rgvarg index: the last argument
    EXPECT_EQ(Call(d, u"Add", DISPATCH_METHOD, {Int(40000), Int(1)}, &result, nullptr, &argErr),
              DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(Call(d, u"GetBuffer", DISPATCH_METHOD, {Int(0), Int(0)}), DISP_E_BADVARTYPE);
    EXPECT_EQ(Call(d, u"Name", DISPATCH_PROPERTYPUT, {}), DISP_E_BADPARAMCOUNT);

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(d->Invoke(12345, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(d->Invoke(Id(d, u"Name"), IID_IProbe, 0, DISPATCH_PROPERTYGET, &none, nullptr,
                        nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    VARIANT arg = Int(1);
    DISPID named = 0;
    DISPPARAMS withNamed{&arg, &named, 1, 1};
    EXPECT_EQ(d->Invoke(Id(d, u"Fail"), IID_NULL, 0, DISPATCH_METHOD, &withNamed, nullptr, nullptr,
                        nullptr),
              DISP_E_NONAMEDARGS);
    std::u16string unknown = u"Nope";
    LPOLESTR names[] = {unknown.data()};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    probe->Release();
}

TEST_F(Activation, ErrorObjectsArriveThroughVtableAndDispatch)
{
    IProbe* probe = Create();
    ASSERT_NE(probe, nullptr);
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(probe->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)),
              S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IProbe), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    support->Release();

    CComBSTR text(u"550 refused");
    EXPECT_EQ(probe->Fail(text), E_ABORT);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    CComBSTR description, source;
    GUID guid{};
    info->GetDescription(&description);
    info->GetSource(&source);
    info->GetGUID(&guid);
    EXPECT_EQ(std::u16string(description.m_str), u"550 refused");
    EXPECT_EQ(std::u16string(source.m_str), u"ComrtTest.Probe.1");
    EXPECT_EQ(guid, IID_IProbe);
    info->Release();
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE); // handed over once
    EXPECT_EQ(info, nullptr);

    EXCEPINFO excep{};
    EXPECT_EQ(Call(probe, u"Fail", DISPATCH_METHOD, {Text("530 login")}, nullptr, &excep),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_ABORT);
    EXPECT_EQ(NarrowFromBstr(excep.bstrDescription), "530 login");
    EXPECT_EQ(NarrowFromBstr(excep.bstrSource), "ComrtTest.Probe.1");
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    EXPECT_EQ(Call(probe, u"Fail", DISPATCH_METHOD, {Text("x")}), E_ABORT); // no EXCEPINFO: bare
    SetErrorInfo(0, nullptr);
    probe->Release();
}

TEST_F(Activation, ModuleStaysWhileUsedAndUnloadsWhenIdle)
{
    IProbe* probe = Create();
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(ComrtLoadedModuleCount(), 1u);
    CoFreeUnusedLibraries();
    EXPECT_EQ(ComrtLoadedModuleCount(), 1u); // an object is alive

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_Probe, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    probe->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(ComrtLoadedModuleCount(), 1u); // locked

    ASSERT_EQ(CoGetClassObject(CLSID_Probe, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();

    // Idle now: unloaded only once it has stayed idle for the whole delay, counted afresh after
    // any use.
    CoFreeUnusedLibraries();
    EXPECT_EQ(ComrtLoadedModuleCount(), 1u); // the default delay is minutes
    constexpr DWORD kDelay = 50;
    CoFreeUnusedLibrariesEx(kDelay, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(kDelay + 10));
    Create()->Release(); // used again
    CoFreeUnusedLibrariesEx(kDelay, 0);
    EXPECT_EQ(ComrtLoadedModuleCount(), 1u) << "a use restarts the idle time";
    std::this_thread::sleep_for(std::chrono::milliseconds(kDelay + 10));
    CoFreeUnusedLibrariesEx(kDelay, 0);
    EXPECT_EQ(ComrtLoadedModuleCount(), 0u);
    EXPECT_EQ(dlopen(PROBE_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped";

    probe = Create(); // loads again
    ASSERT_NE(probe, nullptr);
    probe->Release();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(ComrtLoadedModuleCount(), 0u) << "no delay asked for";
}

TEST_F(Activation, RegisteringTwiceKeepsOneCopyAndUnregisteringKeepsClsid)
{
    const std::string once = m_hive.Read();
    ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
    EXPECT_EQ(m_hive.Read(), once);
    char full[PATH_MAX];
    ASSERT_NE(realpath(PROBE_SERVER_PATH, full), nullptr);
    EXPECT_EQ(DefaultOf("CLSID\\" + GuidToString(CLSID_Probe) + "\\InprocServer32"), full);

    ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
    HKEY clsid;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
    RegCloseKey(clsid);
    EXPECT_EQ(DefaultOf("CLSID\\" + GuidToString(CLSID_Probe)), "<no key>");
    EXPECT_EQ(DefaultOf("ComrtTest.Probe.1"), "<no key>");
    EXPECT_EQ(DefaultOf("TypeLib\\" + GuidToString(LIBID_ProbeLib)), "<no key>");
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
}

TEST_F(Activation, DamagedHiveIsAReadFailureNotAnUnregisteredClass)
{
    std::ofstream(m_hive.Path(), std::ios::app) << "[broken\n";
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
              REGDB_E_READREGDB);
    EXPECT_EQ(CallExport("DllRegisterServer"), HRESULT_FROM_WIN32(ERROR_REGISTRY_CORRUPT));
}

// Only a whole shared object of this machine reaches dlopen.
TEST(ModuleCheck, WholeSharedObjectsOnly)
{
    std::ifstream in(PROBE_SERVER_PATH, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 4096u);
    auto patched = [&](size_t offset, char byte)
    {
        std::string copy = whole;
        copy[offset] = byte;
        return copy;
    };
    struct Case
    {
        const char* Name;
        std::string Bytes;
        uint64_t FileSize;
        bool Whole;
    } cases[] = {
        {"whole module", whole, whole.size(), true},
        {"cut in half", whole.substr(0, whole.size() / 2), whole.size() / 2, false},
        {"cut just short", whole.substr(0, whole.size() - 1), whole.size() - 1, false},
        {"header only", whole.substr(0, 64), 64, false},
        {"text", "not a module", 12, false},
        {"32-bit class", patched(EI_CLASS, ELFCLASS32), whole.size(), false},
        {"an executable", patched(16, ET_EXEC), whole.size(), false},
        {"no program headers", patched(56, 0), whole.size(), false}, // e_phnum's low byte
    };
    for (const Case& c : cases)
    {
        std::string_view head = std::string_view(c.Bytes).substr(0, kModuleHeadBytes);
        EXPECT_EQ(ModuleFileFault(head, c.FileSize).empty(), c.Whole)
            << c.Name << ": " << ModuleFileFault(head, c.FileSize);
    }

    // Files that are no module at all are refused without waiting on them (a FIFO has no writer).
    CTestHive scratch;
    const std::string fifo = scratch.Dir() + "/fifo.so";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, scratch.Dir()})
        EXPECT_EQ(ModuleFileFaultOfPath(path), "not a regular file") << path;
}
