// Error objects of the components: description, ProgID looked up from the registry, interface.
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_error.h"

#include "platform/com/comrt.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace lanvex
{
namespace
{

TEST(ComponentError, CarriesTextSourceAndInterface)
{
    const std::filesystem::path hive = std::filesystem::temp_directory_path() /
                                       ("lanvex-error-" + std::to_string(::getpid()) + ".reg");
    ::setenv("COMRT_REGISTRY", hive.c_str(), 1);
    const char* pszKey = "CLSID\\{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}\\ProgID";
    const char* pszProgID = "Lanvex.lvFTPClient.1";
    ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, pszKey, REG_SZ, pszProgID, 0), ERROR_SUCCESS);

    EXPECT_EQ(ReportComponentError(E_ABORT, CLSID_lvFTPClient, IID_IlvFTPClient,
                                   "550 /nowhere: No such file or directory\r\n"),
              E_ABORT);
    IErrorInfo* pInfo = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &pInfo), S_OK);
    CComBSTR description, source;
    GUID guid{};
    pInfo->GetDescription(&description);
    pInfo->GetSource(&source);
    pInfo->GetGUID(&guid);
    pInfo->Release();
    EXPECT_EQ(NarrowFromBstr(description), "550 /nowhere: No such file or directory\r\n");
    EXPECT_EQ(NarrowFromBstr(source), "Lanvex.lvFTPClient.1");
    EXPECT_EQ(guid, IID_IlvFTPClient);

    // Unregistered: the error object still arrives, without a source.
    EXPECT_EQ(ReportComponentError(E_FAIL, CLSID_lvCache, IID_IlvCache, "x"), E_FAIL);
    ASSERT_EQ(GetErrorInfo(0, &pInfo), S_OK);
    CComBSTR noSource;
    pInfo->GetSource(&noSource);
    pInfo->Release();
    EXPECT_EQ(noSource.Length(), 0u);

    ::unsetenv("COMRT_REGISTRY");
    std::filesystem::remove(hive);
    std::filesystem::remove(hive.string() + ".lock");
}

} // namespace
} // namespace lanvex
