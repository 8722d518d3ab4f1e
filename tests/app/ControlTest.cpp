#include <gtest/gtest.h>

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
    const auto status = Control::Parse({"--lamp", "T0001", "status", "--json"}, nullptr);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, Control::Command::kStatus);
    EXPECT_TRUE(status->json);
    EXPECT_EQ(status->lamp, "T0001");
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

TEST(Control, UsageErrorsAreRefused) {
    const QStringList cases[] = {
        {},
        {"status", "now"},
        {"set", "cct", "warm"},
        {"set", "cct", "4000.5"},
        {"set", "xy", "0.3"},
        {"set", "hue", "3"},
        {"power", "maybe"},
        {"sleep", "soon"},
        {"channel"},
        {"set", "lux", "500", "--json"},
        {"--lamp"},
        {"--verbose", "status"},
        {"preset"},
        {"preset", "save"},
        {"preset", "load", "a", "b"},
        {"preset", "rename", "a"},
        {"preset", "list", "--replace"},
        {"set", "cct", "4000", "--replace"},
    };
    for (const QStringList& args : cases) {
        QString error;
        EXPECT_FALSE(Control::Parse(args, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty()) << args.join(' ').toStdString();
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
        // A wrong call of an older program is its failure, not the user's value.
        {"org.freedesktop.DBus.Error.InvalidArgs", Control::kFailed},
        {"org.freedesktop.DBus.Error.UnknownMethod", Control::kFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(Control::ExitForError(c.name), c.exit) << c.name;
}

}  // namespace
