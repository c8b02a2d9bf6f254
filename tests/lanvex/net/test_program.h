// Runs a program or a shell command line from a test, for the end-to-end tests of the tools.
#pragma once

#include <string>
#include <vector>

namespace lanvex::test
{

// Runs a shell command line; its exit status (-1 when it did not exit) and, appended to
// *pOutput, what it printed on both streams.
int RunShell(const std::string& command, std::string* pOutput);

// Runs a program with arguments, each passed as it is (no shell expansion).
int RunProgram(const std::vector<std::string>& args, std::string* pOutput);

} // namespace lanvex::test
