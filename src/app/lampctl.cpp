#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "app/Control.h"
#include "window/Bus.h"

namespace {

QTextStream& Out() {
    static QTextStream out(stdout);
    return out;
}

QTextStream& Err() {
    static QTextStream err(stderr);
    return err;
}

void Print(const QVariantMap& values, bool json) {
    if (json) {
        Out() << QJsonDocument(QJsonObject::fromVariantMap(values)).toJson(QJsonDocument::Compact)
              << Qt::endl;
        return;
    }
    for (auto it = values.begin(); it != values.end(); ++it)
        Out() << it.key() << ": " << it.value().toString() << '\n';
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
    }

  private:
    bool json_;
};

int ExitFor(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    Err() << "veltra-lampctl: " << reply.errorMessage() << Qt::endl;
    if (name == LampBus::kInvalidArgs) return Control::kInvalidValue;
    if (name == LampBus::kNotConnected) return Control::kNoLamp;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NoReply")
        return Control::kNoProgram;
    return Control::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<Control::Command> command = Control::Parse(app.arguments().mid(1), &error);
    if (!command) {
        Err() << "veltra-lampctl: " << error << '\n' << Control::UsageText() << Qt::flush;
        return Control::kUsage;
    }
    if (!command->lamp.isEmpty()) {
        Err() << "veltra-lampctl: --lamp is not served by this version of the program" << Qt::endl;
        return Control::kUsage;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(LampBus::kService))) {
        Err() << "veltra-lampctl: the lamp program is not running" << Qt::endl;
        return Control::kNoProgram;
    }
    const auto call = [&](const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(LampBus::kService, LampBus::kPath,
                                                        LampBus::kInterface, method);
        m.setArguments(args);
        return bus.call(m, QDBus::Block, 30000);
    };
    switch (command->kind) {
        case Control::Command::kStatus: {
            const QDBusMessage reply = call("GetState", {});
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            Print(qdbus_cast<QVariantMap>(reply.arguments().value(0)), command->json);
            return Control::kOk;
        }
        case Control::Command::kWatch: {
            Watcher watcher(command->json);
            if (!bus.connect(LampBus::kService, LampBus::kPath, "org.freedesktop.DBus.Properties",
                             "PropertiesChanged", &watcher,
                             SLOT(Changed(QString, QVariantMap, QStringList)))) {
                return Control::kFailed;
            }
            return app.exec();
        }
        case Control::Command::kCall: {
            const QDBusMessage reply = call(command->method, command->args);
            if (reply.type() != QDBusMessage::ReplyMessage) return ExitFor(reply);
            return Control::kOk;
        }
    }
    return Control::kFailed;
}

#include "lampctl.moc"
