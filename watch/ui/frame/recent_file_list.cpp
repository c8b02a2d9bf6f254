// The four most recently used watch logs, kept in the settings under "Recent File List".
#include "watch/ui/frame/recent_file_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace
{

const char kSection[] = "Recent File List";
constexpr int kMaxShownLength = 40;

QString Normalised(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

CRecentFileList::CRecentFileList(QSettings* settings, int size) : m_settings(settings), m_size(size)
{
}

void CRecentFileList::ReadList()
{
    m_files.clear();
    m_settings->beginGroup(kSection);
    for (int i = 1; i <= m_size; ++i)
    {
        const QString path = m_settings->value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty())
            m_files.append(path);
    }
    m_settings->endGroup();
}

void CRecentFileList::WriteList() const
{
    m_settings->beginGroup(kSection);
    for (int i = 1; i <= m_size; ++i)
    {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_files.size())
            m_settings->setValue(key, m_files.at(i - 1));
        else
            m_settings->remove(key);
    }
    m_settings->endGroup();
    m_settings->sync();
}

void CRecentFileList::Add(const QString& path)
{
    const QString full = Normalised(path);
    for (int i = 0; i < m_files.size(); ++i)
    {
        if (Normalised(m_files.at(i)) == full)
        {
            m_files.removeAt(i);
            break;
        }
    }
    m_files.prepend(full);
    while (m_files.size() > m_size)
        m_files.removeLast();
}

void CRecentFileList::Remove(int index)
{
    if (index >= 0 && index < m_files.size())
        m_files.removeAt(index);
}

QString CRecentFileList::GetMenuText(int index) const
{
    const QString path = m_files.value(index);
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    QString shown;
    if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(QDir::currentPath()))
        shown = info.fileName();
    else
    {
        shown = QDir::toNativeSeparators(path);
        if (shown.size() > kMaxShownLength)
        {
            // Keep the first directory and the file name; what lies between becomes "...".
            const QStringList parts = shown.split(QDir::separator(), Qt::SkipEmptyParts);
            if (parts.size() > 2)
                shown = QDir::separator() + parts.first() + QDir::separator() + "..." +
                        QDir::separator() + parts.last();
        }
    }
    // An ampersand in a name would otherwise become a mnemonic.
    shown.replace('&', "&&");
    return QStringLiteral("&%1 %2").arg(index + 1).arg(shown);
}
