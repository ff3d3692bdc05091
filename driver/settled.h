// Waiting for what another thread settles, without spinning: a mutex and a condition variable, which
// every system's threads provide alike.
#pragma once

#include <condition_variable>
#include <mutex>

namespace quil {

class Settled {
 public:
  // Runs `settle` (which stores what the waiters wait for) and wakes them.
  template <typename Settle>
  void settle(Settle&& settle) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      settle();
    }
    changed_.notify_all();
  }
  // Returns once `ready()` holds.
  template <typename Ready>
  void wait_until(Ready&& ready) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, ready);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace quil
