#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <limits>

#include "app/Control.h"
#include "bus/Names.h"

namespace {

QTextStream& Out() {
    static QTextStream out(stdout);
    return out;
}

QTextStream& Err() {
    static QTextStream err(stderr);
    return err;
}

// D-Bus hands over arrays of numbers, dictionaries and structures as QDBusArgument, which JSON
// and text know nothing of; they become lists and maps of plain values.
QVariant Plain(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return Plain(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusSignature>())
        return value.value<QDBusSignature>().signature();
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return value;
    const QDBusArgument arg = value.value<QDBusArgument>();
    switch (arg.currentType()) {
        case QDBusArgument::ArrayType: {
            QVariantList list;
            arg.beginArray();
            while (!arg.atEnd()) list << Plain(arg.asVariant());
            arg.endArray();
            return list;
        }
        case QDBusArgument::StructureType: {
            QVariantList fields;
            arg.beginStructure();
            while (!arg.atEnd()) fields << Plain(arg.asVariant());
            arg.endStructure();
            return fields;
        }
        case QDBusArgument::MapType: {
            QVariantMap map;
            arg.beginMap();
            while (!arg.atEnd()) {
                arg.beginMapEntry();
                const QVariant key = Plain(arg.asVariant());
                const QVariant entry = Plain(arg.asVariant());
                arg.endMapEntry();
                map.insert(key.toString(), entry);
            }
            arg.endMap();
            return map;
        }
        default:
            return Plain(arg.asVariant());
    }
}

QVariantMap Plain(const QVariantMap& values) {
    QVariantMap plain;
    for (auto it = values.begin(); it != values.end(); ++it) plain.insert(it.key(), Plain(*it));
    return plain;
}

QString Text(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList().join(QStringLiteral(", "));
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        QStringList parts;
        for (const QVariant& v : value.toList()) parts << Text(v);
        return parts.join(QStringLiteral(", "));
    }
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        QStringList parts;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) parts << it.key() + '=' + Text(*it);
        return parts.join(QStringLiteral(", "));
    }
    return value.toString();
}

// Whatever was printed reached standard output: a full disk or a closed pipe is a failure the
// caller must hear of, not a silent success.
bool OutputWritten() {
    Out().flush();
    return Out().status() == QTextStream::Ok && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int CannotWrite() {
    Err() << "veltra-lampctl: cannot write to standard output" << Qt::endl;
    return Control::kFailed;
}

// One line of JSON, or a "name: value" line for each property.
void Print(const QVariantMap& received, bool json) {
    const QVariantMap values = Plain(received);
    if (json) {
        Out() << QJsonDocument(QJsonObject::fromVariantMap(values)).toJson(QJsonDocument::Compact)
              << Qt::endl;
        return;
    }
    for (auto it = values.begin(); it != values.end(); ++it)
        Out() << it.key() << ": " << Text(*it) << '\n';
    Out().flush();
}

// Prints each announcement of changed properties as it comes.
class Watcher : public QObject {
    Q_OBJECT
  public:
    explicit Watcher(bool json) : json_(json) {}
  public Q_SLOTS:
    void Changed(const QString& /*interface*/, const QVariantMap& changed, const QStringList&) {
        Print(changed, json_);
        // Nobody reads the changes any more: the watch ends.
        if (!OutputWritten()) QCoreApplication::exit(CannotWrite());
    }

  private:
    bool json_;
};

// Prints each reading of a match as it comes.
class MatchWatcher : public QObject {
    Q_OBJECT
  public:
    explicit MatchWatcher(bool json) : json_(json) {}
  public Q_SLOTS:
    void Reading(int reading, double x, double y, double lux, double distance, double luxError) {
        if (json_) {
            Print({{QStringLiteral("reading"), reading},
                   {QStringLiteral("x"), x},
                   {QStringLiteral("y"), y},
                   {QStringLiteral("lux"), lux},
                   {QStringLiteral("distance"), distance},
                   {QStringLiteral("luxError"), luxError}},
                  true);
            return;
        }
        Out() << QString::asprintf("reading %d: x %.4f y %.4f %.0f lx, u'v' %.4f, lux %+.1f %%",
                                   reading, x, y, lux, distance, luxError * 100.0)
              << Qt::endl;
    }

  private:
    bool json_;
};

int ExitFor(const QDBusMessage& reply) {
    Err() << "veltra-lampctl: " << reply.errorMessage() << Qt::endl;
    return Control::ExitForError(reply.errorName());
}

int Run(QCoreApplication& app, QDBusConnection bus);

// The client's own connection, closed before the program's statics go: a message still
// being read when the process exits would otherwise meet a type registry already destroyed.
constexpr char kConnection[] = "veltra-lampctl";

}  // namespace

