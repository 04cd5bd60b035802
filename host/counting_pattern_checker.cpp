#include "host/counting_pattern_checker.h"

#include "simulator/counting_pattern.h"

namespace halvorn::host {

void CountingPatternChecker::Reset() {
  started_ = false;
  first_pair_ = next_pair_ = pairs_checked_ = pairs_missing_ = pairs_out_of_order_ = torn_blocks_ = 0;
}

void CountingPatternChecker::Check(const std::uint8_t* block, int pairs) {
  const std::uint64_t first = simulator::ReadCountingPair(block);
  for (int i = 1; i < pairs; ++i) {
    if (simulator::ReadCountingPair(block + i * simulator::kPairBytes) != first + i) {
      ++torn_blocks_;
      break;
    }
  }
  if (!started_.exchange(true)) {
    first_pair_ = first;
  } else if (first > next_pair_) {
    pairs_missing_ += first - next_pair_;
  } else if (first < next_pair_ && first != 0) {
    // Pair 0 again is the receiver's input started afresh, as a rate change
    // while streaming does: a new stream, not a step back.
    pairs_out_of_order_ += pairs;
  }
  next_pair_ = first + pairs;
  pairs_checked_ += pairs;
}

}  // namespace halvorn::host
