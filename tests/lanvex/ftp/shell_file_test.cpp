// lvFTPShellFile and its dialog, driven headless as a user would: what the dialog shows, what OK
// and Cancel keep, Tab order, and where no dialog can be shown at all.
#include "lanvex/ftp/shell_file.h"
#include "lanvex/ftp/shell_file_execute.h"
#include "tests/lanvex/ftp/shell_file_test_support.h"

#include "platform/com/conversion.h"
#include "platform/ui/dialog_units.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
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
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lanvex
{
namespace
{

// The five texts with their edits.
const struct
{
    const char* EditId;
    HRESULT (STDMETHODCALLTYPE IlvFTPShellFile::*Put)(BSTR);
    HRESULT (STDMETHODCALLTYPE IlvFTPShellFile::*Get)(BSTR*);
} kTexts[] = {{"201", &IlvFTPShellFile::put_Server, &IlvFTPShellFile::get_Server},
              {"202", &IlvFTPShellFile::put_Username, &IlvFTPShellFile::get_Username},
              {"209", &IlvFTPShellFile::put_Password, &IlvFTPShellFile::get_Password},
              {"210", &IlvFTPShellFile::put_From, &IlvFTPShellFile::get_From},
              {"211", &IlvFTPShellFile::put_To, &IlvFTPShellFile::get_To}};

// Every property as one line: the texts, then ShowDialog, FilesOnly, CreateDestDirectories and
// Function.
std::string Properties(const ShellFilePtr& file)
{
    std::string all;
    for (const auto& t : kTexts)
    {
        BSTR value = nullptr;
        EXPECT_EQ((file.p->*t.Get)(&value), S_OK);
        EXPECT_NE(value, nullptr); // an emptied text is a new empty one, never a missing one
        all += WideToNarrow(std::u16string_view(value, SysStringLen(value))) + "|";
        SysFreeString(value);
    }
    LONG show = -1, files = -1, create = -1;
    SHORT function = -1;
    file->get_ShowDialog(&show);
    file->get_FilesOnly(&files);
    file->get_CreateDestDirectories(&create);
    file->get_Function(&function);
    return all + std::to_string(show) + std::to_string(files) + std::to_string(create) +
           std::to_string(function);
}

template <class T = QWidget> T* Find(QDialog* dialog, const char* id)
{
    T* control = dialog->findChild<T*>(QString::fromLatin1(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
}

void Click(QDialog* dialog, const char* id)
{
    QTest::mouseClick(Find<QAbstractButton>(dialog, id), Qt::LeftButton);
}

bool Checked(QDialog* dialog, const char* id)
{
    return Find<QAbstractButton>(dialog, id)->isChecked();
}

// Calls Configure and runs action on its dialog from inside the modal loop. A dialog the action
// leaves open is cancelled after a few seconds, so no test can hang.
HRESULT ConfigureWith(const ShellFilePtr& file, std::function<void(QDialog*)> action)
{
    QTimer::singleShot(0,
                       [action]
                       {
                           auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                           ASSERT_NE(dialog, nullptr) << "no dialog open";
                           QTimer::singleShot(5000, dialog,
                                              [dialog]
                                              {
                                                  ADD_FAILURE() << "dialog left open";
                                                  dialog->reject();
                                              });
                           action(dialog);
                       });
    return file->Configure();
}

TEST(FileOperationDialog, NewInstanceShowsTheDefaults)
{
    ShellFilePtr file;
    EXPECT_EQ(Properties(file), "|||||0011");
    EXPECT_EQ(ConfigureWith(file,
                            [](QDialog* dialog)
                            {
                                EXPECT_EQ(dialog->windowTitle(), "FTP File Operation");
                                std::string checks;
                                for (const char* id : {"203", "204", "205", "206", "207", "208"})
                                    checks += Checked(dialog, id) ? '1' : '0';
                                EXPECT_EQ(checks, "100001");
                                for (const auto& t : kTexts)
                                    EXPECT_EQ(Find<QLineEdit>(dialog, t.EditId)->text(), "")
                                        << t.EditId;
                                Click(dialog, "2");
                            }),
              S_FALSE);
}

// Function to radio button and back: 1 Copy, 2 Move, anything else Delete; OK stores 1, 2 or 3.
TEST(FileOperationDialog, FunctionMapping)
{
    const struct
    {
        SHORT Before;
        const char* Shown;
        const char* Click; // null: the radio buttons are left alone
        SHORT After;
    } cases[] = {{2, "204", nullptr, 2}, {7, "205", nullptr, 3}, {0, "205", nullptr, 3},
                 {2, "204", "203", 1},   {1, "203", "205", 3},   {3, "205", "204", 2}};
    for (const auto& c : cases)
    {
        ShellFilePtr file;
        file->put_Function(c.Before);
        EXPECT_EQ(ConfigureWith(file,
                                [&c](QDialog* dialog)
                                {
                                    for (const char* id : {"203", "204", "205"})
                                        EXPECT_EQ(Checked(dialog, id), std::string(id) == c.Shown)
                                            << c.Before;
                                    if (c.Click != nullptr)
                                        Click(dialog, c.Click);
                                    Click(dialog, "1");
                                }),
                  S_OK);
        SHORT nFunction = 0;
        file->get_Function(&nFunction);
        EXPECT_EQ(nFunction, c.After) << c.Before;
    }
}

// Every field edited (Server emptied); OK keeps the edits, every other end keeps nothing.
TEST(FileOperationDialog, EditedFieldsKeptOnlyByOK)
{
    const std::function<void(QDialog*)> endings[] = {
        [](QDialog* dialog) { Click(dialog, "1"); }, [](QDialog* dialog) { Click(dialog, "2"); },
        [](QDialog* dialog) { dialog->close(); },
        [](QDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }};
    for (size_t i = 0; i < std::size(endings); ++i)
    {
        ShellFilePtr file;
        for (const auto& t : kTexts)
            (file.p->*t.Put)(
                CComBSTR(std::string_view(std::string("old ") + t.EditId + " \xc3\xa9")));
        file->put_ShowDialog(1);
        file->put_Function(2);
        const std::string before = Properties(file);
        const HRESULT hr = ConfigureWith(
            file,
            [&](QDialog* dialog)
            {
                for (const auto& t : kTexts)
                {
                    auto* edit = Find<QLineEdit>(dialog, t.EditId);
                    EXPECT_EQ(edit->text().toStdString(),
                              std::string("old ") + t.EditId + " \xc3\xa9");
                    EXPECT_EQ(edit->echoMode(), std::string(t.EditId) == "209" ? QLineEdit::Password
                                                                               : QLineEdit::Normal);
                    edit->selectAll();
                    QTest::keyClick(edit, Qt::Key_Delete);
                    if (std::string(t.EditId) != "201")
                        QTest::keyClicks(edit, QString("new %1").arg(t.EditId));
                }
                for (const char* id : {"206", "207", "208", "205"})
                    Click(dialog, id);
                endings[i](dialog);
            });
        EXPECT_EQ(hr, i == 0 ? S_OK : S_FALSE) << "ending " << i;
        EXPECT_EQ(Properties(file), i == 0 ? "|new 202|new 209|new 210|new 211|0103" : before)
            << "ending " << i;
    }
}

// Tab visits the tab stops in template order (the radio group once) and comes round again;
// arrows move within the radio group; Return in an edit presses the default button.
TEST(FileOperationDialog, TabOrderAndDefaultButton)
{
    ShellFilePtr file;
    EXPECT_EQ(ConfigureWith(file,
                            [](QDialog* dialog)
                            {
                                dialog->activateWindow();
                                ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
                                QStringList visited;
                                for (int i = 0; i < 13; ++i)
                                {
                                    visited << QApplication::focusWidget()->objectName();
                                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                                }
                                EXPECT_EQ(visited.join(' ').toStdString(),
                                          "1 2 203 206 207 208 201 202 209 212 210 211 1");
                                Find(dialog, "203")->setFocus();
                                QTest::keyClick(Find(dialog, "203"), Qt::Key_Down);
                                EXPECT_EQ(QApplication::focusWidget()->objectName(), "204");
                                EXPECT_TRUE(Find<QRadioButton>(dialog, "204")->isChecked());
                                // Alt and a label's letter reach its edit.
                                QTest::keyClick(dialog, Qt::Key_P, Qt::AltModifier);
                                EXPECT_EQ(QApplication::focusWidget()->objectName(), "209");
                                Find<QLineEdit>(dialog, "210")->setFocus();
                                QTest::keyClick(Find(dialog, "210"), Qt::Key_Return);
                            }),
              S_OK);
}

// The template: each control's id, text and place in dialog units, and the dialog's size.
TEST(FileOperationDialog, ControlsWhereTheTemplatePutsThem)
{
    ShellFilePtr file;
    ConfigureWith(
        file,
        [](QDialog* dialog)
        {
            const auto At = [dialog](int x, int y)
            { return QPoint(DialogUnitsX(dialog, x), DialogUnitsY(dialog, y)); };
            EXPECT_GE(dialog->width(), DialogUnitsX(dialog, 220));
            EXPECT_EQ(dialog->height(), DialogUnitsY(dialog, 245));
            const struct
            {
                const char* Id;
                const char* Text;
                int X, Y;
            } controls[] = {{"1", "&OK", 111, 224},
                            {"2", "C&ancel", 163, 224},
                            {"203", "&Copy", 20, 169},
                            {"204", "&Move", 20, 184},
                            {"205", "&Delete", 20, 199},
                            {"206", "Show d&ialog", 100, 169},
                            {"207", "Files o&nly", 100, 184},
                            {"208", "Create destination di&rectories", 100, 199},
                            {"212", "S&how", 160, 57},
                            {"201", "", 75, 15},
                            {"202", "", 75, 35},
                            {"209", "", 75, 55},
                            {"210", "", 20, 99},
                            {"211", "", 20, 129}};
            for (const auto& c : controls)
            {
                EXPECT_EQ(Find(dialog, c.Id)->pos(), At(c.X, c.Y)) << c.Id;
                auto* button = qobject_cast<QAbstractButton*>(Find(dialog, c.Id));
                EXPECT_EQ(button ? button->text().toStdString() : "", c.Text) << c.Id;
            }
            EXPECT_TRUE(Find<QPushButton>(dialog, "1")->isDefault());
            QStringList frames;
            for (QLabel* label : dialog->findChildren<QLabel*>())
                frames << label->text();
            for (QGroupBox* group : dialog->findChildren<QGroupBox*>())
                frames << "[" + group->title() + "]";
            frames.sort();
            EXPECT_EQ(
                frames.join('|').toStdString(),
                "&From (may use wildcards , *.*, ?.* etc.) :|&Password|&Server|"
                "&To (destination directory or file name) :|&Username|[Operation]|[Options]|[]|"
                "[]");
            // Every check box stays inside its frame, whatever the font makes of its text.
            for (QGroupBox* group : dialog->findChildren<QGroupBox*>())
                for (QCheckBox* check : dialog->findChildren<QCheckBox*>())
                {
                    if (group->geometry().contains(check->geometry().topLeft()))
                    {
                        EXPECT_TRUE(group->geometry().contains(check->geometry()))
                            << check->text().toStdString();
                    }
                }
            // The password is masked until "Show" is checked.
            auto* password = Find<QLineEdit>(dialog, "209");
            EXPECT_EQ(password->echoMode(), QLineEdit::Password);
            Click(dialog, "212");
            EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
            Click(dialog, "2");
        });
}

// Where nobody could see a dialog, Configure answers S_FALSE at once: another thread of a Qt
// program, and console programs (no Qt application) without a display, with one that isn't
// there, or on a platform that draws for nobody.
TEST(FileOperationDialog, NoDialogWhereNobodySees)
{
    ShellFilePtr file;
    HRESULT hr = E_FAIL;
    std::thread([&] { hr = file->Configure(); }).join();
    EXPECT_EQ(hr, S_FALSE);

    const std::vector<std::pair<const char*, const char*>> settings[] = {
        {},
        {{"DISPLAY", ":65000"}},
        {{"DISPLAY", "127.0.0.1:59"}}, // a display on a host where nobody answers
        {{"QT_QPA_PLATFORM", "offscreen"}},
        {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":65000"}}};
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
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no S_FALSE: " << label;
        std::printf("console Configure (%s): %lld ms\n", label.c_str(),
                    static_cast<long long>(ms.count()));
    }
}

// Execute's progress window shows only when asked for; its Cancel stops the run. Pictures of
// both windows go to VIGIL_SHOT_DIR when it is set.
TEST(FileOperationDialog, ProgressWindowAndScreenshots)
{
    const QString shots = qEnvironmentVariable("VIGIL_SHOT_DIR");
    const auto Shown = []
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<QProgressDialog*>(widget);
                progress && progress->isVisible())
                return progress;
        return static_cast<QProgressDialog*>(nullptr);
    };
    CFileOperationStatus status;
    EXPECT_EQ(CFileOperationProgress(false).Run(status, [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(Shown(), nullptr);
    // The run goes on in its own thread while the window follows it; Cancel ends the wait the
    // run is in at once.
    CFileOperationProgress progress(true);
    std::chrono::steady_clock::time_point clicked;
    QTimer::singleShot(400,
                       [&]
                       {
                           QProgressDialog* window = Shown();
                           ASSERT_NE(window, nullptr);
                           EXPECT_EQ(window->labelText().toStdString(),
                                     "pub/reports/a.txt\n1 of 3 files\n500 bytes of 1000 bytes, " +
                                         window->labelText().toStdString().substr(
                                             window->labelText().toStdString().rfind(", ") + 2));
                           EXPECT_EQ(window->value(), 500);
                           if (!shots.isEmpty())
                               window->grab().save(QDir(shots).filePath("progress.png"));
                           clicked = std::chrono::steady_clock::now();
                           QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton);
                       });
    std::chrono::steady_clock::time_point stopped;
    const HRESULT hr = progress.Run(status,
                                    [&]
                                    {
                                        status.Found(3);
                                        status.BeginFile("pub/reports/a.txt", 1000);
                                        status.Moved(500);
                                        pollfd cancel{status.CancelDescriptor(), POLLIN, 0};
                                        ::poll(&cancel, 1, 10000);
                                        stopped = std::chrono::steady_clock::now();
                                        return status.IsCancelled() ? E_ABORT : S_OK;
                                    });
    EXPECT_EQ(hr, E_ABORT); // the cancel, not the 10 s, ended the wait
    std::printf(
        "cancel took %lld ms\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(stopped - clicked).count()));

    if (shots.isEmpty())
        return;
    ShellFilePtr file;
    const char* values[] = {"ftp.example.net:2121", "alice", "s3cret", "/pub/reports/*.txt",
                            "/home/alice/reports"};
    for (size_t i = 0; i < std::size(kTexts); ++i)
        (file.p->*kTexts[i].Put)(CComBSTR(std::string_view(values[i])));
    file->put_Function(2);
    ConfigureWith(file,
                  [&shots](QDialog* dialog)
                  {
                      QTest::qWait(200);
                      EXPECT_TRUE(
                          dialog->grab().save(QDir(shots).filePath("ftp_file_operation.png")));
                      Click(dialog, "2");
                  });
}

} // namespace
} // namespace lanvex
