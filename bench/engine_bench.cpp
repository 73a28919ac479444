// engine_process against the straightforward per-sample form at host block
// sizes of 1, 16, 256 and 1024 samples. Each benchmark processes one second
// of a 48 kHz test signal in blocks of the given size, with the LFO running
// and denormals flushed as the plug-ins do. Both forms run in the same
// process, interleaved, and the program ends with the ratio per block size,
// which is what to compare between machines (absolute times are noisy here).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/reference_engine.h"
#include "engine/engine.h"
#include "platform/platform.h"

namespace {

using ProcessFn = void (*)(vexo::Engine*, const float*, float*, uint32_t);

std::vector<float> make_signal() {
    std::vector<float> s(48000);
    uint32_t state = 12345;
    for (float& v : s) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<int32_t>(state) >> 8) * (1.0f / 8388608.0f);
    }
    return s;
}

void run(benchmark::State& state, ProcessFn fn) {
    static const std::vector<float> signal = make_signal();
    std::vector<float> out(signal.size());
    const uint32_t block = static_cast<uint32_t>(state.range(0));
    vexo::Engine e;
    vexo::engine_init(&e);
    vexo::engine_set_sample_rate(&e, 48000.0f);
    vexo::engine_set_parameter(&e, 0, 9);
    vexo::engine_set_parameter(&e, 1, 12);
    vexo::engine_set_parameter(&e, 2, 10);
    vexo::engine_reset(&e);
    uint32_t saved = vexo::platform_denormals_off();
    for (auto _ : state) {
        for (uint32_t pos = 0; pos < signal.size(); pos += block) {
            uint32_t n = block < signal.size() - pos ? block : static_cast<uint32_t>(signal.size() - pos);
            fn(&e, signal.data() + pos, out.data() + pos, n);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    vexo::platform_denormals_restore(saved);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(signal.size()));
}

void BM_BlockLoop(benchmark::State& state) { run(state, vexo::engine_process); }
void BM_PerSample(benchmark::State& state) { run(state, vexo::reference_process); }

// Interleaved registration so that both forms see the same machine state.
void register_all() {
    for (int block : {1, 16, 256, 1024}) {
        benchmark::RegisterBenchmark("BM_PerSample", BM_PerSample)->Arg(block)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_BlockLoop", BM_BlockLoop)->Arg(block)->Unit(benchmark::kMicrosecond);
    }
}

// Prints as the console reporter does, and keeps each run's time per
// iteration for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                times[r.run_name.function_name + "/" + r.run_name.args] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nblock size | per-sample form / block loop (higher is better for the block loop)\n");
    for (const char* block : {"1", "16", "256", "1024"}) {
        auto slow = reporter.times.find(std::string("BM_PerSample/") + block);
        auto fast = reporter.times.find(std::string("BM_BlockLoop/") + block);
        if (slow != reporter.times.end() && fast != reporter.times.end() && fast->second > 0)
            std::printf("%10s | %.2fx\n", block, slow->second / fast->second);
    }
    benchmark::Shutdown();
    return 0;
}
