// The "About" dialog: icon, "Vigilor Version 1.0" and the publisher's lines.
#pragma once

#include <QDialog>

class CAboutBox : public QDialog
{
    Q_OBJECT

  public:
    explicit CAboutBox(QWidget* parent = nullptr);
};
