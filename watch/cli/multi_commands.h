// psvigil-cli over a whole host list: once --all, watch --all and serve.
#pragma once

#include "watch/cli/cli_commands.h"
#include "watch/engine/host_settings.h"

#include <string>
#include <vector>

int RunOnceAllCommand(const CliArgs& args);
int RunWatchAllCommand(const CliArgs& args);
int RunServeCommand(const CliArgs& args);

// The hosts of a psvigil.cfg; false (and why on standard error) when there are none.
bool LoadHostsForAll(const std::string& path, std::vector<HostSettings>& hosts);

// Ctrl+C and SIGTERM ask the command to end; it ends every session before it exits.
void InstallStopSignals();
bool StopRequested();
