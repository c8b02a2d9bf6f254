// The options psvigil answers before any window exists: --help, --version and --desktop.
#pragma once

#include <string>
#include <vector>

struct EarlyOptions
{
    bool Help = false;
    bool Version = false;
    // Started from a desktop entry: work in the user's configuration folder for psvigil.
    bool Desktop = false;
    // The first option neither psvigil nor Qt knows; psvigil then prints its usage and exits 2.
    std::string Unknown;
};

// Reads the options that need no display; files and Qt's own options are left to the
// application.
EarlyOptions ParseEarlyOptions(const std::vector<std::string>& arguments);

std::string HelpText();
std::string VersionText();

// $XDG_CONFIG_HOME/psvigil, or ~/.config/psvigil when XDG_CONFIG_HOME is unset or relative;
// empty when neither can be told.
std::string DesktopConfigDir(const char* xdgConfigHome, const char* home);

// Creates dir (and its parents) when missing and makes it the current directory; previous
// gets the directory it left, against which relative file arguments are still to be read.
// Returns false, leaving the current directory as it was, when that cannot be done.
bool EnterDesktopConfigDir(const std::string& dir, std::string* previous);
