// A sample must not allocate: every buffer, table and record is made at
// set-up. Counted by replacing the global allocator in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "monitor/linux/proc_counter_library.h"
#include "monitor/load_sampling.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
}  // namespace

// The replacements below pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace veska {
namespace {

TEST(SampleAllocationTest, SamplingThisMachineAllocatesNothing) {
  ProcCounterLibrary library;
  MonitorState state;
  ASSERT_EQ(SetUpDiskCounter(state, library), 1);
  ASSERT_EQ(SetUpCpuCounters(state, library), 1);

  counting = true;
  for (int i = 0; i < 3; ++i) {
    SampleRAMLoad(state, library);
    SampleCpuLoads(state, library);
    SampleDiskLoad(state, library);
    UpdateCpuAverage(state);
  }
  counting = false;
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(state.RAMLoad, 0.0f);
}

}  // namespace
}  // namespace veska
