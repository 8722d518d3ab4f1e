// The window's imports end to end on a simulated lamp: the coefficient page, the display text
// upload and the spectrometer measurement.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "Fixture.h"
#include "Stallframe.h"
#include "app/Setup.h"
#include "bus/Bus.h"
#include "colour/Expvalue.h"
#include "link/Clock.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "link/Lightinfo.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "window/Main.h"
#include "window/Measurement.h"
#include "window/Upload.h"

namespace {

const char* const kOptions =
    "<OPTIONS>\n"
    "  <SPEED>38400</SPEED>\n"
    "  <C1S>1</C1S>\n"
    "  <LANG><ITEMS>6</ITEMS><X>2</X><Y>3</Y><OFFSET_X>0</OFFSET_X><OFFSET_Y>20</OFFSET_Y></LANG>\n"
    "</OPTIONS>\n";

class ImportTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        WriteOptions(kOptions);
    }

    std::unique_ptr<TForm1> OpenToMainPage() {
        return WindowFixture::OpenToMainPage([this](FormSetup& form) {
            form.measurement = &store_;
            form.chooseCoefficientFile = [this] {
                ++choices_;
                return coefficientFile_;
            };
            form.chooseLanguageFile = [this] {
                ++choices_;
                if (onChoose_) onChoose_();
                return languageFile_;
            };
        });
    }

    QString WriteFile(const char* name, const QByteArray& bytes) {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    // The message page's headline, and its detail line after " / " when there is one.
    static std::string Message(TForm1& form) {
        const QString detail = Find<QLabel>(form, "Label27")->text();
        QString text = Find<QLabel>(form, "Label5")->text();
        if (!detail.isEmpty()) text += " / " + detail;
        return text.toStdString();
    }

    static std::string Headline(TForm1& form) {
        return Find<QLabel>(form, "Label5")->text().toStdString();
    }

    // Waits until the controller has taken and served a channel request.
    static bool Select(TForm1& form, int slot) {
        form.Controller()->RequestChannel(slot);
        return WaitFor([&] {
            return form.Controller()->CurrentSlot() == slot &&
                   form.Controller()->PendingChannel() == -1;
        });
    }

    FixedStore store_;
    QString coefficientFile_;
    QString languageFile_;
    std::function<void()> onChoose_;
    int choices_ = 0;
};

std::vector<std::uint8_t> Bytes(const SimLamp::Page& page, int from, int to) {
    return {page.begin() + from, page.begin() + to};
}

