// What the stream costs per 2 MS/s transfer (16 blocks, 98304 bytes), against
// a plain memcpy of the same bytes into ring-sized memory: the ring's
// reassembly and drain on one thread, and the whole stream with its delivery
// thread and wake-ups. The ratios are printed at the end of the run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/no_window.h"
#include "bench/ratio_reporter.h"
#include "device/device_library.h"
#include "ports/user_interface.h"
#include "ports/host_link.h"
#include "receiver/control_record_link.h"
#include "streaming/sample_ring.h"
#include "streaming/sample_stream.h"

namespace {

using namespace halvorn;

constexpr int kTransferBytes = 16 * kBlockBytes;
constexpr std::size_t kRingBytes = std::size_t{streaming::kSlotCount} * kBlockBytes;

std::vector<std::uint8_t> Transfer() {
  std::vector<std::uint8_t> transfer(kTransferBytes);
  for (std::size_t i = 0; i < transfer.size(); ++i) transfer[i] = static_cast<std::uint8_t>(i * 131);
  return transfer;
}

void BM_MemcpyTransfer(benchmark::State& state) {
  const auto transfer = Transfer();
  std::vector<std::uint8_t> ring(kRingBytes);
  std::size_t offset = 0;
  for (auto _ : state) {
    std::memcpy(ring.data() + offset, transfer.data(), transfer.size());
    benchmark::ClobberMemory();
    offset = (offset + transfer.size()) % ring.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTransferBytes);
}

void BM_RingReassemblyAndDrain(benchmark::State& state) {
  const auto transfer = Transfer();
  std::vector<std::uint8_t> memory(streaming::SampleRing::MemoryBytes(streaming::kSlotCount, kBlockBytes));
  streaming::SampleRing ring(memory.data(), streaming::kSlotCount, kBlockBytes);
  const std::atomic<bool> stop{false};
  std::uint64_t blocks = 0;
  for (auto _ : state) {
    ring.Write(transfer.data(), transfer.size());
    ring.Drain([&blocks](std::uint8_t* block, std::uint32_t) { benchmark::DoNotOptimize(block); ++blocks; }, stop);
  }
  if (ring.dropped_blocks() != 0 || blocks != static_cast<std::uint64_t>(state.iterations()) * 16) state.SkipWithError("blocks lost");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTransferBytes);
}

// A device library of three entries: the stream's start and stop, and the
// control record it sends.
device::TransferCallbackFn g_transfer_callback = nullptr;
bool HALVORN_STDCALL StartInput(std::int32_t, device::TransferCallbackFn callback, std::int32_t) {
  g_transfer_callback = callback;
  return true;
}
bool HALVORN_STDCALL StopInput() { return true; }
std::int32_t HALVORN_STDCALL Sio(std::uint8_t*, std::int32_t) { return 0; }

class BenchLibrary final : public device::LibraryLoader {
 public:
  Handle Load(const char*) override { return this; }
  void* Find(Handle, const char* name) override {
    const std::string entry = name;
    if (entry == "StartAsyncInput") return reinterpret_cast<void*>(&StartInput);
    if (entry == "StopAsyncInput") return reinterpret_cast<void*>(&StopInput);
    if (entry == "Sio") return reinterpret_cast<void*>(&Sio);
    return nullptr;
  }
  bool Unload(Handle) override { return true; }
};

std::atomic<std::uint64_t> g_delivered{0};
void HALVORN_CDECL CountBlock(std::int32_t, std::int32_t, float, void* data) {
  benchmark::DoNotOptimize(data);
  g_delivered.fetch_add(1, std::memory_order_relaxed);
}

// The library's input thread is this benchmark's thread; the plug-in's own
// delivery thread hands each block to a host that only counts it. The input
// holds back while the host is half a ring behind, as a receiver paced by
// time would never be further ahead.
void BM_StreamEndToEnd(benchmark::State& state) {
  BenchLibrary loader;
  device::DeviceLibrary device(loader);
  device.Load();
  receiver::ControlRecordLink record(device);
  Trace trace;
  HostLink host(trace, kCallHostDirectly);
  host.SetCallback(&CountBlock);
  auto kit = MakePlatformKit();
  bench::NoWindow ui;
  streaming::SampleStream stream(device, record, host, ui, trace, *kit, &streaming::SampleStream::TransferCallback, ui);
  stream.StartAsyncProcessing(kTransferBytes, kBlockBytes, streaming::kSlotCount, nullptr);
  auto transfer = Transfer();
  g_delivered = 0;
  std::uint64_t sent = 0;
  for (auto _ : state) {
    while (sent - g_delivered.load(std::memory_order_relaxed) > streaming::kSlotCount / 2) {
      std::this_thread::yield();
    }
    g_transfer_callback(transfer.data(), nullptr);
    sent += 16;
  }
  while (g_delivered.load() < sent) std::this_thread::yield();
  stream.StopAsyncProcessing();
  if (stream.dropped_blocks() != 0) state.SkipWithError("blocks dropped");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTransferBytes);
}

BENCHMARK(BM_MemcpyTransfer);
BENCHMARK(BM_RingReassemblyAndDrain);
BENCHMARK(BM_StreamEndToEnd)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  halvorn::bench::RatioReporter reporter;
  if (!reporter.RunBenchmarks(&argc, argv)) return 1;
  reporter.Ratio("Ring reassembly and drain, one 98304 B transfer", "BM_RingReassemblyAndDrain",
                 "BM_MemcpyTransfer");
  reporter.Ratio("Whole stream with its delivery thread", "BM_StreamEndToEnd/real_time", "BM_MemcpyTransfer");
  const double memcpy_seconds = reporter.SecondsPerIteration("BM_MemcpyTransfer");
  for (const char* name : {"BM_RingReassemblyAndDrain", "BM_StreamEndToEnd/real_time"}) {
    if (const double seconds = reporter.SecondsPerIteration(name); seconds > 0 && memcpy_seconds > 0) {
      std::printf("%-52s %6.2f of memcpy's throughput\n", name, memcpy_seconds / seconds);
    }
  }
  // One transfer of 16 blocks every 8.192 ms at 2 MS/s.
  if (const double seconds = reporter.SecondsPerIteration("BM_StreamEndToEnd/real_time"); seconds > 0) {
    std::printf("%-52s %6.0f x faster than 2 MS/s needs\n", "Whole stream, headroom", 0.008192 / seconds);
  }
  benchmark::Shutdown();
  return 0;
}
