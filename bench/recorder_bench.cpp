// What recording costs, measured against what it cannot beat: the whole
// recorder (the delivery thread storing each block, the writing thread
// handing it to the disk) against a plain sequential write of the same bytes
// per block to the same disk, in CPU time of the whole process; the
// 24-to-16-bit reduction against a memcpy of the same block, with both in
// cache and with both going through memory as in the recorder; and what a
// stalled disk costs the delivery thread. The ratios are printed at the end
// of the run, each against a baseline of the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
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
#include "tests/support/no_stream.h"

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

// A disk that takes `stall` over every write, as a busy or sleeping one may.
class StalledDirectory final : public recorder::RecordingDirectory {
 public:
  explicit StalledDirectory(std::chrono::milliseconds stall)
      : real_(recorder::MakePlatformRecordingDirectory(BenchDirectory().string())), stall_(stall) {}
  Created CreateNew(const char* name) override {
    Created created = real_->CreateNew(name);
    if (created.file) created.file = std::make_unique<StalledFile>(std::move(created.file), stall_);
    return created;
  }
  bool Remove(const char* name) override { return real_->Remove(name); }
  std::string PathOf(const char* name) const override { return real_->PathOf(name); }
  std::string Describe(recorder::FileError error) const override { return real_->Describe(error); }

 private:
  class StalledFile final : public recorder::RecordingFile {
   public:
    StalledFile(std::unique_ptr<recorder::RecordingFile> real, std::chrono::milliseconds stall)
        : real_(std::move(real)), stall_(stall) {}
    std::size_t Write(const std::uint8_t* data, std::size_t bytes) override {
      std::this_thread::sleep_for(stall_);
      return real_->Write(data, bytes);
    }
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes) override {
      return real_->WriteAt(offset, data, bytes);
    }
    bool Truncate(std::uint64_t length) override { return real_->Truncate(length); }
    bool Close() override { return real_->Close(); }
    recorder::FileError error() const override { return real_->error(); }

   private:
    std::unique_ptr<recorder::RecordingFile> real_;
    std::chrono::milliseconds stall_;
  };

  std::unique_ptr<recorder::RecordingDirectory> real_;
  std::chrono::milliseconds stall_;
};

// The recorder with the receiver it reads, the device library never loaded.
struct RecorderRig {
  explicit RecorderRig(int sample_rate_index, std::unique_ptr<recorder::RecordingDirectory> directory = nullptr) {
    testing::NoStream no_stream;
    receiver.SelectSampleRate(sample_rate_index, receiver::ChangedBy::kUser, no_stream);
    recorder::RecorderOptions options;
    options.directory =
        directory ? std::move(directory) : recorder::MakePlatformRecordingDirectory(BenchDirectory().string());
    recorder_ = std::make_unique<recorder::Recorder>(receiver, host, ui, ui, trace, std::move(options));
  }
  ~RecorderRig() { recorder_.reset(); }

  bench::NoWindow ui;
  Trace trace;
  HostLink host{trace, kCallHostDirectly};
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

// As in the recorder: each block from the next slot of a stream's 3 MiB ring
// into the next place of the recorder's 8 MiB ring, so neither is in cache.
constexpr std::size_t kSourceRingBytes = std::size_t{512} * kBlockBytes;
constexpr std::size_t kRecorderRingBytes = std::size_t{8} << 20;

template <typename Step>
void ThroughRings(benchmark::State& state, std::size_t out_bytes, Step step) {
  std::vector<std::uint8_t> source(kSourceRingBytes);
  std::uint32_t seed = 12345;
  for (auto& byte : source) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(seed >> 24);
  }
  std::vector<std::uint8_t> out(kRecorderRingBytes);
  std::size_t in_at = 0;
  std::size_t out_at = 0;
  for (auto _ : state) {
    step(source.data() + in_at, out.data() + out_at);
    benchmark::ClobberMemory();
    in_at = (in_at + kBlockBytes) % kSourceRingBytes;
    out_at = (out_at + out_bytes) % (kRecorderRingBytes - kBlockBytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockBytes));
}

