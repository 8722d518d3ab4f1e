// The window's pages, the device line under the channel list, the no-lamp banner and which
// controls the main page shows.
#include <QLabel>
#include <algorithm>

#include "colour/Colorspro.h"
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "ui_Main.h"
#include "window/Main.h"
#include "window/Measurement.h"
#include "window/Presets.h"
#include "window/Version.h"

void TForm1::ShowPage(Page page) {
    if (page == Page::Message && page_ != Page::Message)
        returnPage_ = page_ == Page::Coefficient ? Page::Coefficient : Page::Main;
    if (page != page_) {
        ui->Panel1->hide();
        ui->Panel4->hide();
        ui->Panel8->hide();
    }
    TPanel* panel = nullptr;
    switch (page) {
        case Page::Main:
            panel = ui->Panel1;
            Timer1->start();
            ShowVersionLine();
            UpdateVisibility();
            ui->SpeedButton5->setChecked(true);
            ui->Panel3->hide();
            ui->Panel9->hide();
            presetBox_->RefreshPresetList(QString());
            break;
        case Page::Message:
            panel = ui->Panel4;
            break;
        case Page::Coefficient:
            panel = ui->Panel8;
            break;
        case Page::None:
            break;
    }
    if (panel != nullptr) {
        panel->setGeometry(4, 4, 997, 635);
        panel->show();
        panel->raise();
        panel->repaint();
    }
    page_ = page;
}

void TForm1::ShowMessagePage(const QString& text) {
    ShowMessagePage(PageMessage{text, {}});
}

void TForm1::ShowMessagePage(const PageMessage& message) {
    ui->Label5->setText(message.headline);
    ui->Label27->setText(message.detail);
    ShowPage(Page::Message);
}

bool TForm1::FirstChannelProtected() const {
    return ::FirstChannelProtected(controller_->CurrentSlot(), options_.c1s);
}

void TForm1::ShowVersionLine() {
    DeviceLineState device;
    device.device = controller_->DeviceName();
    device.connected = controller_->IsConnected();
    device.reason = controller_->WhyNoLamp();
    device.simulated = setup_.simulated;
    for (const QString& note : setup_.optionNotes) device.notes.push_back(note.toStdString());
    const std::string line = VersionLine(programVersion_.toLatin1().toStdString(), device);
    QLabel* label = ui->Label6;
    label->setText(QString::fromLatin1(line));
    // The lines stand in the column under the channel list, wrapped to its width and growing
    // upwards from the window's bottom edge, so no panel beside them cuts them off.
    constexpr int kLeft = 12;
    constexpr int kWidth = 152;
    constexpr int kBottom = 626;
    label->setWordWrap(true);
    const int height = label->heightForWidth(kWidth);
    label->setGeometry(kLeft, kBottom - height, kWidth, height);
    ShowNoLampBanner();
}

void TForm1::ShowNoLampBanner() {
    const bool connected = controller_->IsConnected();
    if (connected) changeNotSent_ = false;
    QString text = QString::fromLatin1(NoLampText(controller_->WhyNoLamp()));
    if (text.isEmpty()) text = QStringLiteral("No lamp connected.");
    if (changeNotSent_) text += QStringLiteral("\nLast change not sent: no lamp.");
    noLampBanner_->setText(text);
    constexpr int kBannerWidth = 440;
    noLampBanner_->resize(kBannerWidth,
                          std::max(28, noLampBanner_->heightForWidth(kBannerWidth) + 8));
    noLampBanner_->setVisible(!connected);
    noLampBanner_->raise();
}

void TForm1::DefaultTargetWithoutLamp() {
    if (controller_->IsConnected()) return;
    const CChannel record = controller_->CurrentRecord();
    if (record.ColorValues[7] != 0 || record.ColorValues[8] != 0) return;
    const Chromaticity white = LocusPoint(kDefaultKelvin);
    const RecordImage image =
        MakeRecordImage(state_, ReadTargetBoxes(), white.x, white.y, false, false);
    controller_->EditCurrentRecord([&](CChannel& r) { WriteRecordImage(image, r); });
}

bool TForm1::MeasurementAvailable() const {
    return measurement_->Exists();
}

void TForm1::UpdateVisibility() {
    MainPageState state;
    state.firstChannelProtected = FirstChannelProtected();
    state.measurementAvailable = !state.firstChannelProtected && MeasurementAvailable();
    state.hideDown = ui->SpeedButton5->isChecked();
    state.directDown = ui->SpeedButton2->isChecked();
    state.coeffDown = ui->SpeedButton3->isChecked();
    const MainPageVisibility v = MainPageRule(state);

    ui->Label2->show();
    ui->Image2->show();
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->Panel11, ui->Image8,    ui->CheckBox4, ui->CheckBox5,    ui->Label8,
             ui->Edit1,   ui->Label9,    ui->Edit2,     ui->Label15,      ui->CheckBox3,
             ui->Label14, ui->CheckBox2, ui->Button4,   ui->Label11,      ui->Edit4,
             ui->Label10, ui->Edit3,     ui->Button3,   ui->SpeedButton1, ui->Panel10}) {
        w->setVisible(v.working);
    }
    ui->Button5->setVisible(v.loadMeasurement);
    if (match_) match_->UpdateVisibility(state.firstChannelProtected || !v.working);
    ui->Panel3->setVisible(v.coefficientSliders);
    ui->Panel9->setVisible(v.directSliders);
}

void TForm1::LampConnected() {
    // A connect that ends while the window is closing leaves "Please wait" in place.
    if (closing_) return;
    reports_->Connected();
}

void TForm1::ShowConnected() {
    DefaultTargetWithoutLamp();
    RedrawDiagram(-100.0f, -100.0f);
    ShowPage(Page::Main);
}
