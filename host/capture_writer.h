// Keeps the raw blocks the host receives in a file without slowing the
// plug-in's delivery thread: the callback only copies each block into a ring
// in memory, and a thread of its own writes the ring to the file. When the
// disk falls so far behind that a block does not fit, that block is dropped
// whole and counted, never half kept.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace halvorn::host {

class CaptureWriter {
 public:
  // Creates (or empties) the file; null with `error` set when it cannot.
  // The ring holds at least `ring_bytes`, rounded up to a power of two.
  static std::unique_ptr<CaptureWriter> Create(const std::string& path, std::size_t ring_bytes,
                                               std::string* error);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // One producer (the delivery thread): copies the block or drops it whole.
  void Push(const std::uint8_t* data, std::size_t bytes);

  // Writes what the ring still holds and closes the file; false with `error`
  // set when a write or the close failed. The producer must have stopped.
  bool Finish(std::string* error);

  std::uint64_t bytes_written() const { return bytes_written_.load(std::memory_order_relaxed); }
  std::uint64_t blocks_dropped() const { return blocks_dropped_.load(std::memory_order_relaxed); }
  std::size_t ring_bytes() const { return ring_.size(); }

 private:
  CaptureWriter(std::FILE* file, std::size_t ring_bytes);
  void Run();
  // Takes everything published so far out of the ring; true when there was any.
  bool Drain();

  std::FILE* file_;
  std::vector<std::uint8_t> ring_;
  const std::uint32_t mask_;
  // Byte counts since the start, wrapping at 2^32; the difference is what the
  // ring holds. Each side reads the other's with acquire, on its own cache line.
  alignas(64) std::atomic<std::uint32_t> head_{0};  // written by the producer
  alignas(64) std::atomic<std::uint32_t> tail_{0};  // written by the writer thread
  alignas(64) std::atomic<bool> failed_{false};
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> bytes_written_{0};
  std::atomic<std::uint64_t> blocks_dropped_{0};
  std::string error_;  // writer thread until joined
  std::thread thread_;
};

}  // namespace halvorn::host
