#include "host/session_report.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace halvorn::host {
namespace {

// Two rates further apart than this are worth a warning.
constexpr double kRateWarningRatio = 0.01;

std::optional<std::uint64_t> FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string MebibyteText(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// What the header of a finished recording says against the file's length.
struct RecordingCheck {
  bool readable = false;
  bool complete = false;
  std::uint64_t file_bytes = 0;
  std::uint32_t data_bytes = 0;
};

RecordingCheck CheckRecording(const std::string& path) {
  RecordingCheck check;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return check;
  unsigned char header[90] = {};
  const std::size_t read = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  const std::optional<std::uint64_t> bytes = FileBytes(path);
  if (read != sizeof header || !bytes) return check;
  const auto field = [&](int at) {
    return static_cast<std::uint32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
                                      static_cast<std::uint32_t>(header[at + 3]) << 24);
  };
  check.readable = true;
  check.file_bytes = *bytes;
  check.data_bytes = field(86);
  check.complete = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0 &&
                   std::memcmp(header + 36, "rcvr", 4) == 0 && std::memcmp(header + 82, "data", 4) == 0 &&
                   field(4) == *bytes - 8 && check.data_bytes == *bytes - 90;
  return check;
}

// One of the plug-in's menus, its entries numbered as the plug-in numbers
// them and the current one marked. Asked for, so printed even with --quiet.
void PrintMenu(const char* heading, const std::vector<std::string>& entries, int current) {
  if (entries.empty()) {
    std::printf("%s: none (the plug-in has no such entry point, or it lists nothing)\n", heading);
  } else {
    std::printf("%s:\n", heading);
    for (std::size_t index = 0; index < entries.size(); ++index) {
      std::printf("  %2d  %s%s\n", static_cast<int>(index), entries[index].c_str(),
                  static_cast<int>(index) == current ? "  (current)" : "");
    }
  }
  std::fflush(stdout);
}

}  // namespace

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

