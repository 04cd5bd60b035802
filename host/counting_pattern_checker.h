// Follows the simulated receiver's counting pattern block by block, as a host
// that received the blocks sees it: pairs skipped, out of order or torn.
#pragma once

#include <atomic>
#include <cstdint>

namespace halvorn::host {

// Check runs on the delivery thread; the counts may be read from any thread.
class CountingPatternChecker {
 public:
  void Reset();
  // `block` holds `pairs` pairs of 6 bytes.
  void Check(const std::uint8_t* block, int pairs);

  std::uint64_t pairs_checked() const { return pairs_checked_.load(); }
  // Pairs skipped forward (lost in the plug-in or dropped by design).
  std::uint64_t pairs_missing() const { return pairs_missing_.load(); }
  // Pairs that went backward or repeated (a block from pair 0 starts a new
  // stream instead), and blocks whose pairs do not count up.
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

}  // namespace halvorn::host
