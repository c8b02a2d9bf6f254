// lvFTPShellFile and its dialog, driven headless as a user would: what the dialog shows, what OK
// and Cancel keep, Tab order, and where no dialog can be shown at all.
#include "lanvex/ftp/shell_file.h"
#include "tests/lanvex/ftp/shell_file_test_support.h"

#include "platform/ui/dialog_units.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace lanvex
{
namespace
{

using TextGetter = HRESULT (STDMETHODCALLTYPE IlvFTPShellFile::*)(BSTR*);
using TextSetter = HRESULT (STDMETHODCALLTYPE IlvFTPShellFile::*)(BSTR);

// The five texts with their edits.
const struct TextProperty
{
    const char* Name;
    TextGetter Get;
    TextSetter Put;
    const char* EditId;
} kTexts[] = {
    {"Server", &IlvFTPShellFile::get_Server, &IlvFTPShellFile::put_Server, "201"},
    {"Username", &IlvFTPShellFile::get_Username, &IlvFTPShellFile::put_Username, "202"},
    {"Password", &IlvFTPShellFile::get_Password, &IlvFTPShellFile::put_Password, "209"},
    {"From", &IlvFTPShellFile::get_From, &IlvFTPShellFile::put_From, "210"},
    {"To", &IlvFTPShellFile::get_To, &IlvFTPShellFile::put_To, "211"},
};

QString Text(const ShellFilePtr& file, TextGetter get)
{
    BSTR value = nullptr;
    EXPECT_EQ((file.p->*get)(&value), S_OK);
    const QString text = QString::fromUtf16(value, SysStringLen(value));
    SysFreeString(value);
    return text;
}

void SetText(const ShellFilePtr& file, TextSetter put, const QString& text)
{
    BSTR value = SysAllocStringLen(reinterpret_cast<const char16_t*>(text.utf16()),
                                   static_cast<UINT>(text.size()));
    EXPECT_EQ((file.p->*put)(value), S_OK);
    SysFreeString(value);
}

// The number properties, read in one go.
struct Numbers
{
    LONG ShowDialog = -1, FilesOnly = -1, CreateDestDirectories = -1;
    SHORT Function = -1;
    bool operator==(const Numbers&) const = default;
};

Numbers ReadNumbers(const ShellFilePtr& file)
{
    Numbers n;
    file->get_ShowDialog(&n.ShowDialog);
    file->get_FilesOnly(&n.FilesOnly);
    file->get_CreateDestDirectories(&n.CreateDestDirectories);
    file->get_Function(&n.Function);
    return n;
}

template <class T> T* Find(QDialog* dialog, const char* id)
{
    T* control = dialog->findChild<T*>(QString::fromLatin1(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
}

// Calls Configure and runs action on its dialog from inside the modal loop. A dialog the action
// leaves open is cancelled after a few seconds, so no test can hang.
HRESULT ConfigureWith(const ShellFilePtr& file, std::function<void(QDialog*)> action)
{
    QTimer::singleShot(0,
                       [action]
                       {
                           auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                           if (dialog == nullptr)
                           {
                               ADD_FAILURE() << "no dialog open";
                               return;
                           }
                           QPointer<QDialog> guard(dialog);
                           QTimer::singleShot(5000, dialog,
                                              [guard]
                                              {
                                                  ADD_FAILURE() << "dialog left open";
                                                  guard->reject();
                                              });
                           action(dialog);
                       });
    return file->Configure();
}

void PressOK(QDialog* dialog)
{
    QTest::mouseClick(Find<QPushButton>(dialog, "1"), Qt::LeftButton);
}

void PressCancel(QDialog* dialog)
{
    QTest::mouseClick(Find<QPushButton>(dialog, "2"), Qt::LeftButton);
}

void TypeOver(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

bool IsChecked(QDialog* dialog, const char* id)
{
    return Find<QAbstractButton>(dialog, id)->isChecked();
}

TEST(FileOperationDialog, NewInstanceShowsTheDefaults)
{
    ShellFilePtr file;
    EXPECT_EQ(ReadNumbers(file), (Numbers{0, 0, 1, 1}));
    const HRESULT hr =
        ConfigureWith(file,
                      [](QDialog* dialog)
                      {
                          EXPECT_EQ(dialog->windowTitle(), "FTP File Operation");
                          for (const auto& [id, checked] :
                               std::vector<std::pair<const char*, bool>>{{"203", true},
                                                                         {"204", false},
                                                                         {"205", false},
                                                                         {"206", false},
                                                                         {"207", false},
                                                                         {"208", true}})
                              EXPECT_EQ(IsChecked(dialog, id), checked) << id;
                          for (const TextProperty& t : kTexts)
                              EXPECT_EQ(Find<QLineEdit>(dialog, t.EditId)->text(), "") << t.Name;
                          PressCancel(dialog);
                      });
    EXPECT_EQ(hr, S_FALSE);
}

// Function to radio button and back: 1 Copy, 2 Move, anything else Delete; OK stores 1, 2 or 3.
struct FunctionCase
{
    SHORT Before;
    const char* ShownChecked;
    const char* Click; // null: leave the radio buttons alone
    SHORT After;
};

class FunctionMapping : public testing::TestWithParam<FunctionCase>
{
};

void PrintTo(const FunctionCase& c, std::ostream* os)
{
    *os << "Function " << c.Before << (c.Click ? " click " : "") << (c.Click ? c.Click : "");
}

TEST_P(FunctionMapping, ShownAndStored)
{
    const FunctionCase c = GetParam();
    ShellFilePtr file;
    file->put_Function(c.Before);
    const HRESULT hr = ConfigureWith(
        file,
        [c](QDialog* dialog)
        {
            for (const char* id : {"203", "204", "205"})
                EXPECT_EQ(IsChecked(dialog, id), std::string(id) == c.ShownChecked) << id;
            if (c.Click != nullptr)
                QTest::mouseClick(Find<QRadioButton>(dialog, c.Click), Qt::LeftButton);
            PressOK(dialog);
        });
    EXPECT_EQ(hr, S_OK);
    SHORT nFunction = 0;
    file->get_Function(&nFunction);
    EXPECT_EQ(nFunction, c.After);
}

INSTANTIATE_TEST_SUITE_P(
    FileOperationDialog, FunctionMapping,
    testing::Values(FunctionCase{2, "204", nullptr, 2}, FunctionCase{7, "205", nullptr, 3},
                    FunctionCase{0, "205", nullptr, 3}, FunctionCase{2, "204", "203", 1},
                    FunctionCase{1, "203", "205", 3}, FunctionCase{3, "205", "204", 2}));

// Every field shown, edited and read back by OK; Cancel and the close box keep everything.
enum class Ending
{
    OK,
    Cancel,
    CloseBox,
    Escape
};

class FieldEditing : public testing::TestWithParam<Ending>
{
};

TEST_P(FieldEditing, EveryFieldEdited)
{
    const Ending ending = GetParam();
    ShellFilePtr file;
    for (const TextProperty& t : kTexts)
        SetText(file, t.Put, QString("old %1 \u00e9").arg(t.Name));
    file->put_ShowDialog(1);
    file->put_FilesOnly(0);
    file->put_CreateDestDirectories(1);
    file->put_Function(2);
    const HRESULT hr =
        ConfigureWith(file,
                      [ending](QDialog* dialog)
                      {
                          for (const TextProperty& t : kTexts)
                          {
                              QLineEdit* edit = Find<QLineEdit>(dialog, t.EditId);
                              EXPECT_EQ(edit->text(), QString("old %1 \u00e9").arg(t.Name));
                              EXPECT_EQ(edit->echoMode(), QLineEdit::Normal)
                                  << t.Name; // the password too
                              TypeOver(edit, QString("new %1").arg(t.Name));
                          }
                          for (const char* id : {"206", "207", "208"})
                              QTest::mouseClick(Find<QCheckBox>(dialog, id), Qt::LeftButton);
                          QTest::mouseClick(Find<QRadioButton>(dialog, "205"), Qt::LeftButton);
                          switch (ending)
                          {
                          case Ending::OK:
                              PressOK(dialog);
                              break;
                          case Ending::Cancel:
                              PressCancel(dialog);
                              break;
                          case Ending::CloseBox:
                              dialog->close();
                              break;
                          case Ending::Escape:
                              QTest::keyClick(dialog, Qt::Key_Escape);
                              break;
                          }
                      });
    const bool bKept = ending == Ending::OK;
    EXPECT_EQ(hr, bKept ? S_OK : S_FALSE);
    for (const TextProperty& t : kTexts)
        EXPECT_EQ(Text(file, t.Get), QString(bKept ? "new %1" : "old %1 \u00e9").arg(t.Name));
    EXPECT_EQ(ReadNumbers(file), bKept ? (Numbers{0, 1, 0, 3}) : (Numbers{1, 0, 1, 2}));
}

std::string EndingName(const testing::TestParamInfo<Ending>& info)
{
    const char* names[] = {"OK", "Cancel", "CloseBox", "Escape"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(FileOperationDialog, FieldEditing,
                         testing::Values(Ending::OK, Ending::Cancel, Ending::CloseBox,
                                         Ending::Escape),
                         EndingName);

TEST(FileOperationDialog, EmptiedServerBecomesAnEmptyText)
{
    ShellFilePtr file;
    SetText(file, &IlvFTPShellFile::put_Server, "ftp.example.net");
    EXPECT_EQ(ConfigureWith(file,
                            [](QDialog* dialog)
                            {
                                TypeOver(Find<QLineEdit>(dialog, "201"), "");
                                PressOK(dialog);
                            }),
              S_OK);
    BSTR server = nullptr;
    ASSERT_EQ(file->get_Server(&server), S_OK);
    ASSERT_NE(server, nullptr); // a new empty text, not a missing one
    EXPECT_EQ(SysStringLen(server), 0u);
    SysFreeString(server);
}

// Tab visits the tab stops in template order (the radio group is none) and comes round again;
// Return presses the default button.
TEST(FileOperationDialog, TabOrderAndDefaultButton)
{
    ShellFilePtr file;
    SetText(file, &IlvFTPShellFile::put_From, "*.txt");
    const HRESULT hr =
        ConfigureWith(file,
                      [](QDialog* dialog)
                      {
                          dialog->activateWindow();
                          ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
                          QStringList visited;
                          for (int i = 0; i < 11; ++i)
                          {
                              QWidget* focus = QApplication::focusWidget();
                              visited << (focus != nullptr ? focus->objectName() : QString("none"));
                              QTest::keyClick(focus != nullptr ? focus : dialog, Qt::Key_Tab);
                          }
                          EXPECT_EQ(visited.join(' '), "1 2 206 207 208 201 202 209 210 211 1");
                          // Return in an edit presses the default button, OK.
                          QLineEdit* from = Find<QLineEdit>(dialog, "210");
                          from->setFocus();
                          QTest::keyClick(from, Qt::Key_Return);
                      });
    EXPECT_EQ(hr, S_OK);
}

// The template: every control's text and place in dialog units, and the dialog's size.
TEST(FileOperationDialog, ControlsWhereTheTemplatePutsThem)
{
    ShellFilePtr file;
    ConfigureWith(
        file,
        [](QDialog* dialog)
        {
            const auto X = [dialog](int units) { return DialogUnitsX(dialog, units); };
            const auto Y = [dialog](int units) { return DialogUnitsY(dialog, units); };
            EXPECT_EQ(dialog->size(), QSize(X(220), Y(245)));
            const struct
            {
                const char* Id;
                const char* Text;
                int X, Y;
            } controls[] = {{"1", "OK", 111, 224},
                            {"2", "Cancel", 163, 224},
                            {"203", "Copy", 20, 169},
                            {"204", "Move", 20, 184},
                            {"205", "Delete", 20, 199},
                            {"206", "Show dialog", 100, 169},
                            {"207", "Files only", 100, 184},
                            {"208", "Create destination directories", 100, 199},
                            {"201", "", 75, 15},
                            {"202", "", 75, 35},
                            {"209", "", 75, 55},
                            {"210", "", 20, 99},
                            {"211", "", 20, 129}};
            for (const auto& c : controls)
            {
                QWidget* control = Find<QWidget>(dialog, c.Id);
                EXPECT_EQ(control->pos(), QPoint(X(c.X), Y(c.Y))) << c.Id;
                if (auto* button = qobject_cast<QAbstractButton*>(control))
                {
                    EXPECT_EQ(button->text(), c.Text) << c.Id;
                }
            }
            EXPECT_TRUE(Find<QPushButton>(dialog, "1")->isDefault());
            QStringList labels, groups;
            for (QLabel* label : dialog->findChildren<QLabel*>())
                labels << QString("%1@%2,%3").arg(label->text()).arg(label->x()).arg(label->y());
            for (QGroupBox* group : dialog->findChildren<QGroupBox*>())
                groups << QString("%1@%2,%3").arg(group->title()).arg(group->x()).arg(group->y());
            const auto At = [&](const char* text, int x, int y)
            { return QString("%1@%2,%3").arg(text).arg(X(x)).arg(Y(y)); };
            const auto Sorted = [](QStringList list)
            {
                list.sort();
                return list.join('|');
            };
            EXPECT_EQ(Sorted(labels),
                      Sorted(QStringList{At("From (may use wildcards , *.*, ?.* etc.) :", 20, 89),
                                         At("To (destination directory or file name) :", 20, 119),
                                         At("Username", 35, 39), At("Password", 36, 57),
                                         At("Server", 44, 19)}));
            EXPECT_EQ(Sorted(groups),
                      Sorted(QStringList{At("Operation", 7, 155), At("Options", 88, 155),
                                         At("", 7, 3), At("", 7, 77)}));
            PressCancel(dialog);
        });
}

// Where no dialog can be shown, Configure answers S_FALSE at once and changes nothing.
TEST(FileOperationDialog, OtherThreadGetsNoDialog)
{
    ShellFilePtr file;
    HRESULT hr = E_FAIL;
    std::thread([&] { hr = file->Configure(); }).join();
    EXPECT_EQ(hr, S_FALSE);
}

// A console program (no Qt application) where nobody could see a dialog: no display at all, a
// display that isn't there, a platform that draws for nobody.
TEST(FileOperationDialog, ConsoleProgramWithoutDisplayGetsNoDialog)
{
    const std::vector<std::pair<const char*, const char*>> settings[] = {
        {},
        {{"DISPLAY", ":65000"}},
        {{"QT_QPA_PLATFORM", "offscreen"}},
        {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":65000"}},
    };
    for (const auto& environment : settings)
    {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                ::unsetenv(name);
            for (const auto& [name, value] : environment)
                ::setenv(name, value, 1);
            ::execl("/proc/self/exe", "lanvex_storage_tests", "--configure-child", nullptr);
            ::_exit(127);
        }
        const std::string label = environment.empty() ? "no display" : environment.back().second;
        // A hanging child is killed after a few seconds rather than hanging the test.
        int status = 0;
        const auto start = std::chrono::steady_clock::now();
        while (::waitpid(child, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10))
            {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                FAIL() << "Configure hung in a console program: " << label;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        ASSERT_TRUE(WIFEXITED(status)) << "the console program crashed: " << label;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "Configure did not answer S_FALSE: " << label;
        std::printf("console Configure (%s) answered in %lld ms\n", label.c_str(),
                    static_cast<long long>(elapsed.count()));
    }
}

// Which host shows the dialog, from what the process looks like.
TEST(FileOperationDialog, DialogHostChoice)
{
    using H = DialogHost;
    const struct
    {
        DialogHostFacts Facts;
        H Host;
    } cases[] = {
        {{true, true, true, true, false, false}, H::Running},     // psvigil's GUI thread
        {{true, true, false, false, true, true}, H::None},        // psvigil's worker thread
        {{true, false, true, true, true, true}, H::None},         // a console Qt application
        {{false, false, false, true, true, false}, H::OwnChosen}, // QT_QPA_PLATFORM=vnc
        {{false, false, false, true, false, true}, H::OwnX},      // comcall on a desktop
        {{false, false, false, false, false, true}, H::None},     // not the main thread
        {{false, false, false, true, false, false}, H::None},     // no display at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseDialogHost(c.Facts), c.Host) << &c - cases;
    for (const auto& [display, reachable] :
         std::vector<std::pair<const char*, bool>>{{":", false},
                                                   {"", false},
                                                   {":x", false},
                                                   {":65000", false},
                                                   {"unix:65000.0", false},
                                                   {"remote.example:10.0", true}})
        EXPECT_EQ(LocalXDisplayReachable(display), reachable) << display;
}

TEST(FileOperationDialog, ExecuteAndInterfaces)
{
    ShellFilePtr file;
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(file->QueryInterface(IID_ISupportErrorInfo, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(file->get_Function(nullptr), E_POINTER);
    // A fresh description names no server: nothing is done, and that is no success.
    EXPECT_EQ(file->Execute(), E_INVALIDARG);
}

// Execute's progress window: shown only when asked for; its Cancel stops the run before the next
// file.
TEST(FileOperationDialog, ProgressWindowAndCancel)
{
    const auto Shown = []
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<QProgressDialog*>(widget);
                progress != nullptr && progress->isVisible())
                return progress;
        return static_cast<QProgressDialog*>(nullptr);
    };
    {
        CFileOperationProgress quiet(false);
        EXPECT_EQ(Shown(), nullptr);
        EXPECT_TRUE(quiet.Next("a.txt"));
    }
    CFileOperationProgress progress(true);
    QProgressDialog* window = Shown();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "FTP File Operation");
    EXPECT_TRUE(progress.Next("pub/reports/a.txt"));
    EXPECT_EQ(window->labelText(), "pub/reports/a.txt");
    if (!qEnvironmentVariableIsEmpty("VIGIL_SHOT_DIR"))
    {
        QTest::qWait(200);
        window->grab().save(QDir(qEnvironmentVariable("VIGIL_SHOT_DIR")).filePath("progress.png"));
    }
    QPushButton* cancel = window->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(progress.Next("pub/reports/b.txt"));
}

// A picture of the dialog when VIGIL_SHOT_DIR names a folder, to be looked at.
TEST(FileOperationDialog, Screenshot)
{
    if (qEnvironmentVariableIsEmpty("VIGIL_SHOT_DIR"))
        GTEST_SKIP() << "VIGIL_SHOT_DIR not set";
    ShellFilePtr file;
    SetText(file, &IlvFTPShellFile::put_Server, "ftp.example.net:2121");
    SetText(file, &IlvFTPShellFile::put_Username, "alice");
    SetText(file, &IlvFTPShellFile::put_Password, "s3cret");
    SetText(file, &IlvFTPShellFile::put_From, "/pub/reports/*.txt");
    SetText(file, &IlvFTPShellFile::put_To, "/home/alice/reports");
    file->put_Function(2);
    ConfigureWith(file,
                  [](QDialog* dialog)
                  {
                      QTest::qWait(200);
                      const QString dir = qEnvironmentVariable("VIGIL_SHOT_DIR");
                      EXPECT_TRUE(
                          dialog->grab().save(QDir(dir).filePath("ftp_file_operation.png")));
                      PressCancel(dialog);
                  });
}

} // namespace
} // namespace lanvex
