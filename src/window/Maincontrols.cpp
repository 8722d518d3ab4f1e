// The main page's controls: the sliders, the check boxes, the mode and speed buttons and the
// sleep-timer display.
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "ui_Main.h"
#include "window/Gaugerules.h"
#include "window/Main.h"
#include "window/Sliderrules.h"

void TForm1::Image2MouseDown(Qt::MouseButton /*button*/, int /*x*/, int y) {
    // The channel list comes back in front of the test memo.
    ui->Panel6->raise();
    const ChannelListPress press = PressChannelList(y);
    if (press.turnOff) {
        controller_->SetLampOff(true);
        return;
    }
    if (controller_->IsLampOff()) controller_->SetLampOff(false);
    controller_->RequestChannel(press.channel);
}

void TForm1::Memo1MouseDown() {
    ui->Memo1->raise();
}

void TForm1::SliderDown(SliderImage which, int x, int y) {
    SliderValues next = state_.ControlValues;
    const SliderPress press = PressSlider(which, x, y, state_.DirectModeAvailable, next);
    if (press.ignored) return;
    // The boxes first, as a press on them would: their handlers apply the target as it stands.
    if (press.checkDirect) ui->CheckBox6->setChecked(true);
    if (press.checkCoefficients) ui->CheckBox1->setChecked(true);
    const auto entry = static_cast<std::size_t>(press.entry);
    state_.ControlValues[entry] = next[entry];
    if (press.checkUv) ui->CheckBox2->setChecked(true);
    activeSlider_ = press.active;
    RedrawSliders();
    RedrawIntensity();
    if (activeSlider_ >= 0) FollowDrag(false);
}

void TForm1::SliderMove(int x) {
    if (activeSlider_ < 0) return;
    // The release sends the setting; until then the lamp takes only the points it follows.
    MoveSlider(activeSlider_, x, state_.ControlValues);
    RedrawSliders();
    RedrawIntensity();
    FollowDrag(false);
}

void TForm1::SliderUp() {
    const bool dragged = activeSlider_ >= 0;
    activeSlider_ = -1;
    RedrawSliders();
    RedrawIntensity();
    const bool sent = ApplyFromEdits(false);
    if (dragged) reports_->DragEnded(sent);
}

void TForm1::CheckBox1Click() {
    if (state_.SuppressHandlers) return;
    // Direct values go only with the coefficients.
    if (!ui->CheckBox1->isChecked()) ui->CheckBox6->setChecked(false);
    ApplyFromEdits(false);
}

void TForm1::CheckBox2Click() {
    if (state_.SuppressHandlers) return;
    ApplyFromEdits(false);
}

void TForm1::CheckBox3Click() {
    if (state_.SuppressHandlers) return;
    ApplyFromEdits(false);
}

void TForm1::SpeedButton4Click() {
    // Both boxes off before one apply, so no record in between carries half the change.
    {
        const SuppressedHandlers quiet(state_);
        ui->CheckBox1->setChecked(false);
        ui->CheckBox6->setChecked(false);
    }
    ui->Panel3->hide();
    ui->Panel9->hide();
    ApplyFromEdits(false);
}

void TForm1::SpeedButton3Click() {
    ui->Panel3->show();
    ui->Panel9->hide();
    ui->SpeedButton5->setChecked(false);
    ApplyFromEdits(false);
}

void TForm1::SpeedButton2Click() {
    if (!options_.sd) return;
    ui->Panel3->hide();
    ui->Panel9->show();
    ui->SpeedButton5->setChecked(false);
    ApplyFromEdits(false);
}

void TForm1::SpeedButton5Click() {
    if (ui->SpeedButton5->isChecked()) {
        ui->Panel3->hide();
        ui->Panel9->hide();
    } else {
        ui->Panel3->setVisible(ui->SpeedButton3->isChecked());
        ui->Panel9->setVisible(ui->SpeedButton2->isChecked() && options_.sd);
    }
}

void TForm1::SpeedButton1Click() {
    controller_->ToggleBacklight();
}

void TForm1::Image3MouseDown(Qt::MouseButton button, int x, int /*y*/) {
    controller_->SetTimeout(controller_->GetTimeout() +
                            SleepTimerStep(x, button == Qt::RightButton));
    reports_->RedrawSleepTimer();
}
