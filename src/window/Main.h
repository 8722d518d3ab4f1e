#pragma once
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "colour/Colorspro.h"
#include "window/Busy.h"
#include "window/Diagram.h"
#include "window/Imports.h"
#include "window/Matchrun.h"
#include "window/Messages.h"
#include "window/Pages.h"
#include "window/Presetbox.h"
#include "window/Remote.h"
#include "window/Reports.h"
#include "window/Sliders.h"
#include "window/Target.h"

class CLampState;
class CchannelValues;
class Coptions;
class MeasurementStore;
class QAction;
class QButtonGroup;
class QContextMenuEvent;
class QMenu;
class QLabel;
class QLineEdit;
namespace Ui {
class TForm1;
}

// What the program hands the window; all of it outlives the window.
struct FormSetup {
    QString dataFolder;  // values.xml, image.bmp
    // Read, never null; the window writes only the choices a user makes in it.
    Coptions* options = nullptr;
    // The lamp controller, never null; the window sets its reports, starts it and stops it.
    CLampState* controller = nullptr;
    // The spectrometer's measurement; null reads the spectrometer application's own settings.
    const MeasurementStore* measurement = nullptr;
    // The file choosers of the display text upload and the coefficient page: the chosen file,
    // or an empty text when cancelled. Unset ones show the file dialogs.
    std::function<QString()> chooseLanguageFile;
    std::function<QString()> chooseCoefficientFile;
    // The lamps are simulated ones (demo mode); the device line says so.
    bool simulated = false;
    // The baud rate the lamps are switched to once connected.
    int runBaud = 38400;
    // Options whose values were not understood, each with what is used instead; the device
    // line names them.
    QStringList optionNotes;
    // Where "Match" takes its readings (the simulated meter, a reading command); null reads
    // the spectrometer store of the measurement.
    ReadingSource* readings = nullptr;
};

