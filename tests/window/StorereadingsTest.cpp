#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "sim/Fakeclock.h"
#include "window/Storereadings.h"

namespace {

// The spectrometer application's store; `onLook` runs at each look, as the user who measures
// while the program waits.
class LiveStore : public MeasurementStore {
  public:
    std::map<std::string, std::string> values{{"x2", "0.3100"}, {"y2", "0.3300"}, {"yy2", "480"}};
    std::function<void()> onLook;
    // Counts the application's writes; empty for a store that cannot tell them.
    std::string mark;
    bool Exists() const override { return true; }
    std::string WriteMark() const override { return mark; }
    std::optional<std::string> Value(const std::string& name) const override {
        if (name == "x2" && onLook) onLook();
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

TEST(StoreReadings, WaitsForTheMeasurementAfterTheSend) {
    FakeClock clock{0};
    LiveStore store;
    StoreReadings source(store, clock, 5000, true);
    EXPECT_EQ(source.Prompt(), "take a reading now");
    source.Sent();
    // The user measures two seconds after the target went out.
    store.onLook = [&] {
        if (clock.TickCount() >= 2000)
            store.values = {{"x2", "0,3127"}, {"y2", "0,3290"}, {"yy2", "501,5"}};
    };
    const ReadingResult r = source.Read({});
    ASSERT_EQ(r.Status, ReadingStatus::Taken) << r.Problem;
    EXPECT_DOUBLE_EQ(r.Light.x, 0.3127);
    EXPECT_DOUBLE_EQ(r.Light.y, 0.3290);
    EXPECT_DOUBLE_EQ(r.Light.lux, 501.5);
    EXPECT_GE(clock.TickCount(), 2000u);
    // The same measurement is not a second reading: without a new one the wait ends.
    const ReadingResult again = source.Read({});
    EXPECT_EQ(again.Status, ReadingStatus::Failed);
    EXPECT_EQ(again.Problem, "no new measurement within 5 s");
}

// A steady light measured again leaves the same values: the write is what makes it a reading.
TEST(StoreReadings, ASteadyLightMeasuredAgainIsANewReading) {
    FakeClock clock{0};
    LiveStore store;
    store.mark = "1";
    StoreReadings source(store, clock, 5000, true);
    source.Sent();
    for (const char* mark : {"2", "3"}) {
        const std::uint32_t from = clock.TickCount();
        store.onLook = [&, mark] {
            if (clock.TickCount() >= from + 1000) store.mark = mark;
        };
        const ReadingResult r = source.Read({});
        ASSERT_EQ(r.Status, ReadingStatus::Taken) << mark << ": " << r.Problem;
        EXPECT_DOUBLE_EQ(r.Light.x, 0.31);
        EXPECT_DOUBLE_EQ(r.Light.lux, 480);
    }
    // Without a write there is still no reading.
    store.onLook = nullptr;
    EXPECT_EQ(source.Read({}).Status, ReadingStatus::Failed);
}

TEST(StoreReadings, UnusableMeasurementAndStop) {
    FakeClock clock{0};
    LiveStore store;
    StoreReadings source(store, clock, 5000, false);
    EXPECT_EQ(source.Prompt(), "");
    store.values["y2"] = "1.7";
    const ReadingResult bad = source.Read({});
    EXPECT_EQ(bad.Status, ReadingStatus::Failed);
    EXPECT_EQ(bad.Problem, "the new measurement is unusable: value y2 is outside 0..1");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(source.Read(stop.get_token()).Status, ReadingStatus::Cancelled);
}

}  // namespace
