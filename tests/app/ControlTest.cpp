#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/Control.h"

namespace {

TEST(Control, CommandsBecomeTheirCalls) {
    const struct {
        QStringList args;
        QString method;
        QVariantList callArgs;
    } cases[] = {
        {{"set", "xy", "0.31", "0.33"}, "SetXy", {0.31, 0.33}},
        {{"set", "cct", "4000"}, "SetCct", {4000}},
        {{"set", "lux", "500"}, "SetLux", {500}},
        {{"set", "intensity", "42.5"}, "SetIntensity", {42.5}},
        {{"channel", "3"}, "SelectChannel", {3}},
        {{"power", "off"}, "SetPower", {false}},
        {{"sleep", "off"}, "SetSleepTimer", {0}},
        {{"sleep", "90"}, "SetSleepTimer", {90}},
        {{"preset", "save", "Evening light"}, "StorePreset", {"Evening light", false}},
        {{"preset", "save", "Evening light", "--replace"}, "StorePreset", {"Evening light", true}},
        {{"preset", "load", "Evening light"}, "RecallPreset", {"Evening light"}},
        {{"preset", "delete", "x"}, "DeletePreset", {"x"}},
        // After "--" an option's spelling is a name like any other.
        {{"preset", "save", "--", "--json"}, "StorePreset", {"--json", false}},
    };
    for (const auto& c : cases) {
        QString error;
        const auto command = Control::Parse(c.args, &error);
        ASSERT_TRUE(command) << c.args.join(' ').toStdString() << ": " << error.toStdString();
        EXPECT_EQ(command->kind, Control::Command::kCall);
        EXPECT_EQ(command->method, c.method);
        EXPECT_EQ(command->args, c.callArgs) << c.args.join(' ').toStdString();
    }
    for (const auto& [word, on] : {std::pair{"on", true}, std::pair{"off", false}}) {
        const auto follow = Control::Parse({"follow", word}, nullptr);
        ASSERT_TRUE(follow) << word;
        EXPECT_EQ(follow->kind, Control::Command::kSetProperty);
        EXPECT_EQ(follow->method, "FollowWhileDragging");
        EXPECT_EQ(follow->args, QVariantList{on});
    }
    const auto shown = Control::Parse({"follow"}, nullptr);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->kind, Control::Command::kShowProperty);
    EXPECT_EQ(shown->method, "FollowWhileDragging");
    const auto status = Control::Parse({"--lamp", "T0001", "status", "--json"}, nullptr);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, Control::Command::kStatus);
    EXPECT_TRUE(status->json);
    EXPECT_EQ(status->lamp, "T0001");
    const auto match = Control::Parse(
        {"match", "0.3127", "0.329", "500", "--tolerance", "0.002", "--json"}, nullptr);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->kind, Control::Command::kMatch);
    EXPECT_EQ(match->method, "Match");
    EXPECT_EQ(match->args, (QVariantList{0.3127, 0.329, 500.0, 0.002}));
    EXPECT_TRUE(match->json);
    // Without a tolerance the program's default (0) is asked for.
    EXPECT_EQ(Control::Parse({"match", "0.3", "0.3", "100"}, nullptr)->args.value(3), 0.0);
    for (const auto& [outcome, exit] :
         std::vector<std::pair<QString, int>>{{"matched", Control::kOk},
                                              {"within-noise", Control::kOk},
                                              {"not-reached", Control::kNotReached},
                                              {"no-reading", Control::kNoReading},
                                              {"cancelled", Control::kFailed}})
        EXPECT_EQ(Control::ExitForMatch(outcome), exit) << outcome.toStdString();
    const auto list = Control::Parse({"preset", "list", "--lamp", "T0002"}, nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->kind, Control::Command::kPresets);
    EXPECT_EQ(list->lamp, "T0002");
    for (const QStringList& help : {QStringList{"--help"}, QStringList{"-h"}, QStringList{"help"},
                                    QStringList{"set", "--help"}}) {
        const auto command = Control::Parse(help, nullptr);
        ASSERT_TRUE(command) << help.join(' ').toStdString();
        EXPECT_EQ(command->kind, Control::Command::kHelp);
    }
}