// The main window: its pages, the controls of the main page, and the start and end of the
// lamp controller. Handlers only translate events into calls on the objects below the window.
// Remote controls (the bus service) reach it through its Remote operations alone, and the parts
// kept in files of their own through the Host each of them declares.
class TForm1 : public QWidget,
               public Remote,
               private LampReports::Host,
               private Imports::Host,
               private MatchRun::Host {
    Q_OBJECT
  public:
    explicit TForm1(const FormSetup& setup, QWidget* parent = nullptr);
    ~TForm1() override;

    Page CurrentPage() const { return page_; }
    // "Match" and its loop.
    MatchRun& Match() { return *match_; }
    const QString& ProgramVersionText() const { return programVersion_; }
    CLampState* Controller() const override { return controller_; }
    const Coptions* Options() const override { return optionsStore_; }
    CchannelValues* Presets() const { return presets_.get(); }
    // The settings box, which the window's preset buttons and the bus both go through.
    PresetBox& SettingsBox() const override { return *presetBox_; }

    void ShowPage(Page page);
    // A headline alone ("Please wait").
    void ShowMessagePage(const QString& text);
    void ShowMessagePage(const PageMessage& message) override;
    // Applies the visibility rule of the main page.
    void UpdateVisibility() override;

    // Writes target (x, y) and the window's controls into the current record in one edit, then
    // asks the controller to send it, and shows what was sent. False, with nothing sent and the
    // lux box marked, when the lux box holds no number; a correction then keeps the lamp's lux.
    bool ApplyTarget(float x, float y, bool markName, bool correction) override;
    // ApplyTarget with the x and y typed into their boxes, marking the name as changed. False,
    // with nothing sent, when a box holds no number; that box is marked.
    bool ApplyFromEdits(bool correction) override;
    // Unchecks "direct values" without running its handler, then applies the boxes once, so even
    // the first record sent for the new target carries no direct mode. False when nothing was
    // sent.
    bool ApplyFromEditsWithoutDirect();
    // The window's state behind the target, shared by its views.
    WindowState& State() override { return state_; }
    QString DataFolder() const override { return setup_.dataFolder; }

    // Draws the chromaticity diagram for (x, y) with the lamp's triangle and transition, and
    // shows the transition's labels.
    void RedrawDiagram(float x, float y) override;

    // The controller's three reports, run on the window's thread.
    void LampConnected();
    void LampStateChanged();
    void LampStatus();
    // The controller's word on a coefficient table handed to it.
    void CoefficientsWritten(std::uint64_t table, std::int32_t result);
    // How far the controller's write of that table has come.
    void CoefficientsProgress(std::uint64_t table, int done, int total);
    // A display text upload is running (the window waits for the pause or writes blocks).
    bool Uploading() const;
    // Long work, a question or a file dialog: what the window is busy with, which the bus
    // service tells a caller it refuses; empty when the window can take a change.
    QString BusyReason() const override;
    bool HoldsLamp() const override;

    // What a remote control may read and do.
    const CLampState& Lamp() const override { return *controller_; }
    bool FirstChannelEditable() const override;
    PointOffset ShownOffset() const override;
    bool ApplyRemote(const RemoteTarget& target) override;
    void ChooseChannel(int channel) override;
    void ChoosePower(bool on) override;
    void ChooseSleepTimer(int seconds) override;
    void ToggleBacklight() override;
    std::vector<std::string> PresetNames() const override;
    bool HasPreset(const std::string& name) const override;
    PresetBox::Result StorePreset(const std::string& name, bool replace) override;
    PresetBox::Result RecallPreset(const std::string& name) override;
    PresetBox::Result DeletePreset(const std::string& name) override;
    void TellUser(const QString& text) override;
    void BringForward() override;
    std::optional<BusyState::Progress> WorkProgress() const override {
        return busy_.CurrentProgress();
    }
    QMetaObject::Connection OnProgress(QObject* receiver, std::function<void()> fn) override;
    bool FollowWhileDragging() const override;
    void SetFollowWhileDragging(bool on) override;
    QMetaObject::Connection OnFollowChanged(QObject* receiver, std::function<void()> fn) override;
    bool StartMatch(const LightReading& target, double tolerance,
                    std::function<void(const MatchStep&)> step,
                    std::function<void(const MatchResult&)> done, QString* why) override {
        return match_->Start(target, tolerance, std::move(step), std::move(done), why);
    }
    std::chrono::milliseconds MatchTimeLimit() const override { return match_->LongestRun(); }
    QMetaObject::Connection OnReportTakenIn(QObject* receiver, std::function<void()> fn) override;
    QMetaObject::Connection OnPresetsChanged(QObject* receiver, std::function<void()> fn) override;

    // The preset questions ("Replace? %s", "Delete? %s"): true when answered Yes. A message box
    // unless replaced (tests answer without a dialog).
    std::function<bool(const QString& text)> AskQuestion;
    // A failure the user must hear of: a message box unless replaced.
    std::function<void(const QString& text)> ShowError;

  Q_SIGNALS:
    // After each of the controller's reports, once the window has taken it in or held it while a
    // dialog is open, and again once a held report is taken in.
    void LampReportTakenIn();
    // The long work's progress changed or went.
    void WorkProgressed();
    // The choice to follow a drag was switched, in the window or from outside.
    void FollowChanged();

  public:
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    // Pictures of SpeedButton1: 0 an empty check box, 1 a ticked one.
    std::array<QPixmap, 2> ImageList1;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A right-click (or the menu key) on the main page opens the command menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // The target the window starts from when no lamp tells it one: the colour model's white.
    static constexpr int kDefaultKelvin = 5000;

    // The menu of every command of the window with its key; it deletes itself once closed.
    QMenu* CommandMenu();
    // A surface on which every mouse button acts on its own (channel list, sleep timer,
    // sliders), so a right-click there is no request for the menu.
    bool OwnsPointer(const QWidget* widget) const;
    // A click that dismisses a message, or lands just after one gave way: it is meant for the
    // message, not for what now lies under the pointer.
    bool ClickMeantForMessage(QObject* watched, const QEvent* event);

    // Start-up, in order.
    void Construct();
    void FormCreate();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Timer1Timer();
    void Timer2Timer();

    // The lamp controller's whole life, in three places.
    void SetReports();
    void StartController(int runBaud);
    void StopController();

    void BuildLayout();
    void ConnectHandlers();
    bool MeasurementAvailable() const;
    bool FirstChannelProtected() const override;
    void ShowVersionLine() override;
    // The banner over the diagram while no lamp is connected: why, and whether the last
    // change went nowhere.
    void ShowNoLampBanner();
    // Without a lamp at the connect, a blank current record gets the window's default target
    // (5000 K), kept in the window until a lamp takes it.
    void DefaultTargetWithoutLamp();

    // Handlers the later parts of the window fill in.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button9Click();
    void Button10Click();
    void Button12Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void ComboBox3Select(int index);
    void Edit4Click();
    void Image1MouseDown(Qt::MouseButton button, int x, int y);
    void Image1MouseMove(Qt::MouseButtons buttons, int x, int y);
    void Image1MouseUp(Qt::MouseButton button, int x, int y);
    void Image1KeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Image1Exit();
    void Image2MouseDown(Qt::MouseButton button, int x, int y);
    void Image3MouseDown(Qt::MouseButton button, int x, int y);
    void Image5MouseDown(Qt::MouseButton, int x, int y) {
        SliderDown(SliderImage::Coefficients, x, y);
    }
    void Image5MouseMove(Qt::MouseButtons, int x, int) { SliderMove(x); }
    void Image5MouseUp(Qt::MouseButton, int, int) { SliderUp(); }
    void Image7MouseDown(Qt::MouseButton, int x, int y) { SliderDown(SliderImage::Channels, x, y); }
    void Image7MouseMove(Qt::MouseButtons, int x, int) { SliderMove(x); }
    void Image7MouseUp(Qt::MouseButton, int, int) { SliderUp(); }
    void Image8MouseDown(Qt::MouseButton, int x, int y) {
        SliderDown(SliderImage::Intensity, x, y);
    }
    void Image8MouseMove(Qt::MouseButtons, int x, int) { SliderMove(x); }
    void Image8MouseUp(Qt::MouseButton, int, int) { SliderUp(); }
    void Memo1MouseDown();

    // Tells the user when a store or delete could not write values.xml, and where a partly
    // read values.xml was kept.
    void ReportPresetsSaved(const PresetBox::Result& result);

    // The three slider images share their pointer rules.
    void SliderDown(SliderImage which, int x, int y);
    void SliderMove(int x);
    void SliderUp();

    // The drawn views of the lamp's state and the controls, each from the state as it stands.
    void RedrawSliders() override;
    void RedrawIntensity() override;
    void RedrawChannelList();
    void ShowBacklight(bool on) override;

    // The rest of what the parts in files of their own need of the window.
    bool TakesReports() const override;
    const Ccolors& ColourModel() const override { return colors_; }
    const Diagram& TargetDiagram() const override { return *diagram_; }
    void ReportTakenIn() override { emit LampReportTakenIn(); }
    void ShowConnected() override;
    const MeasurementStore& Measurement() const override { return *measurement_; }
    BusyState& Busy() override { return busy_; }

    // The target's check boxes and the lux box as they stand.
    TargetBoxes ReadTargetBoxes() const;
    void UncheckDirectValuesQuietly();
    // Marks a box whose text is no number red, and takes back that mark once it reads again.
    void NoteTyped(QLineEdit* box, bool readable);
    // The x, y and lux boxes all hold numbers (those that do not are marked).
    bool TargetBoxesReadable();
    // The diagram's point under the pointer, into the diagram and the x and y boxes.
    void PickDiagramPoint(int x, int y);

    // The switch for following a drag: a check item in the diagram's context menu, with a key.
    void BuildFollowSwitch();
    // A drag on the diagram or a slider is under way; the refresh leaves the target alone.
    bool Dragging() const override;
    bool DialogBeside() const override { return busy_.Holds(BusyState::Kind::Beside); }
    // While the lamp follows drags: the point under the hand goes to the lamp as the release
    // would send it (without direct values for the diagram), but as no edit of the setting.
    void FollowDrag(bool withoutDirect);

    std::unique_ptr<Ui::TForm1> ui;
    // Before the parts below, which may hold it until they go.
    BusyState busy_;
    // Parts of the form kept in files of their own; they work on its widgets, and on the rest
    // through their Host.
    std::unique_ptr<LampReports> reports_;  // the controller's state and status reports
    std::unique_ptr<Imports> imports_;      // coefficient table, display texts, measurement
    std::unique_ptr<MatchRun> match_;       // the closed loop with the spectrometer
    FormSetup setup_;
    QButtonGroup* modeGroup_ = nullptr;
    // Shows the message page with text and returns to the main page after 3 s.
    void ShowMessageAndReturn(const PageMessage& message) override;
    // Asks one of the preset questions, the window counting as busy while it is open.
    bool Ask(const QString& text);
    // The busy state ended: a close asked for meanwhile goes ahead.
    void BusyEnded();
    // What "Please wait" says while a close waits for long work.
    PageMessage ClosingMessage() const;
    // A user's key, click or wheel, which the window does not take during long work or while
    // a file dialog is open beside it.
    bool BlockedInput(QObject* watched, const QEvent* event) const;

    // A close asked for while the window was busy; it follows when the busy state ends.
    bool closeAsked_ = false;
    bool closing_ = false;
    bool closed_ = false;
    Page page_ = Page::None;
    // The page a message gives way to: the one the user was on when it came.
    Page returnPage_ = Page::Main;
    // Since the message page last gave way; clicks this soon after still belong to it.
    QElapsedTimer messageLeft_;
    QString programVersion_;

    // Options read at start-up; missing keys keep these values.
    struct FormOptions {
        bool test = false;
        bool sd = false;
        bool c1s = false;
        QString luxText;
        double offsetX = 0;
        double offsetY = 0;
        std::array<float, 6> gamut{};
    };
    // Takes the window's options from the options store.
    void ReadOptions();
    Coptions* optionsStore_;
    FormOptions options_;
    WindowState state_;
    // The window's colour model: its white is where out-of-gamut targets are pulled towards.
    Ccolors colors_;
    std::unique_ptr<Diagram> diagram_;
    int activeSlider_ = -1;  // the slider entry a drag moves, -1 for none
    bool follow_ = false;    // the lamp follows drags
    QAction* followAction_ = nullptr;
    // Boxes marked red because their text is no number.
    std::vector<QLineEdit*> unreadable_;
    QLabel* noLampBanner_ = nullptr;
    // A change made since the lamp went, which no lamp took.
    bool changeNotSent_ = false;

    CLampState* controller_;
    std::unique_ptr<CchannelValues> presets_;
    std::unique_ptr<PresetBox> presetBox_;
    std::unique_ptr<MeasurementStore> ownMeasurement_;
    const MeasurementStore* measurement_;
};
