// What recording costs the delivery thread, measured against what it cannot
// beat: WriteBlock at the 2 MS/s row (reduce, lock, one write) against a plain
// sequential write of the same 4096 bytes per block to the same disk, and the
// 24-to-16-bit reduction against a memcpy of the same block. The ratios are
// printed at the end of the run, each against a baseline of the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/library_loader.h"
#include "ports/user_interface.h"
#include "ports/host_link.h"
#include "receiver/control_record_link.h"
#include "receiver/receiver.h"
#include "receiver/sample_rate_table.h"
#include "recorder/recorder.h"
#include "recorder/sample_reduction.h"
#include "bench/no_window.h"
#include "bench/ratio_reporter.h"

namespace {

using namespace halvorn;

constexpr std::size_t kReducedBytes = kBlockPairs * 4;
// Each file is started afresh after this much, so a long run does not fill the disk.
constexpr std::size_t kBytesPerFile = std::size_t{256} << 20;
constexpr double kTwoMegaBytesPerSecond = 8000000.0;

std::filesystem::path BenchDirectory() {
  static const auto path = std::filesystem::temp_directory_path() /
                           ("halvorn-recorder-bench." + std::to_string(::getpid()));
  std::filesystem::create_directories(path);
  return path;
}

std::vector<std::uint8_t> NoiseBlock() {
  std::vector<std::uint8_t> block(kBlockBytes);
  std::uint32_t state = 12345;
  for (auto& byte : block) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return block;
}

// The recorder with the receiver it reads, the device library never loaded.
struct RecorderRig {
  explicit RecorderRig(int sample_rate_index) {
    receiver.SelectSampleRate(sample_rate_index);
    recorder::RecorderOptions options;
    options.directory = recorder::MakePlatformRecordingDirectory(BenchDirectory().string());
    recorder_ = std::make_unique<recorder::Recorder>(receiver, host, ui, ui, trace, std::move(options));
  }
  ~RecorderRig() { recorder_.reset(); }

  bench::NoWindow ui;
  Trace trace;
  HostLink host{trace};
  std::unique_ptr<device::LibraryLoader> loader = device::MakePlatformLibraryLoader();
  device::DeviceLibrary device{*loader};
  receiver::ControlRecordLink record{device};
  receiver::Receiver receiver{device, record, host, ui, ui, trace};
  std::unique_ptr<recorder::Recorder> recorder_;
};

void RemoveRecordings() {
  for (const auto& entry : std::filesystem::directory_iterator(BenchDirectory())) {
    std::filesystem::remove(entry.path());
  }
}

void RecorderWriteBlock(benchmark::State& state, int sample_rate_index, std::size_t stored_bytes) {
  RemoveRecordings();
  RecorderRig rig(sample_rate_index);
  const std::vector<std::uint8_t> block = NoiseBlock();
  rig.recorder_->StartRecording();
  std::size_t in_file = 0;
  for (auto _ : state) {
    rig.recorder_->WriteBlock(block.data(), kBlockPairs);
    in_file += stored_bytes;
    if (in_file >= kBytesPerFile) {
      state.PauseTiming();
      rig.recorder_->StopRecording();
      RemoveRecordings();
      rig.recorder_->StartRecording();
      in_file = 0;
      state.ResumeTiming();
    }
  }
  rig.recorder_->StopRecording();
  RemoveRecordings();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stored_bytes));
}

void PlainWrite(benchmark::State& state, std::size_t bytes) {
  const std::string path = (BenchDirectory() / "plain.raw").string();
  const std::vector<std::uint8_t> block = NoiseBlock();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::size_t in_file = 0;
  for (auto _ : state) {
    if (::write(fd, block.data(), bytes) != static_cast<ssize_t>(bytes)) state.SkipWithError("write failed");
    in_file += bytes;
    if (in_file >= kBytesPerFile) {
      state.PauseTiming();
      ::close(fd);
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      in_file = 0;
      state.ResumeTiming();
    }
  }
  ::close(fd);
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_WriteBlockAt2MSps(benchmark::State& state) {
  RecorderWriteBlock(state, receiver::kTwoMegaSampleIndex, kReducedBytes);
}
void BM_PlainWrite4096(benchmark::State& state) { PlainWrite(state, kReducedBytes); }
void BM_WriteBlockAt1MSps(benchmark::State& state) { RecorderWriteBlock(state, 3, kBlockBytes); }
void BM_PlainWrite6144(benchmark::State& state) { PlainWrite(state, kBlockBytes); }

void BM_ReduceBlock(benchmark::State& state) {
  const std::vector<std::uint8_t> block = NoiseBlock();
  std::vector<std::uint8_t> out(kReducedBytes);
  for (auto _ : state) {
    recorder::ReduceBlock(block.data(), kBlockPairs, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockBytes));
}

void BM_MemcpyBlock(benchmark::State& state) {
  const std::vector<std::uint8_t> block = NoiseBlock();
  std::vector<std::uint8_t> out(kBlockBytes);
  for (auto _ : state) {
    std::memcpy(out.data(), block.data(), kBlockBytes);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockBytes));
}

BENCHMARK(BM_PlainWrite4096);
BENCHMARK(BM_WriteBlockAt2MSps);
BENCHMARK(BM_PlainWrite6144);
BENCHMARK(BM_WriteBlockAt1MSps);
BENCHMARK(BM_MemcpyBlock);
BENCHMARK(BM_ReduceBlock);

}  // namespace

int main(int argc, char** argv) {
  halvorn::bench::RatioReporter reporter;
  if (!reporter.RunBenchmarks(&argc, argv)) return 1;
  reporter.Ratio("WriteBlock at 2 MS/s (reduce, lock, write 4096 B)", "BM_WriteBlockAt2MSps", "BM_PlainWrite4096");
  reporter.Ratio("WriteBlock at 1 MS/s (lock, write 6144 B)", "BM_WriteBlockAt1MSps", "BM_PlainWrite6144");
  reporter.Ratio("ReduceBlock (6144 B in, 4096 B out)", "BM_ReduceBlock", "BM_MemcpyBlock");
  if (const double seconds = reporter.SecondsPerIteration("BM_WriteBlockAt2MSps"); seconds > 0) {
    // 1953 blocks arrive each second at 2 MS/s.
    std::printf("%-52s %6.1f x faster than 2 MS/s needs\n", "WriteBlock at 2 MS/s, headroom",
                (kReducedBytes / seconds) / kTwoMegaBytesPerSecond);
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(BenchDirectory());
  return 0;
}
