#pragma once
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bus/Names.h"
#include "colour/Colorspro.h"
#include "window/Presetbox.h"
#include "window/Remote.h"

class CChannel;

namespace LampBus {
// SelectChannel's range: 0 turns the lamp off as the list's "Turned off" row does, 1..10 are
// the channels the list shows.
inline constexpr int kListedChannels = 10;
// The colour temperatures the lamp is sent, lowest and highest: the locus the window's table
// spans. SetCct holds a temperature beyond them to the nearer end.
inline constexpr std::array<int, 2> kCctRange = {kLocusFirstKelvin, kLocusLastKelvin};
// The highest temperature and illuminance a call may give at all.
inline constexpr int kHighestCct = 1000000;
inline constexpr int kHighestLux = 1000000000;
// The illuminance the lamp is sent: a call's lux is held to this, as the window's box is.
inline constexpr int kLowestLux = 10;
inline constexpr int kLampLux = 65535;
// A call is answered once the controller knows what became of its change. Past this limit it
// is answered Unconfirmed instead (never Failed, as the change may still go out): the longest a
// pass takes while the main lamp is there is its reply time-out times the misses that make it
// count as lost (4 x 5 s), and the limit stays below the 25 s that bus callers wait by default.
inline constexpr std::chrono::milliseconds kAnswerLimit{22000};

// A light target asked for from outside: the fields given, each already checked.
struct Target {
    std::optional<double> X, Y;       // chromaticity, 0..1 each, always both
    std::optional<int> Cct;           // kelvin, 1..kHighestCct; never with X, Y
    std::optional<int> Lux;           // 0..kHighestLux
    std::optional<double> Intensity;  // percent of full light, 0..100
    std::optional<int> Speed;         // transition speed index 0..4
};

// A checked request, or why it was refused (the text of an InvalidArgs error).
template <typename T>
struct Checked {
    std::optional<T> value;
    QString refusal;
};

// SetTarget's dictionary: keys x, y, cct, lux, intensity, speed, each a number. Refused: an
// empty or unknown key, a value that is not a number (text, a truth value), not finite, not
// whole where a whole number is asked for, out of range, x without y, or cct with x and y.
// A refused request changes nothing. What passes is carried out as the window would: a point
// held to 0.01..0.7 and pulled into the lamp's gamut, a temperature held to kCctRange, lux to
// kLowestLux..kLampLux; the call's answer says what was sent.
Checked<Target> CheckTarget(const QVariantMap& request);
// A whole number within lo..hi, named for the refusal text.
Checked<int> CheckWhole(const QString& name, qint64 value, qint64 lo, qint64 hi);

// A preset name to store, as its 8-bit text. Refused rather than changed as the window's box
// would: blank, longer than 15 characters, blanks at either end, control characters (a line
// break would split the preset list), characters beyond Latin-1, or a first "-" or "[".
Checked<std::string> CheckPresetName(const QString& name);
}  // namespace LampBus

