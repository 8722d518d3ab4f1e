#pragma once
#include <QImage>
#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

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

    // The lamp's views, each from the controller as it stands; each is drawn (or written) only
    // when what it shows differs from what it already shows.
    void RedrawChannelList();
    void RedrawSleepTimer();
    void RedrawGauge();
    void WriteStatusMemo();

  private:
    // What a view was last drawn from, and the picture it went into.
    template <typename View>
    struct Drawn {
        std::optional<View> view;
        qint64 picture = 0;
        // True when the picture still holds a drawing of this view.
        bool Shows(const View& now, const QImage& image) const {
            return view && *view == now && picture == image.cacheKey();
        }
        void Note(const View& now, const QImage& image) {
            view = now;
            picture = image.cacheKey();
        }
    };
    // The channel list's names, lamp off, current slot and first channel editable.
    using ChannelListView = std::tuple<std::array<std::string, 11>, bool, int, bool>;
    // The gauge's timeout and remaining seconds; both 0 for the bare ring.
    using GaugeView = std::pair<int, int>;

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
    Drawn<ChannelListView> channelListDrawn_;
    Drawn<int> sleepTimerDrawn_;
    Drawn<GaugeView> gaugeDrawn_;
};
