#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>

#include "Buswindow.h"
#include "app/Claim.h"
#include "app/Control.h"
#include "app/Guard.h"
#include "app/Setup.h"
#include "bus/Bus.h"
#include "link/Clock.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"
#include "sim/Simlight.h"
#include "window/Main.h"

namespace {

// What a run of the client ended with.
struct Ran {
    int exit = -1;
    QString out, err;
};

// The window on a simulated lamp serving the session bus, and the built client run against it
// as a process of its own.
class BusClient : public BusWindowFixture {
  protected:
    void Open(bool withLamp = true) { OpenWindow(withLamp, 0); }

    void Start(QProcess& client, const QStringList& args) {
        client.start(QStringLiteral(VELTRA_LAMPCTL), args);
        ASSERT_TRUE(client.waitForStarted()) << client.errorString().toStdString();
    }

    // Starts a watch and waits until it says it listens, while the window serves its calls.
    void StartWatch(QProcess& watch, const QStringList& args) {
        Start(watch, args);
        QByteArray said;
        ASSERT_TRUE(WaitFor([&] {
            said += watch.readAllStandardError();
            return said.contains("veltra-lampctl: watching\n") ||
                   watch.state() == QProcess::NotRunning;
        }));
        ASSERT_EQ(said, "veltra-lampctl: watching\n");
    }

    // Runs the client to its end while the window's thread serves its calls.
    // output: a file standard output goes to instead of the test.
    Ran Run(const QStringList& args, const QString& output = {}) {
        QProcess client;
        if (!output.isEmpty()) client.setStandardOutputFile(output);
        Start(client, args);
        EXPECT_TRUE(WaitFor([&] { return client.state() == QProcess::NotRunning; }))
            << args.join(' ').toStdString();
        return {client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1,
                QString::fromUtf8(client.readAllStandardOutput()),
                QString::fromUtf8(client.readAllStandardError())};
    }

    // The lux the window sends, typed into its box and applied as its own controls do.
    void SetLuxInWindow(int lux) {
        form_->findChild<QLineEdit*>(QStringLiteral("Edit4"))->setText(QString::number(lux));
        form_->ApplyFromEdits(false);
    }

