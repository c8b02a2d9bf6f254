// The server module as the runtime sees it: exports, class objects, lock counting, registration
// into a throwaway hive, activation by CLSID and dispatch through the type library.
#include "lanvex/net/lanvex.h"

#include "platform/com/comrt.h"
#include "tests/lanvex/net/test_program.h"
#include "tests/platform/com/test_hive.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

const CLSID kShellFileDlgClsid = MakeGuid("{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}");

// The module's exports, from a private dlopen of the library.
struct CModule
{
    void* Handle = nullptr;
    LPFNGETCLASSOBJECT GetClassObject = nullptr;
    LPFNCANUNLOADNOW CanUnloadNow = nullptr;
    LPFNREGISTERSERVER Register = nullptr;
    LPFNREGISTERSERVER Unregister = nullptr;

    explicit CModule(const std::string& path = LANVEX_MODULE_PATH)
    {
        Handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Handle == nullptr)
            return;
        GetClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(Handle, "DllGetClassObject"));
        CanUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(Handle, "DllCanUnloadNow"));
        Register = reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(Handle, "DllRegisterServer"));
        Unregister = reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(Handle, "DllUnregisterServer"));
    }
    ~CModule()
    {
        if (Handle != nullptr)
            ::dlclose(Handle);
    }
    bool Loaded() const { return GetClassObject && CanUnloadNow && Register && Unregister; }
};

std::string DefaultValue(const std::string& key, const char* pszName = nullptr)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return "<missing key>";
    char buffer[1024] = {};
    DWORD nSize = sizeof buffer;
    DWORD nType = 0;
    const LONG rc =
        RegQueryValueEx(hKey, pszName, nullptr, &nType, reinterpret_cast<BYTE*>(buffer), &nSize);
    RegCloseKey(hKey);
    return rc == ERROR_SUCCESS ? std::string(buffer) : "<missing value>";
}

bool KeyExists(const std::string& key)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

using lanvex::test::RunProgram;

// Releases at scope end, so that a failed assertion leaves nothing behind.
template <class T> struct CReleasing
{
    T* p = nullptr;
    ~CReleasing()
    {
        if (p != nullptr)
            p->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&p); }
    T* operator->() const { return p; }
};

struct CApartment
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~CApartment()
    {
        if (SUCCEEDED(hr))
        {
            CoFreeUnusedLibraries();
            CoUninitialize();
        }
    }
};

const std::string kClassKey = "CLSID\\{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}";
const std::string kTypeLibKey = "TypeLib\\{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}";

