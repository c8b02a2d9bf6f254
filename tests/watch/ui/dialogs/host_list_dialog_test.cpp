// The Watch dialog driven through its buttons: the host list it edits and the host it picks.
#include "watch/ui/dialogs/host_list_dialog.h"

#include "tests/watch/ui/dialogs/dialog_test_driver.h"

#include <QComboBox>
#include <QLabel>

#include <cstring>
#include <string>
#include <vector>

namespace
{
void AddHost(COwningPtrArray<HostSettings>& hosts, const char* address)
{
    auto* host = new HostSettings;
    SetAddress(*host, address);
    hosts.Add(host);
}

std::vector<std::string> Addresses(const COwningPtrArray<HostSettings>& hosts)
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < hosts.GetSize(); ++i)
        out.emplace_back(hosts.GetAt(i)->Address);
    return out;
}

std::vector<std::string> Entries(const QComboBox* combo)
{
    std::vector<std::string> out;
    for (int i = 0; i < combo->count(); ++i)
        out.push_back(combo->itemText(i).toStdString());
    return out;
}

// One Watch dialog on screen over a list of hosts.
struct CWatchUnderTest
{
    explicit CWatchUnderTest(COwningPtrArray<HostSettings>& hosts) : dialog(hosts)
    {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    QComboBox* Combo() { return Control<QComboBox>(&dialog, "hosts"); }
    void Press(const char* name) { Click(Control<QAbstractButton>(&dialog, name)); }

    // Presses New or Edit and, in the Host Options sheet that opens, sets the address and
    // presses OK (or Cancel when address is null).
    void RunSheet(const char* button, const char* address)
    {
        WhenModalOpens(
            [address](QWidget* top)
            {
                if (address != nullptr)
                    TypeInto(Control<QLineEdit>(top, "address"), QString::fromLatin1(address));
                Click(Control<QAbstractButton>(top, address != nullptr ? "ok" : "cancel"));
            });
        Press(button);
    }

    CWatchDlg dialog;
};

using Strings = std::vector<std::string>;
} // namespace

TEST(WatchDialog, OpensWithTheHostsInListOrderAndTheFirstSelected)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "charlie");
    AddHost(hosts, "alpha");
    AddHost(hosts, "bravo");
    CWatchUnderTest watch(hosts);
    EXPECT_EQ(watch.dialog.windowTitle(), "Watch");
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"charlie", "alpha", "bravo"}));
    EXPECT_EQ(watch.Combo()->currentIndex(), 0);
    EXPECT_FALSE(watch.Combo()->isEditable());
    EXPECT_EQ(Control<QLabel>(&watch.dialog, "note")->text(),
              "You must have telnet or SSH access and rights to execute \"ps\" command on remote "
              "host.");
    EXPECT_EQ(watch.dialog.GetSelectedIndex(), -1);
}

TEST(WatchDialog, NewAppendsOnOkAndDiscardsOnCancel)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "alpha");
    AddHost(hosts, "bravo");
    CWatchUnderTest watch(hosts);
    QTest::keyClick(watch.Combo(), Qt::Key_Down);
    ASSERT_EQ(watch.Combo()->currentIndex(), 1);

    watch.RunSheet("new", nullptr);
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo"}));
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"alpha", "bravo"}));

    watch.RunSheet("new", "zulu");
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo"})) << "the list changes on OK only";
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"alpha", "bravo", "zulu"}));
    EXPECT_EQ(watch.Combo()->currentIndex(), 0);
    watch.dialog.accept();
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo", "zulu"}));

    // Apart from the address, the new host carries the defaults of a new record.
    HostSettings expected;
    SetAddress(expected, "zulu");
    EXPECT_EQ(std::memcmp(hosts.GetAt(2), &expected, sizeof(HostSettings)), 0);
}

