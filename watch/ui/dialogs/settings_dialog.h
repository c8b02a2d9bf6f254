// The program's own settings (View > Settings): how the process list shows what changed.
#pragma once

#include <QDialog>

class QCheckBox;
class QSettings;
class QSpinBox;
class QTabWidget;

class CSettingsDialog : public QDialog
{
    Q_OBJECT
  public:
    static constexpr int kDefaultHighlightRefreshes = 2;
    static constexpr int kMaxHighlightRefreshes = 99;

    explicit CSettingsDialog(QWidget* parent = nullptr);

    // How many refreshes new and gone processes stay marked; 0 when marking is off.
    void SetHighlightRefreshes(int refreshes);
    int HighlightRefreshes() const;

    // Further pages join the "Display" page here.
    QTabWidget* Pages() const { return m_pages; }
    QCheckBox* HighlightBox() const { return m_highlight; }
    QSpinBox* RefreshesBox() const { return m_refreshes; }

    // Stored under Grid/HighlightRefreshes; a value out of range reads as the default.
    static int ReadHighlightRefreshes(QSettings& settings);
    static void WriteHighlightRefreshes(QSettings& settings, int refreshes);

  private:
    QTabWidget* m_pages;
    QCheckBox* m_highlight;
    QSpinBox* m_refreshes;
    int m_lastOn = kDefaultHighlightRefreshes; // what the box returns to when ticked again
};