TEST(LanvexServer, ClassObjectsAndLockCounting)
{
    CModule module;
    ASSERT_TRUE(module.Loaded()) << ::dlerror();
    EXPECT_EQ(module.GetClassObject(CLSID_lvTelnet, IID_IClassFactory, nullptr), E_POINTER);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(kShellFileDlgClsid, IID_IClassFactory, &pv),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);

    IClassFactory* pFactory = nullptr;
    IClassFactory* pAgain = nullptr;
    ASSERT_EQ(module.GetClassObject(CLSID_lvTelnet, IID_IClassFactory,
                                    reinterpret_cast<void**>(&pFactory)),
              S_OK);
    ASSERT_EQ(
        module.GetClassObject(CLSID_lvTelnet, IID_IUnknown, reinterpret_cast<void**>(&pAgain)),
        S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(pFactory), static_cast<IUnknown*>(pAgain));
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE); // a client holds the class object
    pAgain->Release();

    // Creation: argument checks, aggregation rule, a failing query destroys the new object.
    EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IlvTelnet, nullptr), E_POINTER);
    IUnknown* pOuter = pFactory; // any object will do as the would-be outer
    EXPECT_EQ(pFactory->CreateInstance(pOuter, IID_IlvTelnet, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IlvCache, &pv), E_NOINTERFACE);
    IlvTelnet* pTelnet = nullptr;
    ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IlvTelnet, reinterpret_cast<void**>(&pTelnet)),
              S_OK);
    pFactory->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE); // the object is alive
    pTelnet->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);

    ASSERT_EQ(module.GetClassObject(CLSID_lvTelnet, IID_IClassFactory,
                                    reinterpret_cast<void**>(&pFactory)),
              S_OK);
    pFactory->LockServer(TRUE);
    pFactory->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    ASSERT_EQ(module.GetClassObject(CLSID_lvTelnet, IID_IClassFactory,
                                    reinterpret_cast<void**>(&pFactory)),
              S_OK);
    pFactory->LockServer(FALSE);
    pFactory->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST(LanvexServer, RegistrationWritesTheKeysOnceAndUnregistrationRemovesThem)
{
    CTestHive hive;
#ifdef COMREG_PATH
    std::string output;
    ASSERT_EQ(RunProgram({COMREG_PATH, LANVEX_MODULE_PATH}, &output), 0) << output;
#else
    CModule module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_EQ(module.Register(), S_OK);
#endif
    const std::string modulePath = fs::canonical(LANVEX_MODULE_PATH).string();
    EXPECT_EQ(DefaultValue("Lanvex.lvTelnet.1"), "lvTelnet Class");
    EXPECT_EQ(DefaultValue("Lanvex.lvTelnet.1\\CLSID"), "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}");
    EXPECT_EQ(DefaultValue("Lanvex.lvTelnet"), "lvTelnet Class");
    EXPECT_EQ(DefaultValue("Lanvex.lvTelnet\\CLSID"), "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}");
    EXPECT_EQ(DefaultValue("Lanvex.lvTelnet\\CurVer"), "Lanvex.lvTelnet.1");
    EXPECT_EQ(DefaultValue(kClassKey), "lvTelnet Class");
    EXPECT_EQ(DefaultValue(kClassKey + "\\ProgID"), "Lanvex.lvTelnet.1");
    EXPECT_EQ(DefaultValue(kClassKey + "\\VersionIndependentProgID"), "Lanvex.lvTelnet");
    EXPECT_TRUE(KeyExists(kClassKey + "\\Programmable"));
    EXPECT_EQ(fs::canonical(DefaultValue(kClassKey + "\\InprocServer32")).string(), modulePath);
    EXPECT_EQ(DefaultValue(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(DefaultValue(kClassKey + "\\TypeLib"), "{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}");
    EXPECT_TRUE(KeyExists(kTypeLibKey + "\\1.0"));
    EXPECT_FALSE(KeyExists("CLSID\\{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}"));
    EXPECT_FALSE(KeyExists("Lanvex.lvFTPShellFileDlg"));

    // A second registration rewrites the ForceRemove keys: stale subkeys go, one copy stays.
    HKEY hStale = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, (kClassKey + "\\Stale").c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &hStale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hStale);
    {
        CModule again;
        ASSERT_TRUE(again.Loaded());
        ASSERT_EQ(again.Register(), S_OK);
        EXPECT_FALSE(KeyExists(kClassKey + "\\Stale"));
        EXPECT_EQ(Count(hive.Read(), "[HKEY_CLASSES_ROOT\\" + kClassKey + "]"), 1u);
        EXPECT_EQ(Count(hive.Read(), "[HKEY_CLASSES_ROOT\\Lanvex.lvTelnet]"), 1u);

        EXPECT_EQ(again.Unregister(), S_OK);
    }
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists("Lanvex.lvTelnet"));
    EXPECT_FALSE(KeyExists("Lanvex.lvTelnet.1"));
    EXPECT_FALSE(KeyExists(kTypeLibKey));
}

TEST(LanvexServer, ModulePathWithAQuoteIsWrittenIntact)
{
    CTestHive hive;
    const fs::path dir = fs::path(hive.Dir()) / "it's here";
    fs::create_directories(dir);
    const fs::path copy = dir / "libLanvex.so";
    fs::copy_file(LANVEX_MODULE_PATH, copy);
    {
        CModule module(copy.string());
        ASSERT_TRUE(module.Loaded()) << ::dlerror();
        ASSERT_EQ(module.Register(), S_OK);
        EXPECT_EQ(DefaultValue(kClassKey + "\\InprocServer32"), copy.string());
        module.Unregister();
    }
}

