// The four most recently used watch logs, kept in the settings under "Recent File List".
#pragma once

#include <QString>
#include <QStringList>

class QSettings;

constexpr int kRecentFileCount = 4;

class CRecentFileList
{
  public:
    // settings is not owned and must outlive the list.
    explicit CRecentFileList(QSettings* settings, int size = kRecentFileCount);

    // Reads File1..FileN; empty values are skipped.
    void ReadList();
    // Writes the entries as File1..FileN and drops the values of unused numbers.
    void WriteList() const;

    // Puts path first; an entry naming the same file moves up rather than appearing twice.
    void Add(const QString& path);
    void Remove(int index);

    int GetSize() const { return static_cast<int>(m_files.size()); }
    QString GetAt(int index) const { return m_files.value(index); }
    // The menu text of entry index: "&1 name", with the directory left out for files in the
    // current directory and long paths shortened in the middle.
    QString GetMenuText(int index) const;

  private:
    QSettings* m_settings;
    int m_size;
    QStringList m_files;
};
