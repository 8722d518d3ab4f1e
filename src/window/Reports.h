#pragma once
#include <QImage>
#include <QTimer>
#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "window/Refresh.h"

class CLampState;
class Ccolors;
class Diagram;
class PresetBox;
struct WindowState;
namespace Ui {
class TForm1;
}

// Takes the lamp controller's reports into the main page: a changed state refreshes the boxes,
// sliders, diagram and the lamp's views; a status report refreshes only the lamp's views.
class LampReports {
  public:
    // What the reports need of the window they refresh, beyond its widgets; the window
    // implements it.
    class Host {
      public:
        // False while the window closes or still shows "Please wait": a report then changes
        // nothing, so "Please wait" stays in place.
        virtual bool TakesReports() const = 0;
        virtual CLampState* Controller() const = 0;
        virtual WindowState& State() = 0;
        virtual PresetBox& SettingsBox() const = 0;
        // The window's colour model, whose white out-of-gamut reports are pulled towards.
        virtual const Ccolors& ColourModel() const = 0;
        virtual const Diagram& TargetDiagram() const = 0;
        // The option C1S, and whether it keeps the current channel from being edited now.
        virtual bool FirstChannelEditable() const = 0;
        virtual bool FirstChannelProtected() const = 0;
        // The user is dragging on the diagram or a slider: the target under the hand stays
        // as it is until the release.
        virtual bool Dragging() const = 0;
        // A dialog of the window's own is open beside it (a question, a message, a file
        // dialog): the views wait for it as for a modal one.
        virtual bool DialogBeside() const = 0;

        // The window's own views, each drawn again from the state as it stands.
        virtual void UpdateVisibility() = 0;
        virtual void ShowVersionLine() = 0;
        virtual void ShowBacklight(bool on) = 0;
        virtual void RedrawDiagram(float x, float y) = 0;
        virtual void RedrawSliders() = 0;
        virtual void RedrawIntensity() = 0;
        // Sends (x, y) as the current channel's target; a correction keeps the lamp's lux.
        virtual bool ApplyTarget(float x, float y, bool markName, bool correction) = 0;
        // The connect attempt has ended: the main page shows, connected or not.
        virtual void ShowConnected() = 0;
        // A report has been taken in, or held until a dialog closes: whoever waits on the
        // controller's outcomes hears of it either way.
        virtual void ReportTakenIn() = 0;

      protected:
        ~Host() = default;
    };

    LampReports(Host& host, Ui::TForm1& ui);

    // The controller's connect report: the main page shows.
    void Connected();
    // The controller's state report: the current record becomes the target shown, and a target
    // outside the lamp's gamut is sent back pulled into it.
    void StateChanged();
    // The controller's status report: sleep timer, channel list, gauge and memo.
    void Status();
    // A drag has ended; `sent` when its release sent the target, whose own report follows. A
    // state report held back by the drag runs now if none will follow.
    void DragEnded(bool sent);

    // The lamp's views, each from the controller as it stands; each is drawn (or written) only
    // when what it shows differs from what it already shows.
    void RedrawChannelList();
    void RedrawSleepTimer();
    void RedrawGauge();
    void WriteStatusMemo();

    // The last state report taken in found the main lamp connected: the boxes and sliders hold
    // its record, so a change made through them starts from the lamp's state.
    bool HoldsLamp() const { return holdsLamp_; }

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
    // A dialog waits for the user: a modal one, or one of the window's own beside it.
    bool DialogOpen() const;
    void RunAfterDialog();

    Host& host_;
    Ui::TForm1& ui_;
    GamutCorrection correction_;
    bool connectedHeld_ = false;
    bool stateHeld_ = false;
    // A state report came during a drag and left the target alone.
    bool heldByDrag_ = false;
    bool statusHeld_ = false;
    bool holdsLamp_ = false;
    // Looks again, while reports are held, whether the dialog has closed.
    QTimer afterDialog_;
    Drawn<ChannelListView> channelListDrawn_;
    Drawn<int> sleepTimerDrawn_;
    Drawn<GaugeView> gaugeDrawn_;
};
