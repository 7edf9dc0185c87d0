// A stand-in for a GPU vendor's management library, for the run-time loading
// of it: two devices, busy at the percentages in VESKA_FAKE_GPU_BUSY ("a,b").
#include <cstdio>
#include <cstdlib>

namespace {

struct Utilization {
  unsigned gpu;
  unsigned memory;
};

int g_devices[2] = {1, 2};
bool g_started = false;

unsigned Busy(int device) {
  unsigned a = 0, b = 0;
  const char* text = std::getenv("VESKA_FAKE_GPU_BUSY");
  if (text != nullptr) std::sscanf(text, "%u,%u", &a, &b);
  return device == 1 ? a : b;
}

}  // namespace

extern "C" {

int nvmlInit_v2() {
  g_started = true;
  return 0;
}
int nvmlShutdown() {
  g_started = false;
  return 0;
}
int nvmlDeviceGetCount_v2(unsigned* count) {
  *count = 2;
  return g_started ? 0 : 1;
}
int nvmlDeviceGetHandleByIndex_v2(unsigned index, void** device) {
  if (index >= 2) return 2;
  *device = &g_devices[index];
  return 0;
}
int nvmlDeviceGetUtilizationRates(void* device, Utilization* use) {
  use->gpu = Busy(*static_cast<int*>(device));
  use->memory = 0;
  return 0;
}

}  // extern "C"