TEST_F(ImportTest, ACoefficientFileLandsInTheLampAndOkFollowsOnlyThen) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    std::string text = "; coefficients\r\n\r\n100\t200\t300\r\n7\r\n";
    for (int i = 0; i < 30; ++i) text += std::to_string(1000 + i) + "\t70000\t-5\r\n";
    coefficientFile_ = WriteFile("table.txt", QByteArray::fromStdString(text));
    form->ShowPage(Page::Coefficient);
    ASSERT_EQ(Find<QLineEdit>(*form, "Edit6")->text(), "19");

    Find<QAbstractButton>(*form, "Button9")->click();
    // A late word on an earlier table (number 0 is none of this write's) ends nothing.
    form->CoefficientsWritten(0, CLightInput::kNoReply);
    EXPECT_EQ(Headline(*form), "Please wait");
    EXPECT_FALSE(form->BusyReason().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return Headline(*form) == "Coefficients OK"; }));
    EXPECT_EQ(form->CurrentPage(), Page::Message);
    EXPECT_TRUE(form->Timer2->isActive());
    EXPECT_EQ(form->Timer2->interval(), 3000);

    const SimLamp::Page page = lamp->ReadPage(257);
    EXPECT_EQ(Bytes(page, 0, 12),
              (std::vector<std::uint8_t>{100, 0, 200, 0, 44, 1, 7, 0, 0, 0, 0, 0}));
    // Rows 2..18 from the file's first 17 data rows, the rest of the table 0.
    EXPECT_EQ(Bytes(page, 12, 18), (std::vector<std::uint8_t>{0xE8, 0x03, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(Bytes(page, 108, 114), (std::vector<std::uint8_t>{0xF8, 0x03, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(Bytes(page, 114, 300), std::vector<std::uint8_t>(186, 0));
    form->close();
}

TEST_F(ImportTest, ACancelledChoiceLeavesTheLampsTableAlsoAfterClosing) {
    auto lamp = AddLamp();
    SimLamp::Page area = lamp->ReadPage(257);
    area[0] = 42;
    area[299] = 9;
    lamp->WritePage(257, area);
    auto form = OpenToMainPage();
    form->ShowPage(Page::Coefficient);

    coefficientFile_.clear();
    Find<QAbstractButton>(*form, "Button9")->click();
    EXPECT_EQ(choices_, 1);
    EXPECT_EQ(form->CurrentPage(), Page::Coefficient);
    // Row counts outside 1..50 do not even ask for a file, and say why.
    for (const char* count : {"51", "0", "abc"}) {
        form->ShowPage(Page::Coefficient);
        Find<QLineEdit>(*form, "Edit6")->setText(count);
        Find<QAbstractButton>(*form, "Button9")->click();
        EXPECT_EQ(Message(*form),
                  "Coefficients not loaded / Count must be a whole number from 1 to 50.");
    }
    EXPECT_EQ(choices_, 1);
    form->close();
    EXPECT_EQ(lamp->ReadPage(257), area);
}

TEST_F(ImportTest, CoefficientFailuresAreShownAsSuch) {
    // No lamp at all.
    auto form = OpenToMainPage();
    coefficientFile_ = WriteFile("table.txt", "1\t2\t3\n");
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    EXPECT_EQ(Message(*form), "Coefficients not written / No lamp is connected.");
    EXPECT_TRUE(form->Timer2->isActive());
    // Files that cannot be used say why; none is waited on or read without end.
    ::mkfifo(dir_.filePath("fifo").toLocal8Bit().constData(), 0600);
    const struct {
        QString file;
        const char* message;
    } unusable[] = {
        {dir_.filePath("missing.txt"), "Coefficients not loaded / Cannot read missing.txt."},
        {dir_.filePath("fifo"), "Coefficients not loaded / fifo is not a file."},
        {WriteFile("long.txt", QByteArray(1500, '1') + "\n1\t2\t3\n"),
         "Coefficients not loaded / Line 1 of long.txt is over 999 characters."},
    };
    for (const auto& c : unusable) {
        coefficientFile_ = c.file;
        form->ShowPage(Page::Coefficient);
        Find<QAbstractButton>(*form, "Button9")->click();
        EXPECT_EQ(Message(*form), c.message);
    }
    form->close();
}

// The lamp's calibration is not overwritten with zeros from a file that holds no table.
TEST_F(ImportTest, GarbageAndBinaryFilesNeverReachTheLamp) {
    auto lamp = AddLamp();
    SimLamp::Page area = lamp->ReadPage(257);
    area[0] = 42;
    area[299] = 9;
    lamp->WritePage(257, area);
    auto form = OpenToMainPage();
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(qRgb(12, 200, 31));
    ASSERT_TRUE(picture.save(dir_.filePath("photo.png"), "PNG"));
    const struct {
        QString file;
        const char* message;
    } refused[] = {
        {WriteFile("hello.txt", "hello world\n"),
         "Coefficients not loaded / hello.txt holds no coefficients."},
        {WriteFile("notes.txt", "Lorem ipsum\tdolor sit\n; amet\n\n-\t+ consectetur\r\n"),
         "Coefficients not loaded / notes.txt holds no coefficients."},
        {dir_.filePath("photo.png"), "Coefficients not loaded / photo.png is not a text file."},
    };
    for (const auto& c : refused) {
        coefficientFile_ = c.file;
        form->ShowPage(Page::Coefficient);
        Find<QAbstractButton>(*form, "Button9")->click();
        EXPECT_EQ(Message(*form), c.message);
    }
    form->close();
    EXPECT_EQ(lamp->ReadPage(257), area);
    EXPECT_FALSE(QDir(dir_.filePath("data/coefficients")).exists());
}

// Every write first keeps the lamp's own table in a file that the "Load" button takes back.
TEST_F(ImportTest, AWriteKeepsTheOldTableInAFileThatPutsItBack) {
    auto lamp = AddLamp();
    SimLamp::Page before = lamp->ReadPage(257);
    before[0] = 42;  // row 0: 42, 0, 7
    before[4] = 7;
    before[18] = 1;  // row 3: 1, 2, 65535
    before[20] = 2;
    before[22] = before[23] = 0xFF;
    lamp->WritePage(257, before);
    auto form = OpenToMainPage();
    coefficientFile_ = WriteFile("new.txt", "; new\n100\t200\t300\n5\n");
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return Headline(*form) == "Coefficients OK"; }));
    const QStringList saved = QDir(dir_.filePath("data/coefficients")).entryList(QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_TRUE(saved[0].startsWith("T0001-")) << saved[0].toStdString();
    EXPECT_EQ(Message(*form),
              "Coefficients OK / 2 rows from new.txt; old table: "
              "coefficients/" +
                  saved[0].toStdString());
    EXPECT_EQ(Bytes(lamp->ReadPage(257), 0, 14),
              (std::vector<std::uint8_t>{100, 0, 200, 0, 44, 1, 5, 0, 0, 0, 0, 0, 0, 0}));

    // Loading the saved file puts back exactly the bytes the lamp had.
    coefficientFile_ = dir_.filePath("data/coefficients/" + saved[0]);
    form->ShowPage(Page::Coefficient);
    Find<QLineEdit>(*form, "Edit6")->setText("4");
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return Message(*form).rfind("Coefficients OK / 4 rows", 0) == 0; }))
        << Message(*form);
    EXPECT_EQ(lamp->ReadPage(257), before);
    form->close();
}

