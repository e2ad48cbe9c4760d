// SPDX-License-Identifier: Apache-2.0
#pragma once
// LoadGate - holds the model load back until the audio is known to be
// readable, so that a file that is not audio is rejected without it.

#include <condition_variable>
#include <mutex>

namespace tuvel::speech::pocketsphinx {

class LoadGate {
 public:
  /// The audio can be read: the load may start. Does nothing once cancelled.
  void open() { settle(State::opened); }
  /// There will be no audio: the load is not wanted. Does nothing once opened.
  void cancel() { settle(State::cancelled); }

  /// Blocks until opened (true) or cancelled (false).
  bool wait() {
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [this] { return state_ != State::waiting; });
    return state_ == State::opened;
  }

 private:
  enum class State { waiting, opened, cancelled };

  void settle(State state) {
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::waiting) return;
      state_ = state;
    }
    settled_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable settled_;
  State state_ = State::waiting;
};

}  // namespace tuvel::speech::pocketsphinx
