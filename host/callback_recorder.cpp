#include "host/callback_recorder.h"

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
  } else if (first < next_pair_) {
    pairs_out_of_order_ += pairs;
  }
  next_pair_ = first + pairs;
  pairs_checked_ += pairs;
}

CallbackRecorder& CallbackRecorder::Instance() {
  static CallbackRecorder recorder;
  return recorder;
}

void HALVORN_CDECL CallbackRecorder::Callback(int count, int status, float iq_offset, void* data) {
  Instance().OnCall(count, status, iq_offset, data);
}

void CallbackRecorder::Reset() {
  std::lock_guard lock(mutex_);
  status_calls_.clear();
  block_thread_ = {};
  blocks_ = 0;
  malformed_blocks_ = 0;
  counting_.Reset();
}

void CallbackRecorder::OnCall(int count, int status, float iq_offset, void* data) {
  if (count < 0) {
    std::lock_guard lock(mutex_);
    status_calls_.push_back({count, status, iq_offset, data == nullptr, std::this_thread::get_id()});
    return;
  }
  const auto* block = static_cast<const std::uint8_t*>(data);
  if (count != 1024 || status != 0 || iq_offset != 0.0f || block == nullptr) {
    ++malformed_blocks_;
    return;
  }
  if (blocks_.fetch_add(1) == 0) {
    std::lock_guard lock(mutex_);
    block_thread_ = std::this_thread::get_id();
  }
  if (check_counting_) counting_.Check(block, count);
  if (BlockObserver observer = observer_.load()) observer(block, observer_context_.load());
}

std::vector<CallbackRecorder::StatusCall> CallbackRecorder::status_calls() const {
  std::lock_guard lock(mutex_);
  return status_calls_;
}

std::vector<int> CallbackRecorder::statuses() const {
  std::vector<int> statuses;
  for (const StatusCall& call : status_calls()) statuses.push_back(call.status);
  return statuses;
}

std::thread::id CallbackRecorder::block_thread() const {
  std::lock_guard lock(mutex_);
  return block_thread_;
}

void CallbackRecorder::SetBlockObserver(BlockObserver observer, void* context) {
  observer_context_.store(context);
  observer_.store(observer);
}

}  // namespace halvorn::host
