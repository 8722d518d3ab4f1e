#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Boxes.h"
#include "Buswindow.h"
#include "Stallframe.h"
#include "app/Setup.h"
#include "bus/Bus.h"
#include "colour/Expvalue.h"
#include "link/Clock.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "link/Lightinfo.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "window/Main.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(BusCheck, TargetsWithinTheWindowsRangesPass) {
    const LampBus::Checked<LampBus::Target> xy =
        LampBus::CheckTarget({{"x", 0.01}, {"y", 0.7}, {"lux", 65535u}, {"speed", 0}});
    ASSERT_TRUE(xy.value) << xy.refusal.toStdString();
    EXPECT_EQ(*xy.value->X, 0.01);
    EXPECT_EQ(*xy.value->Y, 0.7);
    EXPECT_EQ(*xy.value->Lux, 65535);
    EXPECT_EQ(*xy.value->Speed, 0);
    const auto cct = LampBus::CheckTarget({{"cct", 2500.0}, {"intensity", 100}});
    ASSERT_TRUE(cct.value) << cct.refusal.toStdString();
    EXPECT_EQ(*cct.value->Cct, 2500);
    EXPECT_FALSE(cct.value->X);
    EXPECT_EQ(*cct.value->Intensity, 100);
}

TEST(BusCheck, RefusesWhatIsNoLightValueAtAll) {
    const struct {
        const char* what;
        QVariantMap request;
    } cases[] = {
        {"empty", {}},
        {"unknown key", {{"brightness", 50}}},
        {"x alone", {{"x", 0.3}}},
        {"x NaN", {{"x", kNaN}, {"y", 0.3}}},
        {"y infinite", {{"x", 0.3}, {"y", kInf}}},
        {"x below", {{"x", -0.01}, {"y", 0.3}}},
        {"y above", {{"x", 0.3}, {"y", 1.01}}},
        {"x as text", {{"x", QStringLiteral("0.3")}, {"y", 0.3}}},
        {"xy and cct", {{"x", 0.3}, {"y", 0.3}, {"cct", 4000}}},
        {"cct zero", {{"cct", 0}}},
        {"cct above", {{"cct", LampBus::kHighestCct + 1}}},
        {"cct fraction", {{"cct", 4000.5}}},
        {"lux above", {{"lux", LampBus::kHighestLux + 1.0}}},
        {"lux negative", {{"lux", -1}}},
        {"intensity above", {{"intensity", 100.01}}},
        {"intensity NaN", {{"intensity", kNaN}}},
        {"speed above", {{"speed", 5}}},
        {"speed as truth", {{"speed", true}}},
    };
    for (const auto& c : cases) {
        const auto checked = LampBus::CheckTarget(c.request);
        EXPECT_FALSE(checked.value) << c.what;
        EXPECT_FALSE(checked.refusal.isEmpty()) << c.what;
    }
    EXPECT_FALSE(LampBus::CheckWhole("seconds", 601, 0, 600).value);
    EXPECT_FALSE(LampBus::CheckWhole("seconds", -1, 0, 600).value);
    EXPECT_EQ(*LampBus::CheckWhole("seconds", 600, 0, 600).value, 600);
}

TEST(BusCheck, PresetNamesTheBoxWouldAlterAreRefused) {
    const char* const refused[] = {
        "",         "   ",       " Reading", "Reading\t", "ABCDEFGHIJKLMNOP",
        "-Reading", "[Reading]", "Re\nad",   "Re\x7f",    nullptr,
    };
    for (const char* name : refused) {
        // The last case: a character beyond Latin-1, which the 8-bit file cannot hold.
        const QString text = name ? QString::fromLatin1(name) : QStringLiteral("Lamp \u0126");
        const auto checked = LampBus::CheckPresetName(text);
        EXPECT_FALSE(checked.value) << text.toStdString();
        EXPECT_FALSE(checked.refusal.isEmpty()) << text.toStdString();
    }
    for (const char* name : {"Reading", "ABCDEFGHIJKLMNO", "Night blue", "a-b]"}) {
        const auto checked = LampBus::CheckPresetName(QString::fromLatin1(name));
        ASSERT_TRUE(checked.value) << name << ": " << checked.refusal.toStdString();
        EXPECT_EQ(*checked.value, name);
    }
    EXPECT_EQ(LampBus::CheckPresetName(QStringLiteral("Caf\u00e9")).value.value_or(""), "Caf\xe9");
}

// Collects the names of the properties each PropertiesChanged announces.
class Announcements : public QObject {
    Q_OBJECT
  public:
    QStringList names;
    int lastLux = -1;
  public Q_SLOTS:
    void Changed(const QString& /*interface*/, const QVariantMap& changed, const QStringList&) {
        names += changed.keys();
        if (changed.contains("Lux")) lastLux = changed.value("Lux").toInt();
    }
};

// The window with its bus service, and a second connection as the client.
class BusTest : public BusWindowFixture {
  protected:
    // A lamp_ made beforehand is the one put on the bus; followers come after it.
    void Open(bool withLamp = true, int followers = 0) {
        OpenWindow(withLamp, followers);
        if (HasFatalFailure()) return;
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bus-test-client"));
        ASSERT_TRUE(client_->isConnected());
    }

    // As the program starts: the window and its service come up together and the service
    // answers while the lamp (its bytes taking their wire time) still connects. Returns the
    // moment Connected first reads true, so a call made then is the first a script can make.
    void OpenWhileConnecting() {
        SimLampOptions options;
        options.WireTimed = true;
        lamp_ = std::make_shared<SimLamp>(clock_, options);
        lampIndex_ = bus_.AddDevice("LED Lamp 1", "T0001", lamp_);
        ProgramFolders folders;
        folders.dataFolder = dir_.filePath("data");
        folders.logFile = dir_.filePath("log.txt");
        setup_ = std::make_unique<CSetup>(folders, &bus_, &clock_);
        ASSERT_TRUE(setup_->Loaded());
        form_ = std::make_unique<TForm1>(setup_->Form());
        form_->show();
        service_ = std::make_unique<LampService>(*form_);
        ASSERT_TRUE(service_->Register(QDBusConnection::sessionBus()));
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bus-test-client"));
        ASSERT_TRUE(client_->isConnected());
        ASSERT_FALSE(service_->Connected());
        ASSERT_TRUE(WaitFor([&] { return service_->Connected(); }));
    }

    void TearDown() override {
        BusWindowFixture::TearDown();
        client_.reset();
        QDBusConnection::disconnectFromBus("bus-test-client");
    }

