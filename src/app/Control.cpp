#include "app/Control.h"

#include "bus/Names.h"

namespace Control {
namespace {

std::optional<double> Real(const QString& text) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<int> Whole(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<Command> Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return std::nullopt;
}

}  // namespace

QString UsageText() {
    return QStringLiteral(
        "usage: veltra-lampctl [--lamp SERIAL] COMMAND\n"
        "  status [--json]\n"
        "  set xy X Y | set cct K | set lux N | set intensity P\n"
        "  channel N\n"
        "  preset list | preset save NAME [--replace] | preset load NAME | preset delete NAME\n"
        "  power on|off\n"
        "  sleep SECONDS|off\n"
        "  follow [on|off]\n"
        "  watch [--json]\n"
        "  match X Y LUX [--tolerance T] [--json]\n"
        "--lamp SERIAL: only if the lamp with this serial number is connected.\n"
        "Exit status: 0 done, 1 failed, 2 usage error, 3 the program is not running,\n"
        "4 no lamp connected, 5 a value refused, 6 match not reached (its best point is left\n"
        "on the lamp), 7 no reading came from the instrument, 8 a match did not end within\n"
        "the longest it can take.\n");
}

int ExitForMatch(const QString& outcome) {
    if (outcome == "matched" || outcome == "within-noise") return kOk;
    if (outcome == "not-reached") return kNotReached;
    if (outcome == "no-reading") return kNoReading;
    return kFailed;
}

int ExitForError(const QString& name) {
    if (name == QLatin1String(LampBus::kInvalidArgs) ||
        name == QLatin1String(LampBus::kNoSuchPreset))
        return kInvalidValue;
    if (name == QLatin1String(LampBus::kNotConnected)) return kNoLamp;
    // The program is not on the bus, or left it before answering.
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.UnknownObject" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        name == "org.freedesktop.DBus.Error.NoReply")
        return kNoProgram;
    return kFailed;
}

std::optional<Command> Parse(const QStringList& given, QString* error) {
    QStringList args;
    Command c;
    bool replace = false;
    std::optional<double> tolerance;
    bool options = true;
    for (int i = 0; i < given.size(); ++i) {
        if (!options) {
            args << given[i];
        } else if (given[i] == "--") {
            options = false;
        } else if (given[i] == "--help" || given[i] == "-h") {
            c.kind = Command::kHelp;
            return c;
        } else if (given[i] == "--lamp") {
            if (i + 1 >= given.size()) return Fail(error, "--lamp needs a serial number");
            c.lamp = given[++i];
        } else if (given[i] == "--json") {
            c.json = true;
        } else if (given[i] == "--replace") {
            replace = true;
        } else if (given[i] == "--tolerance") {
            if (i + 1 >= given.size()) return Fail(error, "--tolerance needs a number");
            const std::optional<double> t = Real(given[++i]);
            if (!t) return Fail(error, "--tolerance needs a number");
            tolerance = *t;
        } else if (given[i].startsWith("--")) {
            return Fail(error, "unknown option '" + given[i] +
                                   "'; a name or value that begins with \"--\" goes after \"--\"");
        } else {
            args << given[i];
        }
    }
    if (args.isEmpty()) return Fail(error, "no command given");
    const QString verb = args.takeFirst();
    const auto count = [&](int n) { return args.size() == n; };
    if (c.json && verb != "status" && verb != "watch" && verb != "match")
        return Fail(error, "--json goes with status, watch and match");
    if (tolerance && verb != "match") return Fail(error, "--tolerance goes with match");
    if (replace && !(verb == "preset" && args.value(0) == "save"))
        return Fail(error, "--replace goes with preset save");
    if (verb == "match") {
        if (!count(3)) return Fail(error, "match needs X Y LUX");
        const auto x = Real(args[0]), y = Real(args[1]), lux = Real(args[2]);
        if (!x || !y || !lux) return Fail(error, "X, Y and LUX are numbers");
        c.kind = Command::kMatch;
        c.method = "Match";
        c.args = {*x, *y, *lux, tolerance.value_or(0.0)};
        return c;
    }
    if (verb == "help" && count(0)) {
        c.kind = Command::kHelp;
        return c;
    }
    if (verb == "status" && count(0)) {
        c.kind = Command::kStatus;
        return c;
    }
    if (verb == "watch" && count(0)) {
        c.kind = Command::kWatch;
        return c;
    }
    if (verb == "set" && !args.isEmpty()) {
        const QString what = args.takeFirst();
        if (what == "xy" && count(2)) {
            const auto x = Real(args[0]), y = Real(args[1]);
            if (!x || !y) return Fail(error, "x and y are numbers");
            c.method = "SetXy";
            c.args = {*x, *y};
            return c;
        }
        if ((what == "cct" || what == "lux") && count(1)) {
            const auto n = Whole(args[0]);
            if (!n) return Fail(error, what + " is a whole number");
            c.method = what == "cct" ? "SetCct" : "SetLux";
            c.args = {*n};
            return c;
        }
        if (what == "intensity" && count(1)) {
            const auto p = Real(args[0]);
            if (!p) return Fail(error, "intensity is a number (percent)");
            c.method = "SetIntensity";
            c.args = {*p};
            return c;
        }
        return Fail(error, "set xy X Y | cct K | lux N | intensity P");
    }
    if (verb == "channel" && count(1)) {
        const auto n = Whole(args[0]);
        if (!n) return Fail(error, "channel is a whole number");
        c.method = "SelectChannel";
        c.args = {*n};
        return c;
    }
    if (verb == "preset" && !args.isEmpty()) {
        const QString what = args.takeFirst();
        if (what == "list" && count(0)) {
            c.kind = Command::kPresets;
            return c;
        }
        // The name goes as typed: the program says whether it is one it can store or knows.
        if (what == "save" && count(1)) {
            c.method = "StorePreset";
            c.args = {args[0], replace};
            return c;
        }
        if ((what == "load" || what == "delete") && count(1)) {
            c.method = what == "load" ? "RecallPreset" : "DeletePreset";
            c.args = {args[0]};
            return c;
        }
        return Fail(error, "preset list | save NAME [--replace] | load NAME | delete NAME");
    }
    if (verb == "power" && count(1) && (args[0] == "on" || args[0] == "off")) {
        c.method = "SetPower";
        c.args = {args[0] == "on"};
        return c;
    }
    if (verb == "sleep" && count(1)) {
        const auto s = args[0] == "off" ? std::optional<int>(0) : Whole(args[0]);
        if (!s) return Fail(error, "sleep takes seconds or off");
        c.method = "SetSleepTimer";
        c.args = {*s};
        return c;
    }
    if (verb == "follow" && count(0)) {
        c.kind = Command::kShowProperty;
        c.method = "FollowWhileDragging";
        return c;
    }
    if (verb == "follow" && count(1) && (args[0] == "on" || args[0] == "off")) {
        c.kind = Command::kSetProperty;
        c.method = "FollowWhileDragging";
        c.args = {args[0] == "on"};
        return c;
    }
    // A known command given the wrong arguments says how it is used.
    if (verb == "status" || verb == "watch" || verb == "help")
        return Fail(error, verb + " takes no arguments, not '" + args.join(' ') + "'");
    if (verb == "channel") return Fail(error, "channel N");
    if (verb == "power") return Fail(error, "power on|off");
    if (verb == "follow") return Fail(error, "follow [on|off]");
    if (verb == "sleep") return Fail(error, "sleep SECONDS|off");
    if (verb == "set") return Fail(error, "set xy X Y | cct K | lux N | intensity P");
    if (verb == "preset")
        return Fail(error, "preset list | save NAME [--replace] | load NAME | delete NAME");
    return Fail(error, "unknown command '" + verb + "'");
}

}  // namespace Control
