// The program's own settings (View > Settings): how the process list shows what changed.
#include "watch/ui/dialogs/settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace
{
const char kHighlightKey[] = "Grid/HighlightRefreshes";
}

CSettingsDialog::CSettingsDialog(QWidget* parent)
    : QDialog(parent), m_pages(new QTabWidget(this)), m_highlight(new QCheckBox(this)),
      m_refreshes(new QSpinBox(this))
{
    setWindowTitle(tr("Settings"));

    auto* display = new QWidget(m_pages);
    auto* form = new QFormLayout(display);
    m_highlight->setText(tr("&Mark new and gone processes"));
    m_highlight->setToolTip(tr("New processes are tinted; gone ones stay, struck through, "
                               "before they leave the list"));
    m_refreshes->setRange(1, kMaxHighlightRefreshes);
    m_refreshes->setSuffix(tr(" refreshes"));
    auto* label = new QLabel(tr("&For:"), display);
    label->setBuddy(m_refreshes);
    form->addRow(m_highlight);
    form->addRow(label, m_refreshes);
    m_pages->addTab(display, tr("Display"));
    connect(m_highlight, &QCheckBox::toggled, m_refreshes, &QWidget::setEnabled);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    SetHighlightRefreshes(kDefaultHighlightRefreshes);
}

void CSettingsDialog::SetHighlightRefreshes(int refreshes)
{
    const bool on = refreshes > 0;
    if (on)
        m_lastOn = std::min(refreshes, kMaxHighlightRefreshes);
    m_highlight->setChecked(on);
    m_refreshes->setValue(m_lastOn);
    m_refreshes->setEnabled(on);
}

int CSettingsDialog::HighlightRefreshes() const
{
    return m_highlight->isChecked() ? m_refreshes->value() : 0;
}

int CSettingsDialog::ReadHighlightRefreshes(QSettings& settings)
{
    bool ok = false;
    const int value = settings.value(kHighlightKey, kDefaultHighlightRefreshes).toInt(&ok);
    return ok && value >= 0 && value <= kMaxHighlightRefreshes ? value : kDefaultHighlightRefreshes;
}

void CSettingsDialog::WriteHighlightRefreshes(QSettings& settings, int refreshes)
{
    settings.setValue(kHighlightKey, refreshes);
}
