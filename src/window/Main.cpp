#include "window/Main.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "colour/Colorspro.h"
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"
#include "settings/Options.h"
#include "ui_Main.h"
#include "window/Explain.h"
#include "window/Gauges.h"
#include "window/Image.h"
#include "window/Imports.h"
#include "window/Measurement.h"
#include "window/Panel.h"
#include "window/Presets.h"
#include "window/Reports.h"
#include "window/Spectrometer.h"
#include "window/Version.h"

namespace {

// How long after a message gave way a click still counts as meant for the message: about the
// time a user needs to see that it went.
constexpr qint64 kMessageClickGuardMs = 500;

// The layout is drawn at 96 dots per inch: fonts get pixel sizes so nothing moves with the
// screen's resolution.
void PointSizesToPixels(QWidget* root) {
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        QFont f = w->font();
        if (f.pointSizeF() <= 0) continue;
        f.setPixelSize(static_cast<int>(std::lround(f.pointSizeF() * 96.0 / 72.0)));
        w->setFont(f);
    }
}

// One picture of the backlight button: a 16 x 16 check box, ticked or not.
QPixmap CheckBoxPicture(bool ticked) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(2, 2, 12, 12, Qt::white);
    p.setPen(QColor(64, 64, 64));
    p.drawRect(2, 2, 11, 11);
    if (ticked) {
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(5, 8, 7, 11);
        p.drawLine(7, 11, 11, 4);
    }
    return QPixmap::fromImage(image);
}

std::string Latin1(const QString& text) {
    return text.toLatin1().toStdString();
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

TForm1::TForm1(const FormSetup& setup, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::TForm1>()),
      // The hosts are private bases, reachable as such only from inside the window.
      reports_(std::make_unique<LampReports>(static_cast<LampReports::Host&>(*this), *ui)),
      imports_(std::make_unique<Imports>(static_cast<Imports::Host&>(*this), *ui, *this,
                                         setup.chooseLanguageFile, setup.chooseCoefficientFile)),
      setup_(setup),
      optionsStore_(setup.options),
      controller_(setup.controller),
      ownMeasurement_(setup.measurement ? nullptr : std::make_unique<SpectrometerStore>()),
      measurement_(setup.measurement ? setup.measurement : ownMeasurement_.get()) {
    // Beside the window, as its file dialogs are, so that a close from the desktop ends them.
    AskQuestion = [this](const QString& text) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text,
                        QMessageBox::Yes | QMessageBox::No, this);
        return RunBeside(box) == QMessageBox::Yes;
    };
    ShowError = [this](const QString& text) {
        const BusyState::Claim hold =
            busy_.Enter(BusyState::Kind::Beside, QStringLiteral("a message is open in the window"));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, this);
        RunBeside(box);
    };
    busy_.OnIdle = [this] { BusyEnded(); };
    busy_.OnProgress = [this] {
        // A close waiting for the work keeps saying how long is left.
        if (closeAsked_ && page_ == Page::Message) ShowMessagePage(ClosingMessage());
        emit WorkProgressed();
    };
    BuildLayout();
    match_ = std::make_unique<MatchRun>(static_cast<MatchRun::Host&>(*this), *ui, *ui->Panel1,
                                        setup.readings);
    Construct();
    FormCreate();
}

TForm1::~TForm1() {
    // A match still running gives up before the window it sends through goes.
    match_.reset();
    busy_.OnIdle = nullptr;
    busy_.OnProgress = nullptr;
    qApp->removeEventFilter(this);
    // A window torn down without a close event, or whose close could not wait for the
    // controller, still lets its lamps go in order; a close still pending, which the wait's
    // event handling may deliver, must not stop the controller a second time.
    closing_ = true;
    if (!controller_->IsFinished()) StopController();
    // The controller outlives the window; its reports must not reach a window that is gone.
    controller_->OnConnected = nullptr;
    controller_->OnStateChanged = nullptr;
    controller_->OnStatus = nullptr;
    controller_->OnCoefficientsWritten = nullptr;
    controller_->OnCoefficientsProgress = nullptr;
}