    int LampCct() const {
        CChannel c(form_->Controller()->CurrentSlot());
        c.DecodeBlock(lamp_->State().Slots[form_->Controller()->CurrentSlot()]);
        return c.ColorValues[6];
    }
};

TEST_F(BusClient, StatusPrintsTheWindowsStateAsJson) {
    Open();
    const Ran status = Run({"status", "--json"});
    ASSERT_EQ(status.exit, Control::kOk) << status.err.toStdString();
    EXPECT_EQ(status.out.count('\n'), 1) << status.out.toStdString();
    QJsonParseError error{};
    const QJsonObject printed = QJsonDocument::fromJson(status.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << status.out.toStdString();

    const QVariantMap state = service_->State();
    EXPECT_EQ(printed.keys(), QStringList(state.keys()));
    // Every value keeps its kind: lists of numbers or names must not turn into nulls.
    for (auto it = state.begin(); it != state.end(); ++it) {
        QVariant value = *it;
        if (value.canConvert<QVariantList>() && value.metaType() != QMetaType::fromType<QString>())
            value = value.toList();
        EXPECT_EQ(printed.value(it.key()).type(), QJsonValue::fromVariant(value).type())
            << it.key().toStdString();
    }
    // The settled values are the window's exactly (the lamp's sensors may move meanwhile).
    for (const char* name : {"InterfaceVersion", "Connected", "Channel", "X", "Y", "Cct", "Lux",
                             "Intensity", "LampOff", "Backlight"}) {
        EXPECT_EQ(printed.value(name), QJsonValue::fromVariant(state.value(name))) << name;
    }
}

TEST_F(BusClient, StatusSaysWhyNoLampIsConnected) {
    Open(false);
    const Ran status = Run({"status"});
    ASSERT_EQ(status.exit, Control::kOk) << status.err.toStdString();
    EXPECT_TRUE(status.out.contains("\nNoLampReason: No lamp connected: none found.\n"))
        << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("\nConnected: false\n")) << status.out.toStdString();
}

TEST_F(BusClient, SetCctEndsOnTheLampBeforeTheClientReturns) {
    Open();
    const Ran set = Run({"set", "cct", "4000"});
    ASSERT_EQ(set.exit, Control::kOk) << set.err.toStdString();
    // It says what went out: the temperature the lamp's record now holds.
    EXPECT_EQ(set.out, QStringLiteral("sent %1 K\n").arg(LampCct()));
    // The program answered once the change was sent, so the lamp holds it already.
    EXPECT_NEAR(LampCct(), 4000, 2);
    EXPECT_NEAR(service_->Cct(), 4000, 2);
}

// A point the lamp cannot make is sent as the window would send it, and the client says which.
TEST_F(BusClient, AConstrainedValueIsSentAndSaid) {
    Open();
    // The lamp tells its gamut in answer to a sent record.
    ASSERT_EQ(Run({"set", "cct", "4000"}).exit, Control::kOk);
    const Ran set = Run({"set", "xy", "0.6", "0.6"});
    ASSERT_EQ(set.exit, Control::kOk) << set.err.toStdString();
    EXPECT_TRUE(set.out.startsWith("sent x 0.")) << set.out.toStdString();
    EXPECT_TRUE(set.out.endsWith(": constrained to the lamp's gamut\n")) << set.out.toStdString();
    EXPECT_EQ(Run({"set", "cct", "20000"}).out, "sent 10000 K: held to 2500..10000 K\n");
}

// Output that cannot be written is a failure, not a silent success.
TEST_F(BusClient, OutputThatCannotBeWrittenFails) {
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Open();
    for (const QStringList& args :
         {QStringList{"status"}, QStringList{"--help"}, QStringList{"set", "lux", "500"}}) {
        const Ran ran = Run(args, QStringLiteral("/dev/full"));
        EXPECT_EQ(ran.exit, Control::kFailed) << args.join(' ').toStdString();
        EXPECT_EQ(ran.err, "veltra-lampctl: cannot write to standard output\n");
    }
}

// The choice to follow a drag is switched from a script, shows in the window and is kept in
// the options for the next start.
TEST_F(BusClient, FollowIsSwitchedAndReadAndKeptInTheOptions) {
    Open();
    EXPECT_EQ(Run({"follow"}).out, "off\n");
    const Ran on = Run({"follow", "on"});
    ASSERT_EQ(on.exit, Control::kOk) << on.err.toStdString();
    EXPECT_TRUE(form_->FollowWhileDragging());
    EXPECT_TRUE(form_->findChild<QAction*>(QStringLiteral("FollowAction"))->isChecked());
    EXPECT_EQ(Run({"follow"}).out, "on\n");
    EXPECT_TRUE(Run({"status"}).out.contains("\nFollowWhileDragging: true\n"));
    QFile options(dir_.filePath("data/options.xml"));
    ASSERT_TRUE(options.open(QIODevice::ReadOnly));
    EXPECT_TRUE(options.readAll().simplified().contains("<FOLLOW> 1 </FOLLOW>"));
    // Switched in the window, it reads off.
    form_->findChild<QAction*>(QStringLiteral("FollowAction"))->trigger();
    EXPECT_EQ(Run({"follow"}).out, "off\n");
}

TEST_F(BusClient, ExitCodesTellWhatWentWrong) {
    // Nobody serves the bus yet.
    for (const QStringList& args :
         {QStringList{"status"}, QStringList{"set", "cct", "4000"}, QStringList{"watch"}}) {
        const Ran ran = Run(args);
        EXPECT_EQ(ran.exit, Control::kNoProgram) << args.join(' ').toStdString();
        EXPECT_FALSE(ran.err.isEmpty());
    }
    Open();
    ASSERT_EQ(Run({"set", "cct", "4000"}).exit, Control::kOk);
    const struct {
        QStringList args;
        int exit;
    } cases[] = {
        {{"set", "cct", "0"}, Control::kInvalidValue},
        {{"set", "xy", "1.5", "0.3"}, Control::kInvalidValue},
        {{"set", "intensity", "101"}, Control::kInvalidValue},
        {{"sleep", "601"}, Control::kInvalidValue},
        {{"set", "cct", "warm"}, Control::kUsage},
    };
    for (const auto& c : cases) {
        const Ran ran = Run(c.args);
        EXPECT_EQ(ran.exit, c.exit) << c.args.join(' ').toStdString();
        EXPECT_FALSE(ran.err.isEmpty()) << c.args.join(' ').toStdString();
    }
    // Nothing refused reached the lamp.
    EXPECT_NEAR(LampCct(), 4000, 2);
    EXPECT_EQ(service_->SleepTimer(), 0);
}

TEST_F(BusClient, PresetsRoundTripAndLampChoice) {
    Open();
    ASSERT_EQ(Run({"set", "cct", "3000"}).exit, Control::kOk);
    ASSERT_EQ(Run({"preset", "save", "Evening"}).exit, Control::kOk);
    // A second save of the same name needs --replace.
    const Ran again = Run({"preset", "save", "Evening"});
    EXPECT_EQ(again.exit, Control::kInvalidValue);
    EXPECT_TRUE(again.err.contains("--replace")) << again.err.toStdString();
    const Ran list = Run({"preset", "list"});
    ASSERT_EQ(list.exit, Control::kOk);
    EXPECT_EQ(list.out, "Evening\n");
    EXPECT_NE(form_->findChild<QComboBox*>(QStringLiteral("ComboBox3"))->findText("Evening"), -1);

    ASSERT_EQ(Run({"set", "cct", "6000"}).exit, Control::kOk);
    ASSERT_EQ(Run({"preset", "load", "Evening"}).exit, Control::kOk);
    EXPECT_NEAR(LampCct(), 3000, 2);
    ASSERT_EQ(Run({"preset", "delete", "Evening"}).exit, Control::kOk);
    EXPECT_EQ(Run({"preset", "load", "Evening"}).exit, Control::kInvalidValue);
    EXPECT_TRUE(Run({"preset", "list"}).out.isEmpty());

    // --lamp names a lamp by its serial number; another serial is a lamp not connected.
    EXPECT_EQ(Run({"--lamp", "T0001", "set", "cct", "4000"}).exit, Control::kOk);
    EXPECT_NEAR(LampCct(), 4000, 2);
    EXPECT_EQ(Run({"--lamp", "T0002", "set", "cct", "5000"}).exit, Control::kNoLamp);
    EXPECT_NEAR(LampCct(), 4000, 2);
}

TEST_F(BusClient, WithoutALampTheExitSaysSo) {
    Open(false);
    EXPECT_EQ(Run({"set", "cct", "4000"}).exit, Control::kNoLamp);
    EXPECT_EQ(Run({"preset", "save", "Evening"}).exit, Control::kNoLamp);
    EXPECT_TRUE(Run({"preset", "list"}).out.isEmpty());
}

// The window's list holds "Turned off" and channels 1 to 10; the client offers the same.
TEST_F(BusClient, ChannelsAreTheListsRows) {
    Open();
    const struct {
        const char* channel;
        int exit;
    } cases[] = {{"3", Control::kOk},
                 {"0", Control::kOk},
                 {"10", Control::kOk},
                 {"11", Control::kInvalidValue},
                 {"20", Control::kInvalidValue},
                 {"-1", Control::kInvalidValue}};
    for (const auto& c : cases) {
        const Ran ran = Run({"channel", c.channel});
        EXPECT_EQ(ran.exit, c.exit) << c.channel << ": " << ran.err.toStdString();
        if (std::string(c.channel) == "0") {
            EXPECT_TRUE(service_->LampOff());
        }
    }
    EXPECT_FALSE(service_->LampOff());
    EXPECT_EQ(service_->Channel(), 10);
}

// A refused call leaves its reason on stderr and nothing else, run after run.
TEST_F(BusClient, RefusalsPrintOnlyTheirReason) {
    Open();
    for (int run = 0; run < 10; ++run) {
        for (const QStringList& args :
             {QStringList{"set", "cct", "0"}, QStringList{"channel", "99"},
              QStringList{"sleep", "601"}, QStringList{"set", "xy", "1.5", "0.9"}}) {
            const Ran ran = Run(args);
            EXPECT_EQ(ran.exit, Control::kInvalidValue) << args.join(' ').toStdString();
            EXPECT_EQ(ran.err.count('\n'), 1) << ran.err.toStdString();
            EXPECT_TRUE(ran.err.startsWith("veltra-lampctl: ")) << ran.err.toStdString();
        }
    }
}

TEST_F(BusClient, WatchPrintsChangesMadeInTheWindow) {
    Open();
    for (const bool json : {true, false}) {
        QProcess watch;
        StartWatch(watch, json ? QStringList{"watch", "--json"} : QStringList{"watch"});
        if (HasFatalFailure()) return;
        // Once it has said so, the client sees the very next change.
        const int lux = json ? 510 : 520;
        SetLuxInWindow(lux);
        const QString line =
            json ? QStringLiteral("\"Lux\":%1").arg(lux) : QStringLiteral("Lux: %1\n").arg(lux);
        QString printed;
        EXPECT_TRUE(WaitFor([&] {
            printed += QString::fromUtf8(watch.readAllStandardOutput());
            return printed.contains(line);
        })) << printed.toStdString()
            << watch.readAllStandardError().toStdString();
        if (json) {
            for (const QString& line : printed.split('\n', Qt::SkipEmptyParts))
                EXPECT_TRUE(QJsonDocument::fromJson(line.toUtf8()).isObject())
                    << line.toStdString();
        }
        EXPECT_EQ(watch.state(), QProcess::Running);
        watch.kill();
        watch.waitForFinished();
    }
}

TEST_F(BusClient, WatchEndsWhenTheProgramLeavesTheBus) {
    Open();
    QProcess watch;
    StartWatch(watch, {"watch"});
    if (HasFatalFailure()) return;
    service_.reset();
    ASSERT_TRUE(WaitFor([&] { return watch.state() == QProcess::NotRunning; }))
        << watch.readAllStandardError().toStdString();
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), Control::kNoProgram);
}

