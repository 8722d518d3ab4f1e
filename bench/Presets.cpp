// Storing one preset into a long preset list: the save that addresses every entry by an indexed
// path from the root (each path walks the entries before it) against the save that builds the
// document entry by entry. Both write the same bytes; "ratio" is old time over new time, in
// thread CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Tempdir.h"
#include "Timing.h"
#include "settings/Channelvalues.h"
#include "settings/Xml.h"

namespace {

class Current : public CCurrentChannelAccess {
  public:
    CChannel current{3};
    CChannel CurrentRecord() const override { return current; }
    void CopyIntoCurrent(const CChannel& stored) override { current.CopyFrom(stored); }
    void ResetCurrent() override { current.ResetToDefault(); }
    void ResendCurrentChannel() override {}
};

std::vector<CChannel> ExamplePresets(int count) {
    std::vector<CChannel> list(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        list[static_cast<std::size_t>(i)].Name = "preset " + std::to_string(i);
        for (int v = 0; v < CChannel::kValueCount; ++v)
            list[static_cast<std::size_t>(i)].ColorValues[static_cast<std::size_t>(v)] =
                (i * 131 + v * 977) % 65536;
    }
    return list;
}

// A preset file of the given records, written entry by entry.
void WritePresetFile(const std::vector<CChannel>& list, const std::string& file) {
    CXML document;
    document.Name = "VALUES";
    for (const CChannel& record : list) {
        document.Children.push_back(std::make_unique<CXML>());
        record.WriteTo(*document.Children.back(), "value.");
    }
    document.SaveToFile(file);
}

// The store as it was: find or append, then one indexed path per value from the root.
int StoreOldWay(std::vector<CChannel>& list, const CChannel& current, const std::string& file) {
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const CChannel& r) { return r.Name == current.Name; });
    if (found == list.end()) found = list.insert(list.end(), CChannel());
    found->CopyFrom(current);
    CXML document;
    for (std::size_t i = 0; i < list.size(); ++i)
        list[i].WriteTo(document, "values.value[" + std::to_string(i) + "].");
    if (list.empty()) document.Name = "VALUES";
    return document.SaveToFile(file);
}

void BM_StorePresetRatio(benchmark::State& state) {
    const int count = static_cast<int>(WorkSize(state.range(0)));
    TempDir dir;
    std::filesystem::create_directory(dir.Path / "old");
    std::filesystem::create_directory(dir.Path / "new");
    std::vector<CChannel> oldList = ExamplePresets(count);
    Current lamp;
    WritePresetFile(oldList, dir.File("new/values.xml"));
    CchannelValues presets((dir.Path / "new").string(), lamp);
    if (presets.Records().size() != oldList.size()) {
        state.SkipWithError("the preset file did not read back");
        return;
    }
    lamp.current.Name = "stored";
    double oldSeconds = 0.0;
    double newSeconds = 0.0;
    for (auto _ : state) {
        lamp.current.ColorValues[0] += 1;
        int oldResult = 0;
        int newResult = 0;
        oldSeconds += Seconds(
            [&] { oldResult = StoreOldWay(oldList, lamp.current, dir.File("old/values.xml")); });
        newSeconds += Seconds([&] { newResult = presets.StoreCurrent(); });
        if (oldResult != CXML::kOk || newResult != CXML::kOk ||
            ReadBytes(dir.File("old/values.xml")) != ReadBytes(dir.File("new/values.xml"))) {
            state.SkipWithError("the two ways wrote different files");
            return;
        }
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["presets"] = benchmark::Counter(static_cast<double>(count));
    state.counters["old_ms"] = benchmark::Counter(oldSeconds * 1e3 / n);
    state.counters["new_ms"] = benchmark::Counter(newSeconds * 1e3 / n);
    state.counters["ratio"] = benchmark::Counter(oldSeconds / newSeconds);
}
BENCHMARK(BM_StorePresetRatio)->Arg(1000)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK(BM_StorePresetRatio)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

// The new way alone, to see how it grows with the list.
void BM_StorePreset(benchmark::State& state) {
    TempDir dir;
    Current lamp;
    WritePresetFile(ExamplePresets(static_cast<int>(WorkSize(state.range(0)))),
                    dir.File("values.xml"));
    CchannelValues presets(dir.Path.string(), lamp);
    if (presets.Records().size() != static_cast<std::size_t>(WorkSize(state.range(0)))) {
        state.SkipWithError("the preset file did not read back");
        return;
    }
    lamp.current.Name = "stored";
    for (auto _ : state) {
        lamp.current.ColorValues[0] += 1;
        benchmark::DoNotOptimize(presets.StoreCurrent());
    }
}
BENCHMARK(BM_StorePreset)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Reading a long list back, which the program does once at start.
void BM_LoadPresets(benchmark::State& state) {
    TempDir dir;
    Current lamp;
    WritePresetFile(ExamplePresets(static_cast<int>(WorkSize(state.range(0)))),
                    dir.File("values.xml"));
    CchannelValues presets(dir.Path.string(), lamp);
    for (auto _ : state) {
        benchmark::DoNotOptimize(presets.Load());
        if (presets.Records().size() != static_cast<std::size_t>(WorkSize(state.range(0)))) {
            state.SkipWithError("the preset file did not read back");
            return;
        }
    }
}
BENCHMARK(BM_LoadPresets)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
