// Asks before a signal or a renice is sent: names the host, each PID and its command.
#pragma once

#include "watch/engine/process_action.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <vector>

class QSpinBox;

// One process the user chose in the grid.
struct CActionTarget
{
    int32_t Pid = 0;
    QString User;
    QString Command;
};

class CActionConfirmDialog : public QDialog
{
    Q_OBJECT
  public:
    CActionConfirmDialog(const QString& host, const ProcessAction& action,
                         const std::vector<CActionTarget>& targets, QWidget* parent = nullptr);
    // The nice value chosen (renice only).
    int Nice() const;
    // "Terminate", "Kill", "Hang up", "Stop", "Continue" or "Renice".
    static QString VerbOf(const ProcessAction& action);

  private:
    QSpinBox* m_nice = nullptr;
};