void TForm1::BuildLayout() {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(1004, 643);
    QPalette p = palette();
    p.setColor(QPalette::Window, kWindowGrey);
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    PointSizesToPixels(this);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // Labels whose width follows their text.
    for (QLabel* label : {ui->Label2, ui->Label7, ui->Label10}) label->adjustSize();

    ui->Memo1->viewport()->installEventFilter(this);

    modeGroup_ = new QButtonGroup(this);
    modeGroup_->setExclusive(true);
    modeGroup_->addButton(ui->SpeedButton2);
    modeGroup_->addButton(ui->SpeedButton3);
    modeGroup_->addButton(ui->SpeedButton4);
    ui->SpeedButton4->setChecked(true);

    // Over the top of the diagram, where the eye is; clicks go through to the diagram.
    noLampBanner_ = new QLabel(ui->Panel2);
    noLampBanner_->setObjectName(QStringLiteral("NoLampBanner"));
    // Over the plot's top, clear of the zoom and speed buttons at the diagram's right.
    noLampBanner_->move(ui->Image1->x() + 2, ui->Image1->y() + 2);
    noLampBanner_->setAlignment(Qt::AlignCenter);
    noLampBanner_->setWordWrap(true);
    noLampBanner_->setAttribute(Qt::WA_TransparentForMouseEvents);
    noLampBanner_->setAutoFillBackground(true);
    QPalette bannerColours = noLampBanner_->palette();
    bannerColours.setColor(QPalette::Window, QColor(255, 214, 0));
    bannerColours.setColor(QPalette::WindowText, Qt::black);
    noLampBanner_->setPalette(bannerColours);
    QFont bannerFont(QStringLiteral("Arial"));
    bannerFont.setPixelSize(14);
    bannerFont.setBold(true);
    noLampBanner_->setFont(bannerFont);
    noLampBanner_->hide();

    ImageList1 = {CheckBoxPicture(false), CheckBoxPicture(true)};
    ShowBacklight(true);

    Timer1 = new QTimer(this);
    Timer1->setInterval(500);
    Timer2 = new QTimer(this);
    Timer2->setInterval(3000);

    // The file dialogs are made when first needed: a dialog keeps its history in the user's
    // configuration folder, which nothing else of the program writes.

    ExplainControls(*ui);
    ConnectHandlers();
    // The window sees every key before the focused control.
    qApp->installEventFilter(this);
}

