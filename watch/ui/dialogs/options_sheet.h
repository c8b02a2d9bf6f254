// The "Host Options" dialog: the Settings and Filter pages over one host record.
#pragma once

#include "watch/engine/host_settings.h"

#include <QDialog>

class COptionsPage;
class COptionsPage1;
class COptionsPage2;
class QTabWidget;
struct CExchangeFailure;

// Edits the record it is handed, which the caller owns. OK writes the pages that were shown back
// into the record once every check passes; Cancel leaves the record untouched.
class CHostOptionsDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CHostOptionsDlg(HostSettings& host, QWidget* parent = nullptr);

    void accept() override;

  private:
    void OnPageChanged(int index);
    COptionsPage* Page(int index) const;
    void ShowPageQuietly(int index);
    void ReportFailure(const CExchangeFailure& failure);

    COptionsPage1* m_settingsPage;
    COptionsPage2* m_filterPage;
    QTabWidget* m_sheet;
    HostSettings* m_host;
    int m_activePage = 0;
    bool m_switchingQuietly = false;
};
