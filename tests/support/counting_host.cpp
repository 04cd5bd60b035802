#include "tests/support/counting_host.h"

#include "ports/sample_block.h"
#include "simulator/counting_pattern.h"

namespace halvorn::testing {

CountingHost& CountingHost::Instance() {
  static CountingHost host;
  return host;
}

void HALVORN_CDECL CountingHost::Callback(std::int32_t count, std::int32_t status, float iq_offset, void* data) {
  if (count < 0) {
    Instance().OnStatus(count, status, iq_offset, data);
  } else {
    Instance().OnBlock(count, status, iq_offset, static_cast<const std::uint8_t*>(data));
  }
}

void CountingHost::Reset() {
  std::lock_guard lock(mutex_);
  status_calls_.clear();
  statuses_taken_ = 0;
  faults_.clear();
  block_thread_ = {};
  stream_.Reset();
  in_stream_ = false;
  resync_ = false;
  streams_ = 0;
  earlier_pairs_checked_ = earlier_missing_pairs_ = earlier_out_of_order_pairs_ = earlier_torn_blocks_ = 0;
  first_pair_.reset();
  blocks_ = 0;
  malformed_blocks_ = 0;
}

void CountingHost::Resync() {
  std::lock_guard lock(mutex_);
  resync_ = true;
}

void CountingHost::SetBlockObserver(BlockObserver observer, void* context) {
  observer_context_.store(context);
  observer_.store(observer);
}

bool CountingHost::RunInCallback(CallbackAction& action, std::chrono::milliseconds timeout,
                                 const std::function<void()>& idle) {
  action.done = false;
  armed_.store(&action, std::memory_order_release);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!action.done.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() > deadline) {
      CallbackAction* expected = &action;
      if (armed_.compare_exchange_strong(expected, nullptr)) return false;
      // Taken just now: it runs; wait for it.
      while (!action.done.load(std::memory_order_acquire)) idle();
      return true;
    }
    idle();
  }
  return true;
}

std::vector<CountingHost::StatusCall> CountingHost::status_calls() const {
  std::lock_guard lock(mutex_);
  return status_calls_;
}

std::vector<int> CountingHost::statuses() const {
  std::vector<int> statuses;
  for (const StatusCall& call : status_calls()) statuses.push_back(call.status);
  return statuses;
}

std::vector<int> CountingHost::TakeStatuses() {
  std::lock_guard lock(mutex_);
  std::vector<int> taken;
  for (; statuses_taken_ < status_calls_.size(); ++statuses_taken_)
    taken.push_back(status_calls_[statuses_taken_].status);
  return taken;
}

std::thread::id CountingHost::block_thread() const {
  std::lock_guard lock(mutex_);
  return block_thread_;
}

void CountingHost::OnStatus(std::int32_t count, std::int32_t status, float iq_offset, void* data) {
  std::lock_guard lock(mutex_);
  status_calls_.push_back({count, status, iq_offset, data == nullptr, std::this_thread::get_id()});
  if (count != -1 || iq_offset != 0.0f || data != nullptr) {
    Fault("status call " + std::to_string(status) + " with count " + std::to_string(count));
  }
}

void CountingHost::OnBlock(std::int32_t count, std::int32_t status, float iq_offset, const std::uint8_t* block) {
  if (count != kBlockPairs || status != 0 || iq_offset != 0.0f || block == nullptr) {
    ++malformed_blocks_;
    std::lock_guard lock(mutex_);
    Fault("malformed block call: count " + std::to_string(count) + ", status " + std::to_string(status));
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (blocks_.load(std::memory_order_relaxed) == 0) block_thread_ = std::this_thread::get_id();
    if (check_counting_) Follow(block);
  }
  // Counted once followed, and before the observer, which may hold the call.
  blocks_.fetch_add(1, std::memory_order_acq_rel);
  if (BlockObserver observer = observer_.load()) observer(block, observer_context_.load());
  if (const int delay = block_delay_us_.load(); delay > 0)
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  if (CallbackAction* action = armed_.exchange(nullptr, std::memory_order_acq_rel)) {
    action->work();
    action->done.store(true, std::memory_order_release);
  }
}

// Called with the lock held.
void CountingHost::Follow(const std::uint8_t* block) {
  const std::uint64_t first = simulator::ReadCountingPair(block);
  if (first % kBlockPairs != 0) {
    Fault("block from pair " + std::to_string(first) + " is not on a block boundary");
  }
  // A stream that starts, or one joined after blocks went by unseen, is
  // followed afresh.
  if (first == 0 || !in_stream_ || resync_) {
    if (first == 0) ++streams_;
    earlier_pairs_checked_ += stream_.pairs_checked();
    earlier_missing_pairs_ += stream_.pairs_missing();
    earlier_out_of_order_pairs_ += stream_.pairs_out_of_order();
    earlier_torn_blocks_ += stream_.torn_blocks();
    stream_.Reset();
  }
  if (!first_pair_) first_pair_ = first;
  const std::uint64_t next = stream_.next_pair();
  const std::uint64_t torn_before = stream_.torn_blocks();
  const std::uint64_t out_of_order_before = stream_.pairs_out_of_order();
  stream_.Check(block, kBlockPairs);
  if (stream_.torn_blocks() != torn_before) {
    Fault("torn block: the pairs of the block from pair " + std::to_string(first) + " do not count up");
  }
  if (stream_.pairs_out_of_order() != out_of_order_before) {
    Fault("block from pair " + std::to_string(first) + " repeats or goes back (next was " + std::to_string(next) + ")");
  }
  in_stream_ = true;
  resync_ = false;
}

void CountingHost::Fault(std::string text) {
  // Enough to tell what went wrong; a broken stream would fill memory.
  if (faults_.size() < 100) faults_.push_back(std::move(text));
}

}  // namespace halvorn::testing
