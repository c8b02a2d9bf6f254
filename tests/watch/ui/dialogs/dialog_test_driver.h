// Drives the dialogs as a user would: typing, clicking, answering the modal boxes they open.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

// Runs action on the next modal window to open, from inside its own event loop. Gives up (and
// closes every dialog, so no exec() is left waiting) if none opens within a few seconds.
inline void WhenModalOpens(std::function<void(QWidget*)> action)
{
    QWidget* before = QApplication::activeModalWidget();
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, before, tries, action]
                     {
                         QWidget* top = QApplication::activeModalWidget();
                         if (top != nullptr && top != before && top->isVisible())
                         {
                             timer->stop();
                             timer->deleteLater();
                             action(top);
                             return;
                         }
                         if (++*tries > 1000)
                         {
                             timer->stop();
                             timer->deleteLater();
                             ADD_FAILURE() << "no modal window opened";
                             for (QWidget* widget : QApplication::topLevelWidgets())
                                 if (auto* dialog = qobject_cast<QDialog*>(widget))
                                     dialog->reject();
                         }
                     });
    timer->start();
}

template <class T> T* Control(const QWidget* root, const char* name)
{
    T* control = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

// Replaces the edit's text by typing, the way a user selects all and types over it.
inline void TypeInto(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar ch : text)
    {
        // The key-name table of QTest knows only ASCII; other characters arrive as text.
        if (ch.unicode() < 0x80)
            QTest::keyClick(edit, static_cast<char>(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

inline void Click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

inline void ClickTab(QTabWidget* sheet, int index)
{
    QTabBar* bar = sheet->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

// Closes a message box with its OK button and tells what it said and under which caption.
struct CBoxSeen
{
    int Count = 0;
    QString Caption;
    QString Text;
};

inline void AnswerMessageBox(CBoxSeen& seen)
{
    WhenModalOpens(
        [&seen](QWidget* top)
        {
            auto* box = qobject_cast<QMessageBox*>(top);
            ASSERT_NE(box, nullptr);
            ++seen.Count;
            seen.Caption = box->windowTitle();
            seen.Text = box->text();
            Click(box->button(QMessageBox::Ok));
        });
}