TEST_F(ImportTest, ALampThatDoesNotTakeTheTableIsReported) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    coefficientFile_ = WriteFile("table.txt", "1\t2\t3\n");
    lamp->SetNoReplyTo(CLightInput::kCmdWriteMemory, -1, true);
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return Find<QLabel>(*form, "Label5")->text() != "Please wait"; }));
    EXPECT_EQ(Message(*form), "Coefficients not written / The lamp did not answer.");
    lamp->SetNoReplyTo(CLightInput::kCmdWriteMemory, -1, false);
    form->close();
}

TEST_F(ImportTest, ACloseDuringACoefficientWriteShowsPleaseWaitAndFollowsTheWrite) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    coefficientFile_ = WriteFile("table.txt", "11\t22\t33\n");
    // The lamp holds the write of its area until the window has had its turn.
    std::string shown;
    bool stillOpen = false;
    StallAtFrame(*lamp, *form, SelectingPage(257), [&] {
        form->close();
        if (form->CurrentPage() == Page::Message) shown = Message(*form);
        stillOpen = !form->isHidden() && !form->Controller()->IsFinished();
    });
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return form->isHidden(); }));
    lamp->SetCommandHook(nullptr);
    // The close says how long the write has left: the two page selections before the area's
    // second page are done.
    EXPECT_TRUE(QString::fromStdString(shown).contains(
        QRegularExpression("^Please wait / Closing after the coefficient write: 2 of [0-9]+ "
                           "items done, about [0-9]+ s left\\.$")))
        << shown;
    EXPECT_TRUE(stillOpen);
    // The table reached the lamp before the close let it go.
    EXPECT_EQ(Bytes(lamp->ReadPage(257), 0, 6), (std::vector<std::uint8_t>{11, 0, 22, 0, 33, 0}));
    EXPECT_TRUE(form->Controller()->IsFinished());
}