// The lamp's interface on the session bus. It runs on the window's thread and goes through the
// window's remote operations, the same as the window's own controls, so the window shows every
// change made from outside. A method that changes the lamp answers once the controller has served
// its requests: OK when the main lamp acknowledged them, NotConnected when no lamp took them,
// Failed when the main lamp did not answer; or at once with a named error.
class LampService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.veltra.DigitalLamp.Lamp1")
    Q_PROPERTY(uint InterfaceVersion READ InterfaceVersion)
    Q_PROPERTY(bool Connected READ Connected)
    Q_PROPERTY(QString NoLampReason READ NoLampReason)
    Q_PROPERTY(bool TargetOnLamp READ TargetOnLamp)
    Q_PROPERTY(int Channel READ Channel)
    Q_PROPERTY(double X READ X)
    Q_PROPERTY(double Y READ Y)
    Q_PROPERTY(int Cct READ Cct)
    Q_PROPERTY(int Lux READ Lux)
    Q_PROPERTY(double Intensity READ Intensity)
    Q_PROPERTY(bool LampOff READ LampOff)
    Q_PROPERTY(int SleepTimer READ SleepTimer)
    Q_PROPERTY(bool Backlight READ Backlight)
    Q_PROPERTY(QStringList LampSerials READ LampSerials)
    Q_PROPERTY(QStringList LampNames READ LampNames)
    Q_PROPERTY(QStringList ChannelNames READ ChannelNames)
    Q_PROPERTY(qlonglong SleepTimerEnds READ SleepTimerEnds)
    Q_PROPERTY(QList<double> Gamut READ Gamut)
    Q_PROPERTY(int Transition READ Transition)
    Q_PROPERTY(QList<double> Temperatures READ Temperatures)
    Q_PROPERTY(QList<int> CctRange READ CctRange)
    Q_PROPERTY(QList<int> Progress READ Progress)
    Q_PROPERTY(bool FollowWhileDragging READ FollowWhileDragging WRITE SetFollowWhileDragging)
    Q_PROPERTY(int MatchTimeLimit READ MatchTimeLimit)

  public:
    explicit LampService(Remote& window, QObject* parent = nullptr);
    ~LampService() override;

    // Puts the object on the connection and, with claimName, asks for the name. False
    // when the name is someone else's (another copy runs) or the connection refused the
    // object; nothing stays registered then.
    bool Register(QDBusConnection connection, bool claimName = true);

    // Every property by name, as GetState returns them.
    QVariantMap State() const;

    uint InterfaceVersion() const { return LampBus::kInterfaceVersion; }
    bool Connected() const;
    // Why no lamp is connected, in the window's words; empty while one is.
    QString NoLampReason() const;
    // X, Y, Cct, Lux and Intensity are what the main lamp holds; false while no lamp is
    // connected, when they are the window's target alone, which no lamp has taken.
    bool TargetOnLamp() const;
    int Channel() const;
    double X() const;
    double Y() const;
    int Cct() const;
    int Lux() const;
    double Intensity() const;
    bool LampOff() const;
    int SleepTimer() const;
    bool Backlight() const;
    QStringList LampSerials() const;
    QStringList LampNames() const;
    // Rows 0..10 of the window's channel list.
    QStringList ChannelNames() const;
    // Seconds since the epoch; 0 while no timer runs (none set, or the lamps are off).
    qlonglong SleepTimerEnds() const;
    QList<double> Gamut() const;
    // The speed index the lamp's current record carries; -1 without a lamp.
    int Transition() const;
    // As the lamp's two temperature pages send them; empty without a lamp and until its first
    // report.
    QList<double> Temperatures() const;
    QList<int> CctRange() const { return {LampBus::kCctRange[0], LampBus::kCctRange[1]}; }
    // The window's long work (display text upload, coefficient write) as items done and items
    // in all; empty while none runs.
    QList<int> Progress() const;
    // The lamp follows a drag in the window; the user's choice, kept with the options.
    bool FollowWhileDragging() const;
    void SetFollowWhileDragging(bool on);

    // How long a call may wait for its change to go out; tests shorten it.
    void SetAnswerLimit(std::chrono::milliseconds limit) { answerLimit_ = limit; }

  public Q_SLOTS:
    // The light calls answer what was sent: "sent x 0.4650 y 0.4730: constrained to the
    // lamp's gamut".
    QString SetTarget(const QVariantMap& target);
    QString SetXy(double x, double y);
    QString SetCct(int kelvin);
    QString SetLux(int lux);
    QString SetIntensity(double percent);
    void SelectChannel(int channel);
    void SetPower(bool on);
    void SetSleepTimer(int seconds);
    void SetBacklight(bool on);
    QVariantMap GetState();

  Q_SIGNALS:
    // A change reached the lamp: serial counts the changes announced so far; origin is the
    // bus name of the caller whose request it was, empty for the window's own changes.
    void StateChanged(uint serial, const QString& origin);

  public Q_SLOTS:
    // Brings the light the lamp gives to (x, y, lux) with the spectrometer in a closed loop
    // and answers when the loop ends: outcome ("matched", "within-noise", "not-reached",
    // "no-reading", "cancelled"), readings, the final measured x, y, lux, its u'v' distance and
    // lux error, and the result line. tolerance 0 takes the default u'v' distance, 0.001.
    QVariantMap Match(double x, double y, double lux, double tolerance);

  public:
    // The longest Match can take before it answers, in whole seconds: each reading and each
    // target sent waited out to its limit. A caller may give up waiting after it.
    int MatchTimeLimit() const;
  Q_SIGNALS:
    // One reading of a match: its number, the measured light, its u'v' distance to the target
    // and its lux error as a fraction.
    void MatchProgress(int reading, double x, double y, double lux, double distance,
                       double luxError);

  public:
    // Presets: stored, recalled and deleted through the window's settings box.
    Q_PROPERTY(QStringList PresetNames READ PresetNames)
    QStringList PresetNames() const;
  public Q_SLOTS:
    void StorePreset(const QString& name, bool replace);
    void RecallPreset(const QString& name);
    void DeletePreset(const QString& name);

  private:
    // The box was refilled: its names are announced when they changed.
    void PresetsRefreshed();
    // The choice to follow a drag was switched: announced when it changed.
    void FollowRefreshed();
    // The 8-bit name of a stored preset, or nothing after refusing the call with NoSuchPreset.
    std::optional<std::string> StoredPreset(const QString& name);
    // Refuses a preset call the window's box could not take now; true when refused.
    bool PresetRefused(bool needsLamp);
    // Answers a store or delete that went through the box.
    void AnswerPreset(const PresetBox::Result& result);

  private:
    // The controller reported: calls are answered from what became of their requests, whatever
    // the window shows meanwhile, and what changed is announced.
    void ReportTakenIn();
    // The window's long work moved on: its progress is announced (no report comes meanwhile).
    void ProgressChanged();
    // Sends PropertiesChanged for the properties in changed, where a bus is there to hear it.
    void Announce(const QVariantMap& changed);
    // Refuses the call with error; true when refused, so the caller returns.
    bool Refuse(const char* error, const QString& text);
    // Checks shared by every call that changes the lamp; true when one refused the call.
    bool RefusedForState();
    // Refuses a call that needs a lamp whose state the window holds; true when refused.
    bool RefusedWithoutLamp();
    // Refuses a change while the current channel is the protected first one; true when refused.
    bool RefusedForFirstChannel();
    // Holds the call's answer until the controller has served the requests made since the
    // generation `asked`, or the limit runs out; the answer follows what became of them.
    // A given answer is the reply's text.
    void AnswerWhenSent(std::uint64_t asked, const std::optional<QString>& answer = std::nullopt);
    // Makes the change through the window and answers the call once it has gone out.
    void AnswerAfter(const std::function<void()>& change);
    void AnswerLate(quint64 id);
    // Hands the target to the window; false when the window sent nothing.
    bool Apply(const LampBus::Target& target);
    // What the record now holds of the values the target gave, and where it differs, why.
    QString SentText(const LampBus::Target& target, const CChannel& record) const;

    struct Waiting {
        QDBusMessage call;
        QDBusConnection connection;
        quint64 id;
        // The controller's requests numbered after `asked` up to `made` are this call's.
        std::uint64_t asked;
        std::uint64_t made;
        std::optional<QString> answer;
    };
    // When the sleep timer that started at `started` lamp time ends, worked out once.
    struct SleepEnd {
        std::uint32_t started;
        int seconds;
        qlonglong at;
    };

    Remote& window_;
    std::optional<QDBusConnection> connection_;
    QString serviceName_;
    std::vector<Waiting> waiting_;
    QVariantMap announced_;
    QString lastOrigin_;
    uint serial_ = 0;
    quint64 lastWaitId_ = 0;
    std::chrono::milliseconds answerLimit_ = LampBus::kAnswerLimit;
    mutable std::optional<SleepEnd> sleepEnd_;
};
