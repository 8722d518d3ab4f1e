#include "bus/Bus.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "bus/Activation.h"
#include "bus/Logging.h"
#include "colour/Colorspro.h"
#include "colour/Expvalue.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"
#include "window/Gauges.h"
#include "window/Pages.h"
#include "window/Presets.h"
#include "window/Refresh.h"

namespace LampBus {
namespace {

// The change stays asked for: a lamp that comes back while the program runs still takes it.
QString LampGoneBeforeSent(const CLampState& c) {
    if (c.IsFinished()) return QStringLiteral("the program is ending; the change did not go out");
    return QStringLiteral(
        "the lamp went away before the change went out; it goes out when the lamp is back");
}

// The number a variant holds, or nothing for text, truth values and the rest.
std::optional<double> Number(const QVariant& v) {
    switch (v.metaType().id()) {
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::UChar:
            return v.toDouble();
        default:
            return std::nullopt;
    }
}

}  // namespace

Checked<int> CheckWhole(const QString& name, qint64 value, qint64 lo, qint64 hi) {
    if (value < lo || value > hi)
        return {std::nullopt,
                QStringLiteral("%1 must be %2..%3, not %4").arg(name).arg(lo).arg(hi).arg(value)};
    return {static_cast<int>(value), {}};
}

Checked<Target> CheckTarget(const QVariantMap& request) {
    if (request.isEmpty()) return {std::nullopt, QStringLiteral("no value given")};
    struct Range {
        const char* key;
        double lo, hi;
        bool whole;
    };
    // What is refused is no chromaticity, temperature, illuminance or percentage at all; within
    // these the window holds a value to what the lamp takes, and the answer says so.
    static const Range kRanges[] = {
        {"x", 0, 1, false},
        {"y", 0, 1, false},
        {"cct", 1, kHighestCct, true},
        {"lux", 0, kHighestLux, true},
        {"intensity", 0, 100, false},
        {"speed", 0, 4, true},
    };
    Target t;
    for (auto it = request.begin(); it != request.end(); ++it) {
        const Range* range = nullptr;
        for (const Range& r : kRanges)
            if (it.key() == QLatin1String(r.key)) range = &r;
        if (range == nullptr)
            return {std::nullopt, QStringLiteral("unknown key '%1'").arg(it.key())};
        const std::optional<double> n = Number(it.value());
        if (!n) return {std::nullopt, QStringLiteral("%1 must be a number").arg(it.key())};
        const double v = *n;
        if (!std::isfinite(v))
            return {std::nullopt, QStringLiteral("%1 must be finite").arg(it.key())};
        if (range->whole && v != std::trunc(v))
            return {std::nullopt, QStringLiteral("%1 must be a whole number").arg(it.key())};
        if (v < range->lo || v > range->hi) {
            return {std::nullopt, QStringLiteral("%1 must be %2..%3, not %4")
                                      .arg(it.key())
                                      .arg(range->lo)
                                      .arg(range->hi)
                                      .arg(v)};
        }
        const QString& k = it.key();
        if (k == "x") t.X = v;
        if (k == "y") t.Y = v;
        if (k == "cct") t.Cct = static_cast<int>(v);
        if (k == "lux") t.Lux = static_cast<int>(v);
        if (k == "intensity") t.Intensity = v;
        if (k == "speed") t.Speed = static_cast<int>(v);
    }
    if (t.X.has_value() != t.Y.has_value())
        return {std::nullopt, QStringLiteral("x and y come together")};
    if (t.X && t.Cct) return {std::nullopt, QStringLiteral("give x and y or cct, not both")};
    return {t, {}};
}

}  // namespace LampBus

using namespace LampBus;

static_assert(kAnswerLimit.count() >
                  std::int64_t{CLightInput::kMissesForLost} * CLightInput::kReplyTimeoutMs,
              "a call must not be answered before the controller's longest pass with a lamp");

LampService::LampService(Remote& window, QObject* parent) : QObject(parent), window_(window) {
    // A second start finds the running copy's window through the desktop's own interface.
    new ActivationAdaptor(this, window_);
    window_.OnReportTakenIn(this, [this] { ReportTakenIn(); });
    window_.OnPresetsChanged(this, [this] { PresetsRefreshed(); });
    window_.OnProgress(this, [this] { ProgressChanged(); });
    window_.OnFollowChanged(this, [this] { FollowRefreshed(); });
    announced_ = State();
}