void TForm1::ConnectHandlers() {
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    auto click = [this](QAbstractButton* b, void (TForm1::*handler)()) {
        connect(b, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(ui->Button1, &TForm1::Button1Click);
    click(ui->Button2, &TForm1::Button2Click);
    click(ui->Button3, &TForm1::Button3Click);
    click(ui->Button4, &TForm1::Button4Click);
    click(ui->Button5, &TForm1::Button5Click);
    click(ui->Button9, &TForm1::Button9Click);
    click(ui->Button10, &TForm1::Button10Click);
    click(ui->Button12, &TForm1::Button12Click);
    click(ui->SpeedButton1, &TForm1::SpeedButton1Click);
    click(ui->SpeedButton2, &TForm1::SpeedButton2Click);
    click(ui->SpeedButton3, &TForm1::SpeedButton3Click);
    click(ui->SpeedButton4, &TForm1::SpeedButton4Click);
    click(ui->SpeedButton5, &TForm1::SpeedButton5Click);
    // A check box's handler runs whenever its state changes, by a press or by code, as several
    // handlers rely on; code that must not trigger them sets the handler-suppress flag.
    auto change = [this](QAbstractButton* b, void (TForm1::*handler)()) {
        connect(b, &QAbstractButton::toggled, this, [this, handler] { (this->*handler)(); });
    };
    change(ui->CheckBox1, &TForm1::CheckBox1Click);
    change(ui->CheckBox2, &TForm1::CheckBox2Click);
    change(ui->CheckBox3, &TForm1::CheckBox3Click);
    change(ui->CheckBox4, &TForm1::CheckBox4Click);
    change(ui->CheckBox5, &TForm1::CheckBox5Click);
    change(ui->CheckBox6, &TForm1::CheckBox6Click);
    // A refused text that the user edits is refused no longer; the next apply reads it again.
    for (QLineEdit* box : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4}) {
        connect(box, &QLineEdit::textEdited, this, [this, box] { NoteTyped(box, true); });
    }
    // Only a choice from the list recalls a preset; typing a name recalls nothing.
    connect(ui->ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Select);

    using Down = void (TForm1::*)(Qt::MouseButton, int, int);
    using Move = void (TForm1::*)(Qt::MouseButtons, int, int);
    auto mouse = [this](TImage* image, Down down, Move move, Down up) {
        connect(image, &TImage::MouseDown, this,
                [this, down](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
                    (this->*down)(b, x, y);
                });
        if (move != nullptr) {
            connect(image, &TImage::MouseMove, this,
                    [this, move](Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int y) {
                        (this->*move)(b, x, y);
                    });
        }
        if (up != nullptr) {
            connect(image, &TImage::MouseUp, this,
                    [this, up](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
                        (this->*up)(b, x, y);
                    });
        }
    };
    mouse(ui->Image1, &TForm1::Image1MouseDown, &TForm1::Image1MouseMove, &TForm1::Image1MouseUp);
    // The diagram's tooltip names the button or the plot under the pointer.
    ui->Image1->installEventFilter(this);
    // The diagram takes the focus by a click or Tab, for its arrow keys.
    ui->Image1->setFocusPolicy(Qt::StrongFocus);
    connect(ui->Image1, &TImage::KeyDown, this, &TForm1::Image1KeyDown);
    connect(ui->Image1, &TImage::Exit, this, &TForm1::Image1Exit);
    // A surface renewed for another screen's pixel ratio is blank until drawn again.
    connect(ui->Image1, &TImage::Replaced, this, [this] {
        const Chromaticity current = diagram_->CurrentPoint();
        RedrawDiagram(current.x, current.y);
    });
    connect(ui->Image2, &TImage::Replaced, this, &TForm1::RedrawChannelList);
    connect(ui->Image3, &TImage::Replaced, this, [this] { reports_->RedrawSleepTimer(); });
    connect(ui->Image4, &TImage::Replaced, this, [this] { reports_->RedrawGauge(); });
    connect(ui->Image5, &TImage::Replaced, this, &TForm1::RedrawSliders);
    connect(ui->Image7, &TImage::Replaced, this, &TForm1::RedrawSliders);
    connect(ui->Image8, &TImage::Replaced, this, &TForm1::RedrawIntensity);
    mouse(ui->Image2, &TForm1::Image2MouseDown, nullptr, nullptr);
    mouse(ui->Image3, &TForm1::Image3MouseDown, nullptr, nullptr);
    mouse(ui->Image5, &TForm1::Image5MouseDown, &TForm1::Image5MouseMove, &TForm1::Image5MouseUp);
    mouse(ui->Image7, &TForm1::Image7MouseDown, &TForm1::Image7MouseMove, &TForm1::Image7MouseUp);
    mouse(ui->Image8, &TForm1::Image8MouseDown, &TForm1::Image8MouseMove, &TForm1::Image8MouseUp);
}

void TForm1::Construct() {
    // The colour model, the intensity floor and the measurement store come with their parts.
    ReadOptions();
    programVersion_ = QString::fromLatin1(ProgramVersion());
    SetReports();
    ui->Memo1->setVisible(options_.test);
    presets_ = std::make_unique<CchannelValues>(LocalPath(setup_.dataFolder), *controller_);
    presetBox_ = std::make_unique<PresetBox>(*ui->ComboBox3, *controller_, *presets_);
    presetBox_->RedrawChannelList = [this] { RedrawChannelList(); };
    if (!options_.luxText.isEmpty()) ui->Label11->setText(options_.luxText);
    controller_->SetGamutTriangle(options_.gamut);
    state_.OffsetX = options_.offsetX;
    state_.OffsetY = options_.offsetY;
    state_.DirectModeAvailable = options_.sd;
    colors_.SetTemperature(kDefaultKelvin, 1, -1.0f);
    diagram_ = std::make_unique<Diagram>(options_.gamut, setup_.dataFolder + "/image.bmp");
    follow_ = optionsStore_->GetBool(Coptions::kFollowKey);
    BuildFollowSwitch();
    followAction_->setChecked(follow_);
}

void TForm1::ReadOptions() {
    const Coptions& o = *optionsStore_;
    options_.test = o.GetBool("TEST");
    options_.sd = o.GetBool("SD");
    options_.c1s = o.GetBool("C1S");
    options_.luxText = QString::fromLatin1(o.GetString("TEXT.LUX"));
    options_.offsetX = o.GetChromaticity("OFFSET_X");
    options_.offsetY = o.GetChromaticity("OFFSET_Y");
    const char* const corners[6] = {"R.X", "R.Y", "G.X", "G.Y", "B.X", "B.Y"};
    for (int i = 0; i < 6; ++i)
        options_.gamut[i] = static_cast<float>(o.GetChromaticity(corners[i]));
}

void TForm1::SetReports() {
    controller_->OnConnected = [this] { LampConnected(); };
    controller_->OnStateChanged = [this] { reports_->StateChanged(); };
    controller_->OnStatus = [this] { reports_->Status(); };
    controller_->OnCoefficientsWritten = [this](std::uint64_t table, std::int32_t r) {
        imports_->CoefficientsWritten(table, r);
    };
    controller_->OnCoefficientsProgress = [this](std::uint64_t table, int done, int total) {
        imports_->CoefficientsProgress(table, done, total);
    };
}

void TForm1::StartController(int runBaud) {
    controller_->Start(runBaud);
}

void TForm1::StopController() {
    controller_->StoreChannelNames();
    controller_->StopAndWait();
}

void TForm1::FormCreate() {
    ui->Label1->setText(QString());
    RedrawSliders();
    RedrawIntensity();
    ui->Label17->hide();
    page_ = Page::None;
    ShowMessagePage(QStringLiteral("Please wait"));
    StartController(setup_.runBaud);
    ui->SpeedButton2->setVisible(options_.sd);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (busy_.IsBusy() && !closing_) {
        // Long work runs to its end first, and an open dialog is answered as cancelled; the
        // close follows as soon as the window is no longer busy.
        closeAsked_ = true;
        Timer2->stop();
        // A match ends at once, leaving its best point, and the close follows.
        match_->Cancel();
        if (busy_.IsWorking()) {
            ShowMessagePage(ClosingMessage());
        } else if (QWidget* dialog = QApplication::activeModalWidget()) {
            dialog->close();
        } else {
            // A dialog beside the window counts as cancelled: a question as answered No.
            for (QDialog* beside : findChildren<QDialog*>()) {
                if (beside->isVisible()) beside->reject();
            }
        }
        event->ignore();
        return;
    }
    if (closing_ && !closed_) {
        // A second close while the lamps are being let go waits for the first.
        event->ignore();
        return;
    }
    if (!closed_) FormClose();
    event->accept();
}

void TForm1::FormClose() {
    closing_ = true;
    ShowMessagePage(QStringLiteral("Please wait"));
    StopController();
    Timer1->stop();
    Timer2->stop();
    closed_ = true;
}

PageMessage TForm1::ClosingMessage() const {
    const std::optional<BusyState::Progress> p = busy_.CurrentProgress();
    if (!p) return ClosingDuringWorkText({}, 0, 0, 0);
    return ClosingDuringWorkText(p->work, p->done, p->total, p->elapsedMs);
}

void TForm1::BusyEnded() {
    // After the handler that held the window has returned, not inside it.
    if (closeAsked_) QTimer::singleShot(0, this, [this] { close(); });
}

bool TForm1::BlockedInput(QObject* watched, const QEvent* event) const {
    if (!busy_.IsWorking() && !busy_.Holds(BusyState::Kind::Beside)) return false;
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            break;
        default:
            return false;
    }
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return widget != nullptr && widget->window() == this;
}

