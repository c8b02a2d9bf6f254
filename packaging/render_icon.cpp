// Renders the application icon to psvigil.png files for the hicolor theme, one per size, so the
// installed icon is the one the program draws for itself.
// Usage: render_icon OUT_DIR SIZE... (writes OUT_DIR/SIZExSIZE/apps/psvigil.png)
#include "watch/ui/frame/resources/artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Drawing into a pixmap needs a platform plug-in, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: render_icon OUT_DIR SIZE...\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i)
    {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 512)
        {
            std::fprintf(stderr, "render_icon: size %s out of range 16..512\n", argv[i]);
            return 2;
        }
        const QString dir = out.filePath(QStringLiteral("%1x%1/apps").arg(size));
        const QString path = dir + QStringLiteral("/psvigil.png");
        if (!QDir().mkpath(dir) || !DrawApplicationIcon(size).save(path, "PNG"))
        {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
