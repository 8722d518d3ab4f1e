#include "window/Reports.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "link/Lamp.h"
#include "settings/Channel.h"
#include "ui_Main.h"
#include "window/Diagram.h"
#include "window/Gauges.h"
#include "window/Image.h"
#include "window/Presetbox.h"
#include "window/Target.h"

LampReports::LampReports(Host& host, Ui::TForm1& ui) : host_(host), ui_(ui) {
    afterDialog_.setSingleShot(true);
    afterDialog_.setInterval(50);
    QObject::connect(&afterDialog_, &QTimer::timeout, [this] {
        if (DialogOpen()) {
            RunAfterDialog();
            return;
        }
        const bool connected = std::exchange(connectedHeld_, false);
        const bool state = std::exchange(stateHeld_, false);
        const bool status = std::exchange(statusHeld_, false);
        // In the order the controller reports them.
        if (connected) Connected();
        // A state report redraws everything a status report does.
        if (state) {
            StateChanged();
        } else if (status) {
            Status();
        }
    });
}

bool LampReports::DialogOpen() const {
    return QApplication::activeModalWidget() != nullptr || host_.DialogBeside();
}

bool LampReports::HeldByDialog(bool& held) {
    if (!DialogOpen()) return false;
    held = true;
    RunAfterDialog();
    // Only the window's views wait for the dialog: callers waiting on what the controller did
    // are answered now.
    host_.ReportTakenIn();
    return true;
}

void LampReports::RunAfterDialog() {
    if (!afterDialog_.isActive()) afterDialog_.start();
}

void LampReports::Connected() {
    if (!host_.TakesReports()) return;
    if (HeldByDialog(connectedHeld_)) return;
    host_.ShowConnected();
    host_.ReportTakenIn();
}

void LampReports::StateChanged() {
    if (!host_.TakesReports()) return;
    // A lamp gone is no longer held, even while a dialog keeps the report from the views.
    if (!host_.Controller()->IsConnected()) holdsLamp_ = false;
    if (HeldByDialog(stateHeld_)) return;
    const CLampState& controller = *host_.Controller();
    // Read before the record: the controller counts as connected only once it has read the
    // lamp's records, so a record read after this belongs to the lamp.
    const bool connected = controller.IsConnected();
    WindowState& state = host_.State();
    host_.UpdateVisibility();
    host_.ShowVersionLine();
    RedrawChannelList();
    RedrawSleepTimer();
    RedrawGauge();
    host_.ShowBacklight(controller.GetBacklightFlag());

    if (host_.Dragging()) {
        // The boxes, sliders and point follow the hand; what the lamp reports of the target
        // meanwhile would pull them back. The release's report shows it.
        heldByDrag_ = true;
        WriteStatusMemo();
        host_.ReportTakenIn();
        return;
    }
    heldByDrag_ = false;

    const CChannel record = controller.CurrentRecord();
    host_.SettingsBox().FollowSlot(record);

    const RecordTarget reported = DecodeRecord(record, state.OffsetX, state.OffsetY);
    state.LuxValue = std::clamp(reported.Lux, 0, 65535);
    float x = reported.X;
    float y = reported.Y;
    bool moved = false;
    if (ConstrainsRecordPoint(reported)) {
        moved =
            ConstrainToGamut(x, y, controller.GetGamutTriangle(), ModelWhite(host_.ColourModel()));
    }

    // A point the user is picking on the diagram stays in the boxes and on the diagram until
    // its release sends it; a report arriving meanwhile must not move it back.
    const bool picking = host_.TargetDiagram().Picking();
    if (!picking) {
        MarkBox(ui_.Edit1, moved && state.PendingConfirmation);
        MarkBox(ui_.Edit2, moved && state.PendingConfirmation);
        ui_.Edit1->setText(QString::asprintf("%2.4f", static_cast<double>(x)));
        ui_.Edit2->setText(QString::asprintf("%2.4f", static_cast<double>(y)));
    }
    ui_.Edit3->setText(QString::number(reported.Temperature));
    MarkBox(ui_.Edit3, TemperatureOutOfRange(reported.Temperature));

    MarkBox(ui_.Edit4, LuxBoxRed(ui_.Edit4->text().toLatin1().toStdString(), state.LuxValue,
                                 state.PendingConfirmation, state.MaxFlag));
    state.PendingConfirmation = false;
    if (const std::optional<std::string> lux = LuxBoxText(state.LuxValue)) {
        ui_.Edit4->setText(QString::fromLatin1(*lux));
    }

    TakeSliders(reported, state.ControlValues);
    {
        const SuppressedHandlers quiet(state);
        ui_.CheckBox1->setChecked(reported.Coefficients);
        if (!state.CorrectionFlag && state.DirectModeAvailable) {
            ui_.CheckBox6->setChecked(reported.Direct);
        }
        if (!host_.FirstChannelProtected() && ui_.CheckBox1->isChecked() &&
            ui_.SpeedButton4->isChecked()) {
            const bool hide = ui_.SpeedButton5->isChecked();
            if (ui_.CheckBox6->isChecked() && state.DirectModeAvailable) {
                ui_.Panel3->hide();
                ui_.Panel9->setVisible(!hide);
                ui_.SpeedButton2->setChecked(true);
            } else if (!ui_.CheckBox6->isChecked()) {
                ui_.Panel3->setVisible(!hide);
                ui_.Panel9->hide();
                ui_.SpeedButton3->setChecked(true);
            }
        }
        ui_.CheckBox2->setChecked(reported.Uv);
        ui_.CheckBox3->setChecked(reported.Max);
        ui_.CheckBox4->setChecked(reported.Log);
        ui_.CheckBox5->setChecked(reported.LuxScale);
        state.SpeedIndex = reported.SpeedIndex;
    }

    WriteStatusMemo();
    // The drawn point stays where it is while the user picks, and when the lamp reports just
    // what it was sent: the report is truncated to the lamp's fixed point and would move the
    // point (and the next key step) by a pixel.
    const Chromaticity current = host_.TargetDiagram().CurrentPoint();
    const bool sameAsDrawn =
        !moved && ChromaticityToFixed(current.x, state.OffsetX) == record.ColorValues[7] &&
        ChromaticityToFixed(current.y, state.OffsetY) == record.ColorValues[8];
    if (picking || sameAsDrawn) {
        host_.RedrawDiagram(current.x, current.y);
    } else {
        host_.RedrawDiagram(x, y);
    }
    host_.RedrawSliders();
    host_.RedrawIntensity();

    if (!moved) {
        correction_.Forget();
    } else if (!picking &&
               correction_.ShouldResend(record, moved, x, y, state.OffsetX, state.OffsetY)) {
        // The lamp gets the reachable target instead of the one it reported.
        host_.ApplyTarget(x, y, false, true);
    }
    holdsLamp_ = connected;
    host_.ReportTakenIn();
}

