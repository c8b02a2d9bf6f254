// A temporary registry hive for one test.
#include "tests/platform/com/test_hive.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

CTestHive::CTestHive()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "comrt-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    m_path = m_dir + "/registry.reg";
    setenv("COMRT_REGISTRY", m_path.c_str(), 1);
}

CTestHive::~CTestHive()
{
    unsetenv("COMRT_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string CTestHive::Read() const
{
    std::ifstream file(m_path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void CTestHive::Write(const std::string& text)
{
    std::ofstream file(m_path, std::ios::binary | std::ios::trunc);
    file << text;
}

HRESULT RegisterServerModule(const std::string& path)
{
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return E_FAIL;
    auto registerServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(module, "DllRegisterServer"));
    const HRESULT hr = registerServer ? registerServer() : E_FAIL;
    dlclose(module);
    return hr;
}