// Each refusal says what is wrong with this command line, not merely that it is wrong.
TEST(Control, UsageErrorsAreRefusedSayingWhy) {
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{}, "no command"},
        {{"status", "now"}, "status takes no arguments, not 'now'"},
        {{"status", "--json", "extra"}, "status takes no arguments, not 'extra'"},
        {{"watch", "a", "b"}, "watch takes no arguments, not 'a b'"},
        {{"set", "cct", "warm"}, "cct is a whole number"},
        {{"set", "cct", "4000.5"}, "cct is a whole number"},
        {{"set", "xy", "0.3"}, "set xy X Y"},
        {{"set", "hue", "3"}, "set xy X Y"},
        {{"power", "maybe"}, "power on|off"},
        {{"follow", "yes"}, "follow [on|off]"},
        {{"follow", "on", "off"}, "follow [on|off]"},
        {{"sleep", "soon"}, "sleep takes seconds or off"},
        {{"channel"}, "channel N"},
        {{"channel", "1", "2"}, "channel N"},
        {{"set", "lux", "500", "--json"}, "--json goes with status, watch and match"},
        {{"match", "0.31", "0.33"}, "match needs X Y LUX"},
        {{"match", "x", "0.33", "500"}, "X, Y and LUX are numbers"},
        {{"match", "0.31", "0.33", "500", "--tolerance"}, "--tolerance needs a number"},
        {{"set", "lux", "500", "--tolerance", "0.002"}, "--tolerance goes with match"},
        {{"--lamp"}, "--lamp needs a serial number"},
        {{"--verbose", "status"}, "unknown option '--verbose'"},
        {{"preset", "save", "----x"}, "unknown option '----x'; a name or value that begins"},
        {{"preset"}, "preset list | save NAME"},
        {{"preset", "save"}, "preset list | save NAME"},
        {{"preset", "load", "a", "b"}, "preset list | save NAME"},
        {{"preset", "rename", "a"}, "preset list | save NAME"},
        {{"preset", "list", "--replace"}, "--replace goes with preset save"},
        {{"set", "cct", "4000", "--replace"}, "--replace goes with preset save"},
        {{"match", "0.31", "0.33", "500", "--replace"}, "--replace goes with preset save"},
        {{"brighter"}, "unknown command 'brighter'"},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(Control::Parse(c.args, &error)) << c.args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.says)))
            << c.args.join(' ').toStdString() << ": " << error.toStdString();
    }
}

// Scripts tell outcomes apart by these codes, so each error name keeps its code.
TEST(Control, ErrorNamesBecomeExitCodes) {
    const struct {
        const char* name;
        int exit;
    } cases[] = {
        {"com.veltra.DigitalLamp.Error.InvalidArgs", Control::kInvalidValue},
        {"com.veltra.DigitalLamp.Error.NoSuchPreset", Control::kInvalidValue},
        {"com.veltra.DigitalLamp.Error.NotConnected", Control::kNoLamp},
        {"com.veltra.DigitalLamp.Error.Busy", Control::kFailed},
        {"com.veltra.DigitalLamp.Error.Failed", Control::kFailed},
        {"org.freedesktop.DBus.Error.ServiceUnknown", Control::kNoProgram},
        {"org.freedesktop.DBus.Error.NoReply", Control::kNoProgram},
        // The name is there but not (or no longer) the service behind it.
        {"org.freedesktop.DBus.Error.UnknownObject", Control::kNoProgram},
        // A wrong call of an older program is its failure, not the user's value.
        {"org.freedesktop.DBus.Error.InvalidArgs", Control::kFailed},
        {"org.freedesktop.DBus.Error.UnknownMethod", Control::kFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(Control::ExitForError(c.name), c.exit) << c.name;
}

}  // namespace
