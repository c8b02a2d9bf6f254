// The "Host Options" dialog: the Settings and Filter pages over one host record.
#pragma once

#include "watch/engine/host_settings.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <vector>

class COptionsPage;
class COptionsPage1;
class COptionsPage2;
class QTabWidget;
struct CExchangeFailure;

// A page that other parts of psvigil add after Settings and Filter (the alert rules). Its tab
// is its window title; Commit runs once OK has written the record.
class CHostOptionsExtraPage : public QWidget
{
    Q_OBJECT
  public:
    using QWidget::QWidget;
    virtual void Commit(const HostSettings& host) = 0;
};

// Edits the record it is handed, which the caller owns. OK writes the pages that were shown back
// into the record once every check passes; Cancel leaves the record untouched.
class CHostOptionsDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CHostOptionsDlg(HostSettings& host, QWidget* parent = nullptr);

    void accept() override;

    // Makes the extra pages of every dialog opened from now on (none by default).
    using ExtraPageFactory =
        std::function<std::vector<CHostOptionsExtraPage*>(const HostSettings&)>;
    static void SetExtraPageFactory(ExtraPageFactory factory);

  private:
    void OnPageChanged(int index);
    COptionsPage* Page(int index) const;
    void ShowPageQuietly(int index);
    void ReportFailure(const CExchangeFailure& failure);

    COptionsPage1* m_settingsPage;
    COptionsPage2* m_filterPage;
    QTabWidget* m_sheet;
    HostSettings* m_host;
    std::vector<CHostOptionsExtraPage*> m_extraPages;
    int m_activePage = 0;
    bool m_switchingQuietly = false;
};
