// The stored samples of a recording on their way to the disk: the delivery
// thread appends each block's bytes, the writing thread hands them to the file
// and frees the space. One producer, one consumer, no lock. Positions count
// bytes since the ring was made and wrap at 2^32; the capacity is a power of
// two, so a position's place in the memory is the position masked.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace halvorn::recorder {

class RecordingRing {
 public:
  struct Piece {
    const std::uint8_t* data;
    std::uint32_t bytes;
  };

  // Null when the memory is not available. `capacity_bytes` is rounded up to
  // a power of two.
  static std::unique_ptr<RecordingRing> Create(std::uint32_t capacity_bytes);
  RecordingRing(const RecordingRing&) = delete;
  RecordingRing& operator=(const RecordingRing&) = delete;

  // Producer. Whether `bytes` more fit; then either claims them in one piece
  // to be filled in place, or (null) leaves them to Store, which wraps.
  bool HasRoomFor(std::uint32_t bytes) const;
  std::uint8_t* ClaimContiguous(std::uint32_t bytes);
  void Store(const std::uint8_t* data, std::uint32_t bytes);
  // Makes everything stored so far visible to the consumer.
  void Publish() { published_.store(stored_, std::memory_order_release); }

  // Consumer.
  std::uint32_t published() const { return published_.load(std::memory_order_acquire); }
  // The bytes from `from` towards `to`, as far as they lie in one piece.
  Piece PieceBetween(std::uint32_t from, std::uint32_t to) const;
  // Everything before `position` may be overwritten.
  void Release(std::uint32_t position) { released_.store(position, std::memory_order_release); }

 private:
  RecordingRing(std::unique_ptr<std::uint8_t[]> memory, std::uint32_t capacity);

  const std::unique_ptr<std::uint8_t[]> memory_;
  const std::uint32_t capacity_;
  std::uint32_t stored_ = 0;  // producer only
  alignas(64) std::atomic<std::uint32_t> published_{0};
  alignas(64) std::atomic<std::uint32_t> released_{0};
};

}  // namespace halvorn::recorder
