// Prints the loads this program hears over one stretch of time, for the
// comparison with the system's own tools (compare_with_tools.sh):
//   load_probe SECONDS
// samples once, waits, samples again, and prints "cpu N LOAD" per core,
// "disk LOAD" and "ram LOAD USED TOTAL".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "monitor/linux/proc_counter_library.h"
#include "monitor/load_sampling.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  veska::ProcCounterLibrary library;
  veska::MonitorState state;
  if (veska::SetUpDiskCounter(state, library) == 0 ||
      veska::SetUpCpuCounters(state, library) == 0) {
    std::fprintf(stderr, "load_probe: the counters cannot be set up\n");
    return 1;
  }
  veska::SampleCpuLoads(state, library);
  veska::SampleDiskLoad(state, library);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  veska::SampleCpuLoads(state, library);
  veska::SampleDiskLoad(state, library);
  veska::SampleRAMLoad(state, library);
  for (size_t n = 0; n < state.CoreLoads.size(); ++n) {
    std::printf("cpu %zu %.2f\n", n, state.CoreLoads[n]);
  }
  std::printf("disk %.2f\n", state.DiskLoad);
  std::printf("ram %.3f %llu %llu\n", state.RAMLoad,
              static_cast<unsigned long long>(state.UsedRAM),
              static_cast<unsigned long long>(state.TotalRAM));
  return 0;
}
