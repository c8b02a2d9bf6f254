// Per-thread state (apartments, error objects), concurrent registry writers, unloading under races.
#include "platform/com/comrt.h"
#include "tests/platform/com/test_hive.h"
#include "tests/tools/probe_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <thread>
#include <vector>

TEST(Threads, ApartmentsAreCountedPerThread)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    HRESULT other = S_OK, first = E_FAIL;
    std::thread worker(
        [&]
        {
            void* out = nullptr;
            other =
                CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out);
            first = CoInitializeEx(nullptr, COINIT_MULTITHREADED); // its own choice of model
            CoUninitialize();
        });
    worker.join();
    EXPECT_EQ(other, CO_E_NOTINITIALIZED);
    EXPECT_EQ(first, S_OK);
    EXPECT_TRUE(ComrtIsInitialized());
    CoUninitialize();
    EXPECT_FALSE(ComrtIsInitialized());
}

TEST(Threads, EachThreadHasItsOwnErrorObject)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    SetErrorInfo(0, info);
    info->Release();

    HRESULT seen = S_OK;
    std::thread worker(
        [&]
        {
            IErrorInfo* none = nullptr;
            seen = GetErrorInfo(0, &none);
            ComrtReportError(E_FAIL, GUID_NULL, u"worker", "left behind at thread exit");
        });
    worker.join();
    EXPECT_EQ(seen, S_FALSE);
    IErrorInfo* mine = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &mine), S_OK);
    mine->Release();
}

TEST(Threads, ConcurrentRegistryWritersLoseNothing)
{
    CTestHive hive;
    constexpr int kThreads = 4, kKeys = 25;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [t, &failures]
            {
                for (int k = 0; k < kKeys; ++k)
                {
                    std::string path = "Race\\T" + std::to_string(t) + "K" + std::to_string(k);
                    HKEY key;
                    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                       nullptr, &key, nullptr) != ERROR_SUCCESS)
                    {
                        ++failures[t];
                        continue;
                    }
                    const BYTE v[] = "x";
                    failures[t] += RegSetValueEx(key, "V", 0, REG_SZ, v, sizeof v) != ERROR_SUCCESS;
                    RegCloseKey(key);
                }
            });
    for (std::thread& t : threads)
        t.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
    HKEY race;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Race", 0, KEY_READ, &race), ERROR_SUCCESS);
    DWORD count = 0;
    char name[32];
    DWORD cch = sizeof name;
    while (RegEnumKeyEx(race, count, name, &cch, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS)
        ++count, cch = sizeof name;
    EXPECT_EQ(count, static_cast<DWORD>(kThreads * kKeys));
    RegCloseKey(race);
}

// Last releases on one thread while another keeps freeing unused libraries: a module is unmapped
// only after it has been idle for the delay, never under a Release still returning into it.
TEST(Threads, ReleasesRaceFreeingUnusedLibraries)
{
    CTestHive hive;
    void* module = dlopen(PROBE_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(module, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK) << ComrtLastErrorText();
    dlclose(module);

    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    std::atomic<bool> done{false};
    std::atomic<int> sweeps{0};
    std::thread freer(
        [&]
        {
            while (!done)
            {
                CoFreeUnusedLibrariesEx(5, 0);
                ++sweeps;
                std::this_thread::yield();
            }
        });
    int failures = 0, unloads = 0;
    for (int round = 0; round < 300; ++round)
    {
        IUnknown* object = nullptr;
        failures += FAILED(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IUnknown, reinterpret_cast<void**>(&object)));
        if (object)
            object->Release();
        if (round % 50 == 49) // idle until the module goes (bounded), then it loads again
        {
            for (int wait = 0; wait < 500 && ComrtLoadedModuleCount() != 0; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            unloads += ComrtLoadedModuleCount() == 0;
        }
    }
    done = true;
    freer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(unloads, 6);
    EXPECT_GT(sweeps.load(), 0);
    CoUninitialize(); // the last apartment: the idle module goes at once
    EXPECT_EQ(ComrtLoadedModuleCount(), 0u);
}
