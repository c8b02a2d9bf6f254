// The "Watch" dialog: keeps the host list and picks the host to watch.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/owning_array.h"

#include <QDialog>

#include <cstdint>

class QComboBox;

// Works on the caller's host list in place: New, Edit and Delete change it at once and Cancel
// does not undo them. After OK, GetSelectedIndex tells which host was chosen.
class CWatchDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CWatchDlg(COwningPtrArray<HostSettings>& hosts, QWidget* parent = nullptr);

    // The index chosen with OK; -1 before OK and when the list was empty.
    int32_t GetSelectedIndex() const { return m_selectedIndex; }

    void accept() override;

  private:
    void FillHosts();
    void OnNew();
    void OnEdit();
    void OnDelete();

    COwningPtrArray<HostSettings>* m_hostList;
    QComboBox* m_hostCombo;
    int32_t m_selectedIndex = -1;
};
