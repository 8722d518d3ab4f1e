// The real USB path against the wire: the bridge over libftdi1 and libusb talking to an FT232R
// emulated under umockdev, whose serial side is a simulated lamp with wire-timed bytes. In the
// same run the in-process simulated lamp does the same work, and both are set against the
// least the wire allows ("ratio" 1.0 would cost nothing beyond the wire, the send delay and the
// baud switch pause). The idle cost is the program's CPU time per minute with one lamp and
// nothing changing, on the real path and on the simulated one. Runs under umockdev-wrapper.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Tempdir.h"
#include "Timing.h"
#include "Usbchip.h"
#include "link/Lamp.h"
#include "link/Light.h"
#include "platform/Ftdi.h"
#include "settings/Channel.h"
#include "sim/Simbus.h"
#include "sim/Simlamp.h"

extern char** environ;

namespace {

std::shared_ptr<SimLamp> WireTimedLamp() {
    return std::make_shared<SimLamp>(DefaultClock(), WireTimedOptions());
}

// One lamp on either path: the bus the program talks to and the lamp behind it.
struct Path {
    std::unique_ptr<Usbchips> chips;
    std::unique_ptr<D2xx> bus;
    std::shared_ptr<SimLamp> lamp;
};

Path RealPath() {
    Path p;
    p.chips = std::make_unique<Usbchips>();
    p.lamp = WireTimedLamp();
    p.chips->Plug("VL000001", "LED Lamp 1", p.lamp);
    p.bus = std::make_unique<FtdiBridge>();
    return p;
}

Path SimulatedPath() {
    Path p;
    auto bus = std::make_unique<SimBus>();
    p.lamp = WireTimedLamp();
    bus->AddDevice("LED Lamp 1", "VL000001", p.lamp);
    p.bus = std::move(bus);
    return p;
}

bool Emulated(benchmark::State& state) {
    if (Usbchips::Available()) return true;
    state.SkipWithError("no USB emulator: run this under umockdev-wrapper");
    return false;
}

// Mean time of one channel read (send delay, request, lamp, reply) on a connected lamp.
double ExchangeMs(Path& path, int count) {
    CLightInput lamp(*path.bus, DefaultClock(), "");
    if (lamp.Connect(19200, kRunBaud, static_cast<std::int32_t>(kSendDelayMs)) != CLightInput::kOk)
        return -1.0;
    CChannel record(1);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        if (!lamp.ReadChannel(record)) return -1.0;
    return MsSince(start) / count;
}

void BM_ExchangeRealVsSimulated(benchmark::State& state) {
    if (!Emulated(state)) return;
    constexpr int kExchanges = 40;
    double real = 0.0, simulated = 0.0;
    for (auto _ : state) {
        Path r = RealPath();
        real = ExchangeMs(r, kExchanges);
        Path s = SimulatedPath();
        simulated = ExchangeMs(s, kExchanges);
        if (real < 0 || simulated < 0) state.SkipWithError("a lamp did not answer");
        state.SetIterationTime((real + simulated) * kExchanges / 1000.0);
    }
    state.counters["real_ms"] = real;
    state.counters["sim_ms"] = simulated;
    state.counters["floor_ms"] = kExchangeFloorMs;
    state.counters["real_ratio"] = real / kExchangeFloorMs;
    state.counters["sim_ratio"] = simulated / kExchangeFloorMs;
}
BENCHMARK(BM_ExchangeRealVsSimulated)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The controller's whole connect of one lamp, from start to its connected report, and its floor.
std::pair<double, double> ConnectMs(Path& path) {
    CLightInput main(*path.bus, DefaultClock(), "");
    InlineDispatcher dispatch;
    CLampState controller(main, *path.bus, dispatch);
    std::atomic<bool> connected{false};
    std::atomic<double> tookMs{0.0};
    const auto start = std::chrono::steady_clock::now();
    controller.OnConnected = [&] {
        tookMs = MsSince(start);
        connected = true;
    };
    controller.Start(kRunBaud);
    while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool ok = controller.IsConnected();
    const std::size_t frames = path.lamp->Commands().size();
    controller.StopAndWait();
    if (!ok) return {-1.0, 1.0};
    return {tookMs, ConnectFloorMs(frames)};
}

void BM_ConnectRealVsSimulated(benchmark::State& state) {
    if (!Emulated(state)) return;
    std::pair<double, double> real, simulated;
    for (auto _ : state) {
        Path r = RealPath();
        real = ConnectMs(r);
        Path s = SimulatedPath();
        simulated = ConnectMs(s);
        if (real.first < 0 || simulated.first < 0) state.SkipWithError("a lamp did not connect");
        state.SetIterationTime((real.first + simulated.first) / 1000.0);
    }
    state.counters["real_ms"] = real.first;
    state.counters["sim_ms"] = simulated.first;
    state.counters["floor_ms"] = real.second;
    state.counters["real_ratio"] = real.first / real.second;
    state.counters["sim_ratio"] = simulated.first / simulated.second;
}
BENCHMARK(BM_ConnectRealVsSimulated)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The program's CPU time (user and system) so far, in seconds, from /proc.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1.0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) stime = std::stod(field);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The program's CPU time over the idle window, percent of one core, and on the real path how
// many times a second it read the line (bulk IN transfers the chip answered).
struct Idle {
    double corePct = -1.0;
    double readsPerSecond = 0.0;
};

// Runs the built program on one lamp (simulated, or on an emulated chip with SIMULATE 0),
// lets it settle, and measures it over the idle window.
Idle IdleCost(bool simulated, int idleSeconds) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path / "data");
    std::ofstream(dir.Path / "data/options.xml") << "<OPTIONS><SIMULATE>" << (simulated ? 1 : 0)
                                                 << "</SIMULATE><SPEED>38400</SPEED></OPTIONS>\n";
    const std::string program = (dir.Path / "veltra-lamp").string();
    std::filesystem::copy_file(VELTRA_PROGRAM, program);
    std::unique_ptr<Usbchips> chips;
    if (!simulated) {
        chips = std::make_unique<Usbchips>();
        SimLampOptions options;
        options.RunBaud = kRunBaud;
        options.WireTimed = true;
        chips->Plug("VL000001", "LED Lamp 1", std::make_shared<SimLamp>(DefaultClock(), options));
    }
    std::vector<std::string> env = {
        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.Path.string(),
        "HOME=" + dir.Path.string(), "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return {};
    // Start-up and the connect are not idle time.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const std::uint64_t readsBefore = chips ? chips->InTransfers(0) : 0;
    const double before = CpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double after = CpuSeconds(pid);
    const std::uint64_t readsAfter = chips ? chips->InTransfers(0) : 0;
    const double wall = MsSince(start) / 1000.0;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return {100.0 * (after - before) / wall, static_cast<double>(readsAfter - readsBefore) / wall};
}

// CPU per minute idle with one lamp: percent of one core (0.5 is 0.3 s a minute).
void BM_IdleCpuOneLamp(benchmark::State& state) {
    if (!Emulated(state)) return;
    // A smoke run only shows that the program still starts, connects and idles.
    const int kIdleSeconds = SmokeRun() ? 1 : 20;
    Idle real, simulated;
    for (auto _ : state) {
        real = IdleCost(false, kIdleSeconds);
        simulated = IdleCost(true, kIdleSeconds);
        state.SetIterationTime(2.0 * kIdleSeconds);
    }
    state.counters["real_core_pct"] = real.corePct;
    state.counters["sim_core_pct"] = simulated.corePct;
    state.counters["real_cpu_s_per_min"] = real.corePct * 0.6;
    state.counters["sim_cpu_s_per_min"] = simulated.corePct * 0.6;
    // Under the emulator every USB transfer costs the program far more than on a real bus:
    // libusb asks for the finished transfer again and again, as the device node is a plain file.
    state.counters["real_line_reads_per_s"] = real.readsPerSecond;
}
BENCHMARK(BM_IdleCpuOneLamp)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
