#include "simulator/input_stream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <new>
#include <vector>

#include "simulator/bitstreams.h"
#include "simulator/pacer.h"
#include "simulator/sample_source.h"

namespace halvorn::simulator {

// One stream: owned by the stream object until its thread has been joined.
class InputSession {
 public:
  InputSession(InputStream& owner, std::int32_t bytes_per_transfer, device::TransferCallbackFn callback,
               std::unique_ptr<SampleSource> source, Pacing pacing)
      : owner_(owner),
        callback_(callback),
        source_(std::move(source)),
        pacing_(pacing),
        stamp_(ReadStampTransfers() && bytes_per_transfer >= 8),
        stall_(ReadStall()),
        attachment_(owner.presence_.Attachment()),
        transfer_(static_cast<std::size_t>(bytes_per_transfer)) {}

  static void ThreadBody(void* context) { static_cast<InputSession*>(context)->Run(); }

  void RequestStop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }

  bool stop_requested() {
    std::lock_guard lock(mutex_);
    return stop_;
  }

  std::uint64_t transfers() const { return transfers_.load(std::memory_order_relaxed); }

 private:
  void Run();
  void FillTransfer();

  InputStream& owner_;
  const device::TransferCallbackFn callback_;
  const std::unique_ptr<SampleSource> source_;
  const Pacing pacing_;
  const bool stamp_;
  const Stall stall_;
  const std::uint32_t attachment_;  // the receiver's attachment it streams from
  std::vector<std::uint8_t> transfer_;
  // A pair cut by the end of the previous transfer: its bytes still to send.
  std::uint8_t split_pair_[kPairBytes] = {};
  std::size_t split_bytes_left_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<std::uint64_t> transfers_{0};
};

void InputSession::FillTransfer() {
  std::uint8_t* out = transfer_.data();
  std::size_t left = transfer_.size();
  if (split_bytes_left_ > 0) {
    const std::size_t take = std::min(split_bytes_left_, left);
    std::memcpy(out, split_pair_ + (kPairBytes - split_bytes_left_), take);
    split_bytes_left_ -= take;
    out += take;
    left -= take;
  }
  const std::size_t whole_pairs = left / kPairBytes;
  source_->Generate(out, whole_pairs);
  out += whole_pairs * kPairBytes;
  left -= whole_pairs * kPairBytes;
  if (left > 0) {
    source_->Generate(split_pair_, 1);
    std::memcpy(out, split_pair_, left);
    split_bytes_left_ = kPairBytes - left;
  }
}

void InputSession::Run() {
  FrontEndState& front_end_state = owner_.front_end_;
  const Pacer::Clock::time_point started = Pacer::Clock::now();
  Pacer pacer(started);
  bool stalled = stall_.for_ms == 0;
  std::uint32_t seen_version = 0;
  FrontEnd front_end = front_end_state.Snapshot(&seen_version);
  source_->Configure(front_end);

  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    if (front_end_state.version() != seen_version) {
      front_end = front_end_state.Snapshot(&seen_version);
      source_->Configure(front_end);
    }
    FillTransfer();
    lock.lock();
    if (pacing_ == Pacing::kRealtime && front_end.bitstream >= 0) {
      const auto deadline = pacer.Advance(transfer_.size(), kBitstreams[front_end.bitstream].nominal_rate_hz());
      wake_.wait_until(lock, deadline, [this, deadline] { return stop_ || Pacer::Clock::now() >= deadline; });
    }
    if (!stalled && Pacer::Clock::now() - started >= std::chrono::milliseconds(stall_.after_ms)) {
      stalled = true;
      wake_.wait_for(lock, std::chrono::milliseconds(stall_.for_ms), [this] { return stop_; });
      // What the stall held back is gone; the input goes on at its pace.
      pacer = Pacer(Pacer::Clock::now());
    }
    if (stop_) break;
    if (!owner_.presence_.Serves(attachment_)) {
      // Unplugged: nothing more comes, but the thread stays until stopped, as
      // a USB library's input thread does.
      wake_.wait(lock, [this] { return stop_; });
      break;
    }
    lock.unlock();

    if (stamp_) {
      const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
      for (int byte = 0; byte < 8; ++byte) transfer_[byte] = static_cast<std::uint8_t>(now >> (8 * byte));
    }
    transfers_.fetch_add(1, std::memory_order_relaxed);
    owner_.callback_session_.store(this, std::memory_order_relaxed);
    owner_.callback_thread_.store(CurrentThreadToken(), std::memory_order_relaxed);
    callback_(transfer_.data(), nullptr);
    owner_.callback_thread_.store(0, std::memory_order_relaxed);
    lock.lock();
  }
}

InputStream::InputStream(FrontEndState& front_end, Presence& presence)
    : front_end_(front_end), presence_(presence) {}

InputStream::~InputStream() { Stop(); }

InputSession* InputStream::CallingSession() const {
  if (callback_thread_.load(std::memory_order_relaxed) != CurrentThreadToken()) return nullptr;
  return callback_session_.load(std::memory_order_relaxed);
}

InputStream::StartResult InputStream::Start(std::int32_t bytes_per_transfer, device::TransferCallbackFn callback,
                                            SourceKind source, Pacing pacing) {
  if (CallingSession() != nullptr) return StartResult::kRunning;
  if (callback == nullptr) return StartResult::kNoCallback;
  if (bytes_per_transfer <= 0 || bytes_per_transfer > kLargestTransferBytes) return StartResult::kBadSize;

  std::lock_guard lock(mutex_);
  if (active_) {
    if (!active_->stop_requested()) return StartResult::kRunning;
    // Stopped from inside its callback: its thread may still be in that call.
    threads_.Join();
    active_.reset();
  }
  std::unique_ptr<InputSession> session;
  try {
    session = std::make_unique<InputSession>(*this, bytes_per_transfer, callback, MakeSampleSource(source), pacing);
  } catch (const std::bad_alloc&) {
    return StartResult::kNoResources;
  }
  if (!threads_.Launch(&InputSession::ThreadBody, session.get())) return StartResult::kNoResources;
  active_ = std::move(session);
  return StartResult::kStarted;
}

InputStream::StopResult InputStream::Stop() {
  if (InputSession* own = CallingSession()) {
    own->RequestStop();
    return {true, own->transfers()};
  }
  std::lock_guard lock(mutex_);
  if (!active_) return {false, 0};
  active_->RequestStop();
  threads_.Join();
  const std::uint64_t transfers = active_->transfers();
  active_.reset();
  return {true, transfers};
}

}  // namespace halvorn::simulator
