#include "window/Imports.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <algorithm>

#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Coefficients.h"
#include "ui_Main.h"
#include "window/Coefficients.h"
#include "window/Main.h"
#include "window/Measurement.h"
#include "window/Upload.h"

QString Imports::ChooseFile(QFileDialog*& dialog, const std::function<void(QFileDialog&)>& setUp,
                            const std::function<QString()>& chooser) {
    if (chooser) return chooser();
    if (dialog == nullptr) {
        dialog = new QFileDialog(&form_);
        if (setUp) setUp(*dialog);
    }
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

void Imports::WriteCoefficients() {
    const std::optional<int> rows =
        Coefficients::RowCount(ui_.Edit6->text().toLatin1().toStdString());
    if (!rows) return;
    const QString file = ChooseFile(form_.OpenDialog2, {}, form_.setup_.chooseCoefficientFile);
    // A cancelled choice leaves the lamp's table as it was.
    if (file.isEmpty()) return;
    const CoefficientFile read = ReadCoefficientFile(file, *rows);
    const std::optional<Coefficients::Table>& table = read.table;
    if (!table) {
        form_.ShowMessageAndReturn(read.failure);
    } else if (!form_.controller_->IsConnected()) {
        form_.ShowMessageAndReturn(CoefficientResultText(CLightInput::kNoLamp));
    } else {
        // The controller writes the table on its next pass and says how it went.
        form_.ShowMessagePage(QStringLiteral("Please wait"));
        form_.controller_->StoreCoefficients(*table);
    }
}

void Imports::CoefficientsWritten(std::int32_t result) {
    if (form_.closing_) return;
    form_.ShowMessageAndReturn(CoefficientResultText(result));
}

void Imports::UploadTexts() {
    if (uploading_) return;
    const QString file = ChooseFile(
        form_.OpenDialog1,
        [](QFileDialog& dialog) {
            dialog.setNameFilter(QStringLiteral("Language file (*)"));
            dialog.setFileMode(QFileDialog::ExistingFile);
        },
        form_.setup_.chooseLanguageFile);
    if (file.isEmpty()) return;
    // Everything that can be checked is checked before the lamp is paused.
    QImage picture;
    if (!picture.load(file)) {
        form_.ShowMessageAndReturn(Upload::NotAPictureText(file));
        return;
    }
    CLampState& controller = *form_.controller_;
    if (!controller.IsConnected()) {
        form_.ShowMessageAndReturn(Upload::NoLampText());
        return;
    }
    const std::vector<Upload::TextBlock> blocks =
        Upload::PackBlocks(picture, Upload::LayoutFromOptions(*form_.optionsStore_));
    const int items = static_cast<int>(blocks.size()) * 2;
    const int total = static_cast<int>(blocks.size());
    int written = 0;
    uploading_ = true;
    {
        // The pause's wait handles events; uploading_ keeps them from starting another upload
        // or closing the window meanwhile.
        const CLampState::PauseScope pause = controller.Pause();
        if (CLightInput* lamp = pause.MainLamp()) {
            ui_.ProgressBar1->setRange(0, items);
            ui_.ProgressBar1->setValue(0);
            ui_.ProgressBar1->show();
            written = Upload::WriteBlocks(
                blocks,
                [lamp](int page, const Upload::TextBlock& block) {
                    CLightInput::Page bytes{};
                    std::copy(block.begin(), block.end(), bytes.begin());
                    return lamp->WriteBlock(page, bytes) == CLightInput::kOk;
                },
                [this](int item) {
                    ui_.ProgressBar1->setValue(item);
                    ui_.ProgressBar1->repaint();
                });
            ui_.ProgressBar1->setValue(items);
        }
    }
    ui_.ProgressBar1->hide();
    ui_.Button1->hide();
    uploading_ = false;
    if (written < total) form_.ShowMessageAndReturn(Upload::UnfinishedText(written, total));
    if (closeAfterUpload_) {
        closeAfterUpload_ = false;
        form_.close();
    }
}

bool Imports::PostponeClose() {
    // The upload holds the controller paused and the lamp busy; the close follows it.
    if (uploading_) closeAfterUpload_ = true;
    return uploading_;
}

void Imports::ApplyMeasurement() {
    CLampState& controller = *form_.controller_;
    if (controller.CurrentSlot() <= 0) return;
    // Without a usable chromaticity nothing changes: no new name, no made-up target.
    const std::optional<Measurement> m = ReadMeasurement(*form_.measurement_);
    if (!m) return;
    controller.EditCurrentRecord(
        [](CChannel& r) { r.Name = "Measured " + std::to_string(r.SlotNumber); });
    controller.StoreChannelNames();
    ui_.Edit1->setText(QString::asprintf("%2.4f", m->X));
    ui_.Edit2->setText(QString::asprintf("%2.4f", m->Y));
    ui_.Edit4->setText(QString::asprintf("%d", m->Lux));
    WindowState& state = form_.state_;
    {
        // The target is applied once, below, not by the boxes' handlers.
        const SuppressedHandlers quiet(state);
        ui_.CheckBox3->setChecked(false);
        ui_.CheckBox6->setChecked(false);
    }
    state.ControlValues[7] = 1000;
    // The sliders and the intensity gauge are redrawn here once the slider views are in.
    form_.ApplyFromEdits(false);
}
