#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QThread>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Boxes.h"
#include "Fixture.h"
#include "Stallframe.h"
#include "app/Setup.h"
#include "colour/Colors.h"
#include "colour/Colorspro.h"
#include "colour/Expvalue.h"
#include "link/Clock.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "link/Lightinfo.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "window/Diagram.h"
#include "window/Explain.h"
#include "window/Gauges.h"
#include "window/Image.h"
#include "window/Main.h"
#include "window/Target.h"

namespace {

void Press(QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

const char* const kOptions =
    "<OPTIONS>\n"
    "  <SIMULATE>1</SIMULATE>\n"
    "  <SPEED>38400</SPEED>\n"
    "  <C1S>1</C1S>\n"
    "</OPTIONS>\n";

using WindowTest = WindowFixture;

bool HasCommand(const SimLamp& lamp, std::uint8_t cmd) {
    for (const SimLampCommand& c : lamp.Commands()) {
        if (c.Cmd == cmd) return true;
    }
    return false;
}

TEST_F(WindowTest, PleaseWaitFirstThenTheMainPage) {
    WriteOptions(kOptions);
    auto form = Open();
    EXPECT_EQ(form->CurrentPage(), Page::Message);
    EXPECT_EQ(Find<QLabel>(*form, "Label5")->text(), "Please wait");
    EXPECT_FALSE(form->Timer1->isActive());
    form->show();

    ASSERT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Main; }));
    EXPECT_TRUE(Find(*form, "Panel1")->isVisible());
    EXPECT_FALSE(Find(*form, "Panel4")->isVisible());
    EXPECT_FALSE(Find(*form, "Panel8")->isVisible());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(Find<QLabel>(*form, "Label6")->text().startsWith("ver: 1.0.0"));
    EXPECT_TRUE(Find<QAbstractButton>(*form, "SpeedButton5")->isChecked());
    EXPECT_FALSE(Find(*form, "Panel3")->isVisible());
    EXPECT_FALSE(Find(*form, "Panel9")->isVisible());
    form->close();
}

TEST_F(WindowTest, MissingOptionsFileShowsTheMessageAndEnds) {
    QString text, caption;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        caption = box->windowTitle();
        box->accept();
    });
    const CSetup& setup = Build();
    EXPECT_FALSE(setup.Loaded());
    ShowMissingOptions(setup.OptionsNotice());
    EXPECT_EQ(text, "File 'options.xml' not found.\n" +
                        QDir(dir_.filePath("data")).filePath("options.xml"));
    EXPECT_EQ(caption, "Error");
    // The data folder is made for the files the program writes later; no lamp was touched.
    EXPECT_TRUE(QDir(dir_.filePath("data")).exists());
    EXPECT_TRUE(bus_->Calls().empty());
}

TEST_F(WindowTest, SimulateRunsTheProgramOnItsOwnSimulatedLamps) {
    WriteOptions("<OPTIONS><SIMULATE>2</SIMULATE><SPEED>115200</SPEED></OPTIONS>");
    CSetup setup(Folders());
    ASSERT_TRUE(setup.Loaded());
    {
        TForm1 form(setup.Form());
        form.show();
        ASSERT_TRUE(WaitFor([&] { return form.CurrentPage() == Page::Main; }));
        EXPECT_TRUE(setup.Controller().IsConnected());
        EXPECT_EQ(setup.Controller().LampCount(), 2);
        // Demo mode shows itself, so nobody mistakes it for a real lamp.
        EXPECT_EQ(Find<QLabel>(form, "Label6")->text(), "ver: 1.0.0\ndevice: VDL (simulated)");
        form.close();
    }
    EXPECT_TRUE(setup.Controller().IsFinished());
}

TEST_F(WindowTest, LayoutFollowsTheTables) {
    WriteOptions(kOptions);
    auto form = Open();
    EXPECT_EQ(form->size(), QSize(1004, 643));
    EXPECT_EQ(form->windowTitle(), "Veltra Digital Lamp");
    const struct {
        const char* name;
        QRect rect;
    } rects[] = {
        {"Panel1", {4, 4, 997, 635}},       {"Panel2", {167, 8, 650, 383}},
        {"Image1", {8, 8, 500, 330}},       {"Image2", {0, 0, 150, 319}},
        {"Edit4", {56, 64, 63, 24}},        {"Panel10", {517, 405, 283, 26}},
        {"SpeedButton4", {218, 1, 64, 24}}, {"ComboBox3", {8, 28, 144, 27}},
        {"Button5", {832, 534, 144, 24}},   {"Label5", {0, 272, 984, 56}},
        {"Button10", {512, 360, 120, 33}},  {"Panel9", {168, 398, 649, 233}},
    };
    for (const auto& r : rects) EXPECT_EQ(Find(*form, r.name)->geometry(), r.rect) << r.name;

    const struct {
        const char* name;
        int pixels;
        bool bold;
    } fonts[] = {{"Label5", 48, true}, {"Button9", 21, true}, {"Label8", 21, false},
                 {"Edit1", 13, false}, {"Label4", 16, true},  {"Memo1", 11, false}};
    for (const auto& f : fonts) {
        const QFont font = Find(*form, f.name)->font();
        EXPECT_EQ(font.pixelSize(), f.pixels) << f.name;
        EXPECT_EQ(font.bold(), f.bold) << f.name;
    }

    // Panel6 lies in front of the memo, Panel10 in front of both slider panels.
    QWidget* page = Find(*form, "Panel1");
    const QObjectList& order = page->children();
    EXPECT_GT(order.indexOf(Find(*form, "Panel6")), order.indexOf(Find(*form, "Memo1")));
    EXPECT_GT(order.indexOf(Find(*form, "Panel10")), order.indexOf(Find(*form, "Panel9")));
    EXPECT_GT(order.indexOf(Find(*form, "Panel10")), order.indexOf(Find(*form, "Panel3")));

    EXPECT_EQ(form->Timer1->interval(), 500);
    EXPECT_EQ(form->Timer2->interval(), 3000);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_TRUE(Find<QAbstractButton>(*form, "SpeedButton4")->isChecked());
    EXPECT_TRUE(Find(*form, "Memo1")->isHidden());
    EXPECT_TRUE(Find(*form, "Button1")->isHidden());
    EXPECT_TRUE(Find(*form, "Label17")->isHidden());
    EXPECT_TRUE(Find(*form, "SpeedButton2")->isHidden());
    form->close();
}

TEST_F(WindowTest, ShortcutsCancelAndTimer2) {
    WriteOptions(kOptions);
    auto form = Open();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Main; }));
    QWidget* edit = Find(*form, "Edit1");
    QWidget* language = Find(*form, "Button1");

    Press(edit, Qt::Key_L, Qt::NoModifier);
    EXPECT_TRUE(language->isHidden());
    Press(edit, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(language->isHidden());
    Press(edit, Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(language->isHidden());

    Press(edit, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(form->CurrentPage(), Page::Main);
    Press(edit, Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(form->CurrentPage(), Page::Coefficient);
    EXPECT_TRUE(Find(*form, "Panel8")->isVisible());
    EXPECT_FALSE(Find(*form, "Panel1")->isVisible());
    Find<QAbstractButton>(*form, "Button10")->click();
    EXPECT_EQ(form->CurrentPage(), Page::Main);

    // From the message page too, and Timer2 brings back by itself the page the user was on.
    form->ShowMessagePage("Coefficients OK");
    Press(form.get(), Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(form->CurrentPage(), Page::Coefficient);
    form->ShowMessagePage("Coefficients OK");
    form->Timer2->setInterval(50);
    form->Timer2->start();
    ASSERT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Coefficient; }, 2000));
    EXPECT_FALSE(form->Timer2->isActive());
    form->close();
}

void Click(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// A message gives way to the page the user was on, at once when clicked; the click that
// dismisses it, or comes just as it goes, does not act on what then lies under the pointer.
TEST_F(WindowTest, AMessageGivesWayToThePageTheUserWasOnAndKeepsItsClicks) {
    WriteOptions(kOptions);
    AddLamp();
    auto form = OpenToMainPage();
    form->ShowPage(Page::Coefficient);
    form->ShowMessagePage("Coefficients OK");
    form->Timer2->start();
    Click(Find(*form, "Label5"), QPoint(400, 20));
    EXPECT_EQ(form->CurrentPage(), Page::Coefficient);
    EXPECT_FALSE(form->Timer2->isActive());

    form->ShowPage(Page::Main);
    QLineEdit* x = Find<QLineEdit>(*form, "Edit1");
    const QString before = x->text();
    form->ShowMessagePage("Coefficients OK");
    form->Timer2->setInterval(1);
    form->Timer2->start();
    ASSERT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Main; }));
    QWidget* diagram = Find(*form, "Image1");
    Click(diagram, QPoint(150, 120));
    EXPECT_EQ(x->text(), before);
    // A moment later the diagram is the user's again.
    EXPECT_TRUE(WaitFor([&] {
        Click(diagram, QPoint(150, 120));
        return x->text() != before;
    }));
    form->close();
}

