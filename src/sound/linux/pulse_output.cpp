#include "sound/linux/pulse_output.h"

#include <poll.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <algorithm>

namespace veska {
namespace {

constexpr size_t kFrameBytes = 2 * sizeof(float);
// Rendered here and copied by the client library: the mix never has to
// trust the alignment of the server's shared memory.
constexpr size_t kPieceFrames = 2048;

const pa_sample_spec kSpec = {PA_SAMPLE_FLOAT32NE, PulseOutput::kRate, 2};

using Micros = std::chrono::duration<double, std::micro>;
// How far past a request's arrival a paced wake is set, and how much
// earlier each following one is drawn, so that the beat never lags the
// requests for long: a lag is taken from what the buffer holds.
constexpr Micros kPaceSlack{1500};
constexpr Micros kPaceDrift{200};

}  // namespace

void PulseOutput::Pace(PulseOutput* output, size_t bytes) {
  // The buffer's first filling, and the pieces after a late wake, are not
  // the beat.
  const Micros piece(double(pa_bytes_to_usec(bytes, &kSpec)));
  if (piece > output->request_ * 0.5 && piece < output->request_ * 1.5)
    output->beat_ = output->beat_ * 0.875 + piece * 0.125;
  const auto now = Clock::now();
  const auto beat = std::chrono::duration_cast<Clock::duration>(output->beat_);
  if (!output->paced_wake_) {
    // Woken by the request itself: its arrival sets the beat's phase.
    output->next_piece_ =
        now + beat + std::chrono::duration_cast<Clock::duration>(kPaceSlack);
  } else if (++output->pieces_this_wake_ == 1) {
    output->next_piece_ +=
        beat - std::chrono::duration_cast<Clock::duration>(kPaceDrift);
    // Woken a whole piece late or more: start again from now.
    if (output->next_piece_ <= now) output->next_piece_ = now + beat;
  }
  output->paced_ = true;
}

PulseOutput::~PulseOutput() { Close(); }

template <typename Ready>
bool PulseOutput::RunUntil(Ready ready, Clock::time_point deadline) {
  while (!ready() && !failed_) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - Clock::now());
    if (left.count() <= 0) return false;
    // A server that takes the connection and never answers cannot hold the
    // program past the deadline.
    if (pa_mainloop_prepare(loop_, int(left.count())) < 0 ||
        pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0) {
      return false;
    }
  }
  return ready() && !failed_;
}

bool PulseOutput::Open(SoftwareMixer& mixer, const char* application_name,
                       std::chrono::milliseconds wait) {
  if (loop_ != nullptr) return true;
  const auto deadline = Clock::now() + wait;
  failed_ = false;
  paced_ = false;
  stopping_ = false;
  mixer_ = &mixer;
  piece_.resize(2 * kPieceFrames);
  if (!mixer.SetOutputRate(kRate)) return false;

  loop_ = pa_mainloop_new();
  if (loop_ == nullptr) return false;
  pa_mainloop_set_poll_func(loop_, &PulseOutput::Poll, this);
  context_ = pa_context_new(pa_mainloop_get_api(loop_), application_name);
  if (context_ == nullptr) {
    Close();
    return false;
  }
  pa_context_set_state_callback(context_, &PulseOutput::OnContextState, this);
  // A server that is not running is not started for us: the desktop starts
  // its own, and without one the SDL output is tried instead.
  bool ready =
      pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >=
          0 &&
      RunUntil(
          [this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
          deadline);
  if (ready) {
    stream_ = pa_stream_new(context_, application_name, &kSpec, nullptr);
    ready = stream_ != nullptr;
  }
  if (ready) {
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
    // The latency asked for is the whole way to the listener, the server's
    // own buffer included.
    ready =
        pa_stream_connect_playback(stream_, nullptr, &attr,
                                   PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) >= 0 &&
        RunUntil(
            [this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
            deadline);
  }
  if (!ready) {
    Close();
    return false;
  }
  if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_))
    request_ = Micros(double(pa_bytes_to_usec(attr->minreq, &kSpec)));
  beat_ = request_;
  thread_ = std::thread(&PulseOutput::Run, this);
  return true;
}

void PulseOutput::Run() {
  pthread_setname_np(pthread_self(), "VESKA sound");
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) {
      failed_ = true;
      return;
    }
  }
}

void PulseOutput::Close() {
  if (loop_ == nullptr) return;
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stop_.notify_all();
    pa_mainloop_wakeup(loop_);
    thread_.join();
  }
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
  pa_mainloop_free(loop_);
  loop_ = nullptr;
}

int PulseOutput::Poll(pollfd* fds, unsigned long count, int timeout_ms,
                      void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  output->pieces_this_wake_ = 0;
  output->paced_wake_ = output->paced_;
  if (!output->paced_) return poll(fds, count, timeout_ms);
  // Without a request by then, the next wait wakes on the server's word.
  output->paced_ = false;
  auto until = output->next_piece_;
  if (timeout_ms >= 0) {
    until =
        std::min(until, Clock::now() + std::chrono::milliseconds(timeout_ms));
  }
  {
    std::unique_lock lock(output->mutex_);
    if (output->stop_.wait_until(lock, until,
                                 [output] { return output->stopping_; })) {
      return 0;
    }
  }
  return poll(fds, count, 0);
}

void PulseOutput::OnContextState(pa_context* context, void* self) {
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
    static_cast<PulseOutput*>(self)->failed_ = true;
}

void PulseOutput::OnStreamState(pa_stream* stream, void* self) {
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
    static_cast<PulseOutput*>(self)->failed_ = true;
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
  Pace(output, bytes);
}

}  // namespace veska