LampService::~LampService() {
    for (const Waiting& w : waiting_)
        w.connection.send(w.call.createErrorReply(QString::fromLatin1(kProgramEnding),
                                                  QStringLiteral("the program is ending")));
    if (connection_) {
        if (!serviceName_.isEmpty()) connection_->unregisterService(serviceName_);
        connection_->unregisterObject(QString::fromLatin1(kPath));
    }
}

bool LampService::Register(QDBusConnection connection, bool claimName) {
    if (!connection.isConnected()) return false;
    if (!connection.registerObject(
            QString::fromLatin1(kPath), this,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                QDBusConnection::ExportAllProperties | QDBusConnection::ExportAdaptors)) {
        qCWarning(lcBus) << "cannot serve the lamp at" << kPath << "on the session bus";
        return false;
    }
    if (claimName && !connection.registerService(QString::fromLatin1(kService))) {
        qCWarning(lcBus) << "cannot claim the bus name" << kService << ":"
                         << connection.lastError().message();
        connection.unregisterObject(QString::fromLatin1(kPath));
        return false;
    }
    connection_ = connection;
    if (claimName) serviceName_ = QString::fromLatin1(kService);
    return true;
}

bool LampService::Connected() const {
    // A lamp still being read, or whose state the window has not taken in, is not yet one a
    // caller can change: a change would start from placeholder values.
    return window_.HoldsLamp();
}
QString LampService::NoLampReason() const {
    return QString::fromLatin1(NoLampText(window_.Lamp().WhyNoLamp()));
}
bool LampService::TargetOnLamp() const {
    return Connected();
}
int LampService::Channel() const {
    return window_.Lamp().CurrentSlot();
}
double LampService::X() const {
    return window_.Lamp().CurrentRecord().ColorValues[7] / 65535.0 - window_.ShownOffset().x;
}
double LampService::Y() const {
    return window_.Lamp().CurrentRecord().ColorValues[8] / 65535.0 - window_.ShownOffset().y;
}
int LampService::Cct() const {
    return window_.Lamp().CurrentRecord().ColorValues[6];
}
int LampService::Lux() const {
    return window_.Lamp().CurrentRecord().ColorValues[9];
}
double LampService::Intensity() const {
    // The light the record asks for, whichever scale the window's slider shows.
    return LevelPercent(window_.Lamp().CurrentRecord().ColorValues[14]);
}
bool LampService::LampOff() const {
    return window_.Lamp().IsLampOff();
}
int LampService::SleepTimer() const {
    return window_.Lamp().GetTimeout();
}
bool LampService::Backlight() const {
    // The window ticks its "LCD backlight" box while the lamp's flag is clear.
    return !window_.Lamp().GetBacklightFlag();
}

QStringList LampService::LampSerials() const {
    QStringList serials;
    for (const auto& lamp : window_.Lamp().HeldLampIdentities())
        serials << QString::fromLatin1(lamp.Serial);
    return serials;
}
QStringList LampService::LampNames() const {
    QStringList names;
    for (const auto& lamp : window_.Lamp().HeldLampIdentities())
        names << QString::fromLatin1(lamp.Description);
    return names;
}
QStringList LampService::ChannelNames() const {
    ChannelListState list;
    for (int i = 0; i < static_cast<int>(list.names.size()); ++i)
        list.names[static_cast<std::size_t>(i)] = window_.Lamp().Channel(i).Name;
    list.firstChannelEditable = window_.FirstChannelEditable();
    QStringList rows;
    for (int i = 0; i < static_cast<int>(list.names.size()); ++i) rows << ChannelListText(list, i);
    return rows;
}
qlonglong LampService::SleepTimerEnds() const {
    const CLampState& c = window_.Lamp();
    const int seconds = c.GetTimeout();
    if (seconds <= 0 || c.IsLampOff()) {
        sleepEnd_.reset();
        return 0;
    }
    // A timer not yet sent starts when it goes out; until then the lamp counts the one it has.
    if (c.PowerPending()) return sleepEnd_ ? sleepEnd_->at : 0;
    // Worked out once for each start of the timer, so reads a second apart announce nothing.
    const std::uint32_t started = c.TimerStarted();
    if (!sleepEnd_ || sleepEnd_->started != started || sleepEnd_->seconds != seconds) {
        const qint64 startedMs = QDateTime::currentMSecsSinceEpoch() - c.MsSince(started);
        sleepEnd_ = SleepEnd{started, seconds, (startedMs + seconds * 1000LL + 500) / 1000};
    }
    return sleepEnd_->at;
}
QList<double> LampService::Gamut() const {
    const GamutTriangle g = window_.Lamp().GetGamutTriangle();
    return {g.x1, g.y1, g.x2, g.y2, g.x3, g.y3};
}
int LampService::Transition() const {
    if (!Connected()) return -1;
    return DecodeRecord(window_.Lamp().CurrentRecord(), 0, 0).SpeedIndex;
}
QList<double> LampService::Temperatures() const {
    if (!Connected()) return {};
    // The poll fills two pages of sixteen; the controller's further entries never hold one.
    constexpr int kPolledTemperatures = 32;
    const auto t = window_.Lamp().GetTemperatures();
    // Until the lamp's first report the controller holds zeros, which no lamp reports: a
    // watcher must not take them for readings.
    if (std::all_of(t.begin(), t.begin() + kPolledTemperatures, [](float v) { return v == 0.0f; }))
        return {};
    return {t.begin(), t.begin() + kPolledTemperatures};
}

