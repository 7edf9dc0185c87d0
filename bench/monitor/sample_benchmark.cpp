// The cost of one full sample of this machine: the CPU query, the memory
// status and the disk query, as the main loop's sample timer takes it; and of
// the CPU average formed on every pass of the loop.
#include <benchmark/benchmark.h>

#include "monitor/linux/proc_counter_library.h"
#include "monitor/load_sampling.h"

namespace veska {
namespace {

struct Sampler {
  Sampler() {
    SetUpDiskCounter(state, library);
    SetUpCpuCounters(state, library);
  }
  ProcCounterLibrary library;
  MonitorState state;
};

void BM_FullSample(benchmark::State& bench) {
  Sampler sampler;
  for (auto _ : bench) {
    SampleRAMLoad(sampler.state, sampler.library);
    SampleCpuLoads(sampler.state, sampler.library);
    SampleDiskLoad(sampler.state, sampler.library);
    benchmark::DoNotOptimize(sampler.state.CoreLoads.data());
    benchmark::DoNotOptimize(sampler.state.DiskLoad);
  }
  bench.counters["cores"] = sampler.state.LastCoreIndex + 1;
}
BENCHMARK(BM_FullSample);

void BM_CpuSample(benchmark::State& bench) {
  Sampler sampler;
  for (auto _ : bench) {
    SampleCpuLoads(sampler.state, sampler.library);
    benchmark::DoNotOptimize(sampler.state.CoreLoads.data());
  }
}
BENCHMARK(BM_CpuSample);

void BM_RamSample(benchmark::State& bench) {
  Sampler sampler;
  for (auto _ : bench) {
    SampleRAMLoad(sampler.state, sampler.library);
    benchmark::DoNotOptimize(sampler.state.RAMLoad);
  }
}
BENCHMARK(BM_RamSample);

void BM_DiskSample(benchmark::State& bench) {
  Sampler sampler;
  for (auto _ : bench) {
    SampleDiskLoad(sampler.state, sampler.library);
    benchmark::DoNotOptimize(sampler.state.DiskLoad);
  }
}
BENCHMARK(BM_DiskSample);

void BM_CpuAverage(benchmark::State& bench) {
  MonitorState state;
  state.LastCoreIndex = static_cast<int16_t>(bench.range(0) - 1);
  state.CoreLoads.assign(static_cast<size_t>(bench.range(0)), 37.5);
  for (auto _ : bench) {
    UpdateCpuAverage(state);
    benchmark::DoNotOptimize(state.CpuAverage);
  }
}
BENCHMARK(BM_CpuAverage)->Arg(2)->Arg(64);

}  // namespace
}  // namespace veska

BENCHMARK_MAIN();