// Every control says what it does, the diagram by the part under the pointer; a right-click on
// the window or the diagram lists every command with its key, the key-only ones included, while
// the surfaces with a right-click of their own keep it.
TEST_F(WindowTest, ControlsExplainThemselvesAndTheMenuListsEveryCommand) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    for (QWidget* w : form->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<TImage*>(w);
        if (!control || w->objectName().isEmpty() || w->objectName() == "Image1" ||
            w->objectName() == "Image9" || w->parent()->objectName() == "ComboBox3")
            continue;
        EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString();
    }
    const struct {
        QPoint at;
        const char* says;
    } tips[] = {{{470, 20}, "Zoom"},
                {{470, 70}, "speed F"},
                {{470, 120}, "speed S"},
                {{470, 270}, "speed 120"},
                {{200, 150}, "Colour point"}};
    for (const auto& t : tips) {
        EXPECT_TRUE(DiagramTip(t.at.x(), t.at.y()).contains(t.says)) << t.says;
    }

    QWidget* diagram = Find(*form, "Image1");
    const QString before = Find<QLineEdit>(*form, "Edit1")->text();
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(150, 120),
                      diagram->mapToGlobal(QPointF(150, 120)), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(diagram, &right);
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(), before);
    const auto menuAt = [&](QWidget* w) -> QMenu* {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                w->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(w, &event);
        for (QMenu* menu : form->findChildren<QMenu*>(QStringLiteral("CommandMenu")))
            if (menu->isVisible()) return menu;
        return nullptr;
    };
    EXPECT_EQ(menuAt(Find(*form, "Image3")), nullptr);
    QMenu* menu = menuAt(diagram);
    ASSERT_NE(menu, nullptr);
    QAction* coefficients = nullptr;
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts << a->text();
        if (a->text().endsWith("\tCtrl+Alt+W")) coefficients = a;
    }
    for (const char* key : {"\tCtrl+L", "\tEnter", "\t+", "\t-"}) {
        EXPECT_TRUE(texts.filter(key).size() == 1) << key;
    }
    // The diagram's own switch, with its key, is in the same menu.
    EXPECT_TRUE(
        menu->actions().contains(form->findChild<QAction*>(QStringLiteral("FollowAction"))));
    ASSERT_NE(coefficients, nullptr);
    coefficients->trigger();
    EXPECT_EQ(form->CurrentPage(), Page::Coefficient);
    menu->close();
    form->close();
}

TEST_F(WindowTest, LampConnectsAndClosingLetsItGoWithItsNamesStored) {
    WriteOptions(kOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->Controller()->IsConnected());
    EXPECT_EQ(lamp->State().LineBaud, 38400);
    EXPECT_EQ(Find<QLabel>(*form, "Label6")->text(), "ver: 1.0.0\ndevice: TESTLAMP");
    // A name given on the PC reaches the lamp's information block when the window closes.
    ASSERT_EQ(form->Controller()->CurrentSlot(), 1);
    CChannel record = form->Controller()->CurrentRecord();
    record.Name = "Morning";
    form->Controller()->SetCurrentRecord(record);
    lamp->ClearCommands();

    form->close();
    EXPECT_EQ(Find<QLabel>(*form, "Label5")->text(), "Please wait");
    EXPECT_TRUE(form->Controller()->IsFinished());
    EXPECT_TRUE(HasCommand(*lamp, CLightInput::kCmdFinish));
    // Names are kept blank-padded to their 16 bytes.
    const SimLamp::Page block = lamp->ReadPage(0);
    const char* names = reinterpret_cast<const char*>(&block[CLightInfo::kChannelNamesOffset]);
    EXPECT_EQ(std::string(names, CLightInfo::kChannelNameSize), "Morning         ");
    EXPECT_FALSE(bus_->IsOpen(0));
}

TEST_F(WindowTest, ClosingNeverLeavesTheControllerRunningOrStuck) {
    // Closed while the lamp still connects, and closed while the controller waits for this
    // thread to take its status report: the close must let that call through and finish.
    for (const bool waitForMainPage : {false, true}) {
        WriteOptions(kOptions);
        NewBus();
        const auto lamp = AddLamp();
        auto form = Open();
        form->show();
        if (waitForMainPage) {
            ASSERT_TRUE(WaitFor([&] { return form->CurrentPage() == Page::Main; }));
            Settle(*form->Controller());
            // Not pumping: the next status poll's report then waits for this thread. It is
            // posted once its poll is through, so the close starts only after the poll that
            // follows it has begun.
            const auto polls = [&] {
                int n = 0;
                for (const SimLampCommand& c : lamp->Commands())
                    n += c.Cmd == CLightInput::kCmdState && c.Cd1 == 1;
                return n;
            };
            const int before = polls();
            QElapsedTimer waited;
            waited.start();
            while (polls() < before + 2 && waited.elapsed() < 15000) QThread::msleep(1);
            ASSERT_GE(polls(), before + 2);
        }
        form->close();
        EXPECT_TRUE(form->Controller()->IsFinished()) << waitForMainPage;
        EXPECT_FALSE(form->Controller()->IsConnected()) << waitForMainPage;
        EXPECT_FALSE(bus_->IsOpen(0)) << waitForMainPage;
        // A connect that ended during the close does not bring the main page back.
        QApplication::processEvents();
        EXPECT_EQ(form->CurrentPage(), Page::Message) << waitForMainPage;
        EXPECT_EQ(Find<QLabel>(*form, "Label5")->text(), "Please wait");
    }
}

TEST_F(WindowTest, WithoutLampTheMainPageComesAndClosingWritesNothing) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    EXPECT_FALSE(form->Controller()->IsConnected());
    EXPECT_EQ(Find<QLabel>(*form, "Label6")->text(), "ver: 1.0.0\nNo lamp connected: none found.");
    bus_->ClearCalls();
    form->close();
    EXPECT_TRUE(form->Controller()->IsFinished());
    EXPECT_TRUE(bus_->CallsNamed("Write").empty());
}

TEST_F(WindowTest, WithoutALampSaveStoresNoPresetAndSaysWhy) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    ASSERT_FALSE(form->Controller()->IsConnected());
    QStringList errors;
    form->ShowError = [&](const QString& text) { errors << text; };
    const std::string name = form->Controller()->CurrentRecord().Name;
    const std::uint64_t asked = form->Controller()->Generation();
    Find<QComboBox>(*form, "ComboBox3")->setEditText("Reading");
    Find<QAbstractButton>(*form, "Button2")->click();
    // The current record was never read from a lamp: storing it would keep zeros as a preset.
    EXPECT_TRUE(form->Presets()->Records().empty());
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, name);
    EXPECT_EQ(form->Controller()->Generation(), asked);
    EXPECT_EQ(errors.size(), 1);
    form->close();
}

TEST_F(WindowTest, TheDeviceLineFollowsTheMainLampOutAndBackIn) {
    WriteOptions(kOptions);
    AddLamp();
    auto form = OpenToMainPage();
    QLabel* line = Find<QLabel>(*form, "Label6");
    ASSERT_EQ(line->text(), "ver: 1.0.0\ndevice: TESTLAMP");
    bus_->Unplug(0);
    EXPECT_TRUE(WaitFor([&] {
        return line->text() == "ver: 1.0.0\nNo lamp connected: lost (unplugged?), trying again.";
    })) << line->text().toStdString();
    bus_->Replug(0);
    EXPECT_TRUE(WaitFor([&] { return line->text() == "ver: 1.0.0\ndevice: TESTLAMP"; }))
        << line->text().toStdString();
    EXPECT_TRUE(form->Controller()->IsConnected());
    form->close();
    EXPECT_FALSE(bus_->IsOpen(0));
}

TEST_F(WindowTest, ALampPluggedInAfterAStartWithoutOneComesToTheMainPage) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    QLabel* line = Find<QLabel>(*form, "Label6");
    ASSERT_EQ(line->text(), "ver: 1.0.0\nNo lamp connected: none found.");
    auto lamp = AddLamp();
    EXPECT_TRUE(WaitFor([&] { return line->text() == "ver: 1.0.0\ndevice: TESTLAMP"; }))
        << line->text().toStdString();
    EXPECT_EQ(form->CurrentPage(), Page::Main);
    EXPECT_EQ(form->Controller()->CurrentSlot(), lamp->State().CurrentChannel);
    form->close();
    EXPECT_TRUE(HasCommand(*lamp, CLightInput::kCmdFinish));
}

// The label's text, wrapped to the label's width, fits in it, and no panel shown beside it
// covers any of it.
bool ShownWhole(TForm1& form, const QLabel& label) {
    const QRect needed = label.fontMetrics().boundingRect(QRect(0, 0, label.width(), 10000),
                                                          Qt::TextWordWrap, label.text());
    if (needed.width() > label.width() || needed.height() > label.height()) return false;
    for (const char* name : {"Panel3", "Panel6", "Panel9"}) {
        const QWidget* panel = form.findChild<QWidget*>(QString::fromLatin1(name));
        if (panel->isVisible() && panel->geometry().intersects(label.geometry())) return false;
    }
    return QRect(0, 0, 997, 635).contains(label.geometry());
}

TEST_F(WindowTest, WithoutALampTheDeviceLineSaysWhyFromTheBridge) {
    const struct {
        const char* name;
        FtStatus openFailure;
        bool noAccess;
        const char* line;
    } cases[] = {
        {"no access", kFtOk, true,
         "ver: 1.0.0\nNo lamp connected: found, but not accessible. See the udev rule in README."},
        {"held", kFtDeviceBusy, false, "ver: 1.0.0\nNo lamp connected: held by another program."},
    };
    for (const auto& c : cases) {
        WriteOptions(kOptions);
        NewBus();
        AddLamp();
        bus_->WithDevice(0, [&](SimDevice& d) {
            d.OpenFailure = c.openFailure;
            d.NoAccess = c.noAccess;
        });
        auto form = OpenToMainPage();
        const QLabel* line = Find<QLabel>(*form, "Label6");
        EXPECT_EQ(line->text(), c.line) << c.name;
        EXPECT_TRUE(ShownWhole(*form, *line)) << c.name;
        form->close();
    }
}

TEST_F(WindowTest, TheVersionLineShowsWholeBesideTheDirectSliders) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD></OPTIONS>");
    AddLamp();
    auto form = OpenToMainPage([](FormSetup& f) { f.simulated = true; });
    const QLabel* line = Find<QLabel>(*form, "Label6");
    ASSERT_EQ(line->text(), "ver: 1.0.0\ndevice: TESTLAMP (simulated)");
    Find<QAbstractButton>(*form, "SpeedButton2")->click();
    ASSERT_TRUE(Find(*form, "Panel9")->isVisible());
    EXPECT_TRUE(ShownWhole(*form, *line));
    form->close();
}

