// A pointer published to threads that use it without a lock, taken back only
// once none of them still does. Each use is announced before the look, so a
// closing thread either sees the use under way and waits for it, or the use
// sees the route closed.
#pragma once

#include <atomic>
#include <thread>

namespace halvorn {

template <typename Target>
class GuardedRoute {
 public:
  void Open(Target* target) { target_.store(target, std::memory_order_release); }

  // Returns once no use of the earlier target is under way. Uses are short
  // (a copy into a ring; at worst a wait for a writing thread's room), so
  // this spins.
  void Close() {
    target_.store(nullptr, std::memory_order_seq_cst);
    while (users_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  }

  bool IsOpen() const { return target_.load(std::memory_order_acquire) != nullptr; }

  // Runs `use(target)` unless the route is closed.
  template <typename Action>
  void Use(Action&& use) {
    users_.fetch_add(1, std::memory_order_seq_cst);
    if (Target* target = target_.load(std::memory_order_seq_cst)) use(*target);
    users_.fetch_sub(1, std::memory_order_release);
  }

 private:
  std::atomic<Target*> target_{nullptr};
  std::atomic<int> users_{0};
};

}  // namespace halvorn