bool TForm1::ClickMeantForMessage(QObject* watched, const QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) return false;
    if (page_ == Page::Message) {
        // A message that gives way by itself gives way at a click too.
        if (type == QEvent::MouseButtonPress && Timer2->isActive()) Timer2Timer();
        return true;
    }
    return messageLeft_.isValid() && messageLeft_.elapsed() < kMessageClickGuardMs;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // During long work the window keeps painting and answering the desktop, but takes no input.
    if (BlockedInput(watched, event)) return true;
    if (ClickMeantForMessage(watched, event)) return true;
    if (watched == ui->Image1 && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), DiagramTip(help->pos().x(), help->pos().y()),
                           ui->Image1);
        return true;
    }
    if (watched == ui->Edit4 &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress)) {
        Edit4Click();
    }
    if (event->type() == QEvent::MouseButtonPress && watched == ui->Memo1->viewport()) {
        Memo1MouseDown();
    } else if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this) {
            auto* key = static_cast<QKeyEvent*>(event);
            const Shortcut s = ShortcutFor(key->key(), key->modifiers() & Qt::ControlModifier,
                                           key->modifiers() & Qt::AltModifier);
            if (s != Shortcut::None) {
                FormKeyDown(key->key(), key->modifiers());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    switch (ShortcutFor(key, modifiers & Qt::ControlModifier, modifiers & Qt::AltModifier)) {
        case Shortcut::Language:
            if (!imports_->Uploading()) ui->Button1->show();
            break;
        case Shortcut::Coefficients:
            ShowPage(Page::Coefficient);
            break;
        case Shortcut::None:
            break;
    }
}

QString TForm1::BusyReason() const {
    if (const QString reason = busy_.Reason(); !reason.isEmpty()) return reason;
    // Any other box open over the window: a change served now would land behind it.
    if (QApplication::activeModalWidget() != nullptr)
        return QStringLiteral("a dialog is open in the window");
    return {};
}

bool TForm1::HoldsLamp() const {
    return controller_->IsConnected() && reports_->HoldsLamp();
}

void TForm1::LampStateChanged() {
    reports_->StateChanged();
}

void TForm1::LampStatus() {
    reports_->Status();
}

void TForm1::Timer1Timer() {
    reports_->RedrawGauge();
    const Chromaticity current = diagram_->CurrentPoint();
    RedrawDiagram(current.x, current.y);
}

void TForm1::RedrawSliders() {
    DrawSliders(ui->Image5->Picture(), SliderImage::Coefficients, state_.ControlValues, {});
    ui->Image5->update();
    DrawSliders(ui->Image7->Picture(), SliderImage::Channels, state_.ControlValues, {});
    ui->Image7->update();
}

void TForm1::RedrawIntensity() {
    const IntensityScale scale{ui->CheckBox4->isChecked(), ui->CheckBox5->isChecked(),
                               state_.LuxValue};
    DrawSliders(ui->Image8->Picture(), SliderImage::Intensity, state_.ControlValues, scale);
    ui->Image8->update();
}

void TForm1::RedrawChannelList() {
    reports_->RedrawChannelList();
}

void TForm1::ShowBacklight(bool on) {
    ui->SpeedButton1->setIcon(ImageList1[on ? 0 : 1]);
}

bool TForm1::TakesReports() const {
    return !closing_ && page_ != Page::None;
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    messageLeft_.start();
    ShowPage(returnPage_);
}

void TForm1::ShowMessageAndReturn(const PageMessage& message) {
    // A close asked for meanwhile keeps "Please wait" on the page.
    if (closeAsked_ || closing_) return;
    ShowMessagePage(message);
    Timer2->start();
}

void TForm1::Button5Click() {
    imports_->LoadMeasurement();
}

void TForm1::Button9Click() {
    imports_->LoadCoefficients();
}

void TForm1::CoefficientsWritten(std::uint64_t table, std::int32_t result) {
    imports_->CoefficientsWritten(table, result);
}

void TForm1::CoefficientsProgress(std::uint64_t table, int done, int total) {
    imports_->CoefficientsProgress(table, done, total);
}

void TForm1::Button1Click() {
    imports_->UploadTexts();
}

bool TForm1::Uploading() const {
    return imports_->Uploading();
}

void TForm1::Button10Click() {
    ShowPage(Page::Main);
}

// Choosing an entry of the drop-down list (the box's OnSelect; typing in it is no choice).
void TForm1::ComboBox3Select(int index) {
    if (index <= 0) return;
    // A recall leaves slot 0 alone.
    presetBox_->Recall(Latin1(ui->ComboBox3->itemText(index)));
}

void TForm1::Button2Click() {
    const std::string name = TrimPresetName(Latin1(ui->ComboBox3->currentText()));
    if (!SavablePresetName(name)) return;
    // Without a lamp the current record was never read from one: it would store zeros.
    if (!controller_->IsConnected()) {
        if (ShowError)
            ShowError(QStringLiteral("No lamp is connected: there is no setting to save."));
        return;
    }
    if (!presetBox_->Contains(name)) {
        ReportPresetsSaved(presetBox_->Store(name, true));
        return;
    }
    // The current slot carries the name even when the replace is declined.
    presetBox_->NameCurrent(name);
    // The record the user named is the one stored, whatever a report changes while asking.
    const CChannel named = controller_->CurrentRecord();
    if (!Ask(QStringLiteral("Replace? %1").arg(QString::fromLatin1(name)))) return;
    ReportPresetsSaved(presetBox_->StoreRecord(named));
}

bool TForm1::Ask(const QString& text) {
    const BusyState::Claim hold =
        busy_.Enter(BusyState::Kind::Beside, QStringLiteral("a question is open in the window"));
    return AskQuestion(text);
}

void TForm1::Button12Click() {
    // The separator stands for no preset: deleting it would rename the current channel to it.
    const int index = ui->ComboBox3->currentIndex();
    if (index <= 0) return;
    const QString text = ui->ComboBox3->itemText(index);
    if (!Ask(QStringLiteral("Delete? %1").arg(text))) return;
    ReportPresetsSaved(presetBox_->Delete(Latin1(text)));
}

void TForm1::ReportPresetsSaved(const PresetBox::Result& result) {
    if (!result.failure.isEmpty()) ShowError(result.failure);
    if (!result.backupNotice.isEmpty()) ShowError(result.backupNotice);
}