TEST_F(WindowTest, OptionsNotUnderstoodAreNamedOnTheDeviceLine) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD><SPEED>abc</SPEED><TEST>yes</TEST></OPTIONS>");
    AddLamp();
    auto form = OpenToMainPage();
    const QLabel* line = Find<QLabel>(*form, "Label6");
    EXPECT_EQ(line->text(),
              "ver: 1.0.0\ndevice: TESTLAMP\nTEST \"yes\" not understood: off "
              "used\nSPEED \"abc\" not understood: 38400 used");
    Find<QAbstractButton>(*form, "SpeedButton2")->click();
    EXPECT_TRUE(ShownWhole(*form, *line));
    form->close();
}

TEST_F(WindowTest, SpeedOptionSetsTheRunRate) {
    const struct {
        const char* option;
        std::int32_t baud;
    } cases[] = {{"4800", 38400}, {"115200", 115200}};
    for (const auto& c : cases) {
        WriteOptions(QStringLiteral("<OPTIONS><C1S>1</C1S><SPEED>%1</SPEED></OPTIONS>")
                         .arg(c.option)
                         .toLatin1()
                         .constData());
        NewBus();
        auto lamp = AddLamp(c.baud);
        auto form = OpenToMainPage();
        EXPECT_TRUE(form->Controller()->IsConnected()) << c.option;
        EXPECT_EQ(lamp->State().LineBaud, c.baud) << c.option;
        // The bridge's divisor comes within a few per cent of the rate asked for.
        bus_->WithDevice(
            0, [&](SimDevice& d) { EXPECT_NEAR(d.BaudRate(), c.baud, c.baud * 0.03) << c.option; });
        form->close();
    }
}

TEST_F(WindowTest, ProtectedFirstChannelLeavesOnlyListDiagramTimerAndLabels) {
    const char* const locked = "<OPTIONS><C1S>0</C1S><TEST>1</TEST></OPTIONS>";
    WriteOptions(locked);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_EQ(form->Controller()->CurrentSlot(), 1);
    for (const char* shown : {"Label2", "Image2", "Memo1", "Image1", "Image3", "Image4", "Label4",
                              "Label6", "Panel2"}) {
        EXPECT_TRUE(Find(*form, shown)->isVisible()) << shown;
    }
    for (const char* hidden :
         {"Panel11", "Button5", "Image8", "CheckBox4", "Edit1", "Edit4", "Button4", "Button3",
          "SpeedButton1", "Panel10", "Panel3", "Panel9", "Label8", "Label11"}) {
        EXPECT_FALSE(Find(*form, hidden)->isVisible()) << hidden;
    }
    form->close();

    // With C1S on the same channel is edited like any other.
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD></OPTIONS>");
    NewBus();
    AddLamp();
    form = OpenToMainPage();
    for (const char* shown :
         {"Panel11", "Image8", "Edit1", "Panel10", "SpeedButton1", "SpeedButton2"}) {
        EXPECT_TRUE(Find(*form, shown)->isVisible()) << shown;
    }
    EXPECT_FALSE(Find(*form, "Memo1")->isVisible());
    form->close();
}

// What the simulated lamp holds in its current slot.
CChannel LampCurrentSlot(const SimLamp& lamp) {
    const SimLampState state = lamp.State();
    CChannel record;
    record.DecodeBlock(state.Slots[static_cast<std::size_t>(state.CurrentChannel)]);
    return record;
}

// A simulated lamp whose gamut reaches far enough for the diagram's points to stay inside.
const char* const kWideGamutOptions =
    "<OPTIONS><SIMULATE>1</SIMULATE><C1S>1</C1S>"
    "<R><X>0.69</X><Y>0.30</Y></R><G><X>0.17</X><Y>0.70</Y></G><B><X>0.15</X><Y>0.03</Y></B>"
    "</OPTIONS>";

// The lamp's current slot holds the point (x, y) in fixed point, and the controller's report of
// it has been taken in, so what the test does next meets the window as the refresh left it.
bool SentAndShown(const SimLamp& lamp, TForm1& form, int x, int y) {
    const bool done = WaitFor([&] {
        const CChannel slot = LampCurrentSlot(lamp);
        return slot.ColorValues[7] == x && slot.ColorValues[8] == y;
    });
    Settle(*form.Controller());
    return done;
}

QString Text(TForm1& form, const char* edit) {
    return form.findChild<QLineEdit*>(QString::fromLatin1(edit))->text();
}

void Type(TForm1& form, const char* edit, const char* text) {
    form.findChild<QLineEdit*>(QString::fromLatin1(edit))->setText(QString::fromLatin1(text));
}

TEST_F(WindowTest, T2xyAppliesTheLocusPointAndTheLampTakesIt) {
    WriteOptions(kOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->Controller()->IsConnected());
    Type(*form, "Edit3", "1000");  // below the table: its 2500 K row
    Find<QAbstractButton>(*form, "Button3")->click();

    EXPECT_EQ(Text(*form, "Edit3"), "2500");
    EXPECT_EQ(Text(*form, "Edit1"), "0.4770");
    EXPECT_EQ(Text(*form, "Edit2"), "0.4138");
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1*");
    // (0.477010, 0.413754) x 65535, truncated.
    ASSERT_TRUE(WaitFor([&] {
        const CChannel slot = LampCurrentSlot(*lamp);
        return slot.ColorValues[7] == 31260 && slot.ColorValues[8] == 27115;
    }));
    const CChannel slot = LampCurrentSlot(*lamp);
    EXPECT_EQ(slot.ColorValues[6], 2500);
    EXPECT_EQ(slot.ModeFlags, 1);
    form->close();
}

TEST_F(WindowTest, SetSendsTheTypedTargetWithoutDirectMode) {
    WriteOptions("<OPTIONS><SIMULATE>1</SIMULATE><C1S>1</C1S><SD>1</SD></OPTIONS>");
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->Controller()->IsConnected());
    Find<QCheckBox>(*form, "CheckBox6")->setChecked(true);
    ASSERT_EQ(form->Controller()->CurrentRecord().ModeFlags, 5);

    Type(*form, "Edit1", "0,3127");
    Type(*form, "Edit2", " 0.329");
    Type(*form, "Edit4", "70000");  // more than the slot holds: sent as its top, not wrapped
    Find<QAbstractButton>(*form, "Button4")->click();
    EXPECT_FALSE(Find<QCheckBox>(*form, "CheckBox6")->isChecked());
    EXPECT_EQ(Text(*form, "Edit1"), "0.3127");
    EXPECT_EQ(Text(*form, "Edit2"), "0.3290");
    EXPECT_EQ(Text(*form, "Edit3"), "6506");
    ASSERT_TRUE(WaitFor([&] {
        const CChannel slot = LampCurrentSlot(*lamp);
        return slot.ColorValues[7] == 20492 && slot.ColorValues[8] == 21561;
    }));
    const CChannel slot = LampCurrentSlot(*lamp);
    EXPECT_EQ(slot.ColorValues[6], 6506);
    EXPECT_EQ(slot.ColorValues[9], 65535);
    EXPECT_EQ(slot.ColorValues[12], 1);  // "coefficients", checked with "direct values"
    EXPECT_EQ(slot.ModeFlags, 1);
    form->close();
}

TEST_F(WindowTest, CheckBoxesSetFromCodeRunTheirHandlersUnlessSuppressed) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD></OPTIONS>");
    auto form = OpenToMainPage();
    auto* direct = Find<QCheckBox>(*form, "CheckBox6");
    auto* lux = Find<QCheckBox>(*form, "CheckBox5");
    // Every apply shows its temperature, so a box reveals whether its handler applied.
    auto applied = [&] {
        const bool was = Text(*form, "Edit3") != "unset";
        Type(*form, "Edit3", "unset");
        return was;
    };
    applied();

    direct->setChecked(true);
    EXPECT_TRUE(applied());
    EXPECT_TRUE(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
    EXPECT_EQ(form->Controller()->CurrentRecord().ModeFlags, 5);
    direct->setChecked(true);  // no change, no handler
    EXPECT_FALSE(applied());
    lux->click();  // a press runs the same handler once
    EXPECT_TRUE(applied());
    EXPECT_EQ(form->Controller()->CurrentRecord().DisplayFlags & 2, 2);

    {
        const SuppressedHandlers quiet(form->State());
        direct->setChecked(false);
        lux->setChecked(false);
    }
    EXPECT_FALSE(applied());
    EXPECT_EQ(form->Controller()->CurrentRecord().ModeFlags, 5);
    lux->setChecked(true);
    EXPECT_TRUE(applied());
    EXPECT_EQ(form->Controller()->CurrentRecord().ModeFlags, 1);

    // The diagram's release: the box is cleared first, then one apply sends the target.
    direct->setChecked(true);
    applied();
    form->ApplyFromEditsWithoutDirect();
    EXPECT_TRUE(applied());
    EXPECT_FALSE(direct->isChecked());
    EXPECT_EQ(form->Controller()->CurrentRecord().ModeFlags, 1);
    form->close();

    // Without the option SD "direct values" applies nothing.
    WriteOptions("<OPTIONS><C1S>1</C1S></OPTIONS>");
    form = OpenToMainPage();
    applied();
    Find<QCheckBox>(*form, "CheckBox6")->setChecked(true);
    EXPECT_FALSE(applied());
    form->close();
}

TEST_F(WindowTest, LogBoxKeepsTheIntensityLevel) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    auto* log = Find<QCheckBox>(*form, "CheckBox4");
    form->State().ControlValues[7] = 500;  // 32750 on the linear scale
    log->setChecked(true);
    CChannel record = form->Controller()->CurrentRecord();
    EXPECT_EQ(record.DisplayFlags & 1, 1);
    EXPECT_NEAR(record.ColorValues[14], 32750, 150);
    EXPECT_NE(form->State().ControlValues[7], 500);
    log->setChecked(false);
    record = form->Controller()->CurrentRecord();
    EXPECT_EQ(record.DisplayFlags & 1, 0);
    EXPECT_NEAR(record.ColorValues[14], 32750, 150);
    // At the top the linear scale's 65500 maps to the log scale's top and back, clamped.
    form->State().ControlValues[7] = 1000;
    log->setChecked(true);
    EXPECT_EQ(form->State().ControlValues[7], 1000);
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[14], 65535);
    log->setChecked(false);
    EXPECT_EQ(form->State().ControlValues[7], 1000);
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[14], 65500);
    form->close();
}

