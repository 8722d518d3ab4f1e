#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Tempdir.h"
#include "link/Absence.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "sim/Fakeclock.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

namespace {

// The reports only count here, so they may run on the controller's thread.
class DirectDispatcher : public Dispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ProcessMessages() override {}
};

struct Rig {
    Rig() {
        state.OnConnected = [this] { ++connected; };
        state.OnStateChanged = [] {};
        state.OnStatus = [] {};
    }
    ~Rig() { state.StopAndWait(); }
    template <typename Pred>
    static bool Within20s(Pred&& pred) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool Connect() {
        state.Start(38400);
        return Within20s([&] { return connected.load() > 0; });
    }

    FakeClock clock;
    SimBus bus;
    TempDir dir;
    CLightInput main{bus, clock, dir.File("log.txt")};
    DirectDispatcher dispatch;
    CLampState state{main, bus, dispatch, clock};
    std::atomic<int> connected{0};
};

TEST(NoLampReason, FromTheBridgesStatusesAtTheConnect) {
    const struct {
        const char* name;
        std::function<void(Rig&)> bus;
        NoLamp reason;
    } cases[] = {
        {"an empty bus", [](Rig&) {}, NoLamp::NotFound},
        {"another FTDI device",
         [](Rig& r) { r.bus.AddDevice("FT232R USB UART", "A1", std::make_shared<EchoModel>()); },
         NoLamp::NotFound},
        {"a lamp this user may not read",
         [](Rig& r) {
             const int i = AddSimLamps(r.bus, 1, r.clock)[0].Index;
             r.bus.WithDevice(i, [](SimDevice& d) { d.NoAccess = true; });
         },
         NoLamp::NoAccess},
        {"a lamp this user may list but not open",
         [](Rig& r) {
             const int i = AddSimLamps(r.bus, 1, r.clock)[0].Index;
             r.bus.WithDevice(i, [](SimDevice& d) { d.OpenFailure = kFtNoAccess; });
         },
         NoLamp::NoAccess},
        {"a lamp another program holds",
         [](Rig& r) {
             const int i = AddSimLamps(r.bus, 1, r.clock)[0].Index;
             r.bus.WithDevice(i, [](SimDevice& d) { d.OpenFailure = kFtDeviceBusy; });
         },
         NoLamp::Busy},
        {"a lamp that does not answer",
         [](Rig& r) { r.bus.AddDevice("LED Lamp", "E1", std::make_shared<EchoModel>()); },
         NoLamp::NoAnswer},
        {"a lamp", [](Rig& r) { AddSimLamps(r.bus, 1, r.clock); }, NoLamp::None},
    };
    for (const auto& c : cases) {
        Rig rig;
        c.bus(rig);
        ASSERT_TRUE(rig.Connect()) << c.name;
        EXPECT_EQ(rig.state.WhyNoLamp(), c.reason) << c.name;
        EXPECT_EQ(rig.state.IsConnected(), c.reason == NoLamp::None) << c.name;
    }
}

TEST(NoLampReason, ALostLampAndALampPluggedInLater) {
    Rig rig;
    const int lamp = AddSimLamps(rig.bus, 1, rig.clock)[0].Index;
    ASSERT_TRUE(rig.Connect());
    ASSERT_EQ(rig.state.WhyNoLamp(), NoLamp::None);
    rig.bus.Unplug(lamp);
    EXPECT_TRUE(Rig::Within20s([&] { return rig.state.WhyNoLamp() == NoLamp::Lost; }));
    rig.bus.Replug(lamp);
    EXPECT_TRUE(Rig::Within20s([&] { return rig.state.WhyNoLamp() == NoLamp::None; }));

    // Started without a lamp: one plugged in that may not be opened is named at once.
    Rig later;
    ASSERT_TRUE(later.Connect());
    ASSERT_EQ(later.state.WhyNoLamp(), NoLamp::NotFound);
    int locked = -1;
    {
        // Plugged in already locked: the controller must not see it open meanwhile.
        const CLampState::PauseScope hold = later.state.Pause();
        locked = AddSimLamps(later.bus, 1, later.clock)[0].Index;
        later.bus.WithDevice(locked, [](SimDevice& d) { d.NoAccess = true; });
    }
    EXPECT_TRUE(Rig::Within20s([&] { return later.state.WhyNoLamp() == NoLamp::NoAccess; }));
    later.bus.WithDevice(locked, [](SimDevice& d) { d.NoAccess = false; });
    EXPECT_TRUE(Rig::Within20s([&] { return later.state.IsConnected(); }));
    EXPECT_EQ(later.state.WhyNoLamp(), NoLamp::None);
}

}  // namespace