TEST(WatchDialog, EditReplacesTheHostAndKeepsItSelected)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "alpha");
    AddHost(hosts, "bravo");
    AddHost(hosts, "charlie");
    HostSettings* second = hosts.GetAt(1);
    second->Port = 2323;
    CWatchUnderTest watch(hosts);
    QTest::keyClick(watch.Combo(), Qt::Key_Down);

    watch.RunSheet("edit", nullptr);
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo", "charlie"}));
    EXPECT_EQ(watch.Combo()->currentIndex(), 1);

    watch.RunSheet("edit", "bravo-2");
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"alpha", "bravo-2", "charlie"}));
    EXPECT_EQ(watch.Combo()->currentIndex(), 1);
    watch.dialog.accept();
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo-2", "charlie"}));
    EXPECT_EQ(hosts.GetAt(1), second) << "records that stay keep their place in memory";
    EXPECT_EQ(hosts.GetAt(1)->Port, 2323) << "fields not edited are copied over";
}

TEST(WatchDialog, DeleteAsksFirstAndSelectsTheFirst)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "alpha");
    AddHost(hosts, "bravo");
    AddHost(hosts, "charlie");
    CWatchUnderTest watch(hosts);
    QStringList asked;
    bool answer = false;
    watch.dialog.SetDeleteConfirmation(
        [&](QWidget*, const QString& address)
        {
            asked << address;
            return answer;
        });
    QTest::keyClick(watch.Combo(), Qt::Key_Down);
    QTest::keyClick(watch.Combo(), Qt::Key_Down);

    watch.Press("delete"); // answered No
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"alpha", "bravo", "charlie"}));
    answer = true;
    watch.Press("delete");
    EXPECT_EQ(asked, (QStringList{"charlie", "charlie"}));
    EXPECT_EQ(Entries(watch.Combo()), (Strings{"alpha", "bravo"}));
    EXPECT_EQ(watch.Combo()->currentIndex(), 0);
    watch.Press("delete");
    watch.Press("delete");
    EXPECT_EQ(watch.Combo()->count(), 0);
    EXPECT_EQ(watch.Combo()->currentIndex(), -1);

    // On an empty list Edit and Delete do nothing (no sheet opens, nothing is asked).
    watch.Press("edit");
    watch.Press("delete");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(asked.size(), 4);
    EXPECT_EQ(hosts.GetSize(), 3) << "still the caller's list until OK";
    watch.dialog.accept();
    EXPECT_EQ(hosts.GetSize(), 0);
}

TEST(WatchDialog, CancelUndoesNewAndDelete)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "alpha");
    AddHost(hosts, "bravo");
    CWatchDlg dialog(hosts);
    dialog.SetDeleteConfirmation([](QWidget*, const QString&) { return true; });
    WhenModalOpens(
        [](QWidget* top)
        {
            Click(Control<QAbstractButton>(top, "delete"));
            Click(Control<QAbstractButton>(top, "cancel"));
        });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(Addresses(hosts), (Strings{"alpha", "bravo"}));
    EXPECT_EQ(dialog.GetSelectedIndex(), -1);
}

// The index picks the host, so two hosts with one address stay apart.
TEST(WatchDialog, OkReturnsTheSelectedIndexEvenForDuplicateAddresses)
{
    COwningPtrArray<HostSettings> hosts;
    AddHost(hosts, "same");
    AddHost(hosts, "same");
    CWatchDlg dialog(hosts);
    WhenModalOpens(
        [](QWidget* top)
        {
            auto* combo = Control<QComboBox>(top, "hosts");
            EXPECT_EQ(combo->count(), 2);
            QTest::keyClick(combo, Qt::Key_Down);
            Click(Control<QAbstractButton>(top, "ok"));
        });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetSelectedIndex(), 1);
}

TEST(WatchDialog, OkWithAnEmptyListGivesNoIndex)
{
    COwningPtrArray<HostSettings> hosts;
    CWatchDlg dialog(hosts);
    WhenModalOpens([](QWidget* top) { Click(Control<QAbstractButton>(top, "ok")); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetSelectedIndex(), -1);
}