TEST_F(ImportTest, ACoefficientWriteShowsHowFarItHasComeAndAWordOnAnEarlierTableMovesNothing) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    const LampService service(*form);
    // The controller's reports, their table numbers noted on the way to the window.
    CLampState& controller = *form->Controller();
    std::vector<std::uint64_t> tables;
    controller.OnCoefficientsProgress = [&tables, forward = controller.OnCoefficientsProgress](
                                            std::uint64_t table, int done, int total) {
        tables.push_back(table);
        forward(table, done, total);
    };
    // Every progress the window and the bus show.
    std::vector<std::pair<int, int>> seen;
    std::vector<QList<int>> announced;
    form->OnProgress(form.get(), [&] {
        if (const auto p = form->WorkProgress()) seen.emplace_back(p->done, p->total);
        announced.push_back(service.Progress());
    });

    coefficientFile_ = WriteFile("first.txt", "1\t2\t3\n4\t5\t6\n");
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return Headline(*form) == "Coefficients OK"; }));
    ASSERT_FALSE(tables.empty());
    const std::uint64_t first = tables.back();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().first, seen.back().second);
    EXPECT_TRUE(service.Progress().isEmpty());

    // The second write is held at the area's second page, where a late word on the first
    // table comes in.
    seen.clear();
    announced.clear();
    std::string midway;
    std::optional<BusyState::Progress> before;
    std::optional<BusyState::Progress> after;
    StallAtFrame(*lamp, *form, SelectingPage(257), [&] {
        midway = Message(*form);
        before = form->WorkProgress();
        form->CoefficientsProgress(first, 1, 1);
        after = form->WorkProgress();
    });
    coefficientFile_ = WriteFile("second.txt", "11\t22\t33\n44\t55\t66\n");
    form->ShowPage(Page::Coefficient);
    Find<QAbstractButton>(*form, "Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return Headline(*form) == "Coefficients OK"; }));
    lamp->SetCommandHook(nullptr);
    EXPECT_NE(tables.back(), first);

    ASSERT_TRUE(before.has_value());
    const int total = before->total;
    EXPECT_EQ(before->done, 2);
    EXPECT_GT(total, 2);
    EXPECT_EQ(midway, "Please wait / Writing 19 rows to the lamp: 2 of " + std::to_string(total) +
                          " parts written.");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->done, before->done);
    EXPECT_EQ(after->total, before->total);
    // The window and the bus went up through the frames to the whole write, never back.
    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].second, total) << i;
        if (i > 0) {
            EXPECT_GE(seen[i].first, seen[i - 1].first) << i;
        }
    }
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::pair{2, total}), seen.end());
    EXPECT_EQ(seen.back(), std::pair(total, total));
    EXPECT_NE(std::find(announced.begin(), announced.end(), QList<int>{2, total}), announced.end());
    EXPECT_TRUE(announced.back().isEmpty());
    form->close();
}

// Six strips of a 160 x 140 picture at (2, 3 + 20 i), each with a few white pixels.
QImage SixItems() {
    QImage picture(160, 140, QImage::Format_RGB32);
    picture.fill(Qt::black);
    for (int i = 0; i < 6; ++i) {
        picture.setPixel(2 + i, 3 + 20 * i, qRgb(255, 255, 255));            // row 0, column i
        picture.setPixel(2 + 10 * i, 3 + 20 * i + 15, qRgb(255, 255, 255));  // row 15
        picture.setPixel(2 + 20, 3 + 20 * i + 1, qRgb(200, 200, 200));       // grey: dark
    }
    return picture;
}

TEST_F(ImportTest, DisplayTextsFillPagesFromFourHundredTwenty) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    const QImage picture = SixItems();
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(picture.save(languageFile_, "BMP"));
    Find<QAbstractButton>(*form, "Button1")->show();

    Find<QAbstractButton>(*form, "Button1")->click();
    EXPECT_TRUE(Find(*form, "Button1")->isHidden());
    EXPECT_TRUE(Find(*form, "ProgressBar1")->isHidden());
    EXPECT_EQ(form->CurrentPage(), Page::Main);

    Upload::StripLayout layout;
    layout.Items = 6;
    layout.X = 2;
    layout.Y = 3;
    layout.OffsetY = 20;
    const auto expected = Upload::PackBlocks(picture, layout);
    ASSERT_EQ(expected.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const SimLamp::Page page = lamp->ReadPage(420 + k);
        EXPECT_TRUE(std::equal(page.begin(), page.end(), expected[k].begin())) << k;
    }
    // Item 1 (second half of page 420): row 0 of column 1, row 15 of column 10.
    const SimLamp::Page first = lamp->ReadPage(420);
    EXPECT_EQ(first[256], 11);
    EXPECT_EQ(first[256 + 2 + 1], 0x80);
    EXPECT_EQ(first[256 + 129 + 10], 0x01);
    EXPECT_EQ(first[256 + 2 + 20], 0);
    EXPECT_EQ(lamp->ReadPage(423), SimLamp::Page{});
    // The controller goes on afterwards.
    EXPECT_TRUE(Select(*form, 4));
    form->close();
}

TEST_F(ImportTest, AnUploadChecksBeforeItPauses) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    QAbstractButton* button = Find<QAbstractButton>(*form, "Button1");
    button->show();
    lamp->ClearCommands();
    languageFile_ = WriteFile("texts.txt", "not a picture");
    button->click();
    EXPECT_EQ(Message(*form), "Display texts not uploaded / texts.txt is not a picture.");
    for (const SimLampCommand& c : lamp->Commands()) EXPECT_NE(c.Cmd, CLightInput::kCmdSelectPage);
    // A cancelled choice changes nothing, the button stays.
    form->ShowPage(Page::Main);
    button->show();
    languageFile_.clear();
    button->click();
    EXPECT_FALSE(button->isHidden());
    form->close();
}

