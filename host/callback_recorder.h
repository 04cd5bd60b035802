// A host's callback that keeps what the plug-in sent: every status call, the
// number of sample blocks, and each block's check against the counting pattern.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "device/device_abi.h"

namespace halvorn::host {

// Follows the counting pattern block by block on the delivery thread.
class CountingPatternChecker {
 public:
  void Reset();
  // `block` holds `pairs` pairs of 6 bytes.
  void Check(const std::uint8_t* block, int pairs);

  std::uint64_t pairs_checked() const { return pairs_checked_.load(); }
  // Pairs skipped forward (lost in the plug-in or dropped by design).
  std::uint64_t pairs_missing() const { return pairs_missing_.load(); }
  // Pairs that went backward or repeated, and blocks whose pairs do not count up.
  std::uint64_t pairs_out_of_order() const { return pairs_out_of_order_.load(); }
  std::uint64_t torn_blocks() const { return torn_blocks_.load(); }
  std::uint64_t first_pair() const { return first_pair_.load(); }
  std::uint64_t next_pair() const { return next_pair_.load(); }

 private:
  std::atomic<bool> started_{false};
  std::atomic<std::uint64_t> first_pair_{0};
  std::atomic<std::uint64_t> next_pair_{0};
  std::atomic<std::uint64_t> pairs_checked_{0};
  std::atomic<std::uint64_t> pairs_missing_{0};
  std::atomic<std::uint64_t> pairs_out_of_order_{0};
  std::atomic<std::uint64_t> torn_blocks_{0};
};

class CallbackRecorder {
 public:
  struct StatusCall {
    int count;
    int status;
    float iq_offset;
    bool data_is_null;
    std::thread::id thread;
  };
  using BlockObserver = void (*)(const std::uint8_t* block, void* context);

  static CallbackRecorder& Instance();
  // The function a host registers with SetCallback.
  static void HALVORN_CDECL Callback(int count, int status, float iq_offset, void* data);

  void Reset();
  std::vector<StatusCall> status_calls() const;
  std::vector<int> statuses() const;
  std::uint64_t blocks() const { return blocks_.load(); }
  // Sample calls whose count, status, offset or data break the contract.
  std::uint64_t malformed_blocks() const { return malformed_blocks_.load(); }
  std::thread::id block_thread() const;

  CountingPatternChecker& counting() { return counting_; }
  void set_check_counting(bool check) { check_counting_ = check; }
  // Called on the delivery thread for each block, after the checks.
  void SetBlockObserver(BlockObserver observer, void* context);

 private:
  void OnCall(int count, int status, float iq_offset, void* data);

  mutable std::mutex mutex_;
  std::vector<StatusCall> status_calls_;
  std::thread::id block_thread_;
  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<std::uint64_t> malformed_blocks_{0};
  std::atomic<bool> check_counting_{false};
  CountingPatternChecker counting_;
  std::atomic<BlockObserver> observer_{nullptr};
  std::atomic<void*> observer_context_{nullptr};
};

}  // namespace halvorn::host
