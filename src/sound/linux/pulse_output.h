// The mix played straight into the sound server: one stream, refilled from a
// thread of its own in pieces large enough that the program wakes a few
// dozen times a second, and small enough that a change is heard within the
// program's 60 ms.
#ifndef VESKA_SOUND_LINUX_PULSE_OUTPUT_H_
#define VESKA_SOUND_LINUX_PULSE_OUTPUT_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sound/mixer/mixer.h"

struct pa_context;
struct pa_mainloop;
struct pa_stream;
struct pollfd;

namespace veska {

class PulseOutput {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr uint32_t kRate = 48000;
  // The most the server keeps ahead of what is heard (its own buffer
  // included), and the piece it asks for each time: a change waits for the
  // next piece, then for what is queued before it, within the target.
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
  // After a piece of `bytes` is written: when to wake for the next.
  static void Pace(PulseOutput* output, size_t bytes);
  static int Poll(pollfd* fds, unsigned long count, int timeout_ms, void* self);
  // Runs the loop on the calling thread until `ready`, a failure or the
  // deadline; true when ready.
  template <typename Ready>
  bool RunUntil(Ready ready, Clock::time_point deadline);
  void Run();

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  SoftwareMixer* mixer_ = nullptr;
  std::vector<float> piece_;  // made once, so the loop never allocates
  std::atomic<bool> failed_ = false;

  // The server asks for a piece each time a piece's worth has been played,
  // and also tells of every piece it is done with. Sleeping through both
  // until the next request is due and taking them together wakes the
  // thread once a piece instead of twice. The due time is kept on the
  // requests' own beat: drawn a little earlier each piece, and set again
  // from a request's arrival whenever a wake comes before it.
  Clock::time_point next_piece_;
  std::chrono::duration<double, std::micro> request_{kRequest};
  std::chrono::duration<double, std::micro> beat_{kRequest};
  bool paced_ = false;       // the next wait sleeps until next_piece_
  bool paced_wake_ = false;  // this wake came from such a sleep
  int pieces_this_wake_ = 0;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace veska

#endif  // VESKA_SOUND_LINUX_PULSE_OUTPUT_H_