// A match from the client: a line per reading and the result within tolerance; a target out of
// the lamp's reach, a silent meter and a refused value each end with their own exit.
TEST_F(BusClient, MatchPrintsEachReadingAndEndsWithinTolerance) {
    lamp_ = std::make_shared<SimLamp>(clock_);
    SimMeterOptions options;
    options.TimeLimitMs = 3000;
    std::unique_ptr<SimMeter> meter = MeterOnLamp(lamp_, clock_, SimLightOptions{3}, options);
    adjustForm_ = [&](FormSetup& form) { form.readings = meter.get(); };
    Open();
    const Ran match = Run({"match", "0.3127", "0.3290", "500", "--json"});
    ASSERT_EQ(match.exit, Control::kOk) << match.err.toStdString() << match.out.toStdString();
    const QStringList lines = match.out.trimmed().split('\n');
    ASSERT_GE(lines.size(), 3) << match.out.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(lines.back().toUtf8()).object();
    EXPECT_LE(result.value("distance").toDouble(1), 0.001) << lines.back().toStdString();
    EXPECT_LE(std::abs(result.value("luxError").toDouble(1)), 0.01);
    // One line per reading before the result.
    EXPECT_EQ(lines.size() - 1, result.value("readings").toInt() - result.value("retaken").toInt());
    EXPECT_EQ(QJsonDocument::fromJson(lines[0].toUtf8()).object().value("reading").toInt(), 1);

    // Out of the lamp's reach: not reached, its best point left; a silent meter: no reading.
    const Ran bright = Run({"match", "0.3127", "0.3290", "60000"});
    EXPECT_EQ(bright.exit, Control::kNotReached) << bright.out.toStdString();
    EXPECT_TRUE(bright.out.contains("Not reached: best")) << bright.out.toStdString();
    meter->SetSilent(true);
    const Ran silent = Run({"match", "0.40", "0.39", "400"});
    EXPECT_EQ(silent.exit, Control::kNoReading) << silent.out.toStdString();
    EXPECT_EQ(Run({"match", "0.9", "0.3", "500"}).exit, Control::kInvalidValue);
}