void LampReports::DragEnded(bool sent) {
    if (!std::exchange(heldByDrag_, false) || sent) return;
    StateChanged();
}

void LampReports::Status() {
    if (!host_.TakesReports()) return;
    if (HeldByDialog(statusHeld_)) return;
    RedrawChannelList();
    RedrawSleepTimer();
    RedrawGauge();
    WriteStatusMemo();
    host_.ReportTakenIn();
}

// Most reports and timer ticks change nothing a view shows: each is drawn again only when what
// it shows has changed, or when its picture is no longer the one drawn (a resize replaces it),
// which keeps an idle window cheap.

void LampReports::RedrawChannelList() {
    const CLampState& controller = *host_.Controller();
    ChannelListView view;
    auto& [names, lampOff, slot, firstChannelEditable] = view;
    for (int i = 0; i <= 10; ++i) names[static_cast<std::size_t>(i)] = controller.Channel(i).Name;
    lampOff = controller.IsLampOff();
    slot = controller.CurrentSlot();
    firstChannelEditable = host_.FirstChannelEditable();
    QImage& picture = ui_.Image2->Picture();
    if (channelListDrawn_.Shows(view, picture)) return;
    DrawChannelList(picture, {names, lampOff, slot, firstChannelEditable});
    channelListDrawn_.Note(view, picture);
    ui_.Image2->update();
}

void LampReports::RedrawSleepTimer() {
    const int timeout = host_.Controller()->GetTimeout();
    QImage& picture = ui_.Image3->Picture();
    if (sleepTimerDrawn_.Shows(timeout, picture)) return;
    DrawSleepTimer(picture, timeout);
    sleepTimerDrawn_.Note(timeout, picture);
    ui_.Image3->update();
}

void LampReports::RedrawGauge() {
    const CLampState& controller = *host_.Controller();
    const int timeout = controller.GetTimeout();
    const int remaining = controller.RemainingSeconds();
    // Gauges drawn alike compare alike: without a running timer only the ring shows, however
    // the seconds pass, and a timer run out is the whole disc.
    const GaugeView view = timeout <= 0 || controller.IsLampOff() || remaining >= timeout
                               ? GaugeView{0, 0}
                               : GaugeView{timeout, std::max(remaining, 0)};
    QImage& picture = ui_.Image4->Picture();
    if (gaugeDrawn_.Shows(view, picture)) return;
    DrawSleepGauge(picture, view.first, view.second, false);
    gaugeDrawn_.Note(view, picture);
    ui_.Image4->update();
}

void LampReports::WriteStatusMemo() {
    const CLampState& controller = *host_.Controller();
    const std::vector<std::string> lines =
        MemoLines(controller.CurrentRecord().ColorValues, controller.GetGamutTriangle(),
                  controller.GetTemperatures());
    QStringList text;
    for (const std::string& line : lines) text << QString::fromLatin1(line);
    const QString memo = text.join(QLatin1Char('\n'));
    // Setting the same text again would lay the memo out anew for nothing.
    if (memo != ui_.Memo1->toPlainText()) ui_.Memo1->setPlainText(memo);
}
