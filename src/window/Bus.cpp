#include "window/Bus.h"

#include <QCheckBox>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "colour/Colorspro.h"
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "settings/Channelvalues.h"
#include "settings/Options.h"
#include "window/Gauges.h"
#include "window/Main.h"
#include "window/Pages.h"
#include "window/Presets.h"
#include "window/Refresh.h"

namespace LampBus {
namespace {

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

int IntensitySlider(double percent) {
    return static_cast<int>(std::lround(percent * 10.0));
}

Checked<Target> CheckTarget(const QVariantMap& request) {
    if (request.isEmpty()) return {std::nullopt, QStringLiteral("no value given")};
    struct Range {
        const char* key;
        double lo, hi;
        bool whole;
    };
    static const Range kRanges[] = {
        {"x", 0.01, 0.7, false},
        {"y", 0.01, 0.7, false},
        {"cct", kCctRange[0], kCctRange[1], true},
        {"lux", 10, 65535, true},
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

LampService::LampService(TForm1& form, QObject* parent) : QObject(parent), form_(form) {
    connect(&form_, &TForm1::LampReported, this, &LampService::Reported);
    connect(&form_.SettingsBox(), &PresetBox::Refreshed, this, &LampService::PresetsRefreshed);
    announced_ = State();
}

LampService::~LampService() {
    for (const Waiting& w : waiting_)
        w.connection.send(w.call.createErrorReply(QString::fromLatin1(kBusy),
                                                  QStringLiteral("the program is ending")));
    if (connection_) {
        if (!serviceName_.isEmpty()) connection_->unregisterService(serviceName_);
        connection_->unregisterObject(QString::fromLatin1(kPath));
    }
}

bool LampService::Register(QDBusConnection connection, bool claimName) {
    if (!connection.isConnected()) return false;
    if (!connection.registerObject(QString::fromLatin1(kPath), this,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllSignals |
                                       QDBusConnection::ExportAllProperties)) {
        return false;
    }
    if (claimName && !connection.registerService(QString::fromLatin1(kService))) {
        connection.unregisterObject(QString::fromLatin1(kPath));
        return false;
    }
    connection_ = connection;
    if (claimName) serviceName_ = QString::fromLatin1(kService);
    return true;
}

bool LampService::Connected() const {
    return form_.Controller()->IsConnected();
}
QString LampService::NoLampReason() const {
    return QString::fromLatin1(NoLampText(form_.Controller()->WhyNoLamp()));
}
int LampService::Channel() const {
    return form_.Controller()->CurrentSlot();
}
double LampService::X() const {
    return form_.Controller()->CurrentRecord().ColorValues[7] / 65535.0 - form_.State().OffsetX;
}
double LampService::Y() const {
    return form_.Controller()->CurrentRecord().ColorValues[8] / 65535.0 - form_.State().OffsetY;
}
int LampService::Cct() const {
    return form_.Controller()->CurrentRecord().ColorValues[6];
}
int LampService::Lux() const {
    return form_.Controller()->CurrentRecord().ColorValues[9];
}
double LampService::Intensity() const {
    return form_.State().ControlValues[7] / 10.0;
}
bool LampService::LampOff() const {
    return form_.Controller()->IsLampOff();
}
int LampService::SleepTimer() const {
    return form_.Controller()->GetTimeout();
}
bool LampService::Backlight() const {
    // The window ticks its "LCD backlight" box while the lamp's flag is clear.
    return !form_.Controller()->GetBacklightFlag();
}

QStringList LampService::LampSerials() const {
    QStringList serials;
    for (const auto& lamp : form_.Controller()->HeldLampIdentities())
        serials << QString::fromLatin1(lamp.Serial);
    return serials;
}
QStringList LampService::LampNames() const {
    QStringList names;
    for (const auto& lamp : form_.Controller()->HeldLampIdentities())
        names << QString::fromLatin1(lamp.Description);
    return names;
}
QStringList LampService::ChannelNames() const {
    ChannelListState list;
    for (int i = 0; i < static_cast<int>(list.names.size()); ++i)
        list.names[static_cast<std::size_t>(i)] = form_.Controller()->Channel(i).Name;
    list.firstChannelEditable = form_.Options()->GetBool("C1S");
    QStringList rows;
    for (int i = 0; i < static_cast<int>(list.names.size()); ++i) rows << ChannelListText(list, i);
    return rows;
}
qlonglong LampService::SleepTimerEnds() const {
    const CLampState& c = *form_.Controller();
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
    const std::array<float, 6> g = form_.Controller()->GetGamutTriangle();
    return {g.begin(), g.end()};
}
int LampService::Transition() const {
    if (!Connected()) return -1;
    return DecodeReported(form_.Controller()->CurrentRecord(), 0, 0).SpeedIndex;
}
QList<double> LampService::Temperatures() const {
    if (!Connected()) return {};
    // The poll fills two pages of sixteen; the controller's further entries never hold one.
    constexpr int kReported = 32;
    const auto t = form_.Controller()->GetTemperatures();
    return {t.begin(), t.begin() + kReported};
}

QVariantMap LampService::State() const {
    return {
        {"InterfaceVersion", InterfaceVersion()},
        {"Connected", Connected()},
        {"NoLampReason", NoLampReason()},
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
        {"PresetNames", PresetNames()},
    };
}

QVariantMap LampService::GetState() {
    return State();
}

bool LampService::Refuse(const char* error, const QString& text) {
    sendErrorReply(QString::fromLatin1(error), text);
    return true;
}

bool LampService::RefusedForState() {
    if (form_.Uploading()) return Refuse(kBusy, QStringLiteral("a display text upload is running"));
    if (!form_.Controller()->IsConnected() || form_.Controller()->IsFinished())
        return Refuse(kNotConnected, QStringLiteral("no lamp is connected"));
    return false;
}

void LampService::AnswerWhenSent() {
    setDelayedReply(true);
    const quint64 id = ++lastWaitId_;
    waiting_.push_back({message(), connection(), id});
    QTimer::singleShot(answerLimit_, this, [this, id] { AnswerLate(id); });
}

void LampService::AnswerLate(quint64 id) {
    const auto it = std::find_if(waiting_.begin(), waiting_.end(),
                                 [id](const Waiting& w) { return w.id == id; });
    if (it == waiting_.end()) return;
    const CLampState& c = *form_.Controller();
    const QDBusMessage error =
        !c.IsConnected() || c.IsFinished()
            ? it->call.createErrorReply(
                  QString::fromLatin1(kNotConnected),
                  QStringLiteral("the lamp went away before the change went out"))
            : it->call.createErrorReply(QString::fromLatin1(kFailed),
                                        QStringLiteral("the lamp did not take the change in time"));
    it->connection.send(error);
    waiting_.erase(it);
}

void LampService::SetTarget(const QVariantMap& target) {
    const Checked<Target> checked = CheckTarget(target);
    if (!checked.value) {
        Refuse(kInvalidArgs, checked.refusal);
        return;
    }
    if (RefusedForState()) return;
    if (FirstChannelProtected(form_.Controller()->CurrentSlot(), form_.Options()->GetBool("C1S"))) {
        Refuse(kBusy,
               QStringLiteral("the first channel is protected; select another channel first"));
        return;
    }
    Apply(*checked.value);
    AnswerWhenSent();
}

void LampService::Apply(const Target& t) {
    // The window's boxes and sliders take the values first, as a user would set them, and one
    // apply sends them all.
    if (t.Lux) {
        if (auto* box = form_.findChild<QLineEdit*>(QStringLiteral("Edit4")))
            box->setText(QString::number(*t.Lux));
    }
    if (t.Intensity) form_.State().ControlValues[7] = IntensitySlider(*t.Intensity);
    if (t.Speed) form_.State().SpeedIndex = *t.Speed;
    std::optional<Chromaticity> point;
    if (t.X) point = Chromaticity{static_cast<float>(*t.X), static_cast<float>(*t.Y)};
    if (t.Cct) point = LocusPoint(*t.Cct);
    if (point) {
        // A new colour point leaves direct mode, as the window's "Set" and "T2xy" do.
        if (auto* direct = form_.findChild<QCheckBox*>(QStringLiteral("CheckBox6"))) {
            const SuppressedHandlers quiet(form_.State());
            direct->setChecked(false);
        }
        form_.ApplyTarget(point->x, point->y, true, false);
    } else {
        form_.ApplyFromEdits(false);
    }
}

void LampService::SetXy(double x, double y) {
    SetTarget({{"x", x}, {"y", y}});
}
void LampService::SetCct(int kelvin) {
    SetTarget({{"cct", kelvin}});
}
void LampService::SetLux(int lux) {
    SetTarget({{"lux", lux}});
}
void LampService::SetIntensity(double percent) {
    SetTarget({{"intensity", percent}});
}

void LampService::SelectChannel(int channel) {
    // The window's list offers "Turned off" and channels 1 to 10, and nothing else.
    const Checked<int> n = CheckWhole(QStringLiteral("channel"), channel, 0, kListedChannels);
    if (!n.value) {
        Refuse(kInvalidArgs, n.refusal);
        return;
    }
    if (RefusedForState()) return;
    CLampState& c = *form_.Controller();
    // As a press on the list's rows: 0 turns the lamp off, another row turns it on there.
    if (*n.value == 0) {
        c.SetLampOff(true);
    } else {
        if (c.IsLampOff()) c.SetLampOff(false);
        c.RequestChannel(*n.value);
    }
    AnswerWhenSent();
}

void LampService::SetPower(bool on) {
    if (RefusedForState()) return;
    form_.Controller()->SetLampOff(!on);
    AnswerWhenSent();
}

void LampService::SetSleepTimer(int seconds) {
    const Checked<int> s =
        CheckWhole(QStringLiteral("seconds"), seconds, 0, CLampState::kMaxTimeout);
    if (!s.value) {
        Refuse(kInvalidArgs, s.refusal);
        return;
    }
    if (RefusedForState()) return;
    form_.Controller()->SetTimeout(*s.value);
    AnswerWhenSent();
}

void LampService::SetBacklight(bool on) {
    if (RefusedForState()) return;
    // The lamp's flag is the opposite of the window's box; a setting already there is not sent.
    if (Backlight() == on) return;
    form_.Controller()->ToggleBacklight();
    AnswerWhenSent();
}

void LampService::Reported() {
    CLampState& c = *form_.Controller();
    // A report with nothing left to send means every earlier request has gone out.
    QString origin;
    if (c.PendingChannel() < 0 && !c.PowerPending()) {
        for (const Waiting& w : waiting_) {
            w.connection.send(w.call.createReply());
            origin = w.call.service();
        }
        waiting_.clear();
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
    for (const std::string& name : form_.Presets()->SortedNames())
        names << QString::fromLatin1(name);
    return names;
}

void LampService::PresetsRefreshed() {
    const QStringList names = PresetNames();
    if (announced_.value("PresetNames") == names) return;
    announced_.insert("PresetNames", names);
    Announce({{"PresetNames", names}});
}

bool LampService::PresetRefused(bool needsLamp) {
    if (form_.Uploading()) return Refuse(kBusy, QStringLiteral("a display text upload is running"));
    if (needsLamp && (!form_.Controller()->IsConnected() || form_.Controller()->IsFinished()))
        return Refuse(kNotConnected, QStringLiteral("no lamp is connected"));
    // The window hides its settings box while the first channel is protected.
    if (FirstChannelProtected(form_.Controller()->CurrentSlot(), form_.Options()->GetBool("C1S")))
        return Refuse(kBusy, QStringLiteral("the first channel is protected; select another "
                                            "channel first"));
    return false;
}

void LampService::AnswerPreset(const PresetBox::Result& result) {
    if (!result.backupNotice.isEmpty()) {
        // The user at the window hears where the unreadable presets went; the dialog waits
        // until this call has been answered.
        QTimer::singleShot(0, &form_, [form = &form_, text = result.backupNotice] {
            if (form->ShowError) form->ShowError(text);
        });
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
    const PresetBox::Result result = form_.SettingsBox().Store(*checked.value, replace);
    if (result.outcome == PresetBox::Outcome::Exists) {
        Refuse(kInvalidArgs, QStringLiteral("preset '%1' exists; pass replace").arg(name));
        return;
    }
    AnswerPreset(result);
}

std::optional<std::string> LampService::StoredPreset(const QString& name) {
    const std::optional<std::string> text = Latin1Name(name);
    if (text && form_.SettingsBox().Contains(*text)) return text;
    Refuse(kNoSuchPreset, QStringLiteral("no preset '%1'").arg(name));
    return std::nullopt;
}

void LampService::RecallPreset(const QString& name) {
    const std::optional<std::string> text = StoredPreset(name);
    if (!text || PresetRefused(true)) return;
    PresetBox& box = form_.SettingsBox();
    if (box.Recall(*text).outcome == PresetBox::Outcome::NoSlot) {
        Refuse(kBusy, QStringLiteral("channel 0 takes no preset; select another channel first"));
        return;
    }
    AnswerWhenSent();
}

void LampService::DeletePreset(const QString& name) {
    const std::optional<std::string> text = StoredPreset(name);
    if (!text || PresetRefused(false)) return;
    AnswerPreset(form_.SettingsBox().Delete(*text));
}
