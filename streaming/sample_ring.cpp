#include "streaming/sample_ring.h"

#include <algorithm>
#include <cstring>

namespace halvorn::streaming {
namespace {

// The flags follow the slots, aligned for their atomic access.
std::size_t FlagsOffset(int slot_count, int slot_size) {
  constexpr std::size_t kAlign = alignof(std::atomic<std::uint32_t>);
  const std::size_t slots = static_cast<std::size_t>(slot_count) * static_cast<std::size_t>(slot_size);
  return (slots + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

SampleRing::SampleRing(void* memory, int slot_count, int slot_size)
    : memory_(static_cast<std::uint8_t*>(memory)),
      full_flags_(reinterpret_cast<std::atomic<std::uint32_t>*>(memory_ + FlagsOffset(slot_count, slot_size))),
      slot_count_(slot_count),
      slot_size_(slot_size),
      space_left_(static_cast<std::size_t>(slot_size)) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  for (int i = 0; i < slot_count_; ++i) new (&full_flags_[i]) std::atomic<std::uint32_t>(0);
}

std::size_t SampleRing::MemoryBytes(int slot_count, int slot_size) {
  return FlagsOffset(slot_count, slot_size) + 2 * static_cast<std::size_t>(slot_count) * sizeof(std::uint32_t);
}

void SampleRing::StartBlockAfresh() {
  space_left_ = static_cast<std::size_t>(slot_size_);
  discard_left_ = 0;
}

bool SampleRing::AllDelivered() const {
  for (int i = 0; i < slot_count_; ++i) {
    if (IsFull(i)) return false;
  }
  return true;
}

int SampleRing::Write(const std::uint8_t* data, std::size_t bytes) {
  const std::size_t slot_size = static_cast<std::size_t>(slot_size_);
  int completed = 0;
  while (bytes > 0) {
    if (discard_left_ > 0) {
      const std::size_t skipped = std::min(bytes, discard_left_);
      data += skipped;
      bytes -= skipped;
      discard_left_ -= skipped;
      continue;
    }
    // A slot still full when we come to fill it is being read or waits to be:
    // drop this block of input rather than tear the one the host gets.
    if (space_left_ == slot_size && IsFull(write_index_)) {
      ++drops_pending_;
      dropped_blocks_.fetch_add(1, std::memory_order_relaxed);
      discard_left_ = slot_size;
      continue;
    }
    const std::size_t copied = std::min(bytes, space_left_);
    std::memcpy(Slot(write_index_) + (slot_size - space_left_), data, copied);
    data += copied;
    bytes -= copied;
    space_left_ -= copied;
    if (space_left_ == 0) {
      *DropsBefore(write_index_) = drops_pending_;
      drops_pending_ = 0;
      FullFlag(write_index_).store(1, std::memory_order_release);
      write_index_ = (write_index_ + 1) % slot_count_;
      space_left_ = slot_size;
      ++completed;
    }
  }
  return completed;
}

}  // namespace halvorn::streaming
