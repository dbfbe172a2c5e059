// A queue between threads: any number of senders, one receiver, closed once and then drained.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace dravelin::lsp::transport {

enum class TryReceive { Item, Empty, Disconnected };

template <class T>
class Channel {
 public:
  // False when the channel is closed: the item is dropped.
  bool send(T item) {
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      items_.push_back(std::move(item));
    }
    ready_.notify_one();
    return true;
  }

  // Several items made visible at once, so that a receiver that wakes up finds all of them waiting.
  bool send_all(std::vector<T>&& items) {
    if (items.empty()) return true;
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      for (T& item : items) items_.push_back(std::move(item));
    }
    ready_.notify_one();
    return true;
  }

  // Ends sending; whatever is queued can still be received.
  void close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

  bool closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }

  // Blocks for the next item; nothing once the channel is closed and empty.
  std::optional<T> receive() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !items_.empty() || closed_; });
    return pop_locked();
  }

  // The next item, waiting no later than `deadline`; `timed_out` tells a timeout from a closed channel.
  std::optional<T> receive_until(std::chrono::steady_clock::time_point deadline, bool& timed_out) {
    std::unique_lock lock(mutex_);
    timed_out = !ready_.wait_until(lock, deadline, [&] { return !items_.empty() || closed_; });
    if (timed_out) return std::nullopt;
    return pop_locked();
  }

  TryReceive try_receive(T& out) {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return closed_ ? TryReceive::Disconnected : TryReceive::Empty;
    out = std::move(items_.front());
    items_.pop_front();
    return TryReceive::Item;
  }

 private:
  std::optional<T> pop_locked() {
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
};

}  // namespace dravelin::lsp::transport
