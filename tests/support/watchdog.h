// Fails the run when one step does not return within the bound: prints what
// was running and the steps before it, and aborts, since a hung step cannot
// be unwound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace halvorn::testing {

class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds bound) : what_(std::move(what)), bound_(bound) {
    thread_ = std::thread([this] { Watch(); });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Begin(int step, std::string description) {
    std::lock_guard lock(mutex_);
    recent_.push_back("#" + std::to_string(step) + " " + std::move(description));
    if (recent_.size() > 24) recent_.pop_front();
    started_ = std::chrono::steady_clock::now();
    in_step_ = true;
  }
  void End() {
    std::lock_guard lock(mutex_);
    in_step_ = false;
  }
  std::string Recent() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& step : recent_) text += "  " + step + "\n";
    return text;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      if (in_step_ && std::chrono::steady_clock::now() - started_ > bound_) {
        std::fprintf(stderr, "\nWATCHDOG: %s: a step did not return within %lld s. Last steps:\n", what_.c_str(),
                     static_cast<long long>(bound_.count()));
        for (const auto& step : recent_) std::fprintf(stderr, "  %s\n", step.c_str());
        std::fflush(stderr);
        std::abort();
      }
    }
  }

  const std::string what_;
  const std::chrono::seconds bound_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> recent_;
  std::chrono::steady_clock::time_point started_;
  bool in_step_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace halvorn::testing
