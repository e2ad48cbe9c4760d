// SPDX-License-Identifier: Apache-2.0
#pragma once
// ResultChannel - a ResultStream that one thread fills while another reads.

#include <condition_variable>
#include <deque>
#include <mutex>

#include "engine/speech_engine.h"

namespace tuvel::speech {

class ResultChannel final : public ResultStream {
 public:
  void push(std::string piece) {
    {
      std::lock_guard lock(mutex_);
      pieces_.push_back(std::move(piece));
    }
    ready_.notify_one();
  }

  /// Ends the stream after the pieces already pushed; `failure` makes it fail there.
  void close(std::optional<PlatformError> failure = std::nullopt) {
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
      closed_ = true;
      failure_ = std::move(failure);
    }
    ready_.notify_one();
  }

  Expected<std::optional<std::string>> next(std::stop_token stop) override {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, stop, [this] { return !pieces_.empty() || closed_; });
    if (stop.stop_requested()) return std::optional<std::string>{};
    if (!pieces_.empty()) {
      std::string piece = std::move(pieces_.front());
      pieces_.pop_front();
      return std::optional<std::string>{std::move(piece)};
    }
    if (failure_) return *failure_;
    return std::optional<std::string>{};
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::deque<std::string> pieces_;
  bool closed_ = false;
  std::optional<PlatformError> failure_;
};

}  // namespace tuvel::speech
