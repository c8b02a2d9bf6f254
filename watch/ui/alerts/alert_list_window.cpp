// View > Alerts: every alert of this run, newest first, with time, host, rule and process.
#include "watch/ui/alerts/alert_list_window.h"

#include "watch/ui/alerts/alert_center.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

CAlertListWindow::CAlertListWindow(CAlertCenter* center, QWidget* parent)
    : QDialog(parent), m_center(center), m_table(new QTableView(this))
{
    setWindowTitle(tr("Alerts - Vigilor"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_table->setObjectName(QStringLiteral("alerts"));
    m_table->setModel(center->Model());
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 150);
    m_table->setColumnWidth(1, 150);
    m_table->setColumnWidth(2, 260);
    m_table->setWordWrap(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* clear = buttons->addButton(tr("C&lear"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("clear"));
    connect(clear, &QPushButton::clicked, center, &CAlertCenter::ClearAlerts);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    // New alerts that arrive while the list is in front count as seen.
    connect(center, &CAlertCenter::UnseenChanged, this,
            [this](int unseen)
            {
                if (unseen > 0 && isVisible() && isActiveWindow())
                    m_center->MarkSeen();
            });

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_table);
    column->addWidget(buttons);
    resize(900, 360);
}

void CAlertListWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_center->MarkSeen();
}

void CAlertListWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_center->MarkSeen();
}
