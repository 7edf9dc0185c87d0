#include "sound/linux/output_keeper.h"

#include <utility>

namespace veska {

OutputKeeper::OutputKeeper(Output output, std::FILE* messages,
                           std::chrono::milliseconds period)
    : output_(std::move(output)), messages_(messages), period_(period) {}

OutputKeeper::~OutputKeeper() { Stop(); }

void OutputKeeper::Start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread(&OutputKeeper::Run, this);
}

void OutputKeeper::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void OutputKeeper::Run() {
  bool lost = false;
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
    lock.unlock();
    Look(lost);
    lock.lock();
  }
}

void OutputKeeper::Look(bool& lost) {
  if (!lost && !output_.playing()) {
    output_.close();
    lost = true;
    if (messages_ != nullptr) {
      std::fputs("Sound output lost; it is reopened when it returns.\n",
                 messages_);
      std::fflush(messages_);
    }
  }
  if (lost && output_.reopen()) {
    lost = false;
    if (messages_ != nullptr) {
      std::fputs("Sound output back.\n", messages_);
      std::fflush(messages_);
    }
  }
}

}  // namespace veska
