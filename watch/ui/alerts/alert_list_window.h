// View > Alerts: every alert of this run, newest first, with time, host, rule and process.
#pragma once

#include <QDialog>

class CAlertCenter;
class QTableView;

class CAlertListWindow : public QDialog
{
    Q_OBJECT
  public:
    explicit CAlertListWindow(CAlertCenter* center, QWidget* parent = nullptr);
    QTableView* Table() const { return m_table; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    CAlertCenter* m_center;
    QTableView* m_table;
};