void SessionReport::Say(const char* format, ...) const {
  if (options_.quiet) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void SessionReport::Note(const char* format, ...) const {
  va_list arguments;
  va_start(arguments, format);
  std::fflush(stdout);
  std::fputs("extio_host: note: ", stdout);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void SessionReport::Fail(int status, const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "extio_host: %s\n", problem.c_str());
  std::fflush(stderr);
  if (exit_status_ == kExitOk) {
    exit_status_ = status;
    problem_ = problem;
  }
}

void SessionReport::RateChanged() const {
  Say("status 100: the sample rate is now %d Hz (GetHWSR)", facts_.reported_rate_hz);
}

void SessionReport::RecordingChanged(bool started) const {
  Say("status %d: recording %s", started ? 102 : 103, started ? "started" : "stopped");
}

void SessionReport::AttenuatorChanged(int entry, std::optional<float> level_db) const {
  if (level_db) {
    Say("status 125: the attenuator is now %.0f dB (GetActualAttIdx %d)", *level_db, entry);
  } else {
    Say("status 125: the attenuator changed; GetActualAttIdx gives %d, which the plug-in does not list", entry);
  }
}

void SessionReport::OtherStatus(int status) const { Say("status %d (not one this host acts on)", status); }

void SessionReport::MessageBoxes() {
  const auto seen = boxes_.seen();
  for (; boxes_reported_ < seen.size(); ++boxes_reported_) {
    const auto& box = seen[boxes_reported_];
    std::string text = box.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    Note("the plug-in showed a message box \"%s\": \"%s\" (closed by extio_host)", box.title.c_str(), text.c_str());
  }
}

std::string SessionReport::LastMessageBoxText() const {
  const auto seen = boxes_.seen();
  if (seen.empty()) return {};
  std::string text = seen.back().text;
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

void SessionReport::Menus(const HostMenus& menus, int current_rate, int current_attenuator) const {
  std::vector<std::string> rates;
  for (const RateEntry& entry : menus.rates) {
    char text[80];
    std::snprintf(text, sizeof text, "%9.0f Hz", entry.rate_hz);
    rates.push_back(text);
    if (entry.bandwidth_hz > 0) {
      std::snprintf(text, sizeof text, "  bandwidth %7ld Hz", entry.bandwidth_hz);
      rates.back() += text;
    }
  }
  PrintMenu("rate menu (ExtIoGetSrates, ExtIoGetBandwidth)", rates, current_rate);
  std::vector<std::string> levels;
  for (const AttenuatorEntry& entry : menus.attenuators) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.1f dB", entry.level_db);
    levels.push_back(text);
  }
  PrintMenu("attenuator menu (GetAttenuators)", levels, current_attenuator);
}

void SessionReport::StreamRestarts() {
  earlier_blocks_ += callback_.blocks();
  earlier_missing_pairs_ += callback_.counting().pairs_missing();
  earlier_disordered_pairs_ += callback_.counting().pairs_out_of_order();
  earlier_torn_blocks_ += callback_.counting().torn_blocks();
  ++restarts_;
  meter_.Reset();
}

std::uint64_t SessionReport::RecordingBytes() const {
  std::uint64_t total = 0;
  for (const std::string& name : facts_.recording_names) total += FileBytes(name).value_or(0);
  return total;
}

void SessionReport::Progress(double elapsed_s) const {
  if (options_.quiet) return;
  const std::int32_t reported_rate_hz = facts_.reported_rate_hz;
  char rate[96] = "rate measuring";
  if (const std::optional<double> measured = meter_.RateHz()) {
    if (reported_rate_hz > 0) {
      std::snprintf(rate, sizeof rate, "rate %.0f Hz (GetHWSR %d Hz, %+.3f %%)", *measured, reported_rate_hz,
                    100.0 * (*measured - reported_rate_hz) / reported_rate_hz);
    } else {
      std::snprintf(rate, sizeof rate, "rate %.0f Hz", *measured);
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%7.1f s  ", elapsed_s);
  std::string line = text + std::string(rate);
  std::snprintf(text, sizeof text, "  blocks %llu", static_cast<unsigned long long>(blocks()));
  line += text;
  line += "  dropped " + DroppedText(false);
  if (facts_.recording) line += "  recording " + MebibyteText(RecordingBytes());
  Say("%s", line.c_str());
}

std::string SessionReport::DroppedText(bool for_summary) const {
  char text[320];
  if (callback_.checking_counting()) {
    const CountingPatternChecker& counting = callback_.counting();
    const int pairs_per_block = std::max(1, callback_.largest_block());
    const std::uint64_t missing = earlier_missing_pairs_ + counting.pairs_missing();
    const std::uint64_t blocks = (missing + pairs_per_block - 1) / pairs_per_block;
    const std::uint64_t disordered = earlier_disordered_pairs_ + counting.pairs_out_of_order();
    const std::uint64_t torn = earlier_torn_blocks_ + counting.torn_blocks();
    if (!for_summary) {
      std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(blocks));
    } else {
      std::snprintf(text, sizeof text,
                    "%llu blocks (exact: gaps in the simulated receiver's counting pattern); %llu pairs out of "
                    "order, %llu damaged blocks",
                    static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(disordered),
                    static_cast<unsigned long long>(torn));
    }
    return text;
  }
  if (facts_.reported_rate_hz <= 0 || meter_.span_s() < RateMeter::kMinimumSpanS) {
    return for_summary ? "not measured: too short a stream, or no rate reported by GetHWSR" : "?";
  }
  const int pairs_per_block = std::max(1, facts_.block_pairs);
  const ShortfallEstimate estimate = EstimateShortfall(meter_, facts_.reported_rate_hz, pairs_per_block);
  if (!for_summary) {
    std::snprintf(text, sizeof text, "~%llu", static_cast<unsigned long long>(estimate.missing_blocks));
  } else {
    std::snprintf(text, sizeof text,
                  "%llu blocks, estimated: %.0f arrived in the %.1f s measured, %.0f expected from GetHWSR\n"
                  "                 (losses under %.0f blocks do not show this way; --source counting counts "
                  "them exactly)",
                  static_cast<unsigned long long>(estimate.missing_blocks), estimate.received_pairs / pairs_per_block,
                  meter_.span_s(), estimate.expected_pairs / pairs_per_block,
                  std::ceil(estimate.tolerance_pairs / pairs_per_block));
  }
  return text;
}

void SessionReport::Summary(const CaptureWriter* capture) {
  const SessionFacts& facts = facts_;
  std::printf("summary:\n");
  std::printf("  plug-in:       %s\n", facts.plugin_path.c_str());
  if (!facts.receiver_name.empty()) {
    std::printf("  receiver:      %s, %s pairs\n", facts.receiver_name.c_str(), SampleTypeName(facts.sample_type));
  }
  if (facts.block_pairs > 0) {
    std::printf("  session:       %.1f s streamed at LO %d Hz%s\n", facts.streamed_s, facts.lo_hz,
                restarts_ > 0 ? ", restarted after a rate change" : "");
    std::printf("  blocks:        %llu received, %d pairs each\n", static_cast<unsigned long long>(blocks()),
                facts.block_pairs);
    if (const std::optional<double> measured = meter_.RateHz()) {
      std::printf("  sample rate:   measured %.0f Hz over %.1f s; GetHWSR %d Hz", *measured, meter_.span_s(),
                  facts.reported_rate_hz);
      if (facts.reported_rate_hz > 0) {
        const double ratio = (*measured - facts.reported_rate_hz) / facts.reported_rate_hz;
        std::printf(" (%+.3f %%)%s", 100.0 * ratio,
                    std::fabs(ratio) > kRateWarningRatio ? ": the two disagree by more than 1 %" : "");
      }
      std::printf("\n");
    } else {
      std::printf("  sample rate:   not measured (too few blocks); GetHWSR %d Hz\n", facts.reported_rate_hz);
    }
    std::printf("  dropped:       %s\n", DroppedText(true).c_str());
    const int smallest = callback_.smallest_block();
    const int largest = callback_.largest_block();
    if ((smallest != 0 && smallest != facts.block_pairs) || largest > facts.block_pairs ||
        callback_.malformed_blocks() > 0) {
      std::printf("  block sizes:   %d to %d pairs against %d from StartHW; %llu calls without data\n", smallest,
                  largest, facts.block_pairs, static_cast<unsigned long long>(callback_.malformed_blocks()));
    }
  }
  for (const std::string& name : facts.recording_names) {
    const RecordingCheck check = CheckRecording(name);
    if (!check.readable) {
      std::printf("  recording:     %s: cannot be read\n", FullPath(name).c_str());
      Fail(kExitOutputFailed, "the recording " + name + " cannot be read");
    } else {
      std::printf("  recording:     %s: %s, %s (%lu data bytes)\n", FullPath(name).c_str(),
                  check.complete ? "complete" : "NOT complete (its header's sizes do not match its length)",
                  MebibyteText(check.file_bytes).c_str(), static_cast<unsigned long>(check.data_bytes));
      if (!check.complete) Fail(kExitOutputFailed, "the recording " + name + " was not completed");
    }
  }
  if (capture != nullptr) {
    std::printf("  capture:       %s: %s of %s pairs, %d bytes each, as received; %llu blocks dropped\n",
                FullPath(options_.capture_path).c_str(), MebibyteText(capture->bytes_written()).c_str(),
                SampleTypeName(facts.sample_type), facts.pair_bytes,
                static_cast<unsigned long long>(capture->blocks_dropped()));
  }
  if (!facts.panel_picture_result.empty()) std::printf("  panel picture: %s\n", facts.panel_picture_result.c_str());

  if (exit_status_ == kExitOk && callback_.checking_counting()) {
    const CountingPatternChecker& counting = callback_.counting();
    if (earlier_missing_pairs_ + counting.pairs_missing() + earlier_disordered_pairs_ +
            counting.pairs_out_of_order() + earlier_torn_blocks_ + counting.torn_blocks() >
        0) {
      Fail(kExitBlocksLost, "the counting pattern shows lost, repeated or damaged blocks");
    }
  }
  std::printf("  result:        %s\n", exit_status_ == kExitOk ? "ok" : problem_.c_str());
  std::fflush(stdout);
}

}  // namespace halvorn::host
