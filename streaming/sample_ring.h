// The ring of fixed-size slots that turns the device library's transfers into
// whole sample blocks. One producer (the library's input thread) and one
// consumer (the delivery thread), no lock: a slot's full flag is stored with
// release after its bytes are complete and loaded with acquire before they are
// read, and cleared only after the consumer is done with them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace halvorn::streaming {

class SampleRing {
 public:
  // `memory`, MemoryBytes() long, holds the slots, then their full flags and
  // their counts of blocks dropped before them, and outlives the ring.
  SampleRing(void* memory, int slot_count, int slot_size);

  static std::size_t MemoryBytes(int slot_count, int slot_size);

  // Producer. Appends the bytes in arrival order and returns how many slots
  // they completed. While the consumer still holds the slot due next, whole
  // blocks of input are dropped and counted instead, so no slot is overwritten
  // and the stream resumes at a block boundary.
  int Write(const std::uint8_t* data, std::size_t bytes);
  // Producer, while no transfer comes: the next one starts a block afresh,
  // the bytes of an unfinished one dropped.
  void StartBlockAfresh();
  std::uint64_t dropped_blocks() const { return dropped_blocks_.load(std::memory_order_relaxed); }

  // Consumer. Hands each complete slot, in order, to `deliver` with the
  // number of blocks dropped between it and the slot before, and frees it
  // afterwards; stops early once `stop` is set.
  template <typename Deliver>
  void Drain(Deliver&& deliver, const std::atomic<bool>& stop);
  bool HasBlockReady() const { return IsFull(read_index_); }
  // Either side: no slot waits to be delivered or is being delivered.
  bool AllDelivered() const;

  int slot_count() const { return slot_count_; }
  int slot_size() const { return slot_size_; }

 private:
  std::uint8_t* Slot(int index) const { return memory_ + static_cast<std::size_t>(index) * slot_size_; }
  std::atomic<std::uint32_t>& FullFlag(int index) const { return full_flags_[index]; }
  std::uint32_t* DropsBefore(int index) const { return reinterpret_cast<std::uint32_t*>(full_flags_ + slot_count_) + index; }
  bool IsFull(int index) const { return FullFlag(index).load(std::memory_order_acquire) != 0; }

  std::uint8_t* const memory_;
  std::atomic<std::uint32_t>* const full_flags_;
  const int slot_count_;
  const int slot_size_;

  // Producer side.
  alignas(64) int write_index_ = 0;
  std::size_t space_left_;
  std::size_t discard_left_ = 0;
  std::uint32_t drops_pending_ = 0;  // dropped since the last completed slot
  std::atomic<std::uint64_t> dropped_blocks_{0};

  // Consumer side, on a cache line of its own.
  alignas(64) int read_index_ = 0;
};

template <typename Deliver>
void SampleRing::Drain(Deliver&& deliver, const std::atomic<bool>& stop) {
  while (!stop.load(std::memory_order_acquire) && IsFull(read_index_)) {
    deliver(Slot(read_index_), *DropsBefore(read_index_));
    FullFlag(read_index_).store(0, std::memory_order_release);
    read_index_ = (read_index_ + 1) % slot_count_;
  }
}

}  // namespace halvorn::streaming
