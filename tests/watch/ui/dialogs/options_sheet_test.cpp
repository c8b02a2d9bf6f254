// The Host Options sheet driven through its controls (opening, checks, OK and Cancel), and the
// Settings dialog.
#include "watch/ui/dialogs/options_sheet.h"

#include "watch/engine/text_field.h"
#include "watch/ui/dialogs/settings_dialog.h"

#include "tests/watch/ui/dialogs/dialog_test_driver.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cstring>
#include <ostream>

namespace
{
HostSettings SampleHost()
{
    HostSettings host;
    SetAddress(host, "alpha.example.net");
    SetUsername(host, "alice");
    SetPassword(host, "secret");
    host.Port = 2323;
    host.RefreshSeconds = 30;
    host.Flavour = kFlavourSysV;
    host.FilterMode = kFilterByExpression;
    SetFilterExpression(host, "httpd");
    CopyToField(host.Command, "ps -ef | grep httpd");
    return host;
}

bool SameBytes(const HostSettings& a, const HostSettings& b)
{
    return std::memcmp(&a, &b, sizeof(HostSettings)) == 0;
}

// One dialog on screen over a record, with its controls at hand.
struct CSheetUnderTest
{
    explicit CSheetUnderTest(HostSettings& host) : dialog(host)
    {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    QLineEdit* Edit(const char* name) { return Control<QLineEdit>(&dialog, name); }
    QCheckBox* Box(const char* name) { return Control<QCheckBox>(&dialog, name); }
    QRadioButton* Radio(const char* name) { return Control<QRadioButton>(&dialog, name); }
    QTabWidget* Sheet() { return Control<QTabWidget>(&dialog, "sheet"); }
    void ClickOk() { Click(Control<QAbstractButton>(&dialog, "ok")); }
    void ClickCancel() { Click(Control<QAbstractButton>(&dialog, "cancel")); }

    CHostOptionsDlg dialog;
};
} // namespace

TEST(HostOptionsSheet, OpeningShowsTheRecordOnBothPages)
{
    HostSettings host = SampleHost();
    CSheetUnderTest sheet(host);

    EXPECT_EQ(sheet.dialog.windowTitle(), "Host Options");
    EXPECT_EQ(sheet.Sheet()->tabText(0), "Settings");
    EXPECT_EQ(sheet.Sheet()->tabText(1), "Filter");
    EXPECT_EQ(sheet.Sheet()->currentIndex(), 0);
    EXPECT_EQ(sheet.Edit("address")->text(), "alpha.example.net");
    EXPECT_EQ(sheet.Edit("port")->text(), "2323");
    EXPECT_EQ(sheet.Edit("username")->text(), "alice");
    EXPECT_EQ(sheet.Edit("password")->text(), "secret");
    EXPECT_EQ(sheet.Edit("password")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(sheet.Edit("refresh")->text(), "30");
    EXPECT_TRUE(sheet.Box("keepConnectionOpen")->isChecked());
    EXPECT_FALSE(sheet.Box("manualRefresh")->isChecked());
    EXPECT_FALSE(sheet.Radio("bsd")->isChecked());
    EXPECT_TRUE(sheet.Radio("sysv")->isChecked());

    ClickTab(sheet.Sheet(), 1);
    EXPECT_EQ(sheet.Sheet()->currentIndex(), 1);
    EXPECT_TRUE(sheet.Radio("byExpression")->isChecked());
    EXPECT_EQ(sheet.Edit("expression")->text(), "httpd");
    // The expression stays editable whatever the mode.
    Click(sheet.Radio("showAll"));
    EXPECT_TRUE(sheet.Edit("expression")->isEnabled());
}

TEST(HostOptionsSheet, ManualRefreshSwitchesTheIntervalAtOnce)
{
    HostSettings host = SampleHost();
    host.ManualRefresh = 1;
    CSheetUnderTest sheet(host);
    QLineEdit* refresh = sheet.Edit("refresh");
    EXPECT_FALSE(refresh->isEnabled());
    Click(sheet.Box("manualRefresh"));
    EXPECT_TRUE(refresh->isEnabled());
    Click(sheet.Box("manualRefresh"));
    EXPECT_FALSE(refresh->isEnabled());

    // Coming back to the page shows the box's state, not the record's.
    ClickTab(sheet.Sheet(), 1);
    ClickTab(sheet.Sheet(), 0);
    EXPECT_TRUE(sheet.Box("manualRefresh")->isChecked());
    EXPECT_FALSE(refresh->isEnabled());
}

namespace
{
struct BoundCase
{
    const char* edit;
    const char* text;
    const char* message; // nullptr: accepted
    int32_t stored;
};

// Readable, stable case labels (the default prints the struct's bytes, pointers included).
void PrintTo(const BoundCase& c, std::ostream* os)
{
    *os << c.edit << "=\"" << c.text << "\"";
}

class HostOptionsBounds : public ::testing::TestWithParam<BoundCase>
{
};

const char* const kInteger = "Please enter an integer.";
const char* const kPortRange = "Please enter an integer between 1 and 65535.";
const char* const kNoAddress = "Please enter the address of the host.";
const char* const kRefreshRange = "Please enter an integer between 1 and 12000.";
} // namespace

// OK checks the fields in order; a failure keeps the dialog open, the record untouched (also the
// address typed before the port) and puts the user on the field with its text selected.
TEST_P(HostOptionsBounds, OkChecksTheField)
{
    const BoundCase& c = GetParam();
    HostSettings host = SampleHost();
    const HostSettings before = host;
    CSheetUnderTest sheet(host);

    TypeInto(sheet.Edit("address"), "beta.example.net");
    QLineEdit* edit = sheet.Edit(c.edit);
    TypeInto(edit, QString::fromLatin1(c.text));
    CBoxSeen seen;
    if (c.message != nullptr)
        AnswerMessageBox(seen);
    sheet.ClickOk();

    if (c.message == nullptr)
    {
        EXPECT_EQ(seen.Count, 0);
        EXPECT_EQ(sheet.dialog.result(), QDialog::Accepted);
        EXPECT_EQ(std::string(host.Address), "beta.example.net");
        EXPECT_EQ(std::string(c.edit) == "port" ? host.Port : host.RefreshSeconds, c.stored);
        return;
    }
    EXPECT_EQ(seen.Count, 1);
    EXPECT_EQ(seen.Caption, "psvigil");
    EXPECT_EQ(seen.Text, c.message);
    EXPECT_TRUE(sheet.dialog.isVisible());
    EXPECT_TRUE(SameBytes(host, before));
    EXPECT_EQ(sheet.dialog.focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), edit->text());

    // Mended, the same OK goes through.
    TypeInto(edit, std::string(c.edit) == "address" ? "beta.example.net" : "20");
    sheet.ClickOk();
    EXPECT_EQ(sheet.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(std::string(host.Address), "beta.example.net");
}

INSTANTIATE_TEST_SUITE_P(
    Limits, HostOptionsBounds,
    ::testing::Values(
        BoundCase{"port", "0", kPortRange, 0}, BoundCase{"port", "1", nullptr, 1},
        BoundCase{"port", "22", nullptr, 22}, BoundCase{"port", "65535", nullptr, 65535},
        BoundCase{"port", "65536", kPortRange, 0}, BoundCase{"address", "", kNoAddress, 0},
        BoundCase{"address", "   ", kNoAddress, 0}, BoundCase{"port", "23a", kInteger, 0},
        BoundCase{"port", "", kInteger, 0}, BoundCase{"port", "99999999999", kPortRange, 0},
        BoundCase{"refresh", "0", kRefreshRange, 0}, BoundCase{"refresh", "1", nullptr, 1},
        BoundCase{"refresh", "12000", nullptr, 12000},
        BoundCase{"refresh", "12001", kRefreshRange, 0}, BoundCase{"refresh", "", kInteger, 0}));

TEST(HostOptionsSheet, LeavingAPageWithABadFieldKeepsTheUserThere)
{
    HostSettings host = SampleHost();
    CSheetUnderTest sheet(host);
    QLineEdit* port = sheet.Edit("port");
    TypeInto(port, "0");
    CBoxSeen seen;
    AnswerMessageBox(seen);
    ClickTab(sheet.Sheet(), 1);
    QTRY_COMPARE(seen.Count, 1);
    EXPECT_EQ(seen.Caption, "psvigil");
    EXPECT_EQ(seen.Text, kPortRange);
    EXPECT_EQ(sheet.Sheet()->currentIndex(), 0);
    QTRY_COMPARE(sheet.dialog.focusWidget(), port);
    EXPECT_EQ(port->selectedText(), "0");

    TypeInto(port, "80");
    ClickTab(sheet.Sheet(), 1);
    EXPECT_EQ(sheet.Sheet()->currentIndex(), 1);
    QTest::qWait(20);
    EXPECT_EQ(seen.Count, 1);
}

TEST(HostOptionsSheet, OkWritesWhatWasTyped)
{
    HostSettings host; // a new host with the defaults
    CSheetUnderTest sheet(host);
    TypeInto(sheet.Edit("address"), "gamma");
    TypeInto(sheet.Edit("port"), " 2424 ");
    TypeInto(sheet.Edit("username"), "bob");
    TypeInto(sheet.Edit("password"), "pw");
    TypeInto(sheet.Edit("refresh"), "45");
    Click(sheet.Box("keepConnectionOpen"));
    Click(sheet.Box("manualRefresh"));
    Click(sheet.Radio("sysv"));
    ClickTab(sheet.Sheet(), 1);
    Click(sheet.Radio("byCurrentUser"));
    TypeInto(sheet.Edit("expression"), "cron");
    sheet.ClickOk();

    ASSERT_EQ(sheet.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(std::string(host.Address), "gamma");
    EXPECT_EQ(host.Port, 2424);
    EXPECT_EQ(std::string(host.Username), "bob");
    EXPECT_EQ(std::string(host.Password), "pw");
    EXPECT_EQ(host.RefreshSeconds, 45);
    EXPECT_EQ(host.KeepConnectionOpen, 0);
    EXPECT_EQ(host.ManualRefresh, 1);
    EXPECT_EQ(host.Flavour, kFlavourSysV);
    EXPECT_EQ(host.FilterMode, kFilterByUser);
    EXPECT_EQ(std::string(host.FilterExpression), "cron");
    EXPECT_EQ(std::string(host.Command), "ps auxw | grep %s") << "the sheet never touches Command";
}

TEST(HostOptionsSheet, OkWithoutOpeningFilterKeepsTheFilterBytes)
{
    HostSettings host = SampleHost();
    // Bytes after the terminator carry no meaning, but a page never shown must not touch them.
    host.FilterExpression[10] = 'Z';
    const HostSettings before = host;
    CSheetUnderTest sheet(host);
    TypeInto(sheet.Edit("address"), "delta");
    sheet.ClickOk();

    ASSERT_EQ(sheet.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(std::string(host.Address), "delta");
    EXPECT_EQ(std::memcmp(&host.FilterMode, &before.FilterMode,
                          sizeof(HostSettings) - offsetof(HostSettings, FilterMode)),
              0);
}

TEST(HostOptionsSheet, CancelAfterEditsLeavesTheRecordAsItWas)
{
    HostSettings host = SampleHost();
    const HostSettings before = host;
    CSheetUnderTest sheet(host);
    TypeInto(sheet.Edit("address"), "epsilon");
    TypeInto(sheet.Edit("port"), "99");
    TypeInto(sheet.Edit("password"), "other");
    Click(sheet.Box("manualRefresh"));
    Click(sheet.Radio("bsd"));
    ClickTab(sheet.Sheet(), 1);
    Click(sheet.Radio("showAll"));
    TypeInto(sheet.Edit("expression"), "sshd");
    sheet.ClickCancel();

    EXPECT_EQ(sheet.dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(SameBytes(host, before));
}

// A value outside a radio group shows no button; storing that page without a choice gives -1.
TEST(HostOptionsSheet, RadioGroupWithoutChoiceWritesMinusOne)
{
    for (const bool openFilter : {false, true})
    {
        SCOPED_TRACE(openFilter ? "Filter opened" : "Filter never opened");
        HostSettings host = SampleHost();
        host.Flavour = 5;
        host.FilterMode = 7;
        CSheetUnderTest sheet(host);
        EXPECT_FALSE(sheet.Radio("bsd")->isChecked());
        EXPECT_FALSE(sheet.Radio("sysv")->isChecked());
        if (openFilter)
        {
            ClickTab(sheet.Sheet(), 1);
            EXPECT_FALSE(sheet.Radio("showAll")->isChecked());
            EXPECT_FALSE(sheet.Radio("byCurrentUser")->isChecked());
            EXPECT_FALSE(sheet.Radio("byExpression")->isChecked());
        }
        sheet.ClickOk();
        ASSERT_EQ(sheet.dialog.result(), QDialog::Accepted);
        EXPECT_EQ(host.Flavour, -1);
        EXPECT_EQ(host.FilterMode, openFilter ? -1 : 7);
    }
}

// The edits take no more than the record's fields hold, counted in UTF-8 bytes, so nothing is
// cut when it is written back.
TEST(HostOptionsSheet, EditsStopAtTheFieldCapacity)
{
    HostSettings host;
    CSheetUnderTest sheet(host);
    TypeInto(sheet.Edit("address"), QString(130, 'a'));
    TypeInto(sheet.Edit("username"), QString(15, QChar(0x00E9))); // two bytes each
    TypeInto(sheet.Edit("password"), QString(25, 'p'));
    ClickTab(sheet.Sheet(), 1);
    TypeInto(sheet.Edit("expression"), QString::fromUtf8("\xE2\x82\xAC").repeated(8));
    sheet.ClickOk();

    ASSERT_EQ(sheet.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(std::string(host.Address), std::string(127, 'a'));
    EXPECT_EQ(QString::fromUtf8(host.Username), QString(9, QChar(0x00E9)));
    EXPECT_EQ(std::string(host.Password), std::string(19, 'p'));
    EXPECT_EQ(QString::fromUtf8(host.FilterExpression),
              QString::fromUtf8("\xE2\x82\xAC").repeated(6));
}

// A field the user does not touch goes back byte for byte, even one the edit cannot show as it
// is (bytes from an older file that are not UTF-8, or a field without a terminator).
TEST(HostOptionsSheet, UntouchedTextsKeepTheirBytes)
{
    HostSettings host = SampleHost();
    CopyToField(host.Username, "\xE9t\xE9");
    std::memset(host.Password, 'x', sizeof host.Password); // no terminator
    const HostSettings before = host;
    CSheetUnderTest sheet(host);
    EXPECT_LE(sheet.Edit("password")->text().toUtf8().size(), 19);
    ClickTab(sheet.Sheet(), 1);
    sheet.ClickOk();

    ASSERT_EQ(sheet.dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(SameBytes(host, before));
}

// View > Settings: the stored number of refreshes for the change marks, and the dialog's box.
TEST(SettingsDialog, HighlightRefreshesReadBackAndTheBoxTurnsMarksOff)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("psvigil.ini"), QSettings::IniFormat);
    const struct
    {
        QVariant Stored;
        int Read;
    } cases[] = {{QVariant(), 2}, {0, 0}, {5, 5}, {99, 99}, {-1, 2}, {100, 2}, {"x", 2}};
    for (const auto& c : cases)
    {
        if (c.Stored.isValid())
            settings.setValue("Grid/HighlightRefreshes", c.Stored);
        EXPECT_EQ(CSettingsDialog::ReadHighlightRefreshes(settings), c.Read)
            << c.Stored.toString().toStdString();
    }

    CSettingsDialog dialog;
    dialog.SetHighlightRefreshes(4);
    dialog.HighlightBox()->setChecked(false);
    EXPECT_EQ(dialog.HighlightRefreshes(), 0);
    EXPECT_FALSE(dialog.RefreshesBox()->isEnabled());
    dialog.HighlightBox()->setChecked(true); // back to the number it had
    EXPECT_EQ(dialog.HighlightRefreshes(), 4);
    CSettingsDialog::WriteHighlightRefreshes(settings, dialog.HighlightRefreshes());
    EXPECT_EQ(CSettingsDialog::ReadHighlightRefreshes(settings), 4);
}
