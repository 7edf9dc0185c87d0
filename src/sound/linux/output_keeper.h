// Keeps a sound output that can vanish under the program (the sound server
// ending or restarting) coming back: a thread of its own looks at the output
// at a modest pace, closes it once it has stopped, and reopens it as soon as
// it can, saying so once on the message stream each time. The main loop never
// waits for any of this.
#ifndef VESKA_SOUND_LINUX_OUTPUT_KEEPER_H_
#define VESKA_SOUND_LINUX_OUTPUT_KEEPER_H_

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

namespace veska {

class OutputKeeper {
 public:
  // What the keeper does to the output; each is called on its thread only.
  struct Output {
    std::function<bool()> playing;  // false once the output has gone
    std::function<void()> close;
    std::function<bool()> reopen;  // true when the output plays again
  };

  static constexpr std::chrono::milliseconds kDefaultPeriod{500};

  OutputKeeper(Output output, std::FILE* messages,
               std::chrono::milliseconds period = kDefaultPeriod);
  ~OutputKeeper();
  OutputKeeper(const OutputKeeper&) = delete;
  OutputKeeper& operator=(const OutputKeeper&) = delete;

  // Starts watching an output that plays now; a second Start does nothing.
  void Start();
  // Returns once the thread has ended; the output stays as it is then
  // (closed, if it was lost and not yet back).
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Run();
  // One look at the output; `lost` is whether it is closed and awaited.
  void Look(bool& lost);

  Output output_;
  std::FILE* messages_;
  std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace veska

#endif  // VESKA_SOUND_LINUX_OUTPUT_KEEPER_H_
