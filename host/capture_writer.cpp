#include "host/capture_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace halvorn::host {
namespace {

constexpr std::size_t kLargestRing = std::size_t{1} << 30;
constexpr std::size_t kFileBufferBytes = std::size_t{1} << 20;
// How long the writer sleeps when the ring is empty: a tenth of what the
// smallest useful ring holds at 2 MS/s.
constexpr auto kIdleWait = std::chrono::milliseconds(5);

std::size_t PowerOfTwoAtLeast(std::size_t bytes) {
  std::size_t size = 4096;
  while (size < bytes && size < kLargestRing) size <<= 1;
  return size;
}

}  // namespace

std::unique_ptr<CaptureWriter> CaptureWriter::Create(const std::string& path, std::size_t ring_bytes,
                                                     std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);
  return std::unique_ptr<CaptureWriter>(new CaptureWriter(file, PowerOfTwoAtLeast(ring_bytes)));
}

CaptureWriter::CaptureWriter(std::FILE* file, std::size_t ring_bytes)
    : file_(file), ring_(ring_bytes), mask_(static_cast<std::uint32_t>(ring_bytes - 1)), thread_([this] { Run(); }) {}

CaptureWriter::~CaptureWriter() { Finish(nullptr); }

void CaptureWriter::Push(const std::uint8_t* data, std::size_t bytes) {
  const std::uint32_t head = head_.load(std::memory_order_relaxed);
  const std::uint32_t used = head - tail_.load(std::memory_order_acquire);
  if (failed_.load(std::memory_order_relaxed) || bytes > ring_.size() - used) {
    blocks_dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::size_t at = head & mask_;
  const std::size_t first = std::min(bytes, ring_.size() - at);
  std::memcpy(ring_.data() + at, data, first);
  std::memcpy(ring_.data(), data + first, bytes - first);
  // Published after the copy, so the writer never reads a half-copied block.
  head_.store(head + static_cast<std::uint32_t>(bytes), std::memory_order_release);
}

void CaptureWriter::Run() {
  while (!stop_.load(std::memory_order_acquire)) {
    if (!Drain()) std::this_thread::sleep_for(kIdleWait);
  }
  Drain();
}

bool CaptureWriter::Drain() {
  std::uint32_t tail = tail_.load(std::memory_order_relaxed);
  const std::uint32_t head = head_.load(std::memory_order_acquire);
  const bool had_data = tail != head;
  while (tail != head) {
    const std::size_t at = tail & mask_;
    const std::size_t length = std::min<std::size_t>(head - tail, ring_.size() - at);
    // After a failed write the ring is still emptied, so the producer is
    // never stuck; what it pushes from then on is counted as dropped.
    std::size_t written = 0;
    if (!failed_.load(std::memory_order_relaxed)) {
      written = std::fwrite(ring_.data() + at, 1, length, file_);
      if (written != length) {
        error_ = std::string("writing failed: ") + std::strerror(errno);
        failed_.store(true, std::memory_order_relaxed);
      }
    }
    tail += static_cast<std::uint32_t>(length);
    tail_.store(tail, std::memory_order_release);
    // Counted once the space is free again: what was pushed less what was
    // written never understates what the ring holds.
    bytes_written_.fetch_add(written, std::memory_order_relaxed);
  }
  return had_data;
}

bool CaptureWriter::Finish(std::string* error) {
  if (thread_.joinable()) {
    stop_.store(true, std::memory_order_release);
    thread_.join();
  }
  if (file_ != nullptr) {
    if (std::fclose(file_) != 0 && !failed_.load(std::memory_order_relaxed)) {
      error_ = std::string("closing failed: ") + std::strerror(errno);
      failed_.store(true, std::memory_order_relaxed);
    }
    file_ = nullptr;
  }
  if (failed_.load(std::memory_order_relaxed)) {
    if (error) *error = error_;
    return false;
  }
  return true;
}

}  // namespace halvorn::host
