// The server module loaded, used and unloaded again several times in one process: the unload path
// touches nothing already destroyed (run under ASan in CI).
#include "lanvex/net/lanvex.h"
#include "tests/platform/com/test_hive.h"

#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace
{

HRESULT RegisterModule()
{
    void* module = dlopen(LANVEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return E_FAIL;
    auto registerServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(module, "DllRegisterServer"));
    HRESULT hr = registerServer ? registerServer() : E_FAIL;
    dlclose(module);
    return hr;
}

// Puts Port through dispatch and reads it back: the type information is loaded and cached.
HRESULT PortRoundTrip(IDispatch* telnet, SHORT port, SHORT* back)
{
    std::u16string name = u"Port";
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (HRESULT hr = telnet->GetIDsOfNames(IID_NULL, names, 1, 0, &id); FAILED(hr))
        return hr;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I2;
    value.iVal = port;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams{&value, &put, 1, 1};
    if (HRESULT hr = telnet->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putParams, nullptr,
                                    nullptr, nullptr);
        FAILED(hr))
        return hr;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = telnet->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                nullptr);
    *back = result.iVal;
    VariantClear(&result);
    return hr;
}

} // namespace

TEST(LanvexModule, LoadsUsesAndUnloadsSeveralTimes)
{
    CTestHive hive;
    ASSERT_EQ(RegisterModule(), S_OK) << ComrtLastErrorText();
    for (SHORT round = 1; round <= 3; ++round)
    {
        SCOPED_TRACE(round);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        IDispatch* telnet = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_lvTelnet, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&telnet));
        EXPECT_EQ(hr, S_OK) << ComrtLastErrorText();
        if (telnet)
        {
            SHORT back = 0;
            EXPECT_EQ(PortRoundTrip(telnet, static_cast<SHORT>(2300 + round), &back), S_OK);
            EXPECT_EQ(back, 2300 + round);
            telnet->Release();
        }
        EXPECT_EQ(ComrtLoadedModuleCount(), 1u);
        CoUninitialize(); // the last apartment: the idle module is unloaded
        EXPECT_EQ(ComrtLoadedModuleCount(), 0u);
        EXPECT_EQ(dlopen(LANVEX_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped";
    }
}