    QDBusPendingCall Send(const QString& method, const QVariantList& args,
                          const QString& interface = LampBus::kInterface) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(LampBus::kService, LampBus::kPath, interface, method);
        m.setArguments(args);
        return client_->asyncCall(m);
    }

    // Returns once the client has received every announcement of what the controller did so
    // far: the bus delivers one connection's messages in order, so the signals sent before the
    // answer to a call arrive before it.
    void AllAnnounced() {
        Settle(*form_->Controller());
        Call("GetState");
        QApplication::processEvents();
    }

    // Calls and waits for the answer while the window's thread keeps serving.
    QDBusMessage Call(const QString& method, const QVariantList& args = {}) {
        QDBusPendingCall call = Send(method, args);
        EXPECT_TRUE(WaitFor([&] { return call.isFinished(); })) << method.toStdString();
        return call.reply();
    }

    // The state without the lamp's own readings, which move on by themselves.
    QVariantMap SteadyState() const {
        QVariantMap state = service_->State();
        state.remove("Temperatures");
        return state;
    }

    CChannel LampSlot(int n) const {
        CChannel c(n);
        c.DecodeBlock(lamp_->State().Slots[n]);
        return c;
    }

    std::unique_ptr<QDBusConnection> client_;
};

TEST_F(BusTest, InvalidInputsAreRefusedWithTheStateUnchanged) {
    Open();
    ASSERT_EQ(Call("SetCct", {4000}).type(), QDBusMessage::ReplyMessage);
    const QVariantMap before = SteadyState();
    const int slot = form_->Controller()->CurrentSlot();
    const CChannel lampBefore = LampSlot(slot);
    const QString luxBox = form_->findChild<QLineEdit*>("Edit4")->text();
    const struct {
        const char* method;
        QVariantList args;
        const char* error;  // null: any error
    } cases[] = {
        {"SetXy", {kNaN, 0.3}, LampBus::kInvalidArgs},
        {"SetXy", {0.3, kInf}, LampBus::kInvalidArgs},
        {"SetXy", {1.5, 0.3}, LampBus::kInvalidArgs},
        {"SetXy", {QStringLiteral("0.3"), QStringLiteral("0.3")}, nullptr},
        {"SetCct", {0}, LampBus::kInvalidArgs},
        {"SetLux", {-5}, LampBus::kInvalidArgs},
        {"SetIntensity", {-kInf}, LampBus::kInvalidArgs},
        {"SetIntensity", {101.0}, LampBus::kInvalidArgs},
        {"SetTarget",
         {QVariant::fromValue(QVariantMap{{"lux", 500}, {"x", QStringLiteral("a")}})},
         LampBus::kInvalidArgs},
        {"SelectChannel", {11}, LampBus::kInvalidArgs},
        {"SelectChannel", {20}, LampBus::kInvalidArgs},
        {"SelectChannel", {21}, LampBus::kInvalidArgs},
        {"SelectChannel", {-1}, LampBus::kInvalidArgs},
        {"SetSleepTimer", {601}, LampBus::kInvalidArgs},
        {"SetSleepTimer", {-5}, LampBus::kInvalidArgs},
        {"SetPower", {QStringLiteral("on")}, nullptr},
    };
    for (const auto& c : cases) {
        const QDBusMessage reply = Call(c.method, c.args);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << c.method;
        if (c.error) {
            EXPECT_EQ(reply.errorName(), c.error) << c.method;
        }
    }
    // Anything that slipped through would have been sent by the end of the next pass.
    Settle(*form_->Controller());
    EXPECT_EQ(SteadyState(), before);
    EXPECT_EQ(LampSlot(slot).ColorValues, lampBefore.ColorValues);
    EXPECT_EQ(form_->findChild<QLineEdit*>("Edit4")->text(), luxBox);
}

// A call takes the values it does not give from the window's boxes; a box holding no number
// sends nothing, and the caller hears so at once instead of an OK.
TEST_F(BusTest, ACallThatNeedsABoxHoldingNoNumberIsAnsweredFailedAndSendsNothing) {
    Open();
    ASSERT_EQ(Call("SetCct", {4000}).type(), QDBusMessage::ReplyMessage);
    Settle(*form_->Controller());
    const int slot = form_->Controller()->CurrentSlot();
    const CChannel lampBefore = LampSlot(slot);
    const QVariantMap withAll{{"lux", 500}, {"intensity", 50.0}, {"speed", 3}};
    auto withEvery = [&](QVariantMap t) {
        t.insert(withAll);
        return QVariantList{QVariant::fromValue(t)};
    };
    const struct {
        const char* box;
        const char* method;
        QVariantList args;
    } cases[] = {
        {"Edit4", "SetIntensity", {50.0}},
        {"Edit4", "SetXy", {0.35, 0.35}},
        {"Edit4", "SetCct", {5000}},
        {"Edit1", "SetLux", {500}},
        {"Edit2", "SetIntensity", {50.0}},
        // Refused with every value the call could set given: none of them may stay behind.
        {"Edit1", "SetTarget", withEvery({})},
        {"Edit2", "SetTarget", withEvery({})},
    };
    WindowState& state = form_->State();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.box) + " " + c.method);
        auto* box = form_->findChild<QLineEdit*>(c.box);
        const QString kept = box->text();
        box->setText(QStringLiteral("abc"));
        const QString luxBox = form_->findChild<QLineEdit*>("Edit4")->text();
        const int intensity = state.ControlValues[7];
        const int speed = state.SpeedIndex;
        const QDBusMessage reply = Call(c.method, c.args);
        EXPECT_EQ(reply.errorName().toStdString(), LampBus::kFailed);
        // A refused call leaves every control it could have set as it was.
        EXPECT_EQ(form_->findChild<QLineEdit*>("Edit4")->text(), luxBox);
        EXPECT_EQ(state.ControlValues[7], intensity);
        EXPECT_EQ(state.SpeedIndex, speed);
        Settle(*form_->Controller());
        EXPECT_EQ(LampSlot(slot).ColorValues, lampBefore.ColorValues);
        box->setText(kept);
    }
    // The window's next apply sends what it held before the refusals.
    ASSERT_EQ(Call("SetCct", {4000}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(LampSlot(slot).ColorValues, lampBefore.ColorValues);
    // Given in the call, the value the box lacks is not needed.
    form_->findChild<QLineEdit*>("Edit4")->setText(QStringLiteral("abc"));
    const QVariantMap target{{"cct", 5000}, {"lux", 600}};
    EXPECT_EQ(Call("SetTarget", {QVariant::fromValue(target)}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(LampSlot(slot).ColorValues[9], 600);
}

// A percentage is light: the same level whether the window's slider shows the "log" scale or
// not, and the property reports that level, not the slider's position.
TEST_F(BusTest, IntensityIsTheSameLightWithOrWithoutLog) {
    Open();
    auto* log = form_->findChild<QCheckBox*>("CheckBox4");
    std::vector<int> levels;
    for (const bool ticked : {false, true}) {
        log->setChecked(ticked);
        Settle(*form_->Controller());
        const QDBusMessage reply = Call("SetIntensity", {50.0});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const int level = LampSlot(form_->Controller()->CurrentSlot()).ColorValues[14];
        levels.push_back(level);
        EXPECT_NEAR(service_->Intensity(), 50.0, 0.3) << ticked;
        EXPECT_EQ(reply.arguments().value(0).toString(),
                  QString::asprintf("sent intensity %.1f %%", LevelPercent(level)));
    }
    EXPECT_EQ(levels[0], 32750);
    // The log scale's positions lie about 0.7 % apart at half light.
    EXPECT_NEAR(levels[1], levels[0], 32750 * 0.004);
}

// A value the lamp cannot take is carried out as the window would, and the answer says what
// went out instead.
TEST_F(BusTest, ConstrainedValuesAreSentAndTheAnswerSaysWhat) {
    Open();
    const auto answer = [this](const char* method, const QVariantList& args) {
        const QDBusMessage reply = Call(method, args);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toString().toStdString();
    };
    EXPECT_EQ(answer("SetXy", {0.33, 0.33}), "sent x 0.3300 y 0.3300");
    const std::string outside = answer("SetXy", {0.6, 0.6});
    const CChannel onLamp = LampSlot(form_->Controller()->CurrentSlot());
    EXPECT_EQ(outside,
              QString::asprintf("sent x %.4f y %.4f: constrained to the lamp's gamut",
                                onLamp.ColorValues[7] / 65535.0, onLamp.ColorValues[8] / 65535.0)
                  .toStdString());
    EXPECT_LT(onLamp.ColorValues[7], 0.5 * 65535);
    EXPECT_NE(answer("SetXy", {0.9, 0.005}).find(": held to 0.01..0.7; constrained"),
              std::string::npos);
    EXPECT_EQ(answer("SetCct", {20000}).rfind("sent 10000 K", 0), 0U);
    EXPECT_NE(answer("SetCct", {1000}).find(": held to 2500..10000 K"), std::string::npos);
    EXPECT_EQ(answer("SetLux", {5}), "sent 10 lx: held to 10..65535 lx");
    EXPECT_EQ(answer("SetLux", {70000}), "sent 65535 lx: held to 10..65535 lx");
    EXPECT_EQ(LampSlot(form_->Controller()->CurrentSlot()).ColorValues[9], 65535);
}

TEST_F(BusTest, BackToBackTargetsLeaveTheLastOnTheLamp) {
    Open();
    std::vector<QDBusPendingCall> calls;
    for (int k = 3000; k <= 6000; k += 500) {
        calls.push_back(Send("SetTarget", {QVariant::fromValue(QVariantMap{{"cct", k}})}));
    }
    calls.push_back(Send("SetLux", {777}));
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& c : calls)
            if (!c.isFinished()) return false;
        return true;
    }));
    for (const auto& c : calls) EXPECT_FALSE(c.isError()) << c.error().message().toStdString();
    // Answered means sent: the lamp already holds the last target.
    const CChannel onLamp = LampSlot(form_->Controller()->CurrentSlot());
    EXPECT_EQ(onLamp.ColorValues[9], 777);
    EXPECT_NEAR(onLamp.ColorValues[6], 6000, 2);
    EXPECT_EQ(service_->Lux(), 777);
    EXPECT_EQ(form_->findChild<QLineEdit*>("Edit4")->text().toStdString(), "777");
}

