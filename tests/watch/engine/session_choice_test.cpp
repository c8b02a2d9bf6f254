// The engine's choice of session class per host, through the runtime, against a probe module
// registered for both classes in a throwaway hive.
#include "watch/engine/watch_engine.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

class SessionChoiceTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("session-choice-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        ::setenv("COMRT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override
    {
        CoUninitialize();
        ::unsetenv("COMRT_REGISTRY");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    static void Register(REFCLSID clsid)
    {
        const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
        ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, PROBE_MODULE_PATH, 0),
                  ERROR_SUCCESS);
    }
    // What the engine's own factory makes for a host: the CLSID the probe was created under.
    static std::string Created(const char* address, int32_t port, std::string* reason)
    {
        HostSettings host;
        SetAddress(host, address);
        host.Port = port;
        IlvTelnet* session = nullptr;
        if (FAILED(CWatchEngine::CreateTelnetThroughRuntime(&host, &session, reason)))
            return "failed";
        CComBSTR command(u"ps");
        session->Execute(command.m_str);
        char* output = nullptr;
        SHORT size = 0;
        session->GetOutput(&output, &size);
        const std::string clsid(output != nullptr ? output : "", static_cast<size_t>(size));
        session->Release();
        return clsid;
    }

    fs::path m_dir;
};

struct ChoiceCase
{
    const char* Label;
    const char* Address;
    int32_t Port;
    bool SecureShell;
};

const ChoiceCase kChoices[] = {
    {"TelnetByDefault", "host.example", 23, false},
    {"SchemeAnyPort", "ssh://host.example", 2222, true},
    {"SchemeInCapitals", "SSH://host.example", 23, true},
    {"Port22", "host.example", 22, true},
    {"SchemeNotAtTheStart", "host.ssh://x", 23, false},
    {"ShorterThanTheScheme", "ssh:/", 23, false},
};

TEST_F(SessionChoiceTest, EngineCreatesTheChosenClassThroughTheRuntime)
{
    Register(CLSID_lvTelnet);
    Register(CLSID_lvSecureShell);
    for (const ChoiceCase& c : kChoices)
    {
        SCOPED_TRACE(c.Label);
        std::string reason;
        EXPECT_EQ(Created(c.Address, c.Port, &reason),
                  GuidToString(c.SecureShell ? CLSID_lvSecureShell : CLSID_lvTelnet))
            << reason;
    }
}

TEST_F(SessionChoiceTest, UnregisteredClassIsNamedInTheReason)
{
    Register(CLSID_lvTelnet);
    std::string reason;
    EXPECT_EQ(Created("ssh://host.example", 22, &reason), "failed");
    EXPECT_EQ(reason, "the SSH component Lanvex.lvSecureShell is not registered");
    EXPECT_EQ(Created("host.example", 23, &reason), GuidToString(CLSID_lvTelnet));
}

} // namespace
