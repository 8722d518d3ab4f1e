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
    };
    for (const QStringList& args : cases) {
        QString error;
        EXPECT_FALSE(Control::Parse(args, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty()) << args.join(' ').toStdString();
    }
}

}  // namespace
