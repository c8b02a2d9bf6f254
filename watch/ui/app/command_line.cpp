// The options psvigil answers before any window exists: --help, --version and --desktop.
#include "watch/ui/app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <string_view>
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

// The options QApplication takes for itself (with one dash or two); the first group reads a
// value from the next argument unless it comes as name=value.
constexpr std::string_view kQtOptionsWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qwindowgeometry",
                                                    "qwindowicon",
                                                    "qwindowtitle",
                                                    "session",
                                                    "display",
                                                    "geometry",
                                                    "style",
                                                    "stylesheet",
                                                    "qmljsdebugger",
                                                    "name",
                                                    "title",
                                                    "visual",
                                                    "ncols"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                         "dograb",  "sync",        "cmap"};

bool SameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y)
                      {
                          return std::tolower(static_cast<unsigned char>(x)) ==
                                 std::tolower(static_cast<unsigned char>(y));
                      });
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
        else if (a.size() > 1 && a[0] == '-' && options.Unknown.empty())
        {
            std::string_view name(a);
            name.remove_prefix(a[1] == '-' ? 2 : 1);
            const bool inlineValue = name.find('=') != std::string_view::npos;
            name = name.substr(0, name.find('='));
            const auto is = [name](std::string_view known) { return name == known; };
            if (std::any_of(std::begin(kQtOptionsWithValue), std::end(kQtOptionsWithValue), is))
                i += inlineValue ? 0 : 1;
            // -Embedding and -Automation: the component-server forms, which only hide the splash.
            else if (!std::any_of(std::begin(kQtFlags), std::end(kQtFlags), is) &&
                     !SameLetters(name, "Embedding") && !SameLetters(name, "Automation"))
                options.Unknown = a;
        }
    }
    return options;
}

std::string HelpText()
{
    return "Usage: psvigil [--desktop] [--watch HOST] [FILE.pvg]\n"
           "Vigilor watches the processes of this computer or of a remote Unix host over\n"
           "telnet or SSH.\n"
           "\n"
           "  FILE.pvg    open a saved watch log instead of a new, empty one\n"
           "  --desktop   use the psvigil.cfg in the user's configuration folder\n"
           "              ($XDG_CONFIG_HOME/psvigil, by default ~/.config/psvigil), created\n"
           "              when missing; without it psvigil.cfg is the current directory's\n"
           "  --watch HOST\n"
           "              start watching the host with this address from the list;\n"
           "              local: watches this computer (added to the list when missing)\n"
           "  --help      show this text and exit\n"
           "  --version   show the version and exit\n"
           "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are passed to Qt.\n";
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
