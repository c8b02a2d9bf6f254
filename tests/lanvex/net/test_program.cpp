// Runs a program or a shell command line from a test, for the end-to-end tests of the tools.
#include "tests/lanvex/net/test_program.h"

#include <cstdio>
#include <sys/wait.h>

namespace lanvex::test
{

int RunShell(const std::string& command, std::string* pOutput)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        pOutput->append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgram(const std::vector<std::string>& args, std::string* pOutput)
{
    std::string command;
    for (const std::string& arg : args)
    {
        command += "'";
        for (char c : arg)
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "' ";
    }
    return RunShell(command, pOutput);
}

} // namespace lanvex::test