TEST_F(ImportTest, WithoutALampTheUploadSaysSo) {
    auto form = OpenToMainPage();
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(SixItems().save(languageFile_, "BMP"));
    Find<QAbstractButton>(*form, "Button1")->click();
    EXPECT_EQ(Message(*form), "Display texts not uploaded / No lamp is connected.");
    EXPECT_FALSE(form->Controller()->IsPaused());
    form->close();
}

TEST_F(ImportTest, ALampThatStopsAnsweringMidUploadIsReportedAndTheControllerGoesOn) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(SixItems().save(languageFile_, "BMP"));
    // The lamp falls silent at the selection of the second text page, so one block got there.
    lamp->FallSilentAt(SelectingPage(421));
    Find<QAbstractButton>(*form, "Button1")->click();
    EXPECT_EQ(Message(*form), "Display texts not uploaded / 1 of 3 blocks reached the lamp.");
    EXPECT_TRUE(Find(*form, "ProgressBar1")->isHidden());
    EXPECT_FALSE(lamp->ReadPage(420) == SimLamp::Page{});
    lamp->SetNoReply(false);
    EXPECT_TRUE(Select(*form, 5));
    form->close();
}

TEST_F(ImportTest, AnUploadKeepsTheWindowServingTakesNoInputAndACloseWaitsForIt) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(SixItems().save(languageFile_, "BMP"));
    QAbstractButton* button = Find<QAbstractButton>(*form, "Button1");
    ASSERT_TRUE(Select(*form, 3));

    // The lamp holds the second block until the window has had its turn: the window's part
    // runs on the window's thread while the upload is under way, or, when the upload itself
    // blocks that thread, only after the lamp gave up waiting.
    bool sawUploading = false;
    bool keptInputOut = false;
    std::string closeShowed;
    bool closedAtOnce = true;
    QString barShowed;
    QList<int> busShowed;
    const LampService service(*form);
    StallAtFrame(*lamp, *form, SelectingPage(421), [&] {
        sawUploading = form->Uploading();
        // How far it has come, in the window and over the bus: the first block's two items.
        barShowed = Find<QProgressBar>(*form, "ProgressBar1")->text();
        busShowed = service.Progress();
        // Keys and clicks of the user are not taken: no coefficient page, no channel.
        QKeyEvent key(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
        QApplication::sendEvent(Find(*form, "Image1"), &key);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 100), QPointF(20, 100),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Find(*form, "Image2"), &press);
        keptInputOut =
            form->CurrentPage() == Page::Main && form->Controller()->PendingChannel() == -1;
        button->click();
        form->close();
        if (form->CurrentPage() == Page::Message) closeShowed = Message(*form);
        closedAtOnce = form->isHidden() || form->Controller()->IsFinished();
    });
    button->click();
    lamp->SetCommandHook(nullptr);
    EXPECT_TRUE(sawUploading);
    EXPECT_TRUE(keptInputOut);
    EXPECT_EQ(choices_, 1);
    EXPECT_EQ(barShowed, "2 of 6");
    EXPECT_EQ(busShowed, (QList<int>{2, 6}));
    // The close says how long the upload has left to run.
    EXPECT_TRUE(
        QString::fromStdString(closeShowed)
            .contains(QRegularExpression("^Please wait / Closing after the display text "
                                         "upload: 2 of 6 items done, about [0-9]+ s left\\.$")))
        << closeShowed;
    EXPECT_FALSE(closedAtOnce);
    // The upload finished before the close let the lamp go.
    ASSERT_TRUE(WaitFor([&] { return form->isHidden(); }));
    for (int k = 0; k < 3; ++k) EXPECT_NE(lamp->ReadPage(420 + k), SimLamp::Page{}) << k;
    EXPECT_TRUE(form->Controller()->IsFinished());
    EXPECT_TRUE(service.Progress().isEmpty());
}

TEST_F(ImportTest, AWindowGoneBeforeItsPostponedCloseLetsTheLampGoOnce) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(SixItems().save(languageFile_, "BMP"));
    // The close comes while the upload waits for the pause; the window goes before it follows.
    onChoose_ = [&] { QTimer::singleShot(0, form.get(), [&] { form->close(); }); };
    Find<QAbstractButton>(*form, "Button1")->click();
    CLampState* controller = form->Controller();
    form.reset();
    EXPECT_TRUE(controller->IsFinished());
    EXPECT_NE(lamp->ReadPage(422), SimLamp::Page{});
}