// Calls faster than the link: the lamp takes the newest target at each free moment rather
// than every one in turn, and no call is answered before its target or a later one went out.
TEST_F(BusTest, ABurstOfTargetsIsCoalescedAndEachAnsweredOnlyOnceSent) {
    Open();
    std::vector<QDBusPendingCall> calls;
    int answeredWhileHeld = -1;
    lamp_->ClearCommands();
    StallAtFrame(
        *lamp_, *form_,
        [](const SimLampCommand& c) { return c.Cmd == CLightInput::kCmdWriteChannel; },
        [&] {
            // The first target's write waits at the lamp while the rest come in.
            WaitFor([] { return false; }, 300);
            answeredWhileHeld = 0;
            for (const auto& c : calls) answeredWhileHeld += c.isFinished() ? 1 : 0;
        });
    constexpr int kCalls = 20;
    for (int i = 0; i < kCalls; ++i) calls.push_back(Send("SetXy", {0.30 + 0.005 * i, 0.33}));
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& c : calls)
            if (!c.isFinished()) return false;
        return true;
    }));
    lamp_->SetCommandHook(nullptr);
    for (const auto& c : calls) EXPECT_FALSE(c.isError()) << c.error().message().toStdString();
    EXPECT_EQ(answeredWhileHeld, 0);
    const CChannel onLamp = LampSlot(form_->Controller()->CurrentSlot());
    // The x of each record write, each record going out twice.
    std::vector<int> writes;
    for (const SimLampCommand& c : lamp_->Commands()) {
        if (c.Cmd != CLightInput::kCmdWriteChannel) continue;
        CChannel record;
        record.DecodeBlock(c.Data);
        if (writes.empty() || writes.back() != record.ColorValues[7])
            writes.push_back(record.ColorValues[7]);
    }
    ASSERT_FALSE(writes.empty());
    EXPECT_LT(writes.size(), 4U) << "the lamp was sent targets nobody waits for any more";
    EXPECT_EQ(writes.back(), onLamp.ColorValues[7]);
    EXPECT_NEAR(onLamp.ColorValues[7] / 65535.0, 0.30 + 0.005 * (kCalls - 1), 1e-4);
}

TEST_F(BusTest, EachTouchedPropertyIsAnnouncedOnce) {
    Open();
    ASSERT_EQ(Call("SetCct", {4000}).type(), QDBusMessage::ReplyMessage);
    Announcements seen;
    ASSERT_TRUE(client_->connect(LampBus::kService, LampBus::kPath,
                                 "org.freedesktop.DBus.Properties", "PropertiesChanged", &seen,
                                 SLOT(Changed(QString, QVariantMap, QStringList))));
    // Announcements of the earlier change have gone by.
    AllAnnounced();
    seen.names.clear();
    ASSERT_EQ(Call("SetLux", {650}).type(), QDBusMessage::ReplyMessage);
    AllAnnounced();
    EXPECT_EQ(seen.names.count("Lux"), 1) << seen.names.join(' ').toStdString();
    for (const QString& name : seen.names)
        EXPECT_EQ(seen.names.count(name), 1) << name.toStdString();
    EXPECT_FALSE(seen.names.contains("Channel"));
    EXPECT_FALSE(seen.names.contains("SleepTimer"));
    EXPECT_EQ(seen.lastLux, 650);
}

// Until the lamp has reported its temperatures there are none to show: the zeros the
// controller starts with are no readings, and a watcher's first line must not carry them.
TEST_F(BusTest, TemperaturesAreOnlyWhatTheLampReported) {
    lamp_ = std::make_shared<SimLamp>(clock_);
    lamp_->SetNoReplyTo(CLightInput::kCmdReadTemperatures, -1, true);
    Open();
    ASSERT_TRUE(form_->Controller()->IsConnected());
    EXPECT_TRUE(service_->Temperatures().isEmpty());
    EXPECT_TRUE(service_->State().value("Temperatures").value<QList<double>>().isEmpty());
    lamp_->SetNoReplyTo(CLightInput::kCmdReadTemperatures, -1, false);
    // A page asked for before the lamp answered again still fails; the poll after it reads both.
    ASSERT_TRUE(WaitFor([&] {
        const QList<double> t = service_->Temperatures();
        return !t.isEmpty() && t[0] > 0 && t[16] > 0;
    }));
}

