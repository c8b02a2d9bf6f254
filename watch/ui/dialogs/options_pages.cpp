// The two pages of the Host Options sheet: "Settings" and "Filter".
#include "watch/ui/dialogs/options_pages.h"

#include "platform/ui/dialog_units.h"
#include "watch/engine/local_host.h"
#include "watch/ui/dialogs/dialog_integer.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace
{
QLineEdit* MakeEdit(QWidget* parent, const char* name, int widthUnits)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFixedWidth(DialogUnitsX(edit, widthUnits));
    return edit;
}

// Reads an integer edit and checks its range, as the data exchange does.
bool StoreInteger(QLineEdit* edit, int32_t low, int32_t high, int32_t& member,
                  CExchangeFailure& failure)
{
    int32_t value = 0;
    if (!ParseDialogInteger(edit->text().toStdString(), value))
    {
        failure = {edit, QStringLiteral("Please enter an integer.")};
        return false;
    }
    member = value;
    if (value < low || value > high)
    {
        failure = {edit, QStringLiteral("Please enter an integer between %1 and %2.")
                             .arg(static_cast<long>(low))
                             .arg(static_cast<long>(high))};
        return false;
    }
    return true;
}

// Selects the button whose id is index, or none when no button has it.
void LoadRadio(QButtonGroup* group, int32_t index)
{
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == index);
    group->setExclusive(true);
}

QRadioButton* AddRadio(QButtonGroup* group, QWidget* parent, const char* text, const char* name,
                       int id)
{
    auto* radio = new QRadioButton(QString::fromLatin1(text), parent);
    radio->setObjectName(QString::fromLatin1(name));
    group->addButton(radio, id);
    return radio;
}
} // namespace

void COptionsPage::Activate()
{
    m_activated = true;
    LoadControls();
}