// A match whose target the lamp takes but does not answer has a lamp: it ends as a failed
// change does, not as "no lamp".
TEST_F(BusClient, AMatchTheLampDoesNotAnswerEndsFailedNotWithoutALamp) {
    lamp_ = std::make_shared<SimLamp>(clock_);
    std::unique_ptr<SimMeter> meter = MeterOnLamp(lamp_, clock_, SimLightOptions{3});
    adjustForm_ = [&](FormSetup& form) { form.readings = meter.get(); };
    Open();
    lamp_->SetNoReplyTo(CLightInput::kCmdWriteChannel, -1, true);
    const Ran match = Run({"match", "0.3127", "0.3290", "500"});
    EXPECT_EQ(match.exit, Control::kFailed) << match.err.toStdString();
    EXPECT_EQ(match.err,
              "veltra-lampctl: the lamp did not take the target: the lamp did not "
              "answer\n");
}

// A program that takes a match and never answers it, with a limit of one second.
class MatchNeverEnds : public QDBusVirtualObject {
  public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == "Get" && message.arguments().value(1) == "MatchTimeLimit") {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(1))));
            return true;
        }
        if (message.member() != "Match") return false;
        ++matches;
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
    int matches = 0;
};

// The client gives up on a match at the limit the program states, with an exit of its own,
// rather than waiting for ever.
TEST(ClientMatch, AMatchThatOutlastsItsLimitEndsWithItsOwnExit) {
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: these run under dbus-run-session";
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "never-ends");
    MatchNeverEnds program;
    ASSERT_TRUE(bus.registerVirtualObject(QString::fromLatin1(LampBus::kPath), &program));
    ASSERT_TRUE(bus.registerService(QString::fromLatin1(LampBus::kService)));
    QProcess client;
    client.start(QStringLiteral(VELTRA_LAMPCTL), {"match", "0.3127", "0.3290", "500"});
    const bool ended = WaitFor([&] { return client.state() == QProcess::NotRunning; });
    bus.unregisterService(QString::fromLatin1(LampBus::kService));
    bus.unregisterObject(QString::fromLatin1(LampBus::kPath));
    QDBusConnection::disconnectFromBus("never-ends");
    ASSERT_TRUE(ended) << "the client still waits";
    EXPECT_EQ(client.exitCode(), Control::kNoAnswer);
    EXPECT_EQ(client.readAllStandardError(),
              "veltra-lampctl: the match did not end within 1 s, the longest it can take; the "
              "program may still be running it\n");
    EXPECT_EQ(program.matches, 1);
}