TEST_F(BusTest, LampPropertiesHoldWhatTheLampReports) {
    // The lamp names its second channel in its information block.
    lamp_ = std::make_shared<SimLamp>(clock_);
    SimLamp::Page block = lamp_->ReadPage(CLightInput::kInfoPage);
    const std::string name = "Reading         ";
    std::copy(name.begin(), name.end(),
              block.begin() + CLightInfo::kChannelNamesOffset + CLightInfo::kChannelNameSize);
    lamp_->WritePage(CLightInput::kInfoPage, block);
    Open(true, 1);
    ASSERT_EQ(
        Call("SetTarget", {QVariant::fromValue(QVariantMap{{"cct", 4000}, {"speed", 3}})}).type(),
        QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("SetSleepTimer", {120}).type(), QDBusMessage::ReplyMessage);
    const qint64 sent = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(WaitFor([&] {
        const QList<double> t = service_->Temperatures();
        return !t.isEmpty() && t[0] > 0;
    }));

    // Read as a client reads them, through the bus.
    const QDBusMessage reply = Call("GetState");
    ASSERT_EQ(reply.arguments().size(), 1);
    const QVariantMap state = qdbus_cast<QVariantMap>(reply.arguments().at(0));
    auto get = [&]<typename T>(const char* key, T) { return qdbus_cast<T>(state.value(key)); };
    EXPECT_EQ(get("LampSerials", QStringList()), QStringList({"T0001", "T0002"}));
    EXPECT_EQ(get("LampNames", QStringList()), QStringList({"LED Lamp 1", "LED Lamp 2"}));
    const QStringList channels = get("ChannelNames", QStringList());
    // The list marks the channel just edited, as the window's list does.
    ASSERT_EQ(channels.size(), 11);
    EXPECT_EQ(channels.mid(0, 4),
              QStringList({"Turned off", "Channel 1*", "Reading", "Channel 3"}));
    EXPECT_NEAR(get("SleepTimerEnds", qlonglong()), sent + 120, 2);
    EXPECT_EQ(get("Transition", int()), 3);
    const QList<double> gamut = get("Gamut", QList<double>());
    EXPECT_EQ(gamut, QList<double>(SimLamp::kGamut.begin(), SimLamp::kGamut.end()));
    // Two pages of sixteen as the lamp sends them: its sensors step by a quarter degree within
    // a page, and the second page runs five degrees warmer.
    const QList<double> t = get("Temperatures", QList<double>());
    ASSERT_EQ(t.size(), 32);
    EXPECT_NEAR(t[1] - t[0], 0.25, 0.07);
    EXPECT_NEAR(t[16] - t[0], 5.0, 0.07);
    const QList<int> range = get("CctRange", QList<int>());
    // The temperatures the lamp is sent; SetCct holds others to them.
    ASSERT_EQ(range, QList<int>({2500, 10000}));

    // Switched off, the timer no longer runs out anywhere.
    ASSERT_EQ(Call("SetPower", {false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(service_->SleepTimerEnds(), 0);

    // Clients see the agreed signatures.
    const QDBusMessage introspection = [&] {
        QDBusPendingCall call = Send("Introspect", {}, "org.freedesktop.DBus.Introspectable");
        EXPECT_TRUE(WaitFor([&] { return call.isFinished(); }));
        return call.reply();
    }();
    ASSERT_EQ(introspection.arguments().size(), 1);
    const QString text = introspection.arguments().at(0).toString();
    const struct {
        const char* name;
        const char* type;
    } signatures[] = {
        {"LampSerials", "as"}, {"LampNames", "as"}, {"ChannelNames", "as"}, {"SleepTimerEnds", "x"},
        {"Gamut", "ad"},       {"Transition", "i"}, {"Temperatures", "ad"}, {"CctRange", "ai"},
    };
    for (const auto& p : signatures) {
        EXPECT_TRUE(text.contains(
            QStringLiteral(R"(<property name="%1" type="%2" access="read")").arg(p.name, p.type)))
            << p.name;
    }
}

TEST_F(BusTest, AChangeAnnouncesEachPropertyItTouchesOnce) {
    Open();
    Announcements seen;
    ASSERT_TRUE(client_->connect(LampBus::kService, LampBus::kPath,
                                 "org.freedesktop.DBus.Properties", "PropertiesChanged", &seen,
                                 SLOT(Changed(QString, QVariantMap, QStringList))));
    // The first channel request brings the lamp's own triangle and marks the channel's name
    // edited; the timer starts when sent.
    ASSERT_EQ(
        Call("SetTarget", {QVariant::fromValue(QVariantMap{{"cct", 5000}, {"speed", 2}})}).type(),
        QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("SetSleepTimer", {90}).type(), QDBusMessage::ReplyMessage);
    // The next status poll reads the lamp warmed by the new light.
    EXPECT_TRUE(WaitFor([&] { return seen.names.contains("Temperatures"); }, 5000));
    AllAnnounced();
    for (const char* name :
         {"Gamut", "Transition", "ChannelNames", "SleepTimer", "SleepTimerEnds", "Cct"})
        EXPECT_EQ(seen.names.count(name), 1) << name << ": " << seen.names.join(' ').toStdString();
    for (const QString& name : seen.names)
        EXPECT_EQ(seen.names.count(name), 1) << name.toStdString();
    for (const char* name : {"LampSerials", "LampNames", "CctRange"})
        EXPECT_FALSE(seen.names.contains(name)) << name;
}

// Holds the controller in its status poll, waiting for a reply the lamp never sends, so that a
// change asked for meanwhile cannot go out.
class BusStallTest : public BusTest {
  protected:
    void StallPoll() {
        lamp_->ClearCommands();
        lamp_->SetNoReplyTo(CLightInput::kCmdState, 1, true);
        ASSERT_TRUE(WaitFor([&] {
            for (const SimLampCommand& c : lamp_->Commands())
                if (c.Cmd == CLightInput::kCmdState && c.Cd1 == 1) return true;
            return false;
        }));
    }
};

TEST_F(BusStallTest, ACallStillUnconfirmedAtItsLimitIsNotToldItFailed) {
    Open();
    service_->SetAnswerLimit(std::chrono::milliseconds(300));
    StallPoll();
    const QDBusMessage reply = Call("SetSleepTimer", {120});
    // The change is on its way: the answer says so rather than that it failed.
    EXPECT_EQ(reply.errorName(), LampBus::kUnconfirmed);
    // And so it is: once the lamp answers again, it takes the change.
    lamp_->SetNoReplyTo(CLightInput::kCmdState, 1, false);
    EXPECT_TRUE(WaitFor([&] { return lamp_->State().TimerSeconds == 120; }));
}

TEST_F(BusStallTest, ACallWaitingWhenTheLampGoesIsAnsweredNotConnected) {
    Open();
    service_->SetAnswerLimit(std::chrono::milliseconds(2000));
    StallPoll();
    QDBusPendingCall call = Send("SetSleepTimer", {120});
    ASSERT_TRUE(WaitFor([&] { return form_->Controller()->PowerPending(); }));
    bus_.Unplug(lampIndex_);
    ASSERT_TRUE(WaitFor([&] { return call.isFinished(); }));
    EXPECT_EQ(call.reply().errorName(), LampBus::kNotConnected);
    EXPECT_TRUE(call.reply().errorMessage().contains("goes out when the lamp is back"))
        << call.reply().errorMessage().toStdString();
    EXPECT_FALSE(service_->Connected());
    // And so it does.
    lamp_->SetNoReplyTo(CLightInput::kCmdState, 1, false);
    bus_.Replug(lampIndex_);
    EXPECT_TRUE(WaitFor([&] { return lamp_->State().TimerSeconds == 120; }));
}

TEST_F(BusTest, ABacklightAlreadyAskedForIsNotAnsweredOkUntilTheLampTookIt) {
    Open();
    const bool on = !service_->Backlight();
    // The lamp does not answer the power frame that carries the flag.
    lamp_->SetNoReplyTo(CLightInput::kCmdPower, 1, true);
    EXPECT_EQ(Call("SetBacklight", {on}).errorName(), LampBus::kFailed);
    // Asked again, the flag the controller holds is the one asked for, but the lamp never
    // confirmed it: the call is sent, not answered OK at once.
    EXPECT_EQ(Call("SetBacklight", {on}).errorName(), LampBus::kFailed);
    lamp_->SetNoReplyTo(CLightInput::kCmdPower, 1, false);
    ASSERT_EQ(Call("SetBacklight", {on}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(lamp_->State().Backlight, !on);
    // Confirmed, it is answered at once.
    lamp_->ClearCommands();
    ASSERT_EQ(Call("SetBacklight", {on}).type(), QDBusMessage::ReplyMessage);
    for (const SimLampCommand& c : lamp_->Commands()) EXPECT_NE(c.Cmd, CLightInput::kCmdPower);
}

TEST_F(BusTest, AChangeTheLampNeverTookIsNotAnsweredAsDone) {
    Open();
    // The cable is pulled just as the channel choice reaches the lamp, before the controller
    // has noticed the lamp gone.
    lamp_->UnplugAt(
        [](const SimLampCommand& c) { return c.Cmd == CLightInput::kCmdSelectChannel; });
    const QDBusMessage reply = Call("SelectChannel", {4});
    ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_TRUE(reply.errorName() == LampBus::kFailed ||
                reply.errorName() == LampBus::kNotConnected)
        << reply.errorName().toStdString();
}

// A script that waits for Connected and acts the same moment: each call is refused with a
// reason, or its change is on the lamp and in the state once the controller has settled.
TEST_F(BusTest, ACallTheMomentConnectedReadsTrueIsRefusedOrHolds) {
    const struct {
        const char* method;
        QVariantList args;
        // What the state shows once the change holds.
        std::function<void(const LampService&, const CChannel& onLamp)> holds;
    } cases[] = {
        {"SetCct",
         {4000},
         [](const LampService& s, const CChannel& onLamp) {
             EXPECT_NEAR(s.Cct(), 4000, 2);
             EXPECT_NEAR(onLamp.ColorValues[6], 4000, 2);
         }},
        {"SetXy",
         {0.3, 0.35},
         [](const LampService& s, const CChannel&) {
             EXPECT_NEAR(s.X(), 0.3, 1e-3);
             EXPECT_NEAR(s.Y(), 0.35, 1e-3);
         }},
        {"SetIntensity",
         {37.5},
         [](const LampService& s, const CChannel&) { EXPECT_EQ(s.Intensity(), 37.5); }},
        {"SetLux",
         {432},
         [](const LampService& s, const CChannel& onLamp) {
             EXPECT_EQ(s.Lux(), 432);
             EXPECT_EQ(onLamp.ColorValues[9], 432);
         }},
        {"StorePreset",
         {"Early", false},
         [this](const LampService&, const CChannel& onLamp) {
             const CChannel* stored = nullptr;
             for (const CChannel& c : form_->Presets()->Records())
                 if (c.Name == "Early") stored = &c;
             ASSERT_NE(stored, nullptr);
             EXPECT_EQ(stored->ColorValues, onLamp.ColorValues);
         }},
        {"RecallPreset",
         {"Evening"},
         [](const LampService& s, const CChannel& onLamp) {
             EXPECT_EQ(s.Cct(), 3300);
             EXPECT_EQ(onLamp.ColorValues[6], 3300);
             EXPECT_EQ(onLamp.ColorValues[9], 345);
         }},
        {"SelectChannel",
         {4},
         [](const LampService& s, const CChannel&) { EXPECT_EQ(s.Channel(), 4); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        ASSERT_TRUE(WriteFile(dir_.filePath("data/values.xml"),
                              "<VALUES><VALUE><NAME>Evening</NAME>"
                              "<COLOR6><VALUE>3300</VALUE></COLOR6>"
                              "<COLOR7><VALUE>27500</VALUE></COLOR7>"
                              "<COLOR8><VALUE>26500</VALUE></COLOR8>"
                              "<COLOR9><VALUE>345</VALUE></COLOR9>"
                              "<COLOR14><VALUE>30000</VALUE></COLOR14></VALUE></VALUES>"));
        OpenWhileConnecting();
        if (HasFatalFailure()) return;
        // The lamp's own channel, never the placeholder before it was read.
        EXPECT_EQ(service_->Channel(), lamp_->State().CurrentChannel);
        const QDBusMessage reply = Call(c.method, c.args);
        Settle(*form_->Controller());
        if (reply.type() == QDBusMessage::ErrorMessage) {
            EXPECT_FALSE(reply.errorMessage().isEmpty()) << reply.errorName().toStdString();
        } else {
            // The lamp, the controller and the bus agree on where the lamp is and what it holds.
            const int slot = lamp_->State().CurrentChannel;
            EXPECT_EQ(service_->Channel(), slot);
            const CChannel onLamp = LampSlot(slot);
            EXPECT_EQ(form_->Controller()->CurrentRecord().ColorValues, onLamp.ColorValues);
            c.holds(*service_, onLamp);
        }
        TearDown();
        bus_.Unplug(lampIndex_);
        lamp_.reset();
    }
}

// Channel 0 is the list's "Turned off" row; the channels the list shows select as its rows do.
TEST_F(BusTest, ChannelZeroTurnsTheLampOffAndAListedChannelTurnsItOn) {
    Open();
    ASSERT_EQ(Call("SelectChannel", {3}).type(), QDBusMessage::ReplyMessage);
    const CChannel three = form_->Controller()->CurrentRecord();
    ASSERT_EQ(Call("SelectChannel", {0}).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(service_->LampOff());
    EXPECT_TRUE(lamp_->State().Off);
    EXPECT_EQ(service_->Channel(), 3);
    EXPECT_EQ(form_->Controller()->CurrentRecord(), three);
    ASSERT_EQ(Call("SelectChannel", {10}).type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(service_->LampOff());
    EXPECT_FALSE(lamp_->State().Off);
    EXPECT_EQ(service_->Channel(), 10);
    EXPECT_EQ(lamp_->State().CurrentChannel, 10);
}

TEST_F(BusTest, WithoutALampCallsAnswerNotConnected) {
    Open(false);
    const QDBusMessage reply = Call("SetCct", {4000});
    EXPECT_EQ(reply.errorName(), LampBus::kNotConnected);
    // No record was read from a lamp, so there is nothing to store.
    EXPECT_EQ(Call("StorePreset", {"Empty", false}).errorName(), LampBus::kNotConnected);
    EXPECT_TRUE(form_->Presets()->Records().empty());
    EXPECT_TRUE(service_->PresetNames().isEmpty());
    EXPECT_FALSE(service_->Connected());
    EXPECT_EQ(Call("GetState").arguments().size(), 1);
    // The bus says why, in the window's words.
    const QVariantMap state =
        qdbus_cast<QVariantMap>(Call("GetState").arguments().value(0).value<QDBusArgument>());
    EXPECT_EQ(state.value("NoLampReason").toString(), "No lamp connected: none found.");
    QDBusPendingCall get = Send("Get", {QString::fromLatin1(LampBus::kInterface), "NoLampReason"},
                                "org.freedesktop.DBus.Properties");
    ASSERT_TRUE(WaitFor([&] { return get.isFinished(); }));
    EXPECT_EQ(get.reply().arguments().value(0).value<QDBusVariant>().variant().toString(),
              "No lamp connected: none found.");
}

// The preset box's entries after its separator.
QStringList BoxNames(const TForm1& form) {
    const auto* box = form.findChild<QComboBox*>("ComboBox3");
    QStringList names;
    for (int i = 1; i < box->count(); ++i) names << box->itemText(i);
    return names;
}

const CChannel* Stored(const TForm1& form, const std::string& name) {
    for (const CChannel& c : form.Presets()->Records())
        if (c.Name == name) return &c;
    return nullptr;
}

// Before the main page fills the window's box, and without a bus to serve.
TEST(PresetService, NamesComeFromTheStoreFromTheStart) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("data"));
    ASSERT_TRUE(WriteFile(dir.filePath("data/options.xml"), "<OPTIONS><C1S>1</C1S></OPTIONS>"));
    ASSERT_TRUE(WriteFile(dir.filePath("data/values.xml"),
                          "<VALUES><VALUE><NAME>Night</NAME></VALUE><VALUE><NAME>Day</NAME></VALUE>"
                          "<VALUE><NAME></NAME></VALUE></VALUES>"));
    SimBus none;
    CSetup setup({dir.filePath("data"), dir.filePath("log.txt")}, &none);
    ASSERT_TRUE(setup.Loaded());
    TForm1 form(setup.Form());
    const LampService service(form);
    ASSERT_NE(form.CurrentPage(), Page::Main);
    EXPECT_EQ(service.PresetNames(), (QStringList{"Day", "Night"}));
    EXPECT_EQ(service.State().value("PresetNames").toStringList(), (QStringList{"Day", "Night"}));
}

TEST_F(BusTest, StoredPresetShowsInTheBoxAndReplacingIsAskedFor) {
    Open();
    Announcements seen;
    ASSERT_TRUE(client_->connect(LampBus::kService, LampBus::kPath,
                                 "org.freedesktop.DBus.Properties", "PropertiesChanged", &seen,
                                 SLOT(Changed(QString, QVariantMap, QStringList))));
    ASSERT_EQ(Call("SetLux", {300}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("StorePreset", {"Reading", false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(BoxNames(*form_), QStringList{"Reading"});
    EXPECT_EQ(service_->PresetNames(), QStringList{"Reading"});
    EXPECT_EQ(form_->findChild<QComboBox*>("ComboBox3")->currentText(), "Reading");
    ASSERT_NE(Stored(*form_, "Reading"), nullptr);
    EXPECT_EQ(Stored(*form_, "Reading")->ColorValues[9], 300);
    EXPECT_TRUE(WaitFor([&] { return seen.names.contains("PresetNames"); }, 2000));

    // An existing name is replaced only when the caller says so.
    ASSERT_EQ(Call("SetLux", {500}).type(), QDBusMessage::ReplyMessage);
    const QDBusMessage refused = Call("StorePreset", {"Reading", false});
    EXPECT_EQ(refused.errorName(), LampBus::kInvalidArgs);
    EXPECT_TRUE(refused.errorMessage().contains("Reading"));
    EXPECT_EQ(Stored(*form_, "Reading")->ColorValues[9], 300);
    ASSERT_EQ(Call("StorePreset", {"Reading", true}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(Stored(*form_, "Reading")->ColorValues[9], 500);
    EXPECT_EQ(form_->Presets()->Records().size(), 1u);

    // A name the window would trim or cut is refused, not stored under another name.
    EXPECT_EQ(Call("StorePreset", {" Night", false}).errorName(), LampBus::kInvalidArgs);
    EXPECT_EQ(Call("StorePreset", {"Night", QStringLiteral("yes")}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(BoxNames(*form_), QStringList{"Reading"});
    EXPECT_EQ(seen.names.count("PresetNames"), 1) << seen.names.join(' ').toStdString();
}

TEST_F(BusTest, RecallAnswersOnceSentAndUnknownNamesChangeNothing) {
    Open();
    ASSERT_EQ(Call("SetLux", {420}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("StorePreset", {"Reading", false}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("SetLux", {900}).type(), QDBusMessage::ReplyMessage);
    const int slot = form_->Controller()->CurrentSlot();
    ASSERT_EQ(LampSlot(slot).ColorValues[9], 900);

    // The lamp holds the preset by the time the call is answered; the window shows it.
    ASSERT_EQ(Call("RecallPreset", {"Reading"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(LampSlot(slot).ColorValues[9], 420);
    EXPECT_EQ(form_->Controller()->CurrentRecord().Name, "Reading");
    EXPECT_EQ(form_->findChild<QComboBox*>("ComboBox3")->currentText(), "Reading");

    ASSERT_EQ(Call("SetLux", {900}).type(), QDBusMessage::ReplyMessage);
    const QVariantMap before = SteadyState();
    const CChannel lampBefore = LampSlot(slot);
    const QByteArray fileBefore = [&] {
        QFile f(QFile::decodeName(form_->Presets()->FilePath().c_str()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const struct {
        const char* method;
        QString name;
    } cases[] = {
        {"RecallPreset", "Nothing"}, {"RecallPreset", "reading"},  // names are case-sensitive
        {"RecallPreset", ""},        {"RecallPreset", QStringLiteral("Reading\u0126")},
        {"DeletePreset", "Nothing"}, {"DeletePreset", "READING"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Call(c.method, {c.name}).errorName(), LampBus::kNoSuchPreset)
            << c.method << " " << c.name.toStdString();
    }
    Settle(*form_->Controller());
    EXPECT_EQ(SteadyState(), before);
    EXPECT_EQ(LampSlot(slot), lampBefore);
    QFile file(QFile::decodeName(form_->Presets()->FilePath().c_str()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), fileBefore);

    // Slot 0 takes no preset, in the window or from outside: refused, not answered as done.
    // The bus has no way to slot 0 (its 0 turns the lamp off), a lamp may still report it.
    form_->Controller()->RequestChannel(0);
    ASSERT_TRUE(WaitFor([&] {
        return form_->Controller()->CurrentSlot() == 0 && form_->Controller()->PendingChannel() < 0;
    }));
    const CChannel slot0 = form_->Controller()->CurrentRecord();
    EXPECT_EQ(Call("RecallPreset", {"Reading"}).errorName(), LampBus::kBusy);
    EXPECT_EQ(form_->Controller()->CurrentRecord(), slot0);
}

TEST_F(BusTest, DeleteRemovesFromBoxAndFileAndAFailedSaveIsNamed) {
    Open();
    ASSERT_EQ(Call("StorePreset", {"Reading", false}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("StorePreset", {"Night", false}).type(), QDBusMessage::ReplyMessage);
    const QString path = QFile::decodeName(form_->Presets()->FilePath().c_str());
    auto fileText = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    };
    ASSERT_TRUE(fileText().contains("Reading"));

    ASSERT_EQ(Call("DeletePreset", {"Reading"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(BoxNames(*form_), QStringList{"Night"});
    EXPECT_EQ(service_->PresetNames(), QStringList{"Night"});
    EXPECT_FALSE(fileText().contains("Reading"));
    EXPECT_TRUE(fileText().contains("Night"));

    // A values.xml that cannot be replaced: the caller hears why, and a failed delete keeps
    // the preset, as the file still holds it.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkpath(path + "/keep"));
    // A failed store changes nothing: the current record keeps its name and no name is written
    // to the lamp.
    const std::string named = form_->Controller()->CurrentRecord().Name;
    const std::uint64_t asked = form_->Controller()->Generation();
    EXPECT_EQ(Call("StorePreset", {"Evening", false}).errorName(), LampBus::kFailed);
    EXPECT_EQ(form_->Controller()->CurrentRecord().Name, named);
    EXPECT_EQ(form_->Controller()->Generation(), asked);
    for (const char* method : {"StorePreset", "DeletePreset"}) {
        const QDBusMessage reply = std::string(method) == "StorePreset"
                                       ? Call(method, {"Evening", false})
                                       : Call(method, {"Night"});
        EXPECT_EQ(reply.errorName(), LampBus::kFailed) << method;
        EXPECT_TRUE(reply.errorMessage().contains(path)) << reply.errorMessage().toStdString();
    }
    EXPECT_NE(Stored(*form_, "Night"), nullptr);
    // A failed store lists nothing the file does not hold.
    EXPECT_EQ(Stored(*form_, "Evening"), nullptr);
    EXPECT_EQ(service_->PresetNames(), QStringList{"Night"});
    EXPECT_EQ(BoxNames(*form_), QStringList{"Night"});
}

// Presets that load, but saved in the program's own layout would make a file larger than the
// program reads back: each store is refused, and the caller and the window's box say why.
TEST_F(BusTest, AStoreTooLargeToSaveSaysWhy) {
    std::string entry = "<VALUE>";
    for (int i = 0; i < 16; ++i) {
        const std::string tag = "COLOR" + std::to_string(i);
        entry += "<" + tag + "><VALUE>40000</VALUE></" + tag + ">";
    }
    entry += "</VALUE>";
    std::string bytes = "<VALUES>";
    while (bytes.size() + entry.size() < (std::size_t{24} << 20)) bytes += entry;
    bytes += "</VALUES>";
    ASSERT_TRUE(WriteFile(dir_.filePath("data/values.xml"), QByteArray::fromStdString(bytes)));
    Open();
    const QDBusMessage reply = Call("StorePreset", {"Evening", false});
    EXPECT_EQ(reply.errorName(), LampBus::kFailed);
    EXPECT_TRUE(reply.errorMessage().contains("larger than 32 MB"))
        << reply.errorMessage().toStdString();
    QString shown;
    form_->ShowError = [&](const QString& text) { shown = text; };
    form_->findChild<QComboBox*>("ComboBox3")->setEditText("Night");
    form_->findChild<QAbstractButton*>("Button2")->click();
    EXPECT_EQ(shown, reply.errorMessage());
}

// The window busy with long work, a question or a file dialog: every call that would change the
// lamp or the presets is answered Busy at once, never served into the middle of it.
class BusBusyTest : public BusTest {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(WriteFile(dir_.filePath("data/options.xml"),
                              "<OPTIONS><SIMULATE>1</SIMULATE><SPEED>38400</SPEED><C1S>1</C1S>"
                              "<LANG><ITEMS>6</ITEMS><OFFSET_Y>20</OFFSET_Y></LANG></OPTIONS>\n"));
        adjustForm_ = [this](FormSetup& form) {
            form.chooseLanguageFile = [this] { return languageFile_; };
            form.chooseCoefficientFile = [this] {
                if (onChoose_) onChoose_();
                return coefficientFile_;
            };
        };
    }

    // Sends every call that changes something at once and expects each answered Busy within a
    // moment; reading the state is still served.
    void ExpectBusy(const char* when) {
        SCOPED_TRACE(when);
        ++busyChecks_;
        const struct {
            const char* method;
            QVariantList args;
        } calls[] = {
            {"SetLux", {300}},
            {"SetXy", {0.3, 0.3}},
            {"SelectChannel", {4}},
            {"SetPower", {false}},
            {"SetSleepTimer", {60}},
            {"SetBacklight", {!service_->Backlight()}},
            {"StorePreset", {"Evening", true}},
            {"RecallPreset", {"Reading"}},
            {"DeletePreset", {"Reading"}},
        };
        std::vector<QDBusPendingCall> pending;
        for (const auto& c : calls) pending.push_back(Send(c.method, c.args));
        for (std::size_t i = 0; i < pending.size(); ++i) {
            ASSERT_TRUE(WaitFor([&] { return pending[i].isFinished(); }, 2000)) << calls[i].method;
            EXPECT_EQ(pending[i].reply().errorName(), LampBus::kBusy) << calls[i].method;
        }
        EXPECT_EQ(Call("GetState").type(), QDBusMessage::ReplyMessage);
    }

    // Runs `during` inside the first box the program shows from now on, then closes the box:
    // the program's own box, not a replaced dialog function.
    void WhileABoxIsOpen(std::function<void()> during) {
        auto* poll = new QTimer(form_.get());
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, form_.get(), [poll, during = std::move(during)] {
            QWidget* box = OpenBox();
            if (box == nullptr) return;
            poll->stop();
            poll->deleteLater();
            during();
            box->close();
        });
        poll->start();
    }

    int busyChecks_ = 0;
    QString languageFile_;
    QString coefficientFile_;
    std::function<void()> onChoose_;
};

TEST_F(BusBusyTest, ChangesAreRefusedBusyDuringLongWorkQuestionsAndFileDialogs) {
    Open();
    ASSERT_EQ(Call("SetLux", {300}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(Call("StorePreset", {"Reading", false}).type(), QDBusMessage::ReplyMessage);
    const QByteArray presetsBefore = [&] {
        QFile f(QFile::decodeName(form_->Presets()->FilePath().c_str()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    // A display text upload, caught at its second block.
    QImage picture(160, 140, QImage::Format_RGB32);
    picture.fill(Qt::white);
    languageFile_ = dir_.filePath("texts.bmp");
    ASSERT_TRUE(picture.save(languageFile_, "BMP"));
    StallAtFrame(*lamp_, *form_, SelectingPage(421), [&] { ExpectBusy("during an upload"); });
    form_->findChild<QAbstractButton*>("Button1")->click();
    EXPECT_EQ(busyChecks_, 1);

    // A coefficient write, caught as the controller writes the lamp's area.
    coefficientFile_ = dir_.filePath("table.txt");
    ASSERT_TRUE(WriteFile(coefficientFile_, "1\t2\t3\n"));
    StallAtFrame(*lamp_, *form_, SelectingPage(257),
                 [&] { ExpectBusy("during a coefficient write"); });
    form_->ShowPage(Page::Coefficient);
    form_->findChild<QAbstractButton*>("Button9")->click();
    ASSERT_TRUE(WaitFor([&] { return busyChecks_ == 2; }));
    ASSERT_TRUE(WaitFor([&] { return form_->BusyReason().isEmpty(); }));
    lamp_->SetCommandHook(nullptr);

    // A file dialog.
    coefficientFile_.clear();
    onChoose_ = [&] { ExpectBusy("during a file dialog"); };
    form_->ShowPage(Page::Coefficient);
    form_->findChild<QAbstractButton*>("Button9")->click();
    EXPECT_EQ(busyChecks_, 3);
    onChoose_ = nullptr;

    QFile presets(QFile::decodeName(form_->Presets()->FilePath().c_str()));
    ASSERT_TRUE(presets.open(QIODevice::ReadOnly));
    EXPECT_EQ(presets.readAll(), presetsBefore);
    presets.close();

    // The "Replace?" question: the preset gets the record the user named, even when the lamp
    // moves to another channel while the question is open.
    form_->ShowPage(Page::Main);
    ASSERT_EQ(Call("SetLux", {500}).type(), QDBusMessage::ReplyMessage);
    const int slot = form_->Controller()->CurrentSlot();
    const int other = slot == 5 ? 6 : 5;
    const CChannel named = form_->Controller()->CurrentRecord();
    ASSERT_NE(form_->Controller()->Channel(other).ColorValues, named.ColorValues);
    int asked = 0;
    form_->AskQuestion = [&](const QString& text) {
        ++asked;
        EXPECT_EQ(text, "Replace? Reading");
        ExpectBusy("during a question");
        form_->Controller()->RequestChannel(other);
        EXPECT_TRUE(WaitFor([&] {
            return form_->Controller()->CurrentSlot() == other &&
                   form_->Controller()->PendingChannel() == -1;
        }));
        return true;
    };
    auto* box = form_->findChild<QComboBox*>("ComboBox3");
    box->setEditText("Reading");
    form_->findChild<QAbstractButton*>("Button2")->click();
    EXPECT_EQ(asked, 1);
    ASSERT_NE(Stored(*form_, "Reading"), nullptr);
    EXPECT_EQ(Stored(*form_, "Reading")->ColorValues, named.ColorValues);
    EXPECT_EQ(Stored(*form_, "Reading")->ColorValues[9], 500);

    // Once nothing holds the window, changes are served again.
    EXPECT_EQ(Call("SetLux", {420}).type(), QDBusMessage::ReplyMessage);
}

// The notice the program opens by itself after it kept a damaged values.xml, and its error box:
// while one is open, every change is refused Busy at once.
TEST_F(BusBusyTest, TheProgramsOwnBoxesCountAsBusy) {
    // The second preset's raw "<" ends the read there; the first is read.
    ASSERT_TRUE(WriteFile(dir_.filePath("data/values.xml"),
                          "<VALUES><VALUE><NAME>Reading</NAME></VALUE>"
                          "<VALUE><NAME>a<b</NAME></VALUE></VALUES>"));
    Open();
    WhileABoxIsOpen([&] { ExpectBusy("while the notice is open"); });
    ASSERT_EQ(Call("StorePreset", {"Evening", false}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitFor([&] { return busyChecks_ == 1; }));

    // The window's Save cannot write values.xml: its error box.
    const QString path = QFile::decodeName(form_->Presets()->FilePath().c_str());
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkpath(path + "/keep"));
    WhileABoxIsOpen([&] { ExpectBusy("while the error box is open"); });
    form_->findChild<QComboBox*>("ComboBox3")->setEditText("Night");
    form_->findChild<QAbstractButton*>("Button2")->click();
    EXPECT_EQ(busyChecks_, 2);
    EXPECT_EQ(Call("SetLux", {420}).type(), QDBusMessage::ReplyMessage);
}

// A call already waiting when a box opens is answered from what became of its change, while the
// box is still open, not after it closes.
TEST_F(BusBusyTest, ACallWaitingWhenABoxOpensIsAnsweredWhileItIsOpen) {
    Open();
    std::optional<QDBusPendingCall> call;
    bool answeredWhileOpen = false;
    // The box opens while the lamp takes the call's record, before the controller has reported.
    StallAtFrame(
        *lamp_, *form_,
        [](const SimLampCommand& c) { return c.Cmd == CLightInput::kCmdWriteChannel; },
        [&] {
            QTimer::singleShot(0, form_.get(),
                               [&] { form_->TellUser(QStringLiteral("Something to say")); });
            WhileABoxIsOpen(
                [&] { answeredWhileOpen = WaitFor([&] { return call->isFinished(); }, 5000); });
        });
    call = Send("SetCct", {4000});
    ASSERT_TRUE(WaitFor([&] { return call->isFinished(); }));
    lamp_->SetCommandHook(nullptr);
    EXPECT_TRUE(answeredWhileOpen);
    EXPECT_EQ(call->reply().type(), QDBusMessage::ReplyMessage)
        << call->reply().errorMessage().toStdString();
    EXPECT_NEAR(LampSlot(form_->Controller()->CurrentSlot()).ColorValues[6], 4000, 2);
}

}  // namespace

#include "BusTest.moc"
