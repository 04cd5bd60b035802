#include "recorder/recording_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace halvorn::recorder {

std::unique_ptr<RecordingRing> RecordingRing::Create(std::uint32_t capacity_bytes) {
  std::uint32_t capacity = 4096;
  while (capacity < capacity_bytes && capacity < (1u << 30)) capacity <<= 1;
  std::unique_ptr<std::uint8_t[]> memory(new (std::nothrow) std::uint8_t[capacity]);
  if (!memory) return nullptr;
  return std::unique_ptr<RecordingRing>(new (std::nothrow) RecordingRing(std::move(memory), capacity));
}

RecordingRing::RecordingRing(std::unique_ptr<std::uint8_t[]> memory, std::uint32_t capacity)
    : memory_(std::move(memory)), capacity_(capacity) {}

bool RecordingRing::HasRoomFor(std::uint32_t bytes) const {
  const std::uint32_t held = stored_ - released_.load(std::memory_order_acquire);
  return bytes <= capacity_ - held;
}

std::uint8_t* RecordingRing::ClaimContiguous(std::uint32_t bytes) {
  const std::uint32_t at = stored_ & (capacity_ - 1);
  if (capacity_ - at < bytes) return nullptr;
  stored_ += bytes;
  return memory_.get() + at;
}

void RecordingRing::Store(const std::uint8_t* data, std::uint32_t bytes) {
  const std::uint32_t at = stored_ & (capacity_ - 1);
  const std::uint32_t first = std::min(bytes, capacity_ - at);
  std::memcpy(memory_.get() + at, data, first);
  std::memcpy(memory_.get(), data + first, bytes - first);
  stored_ += bytes;
}

RecordingRing::Piece RecordingRing::PieceBetween(std::uint32_t from, std::uint32_t to) const {
  const std::uint32_t at = from & (capacity_ - 1);
  return {memory_.get() + at, std::min(to - from, capacity_ - at)};
}

}  // namespace halvorn::recorder