// A pointer event on a drawing surface, in its own pixels.
void Mouse(QWidget* surface, QEvent::Type type, int x, int y, Qt::MouseButtons held) {
    const QPointF local(x + 0.5, y + 0.5);
    QMouseEvent event(type, local, surface->mapToGlobal(local), Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(surface, &event);
}

bool Red(TForm1& form, const char* edit) {
    const QLineEdit* box = form.findChild<QLineEdit*>(QString::fromLatin1(edit));
    return box->palette().color(QPalette::Base) == QColor(255, 0, 0);
}

TEST_F(WindowTest, TypedTextThatIsNoNumberIsMarkedAndSendsNothing) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    auto* set = Find<QAbstractButton>(*form, "Button4");
    auto* t2xy = Find<QAbstractButton>(*form, "Button3");
    // The connect's report comes first: without a lamp it shows the blank record, whose
    // temperature is marked until a target in range has been applied and reported.
    ASSERT_TRUE(WaitFor([&] { return !Text(*form, "Edit3").isEmpty(); }));
    Type(*form, "Edit3", "5000");
    t2xy->click();
    ASSERT_TRUE(WaitFor([&] { return !Red(*form, "Edit3"); }));
    const struct {
        const char* x;
        const char* y;
        const char* t;
        const char* lux;
        QAbstractButton* button;
        const char* marked;  // the box refused, or null when the apply goes out
        // What goes out and what the boxes then show.
        int sentX, sentY, sentLux;
        const char* shownX;
        const char* shownLux;
    } cases[] = {
        {"abc", "0.3", "5000", "200", set, "Edit1", 0, 0, 0, "abc", "200"},
        {"0.3", "inf", "5000", "200", set, "Edit2", 0, 0, 0, "0.3", "200"},
        {"1e999", "0.3", "5000", "200", set, "Edit1", 0, 0, 0, "1e999", "200"},
        {"0.3abc", "0.3", "5000", "200", set, "Edit1", 0, 0, 0, "0.3abc", "200"},
        {"0.3", "0.3", "5000", "max", set, "Edit4", 0, 0, 0, "0.3", "max"},
        {"0.3", "0.3", "abc", "200", t2xy, "Edit3", 0, 0, 0, "0.3", "200"},
        {"0.3", "0.3", "5000", "", t2xy, "Edit4", 0, 0, 0, "0.3", ""},
        // Numbers: clamped ones show as sent; a comma is a decimal point.
        {"0,3127", " 0,329 ", "5000", "200", set, nullptr, 20492, 21561, 200, "0.3127", "200"},
        {"5", "0.3", "5000", "999999", set, nullptr, 45874, 19660, 65535, "0.7000", "65535"},
        {"-1", "0.3", "5000", "5", set, nullptr, 655, 19660, 10, "0.0100", "10"},
        {"0.3", "0.3", "5000", "1500,7", set, nullptr, 19660, 19660, 1500, "0.3000", "1500"},
    };
    for (const auto& c : cases) {
        // A known target first, so a send shows as a change of the record.
        Type(*form, "Edit1", "0.2");
        Type(*form, "Edit2", "0.2");
        Type(*form, "Edit4", "100");
        set->click();
        const CChannel before = form->Controller()->CurrentRecord();
        Type(*form, "Edit1", c.x);
        Type(*form, "Edit2", c.y);
        Type(*form, "Edit3", c.t);
        Type(*form, "Edit4", c.lux);
        c.button->click();
        const CChannel after = form->Controller()->CurrentRecord();
        const std::string label = std::string(c.x) + " " + c.y + " " + c.t + " " + c.lux;
        for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit4"}) {
            const bool refused = c.marked != nullptr && std::string(box) == c.marked;
            EXPECT_EQ(Red(*form, box), refused) << label << ": " << box;
        }
        EXPECT_EQ(Text(*form, "Edit1"), c.shownX) << label;
        EXPECT_EQ(Text(*form, "Edit4"), c.shownLux) << label;
        if (c.marked != nullptr) {
            EXPECT_EQ(after.ColorValues, before.ColorValues) << label;
            continue;
        }
        EXPECT_EQ(after.ColorValues[7], c.sentX) << label;
        EXPECT_EQ(after.ColorValues[8], c.sentY) << label;
        EXPECT_EQ(after.ColorValues[9], c.sentLux) << label;
    }

    // A temperature far above the table goes out as its hottest point.
    Type(*form, "Edit3", "99999999999");
    t2xy->click();
    const Chromaticity hottest = LocusPoint(10000);
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[7],
              ChromaticityToFixed(hottest.x, 0));
    EXPECT_FALSE(Red(*form, "Edit3"));

    // A refused box, once edited into a number, goes out with the next apply.
    auto* x = Find<QLineEdit>(*form, "Edit1");
    Type(*form, "Edit1", "x");
    set->click();
    ASSERT_TRUE(Red(*form, "Edit1"));
    x->selectAll();
    for (const char c : std::string("0.31")) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(QLatin1Char(c)));
        QApplication::sendEvent(x, &key);
    }
    EXPECT_EQ(x->text(), "0.31");
    EXPECT_FALSE(Red(*form, "Edit1"));
    set->click();
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[7], 20315);
    form->close();
}

// Without a lamp the window says so over the diagram, starts from a target a user can work
// from, and a change says it went nowhere rather than looking sent.
TEST_F(WindowTest, WithoutALampTheBannerSaysSoAndAChangeIsNotSent) {
    WriteOptions(kOptions);
    auto form = OpenToMainPage();
    const QLabel* banner = Find<QLabel>(*form, "NoLampBanner");
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->text(), "No lamp connected: none found.");
    const Chromaticity white = LocusPoint(5000);
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(),
              QString::asprintf("%2.4f", static_cast<double>(white.x)));
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit2")->text(),
              QString::asprintf("%2.4f", static_cast<double>(white.y)));
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit3")->text(), "5000");
    EXPECT_FALSE(Red(*form, "Edit3"));

    bus_->ClearCalls();
    Find<QAbstractButton>(*form, "Button4")->click();
    EXPECT_EQ(banner->text(), "No lamp connected: none found.\nLast change not sent: no lamp.");
    // A lamp that comes takes the banner away, and what it says with it.
    AddLamp();
    ASSERT_TRUE(WaitFor([&] { return form->Controller()->IsConnected() && banner->isHidden(); }));
    form->close();
}

TEST_F(WindowTest, DiagramDragPicksAPointAndTheReleaseSendsIt) {
    WriteOptions(kWideGamutOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->Controller()->IsConnected());
    auto* image = Find<TImage>(*form, "Image1");
    // Connected: the diagram is drawn with its point off the plot.
    EXPECT_EQ(image->Picture().size(), QSize(500, 330));
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1");
    const std::int32_t sentBefore = form->Controller()->CurrentRecord().ColorValues[7];

    // Press at x = y = 0.294, drag outside the gamut and back in to 0.35, 0.35.
    Mouse(image, QEvent::MouseButtonPress, 130, 200, Qt::LeftButton);
    EXPECT_EQ(Text(*form, "Edit1"), "0.2940");
    EXPECT_EQ(Text(*form, "Edit2"), "0.2940");
    EXPECT_FALSE(Red(*form, "Edit1"));
    EXPECT_EQ(image->Picture().pixel(130, 200), qRgb(255, 255, 255));  // crosshair centre
    EXPECT_EQ(image->Picture().pixel(130, 208), qRgb(0, 0, 0));

    Mouse(image, QEvent::MouseMove, 239, 91, Qt::LeftButton);  // about (0.6, 0.6)
    EXPECT_TRUE(Red(*form, "Edit1"));
    EXPECT_TRUE(Red(*form, "Edit2"));
    EXPECT_LT(Text(*form, "Edit1").toDouble(), 0.5);  // pulled onto the red-green edge

    Mouse(image, QEvent::MouseMove, 150, 180, Qt::LeftButton);
    EXPECT_FALSE(Red(*form, "Edit1"));
    EXPECT_EQ(Text(*form, "Edit1"), "0.3500");
    EXPECT_EQ(Text(*form, "Edit2"), "0.3500");
    EXPECT_EQ(image->Picture().pixel(150, 180), qRgb(255, 255, 255));
    // Nothing goes to the lamp before the release.
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1");
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[7], sentBefore);

    Mouse(image, QEvent::MouseButtonRelease, 150, 180, Qt::NoButton);
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1*");
    // 0.35 x 65535, truncated.
    ASSERT_TRUE(WaitFor([&] {
        const CChannel slot = LampCurrentSlot(*lamp);
        return slot.ColorValues[7] == 22937 && slot.ColorValues[8] == 22937;
    }));
    EXPECT_EQ(LampCurrentSlot(*lamp).ModeFlags, 1);

    // A move after the release picks nothing.
    Mouse(image, QEvent::MouseMove, 100, 100, Qt::NoButton);
    EXPECT_EQ(Text(*form, "Edit1"), "0.3500");
    form->close();
}

