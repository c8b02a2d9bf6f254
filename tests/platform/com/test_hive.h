// A temporary registry hive for one test: COMRT_REGISTRY points at a fresh file in a fresh folder.
#pragma once

#include "platform/com/activation.h"

#include <string>

class CTestHive
{
  public:
    CTestHive();
    ~CTestHive();
    const std::string& Path() const { return m_path; }
    const std::string& Dir() const { return m_dir; }
    std::string Read() const;            // the hive file's text ("" when absent)
    void Write(const std::string& text); // replaces the hive file

  private:
    std::string m_dir;
    std::string m_path;
};

// Registers an in-process server through its own DllRegisterServer, from a private load that is
// undone again: S_OK, the server's failure, or E_FAIL when it has no such export.
HRESULT RegisterServerModule(const std::string& path);
