// A copy of every block the host received, and what a recording must then
// hold: the stored forms of a run of those blocks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ports/sample_block.h"
#include "tests/support/counting_host.h"
#include "tests/support/recording_oracle.h"
#include "tests/support/stored_form.h"

namespace halvorn::testing {

// Copies every block the host callback gets between Start and Stop, on the
// delivery thread, into memory set aside beforehand. One window per capture:
// its blocks are exactly the host's, in order, with none left out.
class HostBlockCapture {
 public:
  explicit HostBlockCapture(std::size_t capacity_blocks)
      : capacity_(capacity_blocks), bytes_(new std::uint8_t[capacity_blocks * kBlockBytes]) {}
  HostBlockCapture(const HostBlockCapture&) = delete;
  HostBlockCapture& operator=(const HostBlockCapture&) = delete;

  void Attach(CountingHost& callback) { callback.SetBlockObserver(&HostBlockCapture::Observe, this); }
  void Start() { armed_.store(true, std::memory_order_release); }
  void Stop() { armed_.store(false, std::memory_order_release); }

  std::size_t blocks() const { return count_.load(std::memory_order_acquire); }
  bool overflowed() const { return overflowed_.load(std::memory_order_acquire); }
  const std::uint8_t* block(std::size_t index) const { return bytes_.get() + index * kBlockBytes; }

 private:
  static void Observe(const std::uint8_t* block, void* self_pointer) {
    auto& self = *static_cast<HostBlockCapture*>(self_pointer);
    if (!self.armed_.load(std::memory_order_acquire)) return;
    const std::size_t count = self.count_.load(std::memory_order_relaxed);
    if (count == self.capacity_) {
      self.overflowed_.store(true, std::memory_order_release);
      return;
    }
    std::memcpy(self.bytes_.get() + count * kBlockBytes, block, kBlockBytes);
    self.count_.store(count + 1, std::memory_order_release);
  }

  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> count_{0};
  std::atomic<bool> overflowed_{false};
};

// The file's blocks are, in order and without a gap, the stored forms of
// blocks the host received in a row. `first_block` receives the index in the
// capture of the host block the file starts with.
inline ::testing::AssertionResult HoldsRunOfHostBlocks(const StoredRecording& recording, int row,
                                                       const HostBlockCapture& capture,
                                                       std::size_t* first_block = nullptr) {
  const std::size_t block_bytes = StoredBlockBytes(row);
  if (recording.data_bytes() % block_bytes != 0) {
    return ::testing::AssertionFailure() << recording.name << ": " << recording.data_bytes()
                                         << " data bytes are not whole blocks of " << block_bytes;
  }
  if (capture.overflowed()) return ::testing::AssertionFailure() << "the host capture overflowed";
  const auto blocks = static_cast<std::size_t>(recording.data_bytes() / block_bytes);
  const std::size_t captured = capture.blocks();
  if (blocks == 0) return ::testing::AssertionSuccess();
  std::uint8_t first_pair[kPairBytes];
  for (std::size_t start = 0; start + blocks <= captured; ++start) {
    // A cheap look at the first pair before the whole run is compared.
    StorePair(capture.block(start), row, first_pair);
    if (std::memcmp(first_pair, recording.data(), StoredPairBytes(row)) != 0) continue;
    std::size_t same = 0;
    while (same < blocks && StoreBlock(capture.block(start + same), row) ==
                                std::vector<std::uint8_t>(recording.data() + same * block_bytes,
                                                          recording.data() + (same + 1) * block_bytes)) {
      ++same;
    }
    if (same == blocks) {
      if (first_block != nullptr) *first_block = start;
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure() << recording.name << ": its " << blocks << " blocks are no run of the "
                                       << captured << " blocks the host received";
}

}  // namespace halvorn::testing
