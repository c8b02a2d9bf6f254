// What the FTP-side tests share: the last error object's text and whole-file reads and writes.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace lanvex::test
{

// The description the failing call left in this thread's error object.
inline std::string LastDescription()
{
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr)
        return "<none>";
    CComBSTR description;
    pInfo->GetDescription(&description);
    pInfo->Release();
    return NarrowFromBstr(description);
}

inline std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace lanvex::test
