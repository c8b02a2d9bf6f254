// Stand-ins for the refresh commands when the engine is not part of the build.
#include "watch/cli/cli_commands.h"

#include <cstdio>

static int Missing()
{
    std::fprintf(stderr, "psvigil-cli: this build has no watch engine\n");
    return 2;
}
int RunOnceCommand(const CliArgs&) { return Missing(); }
int RunWatchCommand(const CliArgs&) { return Missing(); }
