// The host callback of extio_host: counts what arrives, follows the counting
// pattern when the simulated receiver sends it, hands each block to the
// capture, and queues the status calls for the program's main thread.
//
// Blocks arrive on the plug-in's delivery thread and take no lock here; status
// calls (rate changed, recording started or stopped) are rare and come from
// whichever thread the plug-in uses, so they go through a small locked queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/device_abi.h"
#include "host/capture_writer.h"
#include "host/counting_pattern_checker.h"

namespace halvorn::host {

// Bytes of one I/Q pair for an ExtIO sample type; 0 when unknown.
int PairBytesForSampleType(int sample_type);
// "24-bit integer" and the like; "unknown" for other types.
const char* SampleTypeName(int sample_type);

class SessionCallback {
 public:
  static SessionCallback& Instance();
  // The function the host registers with SetCallback.
  static void HALVORN_CDECL Callback(int count, int status, float iq_offset, void* data);

  // Only while no block can arrive (before StartHW, after StopHW): what one
  // pair takes, whether to follow the counting pattern, and where a copy of
  // every block goes (null: nowhere). Counts start again from zero.
  void Prepare(int pair_bytes, bool check_counting, CaptureWriter* capture);

  std::uint64_t blocks() const { return blocks_.load(std::memory_order_acquire); }
  std::uint64_t pairs() const { return pairs_.load(std::memory_order_acquire); }
  // Block calls whose count was not positive or whose data was null.
  std::uint64_t malformed_blocks() const { return malformed_.load(std::memory_order_relaxed); }
  // Smallest and largest pair count of a block; 0 before the first.
  int smallest_block() const { return smallest_block_.load(std::memory_order_relaxed); }
  int largest_block() const { return largest_block_.load(std::memory_order_relaxed); }
  const CountingPatternChecker& counting() const { return counting_; }
  bool checking_counting() const { return check_counting_.load(std::memory_order_relaxed); }

  // The status calls since the last take, oldest first.
  std::vector<int> TakeStatuses();

 private:
  void OnBlock(int count, const std::uint8_t* data);

  std::atomic<int> pair_bytes_{0};
  std::atomic<bool> check_counting_{false};
  std::atomic<CaptureWriter*> capture_{nullptr};

  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<std::uint64_t> pairs_{0};
  std::atomic<std::uint64_t> malformed_{0};
  std::atomic<int> smallest_block_{0};
  std::atomic<int> largest_block_{0};
  CountingPatternChecker counting_;

  std::mutex status_mutex_;
  std::vector<int> statuses_;
};

}  // namespace halvorn::host
