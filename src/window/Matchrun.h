#pragma once
#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "colour/Colorspro.h"
#include "match/Match.h"
#include "window/Busy.h"

class CLampState;
class Ccolors;
class Coptions;
class Diagram;
class MeasurementStore;
class QLabel;
class QPushButton;
class QWidget;
struct DiagramView;
struct WindowState;
namespace Ui {
class TForm1;
}

// "Match": brings the light the lamp gives to the target in the boxes with the spectrometer in a
// closed loop. The loop runs on a thread of its own, so the window stays alive; each target it
// sends goes through the window's own apply, and each reading is drawn on the diagram as a mark
// joined to the next and shown on a line beside the buttons. While it runs the window counts as
// busy, so the bus takes no change; "Cancel" leaves the best point on the lamp.
class MatchRun : public QObject {
    Q_OBJECT
  public:
    // What the match needs of the window; the window implements it.
    class Host {
      public:
        virtual CLampState* Controller() const = 0;
        virtual const Coptions* Options() const = 0;
        virtual const MeasurementStore& Measurement() const = 0;
        virtual WindowState& State() = 0;
        virtual BusyState& Busy() = 0;
        virtual const Ccolors& ColourModel() const = 0;
        virtual const Diagram& TargetDiagram() const = 0;
        virtual bool ApplyTarget(float x, float y, bool markName, bool correction) = 0;
        virtual void RedrawDiagram(float x, float y) = 0;

      protected:
        ~Host() = default;
    };

    // source: where the readings come from (the simulated meter, a reading command); null
    // reads the spectrometer store the window's measurement comes from.
    MatchRun(Host& host, Ui::TForm1& ui, QWidget& panel, ReadingSource* source);
    ~MatchRun() override;

    // Starts a match to (x, y, lux); false, with why, when one runs already.
    using StepFn = std::function<void(const MatchStep&)>;
    using DoneFn = std::function<void(const MatchResult&)>;
    bool Start(const LightReading& target, double tolerance, StepFn step, DoneFn done,
               QString* why = nullptr);
    // Stops the loop; the best point goes back to the lamp before it ends.
    void Cancel();
    bool Running() const { return running_; }
    // The longest a match can take: every reading and every send waited out to its limit, and
    // a little for the window's own work. Whoever waits on a match may give up after this.
    std::chrono::milliseconds LongestRun() const;

    // The match's readings as marks joined in order, over the diagram just drawn.
    void DrawPath(QImage& image, const DiagramView& view) const;
    bool HasPath() const { return !path_.empty(); }
    // The measured chromaticities of the latest match, in order.
    const std::vector<Chromaticity>& Path() const { return path_; }
    // The buttons show on the main page while a channel may be edited.
    void UpdateVisibility(bool firstChannelProtected);

    // The button handlers.
    void ButtonMatchClick();
    void ButtonCancelClick();

    // How long a target sent is waited on for the main lamp's answer before it counts as
    // unconfirmed.
    static constexpr std::chrono::seconds kSendLimit{10};

    QPushButton* ButtonMatch = nullptr;
    QPushButton* ButtonCancel = nullptr;
    QLabel* LabelMatch = nullptr;

  private:
    class Prompting;
    // On the window's thread.
    void Stepped(const MatchStep& step);
    void Finished(const MatchResult& result);
    void ShowLine(const QString& text);

    Host& host_;
    Ui::TForm1& ui_;
    std::unique_ptr<ReadingSource> ownSource_;
    ReadingSource* source_;
    std::unique_ptr<Prompting> prompting_;
    // The window is going: the loop's sends and waits give up at once.
    std::shared_ptr<std::atomic<bool>> closing_;
    std::jthread worker_;
    bool running_ = false;
    BusyState::Claim hold_;
    StepFn step_;
    DoneFn done_;
    std::vector<Chromaticity> path_;
};