// Two copies on one session bus, each with a lock file of its own, so only the bus name can
// tell the second of the first. The name appears only with the service behind it.
TEST_F(BusClient, TheNameComesWithTheServiceAndASecondCopyRaisesTheFirst) {
    QTemporaryDir first, second;
    COneCopyGuard firstGuard(first.path()), secondGuard(second.path());
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnection secondBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "claim-second");
    int refusals = 0;
    const auto refused = [&refusals] { ++refusals; };
    ASSERT_EQ(ClaimOnlyCopy(bus, firstGuard, refused), CopyClaim::Only);
    // While the first copy is still starting (its options, its lamps), clients find no
    // program, rather than a name with nothing behind it.
    EXPECT_FALSE(bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService)));
    const Ran early = Run({"status"});
    EXPECT_EQ(early.exit, Control::kNoProgram) << early.err.toStdString();

    Open();
    ASSERT_TRUE(bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService)));
    EXPECT_EQ(Run({"status"}).exit, Control::kOk);
    EXPECT_EQ(ClaimOnlyCopy(secondBus, secondGuard, refused), CopyClaim::Raised);
    EXPECT_EQ(refusals, 0);
    // A second service that got past the check in the meantime cannot take the name either.
    LampService late(*form_);
    EXPECT_FALSE(late.Register(secondBus));
    EXPECT_EQ(Run({"status"}).exit, Control::kOk);

    // Once the first copy has let its name go, another may start.
    service_.reset();
    EXPECT_EQ(ClaimOnlyCopy(secondBus, secondGuard, refused), CopyClaim::Only);
    EXPECT_EQ(refusals, 0);
    QDBusConnection::disconnectFromBus("claim-second");
}

