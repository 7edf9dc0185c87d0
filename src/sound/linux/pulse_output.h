// The mix played straight into the sound server: one stream, filled from the
// client library's own thread as the server asks, in pieces large enough
// that the program wakes a few dozen times a second, and small enough that a
// change is heard within the program's 60 ms.
#ifndef VESKA_SOUND_LINUX_PULSE_OUTPUT_H_
#define VESKA_SOUND_LINUX_PULSE_OUTPUT_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sound/mixer/mixer.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace veska {

class PulseOutput {
 public:
  static constexpr uint32_t kRate = 48000;
  // The most the server keeps ahead of what is heard (its own buffer
  // included), and the piece it asks for each time: a change waits for at
  // most one piece to be asked for, then for what is queued before it.
  static constexpr std::chrono::microseconds kTargetLatency{46000};
  static constexpr std::chrono::microseconds kRequest{21000};

  PulseOutput() = default;
  ~PulseOutput();
  PulseOutput(const PulseOutput&) = delete;
  PulseOutput& operator=(const PulseOutput&) = delete;

  // Connects to the default server and plays `mixer`, whose output rate it
  // sets; false, and nothing left open, when no server answers within
  // `wait` or the stream is refused.
  bool Open(SoftwareMixer& mixer, const char* application_name,
            std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
  // False once the server has gone or failed the stream.
  bool Playing() const { return loop_ != nullptr && !failed_; }
  void Close();

 private:
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnWrite(pa_stream* stream, size_t bytes, void* self);
  // Waits, holding the loop's lock, until `ready` or a failure or the
  // deadline; true when ready.
  template <typename Ready>
  bool WaitFor(Ready ready, std::chrono::steady_clock::time_point deadline);

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  SoftwareMixer* mixer_ = nullptr;
  std::vector<float> piece_;  // made once, so the loop's thread never allocates
  std::atomic<bool> failed_ = false;
};

}  // namespace veska

#endif  // VESKA_SOUND_LINUX_PULSE_OUTPUT_H_
