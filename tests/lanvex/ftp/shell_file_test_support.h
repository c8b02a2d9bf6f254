// An lvFTPShellFile made directly (no runtime), released at scope end.
#pragma once

#include "lanvex/ftp/shell_file.h"

#include <gtest/gtest.h>

namespace lanvex
{

struct ShellFilePtr
{
    IlvFTPShellFile* p = nullptr;
    ShellFilePtr()
    {
        void* pv = nullptr;
        EXPECT_EQ(CreateComponent<lvFTPShellFile>(nullptr, IID_IlvFTPShellFile, &pv), S_OK);
        p = static_cast<IlvFTPShellFile*>(pv);
    }
    ~ShellFilePtr() { p->Release(); }
    ShellFilePtr(const ShellFilePtr&) = delete;
    ShellFilePtr& operator=(const ShellFilePtr&) = delete;
    IlvFTPShellFile* operator->() const { return p; }
};

} // namespace lanvex