TEST_F(WindowTest, DiagramArrowKeysMoveThePointAndEnterOrLeavingSendsIt) {
    WriteOptions(kWideGamutOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    auto* image = Find<TImage>(*form, "Image1");
    EXPECT_EQ(image->focusPolicy(), Qt::StrongFocus);
    const auto sent = [&](int x, int y) { return SentAndShown(*lamp, *form, x, y); };
    Mouse(image, QEvent::MouseButtonPress, 150, 180, Qt::LeftButton);
    Mouse(image, QEvent::MouseButtonRelease, 150, 180, Qt::NoButton);
    ASSERT_TRUE(sent(22937, 22937));  // 0.35

    // One pixel right, ten up with Shift: drawn and shown at once, sent only on Enter. The T
    // box follows with x and y, showing the temperature Enter then sends.
    const QString unstepped = Text(*form, "Edit3");
    Press(image, Qt::Key_Right, Qt::NoModifier);
    Press(image, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(Text(*form, "Edit1"), "0.3528");
    EXPECT_EQ(Text(*form, "Edit2"), "0.3780");
    const QString stepped = Text(*form, "Edit3");
    EXPECT_NE(stepped, unstepped);
    EXPECT_EQ(image->Picture().pixel(151, 170), qRgb(255, 255, 255));  // crosshair centre
    EXPECT_EQ(LampCurrentSlot(*lamp).ColorValues[7], 22937);
    Press(image, Qt::Key_Return, Qt::NoModifier);
    EXPECT_TRUE(sent(23120, 24772));
    EXPECT_EQ(Text(*form, "Edit3"), stepped);
    EXPECT_EQ(QString::number(LampCurrentSlot(*lamp).ColorValues[6]), stepped);

    // A moved point goes out when the focus leaves the diagram, too.
    Press(image, Qt::Key_Down, Qt::NoModifier);
    EXPECT_EQ(Text(*form, "Edit2"), "0.3752");
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(image, &leave);
    EXPECT_TRUE(sent(23120, 24588));

    // + and - step the intensity slider as its buttons do, and send at once.
    const int intensity = form->State().ControlValues[7];
    Press(image, Qt::Key_Minus, Qt::NoModifier);
    EXPECT_EQ(form->State().ControlValues[7], intensity - 5);
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[14],
              SliderToLevel(intensity - 5, false));
    Press(image, Qt::Key_Plus, Qt::NoModifier);
    EXPECT_EQ(form->State().ControlValues[7], intensity);
    form->close();

    // A protected first channel ignores the keys.
    WriteOptions("<OPTIONS><SIMULATE>1</SIMULATE><C1S>0</C1S></OPTIONS>");
    NewBus();
    AddLamp();
    form = OpenToMainPage();
    ASSERT_EQ(form->Controller()->CurrentSlot(), 1);
    image = Find<TImage>(*form, "Image1");
    const QString x = Text(*form, "Edit1");
    const QImage before = image->Picture();
    const int intensity1 = form->State().ControlValues[7];
    Press(image, Qt::Key_Right, Qt::ShiftModifier);
    Press(image, Qt::Key_Return, Qt::NoModifier);
    Press(image, Qt::Key_Minus, Qt::NoModifier);
    EXPECT_EQ(form->State().ControlValues[7], intensity1);
    EXPECT_EQ(Text(*form, "Edit1"), x);
    EXPECT_EQ(image->Picture(), before);
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1");
    form->close();
}

// Switching the panels over and back again changes nothing the user set, so the lamp is sent
// the same point and temperature, whether the point came from the diagram or from the lamp.
TEST_F(WindowTest, ReopeningAPanelSendsTheSameRecord) {
    WriteOptions(
        "<OPTIONS><SIMULATE>1</SIMULATE><C1S>1</C1S><SD>1</SD>"
        "<R><X>0.69</X><Y>0.30</Y></R><G><X>0.17</X><Y>0.70</Y></G>"
        "<B><X>0.15</X><Y>0.03</Y></B></OPTIONS>");
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    auto* image = Find<TImage>(*form, "Image1");
    for (const auto& [px, py] : {std::pair{151, 181}, {163, 207}, {140, 171}}) {
        Mouse(image, QEvent::MouseButtonPress, px, py, Qt::LeftButton);
        Mouse(image, QEvent::MouseButtonRelease, px, py, Qt::NoButton);
        ASSERT_TRUE(WaitFor([&] { return form->Controller()->PendingChannel() == -1; }));
        Settle(*form->Controller());
        const auto held = LampCurrentSlot(*lamp).ColorValues;
        for (const char* button :
             {"SpeedButton3", "SpeedButton2", "SpeedButton4", "SpeedButton2"}) {
            Find<QAbstractButton>(*form, button)->click();
            Settle(*form->Controller());
            const auto now = LampCurrentSlot(*lamp).ColorValues;
            EXPECT_EQ(now[6], held[6]) << button << " at " << px;
            EXPECT_EQ(now[7], held[7]) << button << " at " << px;
            EXPECT_EQ(now[8], held[8]) << button << " at " << px;
        }
    }
    // A record the lamp holds, its point not one the window drew and its temperature worked
    // out from a point a rounding away: the same again.
    CChannel stored = LampCurrentSlot(*lamp);
    const ColorTriple xyz = XyYToXyz(HeldChromaticity(22541, 0), HeldChromaticity(23201, 0), 1);
    stored.ColorValues[6] = NearestTemperature(xyz.c0, xyz.c1, xyz.c2) + 1;
    stored.ColorValues[7] = 22541;  // 0.343953...
    stored.ColorValues[8] = 23201;
    form->Controller()->SetCurrentRecord(stored);
    const int n = form->Controller()->CurrentSlot();
    form->Controller()->RequestChannel(n);
    ASSERT_TRUE(WaitFor([&] { return LampCurrentSlot(*lamp).ColorValues[7] == 22541; }));
    Settle(*form->Controller());
    const int cct = LampCurrentSlot(*lamp).ColorValues[6];
    for (const char* button : {"SpeedButton3", "SpeedButton2"}) {
        Find<QAbstractButton>(*form, button)->click();
        Settle(*form->Controller());
        const auto now = LampCurrentSlot(*lamp).ColorValues;
        EXPECT_EQ(now[6], cct) << button;
        EXPECT_EQ(now[7], 22541) << button;
        EXPECT_EQ(now[8], 23201) << button;
    }
    form->close();
}

TEST_F(WindowTest, APointerPassingOverTheDiagramAfterKeyStepsPicksNothing) {
    WriteOptions(kWideGamutOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    auto* image = Find<TImage>(*form, "Image1");
    const auto sent = [&](int x, int y) { return SentAndShown(*lamp, *form, x, y); };
    Mouse(image, QEvent::MouseButtonPress, 150, 180, Qt::LeftButton);
    Mouse(image, QEvent::MouseButtonRelease, 150, 180, Qt::NoButton);
    ASSERT_TRUE(sent(22937, 22937));  // 0.35

    // Up three times, then the pointer crosses the plot, outside the gamut too, to the zoom
    // button with no button held: the boxes keep the stepped point and the zoom click sends it.
    for (int i = 0; i < 3; ++i) Press(image, Qt::Key_Up, Qt::NoModifier);
    ASSERT_EQ(Text(*form, "Edit2"), "0.3584");
    for (const auto& at : {std::pair{200, 150}, std::pair{300, 60}, std::pair{420, 30}}) {
        Mouse(image, QEvent::MouseMove, at.first, at.second, Qt::NoButton);
    }
    EXPECT_EQ(Text(*form, "Edit1"), "0.3500");
    EXPECT_EQ(Text(*form, "Edit2"), "0.3584");
    EXPECT_FALSE(Red(*form, "Edit1"));
    Mouse(image, QEvent::MouseButtonPress, 470, 20, Qt::LeftButton);
    Mouse(image, QEvent::MouseButtonRelease, 470, 20, Qt::NoButton);
    EXPECT_TRUE(sent(22937, 23487));

    // Sent, the step waits no longer: neither a move nor a later release picks or sends.
    Mouse(image, QEvent::MouseMove, 100, 100, Qt::NoButton);
    Mouse(image, QEvent::MouseButtonRelease, 100, 100, Qt::NoButton);
    EXPECT_EQ(Text(*form, "Edit2"), "0.3584");
    EXPECT_EQ(form->Controller()->CurrentRecord().ColorValues[8], 23487);

    // A step sent by "Set" ends too.
    Press(image, Qt::Key_Right, Qt::NoModifier);
    Find<QAbstractButton>(*form, "Button4")->click();
    const QString x = Text(*form, "Edit1");
    Mouse(image, QEvent::MouseMove, 120, 120, Qt::NoButton);
    EXPECT_EQ(Text(*form, "Edit1"), x);
    form->close();
}

TEST_F(WindowTest, DiagramButtonsZoomAndSpeedAndTheLuxBoxClearsItsMark) {
    WriteOptions(kOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    auto* image = Find<TImage>(*form, "Image1");
    // The zoom button shows a plus; pressed, a minus.
    EXPECT_EQ(image->Picture().pixel(470, 8), qRgb(160, 160, 160));
    Mouse(image, QEvent::MouseButtonPress, 451, 47, Qt::LeftButton);
    Mouse(image, QEvent::MouseButtonRelease, 451, 47, Qt::NoButton);
    EXPECT_EQ(image->Picture().pixel(470, 8), qRgb(122, 122, 122));

    // "F": the index is stored, applied (speed bit 2) and drawn.
    Mouse(image, QEvent::MouseButtonPress, 460, 94, Qt::LeftButton);
    EXPECT_EQ(form->State().SpeedIndex, 0);
    EXPECT_EQ(form->Controller()->CurrentRecord().DisplayFlags & 4, 4);
    EXPECT_EQ(image->Picture().pixel(452, 52), qRgb(160, 160, 160));
    EXPECT_EQ(image->Picture().pixel(452, 102), qRgb(122, 122, 122));

    // The lux box: focus gives back the normal colour and clears the pending confirmation.
    auto* lux = Find<QLineEdit>(*form, "Edit4");
    MarkBox(lux, true);
    form->State().PendingConfirmation = true;
    lux->setFocus();
    QFocusEvent focus(QEvent::FocusIn);
    QApplication::sendEvent(lux, &focus);
    EXPECT_FALSE(Red(*form, "Edit4"));
    EXPECT_FALSE(form->State().PendingConfirmation);
    form->close();
}

// A pointer event on a drawing surface, at image pixel (x, y).
void Mouse(TForm1& form, const char* image, QEvent::Type type, int x, int y,
           Qt::MouseButton button = Qt::LeftButton) {
    auto* w = form.findChild<QWidget*>(QString::fromLatin1(image));
    ASSERT_NE(w, nullptr) << image;
    const QPointF at(x, y);
    QMouseEvent event(type, at, w->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Click(TForm1& form, const char* image, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(form, image, QEvent::MouseButtonPress, x, y, button);
    Mouse(form, image, QEvent::MouseButtonRelease, x, y, button);
}

bool Checked(TForm1& form, const char* box) {
    return form.findChild<QAbstractButton*>(QString::fromLatin1(box))->isChecked();
}

TEST_F(WindowTest, SlidersAndModeButtonsSendOnRelease) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD></OPTIONS>");
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    auto record = [&] { return lamp.CurrentRecord(); };
    // The page shows before the lamp's first report has filled the boxes and sliders.
    ASSERT_TRUE(WaitFor([&] { return !Text(*form, "Edit3").isEmpty(); }));
    // Without a lamp the window shows slot 0, which holds no light; the presses below start
    // from full intensity, as a report of such a record sets it.
    CChannel full = record();
    full.ColorValues[14] = SliderToLevel(1000, false);
    lamp.SetCurrentRecord(full);
    form->LampStateChanged();
    ASSERT_EQ(form->State().ControlValues[7], 1000);
    Type(*form, "Edit3", "unset");
    auto applied = [&] {
        const bool was = Text(*form, "Edit3") != "unset";
        Type(*form, "Edit3", "unset");
        return was;
    };

    // A step press on the intensity slider changes it by 5; only the release sends.
    Mouse(*form, "Image8", QEvent::MouseButtonPress, 27, 5);
    EXPECT_EQ(form->State().ControlValues[7], 995);
    EXPECT_FALSE(applied());
    Mouse(*form, "Image8", QEvent::MouseButtonRelease, 27, 5);
    EXPECT_TRUE(applied());
    EXPECT_EQ(record().ColorValues[14], SliderToLevel(995, false));

    // The B1B2 row checks "coefficients" and UV; a drag past the end holds 0 and sends nothing.
    Mouse(*form, "Image5", QEvent::MouseButtonPress, 232, 40);
    EXPECT_TRUE(Checked(*form, "CheckBox1"));
    EXPECT_TRUE(Checked(*form, "CheckBox2"));
    EXPECT_EQ(form->State().ControlValues[2], 500);
    applied();
    Mouse(*form, "Image5", QEvent::MouseMove, -100, 40);
    EXPECT_EQ(form->State().ControlValues[2], 0);
    EXPECT_FALSE(applied());
    Mouse(*form, "Image5", QEvent::MouseButtonRelease, -100, 40);
    EXPECT_TRUE(applied());
    EXPECT_EQ(record().ColorValues[13], 0);
    EXPECT_EQ(record().ColorValues[12] & 3, 3);

    // A channel slider (second row: R, slot 0) checks "direct values" and sends direct mode.
    Click(*form, "Image7", 436, 40);
    EXPECT_TRUE(Checked(*form, "CheckBox6"));
    EXPECT_EQ(record().ColorValues[0], 4000);
    EXPECT_EQ(record().ModeFlags, 5);

    // "Auto" clears both boxes and sends once without direct mode.
    Find<QAbstractButton>(*form, "SpeedButton4")->click();
    EXPECT_FALSE(Checked(*form, "CheckBox1"));
    EXPECT_FALSE(Checked(*form, "CheckBox6"));
    EXPECT_EQ(record().ModeFlags, 1);
    EXPECT_EQ(record().ColorValues[12] & 1, 0);

    // "Coeff." shows its panel and puts "Hide" up; "Hide" hides both and brings it back.
    Find<QAbstractButton>(*form, "SpeedButton3")->click();
    EXPECT_TRUE(Find(*form, "Panel3")->isVisible());
    EXPECT_FALSE(Checked(*form, "SpeedButton5"));
    Find<QAbstractButton>(*form, "SpeedButton5")->click();
    EXPECT_FALSE(Find(*form, "Panel3")->isVisible());
    EXPECT_FALSE(Find(*form, "Panel9")->isVisible());
    Find<QAbstractButton>(*form, "SpeedButton5")->click();
    EXPECT_TRUE(Find(*form, "Panel3")->isVisible());
    Find<QAbstractButton>(*form, "SpeedButton2")->click();
    EXPECT_FALSE(Find(*form, "Panel3")->isVisible());
    EXPECT_TRUE(Find(*form, "Panel9")->isVisible());
    form->close();

    // Without SD a press on the channel sliders is ignored, but its release still sends.
    WriteOptions("<OPTIONS><C1S>1</C1S></OPTIONS>");
    form = OpenToMainPage();
    Type(*form, "Edit3", "unset");
    Mouse(*form, "Image7", QEvent::MouseButtonPress, 436, 40);
    EXPECT_FALSE(Checked(*form, "CheckBox6"));
    EXPECT_EQ(form->State().ControlValues[10], 0);
    EXPECT_FALSE(applied());
    Mouse(*form, "Image7", QEvent::MouseButtonRelease, 436, 40);
    EXPECT_TRUE(applied());
    form->close();
}

TEST_F(WindowTest, RefreshShowsWhatTheLampReports) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD><TEST>1</TEST></OPTIONS>");
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    CChannel r = lamp.CurrentRecord();
    r.ColorValues = {65535, 800,  1200,  1600,  2000, 4000, 2500,  21626,
                     21626, 2999, 32767, 65535, 1,    6553, 65500, 0};
    r.ModeFlags = 5;
    r.DisplayFlags = 2 | (1 << 3);
    lamp.SetCurrentRecord(r);
    Type(*form, "Edit4", "100");
    form->State().PendingConfirmation = true;
    form->LampStateChanged();

    EXPECT_EQ(Text(*form, "Edit1"), "0.3300");
    EXPECT_FALSE(Red(*form, "Edit1"));
    EXPECT_EQ(Text(*form, "Edit3"), "2500");
    EXPECT_TRUE(Red(*form, "Edit3"));
    EXPECT_EQ(Text(*form, "Edit4"), "2999");
    EXPECT_TRUE(Red(*form, "Edit4"));
    EXPECT_FALSE(form->State().PendingConfirmation);
    const auto& cv = form->State().ControlValues;
    EXPECT_EQ(cv[0], 500);
    EXPECT_EQ(cv[1], 1000);
    EXPECT_EQ(cv[2], 100);
    EXPECT_EQ(cv[10], 1000);  // 65535 / 4 held to the slider's end
    EXPECT_EQ(cv[20], 1000);
    EXPECT_EQ(cv[15], 1000);
    EXPECT_EQ(form->State().SpeedIndex, 2);
    EXPECT_TRUE(Checked(*form, "CheckBox1"));
    EXPECT_TRUE(Checked(*form, "CheckBox6"));
    EXPECT_TRUE(Checked(*form, "CheckBox5"));
    EXPECT_FALSE(Checked(*form, "CheckBox4"));
    // "Auto" was down with the coefficients on: the lamp's direct mode puts "Direct" down, its
    // panel stays hidden under "Hide". Setting the boxes applied nothing.
    EXPECT_TRUE(Checked(*form, "SpeedButton2"));
    EXPECT_FALSE(Find(*form, "Panel9")->isVisible());
    EXPECT_EQ(lamp.CurrentRecord(), r);
    const QStringList memo = Find<QPlainTextEdit>(*form, "Memo1")->toPlainText().split('\n');
    ASSERT_EQ(memo.size(), 23);
    EXPECT_EQ(memo[0], "W : 4000");
    EXPECT_EQ(memo[6], "T : 2500");

    // Only the first report after an apply marks the lux box; 3000 keeps the user's text.
    r.ColorValues[6] = 9999;
    r.ColorValues[9] = 3000;
    lamp.SetCurrentRecord(r);
    Type(*form, "Edit4", "777");
    form->LampStateChanged();
    EXPECT_FALSE(Red(*form, "Edit4"));
    EXPECT_EQ(Text(*form, "Edit4"), "777");
    EXPECT_FALSE(Red(*form, "Edit3"));
    r.ColorValues[6] = 10000;
    lamp.SetCurrentRecord(r);
    form->LampStateChanged();
    EXPECT_TRUE(Red(*form, "Edit3"));
    form->close();
}

TEST_F(WindowTest, LampViewsAreDrawnAgainOnlyWhenWhatTheyShowChanges) {
    WriteOptions("<OPTIONS><C1S>1</C1S><TEST>1</TEST></OPTIONS>");
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    auto* memo = Find<QPlainTextEdit>(*form, "Memo1");
    int memoWrites = 0;
    QObject::connect(memo->document(), &QTextDocument::contentsChanged, [&] { ++memoWrites; });
    const std::array<TImage*, 3> views = {Find<TImage>(*form, "Image2"),
                                          Find<TImage>(*form, "Image3"),
                                          Find<TImage>(*form, "Image4")};
    form->LampStatus();

    CChannel r = lamp.CurrentRecord();
    struct Case {
        const char* change;
        std::function<void()> apply;
        std::array<bool, 3> drawn;  // channel list, sleep timer, gauge
        bool memoWritten;
    };
    const Case cases[] = {
        {"nothing", [] {}, {false, false, false}, false},
        {"a record value",
         [&] {
             r.ColorValues[5] = 1234;
             lamp.SetCurrentRecord(r);
         },
         {false, false, false},
         true},
        {"a channel name",
         [&] {
             r.Name = "Reading";
             lamp.SetCurrentRecord(r);
         },
         {true, false, false},
         false},
        // With no timer the gauge is the bare ring whether the lamp is on or off.
        {"lamp off", [&] { lamp.SetLampOff(true); }, {true, false, false}, false},
        {"the timer", [&] { lamp.SetTimeout(125); }, {false, true, false}, false},
        {"a replaced picture",
         [&] { views[0]->SetPicture(QImage(150, 319, QImage::Format_RGB32)); },
         {true, false, false},
         false},
        {"lamp on with the timer running",
         [&] {
             lamp.SetLampOff(false);
             ASSERT_TRUE(WaitFor([&] { return lamp.RemainingSeconds() < 125; }));
         },
         {true, false, true},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        std::array<qint64, 3> before{};
        for (std::size_t i = 0; i < views.size(); ++i) before[i] = views[i]->Picture().cacheKey();
        const int writes = memoWrites;
        c.apply();
        form->LampStatus();
        for (std::size_t i = 0; i < views.size(); ++i)
            EXPECT_EQ(views[i]->Picture().cacheKey() != before[i], c.drawn[i]) << i;
        EXPECT_EQ(memoWrites != writes, c.memoWritten);
    }
    // What was drawn again shows the change.
    EXPECT_EQ(memo->toPlainText().split('\n').value(0), "W : 1234");
    QImage timer(160, 50, QImage::Format_RGB32);
    timer.fill(kWindowGrey);
    DrawSleepTimer(timer, 125);
    EXPECT_EQ(views[1]->Picture(), timer);
    form->close();
}

TEST_F(WindowTest, RefreshCorrectsOutsideTheGamutOnlyOutsideDirectMode) {
    WriteOptions("<OPTIONS><C1S>1</C1S><SD>1</SD></OPTIONS>");
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    lamp.SetGamutTriangle({0.69f, 0.30f, 0.17f, 0.70f, 0.15f, 0.03f});
    CChannel r = lamp.CurrentRecord();
    r.ColorValues[7] = r.ColorValues[8] = 3277;  // (0.05, 0.05), below the blue corner
    r.ModeFlags = 5;
    lamp.SetCurrentRecord(r);
    form->State().PendingConfirmation = true;
    form->LampStateChanged();
    // Direct mode is kept: nothing is corrected behind the user's back, and the boxes show the
    // point the lamp holds, unmarked, not a corrected one that is never sent.
    EXPECT_EQ(lamp.CurrentRecord(), r);
    EXPECT_EQ(Text(*form, "Edit1"), "0.0500");
    EXPECT_EQ(Text(*form, "Edit2"), "0.0500");
    EXPECT_FALSE(Red(*form, "Edit1"));
    EXPECT_FALSE(Red(*form, "Edit2"));
    // Nor while the window's last apply was a correction of its own.
    form->State().CorrectionFlag = true;
    form->LampStateChanged();
    EXPECT_EQ(lamp.CurrentRecord(), r);
    form->State().CorrectionFlag = false;

    r.ModeFlags = 1;
    lamp.SetCurrentRecord(r);
    form->State().PendingConfirmation = true;
    form->LampStateChanged();
    EXPECT_TRUE(Red(*form, "Edit1"));
    EXPECT_TRUE(form->State().CorrectionFlag);
    const CChannel corrected = lamp.CurrentRecord();
    EXPECT_GT(corrected.ColorValues[7], 3277);
    EXPECT_EQ(corrected.ModeFlags, 1);
    EXPECT_EQ(corrected.Name, r.Name);  // a correction does not mark the name
    form->close();
}

TEST_F(WindowTest, GamutCorrectionDoesNotResendForever) {
    // A lamp whose gamut does not hold the white point: every point outside it stays where it
    // is, so resending it would be answered with the same report for ever.
    const std::array<float, 6> narrow{0.70f, 0.29f, 0.60f, 0.39f, 0.65f, 0.20f};
    WriteOptions(
        "<OPTIONS><C1S>1</C1S><R.X>0.70</R.X><R.Y>0.29</R.Y><G.X>0.60</G.X>"
        "<G.Y>0.39</G.Y><B.X>0.65</B.X><B.Y>0.20</B.Y></OPTIONS>");
    SimLampOptions options;
    options.ReportedGamut = narrow;
    auto lamp = std::make_shared<SimLamp>(*clock_, options);
    bus_->AddDevice("LED Lamp 1", "T0001", lamp);
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->Controller()->IsConnected());

    auto writes = [&] {
        int n = 0;
        for (const SimLampCommand& c : lamp->Commands())
            n += c.Cmd == CLightInput::kCmdWriteChannel;
        return n;
    };
    Type(*form, "Edit1", "0.33");
    Type(*form, "Edit2", "0.33");
    const int before = writes();
    Find<QAbstractButton>(*form, "Button4")->click();
    ASSERT_TRUE(WaitFor([&] { return writes() > before; }));
    // Let a good number of the controller's passes and reports go by.
    for (int pass = 0; pass < 20; ++pass) Settle(*form->Controller());
    EXPECT_LE(writes() - before, 4);
    EXPECT_EQ(LampCurrentSlot(*lamp).ColorValues[7], 21626);
    form->close();
}

TEST_F(WindowTest, ChannelListAndSleepTimerPresses) {
    WriteOptions(kOptions);
    AddLamp();
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    Click(*form, "Image3", 10, 10);  // left half: a minute
    EXPECT_EQ(lamp.GetTimeout(), 60);
    Click(*form, "Image3", 100, 10);  // right half: ten seconds
    EXPECT_EQ(lamp.GetTimeout(), 70);
    Click(*form, "Image3", 100, 10, Qt::RightButton);
    Click(*form, "Image3", 100, 10, Qt::RightButton);
    Click(*form, "Image3", 100, 10, Qt::RightButton);
    EXPECT_EQ(lamp.GetTimeout(), 40);
    Click(*form, "Image3", 10, 10, Qt::RightButton);  // held at 0
    EXPECT_EQ(lamp.GetTimeout(), 0);

    Click(*form, "Image2", 10, 5);
    EXPECT_TRUE(lamp.IsLampOff());
    Click(*form, "Image2", 10, 3 * 29 + 5);
    EXPECT_FALSE(lamp.IsLampOff());
    ASSERT_TRUE(WaitFor([&] { return lamp.CurrentSlot() == 3; }));
    Click(*form, "Image2", 10, 318);
    ASSERT_TRUE(WaitFor([&] { return lamp.CurrentSlot() == 10; }));
    form->close();
}

TEST_F(WindowTest, PresetsSaveRecallReplaceAndDelete) {
    WriteOptions(kOptions);
    AddLamp();
    auto form = OpenToMainPage();
    CLampState& lamp = *form->Controller();
    ASSERT_TRUE(lamp.IsConnected());
    auto* box = Find<QComboBox>(*form, "ComboBox3");
    QStringList asked;
    bool answer = true;
    form->AskQuestion = [&](const QString& text) {
        asked << text;
        return answer;
    };
    QStringList errors;
    form->ShowError = [&](const QString& text) { errors << text; };
    auto save = [&](const char* typed) {
        box->setEditText(QString::fromLatin1(typed));
        Find<QAbstractButton>(*form, "Button2")->click();
    };
    auto stored = [&](const std::string& name) -> const CChannel* {
        for (const CChannel& c : form->Presets()->Records())
            if (c.Name == name) return &c;
        return nullptr;
    };
    auto setLux = [&](int lux) {
        lamp.EditCurrentRecord([&](CChannel& c) { c.ColorValues[9] = lux; });
    };
    EXPECT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), "--------------------");

    // Blanks go; a name beyond 15 characters is cut.
    setLux(111);
    save("  Reading  ");
    ASSERT_NE(stored("Reading"), nullptr);
    EXPECT_EQ(stored("Reading")->ColorValues[9], 111);
    EXPECT_EQ(box->currentText(), "Reading");
    EXPECT_EQ(lamp.CurrentRecord().Name, "Reading");
    save("ABCDEFGHIJKLMNOPQRST");
    EXPECT_NE(stored("ABCDEFGHIJKLMNO"), nullptr);
    EXPECT_TRUE(asked.isEmpty());

    // Replacing answered No keeps the stored values; the current slot carries the name.
    setLux(222);
    answer = false;
    save("Reading");
    EXPECT_EQ(asked.value(0), "Replace? Reading");
    EXPECT_EQ(stored("Reading")->ColorValues[9], 111);
    EXPECT_EQ(lamp.CurrentRecord().Name, "Reading");
    answer = true;

    // Two names differing in case are two presets; the box selects the first of them.
    save("Night");
    save("night");
    EXPECT_NE(stored("Night"), nullptr);
    EXPECT_NE(stored("night"), nullptr);
    EXPECT_EQ(box->currentText().compare("night", Qt::CaseInsensitive), 0);
    EXPECT_EQ(box->currentIndex(), box->findText("night", Qt::MatchFixedString));

    // Choosing a preset recalls it into the current slot.
    setLux(333);
    const int reading = box->findText("Reading");
    box->setCurrentIndex(reading);
    emit box->activated(reading);
    EXPECT_EQ(lamp.CurrentRecord().ColorValues[9], 111);
    // Choosing the separator, or any preset while on slot 0, does nothing.
    setLux(444);
    emit box->activated(0);
    EXPECT_EQ(lamp.CurrentRecord().ColorValues[9], 444);
    lamp.RequestChannel(0);
    ASSERT_TRUE(WaitFor([&] { return lamp.CurrentSlot() == 0; }));
    const CChannel slot0 = lamp.CurrentRecord();
    emit box->activated(reading);
    EXPECT_EQ(lamp.CurrentRecord(), slot0);
    lamp.RequestChannel(1);
    ASSERT_TRUE(WaitFor([&] { return lamp.CurrentSlot() == 1; }));

    // Delete asks with the entry's name; with the separator it does nothing at all.
    asked.clear();
    box->setCurrentIndex(0);
    const std::string name = lamp.CurrentRecord().Name;
    Find<QAbstractButton>(*form, "Button12")->click();
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(lamp.CurrentRecord().Name, name);
    box->setCurrentIndex(box->findText("Night"));
    Find<QAbstractButton>(*form, "Button12")->click();
    EXPECT_EQ(asked.value(0), "Delete? Night");
    EXPECT_EQ(stored("Night"), nullptr);
    EXPECT_NE(stored("night"), nullptr);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_TRUE(errors.isEmpty());

    // A values.xml that cannot be replaced is reported, naming the file.
    const QString file = QFile::decodeName(form->Presets()->FilePath().c_str());
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file + "/keep"));
    save("Evening");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(file)) << errors[0].toStdString();
    form->close();
}

