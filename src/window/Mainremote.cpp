// The main window as a remote control (the bus service) sees it: what it may read and do.
#include <QLineEdit>
#include <algorithm>

#include "colour/Colorspro.h"
#include "colour/Expvalue.h"
#include "link/Lamp.h"
#include "settings/Channelvalues.h"
#include "settings/Options.h"
#include "ui_Main.h"
#include "window/Main.h"
#include "window/Target.h"

bool TForm1::FirstChannelEditable() const {
    return optionsStore_->GetBool("C1S");
}

PointOffset TForm1::ShownOffset() const {
    return {state_.OffsetX, state_.OffsetY};
}

bool TForm1::ApplyRemote(const RemoteTarget& target) {
    // Every box the apply needs is checked before any control takes a value: a refused call
    // leaves the window as it was, so no later apply sends what was refused.
    auto typed = [](const QLineEdit* box) { return box->text().toLatin1().toStdString(); };
    bool readable = true;
    if (!target.lux) {
        const bool lux = TypedLux(typed(ui->Edit4)).has_value();
        NoteTyped(ui->Edit4, lux);
        readable = lux;
    }
    if (!target.point) {
        const bool x = TypedChromaticity(typed(ui->Edit1)).has_value();
        const bool y = TypedChromaticity(typed(ui->Edit2)).has_value();
        NoteTyped(ui->Edit1, x);
        NoteTyped(ui->Edit2, y);
        readable = readable && x && y;
    }
    if (!readable) return false;
    // The boxes and sliders take the values, as a user would set them, and one apply sends
    // them all.
    if (target.lux) ui->Edit4->setText(QString::number(*target.lux));
    // A percentage is light, not a slider position: the same level whichever scale "log" shows.
    if (target.intensity)
        state_.ControlValues[7] = SliderForPercent(*target.intensity, ui->CheckBox4->isChecked());
    if (target.speed) state_.SpeedIndex = *target.speed;
    if (target.point) {
        // A new colour point leaves direct mode, as the window's "Set" and "T2xy" do.
        UncheckDirectValuesQuietly();
        const auto clamp = [](float v) { return std::clamp(v, 0.01f, 0.7f); };
        float x = clamp(target.point->x);
        float y = clamp(target.point->y);
        const bool outside =
            ConstrainToGamut(x, y, controller_->GetGamutTriangle(), ModelWhite(colors_));
        MarkBox(ui->Edit1, outside);
        MarkBox(ui->Edit2, outside);
        return ApplyTarget(x, y, true, false);
    }
    return ApplyFromEdits(false);
}

void TForm1::ChooseChannel(int channel) {
    if (channel == 0) {
        controller_->SetLampOff(true);
        return;
    }
    if (controller_->IsLampOff()) controller_->SetLampOff(false);
    controller_->RequestChannel(channel);
}

void TForm1::ChoosePower(bool on) {
    controller_->SetLampOff(!on);
}

void TForm1::ChooseSleepTimer(int seconds) {
    controller_->SetTimeout(seconds);
}

void TForm1::ToggleBacklight() {
    controller_->ToggleBacklight();
}

std::vector<std::string> TForm1::PresetNames() const {
    return presets_->SortedNames();
}

bool TForm1::HasPreset(const std::string& name) const {
    return presetBox_->Contains(name);
}

PresetBox::Result TForm1::StorePreset(const std::string& name, bool replace) {
    return presetBox_->Store(name, replace);
}

PresetBox::Result TForm1::RecallPreset(const std::string& name) {
    return presetBox_->Recall(name);
}

PresetBox::Result TForm1::DeletePreset(const std::string& name) {
    return presetBox_->Delete(name);
}

void TForm1::TellUser(const QString& text) {
    if (ShowError) ShowError(text);
}

void TForm1::BringForward() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

QMetaObject::Connection TForm1::OnReportTakenIn(QObject* receiver, std::function<void()> fn) {
    return connect(this, &TForm1::LampReportTakenIn, receiver, std::move(fn));
}

QMetaObject::Connection TForm1::OnProgress(QObject* receiver, std::function<void()> fn) {
    return connect(this, &TForm1::WorkProgressed, receiver, std::move(fn));
}

QMetaObject::Connection TForm1::OnPresetsChanged(QObject* receiver, std::function<void()> fn) {
    return connect(presetBox_.get(), &PresetBox::Refreshed, receiver, std::move(fn));
}
