#include <gtest/gtest.h>

#include <map>

#include "window/Measurement.h"

namespace {

// The measurement as a test gives it.
class FixedStore : public MeasurementStore {
  public:
    bool exists = true;
    std::map<std::string, std::string> values;
    bool Exists() const override { return exists; }
    std::optional<std::string> Value(const std::string& name) const override {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

TEST(MeasurementTest, ValuesFromTheStore) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> values;
        bool usable;
        float x, y;
        int lux;
    };
    const Case cases[] = {
        {"a plain measurement",
         {{"x2", "0.3127"}, {"y2", "0.3290"}, {"yy2", "499.6"}},
         true,
         0.3127f,
         0.3290f,
         500},
        {"commas and blanks",
         {{"x2", " 0,45 "}, {"y2", "\t0,41"}, {"yy2", "1234,4"}},
         true,
         0.45f,
         0.41f,
         1234},
        {"longest number at the start",
         {{"x2", "0.3abc"}, {"y2", "0.2;"}, {"yy2", "12lx"}},
         true,
         0.3f,
         0.2f,
         12},
        {"the ends of the range", {{"x2", "0"}, {"y2", "1"}, {"yy2", "0"}}, true, 0.0f, 1.0f, 0},
        {"lux missing", {{"x2", "0.3"}, {"y2", "0.3"}}, true, 0.3f, 0.3f, 0},
        {"lux not a number", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "n/a"}}, true, 0.3f, 0.3f, 0},
        {"lux huge", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "1e30"}}, true, 0.3f, 0.3f, 65535},
        {"lux infinite", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "1e999"}}, true, 0.3f, 0.3f, 0},
        {"lux negative", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "-40"}}, true, 0.3f, 0.3f, 0},
        {"x missing", {{"y2", "0.3"}, {"yy2", "100"}}, false, 0, 0, 0},
        {"y empty", {{"x2", "0.3"}, {"y2", ""}, {"yy2", "100"}}, false, 0, 0, 0},
        {"x not a number", {{"x2", "abc"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"x not finite", {{"x2", "1e999"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"x nan", {{"x2", "nan"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"y above 1", {{"x2", "0.3"}, {"y2", "1.2"}}, false, 0, 0, 0},
        {"x below 0", {{"x2", "-0.1"}, {"y2", "0.3"}}, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FixedStore store;
        store.values = c.values;
        const std::optional<Measurement> m = ReadMeasurement(store);
        ASSERT_EQ(m.has_value(), c.usable) << c.name;
        if (!m) continue;
        EXPECT_FLOAT_EQ(m->X, c.x) << c.name;
        EXPECT_FLOAT_EQ(m->Y, c.y) << c.name;
        EXPECT_EQ(m->Lux, c.lux) << c.name;
    }
}

TEST(MeasurementTest, AMissingGroupGivesNothing) {
    FixedStore store;
    store.exists = false;
    store.values = {{"x2", "0.3"}, {"y2", "0.3"}};
    EXPECT_FALSE(ReadMeasurement(store));
}

}  // namespace