TEST_F(WindowTest, LampReportsWaitWhileAQuestionIsOpenAndRunOnceItCloses) {
    WriteOptions(kOptions);
    AddLamp();
    auto form = OpenToMainPage();
    int reports = 0;
    QObject::connect(form.get(), &TForm1::LampReportTakenIn, [&] { ++reports; });
    ASSERT_TRUE(WaitFor([&] { return reports > 0; }));
    auto* cct = Find<QLineEdit>(*form, "Edit3");
    const QString shownBefore = cct->text();
    QString shownDuring;
    bool served = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        // The controller serves a change and reports it while the question waits for its
        // answer; the window takes the report into its views only after the answer.
        const int before = reports;
        form->Controller()->RequestChannel(3);
        served = WaitFor([&] { return form->Controller()->PendingChannel() == -1; });
        WaitFor([&] { return reports > before; });
        shownDuring = cct->text();
        box->accept();
    });
    QMessageBox::question(form.get(), QStringLiteral("Question"), QStringLiteral("Replace?"));
    EXPECT_TRUE(served);
    EXPECT_EQ(shownDuring, shownBefore);
    const QString channel3 = QString::number(form->Controller()->Channel(3).ColorValues[6]);
    ASSERT_NE(channel3, shownBefore);
    EXPECT_TRUE(WaitFor([&] { return cct->text() == channel3; })) << cct->text().toStdString();
    EXPECT_EQ(form->Controller()->CurrentSlot(), 3);
    form->close();
}

