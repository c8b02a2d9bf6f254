// The registration fallback, in a temporary hive: a missing telnet component is registered
// from the first Lanvex that loads, and the reason tells what failed otherwise.
#include "watch/ui/app/lanvex_registration.h"

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
    std::vector<std::string> Candidates; // "@" the built Lanvex, "!" a file that is no library
    bool Created;
    const char* ReasonHas;
};

std::ostream& operator<<(std::ostream& os, const FallbackCase& c)
{
    return os << c.Name;
}

class LanvexFallback : public ::testing::TestWithParam<FallbackCase>
{
};

TEST_P(LanvexFallback, RegistersTheFirstLibraryThatLoadsOrSaysWhy)
{
    const FallbackCase& c = GetParam();
#ifdef VIGIL_TEST_LANVEX
    const std::string built = VIGIL_TEST_LANVEX;
#else
    if (c.Created)
        GTEST_SKIP() << "Lanvex is not built";
    const std::string built = "/nonexistent/libLanvex.so";
#endif
    QTemporaryDir dir;
    qputenv("COMRT_REGISTRY", dir.filePath("registry.reg").toLocal8Bit());
    const std::string junk = dir.filePath("libLanvex.so").toStdString();
    QFile file(QString::fromStdString(junk));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a library") > 0);
    file.close();
    std::vector<std::string> candidates;
    for (const std::string& path : c.Candidates)
        candidates.push_back(path == "@" ? built : path == "!" ? junk : path);

    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IlvTelnet* telnet = nullptr;
    std::string reason;
    const HRESULT hr = RegisteringTelnetFactory(CWatchEngine::CreateTelnetThroughRuntime,
                                                candidates)(nullptr, &telnet, &reason);
    EXPECT_EQ(telnet != nullptr, c.Created);
    if (telnet != nullptr)
        telnet->Release();
    CoUninitialize();
    qunsetenv("COMRT_REGISTRY");

    EXPECT_EQ(hr, c.Created ? S_OK : REGDB_E_CLASSNOTREG) << reason;
    EXPECT_NE(reason.find(c.ReasonHas), std::string::npos) << reason;
    // Every place looked at is named.
    for (const std::string& path : c.Created ? std::vector<std::string>{} : candidates)
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LanvexFallback,
    ::testing::Values(FallbackCase{"nothing to register", {}, false, "no Lanvex library"},
                      FallbackCase{"missing files are passed over",
                                   {"/nonexistent/lib/libLanvex.so", "/also/not/here.so"},
                                   false,
                                   "no Lanvex library was found"},
                      FallbackCase{"a file that is no library", {"!"}, false, "cannot load"},
                      FallbackCase{"a file that is no library, then the built one",
                                   {"!", "/nonexistent/libLanvex.so", "@"},
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

// At start: an empty hive gets the built Lanvex; a hive naming a library that is gone, too.
TEST(LanvexAtStart, RegistersWhenTheHiveHasNoUsableEntry)
{
#ifndef VIGIL_TEST_LANVEX
    GTEST_SKIP() << "Lanvex is not built";
#else
    QTemporaryDir dir;
    qputenv("COMRT_REGISTRY", dir.filePath("registry.reg").toLocal8Bit());
    EXPECT_FALSE(RegisterLanvexIfMissing({"/nonexistent/libLanvex.so"}));
    const std::string copy = dir.filePath("libLanvex.so").toStdString();
    ASSERT_TRUE(QFile::copy(VIGIL_TEST_LANVEX, QString::fromStdString(copy)));
    EXPECT_TRUE(RegisterLanvexIfMissing({copy}));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(copy))); // the entry now names nothing
    EXPECT_TRUE(RegisterLanvexIfMissing({"/nonexistent/libLanvex.so", VIGIL_TEST_LANVEX}));
    qunsetenv("COMRT_REGISTRY");
#endif
}

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
    std::string reason;
    IlvTelnet* telnet = nullptr;
    EXPECT_EQ(factory(nullptr, &telnet, &reason), E_FAIL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reason, "refused");
}

TEST(LanvexCandidates, OnlyTheLibraryBesideTheProgram)
{
    // An installed or copied program never reaches back into the tree it was built in.
    EXPECT_EQ(LanvexLibraryCandidates("/opt/vigilor/bin"),
              std::vector<std::string>{"/opt/vigilor/bin/../lib/libLanvex.so.1"});
    EXPECT_TRUE(LanvexLibraryCandidates("").empty());
}
} // namespace
