#include "host/session_callback.h"

namespace halvorn::host {

int PairBytesForSampleType(int sample_type) {
  switch (sample_type) {
    case 3: return 4;  // two 16-bit integers
    case 5: return 6;  // two 24-bit integers
    case 6: return 8;  // two 32-bit integers
    case 7: return 8;  // two 32-bit floats
    default: return 0;
  }
}

const char* SampleTypeName(int sample_type) {
  switch (sample_type) {
    case 3: return "16-bit integer";
    case 5: return "24-bit integer";
    case 6: return "32-bit integer";
    case 7: return "32-bit float";
    default: return "unknown";
  }
}

SessionCallback& SessionCallback::Instance() {
  static SessionCallback callback;
  return callback;
}

void HALVORN_CDECL SessionCallback::Callback(int count, int status, float /*iq_offset*/, void* data) {
  SessionCallback& self = Instance();
  if (count >= 0) {
    self.OnBlock(count, static_cast<const std::uint8_t*>(data));
    return;
  }
  std::lock_guard lock(self.status_mutex_);
  self.statuses_.push_back(status);
}

void SessionCallback::Prepare(int pair_bytes, bool check_counting, CaptureWriter* capture) {
  pair_bytes_.store(pair_bytes, std::memory_order_relaxed);
  check_counting_.store(check_counting && pair_bytes == 6, std::memory_order_relaxed);
  capture_.store(capture, std::memory_order_relaxed);
  blocks_.store(0, std::memory_order_relaxed);
  pairs_.store(0, std::memory_order_relaxed);
  malformed_.store(0, std::memory_order_relaxed);
  smallest_block_.store(0, std::memory_order_relaxed);
  largest_block_.store(0, std::memory_order_relaxed);
  counting_.Reset();
}

void SessionCallback::OnBlock(int count, const std::uint8_t* data) {
  if (count <= 0 || data == nullptr) {
    malformed_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // Only this thread writes the extremes; the main thread reads them.
  const int smallest = smallest_block_.load(std::memory_order_relaxed);
  if (smallest == 0 || count < smallest) smallest_block_.store(count, std::memory_order_relaxed);
  if (count > largest_block_.load(std::memory_order_relaxed)) largest_block_.store(count, std::memory_order_relaxed);

  if (check_counting_.load(std::memory_order_relaxed)) counting_.Check(data, count);
  if (CaptureWriter* capture = capture_.load(std::memory_order_relaxed)) {
    const int pair_bytes = pair_bytes_.load(std::memory_order_relaxed);
    if (pair_bytes > 0) capture->Push(data, static_cast<std::size_t>(count) * pair_bytes);
  }
  // Counted last, so a count the main thread sees is a block fully handled.
  pairs_.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_release);
  blocks_.fetch_add(1, std::memory_order_release);
}

std::vector<int> SessionCallback::TakeStatuses() {
  std::lock_guard lock(status_mutex_);
  std::vector<int> taken;
  taken.swap(statuses_);
  return taken;
}

}  // namespace halvorn::host