// The built program started a second time: it brings the running window forward and ends with
// 0. Only a copy that cannot be reached (its name held, nothing answering) gets the "busy"
// notice, which a headless run prints and fails with.
TEST_F(BusClient, ASecondStartBringsTheWindowForwardOrSaysBusy) {
    Open();
    QTemporaryDir scratch;
    const auto start = [&scratch] {
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // A lock file of its own: only the bus tells it of the first copy.
        env.insert("XDG_RUNTIME_DIR", scratch.path());
        env.insert("HOME", scratch.path());
        env.insert("VELTRA_SCREENSHOT", scratch.filePath("shot.png"));
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VELTRA_PROGRAM), {});
        EXPECT_TRUE(second.waitForStarted());
        // The window's thread answers the second copy's request meanwhile.
        EXPECT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }));
        return Ran{second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1,
                   QString::fromUtf8(second.readAllStandardOutput()),
                   QString::fromUtf8(second.readAllStandardError())};
    };

    form_->showMinimized();
    ASSERT_TRUE(form_->isMinimized());
    const Ran raised = start();
    EXPECT_EQ(raised.exit, 0) << raised.err.toStdString();
    EXPECT_FALSE(raised.err.contains("busy")) << raised.err.toStdString();
    EXPECT_FALSE(form_->isMinimized());
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(WaitFor([&] { return form_->isActiveWindow(); }));

    // The name held by a connection with nothing behind it: nobody to bring forward.
    service_.reset();
    QDBusConnection squatter =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "name-squatter");
    ASSERT_TRUE(squatter.registerService(QString::fromLatin1(LampBus::kService)));
    const Ran busy = start();
    EXPECT_EQ(busy.exit, 1);
    EXPECT_TRUE(busy.err.contains("Lamp is currently busy.")) << busy.err.toStdString();
    squatter.unregisterService(QString::fromLatin1(LampBus::kService));
    QDBusConnection::disconnectFromBus("name-squatter");
}

// Without a bus the lock file alone keeps a second copy out.
TEST(Claim, WithoutABusTheLockFileGuards) {
    QTemporaryDir folder;
    const QDBusConnection none = QDBusConnection::connectToBus(
        folder.filePath("no-bus").prepend("unix:path="), "claim-no-bus");
    ASSERT_FALSE(none.isConnected());
    COneCopyGuard first(folder.path()), second(folder.path());
    int refusals = 0;
    EXPECT_EQ(ClaimOnlyCopy(none, first, [&refusals] { ++refusals; }), CopyClaim::Only);
    EXPECT_EQ(ClaimOnlyCopy(none, second, [&refusals] { ++refusals; }), CopyClaim::Refused);
    EXPECT_EQ(refusals, 1);
    QDBusConnection::disconnectFromBus("claim-no-bus");
}

}  // namespace
