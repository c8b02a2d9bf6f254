// psvigil (Vigilor): watches the processes of a remote Unix host.
#include "watch/ui/psvigil_app.h"
#include "watch/ui/resources/artwork.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    // The name captions every message box and names the settings.
    QApplication::setApplicationName(QStringLiteral("psvigil"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setWindowIcon(ApplicationIcon());

    CPsvigilApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    return qapp.exec();
}
