// Test program of the cache and the file operation: a QApplication for the dialog tests, then
// every test. With --configure-child it is instead the console program that calls Configure
// with no application and no display, exiting 0 when that gave S_FALSE.
#include "lanvex/ftp/shell_file.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>

namespace
{

int ConfigureAsConsoleProgram()
{
    void* pv = nullptr;
    if (lanvex::CreateComponent<lanvex::lvFTPShellFile>(nullptr, IID_IlvFTPShellFile, &pv) != S_OK)
        return 2;
    auto* pFile = static_cast<IlvFTPShellFile*>(pv);
    const HRESULT hr = pFile->Configure();
    pFile->Release();
    return hr == S_FALSE ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--configure-child") == 0)
        return ConfigureAsConsoleProgram();
    // Headless unless the caller picked a display (the screenshot runs under Xvfb).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