// A lamp plugged in while the window's own question is open beside it: the main page is not
// redone behind the question (its preset box keeps the entry asked about) but once it is
// answered.
TEST_F(WindowTest, TheConnectReportWaitsWhileAQuestionIsOpen) {
    WriteOptions(kOptions);
    {
        QFile values(dir_.filePath("data/values.xml"));
        ASSERT_TRUE(values.open(QIODevice::WriteOnly));
        values.write("<VALUES><VALUE><NAME>Reading</NAME></VALUE></VALUES>");
    }
    auto form = OpenToMainPage();
    auto* box = Find<QComboBox>(*form, "ComboBox3");
    box->setCurrentIndex(box->findText("Reading"));
    int reports = 0;
    QObject::connect(form.get(), &TForm1::LampReportTakenIn, [&] { ++reports; });
    QString shownDuring;
    QString asked;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(WaitFor([] { return OpenBox() != nullptr; }));
        asked = OpenBox()->text();
        AddLamp();
        EXPECT_TRUE(WaitFor([&] { return form->Controller()->IsConnected() && reports > 0; }));
        shownDuring = box->currentText();
        OpenBox()->reject();
    });
    Find<QAbstractButton>(*form, "Button12")->click();
    EXPECT_EQ(asked, "Delete? Reading");
    EXPECT_EQ(shownDuring, "Reading");
    // The main page follows once the question is answered.
    EXPECT_TRUE(WaitFor([&] { return box->currentIndex() == 0; }));
    form->close();
}

}  // namespace