TEST_F(ImportTest, LoadMeasurementAppliesTheMeasuredLightAndNamesTheChannel) {
    auto lamp = AddLamp();
    store_.values = {{"x2", "0.3127"}, {"y2", "0,3290"}, {"yy2", "499.6"}};
    auto form = OpenToMainPage();
    QAbstractButton* button = Find<QAbstractButton>(*form, "Button5");
    EXPECT_TRUE(button->isVisible());
    ASSERT_TRUE(Select(*form, 3));
    Find<QCheckBox>(*form, "CheckBox3")->setChecked(true);
    form->State().ControlValues[7] = 300;

    button->click();
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(), "0.3127");
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit2")->text(), "0.3290");
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit4")->text(), "500");
    EXPECT_FALSE(Find<QCheckBox>(*form, "CheckBox3")->isChecked());
    const CChannel record = form->Controller()->CurrentRecord();
    EXPECT_EQ(record.Name, "Measured 3*");
    EXPECT_EQ(record.ColorValues[7], ChromaticityToFixed(0.3127f, 0));
    EXPECT_EQ(record.ColorValues[8], ChromaticityToFixed(0.3290f, 0));
    EXPECT_EQ(record.ColorValues[9], 500);
    EXPECT_EQ(record.ColorValues[14], SliderToLevel(1000, false));
    // The lamp gets the name in its block.
    ASSERT_TRUE(WaitFor([&] {
        const SimLamp::Page block = lamp->ReadPage(0);
        return std::string(block.begin() + 160 + 32, block.begin() + 160 + 48) ==
               "Measured 3      ";
    }));
    form->close();
}

TEST_F(ImportTest, AMeasurementIsRoundedToFourDecimalsFromItsOwnDigits) {
    // A 5 in the fifth decimal: the measured 0.31275 lies just below the half, 0.41375 just
    // above, and both go out as the four decimals shown.
    auto lamp = AddLamp();
    store_.values = {{"x2", "0.31275"}, {"y2", "0.41375"}, {"yy2", "500"}};
    auto form = OpenToMainPage();
    ASSERT_TRUE(Select(*form, 3));
    Find<QAbstractButton>(*form, "Button5")->click();
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(), "0.3127");
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit2")->text(), "0.4138");
    const CChannel record = form->Controller()->CurrentRecord();
    EXPECT_EQ(record.ColorValues[7], 20492);
    EXPECT_EQ(record.ColorValues[8], 27118);
    form->close();
}

TEST_F(ImportTest, AnUnusableMeasurementChangesNothingAndSaysWhichValue) {
    auto lamp = AddLamp();
    auto form = OpenToMainPage();
    ASSERT_TRUE(Select(*form, 3));
    const CChannel before = form->Controller()->CurrentRecord();
    const struct {
        std::map<std::string, std::string> values;
        const char* detail;
    } cases[] = {
        {{}, "The value x2 is missing."},
        {{{"x2", "0.3"}}, "The value y2 is missing."},
        {{{"x2", "abc"}, {"y2", "0.3"}}, "The value x2 is not a number."},
        {{{"x2", "0.3"}, {"y2", "1.5"}}, "The value y2 is outside 0..1."},
        {{{"x2", "1e999"}, {"y2", "0.3"}}, "The value x2 is not a number."},
    };
    for (const auto& c : cases) {
        store_.values = c.values;
        form->ShowPage(Page::Main);
        Find<QAbstractButton>(*form, "Button5")->click();
        EXPECT_EQ(Message(*form), std::string("Measurement not loaded / ") + c.detail);
        EXPECT_TRUE(form->Timer2->isActive());
        const CChannel after = form->Controller()->CurrentRecord();
        EXPECT_EQ(after.Name, before.Name);
        EXPECT_EQ(after.ColorValues, before.ColorValues);
        EXPECT_EQ(form->Controller()->PendingChannel(), -1);
    }
    // Without the group the button goes at the next update.
    store_.exists = false;
    form->ShowPage(Page::Main);
    EXPECT_FALSE(Find(*form, "Button5")->isVisible());
    form->close();
}

}  // namespace