COptionsPage1::COptionsPage1(QWidget* parent) : COptionsPage(parent)
{
    setMinimumSize(DialogUnitsX(this, 212), DialogUnitsY(this, 157));

    // Controls are made in tab order; each label sits before the edit it names.
    auto* hostBox = new QGroupBox(QStringLiteral("Host"), this);
    auto* addressLabel = new QLabel(QStringLiteral("Address :"), hostBox);
    m_addressEdit = MakeEdit(hostBox, "address", 75);
    // This computer is watched without a login: its address is all it needs.
    auto* thisComputer = new QPushButton(QString::fromLatin1(kLocalHostName), hostBox);
    thisComputer->setObjectName(QStringLiteral("thisComputer"));
    connect(thisComputer, &QPushButton::clicked, this,
            [this]
            {
                m_addressEdit->setText(
                    QString::fromUtf8(kLocalAddress.data(), kLocalAddress.size()));
                if (m_usernameEdit->text().isEmpty())
                    m_usernameEdit->setText(QString::fromStdString(LocalUserName()));
            });
    auto* portLabel = new QLabel(QStringLiteral("Port :"), hostBox);
    m_portEdit = MakeEdit(hostBox, "port", 17);
    // Five digits must show whatever the font.
    m_portEdit->setFixedWidth(
        std::max(m_portEdit->width(), m_portEdit->fontMetrics().horizontalAdvance("200000") + 6));
    auto* usernameLabel = new QLabel(QStringLiteral("Username :"), hostBox);
    m_usernameEdit = MakeEdit(hostBox, "username", 60);
    auto* passwordLabel = new QLabel(QStringLiteral("Password :"), hostBox);
    m_passwordEdit = MakeEdit(hostBox, "password", 60);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    auto* refreshLabel = new QLabel(QStringLiteral("Refresh every"), hostBox);
    m_refreshEdit = MakeEdit(hostBox, "refresh", 20);
    m_refreshEdit->setFixedWidth(std::max(
        m_refreshEdit->width(), m_refreshEdit->fontMetrics().horizontalAdvance("120000") + 6));
    auto* secondsLabel = new QLabel(QStringLiteral("seconds"), hostBox);
    m_manualRefreshBox = new QCheckBox(QStringLiteral("Manual refresh"), hostBox);
    m_manualRefreshBox->setObjectName(QStringLiteral("manualRefresh"));
    m_keepOpenBox = new QCheckBox(QStringLiteral("Keep connection open"), hostBox);
    m_keepOpenBox->setObjectName(QStringLiteral("keepConnectionOpen"));
    // The record has no transport field; the address and the port choose it.
    auto* sessionNote = new QLabel(
        QStringLiteral("ssh://address or port 22: watched over SSH (agent or keys first); "
                       "local: this computer, no login; otherwise telnet."),
        hostBox);
    sessionNote->setObjectName(QStringLiteral("sessionNote"));
    sessionNote->setWordWrap(true);

    LimitToField(m_addressEdit, sizeof(HostSettings::Address));
    LimitToField(m_usernameEdit, sizeof(HostSettings::Username));
    LimitToField(m_passwordEdit, sizeof(HostSettings::Password));

    auto* hostGrid = new QGridLayout(hostBox);
    hostGrid->addWidget(addressLabel, 0, 0);
    hostGrid->addWidget(m_addressEdit, 0, 1);
    hostGrid->addWidget(portLabel, 0, 2, Qt::AlignRight);
    hostGrid->addWidget(m_portEdit, 0, 3);
    hostGrid->addWidget(thisComputer, 0, 4, Qt::AlignLeft);
    hostGrid->addWidget(usernameLabel, 1, 0);
    hostGrid->addWidget(m_usernameEdit, 1, 1);
    hostGrid->addWidget(passwordLabel, 2, 0);
    hostGrid->addWidget(m_passwordEdit, 2, 1);
    hostGrid->addWidget(sessionNote, 1, 2, 2, 3, Qt::AlignTop);
    auto* refreshRow = new QHBoxLayout;
    refreshRow->addWidget(m_refreshEdit);
    refreshRow->addWidget(secondsLabel);
    refreshRow->addStretch();
    hostGrid->addWidget(refreshLabel, 3, 0);
    hostGrid->addLayout(refreshRow, 3, 1);
    hostGrid->addWidget(m_manualRefreshBox, 3, 2, 1, 2);
    hostGrid->addWidget(m_keepOpenBox, 4, 1, 1, 3);
    hostGrid->setColumnStretch(4, 1);
    for (int row = 0; row < 3; ++row)
        hostGrid->itemAtPosition(row, 1)->setAlignment(Qt::AlignLeft);

    auto* flavourBox = new QGroupBox(QStringLiteral("Unix flavour"), this);
    m_flavourGroup = new QButtonGroup(this);
    auto* flavourRow = new QHBoxLayout(flavourBox);
    flavourRow->addSpacing(DialogUnitsX(this, 25));
    flavourRow->addWidget(AddRadio(m_flavourGroup, flavourBox, "BSD", "bsd", kFlavourBsd));
    flavourRow->addSpacing(DialogUnitsX(this, 15));
    flavourRow->addWidget(AddRadio(m_flavourGroup, flavourBox, "SysV", "sysv", kFlavourSysV));
    flavourRow->addSpacing(DialogUnitsX(this, 15));
    // ps -o: memory and state from hosts whose ps speaks SysV.
    flavourRow->addWidget(
        AddRadio(m_flavourGroup, flavourBox, "POSIX (-o)", "posix", kFlavourPosix));
    flavourRow->addStretch();

    auto* column = new QVBoxLayout(this);
    column->addWidget(hostBox);
    column->addWidget(flavourBox);
    column->addStretch();

    connect(m_manualRefreshBox, &QCheckBox::clicked, this, &COptionsPage1::OnManualRefreshClicked);
}

void COptionsPage1::OnManualRefreshClicked()
{
    m_refreshEdit->setEnabled(!m_manualRefreshBox->isChecked());
}

void COptionsPage1::LoadControls()
{
    m_keepOpenBox->setChecked(m_keepConnectionOpen != 0);
    m_address.Load(m_addressEdit);
    m_password.Load(m_passwordEdit);
    m_portEdit->setText(QString::number(m_port));
    m_username.Load(m_usernameEdit);
    m_refreshEdit->setText(QString::number(m_refreshSeconds));
    LoadRadio(m_flavourGroup, m_flavour);
    m_manualRefreshBox->setChecked(m_manualRefresh != 0);
    m_refreshEdit->setEnabled(!m_manualRefreshBox->isChecked());
}