int main(int argc, char** argv) {
    // The types D-Bus hands over are registered before the bus's own thread starts, so their
    // registry is made first and outlives that thread when the process exits; otherwise a
    // message read while exiting finds the types gone and Qt says so on stderr.
    qRegisterMetaType<QDBusArgument>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusError>();
    QCoreApplication app(argc, argv);
    int result = Run(app, QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                        QString::fromLatin1(kConnection)));
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnection));
    if (!OutputWritten() && result == Control::kOk) result = CannotWrite();
    return result;
}

namespace {

int Run(QCoreApplication& app, QDBusConnection bus) {
    QString error;
    const std::optional<Control::Command> command = Control::Parse(app.arguments().mid(1), &error);
    if (!command) {
        Err() << "veltra-lampctl: " << error << '\n' << Control::UsageText() << Qt::flush;
        return Control::kUsage;
    }
    if (command->kind == Control::Command::kHelp) {
        Out() << Control::UsageText() << Qt::flush;
        return Control::kOk;
    }
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService))) {
        Err() << "veltra-lampctl: the lamp program is not running" << Qt::endl;
        return Control::kNoProgram;
    }
    const auto call = [&](const QString& interface, const QString& method,
                          const QVariantList& args) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(LampBus::kService, LampBus::kPath, interface, method);
        m.setArguments(args);
        return bus.call(m, QDBus::Block, 30000);
    };
    const auto property = [&](const QString& name) {
        return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {QString::fromLatin1(LampBus::kInterface), name});
    };
    const QString lampInterface = QString::fromLatin1(LampBus::kInterface);

    if (!command->lamp.isEmpty()) {
        const QDBusMessage reply = property(QStringLiteral("LampSerials"));
        if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
        const QStringList serials = Plain(reply.arguments().value(0)).toStringList();
        if (!serials.contains(command->lamp)) {
            Err() << "veltra-lampctl: no lamp with the serial number " << command->lamp
                  << " is connected" << Qt::endl;
            return Control::kNoLamp;
        }
    }

    switch (command->kind) {
        case Control::Command::kHelp:
            return Control::kOk;
        case Control::Command::kStatus: {
            const QDBusMessage reply = call(lampInterface, QStringLiteral("GetState"), {});
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            Print(qdbus_cast<QVariantMap>(reply.arguments().value(0)), command->json);
            return Control::kOk;
        }
        case Control::Command::kPresets: {
            const QDBusMessage reply = property(QStringLiteral("PresetNames"));
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            for (const QString& name : Plain(reply.arguments().value(0)).toStringList())
                Out() << name << '\n';
            Out().flush();
            return Control::kOk;
        }
        case Control::Command::kWatch: {
            Watcher watcher(command->json);
            if (!bus.connect(LampBus::kService, LampBus::kPath, "org.freedesktop.DBus.Properties",
                             "PropertiesChanged", &watcher,
                             SLOT(Changed(QString, QVariantMap, QStringList)))) {
                return Control::kFailed;
            }
            // A watch ends with the program, so a script reading it is not left waiting.
            QDBusServiceWatcher ended(QString::fromLatin1(LampBus::kService), bus,
                                      QDBusServiceWatcher::WatchForUnregistration);
            QObject::connect(&ended, &QDBusServiceWatcher::serviceUnregistered, &app, [] {
                Err() << "veltra-lampctl: the lamp program has ended" << Qt::endl;
                QCoreApplication::exit(Control::kNoProgram);
            });
            // It may have gone while the watch was being set up.
            if (!bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService))) {
                Err() << "veltra-lampctl: the lamp program has ended" << Qt::endl;
                return Control::kNoProgram;
            }
            // The bus handles a connection's messages in order, so the answer above means the
            // subscriptions before it hold: from here no change goes by unseen. Said on standard
            // error, so that standard output carries the changes only.
            Err() << "veltra-lampctl: watching" << Qt::endl;
            return app.exec();
        }
        case Control::Command::kShowProperty: {
            const QDBusMessage reply = property(command->method);
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            Out() << (Plain(reply.arguments().value(0)).toBool() ? "on" : "off") << Qt::endl;
            return Control::kOk;
        }
        case Control::Command::kSetProperty: {
            const QDBusMessage reply =
                call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                     {lampInterface, command->method,
                      QVariant::fromValue(QDBusVariant(command->args.value(0)))});
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            return Control::kOk;
        }
        case Control::Command::kMatch: {
            // The program says how long a match can take at most; past that, it will not end.
            const QDBusMessage limitReply = property(QStringLiteral("MatchTimeLimit"));
            if (limitReply.type() != QDBusMessage::ReplyMessage) return ExitFor(limitReply);
            const int limit = Plain(limitReply.arguments().value(0)).toInt();
            MatchWatcher watcher(command->json);
            if (!bus.connect(LampBus::kService, LampBus::kPath, lampInterface,
                             QStringLiteral("MatchProgress"), &watcher,
                             SLOT(Reading(int, double, double, double, double, double)))) {
                return Control::kFailed;
            }
            QDBusMessage m = QDBusMessage::createMethodCall(LampBus::kService, LampBus::kPath,
                                                            lampInterface, command->method);
            m.setArguments(command->args);
            // Each reading may wait for the user at the instrument: the answer comes when the
            // loop ends, so the call waits for the match's own limit, not the bus's.
            QDBusPendingCallWatcher pending(bus.asyncCall(m, std::numeric_limits<int>::max()));
            int exit = Control::kFailed;
            QTimer deadline;
            deadline.setSingleShot(true);
            QObject::connect(&deadline, &QTimer::timeout, &app, [&] {
                Err() << "veltra-lampctl: the match did not end within " << limit
                      << " s, the longest it can take; the program may still be running it"
                      << Qt::endl;
                exit = Control::kNoAnswer;
                QCoreApplication::exit(0);
            });
            if (limit > 0) deadline.start(std::chrono::milliseconds(std::chrono::seconds(limit)));
            QObject::connect(&pending, &QDBusPendingCallWatcher::finished, &app, [&] {
                if (exit == Control::kNoAnswer) return;
                // Readings sent before the answer are delivered before it.
                const QDBusMessage reply = pending.reply();
                if (reply.type() != QDBusMessage::ReplyMessage) {
                    exit = ExitFor(reply);
                } else {
                    const QVariantMap result =
                        Plain(qdbus_cast<QVariantMap>(reply.arguments().value(0)));
                    if (command->json) {
                        Print(result, true);
                    } else {
                        Out() << result.value(QStringLiteral("text")).toString() << Qt::endl;
                    }
                    exit =
                        Control::ExitForMatch(result.value(QStringLiteral("outcome")).toString());
                }
                QCoreApplication::exit(0);
            });
            app.exec();
            return exit;
        }
        case Control::Command::kCall: {
            const QDBusMessage reply = call(lampInterface, command->method, command->args);
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            // The light calls answer what was sent, also where it differs from what was asked.
            if (const QString said = reply.arguments().value(0).toString(); !said.isEmpty())
                Out() << said << '\n';
            return Control::kOk;
        }
    }
    return Control::kFailed;
}

}  // namespace

#include "lampctl.moc"
