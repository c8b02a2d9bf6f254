// Stand-ins for the file commands when the file formats are not part of the build.
#include "watch/cli/cli_commands.h"

#include <cstdio>

static int Missing()
{
    std::fprintf(stderr, "psvigil-cli: this build has no file support\n");
    return 2;
}
int RunHostsCommand(const CliArgs&) { return Missing(); }
int RunLogCommand(const CliArgs&) { return Missing(); }
