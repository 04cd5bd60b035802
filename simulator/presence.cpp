#include "simulator/presence.h"

#include "simulator/journal.h"

namespace halvorn::simulator {

void Presence::Arm(const Unplug& unplug) {
  if (!unplug.set || armed_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(mutex_);
  if (armed_.load(std::memory_order_relaxed)) return;
  unplug_ = unplug;
  armed_at_ = Clock::now();
  armed_.store(true, std::memory_order_release);
}

void Presence::Advance() {
  if (!armed_.load(std::memory_order_relaxed)) return;
  const Clock::duration elapsed = Clock::now() - armed_at_;
  const std::chrono::milliseconds after(unplug_.after_ms);
  if (!unplugged_ && elapsed >= after) {
    unplugged_ = true;
    state_ = State::kGone;
    ++attachment_;
    // Without power the receiver forgets its bitstream and every setting.
    front_end_.Update([](FrontEnd& front_end) {
      const std::int32_t clock_hz = front_end.true_clock_hz;
      front_end = FrontEnd{};
      front_end.true_clock_hz = clock_hz;
    });
    JournalLine line("Unplugged");
    AppendToJournal(line.Decimal("after_ms", unplug_.after_ms));
  }
  if (state_ == State::kGone && unplug_.replugs && elapsed >= after + std::chrono::milliseconds(unplug_.gone_ms)) {
    // A handle opened before the unplug is stale: only a Close releases it.
    state_ = open_ ? State::kBackStaleHandle : State::kBackUnopened;
    JournalLine line("PluggedBack");
    AppendToJournal(line.Decimal("gone_ms", unplug_.gone_ms));
  }
}

void Presence::Notice() {
  if (!armed_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(mutex_);
  Advance();
}

const char* Presence::Refusal(Call call) {
  if (!armed_.load(std::memory_order_acquire)) return nullptr;
  std::lock_guard lock(mutex_);
  Advance();
  switch (state_) {
    case State::kAttached:
      return nullptr;
    case State::kGone:
      return "unplugged";
    case State::kBackStaleHandle:
      return call == Call::kDevice ? "no_firmware" : "stale_handle";
    case State::kBackUnopened:
      return call == Call::kOpen ? nullptr : call == Call::kFirmwareDownload ? "not_open" : "no_firmware";
    case State::kBackNoFirmware:
      return call == Call::kDevice ? "no_firmware" : nullptr;
  }
  return nullptr;
}

void Presence::Opened() {
  std::lock_guard lock(mutex_);
  Advance();
  open_ = true;
  if (state_ == State::kBackUnopened) state_ = State::kBackNoFirmware;
}

void Presence::Closed() {
  std::lock_guard lock(mutex_);
  Advance();
  open_ = false;
  if (state_ == State::kBackStaleHandle || state_ == State::kBackNoFirmware) state_ = State::kBackUnopened;
}

void Presence::FirmwareDownloaded() {
  std::lock_guard lock(mutex_);
  Advance();
  if (state_ != State::kBackNoFirmware) return;
  state_ = State::kAttached;
  ++attachment_;
}

std::uint32_t Presence::Attachment() {
  std::lock_guard lock(mutex_);
  Advance();
  return attachment_;
}

bool Presence::Serves(std::uint32_t attachment) {
  if (!armed_.load(std::memory_order_acquire)) return true;
  std::lock_guard lock(mutex_);
  Advance();
  return state_ == State::kAttached && attachment_ == attachment;
}

}  // namespace halvorn::simulator
