// The "About" dialog: icon, "Vigilor Version 1.0" and the publisher's lines.
#include "watch/ui/frame/about_box.h"

#include "watch/ui/frame/resources/artwork.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* group = new QGroupBox(this);
    auto* icon = new QLabel(group);
    icon->setPixmap(DrawApplicationIcon(32));
    icon->setAlignment(Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    const char* const texts[] = {
        "Vigilor Version 1.0",
        "Watches the processes of a remote Unix host over telnet or SSH.",
        "Copyright (C) Korvane. All rights reserved.",
        "Korvane Software, support@korvane.example",
    };
    for (const char* text : texts)
    {
        auto* label = new QLabel(QString::fromLatin1(text), group);
        // Ampersands show as typed.
        label->setTextFormat(Qt::PlainText);
        label->setObjectName(lines->count() == 0 ? QStringLiteral("version") : QString());
        lines->addWidget(label);
    }
    lines->addStretch(1);

    auto* inside = new QHBoxLayout(group);
    inside->addWidget(icon);
    inside->addSpacing(8);
    inside->addLayout(lines, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addLayout(buttons);
}
