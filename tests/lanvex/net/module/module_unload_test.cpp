// The server module loaded, used and unloaded again several times in one process: the unload path
// touches nothing already destroyed (run under ASan in CI).
#include "lanvex/net/lanvex.h"
#include "tests/platform/com/test_hive.h"

#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <utility>

TEST(LanvexModule, LoadsUsesAndUnloadsSeveralTimes)
{
    CTestHive hive;
    ASSERT_EQ(RegisterServerModule(LANVEX_MODULE_PATH), S_OK) << ComrtLastErrorText();
    for (int round = 1; round <= 3; ++round)
    {
        SCOPED_TRACE(round);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        // Each class caches its own type information; all of it goes at unload.
        for (auto [clsid, portId] : {std::pair{CLSID_lvTelnet, 4}, {CLSID_lvFTPClient, 5}})
        {
            IDispatch* object = nullptr;
            ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(&object)),
                      S_OK)
                << ComrtLastErrorText();
            std::u16string name = u"Port";
            LPOLESTR names[] = {name.data()};
            DISPID id = DISPID_UNKNOWN;
            EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
            EXPECT_EQ(id, portId);
            object->Release();
        }
        EXPECT_EQ(ComrtLoadedModuleCount(), 1u);
        CoUninitialize(); // the last apartment: the idle module is unloaded
        EXPECT_EQ(ComrtLoadedModuleCount(), 0u);
        EXPECT_EQ(dlopen(LANVEX_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped";
    }
}
