// The cache and the file operation as clients meet them: registered into a throwaway hive,
// created by ProgID through the runtime and driven through IDispatch.
#include "lanvex/net/lanvex.h"

#include "platform/com/comrt.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

class StorageModule : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("lanvex-storage-hive-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        ::setenv("COMRT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
        void* pModule = ::dlopen(LANVEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(pModule, nullptr) << ::dlerror();
        auto* pRegister =
            reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(pModule, "DllRegisterServer"));
        ASSERT_NE(pRegister, nullptr);
        ASSERT_EQ(pRegister(), S_OK);
        ::dlclose(pModule);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        CoUninitialize();
        ::unsetenv("COMRT_REGISTRY");
        fs::remove_all(m_dir);
    }

    // Creates ProgID's object for IDispatch; the caller releases it.
    IDispatch* Create(const char16_t* pszProgID)
    {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(pszProgID, &clsid), S_OK);
        IDispatch* pDispatch = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&pDispatch)),
                  S_OK)
            << ComrtLastErrorText();
        return pDispatch;
    }

    static HRESULT Put(IDispatch* pDispatch, const char16_t* pszName, VARIANT value)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(pszName);
        HRESULT hr = pDispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
        if (FAILED(hr))
            return hr;
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &putId, 1, 1};
        return pDispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                                 nullptr);
    }

    static HRESULT Get(IDispatch* pDispatch, const char16_t* pszName, VARIANT* pResult)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(pszName);
        HRESULT hr = pDispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
        if (FAILED(hr))
            return hr;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        return pDispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none,
                                 pResult, nullptr, nullptr);
    }

    fs::path m_dir;
};

TEST_F(StorageModule, BothClassesCreatedAndDrivenThroughDispatch)
{
    const struct
    {
        const char16_t* ProgID;
        const char16_t* Property;
        VARTYPE Type;
        LONG Value;
        bool ErrorInfo;
    } classes[] = {{u"Lanvex.lvCache", u"Type", VT_I2, 1, true},
                   {u"Lanvex.lvFTPShellFile", u"Function", VT_I2, 3, false},
                   {u"Lanvex.lvFTPShellFile.1", u"CreateDestDirectories", VT_I4, 0, false}};
    for (const auto& c : classes)
    {
        IDispatch* pDispatch = Create(c.ProgID);
        ASSERT_NE(pDispatch, nullptr);
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = c.Value;
        EXPECT_EQ(Put(pDispatch, c.Property, value), S_OK);
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(Get(pDispatch, c.Property, &result), S_OK);
        EXPECT_EQ(result.vt, c.Type);
        EXPECT_EQ(c.Type == VT_I2 ? result.iVal : result.lVal, c.Value);

        ISupportErrorInfo* pInfo = nullptr;
        EXPECT_EQ(
            pDispatch->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pInfo)),
            c.ErrorInfo ? S_OK : E_NOINTERFACE);
        if (pInfo != nullptr)
            pInfo->Release();
        pDispatch->Release();
    }

    // Texts cross as counted strings and come back as fresh copies.
    IDispatch* pDispatch = Create(u"Lanvex.lvFTPShellFile");
    ASSERT_NE(pDispatch, nullptr);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"/pub/*.txt");
    EXPECT_EQ(Put(pDispatch, u"From", text), S_OK);
    VariantClear(&text);
    EXPECT_EQ(Get(pDispatch, u"From", &text), S_OK);
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(text.bstrVal), u"/pub/*.txt");
    VariantClear(&text);
    pDispatch->Release();
}

// The real vsftpd: a copy through the runtime's dispatch, then a delete through comcall.
TEST_F(StorageModule, ExecuteThroughDispatchAndComcall)
{
    const char* pszPort = std::getenv("VIGIL_FTP_PORT");
    const char* pszUser = std::getenv("VIGIL_FTP_USER");
    const char* pszPassword = std::getenv("VIGIL_FTP_PASSWORD");
    if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
        GTEST_SKIP() << "no FTP peer: run the tests through scripts/test as root";
    const std::string remote = "lvshell-module-" + std::to_string(::getpid());
    const fs::path local = m_dir / "copy";
    const std::string server = std::string("127.0.0.1:") + pszPort;

    // The remote directory and its file, through a client the runtime created.
    IlvFTPClient2* pClient = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_lvFTPClient, nullptr, CLSCTX_INPROC_SERVER, IID_IlvFTPClient2,
                               reinterpret_cast<void**>(&pClient)),
              S_OK);
    std::ofstream(m_dir / "up.txt") << "uploaded";
    pClient->put_Address(CComBSTR(u"127.0.0.1"));
    pClient->put_Port(static_cast<SHORT>(std::atoi(pszPort)));
    pClient->put_Username(CComBSTR(std::string_view(pszUser)));
    pClient->put_Password(CComBSTR(std::string_view(pszPassword)));
    EXPECT_EQ(pClient->Connect(), S_OK);
    EXPECT_EQ(pClient->CreateDir(CComBSTR(std::string_view(remote))), S_OK);
    EXPECT_EQ(pClient->WriteFile(CComBSTR(std::string_view((m_dir / "up.txt").string())),
                                 CComBSTR(std::string_view(remote + "/a.txt"))),
              S_OK);
    pClient->Disconnect();
    pClient->Release();

    IDispatch* pFile = Create(u"Lanvex.lvFTPShellFile");
    ASSERT_NE(pFile, nullptr);
    const std::pair<const char16_t*, std::string> texts[] = {{u"Server", server},
                                                             {u"Username", pszUser},
                                                             {u"Password", pszPassword},
                                                             {u"From", remote + "/*.txt"},
                                                             {u"To", local.string()}};
    for (const auto& [name, text] : texts)
    {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = BstrFromNarrow(text);
        EXPECT_EQ(Put(pFile, name, value), S_OK);
        VariantClear(&value);
    }
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Get(pFile, u"Execute", &result), S_OK);
    VariantClear(&result);
    pFile->Release();
    std::ifstream in(local / "a.txt");
    std::stringstream copied;
    copied << in.rdbuf();
    EXPECT_EQ(copied.str(), "uploaded");

#ifdef COMCALL_PATH
    // Delete the whole remote directory from the shell.
    const std::string command = std::string(COMCALL_PATH) +
                                " Lanvex.lvFTPShellFile Server=" + server + " Username=" + pszUser +
                                " Password=" + pszPassword + " Function=3 From=" + remote +
                                " Execute >/dev/null 2>&1";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    status = std::system(command.c_str()); // gone: no match this time, exit status 1
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << command;
#endif
}

} // namespace