namespace {

// The x the lamp is sent for a pixel column of the normal diagram, inside the gamut.
int SentX(int X) {
    return ChromaticityToFixed(Diagram::ToChromaticity(kNormalView, X, 200).x, 0.0L);
}

// The x of each record write the lamp took since its commands were last cleared, in order.
std::vector<int> WrittenX(const SimLamp& lamp) {
    std::vector<int> written;
    for (const SimLampCommand& c : lamp.Commands()) {
        if (c.Cmd != CLightInput::kCmdWriteChannel) continue;
        CChannel record;
        record.DecodeBlock(c.Data);
        // Each record goes out twice; the second frame is the same write.
        if (written.empty() || written.back() != record.ColorValues[7])
            written.push_back(record.ColorValues[7]);
    }
    return written;
}

// With the lamp following drags, a drag's points reach the lamp as the link takes them: one
// write at a time, the newest point replacing those that came meanwhile. They are no edit of
// the setting (no name mark, no preset, nothing for the refresh to confirm), a report meanwhile
// leaves the point under the hand alone, and the release sends what it always sends.
TEST_F(WindowTest, FollowingADragSendsTheNewestPointAtEachFreeMomentAndEndsOnTheRelease) {
    std::string options = kWideGamutOptions;
    options.replace(options.find("</OPTIONS>"), 10, "<FOLLOW>1</FOLLOW></OPTIONS>");
    WriteOptions(options.c_str());
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(form->FollowWhileDragging());
    auto* image = Find<TImage>(*form, "Image1");
    const QString presetShown = Find<QComboBox>(*form, "ComboBox3")->currentText();
    lamp->ClearCommands();

    // While the lamp takes the press's point, the hand moves on over twenty more; a report
    // comes in the middle of them.
    bool held = false;
    StallAtFrame(
        *lamp, *form,
        [](const SimLampCommand& c) { return c.Cmd == CLightInput::kCmdWriteChannel; },
        [&] {
            held = true;
            for (int X = 131; X <= 150; ++X) {
                Mouse(image, QEvent::MouseMove, X, 200, Qt::LeftButton);
                if (X == 140) form->LampStateChanged();
            }
        });
    Mouse(image, QEvent::MouseButtonPress, 130, 200, Qt::LeftButton);
    // The lamp is not looked at while it holds the frame.
    ASSERT_TRUE(WaitFor([&] { return held; }));
    ASSERT_TRUE(WaitFor([&] { return LampCurrentSlot(*lamp).ColorValues[7] == SentX(150); }));
    lamp->SetCommandHook(nullptr);
    // The press's point, then the newest one: none of those in between.
    EXPECT_EQ(WrittenX(*lamp), (std::vector<int>{SentX(130), SentX(150)}));
    EXPECT_EQ(Text(*form, "Edit1"), "0.3500");
    EXPECT_EQ(image->Picture().pixel(150, 200), qRgb(255, 255, 255));
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1");
    EXPECT_EQ(LampCurrentSlot(*lamp).ModeFlags, 1);
    EXPECT_EQ(Find<QComboBox>(*form, "ComboBox3")->currentText(), presetShown);
    EXPECT_FALSE(form->State().PendingConfirmation);

    Mouse(image, QEvent::MouseMove, 160, 200, Qt::LeftButton);
    Mouse(image, QEvent::MouseButtonRelease, 160, 200, Qt::NoButton);
    EXPECT_EQ(form->Controller()->CurrentRecord().Name, "Channel 1*");
    EXPECT_TRUE(form->State().PendingConfirmation);
    ASSERT_TRUE(SentAndShown(*lamp, *form, SentX(160), LampCurrentSlot(*lamp).ColorValues[8]));
    EXPECT_EQ(WrittenX(*lamp).back(), SentX(160));

    // A slider drag is followed too, and the release sends its final place.
    Mouse(*form, "Image8", QEvent::MouseButtonPress, 232, 5);
    ASSERT_TRUE(WaitFor([&] {
        return LampCurrentSlot(*lamp).ColorValues[14] ==
               SliderToLevel(500, Checked(*form, "CheckBox4"));
    }));
    Mouse(*form, "Image8", QEvent::MouseMove, 132, 5);
    Mouse(*form, "Image8", QEvent::MouseButtonRelease, 132, 5);
    EXPECT_TRUE(WaitFor([&] {
        return LampCurrentSlot(*lamp).ColorValues[14] ==
               SliderToLevel(250, Checked(*form, "CheckBox4"));
    }));
    form->close();
}

// Switched off (as it is without the option), a drag sends nothing before its release, and
// the switch is kept in the options for the next start.
TEST_F(WindowTest, WithFollowOffADragSendsOnlyAtTheReleaseAndTheSwitchIsKept) {
    WriteOptions(kWideGamutOptions);
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    EXPECT_FALSE(form->FollowWhileDragging());
    auto* image = Find<TImage>(*form, "Image1");
    lamp->ClearCommands();
    Mouse(image, QEvent::MouseButtonPress, 130, 200, Qt::LeftButton);
    Mouse(image, QEvent::MouseMove, 150, 200, Qt::LeftButton);
    Mouse(*form, "Image8", QEvent::MouseButtonPress, 232, 5);
    Mouse(*form, "Image8", QEvent::MouseMove, 132, 5);
    Settle(*form->Controller());
    EXPECT_TRUE(WrittenX(*lamp).empty());
    Mouse(image, QEvent::MouseButtonRelease, 150, 200, Qt::NoButton);
    EXPECT_TRUE(WaitFor([&] { return LampCurrentSlot(*lamp).ColorValues[7] == SentX(150); }));

    // The right button opens the diagram's menu with the switch and picks nothing.
    auto* follow = form->findChild<QAction*>(QStringLiteral("FollowAction"));
    ASSERT_NE(follow, nullptr);
    EXPECT_TRUE(image->actions().contains(follow));
    Mouse(*form, "Image1", QEvent::MouseButtonPress, 200, 100, Qt::RightButton);
    Mouse(*form, "Image1", QEvent::MouseButtonRelease, 200, 100, Qt::RightButton);
    EXPECT_EQ(Text(*form, "Edit1"), "0.3500");
    follow->trigger();
    EXPECT_TRUE(form->FollowWhileDragging());
    form->close();
    form.reset();

    NewBus();
    AddLamp();
    form = OpenToMainPage();
    EXPECT_TRUE(form->FollowWhileDragging());
    EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("FollowAction"))->isChecked());
    form->close();
}

}  // namespace
