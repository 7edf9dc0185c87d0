#include "sound/linux/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <vector>

namespace veska {
namespace {

constexpr size_t kFrameBytes = 2 * sizeof(float);
// Rendered here and copied by the client library: the mix never has to
// trust the alignment of the server's shared memory.
constexpr size_t kPieceFrames = 2048;

const pa_sample_spec kSpec = {PA_SAMPLE_FLOAT32NE, PulseOutput::kRate, 2};

}  // namespace

PulseOutput::~PulseOutput() { Close(); }

template <typename Ready>
bool PulseOutput::WaitFor(Ready ready,
                          std::chrono::steady_clock::time_point deadline) {
  // The client library has no timed wait: a timer on its own loop wakes this
  // one, so a server that accepts but never answers cannot hold the program.
  struct Alarm {
    pa_threaded_mainloop* loop;
    bool rang = false;
  } alarm{loop_};
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - std::chrono::steady_clock::now());
  pa_time_event* timer = pa_context_rttime_new(
      context_,
      pa_rtclock_now() + pa_usec_t(std::max<int64_t>(left.count(), 0)),
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        auto* a = static_cast<Alarm*>(data);
        a->rang = true;
        pa_threaded_mainloop_signal(a->loop, 0);
      },
      &alarm);
  while (!ready() && !failed_ && !alarm.rang && timer != nullptr)
    pa_threaded_mainloop_wait(loop_);
  if (timer != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
  return ready() && !failed_;
}

bool PulseOutput::Open(SoftwareMixer& mixer, const char* application_name,
                       std::chrono::milliseconds wait) {
  if (loop_ != nullptr) return true;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  failed_ = false;
  mixer_ = &mixer;
  piece_.resize(2 * kPieceFrames);
  if (!mixer.SetOutputRate(kRate)) return false;

  loop_ = pa_threaded_mainloop_new();
  if (loop_ == nullptr) return false;
  pa_threaded_mainloop_set_name(loop_, "VESKA sound");
  context_ =
      pa_context_new(pa_threaded_mainloop_get_api(loop_), application_name);
  if (context_ == nullptr) {
    Close();
    return false;
  }
  pa_context_set_state_callback(context_, &PulseOutput::OnContextState, this);
  // A server that is not running is not started for us: the desktop starts
  // its own, and without one the SDL output is tried instead.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) <
          0 ||
      pa_threaded_mainloop_start(loop_) < 0) {
    Close();
    return false;
  }

  pa_threaded_mainloop_lock(loop_);
  bool ready = WaitFor(
      [this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
      deadline);
  if (ready) {
    stream_ = pa_stream_new(context_, application_name, &kSpec, nullptr);
    if (stream_ != nullptr) {
      pa_stream_set_state_callback(stream_, &PulseOutput::OnStreamState, this);
      pa_stream_set_write_callback(stream_, &PulseOutput::OnWrite, this);
      pa_buffer_attr attr;
      attr.maxlength = UINT32_MAX;
      attr.tlength =
          uint32_t(pa_usec_to_bytes(pa_usec_t(kTargetLatency.count()), &kSpec));
      attr.prebuf = UINT32_MAX;
      attr.minreq =
          uint32_t(pa_usec_to_bytes(pa_usec_t(kRequest.count()), &kSpec));
      attr.fragsize = UINT32_MAX;
      // The latency asked for is the whole way to the listener, the
      // server's own buffer included.
      ready = pa_stream_connect_playback(stream_, nullptr, &attr,
                                         PA_STREAM_ADJUST_LATENCY, nullptr,
                                         nullptr) >= 0 &&
              WaitFor(
                  [this] {
                    return pa_stream_get_state(stream_) == PA_STREAM_READY;
                  },
                  deadline);
    } else {
      ready = false;
    }
  }
  pa_threaded_mainloop_unlock(loop_);
  if (!ready) Close();
  return ready;
}

void PulseOutput::Close() {
  if (loop_ == nullptr) return;
  // Joins the loop's thread: no callback runs after this.
  pa_threaded_mainloop_stop(loop_);
  if (stream_ != nullptr) {
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  pa_threaded_mainloop_free(loop_);
  loop_ = nullptr;
}

void PulseOutput::OnContextState(pa_context* context, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
    output->failed_ = true;
  pa_threaded_mainloop_signal(output->loop_, 0);
}

void PulseOutput::OnStreamState(pa_stream* stream, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
    output->failed_ = true;
  pa_threaded_mainloop_signal(output->loop_, 0);
}

void PulseOutput::OnWrite(pa_stream* stream, size_t bytes, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  std::vector<float>& piece = output->piece_;
  size_t frames = bytes / kFrameBytes;
  while (frames > 0) {
    const size_t n = std::min(frames, kPieceFrames);
    output->mixer_->RenderClamped(piece.data(), uint32_t(n));
    if (pa_stream_write(stream, piece.data(), n * kFrameBytes, nullptr, 0,
                        PA_SEEK_RELATIVE) < 0) {
      return;
    }
    frames -= n;
  }
}

}  // namespace veska
