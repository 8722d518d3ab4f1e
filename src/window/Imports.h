#pragma once
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

#include "window/Busy.h"
#include "window/Messages.h"
#include "window/Upload.h"

class CLampState;
class CLightInput;
class Coptions;
class MeasurementStore;
class QFileDialog;
class QWidget;
struct WindowState;
namespace Ui {
class TForm1;
}

// What the window takes in from outside and hands to the lamp: a coefficient table from a file
// chosen on the coefficient page, the display texts cut from a chosen picture, and the
// spectrometer's last measurement as the current channel's target.
class Imports {
  public:
    // What the imports need of the window, beyond its widgets; the window implements it.
    class Host {
      public:
        virtual CLampState* Controller() const = 0;
        virtual const Coptions* Options() const = 0;
        virtual const MeasurementStore& Measurement() const = 0;
        virtual WindowState& State() = 0;
        // Where the user's files are kept (values.xml); saved coefficient tables go in there.
        virtual QString DataFolder() const = 0;
        // Long work and file dialogs hold it, so the window and the bus take no change meanwhile.
        virtual BusyState& Busy() = 0;
        virtual void ShowMessagePage(const PageMessage& message) = 0;
        // The message page, then the main page again after 3 s.
        virtual void ShowMessageAndReturn(const PageMessage& message) = 0;
        virtual bool ApplyFromEdits(bool correction) = 0;

      protected:
        ~Host() = default;
    };

    // window: the parent of the file dialogs. The choosers replace the dialogs when set (tests
    // answer without a dialog).
    Imports(Host& host, Ui::TForm1& ui, QWidget& window,
            std::function<QString()> chooseLanguageFile,
            std::function<QString()> chooseCoefficientFile);

    // Reads the chosen coefficient file for the rows typed on the coefficient page and hands
    // the table to the controller, which writes it on its next pass.
    void LoadCoefficients();
    // The controller's word on table number `table`; a word on an older table than the one
    // being written is logged and ignored.
    void CoefficientsWritten(std::uint64_t table, std::int32_t result);
    // How far the controller has come with table number `table`: shown on the message page and
    // as the window's progress. A word on any other table moves nothing.
    void CoefficientsProgress(std::uint64_t table, int done, int total);

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

    Host& host_;
    Ui::TForm1& ui_;
    QWidget& window_;
    std::function<QString()> chooseLanguageFile_;
    std::function<QString()> chooseCoefficientFile_;
    // The file dialogs of the display text upload and of the coefficient page, made on their
    // first use.
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* OpenDialog2 = nullptr;
    bool uploading_ = false;
    // The coefficient write, held from handing the table over until the controller's word.
    BusyState::Claim writing_;
    // The number of the table being written; 0 while none is.
    std::uint64_t writingTable_ = 0;
    // The rows of that table, as the message page names them.
    int writingRows_ = 0;
    // The message that word brings when the lamp took the table.
    PageMessage written_;
    // Ends the wait for that word: one that never comes must not hold the window for good.
    QTimer coefficientWait_;
};
