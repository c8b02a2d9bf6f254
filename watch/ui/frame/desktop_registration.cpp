// Registers the watch log type (".pvg") with the desktop: a MIME type and an application entry.
#include "watch/ui/frame/desktop_registration.h"

#include "watch/ui/frame/resources/artwork.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace
{

constexpr int kIconSize = 64;

// Writes bytes to path unless it already holds them. Sets changed when it wrote.
bool WriteIfChanged(const QString& path, const QByteArray& bytes, bool* changed)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return true;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return false;
    *changed = true;
    return true;
}

// Removes path when it holds exactly bytes (a file this program wrote). Sets changed when it did.
void RemoveIfOurs(const QString& path, const QByteArray& bytes, bool* changed)
{
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly) || existing.readAll() != bytes)
        return;
    existing.close();
    if (existing.remove())
        *changed = true;
}

QByteArray MimeXml()
{
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kWatchLogMimeType +
           "\">\n"
           "    <comment>Psvig Document</comment>\n"
           "    <glob pattern=\"*.pvg\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

QByteArray DesktopEntry(const QString& programPath)
{
    QByteArray entry("[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=Vigilor\n"
                     "GenericName=Process Watch\n"
                     "Comment=Watches the processes of a remote Unix host\n");
    entry += "Exec=" + DesktopExecLine(programPath).toUtf8() + "\n";
    entry += "Icon=psvigil\n"
             "Terminal=false\n"
             "Categories=System;Monitor;\n";
    entry += QByteArray("MimeType=") + kWatchLogMimeType + ";\n";
    return entry;
}

QByteArray IconPng()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    DrawApplicationIcon(kIconSize).save(&buffer, "PNG");
    return bytes;
}

void RefreshCache(const QString& tool, const QString& dir)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return;
    // In the background and silent: start-up neither waits for it nor reports on it.
    QProcess process;
    process.setProgram(program);
    process.setArguments({dir});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace

QString DesktopExecLine(const QString& programPath)
{
    // Inside a quoted argument, ", `, $ and \ take a backslash; the file itself is a
    // backslash-escaped string value, so every backslash is doubled once more.
    QString quoted;
    for (QChar c : programPath)
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted.replace("\\", "\\\\");
    quoted.replace("%", "%%");
    // --desktop: psvigil started from the menu always finds the same psvigil.cfg.
    return '"' + quoted + "\" --desktop %f";
}

bool PrefixHasDesktopEntry(const QString& programPath)
{
    const QString programDir = QFileInfo(programPath).absolutePath();
    return QFileInfo::exists(
        QDir::cleanPath(programDir + "/../share/applications/psvigil.desktop"));
}

bool RegisterDocumentType(const QString& dataDir, const QString& programPath)
{
    const QDir base(dataDir);
    bool mimeChanged = false;
    bool entryChanged = false;
    bool iconChanged = false;
    const QString iconPath =
        base.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/psvigil.png").arg(kIconSize));
    if (PrefixHasDesktopEntry(programPath))
    {
        RemoveIfOurs(base.filePath("mime/packages/psvigil.xml"), MimeXml(), &mimeChanged);
        RemoveIfOurs(base.filePath("applications/psvigil.desktop"), DesktopEntry(programPath),
                     &entryChanged);
        RemoveIfOurs(iconPath, IconPng(), &iconChanged);
        if (mimeChanged)
            RefreshCache(QStringLiteral("update-mime-database"), base.filePath("mime"));
        if (entryChanged)
            RefreshCache(QStringLiteral("update-desktop-database"), base.filePath("applications"));
        return true;
    }
    bool ok = WriteIfChanged(base.filePath("mime/packages/psvigil.xml"), MimeXml(), &mimeChanged);
    ok = WriteIfChanged(base.filePath("applications/psvigil.desktop"), DesktopEntry(programPath),
                        &entryChanged) &&
         ok;
    ok = WriteIfChanged(iconPath, IconPng(), &iconChanged) && ok;
    if (mimeChanged)
        RefreshCache(QStringLiteral("update-mime-database"), base.filePath("mime"));
    if (entryChanged)
        RefreshCache(QStringLiteral("update-desktop-database"), base.filePath("applications"));
    return ok;
}

bool RegisterDocumentType()
{
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataDir.isEmpty())
        return false;
    return RegisterDocumentType(dataDir, QCoreApplication::applicationFilePath());
}