bool COptionsPage1::Store(CExchangeFailure& failure)
{
    m_keepConnectionOpen = m_keepOpenBox->isChecked() ? 1 : 0;
    m_address.Store(m_addressEdit);
    // A host without an address could only ever fail to connect.
    if (m_addressEdit->text().trimmed().isEmpty())
    {
        failure.Edit = m_addressEdit;
        failure.Message = tr("Please enter the address of the host.");
        return false;
    }
    m_password.Store(m_passwordEdit);
    // Any TCP port: SSH (22), telnet (23) and whatever a host was moved to. The record keeps
    // its 32-bit field, so host lists of older versions read the same.
    if (!StoreInteger(m_portEdit, kPortFieldMin, kPortFieldMax, m_port, failure))
        return false;
    m_username.Store(m_usernameEdit);
    if (!StoreInteger(m_refreshEdit, kRefreshMin, kRefreshMax, m_refreshSeconds, failure))
        return false;
    m_flavour = m_flavourGroup->checkedId();
    m_manualRefresh = m_manualRefreshBox->isChecked() ? 1 : 0;
    return true;
}

void COptionsPage1::ReadRecord(const HostSettings& host)
{
    m_manualRefresh = host.ManualRefresh;
    m_keepConnectionOpen = host.KeepConnectionOpen;
    m_refreshSeconds = host.RefreshSeconds;
    m_address.Assign(FieldText(host.Address));
    m_username.Assign(FieldText(host.Username));
    m_password.Assign(FieldText(host.Password));
    m_port = host.Port;
    m_flavour = host.Flavour;
}

void COptionsPage1::WriteRecord(HostSettings& host) const
{
    host.ManualRefresh = m_manualRefresh;
    host.KeepConnectionOpen = m_keepConnectionOpen;
    host.RefreshSeconds = m_refreshSeconds;
    // Texts the user left alone keep their bytes, even bytes the edit could not show.
    if (m_address.Changed())
        SetAddress(host, m_address.Bytes());
    if (m_username.Changed())
        SetUsername(host, m_username.Bytes());
    if (m_password.Changed())
        SetPassword(host, m_password.Bytes());
    host.Port = m_port;
    host.Flavour = m_flavour;
}

COptionsPage2::COptionsPage2(QWidget* parent) : COptionsPage(parent)
{
    setMinimumSize(DialogUnitsX(this, 212), DialogUnitsY(this, 157));

    auto* filterBox = new QGroupBox(QStringLiteral("Filter"), this);
    m_modeGroup = new QButtonGroup(this);
    auto* showAll = AddRadio(m_modeGroup, filterBox, "Show All", "showAll", kFilterShowAll);
    auto* byUser =
        AddRadio(m_modeGroup, filterBox, "by current user", "byCurrentUser", kFilterByUser);
    auto* byExpression =
        AddRadio(m_modeGroup, filterBox, "by expression", "byExpression", kFilterByExpression);
    m_expressionEdit = MakeEdit(filterBox, "expression", 65);
    LimitToField(m_expressionEdit, sizeof(HostSettings::FilterExpression));

    auto* grid = new QGridLayout(filterBox);
    grid->setVerticalSpacing(DialogUnitsY(this, 8));
    grid->setColumnMinimumWidth(0, DialogUnitsX(this, 10));
    grid->addWidget(showAll, 0, 1);
    grid->addWidget(byUser, 1, 1);
    grid->addWidget(byExpression, 2, 1);
    grid->addWidget(m_expressionEdit, 2, 2);
    grid->setColumnStretch(3, 1);

    auto* column = new QVBoxLayout(this);
    column->addWidget(filterBox);
    column->addStretch();
}

void COptionsPage2::LoadControls()
{
    m_filterExpression.Load(m_expressionEdit);
    LoadRadio(m_modeGroup, m_filterMode);
}

bool COptionsPage2::Store(CExchangeFailure&)
{
    m_filterExpression.Store(m_expressionEdit);
    m_filterMode = m_modeGroup->checkedId();
    return true;
}

void COptionsPage2::ReadRecord(const HostSettings& host)
{
    m_filterExpression.Assign(FieldText(host.FilterExpression));
    m_filterMode = host.FilterMode;
}

void COptionsPage2::WriteRecord(HostSettings& host) const
{
    if (m_filterExpression.Changed())
        SetFilterExpression(host, m_filterExpression.Bytes());
    host.FilterMode = m_filterMode;
}