void BM_ReduceBlockThroughMemory(benchmark::State& state) {
  ThroughRings(state, kReducedBytes,
               [](const std::uint8_t* in, std::uint8_t* out) { recorder::ReduceBlock(in, kBlockPairs, out); });
}
void BM_MemcpyBlockThroughMemory(benchmark::State& state) {
  ThroughRings(state, kBlockBytes,
               [](const std::uint8_t* in, std::uint8_t* out) { std::memcpy(out, in, kBlockBytes); });
}

// What one block costs the whole process at the 2 MS/s row, both recorder
// threads counted, ended by a stop that writes everything stored.
void BM_RecorderProcessCpuAt2MSps(benchmark::State& state) {
  RemoveRecordings();
  RecorderRig rig(receiver::kTwoMegaSampleIndex);
  const std::vector<std::uint8_t> block = NoiseBlock();
  rig.recorder_->StartRecording();
  for (auto _ : state) rig.recorder_->WriteBlock(block.data(), kBlockPairs);
  rig.recorder_->StopRecording();
  RemoveRecordings();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kReducedBytes));
}

// A second of 2 MS/s blocks while every write to the disk takes 100 ms: the
// longest any one block kept the delivery thread.
void BM_WriteBlockWhileTheDiskStalls(benchmark::State& state) {
  constexpr auto kStall = std::chrono::milliseconds(100);
  double longest_s = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RemoveRecordings();
    RecorderRig rig(receiver::kTwoMegaSampleIndex, std::make_unique<StalledDirectory>(kStall));
    const std::vector<std::uint8_t> block = NoiseBlock();
    rig.recorder_->StartRecording();
    state.ResumeTiming();
    for (int i = 0; i < 1953; ++i) {
      const auto start = std::chrono::steady_clock::now();
      rig.recorder_->WriteBlock(block.data(), kBlockPairs);
      longest_s = std::max(longest_s, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.PauseTiming();
    rig.recorder_->StopRecording();
    state.ResumeTiming();
  }
  RemoveRecordings();
  state.counters["longest_block_us"] = longest_s * 1e6;
  state.counters["stall_per_write_us"] = std::chrono::duration<double, std::micro>(kStall).count();
}

BENCHMARK(BM_PlainWrite4096)->MeasureProcessCPUTime();
BENCHMARK(BM_RecorderProcessCpuAt2MSps)->MeasureProcessCPUTime();
BENCHMARK(BM_PlainWrite4096);
BENCHMARK(BM_WriteBlockAt2MSps);
BENCHMARK(BM_PlainWrite6144);
BENCHMARK(BM_WriteBlockAt1MSps);
BENCHMARK(BM_MemcpyBlock);
BENCHMARK(BM_ReduceBlock);
BENCHMARK(BM_MemcpyBlockThroughMemory);
BENCHMARK(BM_ReduceBlockThroughMemory);
BENCHMARK(BM_WriteBlockWhileTheDiskStalls)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  halvorn::bench::RatioReporter reporter;
  if (!reporter.RunBenchmarks(&argc, argv)) return 1;
  reporter.Ratio("Recorder at 2 MS/s, process CPU (both threads)", "BM_RecorderProcessCpuAt2MSps/process_time",
                 "BM_PlainWrite4096/process_time");
  reporter.Ratio("WriteBlock at 2 MS/s (delivery thread: reduce, store)", "BM_WriteBlockAt2MSps", "BM_PlainWrite4096");
  reporter.Ratio("WriteBlock at 1 MS/s (delivery thread: store)", "BM_WriteBlockAt1MSps", "BM_PlainWrite6144");
  reporter.Ratio("ReduceBlock in cache (6144 B in, 4096 B out)", "BM_ReduceBlock", "BM_MemcpyBlock");
  reporter.Ratio("ReduceBlock through memory, as recording", "BM_ReduceBlockThroughMemory",
                 "BM_MemcpyBlockThroughMemory");
  if (const double seconds = reporter.SecondsPerIteration("BM_WriteBlockAt2MSps"); seconds > 0) {
    // 1953 blocks arrive each second at 2 MS/s.
    std::printf("%-52s %6.1f x faster than 2 MS/s needs\n", "WriteBlock at 2 MS/s, headroom",
                (kReducedBytes / seconds) / kTwoMegaBytesPerSecond);
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(BenchDirectory());
  return 0;
}
