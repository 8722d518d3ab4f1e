#pragma once
#include "window/Refresh.h"

class TForm1;
namespace Ui {
class TForm1;
}

// Takes the lamp controller's reports into the main page: a changed state refreshes the boxes,
// sliders, diagram and the lamp's views; a status report refreshes only the lamp's views.
class LampReports {
  public:
    LampReports(TForm1& form, Ui::TForm1& ui) : form_(form), ui_(ui) {}

    // The controller's state report: the current record becomes the target shown, and a target
    // outside the lamp's gamut is sent back pulled into it.
    void StateChanged();
    // The controller's status report: sleep timer, channel list, gauge and memo.
    void Status();

    // The lamp's views, each from the controller as it stands.
    void RedrawChannelList();
    void RedrawSleepTimer();
    void RedrawGauge();
    void WriteStatusMemo();

  private:
    // True when a question or file dialog is open: its answer may rest on what the window shows
    // now, so the report is held (merged with any other held one) and runs once it closes.
    bool HeldByDialog(bool& held);
    void RunAfterDialog();

    TForm1& form_;
    Ui::TForm1& ui_;
    GamutCorrection correction_;
    bool stateHeld_ = false;
    bool statusHeld_ = false;
    bool retrying_ = false;
};
