#include "window/Explain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "colour/Colorspro.h"
#include "ui_Main.h"
#include "window/Image.h"

namespace {

// The strip of buttons at the diagram's right edge, as the diagram draws it.
constexpr int kButtonsLeft = 450;
constexpr int kZoomBottom = 50;
constexpr int kSpeedTop = 45;
constexpr int kSpeedBottom = 295;
constexpr int kSpeedPitch = 50;

const char* const kSpeedTips[5] = {
    "Transition speed F: the lamp takes a new colour at once.",
    "Transition speed S: the lamp moves to a new colour at its standard pace.",
    "Transition speed 30: the lamp moves slowly to a new colour; the seconds left show on the "
    "right while it moves.",
    "Transition speed 60: slower still; the seconds left show on the right while it moves.",
    "Transition speed 120: the slowest; the seconds left show on the right while it moves.",
};

}  // namespace

QString DiagramTip(int x, int y) {
    if (x > kButtonsLeft && y < kZoomBottom)
        return QStringLiteral("Zoom: the diagram around white, or the whole diagram again.");
    if (x > kButtonsLeft && y > kSpeedTop && y < kSpeedBottom)
        return QString::fromLatin1(kSpeedTips[(y - kSpeedTop) / kSpeedPitch]);
    return QStringLiteral(
        "Colour point: press and drag to choose x and y; the lamp gets it when you let go. A point "
        "outside the lamp's triangle is pulled onto its edge (x and y turn red).\n"
        "Keys: arrows move the point (Shift: ten steps), Enter sends it, + and - step the "
        "intensity. Right-click for every command.");
}

void ExplainControls(Ui::TForm1& ui) {
    const QString kelvin =
        QStringLiteral("%1 to %2 K").arg(kLocusFirstKelvin).arg(kLocusLastKelvin);
    // The diagram's own tip follows the pointer (the window asks DiagramTip).
    ui.Image2->setToolTip(QStringLiteral(
        "Channels: click a row to switch the lamp to that stored light setting; \"Turned off\" "
        "turns the lamp off. A name with * has changes not stored under a preset."));
    ui.Image3->setToolTip(QStringLiteral(
        "Sleep timer: click the left half for +60 s, the right half for +10 s; right-click to take "
        "the same off (10 minutes at most). \"off\": no timer; the lamp turns off when it runs "
        "out."));
    ui.Image4->setToolTip(QStringLiteral("Sleep timer: the grey share is the time gone."));
    ui.Image8->setToolTip(QStringLiteral(
        "Intensity: drag or click the bar, or step with - and + at its ends; the lamp gets it when "
        "you let go. Shown in %, in EV (\"log\") or in lux (\"lux\")."));
    ui.Image5->setToolTip(QStringLiteral(
        "Pair coefficients (0 to 1000): BUV blue against UV, B1B2 the two blues, WR white against "
        "red. Moving one ticks \"coefficients\"."));
    ui.Image7->setToolTip(QStringLiteral(
        "Direct values (0 to 1000) of the six LED channels W, R, G, B1, B2 and UV, sent as they "
        "are. Moving one ticks \"direct values\"."));
    ui.Memo1->setToolTip(QStringLiteral(
        "Test list: the lamp's record, its gamut corners and its temperature. Click to bring it "
        "to the front."));

    ui.Edit1->setToolTip(QStringLiteral("Target chromaticity x (0.01 to 0.7); \"Set\" sends it."));
    ui.Edit2->setToolTip(QStringLiteral("Target chromaticity y (0.01 to 0.7); \"Set\" sends it."));
    ui.Edit4->setToolTip(QStringLiteral(
        "Target illuminance in lux (10 to 65535); red when the lamp did not reach it."));
    ui.Edit3->setToolTip(QStringLiteral("Colour temperature in kelvin (%1); \"T2xy\" sends it. Red "
                                        "at the ends of the range, where "
                                        "the lamp's target lies outside it.")
                             .arg(kelvin));
    ui.Button4->setToolTip(QStringLiteral("Set: sends x, y and lux as typed."));
    ui.Button3->setToolTip(
        QStringLiteral("T2xy: sends the colour of the temperature in T (%1) as x and y.")
            .arg(kelvin));
    ui.CheckBox3->setToolTip(QStringLiteral("max: the lamp gives all the light it can."));
    ui.CheckBox2->setToolTip(QStringLiteral("UV: the UV channel takes part in the light."));
    ui.CheckBox4->setToolTip(
        QStringLiteral("log: the intensity bar in exposure values (EV), finer at the low end."));
    ui.CheckBox5->setToolTip(QStringLiteral("lux: the intensity bar in lux instead of %."));
    ui.CheckBox1->setToolTip(
        QStringLiteral("coefficients: the lamp mixes with the pair coefficients below."));
    ui.CheckBox6->setToolTip(
        QStringLiteral("direct values: the lamp takes the six channel values below as they are."));
    ui.SpeedButton4->setToolTip(QStringLiteral("Auto: the lamp mixes the target by itself."));
    ui.SpeedButton3->setToolTip(
        QStringLiteral("Coeff.: mix with the pair coefficients, shown below the diagram."));
    ui.SpeedButton2->setToolTip(
        QStringLiteral("Direct: set the six channels yourself, shown below the diagram."));
    ui.SpeedButton5->setToolTip(QStringLiteral("Hide: hides the sliders of Coeff. or Direct."));
    ui.SpeedButton1->setToolTip(
        QStringLiteral("LCD backlight: the lamp's display light on or off."));
    ui.ComboBox3->setToolTip(QStringLiteral(
        "Settings: choose a stored preset to recall it, or type a name (15 characters at most) "
        "and press Save."));
    ui.Button2->setToolTip(QStringLiteral("Save: stores the current light under the typed name."));
    ui.Button12->setToolTip(QStringLiteral("Delete: removes the chosen preset."));
    ui.Button5->setToolTip(
        QStringLiteral("Load measurement: the spectrometer's last x, y and lux as the target."));
    ui.Button1->setToolTip(QStringLiteral(
        "Language: uploads the lamp display's texts cut from a picture (Ctrl+L shows this "
        "button)."));
    ui.ProgressBar1->setToolTip(QStringLiteral("Display text upload: items sent of all items."));
    ui.Edit6->setToolTip(QStringLiteral(
        "Count: how many rows of the file go into the lamp's coefficient table (1 to 50)."));
    ui.Button9->setToolTip(QStringLiteral(
        "Load: choose a coefficient file (rows of up to three whole numbers separated by tabs; "
        "lines starting with ; are comments) and write its first Count rows into the lamp."));
    ui.Button10->setToolTip(QStringLiteral("Cancel: back to the main page; nothing is written."));
}
