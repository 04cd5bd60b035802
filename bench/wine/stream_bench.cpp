// The stream through the real DLL under Windows (Wine here), against the
// simulated receiver, as a host sees it: unpaced throughput at every rate as a
// multiple of that rate's real time, the plug-in's CPU time at 2 MS/s as a
// share of one core, the delay from a transfer's hand-over to its first block
// reaching the host, the gap a rate chosen while streaming leaves between the
// last block of the old rate and the first of the new, how long StopHW
// takes, and how long an unload takes that finds the receiver streaming (the
// host's FreeLibrary without StopHW or CloseHW) against one after StopHW and
// CloseHW.
//   stream_bench.exe [--quick]
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/extio_plugin.h"
#include "host/halvorn_panel.h"
#include "panel/control_ids.h"
#include "ports/sample_block.h"
#include "receiver/sample_rate_table.h"

namespace {

using namespace halvorn;
using Clock = std::chrono::steady_clock;

// A row of the receiver's rate table as the bench reports it.
struct Row {
  int button;
  std::string name;
  double rate_hz;
  int packets;
};

std::vector<Row> Rows() {
  std::vector<Row> rows;
  for (int index = 0; index < receiver::kSampleRateCount; ++index) {
    const receiver::SampleRateRow& row = receiver::kSampleRateTable[static_cast<std::size_t>(index)];
    char name[32];
    if (row.rate_hz >= 1000000) {
      std::snprintf(name, sizeof name, "%g MS/s", row.rate_hz / 1e6);
    } else {
      std::snprintf(name, sizeof name, "%g kS/s", row.rate_hz / 1e3);
    }
    rows.push_back({panel::RateButtonFor(index), name, static_cast<double>(row.rate_hz), row.packets_per_transfer});
  }
  return rows;
}
const std::vector<Row> kRows = Rows();
const Row& kTwoMegaRow = kRows[receiver::kTwoMegaSampleIndex];

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// What the host callback measures, on the delivery thread, allocating nothing
// and reading no more than it must: a host's own work is not the plug-in's.
struct Measure {
  std::atomic<std::uint64_t> blocks{0};
  // Blocks missing where one did not start where the last one ended: blocks
  // the ring dropped when an unpaced producer outran the delivery thread (a
  // block out of order counts one).
  std::atomic<std::uint64_t> gaps{0};
  // Blocks that did not carry a block start, or went backwards: never right.
  std::atomic<std::uint64_t> disordered{0};
  std::uint64_t next_pair = 0;
  std::atomic<DWORD> delivery_thread{0};
  std::atomic<bool> stamped{false};
  int packets = 1;
  std::vector<double> delays_ms = std::vector<double>(1 << 20);
  std::atomic<std::size_t> delay_count{0};
  // The longest time between two blocks since the last reset.
  std::int64_t last_block_ns = 0;
  std::atomic<std::int64_t> longest_gap_ns{0};
};
Measure g_measure;

void __cdecl HostCallback(int count, int /*status*/, float, void* data) {
  if (count <= 0 || data == nullptr) return;
  const std::uint64_t block = g_measure.blocks.fetch_add(1, std::memory_order_relaxed);
  if (block == 0) g_measure.delivery_thread = GetCurrentThreadId();
  const std::int64_t now_ns = NowNs();
  if (block != 0 && now_ns - g_measure.last_block_ns > g_measure.longest_gap_ns.load(std::memory_order_relaxed)) {
    g_measure.longest_gap_ns.store(now_ns - g_measure.last_block_ns, std::memory_order_relaxed);
  }
  g_measure.last_block_ns = now_ns;
  if (!g_measure.stamped) {
    std::uint64_t first_pair = 0;
    std::memcpy(&first_pair, data, 6);
    if (block != 0 && first_pair != g_measure.next_pair) {
      if (first_pair % kBlockPairs != 0 || first_pair < g_measure.next_pair) {
        g_measure.disordered.fetch_add(1, std::memory_order_relaxed);
      } else {
        g_measure.gaps.fetch_add((first_pair - g_measure.next_pair) / kBlockPairs, std::memory_order_relaxed);
      }
    }
    g_measure.next_pair = first_pair + kBlockPairs;
  }
  if (g_measure.stamped && block % g_measure.packets == 0) {
    std::int64_t stamp = 0;
    std::memcpy(&stamp, data, sizeof stamp);
    const std::size_t n = g_measure.delay_count.load(std::memory_order_relaxed);
    if (n < g_measure.delays_ms.size()) {
      g_measure.delays_ms[n] = static_cast<double>(NowNs() - stamp) / 1e6;
      g_measure.delay_count.store(n + 1, std::memory_order_relaxed);
    }
  }
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

double ThreadSeconds(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  const auto seconds = [](FILETIME t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// CPU seconds of every thread of this process but the calling one.
std::map<DWORD, double> OtherThreadsSeconds() {
  std::map<DWORD, double> seconds;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
    if (HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID)) {
      seconds[entry.th32ThreadID] = ThreadSeconds(thread);
      CloseHandle(thread);
    }
  }
  CloseHandle(snapshot);
  return seconds;
}

class Bench {
 public:
  explicit Bench(bool quick) : quick_(quick) {}

  bool Open() {
    const std::string directory = host::ProgramDirectory();
    SetDllDirectoryA(directory.c_str());
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(directory + "ExtIO_halvorn.dll", &error);
    if (!plugin_) {
      std::fprintf(stderr, "stream_bench: %s\n", error.c_str());
      return false;
    }
    char name[64], model[64];
    int type = 0;
    SetEnvironmentVariableA("HALVORNSIM_SOURCE", "blocks");
    if (!plugin_->InitHW(name, model, &type) || !plugin_->OpenHW()) {
      std::fprintf(stderr, "stream_bench: the receiver did not come up\n");
      return false;
    }
    plugin_->SetCallback(&HostCallback);
    panel_ = host::HalvornPanel::Await(plugin_->module(), 5000);
    if (!panel_) {
      std::fprintf(stderr, "stream_bench: the plug-in shows no panel\n");
      return false;
    }
    return true;
  }

  void SelectRow(const Row& row) {
    std::string why;
    panel_->Click(row.button, &why);
    g_measure.packets = row.packets;
  }

  void Throughput() {
    std::printf("Unpaced end-to-end throughput (block-counting pattern, simulator as fast as the plug-in takes it)\n");
    std::printf("  %-10s %14s %12s %10s %10s %s\n", "rate", "pairs/s", "x real time", "dropped", "disordered", "");
    SetEnvironmentVariableA("HALVORNSIM_PACING", "unpaced");
    const double seconds = quick_ ? 0.4 : 1.5;
    for (const Row& row : kRows) {
      SelectRow(row);
      Reset();
      plugin_->StartHW(7050000);
      host::PumpMessagesFor(100);
      const std::uint64_t first = g_measure.blocks;
      const auto start = Clock::now();
      host::PumpMessagesFor(static_cast<DWORD>(seconds * 1000));
      const std::uint64_t blocks = g_measure.blocks - first;
      const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      plugin_->StopHW();
      const double pairs_per_second = static_cast<double>(blocks) * kBlockPairs / elapsed;
      const double ratio = pairs_per_second / row.rate_hz;
      std::printf("  %-10s %14.0f %12.0f %10llu %10llu %s\n", row.name.c_str(), pairs_per_second, ratio,
                  static_cast<unsigned long long>(g_measure.gaps.load()),
                  static_cast<unsigned long long>(g_measure.disordered.load()), ratio >= 1000 ? "" : "(below 1000 x)");
    }
    SetEnvironmentVariableA("HALVORNSIM_PACING", "realtime");
  }

  void CpuAtTwoMegaSamples() {
    // Wine counts thread times in 10 ms ticks: 30 s make that a 0.03 % step.
    const double seconds = quick_ ? 3 : 30;
    SelectRow(kTwoMegaRow);
    Reset();
    plugin_->StartHW(7050000);
    host::PumpMessagesFor(300);
    const auto before = OtherThreadsSeconds();
    const auto start = Clock::now();
    host::PumpMessagesFor(static_cast<DWORD>(seconds * 1000));
    const auto after = OtherThreadsSeconds();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    plugin_->StopHW();
    const DWORD delivery = g_measure.delivery_thread;
    double delivery_seconds = 0, busiest_other = 0;
    for (const auto& [thread, cpu] : after) {
      const auto was = before.find(thread);
      const double used = cpu - (was == before.end() ? 0 : was->second);
      if (thread == delivery) {
        delivery_seconds = used;
      } else {
        busiest_other = std::max(busiest_other, used);
      }
    }
    std::printf("\nCPU time at 2 MS/s, paced, over %.1f s\n", elapsed);
    std::printf("  plug-in delivery thread (BufferReadyProc + the host's trivial callback): %.3f %% of a core%s\n",
                100 * delivery_seconds / elapsed, delivery_seconds / elapsed < 0.005 ? "" : " (above 0.5 %)");
    std::printf("  simulator input thread, with the plug-in's transfer callback in it:     %.3f %% of a core\n",
                100 * busiest_other / elapsed);
  }

  void Delay() {
    std::printf("\nDelay from a transfer's hand-over to its first block in the host callback (paced)\n");
    SetEnvironmentVariableA("HALVORNSIM_STAMP", "1");
    for (const Row& row : {kTwoMegaRow, kRows[0]}) {
      SelectRow(row);
      Reset();
      g_measure.stamped = true;
      plugin_->StartHW(7050000);
      host::PumpMessagesFor(quick_ ? 2000 : 6000);
      plugin_->StopHW();
      g_measure.stamped = false;
      const std::vector<double> delays(g_measure.delays_ms.begin(),
                                       g_measure.delays_ms.begin() + static_cast<long>(g_measure.delay_count));
      const double period_ms = row.packets * kBlockPairs / row.rate_hz * 1000;
      const double p99 = Percentile(delays, 0.99);
      std::printf(
          "  %-9s %5zu transfers: median %.3f ms, 99th percentile %.3f ms (%.3f of a transfer's %.3f ms), "
          "max %.3f ms%s\n",
          row.name.c_str(), delays.size(), Percentile(delays, 0.5), p99, p99 / period_ms, period_ms,
          delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end()), p99 < 1 ? "" : " (above 1 ms)");
    }
    SetEnvironmentVariableA("HALVORNSIM_STAMP", nullptr);
  }

  // A rate chosen on the panel while the stream runs, paced: how long the
  // click takes (the input's stop, the bitstream, the record, the input's
  // start), and the longest time between two blocks around it, against the
  // longest a restart cannot avoid: the rest of the old rate's transfer under
  // way, lost, and the first transfer of the new rate.
  void RateChangeGap() {
    SelectRow(kRows[0]);
    Reset();
    plugin_->StartHW(7050000);
    host::PumpMessagesFor(300);
    std::printf("\nGap a rate chosen while streaming leaves (paced, from the last block of the old rate to the first "
                "of the new):\n");
    for (const int to : {1, 4, 0, 3, 6, 4}) {
      const Row& from_row = kRows[static_cast<std::size_t>(plugin_->ExtIoGetActualSrateIdx())];
      const Row& to_row = kRows[static_cast<std::size_t>(to)];
      host::PumpMessagesFor(200);
      g_measure.longest_gap_ns = 0;
      const auto clicked = Clock::now();
      SelectRow(to_row);
      const double click_ms = std::chrono::duration<double, std::milli>(Clock::now() - clicked).count();
      host::PumpMessagesFor(500);
      const double gap_ms = static_cast<double>(g_measure.longest_gap_ns.load()) / 1e6;
      const auto transfer_ms = [](const Row& row) { return row.packets * kBlockPairs / row.rate_hz * 1000; };
      const double unavoidable_ms = transfer_ms(from_row) + transfer_ms(to_row);
      std::printf("  %-11s -> %-11s click %6.3f ms, longest gap %7.3f ms: %.2f x the %.3f ms no restart avoids\n",
                  from_row.name.c_str(), to_row.name.c_str(), click_ms, gap_ms, gap_ms / unavoidable_ms,
                  unavoidable_ms);
    }
    plugin_->StopHW();
  }

  // The median StopHW.
  double StopLatency() {
    SelectRow(kTwoMegaRow);
    std::vector<double> stops;
    for (int i = 0; i < (quick_ ? 10 : 40); ++i) {
      Reset();
      plugin_->StartHW(7050000);
      host::PumpMessagesFor(40);
      const auto start = Clock::now();
      plugin_->StopHW();
      stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double p99 = Percentile(stops, 0.99);
    std::printf("\nStopHW while streaming at 2 MS/s, %zu stops: median %.3f ms, 99th percentile %.3f ms, max %.3f ms%s\n",
                stops.size(), Percentile(stops, 0.5), p99, *std::max_element(stops.begin(), stops.end()),
                p99 < 20 ? "" : " (above 20 ms)");
    return Percentile(stops, 0.5);
  }

  // FreeLibrary of freshly loaded plug-ins streaming at 125 kS/s, and of as
  // many after StopHW and CloseHW, each load on its own: how long the host's
  // call takes, and how long until the image has gone from the process (a
  // thread of the plug-in's still leaving holds it a little longer); the
  // medians against StopHW's, measured in the same run.
  static void UnloadLatency(double stop_median_ms, bool quick) {
    std::vector<double> streaming, closed, streaming_gone, closed_gone;
    for (int i = 0; i < (quick ? 4 : 20); ++i) {
      for (const bool close_first : {false, true}) {
        std::string error;
        auto plugin = host::ExtIoPlugin::Load(host::ProgramDirectory() + "ExtIO_halvorn.dll", &error);
        char name[64], model[64];
        int type = 0;
        if (!plugin || !plugin->InitHW(name, model, &type) || !plugin->OpenHW()) return;
        plugin->SetCallback(&HostCallback);
        plugin->StartHW(7050000);
        // Long enough for the panel's first showing to be over: an unload
        // during it leaves the image to the window thread.
        host::PumpMessagesFor(400);
        if (close_first) {
          plugin->StopHW();
          plugin->CloseHW();
          host::PumpMessagesFor(20);
        }
        const auto start = Clock::now();
        plugin->Unload();
        const auto returned = Clock::now();
        while (GetModuleHandleA("ExtIO_halvorn.dll") != nullptr && Clock::now() - start < std::chrono::seconds(5)) {
          Sleep(0);
        }
        const auto ms = [start](Clock::time_point at) {
          return std::chrono::duration<double, std::milli>(at - start).count();
        };
        (close_first ? closed : streaming).push_back(ms(returned));
        (close_first ? closed_gone : streaming_gone).push_back(ms(Clock::now()));
        // The library the unload left to the door goes before the next load.
        host::PumpMessagesFor(200);
      }
    }
    const auto say = [](const char* what, const std::vector<double>& call, const std::vector<double>& gone) {
      std::printf("  %-34s FreeLibrary median %.3f ms, max %.3f ms; image gone median %.3f ms, max %.3f ms\n", what,
                  Percentile(call, 0.5), *std::max_element(call.begin(), call.end()), Percentile(gone, 0.5),
                  *std::max_element(gone.begin(), gone.end()));
    };
    std::printf("\nUnloading the plug-in, %zu unloads each:\n", streaming.size());
    say("streaming at 125 kS/s", streaming, streaming_gone);
    say("after StopHW and CloseHW", closed, closed_gone);
    std::printf("  image gone while streaming against StopHW's median: %.2f x\n",
                Percentile(streaming_gone, 0.5) / stop_median_ms);
  }

  void Close() {
    plugin_->CloseHW();
    plugin_.reset();
  }

 private:
  static void Reset() {
    g_measure.blocks = 0;
    g_measure.gaps = 0;
    g_measure.disordered = 0;
    g_measure.next_pair = 0;
    g_measure.delay_count = 0;
  }

  bool quick_;
  std::unique_ptr<host::ExtIoPlugin> plugin_;
  std::optional<host::HalvornPanel> panel_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  Bench bench(quick);
  if (!bench.Open()) return 1;
  bench.Throughput();
  bench.CpuAtTwoMegaSamples();
  bench.Delay();
  bench.RateChangeGap();
  const double stop_median_ms = bench.StopLatency();
  bench.Close();
  Bench::UnloadLatency(stop_median_ms, quick);
  return 0;
}