QVariantMap LampService::State() const {
    return {
        {"InterfaceVersion", InterfaceVersion()},
        {"Connected", Connected()},
        {"NoLampReason", NoLampReason()},
        {"TargetOnLamp", TargetOnLamp()},
        {"Channel", Channel()},
        {"X", X()},
        {"Y", Y()},
        {"Cct", Cct()},
        {"Lux", Lux()},
        {"Intensity", Intensity()},
        {"LampOff", LampOff()},
        {"SleepTimer", SleepTimer()},
        {"Backlight", Backlight()},
        {"LampSerials", LampSerials()},
        {"LampNames", LampNames()},
        {"ChannelNames", ChannelNames()},
        {"SleepTimerEnds", SleepTimerEnds()},
        {"Gamut", QVariant::fromValue(Gamut())},
        {"Transition", Transition()},
        {"Temperatures", QVariant::fromValue(Temperatures())},
        {"CctRange", QVariant::fromValue(CctRange())},
        {"Progress", QVariant::fromValue(Progress())},
        {"PresetNames", PresetNames()},
        {"FollowWhileDragging", FollowWhileDragging()},
        {"MatchTimeLimit", MatchTimeLimit()},
    };
}

bool LampService::FollowWhileDragging() const {
    return window_.FollowWhileDragging();
}

void LampService::SetFollowWhileDragging(bool on) {
    // A setting of the window, not of the lamp: it takes effect at once, lamp or not.
    window_.SetFollowWhileDragging(on);
}

void LampService::FollowRefreshed() {
    const bool on = FollowWhileDragging();
    if (announced_.value("FollowWhileDragging") == on) return;
    announced_.insert("FollowWhileDragging", on);
    Announce({{"FollowWhileDragging", on}});
}

QVariantMap LampService::GetState() {
    return State();
}

bool LampService::Refuse(const char* error, const QString& text) {
    sendErrorReply(QString::fromLatin1(error), text);
    return true;
}

bool LampService::RefusedForState() {
    // Long work, or any box or dialog open: a change served now would land in the middle.
    if (const QString busy = window_.BusyReason(); !busy.isEmpty()) return Refuse(kBusy, busy);
    return RefusedWithoutLamp();
}

bool LampService::RefusedForFirstChannel() {
    if (!FirstChannelProtected(window_.Lamp().CurrentSlot(), window_.FirstChannelEditable()))
        return false;
    return Refuse(kFirstChannelProtected,
                  QStringLiteral("the first channel is protected; select another channel first"));
}

bool LampService::RefusedWithoutLamp() {
    if (!window_.Lamp().IsConnected() || window_.Lamp().IsFinished())
        return Refuse(kNotConnected, QStringLiteral("no lamp is connected"));
    if (!Connected())
        return Refuse(kNotConnected,
                      QStringLiteral("the lamp is still being connected; wait for Connected"));
    return false;
}

void LampService::AnswerWhenSent(std::uint64_t asked, const std::optional<QString>& answer) {
    const std::uint64_t made = window_.Lamp().Generation();
    // A call that asked the controller for nothing (the lamp already had it) is answered now.
    if (made == asked) return;
    setDelayedReply(true);
    const quint64 id = ++lastWaitId_;
    waiting_.push_back({message(), connection(), id, asked, made, answer});
    QTimer::singleShot(answerLimit_, this, [this, id] { AnswerLate(id); });
}

void LampService::AnswerAfter(const std::function<void()>& change) {
    const std::uint64_t asked = window_.Lamp().Generation();
    change();
    AnswerWhenSent(asked);
}

