// The host's callback the tests register, natively and through the real DLL:
// it keeps every status call, counts the sample blocks, follows the counting
// pattern stream by stream (a stream starts at pair 0), hands each block to
// an observer, and can act from inside a block's call, on the delivery thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/counting_pattern_checker.h"
#include "ports/calling_convention.h"

namespace halvorn::testing {

// Work a host does from inside its callback.
struct CallbackAction {
  std::function<void()> work;
  std::atomic<bool> done{false};
};

class CountingHost {
 public:
  struct StatusCall {
    int count;
    int status;
    float iq_offset;
    bool data_is_null;
    std::thread::id thread;
  };
  using BlockObserver = void (*)(const std::uint8_t* block, void* context);

  static CountingHost& Instance();
  // The function a host registers with SetCallback.
  static void HALVORN_CDECL Callback(std::int32_t count, std::int32_t status, float iq_offset, void* data);

  // Forgets everything; the observer, the delay and counting stay as set.
  void Reset();
  // Whether the blocks carry the counting pattern and are followed.
  void set_check_counting(bool check) { check_counting_ = check; }
  // Call before registering the callback again: blocks went by unseen, so
  // the next block joins its stream without counting a gap.
  void Resync();
  // A slow host: every block's call takes at least this long.
  void SetBlockDelay(int microseconds) { block_delay_us_ = microseconds; }
  // Called for each well-formed block, after the checks.
  void SetBlockObserver(BlockObserver observer, void* context);

  // Runs `action` inside the next block's call. False when no block came
  // within `timeout`; the action has then not run and never will. `idle`
  // runs while waiting: a host with windows pumps its messages there, since
  // the action may wait for its window thread.
  bool RunInCallback(CallbackAction& action, std::chrono::milliseconds timeout, const std::function<void()>& idle);

  std::vector<StatusCall> status_calls() const;
  std::vector<int> statuses() const;
  // The statuses since the last take.
  std::vector<int> TakeStatuses();

  std::uint64_t blocks() const { return blocks_.load(std::memory_order_acquire); }
  // Block calls whose count, status, offset or data break the contract.
  std::uint64_t malformed_blocks() const { return malformed_blocks_.load(); }
  std::thread::id block_thread() const;

  // The counting pattern, over every stream since the reset.
  std::uint64_t streams() const {
    return Locked([this] { return streams_; });
  }
  std::uint64_t pairs_checked() const {
    return Locked([this] { return earlier_pairs_checked_ + stream_.pairs_checked(); });
  }
  // Pairs skipped forward inside a stream: blocks the ring dropped.
  std::uint64_t missing_pairs() const {
    return Locked([this] { return earlier_missing_pairs_ + stream_.pairs_missing(); });
  }
  std::uint64_t out_of_order_pairs() const {
    return Locked([this] { return earlier_out_of_order_pairs_ + stream_.pairs_out_of_order(); });
  }
  std::uint64_t torn_blocks() const {
    return Locked([this] { return earlier_torn_blocks_ + stream_.torn_blocks(); });
  }
  std::uint64_t first_pair() const {
    return Locked([this] { return first_pair_.value_or(0); });
  }
  std::uint64_t next_pair() const {
    return Locked([this] { return stream_.next_pair(); });
  }
  // What broke the contract or the pattern, one line each.
  std::vector<std::string> faults() const {
    return Locked([this] { return faults_; });
  }

 private:
  void OnStatus(std::int32_t count, std::int32_t status, float iq_offset, void* data);
  void OnBlock(std::int32_t count, std::int32_t status, float iq_offset, const std::uint8_t* block);
  void Follow(const std::uint8_t* block);
  void Fault(std::string text);
  template <typename Read>
  std::invoke_result_t<Read> Locked(Read read) const {
    std::lock_guard lock(mutex_);
    return read();
  }

  mutable std::mutex mutex_;
  std::vector<StatusCall> status_calls_;
  std::size_t statuses_taken_ = 0;
  std::vector<std::string> faults_;
  std::thread::id block_thread_;

  // The stream being followed, and what the streams before it counted.
  host::CountingPatternChecker stream_;
  bool in_stream_ = false;
  bool resync_ = false;
  std::uint64_t streams_ = 0;
  std::uint64_t earlier_pairs_checked_ = 0;
  std::uint64_t earlier_missing_pairs_ = 0;
  std::uint64_t earlier_out_of_order_pairs_ = 0;
  std::uint64_t earlier_torn_blocks_ = 0;
  std::optional<std::uint64_t> first_pair_;

  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<std::uint64_t> malformed_blocks_{0};
  std::atomic<bool> check_counting_{false};
  std::atomic<int> block_delay_us_{0};
  std::atomic<BlockObserver> observer_{nullptr};
  std::atomic<void*> observer_context_{nullptr};
  std::atomic<CallbackAction*> armed_{nullptr};
};

}  // namespace halvorn::testing
