// The "Watch" dialog: keeps the host list and picks the host to watch.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/owning_array.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QComboBox;

// New, Edit and Delete work on a copy of the caller's host list; OK puts the copy in place
// and Cancel leaves the list as it was. After OK, GetSelectedIndex tells which host was chosen.
class CWatchDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CWatchDlg(COwningPtrArray<HostSettings>& hosts, QWidget* parent = nullptr);

    // Asked before a host is deleted, with its address; true deletes. By default a question
    // box; tests answer it themselves.
    using DeleteConfirmation = std::function<bool(QWidget* parent, const QString& address)>;
    void SetDeleteConfirmation(DeleteConfirmation confirm) { m_confirmDelete = std::move(confirm); }
    // The list as edited so far.
    const COwningPtrArray<HostSettings>& WorkingList() const { return m_working; }

    // The index chosen with OK; -1 before OK and when the list was empty.
    int32_t GetSelectedIndex() const { return m_selectedIndex; }

    void accept() override;

  private:
    void FillHosts();
    void OnNew();
    void OnEdit();
    void OnDelete();

    COwningPtrArray<HostSettings>* m_hostList;
    COwningPtrArray<HostSettings> m_working;
    DeleteConfirmation m_confirmDelete;
    QComboBox* m_hostCombo;
    int32_t m_selectedIndex = -1;
};
