#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "window/Busy.h"
#include "window/Upload.h"

class CLightInput;
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
    void LoadCoefficients();
    // The controller's word on that table.
    void CoefficientsWritten(std::int32_t result);

    // Uploads the display texts of the chosen picture into the lamp's memory, with the
    // controller paused meanwhile.
    void UploadTexts();
    // A display text upload is running (the window waits for the pause or writes blocks).
    bool Uploading() const { return uploading_; }

    // Takes the spectrometer's measurement into the boxes and applies it to the current
    // channel, named "Measured <slot>".
    void LoadMeasurement();

    // How long the window waits for the controller's word on a coefficient table.
    static constexpr int kCoefficientWaitMs = 60000;

  private:
    // The chooser's file if one is set, else the dialog's; empty when cancelled. The dialog
    // is made (as a child of the window, set up by setUp) on its first use. The window counts
    // as busy while either is open.
    QString ChooseFile(QFileDialog*& dialog, const std::function<void(QFileDialog&)>& setUp,
                       const std::function<QString()>& chooser);
    static void CloseCompletion(QFileDialog& dialog);
    // Writes the blocks to the paused controller's main lamp; how many reached it.
    int WriteBlocksAlive(CLightInput& lamp, const std::vector<Upload::TextBlock>& blocks);

    TForm1& form_;
    Ui::TForm1& ui_;
    bool uploading_ = false;
    // The coefficient write, held from handing the table over until the controller's word.
    BusyState::Hold writing_;
    quint64 lastWrite_ = 0;
};
