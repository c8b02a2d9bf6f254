// The cache and the file operation as clients meet them: registered into a throwaway hive,
// created by ProgID through the runtime and driven through IDispatch.
#include "lanvex/net/lanvex.h"

#include "platform/com/comrt.h"

#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
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

} // namespace
