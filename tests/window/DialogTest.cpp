// The window's file dialogs end cleanly: accepted with Return while the name-completion list
// shows, they leave no list over the window to take its next clicks and keys.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#ifdef VELTRA_HAVE_QPA
#include <qpa/qwindowsysteminterface.h>
#endif

#include "Boxes.h"
#include "Fixture.h"
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"

namespace {

class DialogTest : public WindowFixture {};

void Press(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

// The window's open file dialog, if one shows.
QFileDialog* OpenFileDialog(QWidget& window) {
    for (QFileDialog* dialog : window.findChildren<QFileDialog*>())
        if (dialog->isVisible()) return dialog;
    return nullptr;
}

// Keys go where the user's would: to the completion list while it shows.
QWidget* KeyTarget() {
    QWidget* popup = QApplication::activePopupWidget();
    return popup != nullptr ? popup : QApplication::focusWidget();
}

TEST_F(DialogTest, ReturnWhileTheCompletionListShowsLeavesNoListBehind) {
    WriteOptions("<OPTIONS><SPEED>38400</SPEED></OPTIONS>\n");
    for (const char* name : {"table-one.txt", "table-two.txt"}) {
        QFile file(dir_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("1\t2\t3\n");
    }
    auto form = OpenToMainPage();
    const struct {
        const char* button;
        Page page;
    } dialogs[] = {
        {"Button1", Page::Main},
        {"Button9", Page::Coefficient},
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.button);
        bool listShown = false;
        bool closedByReturn = false;
        QFileDialog* dialog = nullptr;
        QTimer::singleShot(0, form.get(), [&] {
            ASSERT_TRUE(WaitFor([&] { return (dialog = OpenFileDialog(*form)) != nullptr; }));
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            edit->setFocus();
            edit->setText(dir_.filePath("table-"));
            // The folder's names come in the background; once the dialog's model holds them,
            // the next letter typed shows the list.
            auto* names = dialog->findChild<QFileSystemModel*>();
            ASSERT_NE(names, nullptr);
            WaitFor([&] { return names->rowCount(names->index(dir_.path())) > 0; }, 3000);
            Press(KeyTarget(), 0, "o");
            listShown = WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 3000);
            for (const QChar c : QStringLiteral("ne.txt")) Press(KeyTarget(), 0, QString(c));
            Press(KeyTarget(), Qt::Key_Return);
            closedByReturn = !dialog->isVisible();
            // A dialog still open after all is cancelled, so the test goes on either way.
            if (!closedByReturn) dialog->reject();
        });
        form->ShowPage(d.page);
        Find<QAbstractButton>(*form, d.button)->show();
        Find<QAbstractButton>(*form, d.button)->click();
        EXPECT_TRUE(listShown);
        EXPECT_TRUE(closedByReturn);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    form->close();
}

// The desktop's close button while a file dialog is open: the dialog counts as cancelled and
// the program closes, letting its lamp go, rather than waiting in the dialog.
TEST_F(DialogTest, TheDesktopsCloseDuringAFileDialogClosesTheWindow) {
#ifndef VELTRA_HAVE_QPA
    GTEST_SKIP() << "built without Qt's platform interface headers";
#else
    WriteOptions("<OPTIONS><SPEED>38400</SPEED></OPTIONS>\n");
    for (const char* button : {"Button1", "Button9"}) {
        SCOPED_TRACE(button);
        NewBus();
        AddLamp();
        auto form = OpenToMainPage();
        bool dialogShown = false;
        bool dialogLeftOpen = false;
        QTimer::singleShot(0, form.get(), [&] {
            dialogShown = WaitFor([&] { return OpenFileDialog(*form) != nullptr; });
            // As the window system delivers it: through the platform, not QWidget::close.
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                form->windowHandle());
            // A dialog the request did not end is cancelled here, so the test goes on.
            if (QFileDialog* open = OpenFileDialog(*form)) {
                dialogLeftOpen = true;
                open->reject();
            }
        });
        if (std::string(button) == "Button9") form->ShowPage(Page::Coefficient);
        Find<QAbstractButton>(*form, button)->show();
        Find<QAbstractButton>(*form, button)->click();
        EXPECT_TRUE(dialogShown);
        EXPECT_FALSE(dialogLeftOpen);
        EXPECT_TRUE(WaitFor([&] { return form->isHidden(); }, 3000));
        EXPECT_EQ(OpenFileDialog(*form), nullptr);
        EXPECT_TRUE(form->Controller()->IsFinished());
    }
#endif
}

// The desktop's close button while the program asks "Replace?" or "Delete?": the question counts
// as answered No and the program closes, letting its lamp go, rather than waiting in the box.
TEST_F(DialogTest, TheDesktopsCloseDuringAQuestionAnswersNoAndClosesTheWindow) {
#ifndef VELTRA_HAVE_QPA
    GTEST_SKIP() << "built without Qt's platform interface headers";
#else
    WriteOptions("<OPTIONS><SPEED>38400</SPEED></OPTIONS>\n");
    for (const std::string button : {"Button2", "Button12"}) {
        SCOPED_TRACE(button);
        QFile::remove(dir_.filePath("data/values.xml"));
        NewBus();
        AddLamp();
        auto form = OpenToMainPage();
        auto* presets = Find<QComboBox>(*form, "ComboBox3");
        presets->setEditText("Reading");
        Find<QAbstractButton>(*form, "Button2")->click();
        ASSERT_EQ(form->Presets()->Records().size(), 1u);
        const CChannel stored = form->Presets()->Records().front();
        // A change that "Replace?" would store when answered Yes.
        form->State().ControlValues[7] = 400;
        form->ApplyFromEdits(false);
        if (button == "Button2") {
            presets->setEditText("Reading");
        } else {
            presets->setCurrentIndex(presets->findText("Reading"));
        }
        QString asked;
        bool boxLeftOpen = false;
        QTimer::singleShot(0, form.get(), [&] {
            WaitFor([] { return OpenBox() != nullptr; });
            if (QMessageBox* box = OpenBox()) asked = box->text();
            // As the window system delivers it: through the platform, not QWidget::close.
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                form->windowHandle());
            // A box the request did not end is answered No here, so the test goes on.
            if (QMessageBox* open = OpenBox()) {
                boxLeftOpen = true;
                open->reject();
            }
        });
        Find<QAbstractButton>(*form, button.c_str())->click();
        EXPECT_EQ(asked, button == "Button2" ? "Replace? Reading" : "Delete? Reading");
        EXPECT_FALSE(boxLeftOpen);
        EXPECT_TRUE(WaitFor([&] { return form->isHidden(); }, 3000));
        EXPECT_TRUE(form->Controller()->IsFinished());
        // Answered No: the preset is there and as it was.
        ASSERT_EQ(form->Presets()->Records().size(), 1u);
        EXPECT_EQ(form->Presets()->Records().front().ColorValues, stored.ColorValues);
    }
#endif
}

