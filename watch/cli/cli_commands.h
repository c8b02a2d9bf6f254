// The subcommands of psvigil-cli.
#pragma once

#include <string>
#include <vector>

using CliArgs = std::vector<std::string>;

int RunParseCommand(const CliArgs& args);
int RunOnceCommand(const CliArgs& args);
int RunWatchCommand(const CliArgs& args);
int RunHostsCommand(const CliArgs& args);
int RunLogCommand(const CliArgs& args);