void LampService::AnswerLate(quint64 id) {
    const auto it = std::find_if(waiting_.begin(), waiting_.end(),
                                 [id](const Waiting& w) { return w.id == id; });
    if (it == waiting_.end()) return;
    const CLampState& c = window_.Lamp();
    const QDBusMessage error =
        !c.IsConnected() || c.IsFinished()
            ? it->call.createErrorReply(QString::fromLatin1(kNotConnected), LampGoneBeforeSent(c))
            : it->call.createErrorReply(
                  QString::fromLatin1(kUnconfirmed),
                  QStringLiteral(
                      "the lamp has not confirmed the change yet; it may still take it"));
    it->connection.send(error);
    waiting_.erase(it);
}

QString LampService::SetTarget(const QVariantMap& target) {
    const Checked<Target> checked = CheckTarget(target);
    if (!checked.value) {
        Refuse(kInvalidArgs, checked.refusal);
        return {};
    }
    if (RefusedForState()) return {};
    if (RefusedForFirstChannel()) return {};
    const std::uint64_t asked = window_.Lamp().Generation();
    if (!Apply(*checked.value)) {
        // Nothing went out, so the caller must not hear that it did.
        Refuse(kFailed, QStringLiteral("a box in the window holds no number (it is marked red), "
                                       "so nothing was sent; give that value in the call"));
        return {};
    }
    const QString sent = SentText(*checked.value, window_.Lamp().CurrentRecord());
    AnswerWhenSent(asked, sent);
    return sent;
}

QString LampService::SentText(const Target& t, const CChannel& record) const {
    const PointOffset offset = window_.ShownOffset();
    const auto& v = record.ColorValues;
    const double x = v[7] / 65535.0 - offset.x;
    const double y = v[8] / 65535.0 - offset.y;
    QStringList sent;
    QStringList notes;
    // The record holds a point to 1/65535; a difference the four shown decimals cannot show
    // is none.
    const auto moved = [&](double wantedX, double wantedY) {
        return std::abs(wantedX - x) > 5e-5 || std::abs(wantedY - y) > 5e-5;
    };
    if (t.X) {
        sent << QString::asprintf("x %.4f y %.4f", x, y);
        const double heldX = std::clamp(*t.X, 0.01, 0.7);
        const double heldY = std::clamp(*t.Y, 0.01, 0.7);
        if (heldX != *t.X || heldY != *t.Y) notes << QStringLiteral("held to 0.01..0.7");
        if (moved(heldX, heldY)) notes << QStringLiteral("constrained to the lamp's gamut");
    }
    if (t.Cct) {
        sent << QStringLiteral("%1 K").arg(v[6]);
        const int held = std::clamp(*t.Cct, kCctRange[0], kCctRange[1]);
        if (held != *t.Cct)
            notes << QStringLiteral("held to %1..%2 K").arg(kCctRange[0]).arg(kCctRange[1]);
        const Chromaticity locus = LocusPoint(held);
        if (moved(locus.x, locus.y)) {
            sent << QString::asprintf("x %.4f y %.4f", x, y);
            notes << QStringLiteral("constrained to the lamp's gamut");
        }
    }
    if (t.Lux) {
        sent << QStringLiteral("%1 lx").arg(v[9]);
        if (*t.Lux < kLowestLux || *t.Lux > kLampLux)
            notes << QStringLiteral("held to %1..%2 lx").arg(kLowestLux).arg(kLampLux);
        else if (v[9] != *t.Lux)
            notes << QStringLiteral("the window's \"max\" box sends %1 lx").arg(v[9]);
    }
    if (t.Intensity) {
        const double percent = LevelPercent(v[14]);
        sent << QString::asprintf("intensity %.1f %%", percent);
        if (percent - *t.Intensity > 0.5)
            notes << QStringLiteral("the lowest level of the window's \"log\" scale");
    }
    if (t.Speed) sent << QStringLiteral("speed %1").arg(*t.Speed);
    QString text = QStringLiteral("sent ") + sent.join(QStringLiteral(", "));
    if (!notes.isEmpty()) text += QStringLiteral(": ") + notes.join(QStringLiteral("; "));
    return text;
}

bool LampService::Apply(const Target& t) {
    RemoteTarget change;
    change.lux = t.Lux;
    change.intensity = t.Intensity;
    change.speed = t.Speed;
    if (t.X) change.point = Chromaticity{static_cast<float>(*t.X), static_cast<float>(*t.Y)};
    if (t.Cct) change.point = LocusPoint(*t.Cct);
    return window_.ApplyRemote(change);
}