TEST_F(DialogTest, ACloseDuringAQuestionCancelsTheQuestionAndThenCloses) {
    WriteOptions("<OPTIONS><SPEED>38400</SPEED></OPTIONS>\n");
    // A preset is stored only from a lamp's record.
    const auto lamp = AddLamp();
    auto form = OpenToMainPage();
    auto* box = Find<QComboBox>(*form, "ComboBox3");
    box->setEditText("Reading");
    Find<QAbstractButton>(*form, "Button2")->click();
    ASSERT_EQ(form->Presets()->Records().size(), 1u);
    const CChannel stored = form->Presets()->Records().front();

    bool asked = false;
    bool openAfterClose = false;
    QTimer::singleShot(0, form.get(), [&] {
        asked = WaitFor([] { return OpenBox() != nullptr; });
        form->close();
        openAfterClose = !form->isHidden();
    });
    form->State().ControlValues[7] = 400;  // a change the question would store when answered Yes
    form->ApplyFromEdits(false);
    box->setEditText("Reading");
    Find<QAbstractButton>(*form, "Button2")->click();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(openAfterClose);
    EXPECT_EQ(OpenBox(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return form->isHidden(); }));
    // The question counted as answered No: the preset is as it was.
    EXPECT_EQ(form->Presets()->Records().front().ColorValues, stored.ColorValues);
}

}  // namespace