// Activation by CLSID and ProgID through the runtime, then the generic dispatch.
TEST(LanvexServer, CreatedByClsidAndDrivenThroughDispatch)
{
    CTestHive hive;
    {
        CModule module;
        ASSERT_TRUE(module.Loaded());
        ASSERT_EQ(module.Register(), S_OK);
    }
    CApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.hr));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Lanvex.lvTelnet", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_lvTelnet);

    CReleasing<IlvTelnet2> telnet;
    ASSERT_EQ(CoCreateInstance(CLSID_lvTelnet, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet2,
                               telnet.Out()),
              S_OK)
        << ComrtLastErrorText();
    CReleasing<IDispatch> dispatch;
    ASSERT_EQ(telnet->QueryInterface(IID_IDispatch, dispatch.Out()), S_OK);

    const struct
    {
        const char16_t* Name;
        DISPID Id;
    } names[] = {{u"Address", 1}, {u"Port", 4},      {u"Connect", 5},
                 {u"Execute", 8}, {u"GetOutput", 9}, {u"GetOutputSize", 10}};
    for (const auto& n : names)
    {
        LPOLESTR pszName = const_cast<LPOLESTR>(n.Name);
        DISPID id = -99;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &pszName, 1, 0, &id), S_OK);
        EXPECT_EQ(id, n.Id);
    }

    // put Port = 2323, then read it back through dispatch.
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 2323;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &putId, 1, 1};
    EXPECT_EQ(
        dispatch->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
        S_OK);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        dispatch->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 2323);
    EXPECT_EQ(dispatch->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              S_FALSE); // IsConnected on a fresh object
    VariantClear(&result);
    EXPECT_EQ(dispatch->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 0);
}

// The real thing: the standard telnet server that scripts/peers starts, a real login, real ps.
class RealTelnetServer : public testing::Test
{
  protected:
    void SetUp() override
    {
        const char* pszPort = std::getenv("VIGIL_TELNET_PORT");
        const char* pszUser = std::getenv("VIGIL_TELNET_USER");
        const char* pszPassword = std::getenv("VIGIL_TELNET_PASSWORD");
        if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
            GTEST_SKIP() << "no telnet peer: run the tests through scripts/test as root "
                            "(scripts/peers starts the standard telnet server)";
        m_port = pszPort;
        m_user = pszUser;
        m_password = pszPassword;
    }
    std::string m_port, m_user, m_password;
};

TEST_F(RealTelnetServer, LogsInAndFindsItsOwnProcessInPs)
{
    CTestHive hive;
    {
        CModule module;
        ASSERT_TRUE(module.Loaded());
        ASSERT_EQ(module.Register(), S_OK);
    }
    CApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.hr));
    CReleasing<IlvTelnet> telnet;
    ASSERT_EQ(CoCreateInstance(CLSID_lvTelnet, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet,
                               telnet.Out()),
              S_OK)
        << ComrtLastErrorText();
    CComBSTR address(u"127.0.0.1"), command(u"ps -ef");
    CComBSTR user{std::string_view(m_user)};
    CComBSTR password{std::string_view(m_password)};
    telnet->put_Address(address);
    telnet->put_Username(user);
    telnet->put_Password(password);
    telnet->put_Port(static_cast<SHORT>(std::stoi(m_port)));
    ASSERT_EQ(telnet->Connect(), S_OK);
    EXPECT_EQ(telnet->IsConnected(), S_OK);
    EXPECT_EQ(telnet->Execute(command), S_OK);
    CReleasing<IlvTelnet2> telnet2;
    ASSERT_EQ(telnet->QueryInterface(IID_IlvTelnet2, telnet2.Out()), S_OK);
    char* pOutput = nullptr;
    LONG nSize = 0;
    telnet->GetOutput(&pOutput, nullptr);
    telnet2->GetOutputSize(&nSize);
    ASSERT_NE(pOutput, nullptr);
    const std::string output(pOutput, static_cast<size_t>(nSize));
    EXPECT_EQ(output.rfind("ps -ef", 0), 0u) << output.substr(0, 200); // the echo comes first
    // ps -ef: UID, then the PID column.
    const std::string pid = " " + std::to_string(::getpid()) + " ";
    EXPECT_NE(output.find(pid), std::string::npos) << "pid" << pid << "not in:\n" << output;
    EXPECT_EQ(telnet->Disconnect(), S_OK);
}

TEST_F(RealTelnetServer, ComcallDrivesLvTelnet)
{
#if defined(COMREG_PATH) && defined(COMCALL_PATH)
    CTestHive hive;
    std::string output;
    ASSERT_EQ(RunProgram({COMREG_PATH, LANVEX_MODULE_PATH}, &output), 0) << output;
    output.clear();
    const int status = RunProgram({COMCALL_PATH, "Lanvex.lvTelnet", "Address=127.0.0.1",
                                   "Port=" + m_port, "Username=" + m_user, "Password=" + m_password,
                                   "Connect", "IsConnected", "Disconnect"},
                                  &output);
    EXPECT_EQ(status, 0) << output;
#else
    GTEST_SKIP() << "comreg and comcall are not built";
#endif
}

} // namespace