QString LampService::SetXy(double x, double y) {
    return SetTarget({{"x", x}, {"y", y}});
}
QString LampService::SetCct(int kelvin) {
    return SetTarget({{"cct", kelvin}});
}
QString LampService::SetLux(int lux) {
    return SetTarget({{"lux", lux}});
}
QString LampService::SetIntensity(double percent) {
    return SetTarget({{"intensity", percent}});
}

void LampService::SelectChannel(int channel) {
    // The window's list offers "Turned off" and channels 1 to 10, and nothing else.
    const Checked<int> n = CheckWhole(QStringLiteral("channel"), channel, 0, kListedChannels);
    if (!n.value) {
        Refuse(kInvalidArgs, n.refusal);
        return;
    }
    if (RefusedForState()) return;
    AnswerAfter([&] { window_.ChooseChannel(*n.value); });
}

void LampService::SetPower(bool on) {
    if (RefusedForState()) return;
    AnswerAfter([&] { window_.ChoosePower(on); });
}

void LampService::SetSleepTimer(int seconds) {
    const Checked<int> s =
        CheckWhole(QStringLiteral("seconds"), seconds, 0, CLampState::kMaxTimeout);
    if (!s.value) {
        Refuse(kInvalidArgs, s.refusal);
        return;
    }
    if (RefusedForState()) return;
    AnswerAfter([&] { window_.ChooseSleepTimer(*s.value); });
}

void LampService::SetBacklight(bool on) {
    if (RefusedForState()) return;
    // The lamp's flag is the opposite of the window's box. A setting the main lamp confirmed
    // is not sent again; one it has not (still pending, or not answered) is.
    if (Backlight() == on) {
        if (!window_.Lamp().PowerUnconfirmed()) return;
        // The power frame carries the flag with the timer: sending the timer as it stands
        // sends the flag again.
        AnswerAfter([&] { window_.ChooseSleepTimer(window_.Lamp().GetTimeout()); });
        return;
    }
    AnswerAfter([&] { window_.ToggleBacklight(); });
}

void LampService::ReportTakenIn() {
    const CLampState& c = window_.Lamp();
    const bool lampThere = c.IsConnected() && !c.IsFinished();
    // Each call is answered from what became of its own requests; origin names the latest
    // call whose change the main lamp took.
    QString origin;
    std::uint64_t originMade = 0;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        int othersTook = 0;
        const std::optional<RequestOutcome> outcome = c.OutcomeOf(it->asked, it->made, &othersTook);
        QDBusMessage answer;
        if (!outcome) {
            // A power change waits for a lamp that has gone; the caller hears so now.
            if (lampThere) {
                ++it;
                continue;
            }
            answer = it->call.createErrorReply(QString::fromLatin1(kNotConnected),
                                               LampGoneBeforeSent(c));
        } else if (*outcome == RequestOutcome::MainLampAcked) {
            answer = it->answer ? it->call.createReply(*it->answer) : it->call.createReply();
            if (it->made >= originMade) {
                originMade = it->made;
                origin = it->call.service();
            }
        } else if (*outcome == RequestOutcome::OthersOnly) {
            // Not done, as the main lamp is gone; but not nothing either.
            answer = it->call.createErrorReply(
                QString::fromLatin1(kNotConnected),
                QStringLiteral("the main lamp is gone; %1 other lamp(s) took the change")
                    .arg(othersTook));
        } else if (*outcome == RequestOutcome::NoLamp) {
            answer = it->call.createErrorReply(QString::fromLatin1(kNotConnected),
                                               QStringLiteral("no lamp took the change"));
        } else {
            answer = it->call.createErrorReply(
                QString::fromLatin1(kFailed), QStringLiteral("the lamp did not answer the change"));
        }
        it->connection.send(answer);
        it = waiting_.erase(it);
    }
    const QVariantMap now = State();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (announced_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    announced_ = now;
    if (changed.isEmpty() || !connection_) return;
    Announce(changed);
    emit StateChanged(++serial_, origin);
}

QList<int> LampService::Progress() const {
    const std::optional<BusyState::Progress> p = window_.WorkProgress();
    if (!p) return {};
    return {p->done, p->total};
}

void LampService::ProgressChanged() {
    const QVariant now = QVariant::fromValue(Progress());
    if (announced_.value(QStringLiteral("Progress")) == now) return;
    announced_.insert(QStringLiteral("Progress"), now);
    Announce({{QStringLiteral("Progress"), now}});
}

