#pragma once
#include <QString>
#include <cstdint>
#include <functional>

class QFileDialog;
class TForm1;
namespace Ui {
class TForm1;
}

// What the window takes in from outside and hands to the lamp: a coefficient table from a file
// chosen on the coefficient page, the display texts cut from a chosen picture, and the
// spectrometer's last measurement as the current channel's target.
class Imports {
  public:
    Imports(TForm1& form, Ui::TForm1& ui) : form_(form), ui_(ui) {}

    // Reads the chosen coefficient file for the rows typed on the coefficient page and hands
    // the table to the controller, which writes it on its next pass.
    void WriteCoefficients();
    // The controller's word on that table.
    void CoefficientsWritten(std::int32_t result);

    // Uploads the display texts of the chosen picture into the lamp's memory, with the
    // controller paused meanwhile.
    void UploadTexts();
    // A display text upload is running (the window waits for the pause or writes blocks).
    bool Uploading() const { return uploading_; }
    // True while an upload runs: the close asked for then follows the upload's end.
    bool PostponeClose();

    // Takes the spectrometer's measurement into the boxes and applies it to the current
    // channel, named "Measured <slot>".
    void ApplyMeasurement();

  private:
    // The chooser's file if one is set, else the dialog's; empty when cancelled.
    // dialog is made (as a child of the window, set up by setUp) on its first use.
    QString ChooseFile(QFileDialog*& dialog, const std::function<void(QFileDialog&)>& setUp,
                       const std::function<QString()>& chooser);

    TForm1& form_;
    Ui::TForm1& ui_;
    bool uploading_ = false;
    // A close asked for during an upload happens once the upload has ended.
    bool closeAfterUpload_ = false;
};
