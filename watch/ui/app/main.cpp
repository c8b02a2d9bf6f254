// psvigil (Vigilor): watches the processes of a remote Unix host.
#include "watch/ui/app/command_line.h"
#include "watch/ui/app/psvigil_app.h"
#include "watch/ui/frame/resources/artwork.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Answered before the application object exists, so they work without a display.
    const EarlyOptions options = ParseEarlyOptions(std::vector<std::string>(argv, argv + argc));
    if (options.Help || options.Version)
    {
        std::fputs(options.Help ? HelpText().c_str() : VersionText().c_str(), stdout);
        return 0;
    }
    if (!options.Unknown.empty())
    {
        std::fprintf(stderr, "psvigil: unknown option %s\n%s", options.Unknown.c_str(),
                     HelpText().c_str());
        return 2;
    }
    std::string started;
    if (options.Desktop)
    {
        const std::string dir =
            DesktopConfigDir(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
        if (!EnterDesktopConfigDir(dir, &started))
            std::fprintf(stderr,
                         "psvigil: cannot use %s; psvigil.cfg stays in the current directory\n",
                         dir.c_str());
    }

    QApplication qapp(argc, argv);
    // The name captions every message box and names the settings.
    QApplication::setApplicationName(QStringLiteral("psvigil"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setWindowIcon(ApplicationIcon());

    QStringList arguments = QApplication::arguments();
    // A file named relative to where psvigil was started still means that file.
    for (int i = 1; !started.empty() && i < arguments.size(); ++i)
    {
        if (arguments[i] == QLatin1String("--watch"))
            ++i; // a host, not a file
        else if (!arguments[i].startsWith('-'))
            arguments[i] =
                QDir(QString::fromLocal8Bit(started.c_str())).absoluteFilePath(arguments[i]);
    }
    CPsvigilApp app;
    if (!app.InitInstance(arguments))
        return 1;
    return qapp.exec();
}