void LampService::Announce(const QVariantMap& changed) {
    if (!connection_) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kInterface) << changed << QStringList();
    connection_->send(signal);
}

// Presets.

namespace LampBus {
namespace {

// The 8-bit text of a name, or nothing when it holds a character beyond Latin-1, which no
// stored name can hold.
std::optional<std::string> Latin1Name(const QString& name) {
    for (const QChar c : name)
        if (c.unicode() > 0xFF) return std::nullopt;
    return name.toLatin1().toStdString();
}

}  // namespace

Checked<std::string> CheckPresetName(const QString& name) {
    const std::optional<std::string> text = Latin1Name(name);
    if (!text) return {std::nullopt, QStringLiteral("the name must be Latin-1 text")};
    const std::string trimmed = TrimPresetName(*text);
    if (trimmed.empty()) return {std::nullopt, QStringLiteral("the name is empty")};
    if (text->size() > kPresetNameLength) {
        return {std::nullopt,
                QStringLiteral("the name is longer than %1 characters").arg(kPresetNameLength)};
    }
    if (trimmed != *text)
        return {std::nullopt, QStringLiteral("the name has blanks at its start or end")};
    for (const char c : *text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return {std::nullopt, QStringLiteral("the name holds a control character")};
    }
    if (!SavablePresetName(*text))
        return {std::nullopt, QStringLiteral("the name must not start with '-' or '['")};
    return {*text, {}};
}

}  // namespace LampBus

QStringList LampService::PresetNames() const {
    // The store, not the box: the box is filled only once the main page shows.
    QStringList names;
    for (const std::string& name : window_.PresetNames()) names << QString::fromLatin1(name);
    return names;
}

void LampService::PresetsRefreshed() {
    const QStringList names = PresetNames();
    if (announced_.value("PresetNames") == names) return;
    announced_.insert("PresetNames", names);
    Announce({{"PresetNames", names}});
}

bool LampService::PresetRefused(bool needsLamp) {
    if (const QString busy = window_.BusyReason(); !busy.isEmpty()) return Refuse(kBusy, busy);
    if (needsLamp && RefusedWithoutLamp()) return true;
    // The window hides its settings box while the first channel is protected.
    return RefusedForFirstChannel();
}

void LampService::AnswerPreset(const PresetBox::Result& result) {
    if (!result.backupNotice.isEmpty()) {
        // The user at the window hears where the unreadable presets went; the dialog waits
        // until this call has been answered.
        QTimer::singleShot(0, this, [this, text = result.backupNotice] { window_.TellUser(text); });
    }
    if (result.outcome == PresetBox::Outcome::Failed) Refuse(kFailed, result.failure);
}

void LampService::StorePreset(const QString& name, bool replace) {
    const Checked<std::string> checked = CheckPresetName(name);
    if (!checked.value) {
        Refuse(kInvalidArgs, checked.refusal);
        return;
    }
    // Without a lamp the current record was never read from one: it would store zeros.
    if (PresetRefused(true)) return;
    const PresetBox::Result result = window_.StorePreset(*checked.value, replace);
    if (result.outcome == PresetBox::Outcome::Exists) {
        // Named both ways: the bus argument, and the client's option a user types.
        Refuse(kInvalidArgs, QStringLiteral("preset '%1' exists; pass replace to overwrite it "
                                            "(veltra-lampctl: --replace)")
                                 .arg(name));
        return;
    }
    AnswerPreset(result);
}

std::optional<std::string> LampService::StoredPreset(const QString& name) {
    const std::optional<std::string> text = Latin1Name(name);
    if (text && window_.HasPreset(*text)) return text;
    Refuse(kNoSuchPreset, QStringLiteral("no preset '%1'").arg(name));
    return std::nullopt;
}

void LampService::RecallPreset(const QString& name) {
    const std::optional<std::string> text = StoredPreset(name);
    if (!text || PresetRefused(true)) return;
    const std::uint64_t asked = window_.Lamp().Generation();
    if (window_.RecallPreset(*text).outcome == PresetBox::Outcome::NoSlot) {
        Refuse(kFirstChannelProtected,
               QStringLiteral("channel 0 takes no preset; select another channel first"));
        return;
    }
    AnswerWhenSent(asked);
}

void LampService::DeletePreset(const QString& name) {
    const std::optional<std::string> text = StoredPreset(name);
    if (!text || PresetRefused(false)) return;
    AnswerPreset(window_.DeletePreset(*text));
}
