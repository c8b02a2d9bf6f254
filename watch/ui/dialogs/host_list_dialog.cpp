// The "Watch" dialog: keeps the host list and picks the host to watch.
#include "watch/ui/dialogs/host_list_dialog.h"

#include "platform/ui/dialog_units.h"
#include "watch/ui/dialogs/options_sheet.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace
{
QPushButton* MakeButton(QWidget* parent, const char* text, const char* name)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedWidth(std::max(DialogUnitsX(button, 50), button->sizeHint().width()));
    return button;
}
bool AskBeforeDelete(QWidget* parent, const QString& address)
{
    const QString text = address.isEmpty()
                             ? QObject::tr("Delete this host from the list?")
                             : QObject::tr("Delete the host %1 from the list?").arg(address);
    return QMessageBox::question(parent, QStringLiteral("psvigil"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}
} // namespace

CWatchDlg::CWatchDlg(COwningPtrArray<HostSettings>& hosts, QWidget* parent)
    : QDialog(parent), m_hostList(&hosts), m_confirmDelete(AskBeforeDelete)
{
    for (int32_t i = 0; i < hosts.GetSize(); ++i)
        m_working.Add(new HostSettings(*hosts.GetAt(i)));

    setWindowTitle(QStringLiteral("Watch"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Controls in tab order: the host names, then the buttons.
    auto* hostBox = new QGroupBox(QStringLiteral("Host"), this);
    m_hostCombo = new QComboBox(hostBox);
    m_hostCombo->setObjectName(QStringLiteral("hosts"));
    m_hostCombo->setEditable(false);
    m_hostCombo->setFixedWidth(DialogUnitsX(m_hostCombo, 116));
    m_hostCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    auto* ok = MakeButton(this, "&OK", "ok");
    ok->setDefault(true);
    auto* cancel = MakeButton(this, "&Cancel", "cancel");
    auto* newHost = MakeButton(this, "&New", "new");
    auto* editHost = MakeButton(this, "&Edit", "edit");
    auto* deleteHost = MakeButton(this, "&Delete", "delete");

    auto* nameLabel = new QLabel(QStringLiteral("Name :"), hostBox);
    auto* icon = new QLabel(hostBox);
    icon->setObjectName(QStringLiteral("icon"));
    QIcon appIcon = QApplication::windowIcon();
    if (appIcon.isNull())
        appIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
    icon->setPixmap(appIcon.pixmap(32, 32));
    auto* note =
        new QLabel(QStringLiteral("You must have telnet or SSH access and rights to execute "
                                  "\"ps\" command on remote host."),
                   hostBox);
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    note->setFixedWidth(DialogUnitsX(note, 168));
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* hostGrid = new QGridLayout(hostBox);
    hostGrid->addWidget(icon, 0, 0, Qt::AlignTop);
    hostGrid->addWidget(nameLabel, 0, 1, Qt::AlignRight);
    hostGrid->addWidget(m_hostCombo, 0, 2);
    hostGrid->setRowMinimumHeight(1, DialogUnitsY(this, 6));
    hostGrid->addWidget(note, 2, 0, 1, 3, Qt::AlignTop);
    hostGrid->setRowStretch(3, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addSpacing(DialogUnitsY(this, 10));
    buttons->addWidget(newHost);
    buttons->addWidget(editHost);
    buttons->addWidget(deleteHost);
    buttons->addStretch();

    auto* row = new QHBoxLayout(this);
    row->addWidget(hostBox);
    row->addLayout(buttons);
    row->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &CWatchDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CWatchDlg::reject);
    connect(newHost, &QPushButton::clicked, this, &CWatchDlg::OnNew);
    connect(editHost, &QPushButton::clicked, this, &CWatchDlg::OnEdit);
    connect(deleteHost, &QPushButton::clicked, this, &CWatchDlg::OnDelete);

    FillHosts();
    m_hostCombo->setFocus();
}

// Shows every host by its address in list order and selects the first.
void CWatchDlg::FillHosts()
{
    m_hostCombo->clear();
    for (int32_t i = 0; i < m_working.GetSize(); ++i)
        m_hostCombo->addItem(QString::fromUtf8(FieldText(m_working.GetAt(i)->Address)));
    m_hostCombo->setCurrentIndex(m_hostCombo->count() > 0 ? 0 : -1);
}

void CWatchDlg::OnNew()
{
    auto host = std::make_unique<HostSettings>();
    CHostOptionsDlg options(*host, this);
    if (options.exec() != QDialog::Accepted)
        return;
    m_working.Add(host.release());
    FillHosts();
}

void CWatchDlg::OnEdit()
{
    const int index = m_hostCombo->currentIndex();
    HostSettings* current = m_working.GetAt(index);
    if (current != nullptr)
    {
        // The sheet works on a copy, so Cancel (or a failed check) never touches the list.
        HostSettings copy = *current;
        CHostOptionsDlg options(copy, this);
        if (options.exec() == QDialog::Accepted)
        {
            *current = copy;
            FillHosts();
        }
    }
    m_hostCombo->setCurrentIndex(index);
}

void CWatchDlg::OnDelete()
{
    const int index = m_hostCombo->currentIndex();
    const HostSettings* host = m_working.GetAt(index);
    if (host == nullptr)
        return;
    if (m_confirmDelete && !m_confirmDelete(this, QString::fromUtf8(FieldText(host->Address))))
        return;
    m_working.RemoveAt(index);
    FillHosts();
}

void CWatchDlg::accept()
{
    m_selectedIndex = m_hostCombo->currentIndex();
    // The edited list takes the caller's place. Records that stay are overwritten in place,
    // so a pointer the engine still holds from an earlier watch keeps pointing at a record.
    const int32_t kept = std::min(m_hostList->GetSize(), m_working.GetSize());
    for (int32_t i = 0; i < kept; ++i)
        *m_hostList->GetAt(i) = *m_working.GetAt(i);
    while (m_hostList->GetSize() > kept)
        m_hostList->RemoveAt(m_hostList->GetSize() - 1);
    for (int32_t i = kept; i < m_working.GetSize(); ++i)
        m_hostList->Add(new HostSettings(*m_working.GetAt(i)));
    QDialog::accept();
}
