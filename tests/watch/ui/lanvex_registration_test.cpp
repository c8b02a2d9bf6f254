// The registration fallback: a missing telnet component is registered from the Lanvex found
// beside the program, in a temporary hive, and the reason tells what failed otherwise.
#include "watch/ui/lanvex_registration.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace
{
struct FallbackCase
{
    const char* Name;
    std::vector<std::string> Candidates; // "@" stands for the built Lanvex, "!" for a non-library
    bool Created;
    const char* ReasonHas;
};

std::ostream& operator<<(std::ostream& os, const FallbackCase& c)
{
    return os << c.Name;
}

class LanvexFallback : public ::testing::TestWithParam<FallbackCase>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_hive = m_dir.filePath("registry.reg");
        qputenv("COMRT_REGISTRY", m_hive.toLocal8Bit());
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override
    {
        CoUninitialize();
        qunsetenv("COMRT_REGISTRY");
    }

    QTemporaryDir m_dir;
    QString m_hive;
};

TEST_P(LanvexFallback, RegistersTheFirstLibraryFoundOrSaysWhy)
{
    const FallbackCase& c = GetParam();
#ifndef VIGIL_TEST_LANVEX
    if (c.Created)
        GTEST_SKIP() << "Lanvex is not built";
    const std::string built = "/nonexistent/libLanvex.so";
#else
    const std::string built = VIGIL_TEST_LANVEX;
#endif
    const std::string junk = m_dir.filePath("libLanvex.so").toStdString();
    {
        QFile file(QString::fromStdString(junk));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a library");
    }
    std::vector<std::string> candidates;
    for (const std::string& path : c.Candidates)
        candidates.push_back(path == "@" ? built : path == "!" ? junk : path);

    const auto factory =
        RegisteringTelnetFactory(CWatchEngine::CreateTelnetThroughRuntime, candidates);
    IlvTelnet* telnet = nullptr;
    std::string reason;
    const HRESULT hr = factory(nullptr, &telnet, &reason);
    EXPECT_EQ(SUCCEEDED(hr), c.Created) << reason;
    EXPECT_EQ(telnet != nullptr, c.Created);
    if (telnet != nullptr)
        telnet->Release();
    CoFreeUnusedLibraries();
    EXPECT_NE(reason.find(c.ReasonHas), std::string::npos) << reason;
    if (!c.Created)
    {
        EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
        // Every place looked at is named.
        for (const std::string& path : candidates)
            EXPECT_NE(reason.find(path), std::string::npos) << reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LanvexFallback,
    ::testing::Values(FallbackCase{"nothing to register", {}, false, "no Lanvex library"},
                      FallbackCase{"missing files are passed over",
                                   {"/nonexistent/lib/libLanvex.so", "/also/not/here.so"},
                                   false,
                                   "no Lanvex library was found"},
                      FallbackCase{"a file that is no library", {"!"}, false, "cannot load"},
                      FallbackCase{
                          "a file that is no library, then the built one", {"!", "@"}, true, ""},
                      FallbackCase{"the built library after a missing one",
                                   {"/nonexistent/lib/libLanvex.so", "@"},
                                   true,
                                   ""}),
    [](const ::testing::TestParamInfo<FallbackCase>& info)
    {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(LanvexFallbackPassThrough, OtherFailuresAreNotAnsweredByRegistering)
{
    int calls = 0;
    const auto factory = RegisteringTelnetFactory(
        [&](const HostSettings*, IlvTelnet**, std::string* reason)
        {
            ++calls;
            *reason = "refused";
            return E_FAIL;
        },
        {"/nonexistent/libLanvex.so"});
    IlvTelnet* telnet = nullptr;
    std::string reason;
    EXPECT_EQ(factory(nullptr, &telnet, &reason), E_FAIL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reason, "refused");
}

TEST(LanvexFallbackPlaces, InstalledLayoutFirstThenTheBuildTree)
{
    const std::vector<std::string> places = LanvexLibraryCandidates("/opt/vigil/bin");
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(places.front(), "/opt/vigil/bin/../lib/libLanvex.so");
    EXPECT_TRUE(LanvexLibraryCandidates("").size() < places.size());
}
} // namespace
