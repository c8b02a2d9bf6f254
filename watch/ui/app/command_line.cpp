// The options psvigil answers before any window exists: --help, --version and --desktop.
#include "watch/ui/app/command_line.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool MakeDirectories(const std::string& dir)
{
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1))
    {
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st
    {
    };
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

EarlyOptions ParseEarlyOptions(const std::vector<std::string>& arguments)
{
    EarlyOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i)
    {
        const std::string& a = arguments[i];
        if (a == "--help" || a == "-h" || a == "-?")
            options.Help = true;
        else if (a == "--version")
            options.Version = true;
        else if (a == "--desktop")
            options.Desktop = true;
    }
    return options;
}

std::string HelpText()
{
    return "Usage: psvigil [--desktop] [FILE.pvg]\n"
           "Vigilor watches the processes of a remote Unix host over telnet or SSH.\n"
           "\n"
           "  FILE.pvg    open a saved watch log instead of a new, empty one\n"
           "  --desktop   use the psvigil.cfg in the user's configuration folder\n"
           "              ($XDG_CONFIG_HOME/psvigil, by default ~/.config/psvigil), created\n"
           "              when missing; without it psvigil.cfg is the current directory's\n"
           "  --help      show this text and exit\n"
           "  --version   show the version and exit\n";
}

std::string VersionText()
{
    return "psvigil (Vigilor) 1.0\n";
}

std::string DesktopConfigDir(const char* xdgConfigHome, const char* home)
{
    // The base directory rules: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return std::string(xdgConfigHome) + "/psvigil";
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.config/psvigil";
    return {};
}

bool EnterDesktopConfigDir(const std::string& dir, std::string* previous)
{
    if (dir.empty() || !MakeDirectories(dir))
        return false;
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) == nullptr || ::chdir(dir.c_str()) != 0)
        return false;
    if (previous)
        *previous = here;
    return true;
}
