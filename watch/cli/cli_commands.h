// The subcommands of psvigil-cli.
#pragma once

#include "watch/engine/host_settings.h"

#include <string>
#include <vector>

using CliArgs = std::vector<std::string>;

int RunParseCommand(const CliArgs& args);
int RunOnceCommand(const CliArgs& args);
int RunWatchCommand(const CliArgs& args);
int RunHostsCommand(const CliArgs& args);
int RunLogCommand(const CliArgs& args);
int RunSignalCommand(const CliArgs& args);

// The host and its options as once reads them (HOST first); false when they do not parse.
bool ParseCliHost(const CliArgs& args, HostSettings& host);
