// An unbounded multi-producer channel: senders are copied freely, one receiver blocks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace velt::platform {

template <class T>
class Channel {
 public:
  void send(T value) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(value));
    }
    ready_.notify_one();
  }
  T recv() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !queue_.empty(); });
    return pop();
  }
  // None when nothing arrived within `timeout`.
  std::optional<T> recv_timeout(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return std::nullopt;
    return pop();
  }

 private:
  T pop() {
    T v = std::move(queue_.front());
    queue_.pop_front();
    return v;
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> queue_;
};

// The sending end: a shared reference to the channel.
template <class T>
using Sender = std::shared_ptr<Channel<T>>;

}  // namespace velt::platform
