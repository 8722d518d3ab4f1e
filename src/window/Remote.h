#pragma once
#include <QMetaObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "colour/Colorspro.h"
#include "match/Match.h"
#include "window/Busy.h"
#include "window/Presetbox.h"

class CLampState;
class QObject;

// A change to the light target asked for from outside the window, each field already checked.
struct RemoteTarget {
    std::optional<Chromaticity> point;  // a new colour point; it leaves direct mode
    std::optional<int> lux;             // into the lux box
    std::optional<double> intensity;    // percent of full light, 0..100, whichever scale shows
    std::optional<int> speed;           // the transition speed index, 0..4
};

// The offset the window subtracts from the lamp's chromaticity before it shows it.
struct PointOffset {
    double x = 0;
    double y = 0;
};

// What the window offers a remote control such as the bus service: its state to read and the
// operations of its own controls, so the window shows every change made from outside. The
// window implements it; a remote control never touches the window's widgets or state itself.
class Remote {
  public:
    virtual ~Remote() = default;

    // The lamp controller, to read; changes go through the calls below.
    virtual const CLampState& Lamp() const = 0;
    // The option C1S: the first channel may be edited.
    virtual bool FirstChannelEditable() const = 0;
    virtual PointOffset ShownOffset() const = 0;
    // What the window is busy with (long work, or any box or dialog open); empty when it can
    // take a change.
    virtual QString BusyReason() const = 0;
    // A lamp is connected and the window has taken in its state: its boxes and sliders hold
    // the lamp's record, so a change made through them starts from what the lamp holds.
    virtual bool HoldsLamp() const = 0;

    // Sets the window's boxes and sliders as a user would, then one apply sends them all; a point
    // is held to the diagram's range and pulled into the lamp's gamut as a press on the diagram
    // is. False, with nothing sent, when a box the target gives no value for holds no number.
    virtual bool ApplyRemote(const RemoteTarget& target) = 0;
    // As a press on the channel list: 0 turns the lamp off, another row turns it on there.
    virtual void ChooseChannel(int channel) = 0;
    virtual void ChoosePower(bool on) = 0;
    virtual void ChooseSleepTimer(int seconds) = 0;
    virtual void ToggleBacklight() = 0;

    // The stored presets' names, sorted; the store, not the box, which fills only once the
    // main page shows.
    virtual std::vector<std::string> PresetNames() const = 0;
    virtual bool HasPreset(const std::string& name) const = 0;
    virtual PresetBox::Result StorePreset(const std::string& name, bool replace) = 0;
    virtual PresetBox::Result RecallPreset(const std::string& name) = 0;
    virtual PresetBox::Result DeletePreset(const std::string& name) = 0;
    // A failure the user at the window must hear of.
    virtual void TellUser(const QString& text) = 0;
    // Shows the window, restored if minimised, in front of the others and active.
    virtual void BringForward() = 0;
    // How far the window's long work (display text upload, coefficient write) has come;
    // nothing while none runs.
    virtual std::optional<BusyState::Progress> WorkProgress() const = 0;
    // Runs fn in receiver's thread whenever that progress changes or goes.
    virtual QMetaObject::Connection OnProgress(QObject* receiver, std::function<void()> fn) = 0;

    // The lamp follows a drag on the diagram and the sliders: the user's choice, kept with the
    // program's options. Switching it from outside shows in the window.
    virtual bool FollowWhileDragging() const = 0;
    virtual void SetFollowWhileDragging(bool on) = 0;

    // Brings the lamp's light to the target with the spectrometer, as "Match" does: step runs
    // after each reading and done once at the end, on the window's thread. False, with why,
    // when a match runs already.
    virtual bool StartMatch(const LightReading& target, double tolerance,
                            std::function<void(const MatchStep&)> step,
                            std::function<void(const MatchResult&)> done, QString* why) = 0;
    // The longest a match can take before it ends, from its readings' and sends' limits.
    virtual std::chrono::milliseconds MatchTimeLimit() const = 0;

    // Runs fn in receiver's thread after each of the controller's reports, once the window has
    // taken it in or held it while a dialog is open (and again once a held one is taken in);
    // and after the preset list changed.
    virtual QMetaObject::Connection OnReportTakenIn(QObject* receiver,
                                                    std::function<void()> fn) = 0;
    virtual QMetaObject::Connection OnPresetsChanged(QObject* receiver,
                                                     std::function<void()> fn) = 0;
    // Runs fn in receiver's thread after the choice to follow a drag was switched.
    virtual QMetaObject::Connection OnFollowChanged(QObject* receiver,
                                                    std::function<void()> fn) = 0;
};
