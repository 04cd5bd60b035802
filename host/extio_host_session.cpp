#include "host/extio_host_session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "halvorn_version.h"
#include "panel/control_ids.h"
#include "receiver/sample_rate_table.h"

namespace halvorn::host {
namespace {

// Long enough for a real receiver's firmware download or bitstream load, and
// for a message box the watcher closes; far beyond any sound call.
constexpr DWORD kCallLimitMs = 30000;
// Message pumping between looks at the stream.
constexpr DWORD kPumpSliceMs = 20;
// A click's handler runs at once; what it causes (a status call, a file)
// is looked at after this much pumping.
constexpr DWORD kAfterClickMs = 100;
// How long a plug-in may take to show its panel after OpenHW.
constexpr DWORD kPanelAppearsWithinMs = 3000;
// The panel is asked to repaint this long before its picture is taken.
constexpr double kRepaintLeadS = 0.3;
// The capture's ring holds this much signal at the reported rate.
constexpr double kCaptureRingSeconds = 2.0;
constexpr std::size_t kSmallestCaptureRing = std::size_t{4} << 20;
constexpr std::size_t kLargestCaptureRing = std::size_t{256} << 20;
// Two rates further apart than this are worth a warning.
constexpr double kRateWarningRatio = 0.01;
// The LO for a plug-in that neither gets one on the command line nor tells
// its own (GetHWLO is optional): the middle of the 40 m band.
constexpr std::int32_t kFallbackLoHz = 7050000;

std::atomic<bool> g_stop_requested{false};

BOOL WINAPI OnConsoleControl(DWORD /*event*/) {
  // The first Ctrl+C ends the session cleanly; a second one is Windows' own.
  return g_stop_requested.exchange(true) ? FALSE : TRUE;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

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

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

HostSession::HostSession(const HostOptions& options) : options_(options) {
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

HostSession::~HostSession() { SetConsoleCtrlHandler(&OnConsoleControl, FALSE); }

int HostSession::Run() {
  if (LoadPlugin() && OpenReceiver()) {
    if (options_.list) {
      PrintMenus();
    } else if (ChooseRate() && ChooseAttenuator() && StartStream()) {
      if (!options_.record || StartRecording()) Stream();
    }
  }
  TakeDown();
  PrintSummary();
  return exit_status_;
}

bool HostSession::LoadPlugin() {
  plugin_path_ = FullPath(options_.plugin_path.empty() ? ProgramDirectory() + "ExtIO_halvorn.dll"
                                                       : options_.plugin_path);
  if (GetFileAttributesA(plugin_path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Fail(kExitLoadFailed, "there is no plug-in at " + plugin_path_);
    return false;
  }
  if (!options_.source.empty()) SetEnvironmentVariableA("HALVORNSIM_SOURCE", options_.source.c_str());

  std::string error;
  {
    auto call = guard_.Enter("loading the plug-in", kCallLimitMs);
    plugin_ = ExtIoPlugin::Load(plugin_path_, &error, ExtIoPlugin::Required::kHostMinimum);
  }
  ReportMessageBoxes();
  if (!plugin_) {
    // A DLL that loads but lacks an entry point is some other library.
    const bool lacks_entry = error.find("has no entry point") != std::string::npos;
    Fail(kExitLoadFailed, lacks_entry ? plugin_path_ + " is not an ExtIO plug-in: " + error : error);
    return false;
  }
  Say("plug-in: %s", plugin_path_.c_str());
  // As hosts that know the extended entry points announce themselves, first.
  plugin_->VersionInfo("extio_host", HALVORN_VERSION_MAJOR, HALVORN_VERSION_MINOR);
  return true;
}

bool HostSession::OpenReceiver() {
  char name[256] = {};
  char model[256] = {};
  bool ready = false;
  {
    auto call = guard_.Enter("InitHW", kCallLimitMs);
    ready = plugin_->InitHW(name, model, &sample_type_);
  }
  ReportMessageBoxes();
  if (!ready) {
    const std::string said = LastMessageBoxText();
    Fail(kExitOpenFailed, "InitHW failed" + (said.empty() ? std::string(" (the plug-in showed no message)")
                                                          : ": the plug-in said \"" + said + "\""));
    return false;
  }
  opened_ = true;
  name[sizeof name - 1] = model[sizeof model - 1] = '\0';
  receiver_name_ = std::string(name) + " (" + model + ")";
  pair_bytes_ = PairBytesForSampleType(sample_type_);
  Say("receiver: %s, sample type %d (%s pairs)", receiver_name_.c_str(), sample_type_, SampleTypeName(sample_type_));
  if (const HMODULE library = GetModuleHandleA("halvornusb.dll")) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library, path, MAX_PATH);
    Say("device library: %s", path);
  }

  bool open = false;
  {
    auto call = guard_.Enter("OpenHW", kCallLimitMs);
    open = plugin_->OpenHW();
  }
  ReportMessageBoxes();
  if (!open) {
    Fail(kExitOpenFailed, "OpenHW failed");
    return false;
  }
  // The plug-in makes its panel when it first shows it, on a thread of its own.
  panel_ = HalvornPanel::Await(plugin_->module(), kPanelAppearsWithinMs);
  if (!panel_) {
    for (const auto& [wanted, what] : {std::pair{options_.record, "--record"},
                                      std::pair{!options_.panel_picture_path.empty(), "--panel-picture"}}) {
      if (wanted) Note("%s is not available: this plug-in has no Halvorn panel; the session runs without it", what);
    }
  }
  plugin_->SetCallback(&SessionCallback::Callback);
  menus_ = HostMenus::Read(*plugin_);
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  lo_hz_ = options_.lo_hz               ? *options_.lo_hz
           : plugin_->Provides("GetHWLO") ? plugin_->GetHWLO()
                                          : kFallbackLoHz;
  reported_rate_hz_ = plugin_->GetHWSR();
  return true;
}

bool HostSession::ChooseRate() {
  if (!options_.rate_index) return true;
  const std::int32_t wanted_hz = receiver::kSampleRateTable[*options_.rate_index].rate_hz;
  if (menus_.rates.empty() || !plugin_->Provides("ExtIoSetSrate")) {
    Note("--rate is not available: this plug-in has no rate menu (ExtIoGetSrates, ExtIoSetSrate); the session "
         "runs at its own rate");
    return true;
  }
  const std::optional<int> row = menus_.RateIndexFor(wanted_hz);
  if (!row) {
    Fail(kExitOutputFailed, "cannot choose " + std::to_string(wanted_hz) + " Hz: the plug-in's rate menu has no such rate");
    return false;
  }
  if (!ChooseFromMenu("ExtIoSetSrate", &ExtIoPlugin::ExtIoSetSrate, *row, "ExtIoGetActualSrateIdx",
                      &ExtIoPlugin::ExtIoGetActualSrateIdx)) {
    return false;
  }
  reported_rate_hz_ = plugin_->GetHWSR();
  if (reported_rate_hz_ != wanted_hz) {
    Fail(kExitOutputFailed, "ExtIoSetSrate(" + std::to_string(*row) + ") left GetHWSR at " +
                                std::to_string(reported_rate_hz_) + " Hz, not " + std::to_string(wanted_hz) + " Hz");
    return false;
  }
  Say("sample rate: %d Hz, chosen through ExtIoSetSrate (row %d)", wanted_hz, *row);
  return true;
}

bool HostSession::ChooseAttenuator() {
  if (!options_.attenuation_db) return true;
  const double wanted_db = *options_.attenuation_db;
  if (menus_.attenuators.empty() || !plugin_->Provides("SetAttenuator")) {
    Note("--att is not available: this plug-in has no attenuator menu (GetAttenuators, SetAttenuator); the "
         "session runs with its own attenuator");
    return true;
  }
  const std::optional<int> entry = menus_.AttenuatorIndexFor(wanted_db);
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "%g dB", wanted_db);
  if (!entry) {
    std::string offered;
    for (const AttenuatorEntry& step : menus_.attenuators) {
      char level[32];
      std::snprintf(level, sizeof level, "%s%g", offered.empty() ? "" : ", ", 0.0 - step.level_db);
      offered += level;
    }
    Fail(kExitOutputFailed, std::string("cannot attenuate by ") + wanted + ": the plug-in's attenuator offers " +
                                offered + " dB");
    return false;
  }
  if (!ChooseFromMenu("SetAttenuator", &ExtIoPlugin::SetAttenuator, *entry, "GetActualAttIdx",
                      &ExtIoPlugin::GetActualAttIdx)) {
    return false;
  }
  Say("attenuator: %s, chosen through SetAttenuator (entry %d)", wanted, *entry);
  return true;
}

bool HostSession::ChooseFromMenu(const char* setter, int (ExtIoPlugin::*set)(int), int index, const char* getter,
                                 int (ExtIoPlugin::*current)()) {
  int answer = 0;
  {
    auto call = guard_.Enter(setter, kCallLimitMs);
    answer = (plugin_.get()->*set)(index);
  }
  HandleStatuses();
  ReportMessageBoxes();
  const int now = (plugin_.get()->*current)();
  if (answer == 0 && now == index) return true;
  Fail(kExitOutputFailed, std::string(setter) + "(" + std::to_string(index) + ") returned " +
                              std::to_string(answer) + " and left " + getter + " at " + std::to_string(now));
  return false;
}

void HostSession::PrintMenus() const {
  std::vector<std::string> rates;
  for (const RateEntry& entry : menus_.rates) {
    char text[80];
    std::snprintf(text, sizeof text, "%9.0f Hz", entry.rate_hz);
    rates.push_back(text);
    if (entry.bandwidth_hz > 0) {
      std::snprintf(text, sizeof text, "  bandwidth %7ld Hz", entry.bandwidth_hz);
      rates.back() += text;
    }
  }
  PrintMenu("rate menu (ExtIoGetSrates, ExtIoGetBandwidth)", rates,
            rates.empty() ? -1 : plugin_->ExtIoGetActualSrateIdx());
  std::vector<std::string> levels;
  for (const AttenuatorEntry& entry : menus_.attenuators) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.1f dB", entry.level_db);
    levels.push_back(text);
  }
  PrintMenu("attenuator menu (GetAttenuators)", levels, levels.empty() ? -1 : plugin_->GetActualAttIdx());
}

bool HostSession::StartStream() {
  if (!options_.capture_path.empty()) {
    if (pair_bytes_ == 0) {
      Fail(kExitOutputFailed, "cannot capture: the plug-in's sample type " + std::to_string(sample_type_) +
                                  " is not one this host knows");
      return false;
    }
    const double ring = std::max(1.0, static_cast<double>(reported_rate_hz_)) * pair_bytes_ * kCaptureRingSeconds;
    std::string error;
    capture_ = CaptureWriter::Create(
        options_.capture_path,
        std::clamp(static_cast<std::size_t>(ring), kSmallestCaptureRing, kLargestCaptureRing), &error);
    if (!capture_) {
      Fail(kExitOutputFailed, error);
      return false;
    }
  }
  char source[32] = {};
  GetEnvironmentVariableA("HALVORNSIM_SOURCE", source, sizeof source);
  const bool counting = std::strcmp(source, "counting") == 0;
  if (counting && pair_bytes_ != 6) Note("the counting pattern is only followed in 24-bit pairs; not checked");
  callback_.Prepare(pair_bytes_, counting, capture_.get());

  {
    auto call = guard_.Enter("StartHW", kCallLimitMs);
    block_pairs_ = plugin_->StartHW(lo_hz_);
  }
  stream_start_ = Clock::now();
  // Even a refused start is followed by StopHW, which undoes whatever began.
  streaming_ = true;
  ReportMessageBoxes();
  if (block_pairs_ <= 0) {
    Fail(kExitNoBlocks, "StartHW refused to start: it returned " + std::to_string(block_pairs_));
    return false;
  }
  reported_rate_hz_ = plugin_->GetHWSR();
  Say("streaming: LO %d Hz, %d pairs a block, GetHWSR %d Hz%s", lo_hz_, block_pairs_, reported_rate_hz_,
      counting ? ", counting pattern checked" : "");
  return true;
}

bool HostSession::StartRecording() {
  if (!panel_) return true;
  std::string why;
  bool clicked = false;
  {
    auto call = guard_.Enter("the panel's Rec button", kCallLimitMs);
    clicked = panel_->Click(panel::kRecButton, &why);
  }
  if (!clicked) {
    Fail(kExitOutputFailed, "cannot start a recording: the panel's Rec button " + why);
    return false;
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  ReportMessageBoxes();
  // A recording that could not start leaves the panel idle again, with Stop disabled.
  if (!panel_->Enabled(panel::kStopButton)) {
    const std::string said = LastMessageBoxText();
    Fail(kExitOutputFailed, "the recording did not start" + (said.empty() ? std::string() : ": " + said));
    return false;
  }
  recording_ = true;
  FollowRecordingNames();
  Say("recording: %s", recording_names_.empty() ? "(no file name shown)" : FullPath(recording_names_.back()).c_str());
  return true;
}

void HostSession::Stream() {
  const double seconds = options_.seconds;
  const Clock::time_point start = stream_start_;
  const auto at = [&](double s) {
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  const Clock::time_point end = at(seconds);
  const bool want_picture = panel_ && !options_.panel_picture_path.empty();
  const Clock::time_point repaint_at = at(std::max(0.0, seconds / 2 - kRepaintLeadS));
  const Clock::time_point picture_at = at(seconds / 2);
  bool repainted = false;
  bool pictured = false;
  Clock::time_point next_progress = at(1.0);
  std::uint64_t last_pairs = 0;
  Clock::time_point last_change = start;

  for (;;) {
    PumpMessagesFor(kPumpSliceMs);
    HandleStatuses();
    ReportMessageBoxes();
    if (restart_wanted_) {
      if (!RestartStream()) break;
      last_pairs = 0;
      last_change = Clock::now();
    }
    const Clock::time_point now = Clock::now();
    if (g_stop_requested.load()) {
      Say("interrupted: ending the session");
      break;
    }
    const std::uint64_t pairs = callback_.pairs();
    if (pairs != last_pairs) {
      last_pairs = pairs;
      last_change = now;
    }
    if (pairs > 0) meter_.Add(Seconds(now - epoch_), pairs);
    if (Seconds(now - last_change) > options_.watchdog_s) {
      char problem[160];
      if (earlier_blocks_ + callback_.blocks() == 0) {
        std::snprintf(problem, sizeof problem, "no block arrived within %.1f s of StartHW", options_.watchdog_s);
      } else {
        std::snprintf(problem, sizeof problem, "blocks stopped arriving: none for %.1f s after %llu blocks",
                      options_.watchdog_s, static_cast<unsigned long long>(earlier_blocks_ + callback_.blocks()));
      }
      Fail(kExitNoBlocks, problem);
      break;
    }
    if (want_picture && !repainted && now >= repaint_at) {
      panel_->Redraw();
      repainted = true;
    }
    if (want_picture && !pictured && now >= picture_at) {
      SavePanelPicture();
      pictured = true;
    }
    if (now >= next_progress) {
      FollowRecordingNames();
      PrintProgress(Seconds(now - start));
      next_progress += std::chrono::seconds(1);
    }
    if (now >= end) break;
  }
  streamed_s_ = Seconds(Clock::now() - start);
  if (want_picture && !pictured) panel_picture_result_ = "not taken: the session ended before its middle";
}

bool HostSession::RestartStream() {
  restart_wanted_ = false;
  Say("restarting the stream at the new rate, as a host does after status 100");
  {
    auto call = guard_.Enter("StopHW", kCallLimitMs);
    plugin_->StopHW();
  }
  streaming_ = false;
  earlier_blocks_ += callback_.blocks();
  earlier_missing_pairs_ += callback_.counting().pairs_missing();
  earlier_disordered_pairs_ += callback_.counting().pairs_out_of_order();
  earlier_torn_blocks_ += callback_.counting().torn_blocks();
  ++restarts_;
  meter_.Reset();
  callback_.Prepare(pair_bytes_, callback_.checking_counting(), capture_.get());
  {
    auto call = guard_.Enter("StartHW", kCallLimitMs);
    block_pairs_ = plugin_->StartHW(lo_hz_);
  }
  streaming_ = true;
  if (block_pairs_ <= 0) {
    Fail(kExitNoBlocks, "StartHW refused to start again: it returned " + std::to_string(block_pairs_));
    return false;
  }
  reported_rate_hz_ = plugin_->GetHWSR();
  return true;
}

void HostSession::HandleStatuses() {
  for (const int status : callback_.TakeStatuses()) {
    switch (status) {
      case 100:
        reported_rate_hz_ = plugin_->GetHWSR();
        Say("status 100: the sample rate is now %d Hz (GetHWSR)", reported_rate_hz_);
        // The plug-in leaves a running stream as it is; the new rate takes
        // effect when the host starts the stream again.
        if (streaming_) restart_wanted_ = true;
        break;
      case 102:
        Say("status 102: recording started");
        break;
      case 125: {
        const int entry = plugin_->GetActualAttIdx();
        float level_db = 0.0f;
        if (plugin_->GetAttenuators(entry, &level_db) == 0) {
          Say("status 125: the attenuator is now %.0f dB (GetActualAttIdx %d)", level_db, entry);
        } else {
          Say("status 125: the attenuator changed; GetActualAttIdx gives %d, which the plug-in does not list", entry);
        }
        break;
      }
      case 103:
        Say("status 103: recording stopped");
        if (recording_) {
          recording_ = false;
          const std::string said = LastMessageBoxText();
          Fail(kExitOutputFailed, "the plug-in ended the recording" + (said.empty() ? std::string() : ": " + said));
        }
        break;
      default:
        Say("status %d (not one this host acts on)", status);
        break;
    }
  }
}

void HostSession::StopRecording() {
  FollowRecordingNames();
  std::string why;
  bool clicked = false;
  {
    auto call = guard_.Enter("the panel's Stop button", kCallLimitMs);
    clicked = panel_->Click(panel::kStopButton, &why);
  }
  // Cleared first: the 103 that the click causes is then the expected one.
  recording_ = false;
  if (!clicked) {
    Fail(kExitOutputFailed, "cannot stop the recording: the panel's Stop button " + why);
    return;
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  ReportMessageBoxes();
}

void HostSession::TakeDown() {
  if (recording_) StopRecording();
  if (streaming_) {
    auto call = guard_.Enter("StopHW", kCallLimitMs);
    plugin_->StopHW();
    streaming_ = false;
  }
  if (opened_) {
    auto call = guard_.Enter("CloseHW", kCallLimitMs);
    plugin_->CloseHW();
    opened_ = false;
  }
  if (capture_) {
    std::string error;
    if (!capture_->Finish(&error)) Fail(kExitOutputFailed, "the capture " + options_.capture_path + " " + error);
    if (capture_->blocks_dropped() > 0) {
      Fail(kExitOutputFailed, "the capture dropped " + std::to_string(capture_->blocks_dropped()) +
                                  " blocks: the disk did not keep up");
    }
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  ReportMessageBoxes();
  if (plugin_) {
    auto call = guard_.Enter("unloading the plug-in", kCallLimitMs);
    plugin_.reset();
  }
}

void HostSession::SavePanelPicture() {
  std::string error;
  if (panel_->SavePicture(options_.panel_picture_path, &error)) {
    panel_picture_result_ = FullPath(options_.panel_picture_path);
  } else {
    panel_picture_result_ = "failed: " + error;
    Fail(kExitOutputFailed, "the panel picture " + error);
  }
}

void HostSession::FollowRecordingNames() {
  if (!panel_ || !recording_) return;
  // A recording that reaches a file's size limit goes on in a new file, whose
  // name the panel then shows.
  const std::string name = panel_->Text(panel::kFileNameField);
  if (!name.empty() && name != " " && (recording_names_.empty() || recording_names_.back() != name)) {
    recording_names_.push_back(name);
  }
}

std::uint64_t HostSession::RecordingBytes() const {
  std::uint64_t total = 0;
  for (const std::string& name : recording_names_) total += FileBytes(name).value_or(0);
  return total;
}

void HostSession::PrintProgress(double elapsed_s) {
  if (options_.quiet) return;
  char rate[96] = "rate measuring";
  if (const std::optional<double> measured = meter_.RateHz()) {
    if (reported_rate_hz_ > 0) {
      std::snprintf(rate, sizeof rate, "rate %.0f Hz (GetHWSR %d Hz, %+.3f %%)", *measured, reported_rate_hz_,
                    100.0 * (*measured - reported_rate_hz_) / reported_rate_hz_);
    } else {
      std::snprintf(rate, sizeof rate, "rate %.0f Hz", *measured);
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%7.1f s  ", elapsed_s);
  std::string line = text + std::string(rate);
  const std::uint64_t blocks = earlier_blocks_ + callback_.blocks();
  std::snprintf(text, sizeof text, "  blocks %llu", static_cast<unsigned long long>(blocks));
  line += text;
  line += "  dropped " + DroppedText(false);
  if (recording_) line += "  recording " + MebibyteText(RecordingBytes());
  Say("%s", line.c_str());
}

std::string HostSession::DroppedText(bool for_summary) const {
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
  if (reported_rate_hz_ <= 0 || meter_.span_s() < RateMeter::kMinimumSpanS) {
    return for_summary ? "not measured: too short a stream, or no rate reported by GetHWSR" : "?";
  }
  const int pairs_per_block = std::max(1, block_pairs_);
  const ShortfallEstimate estimate = EstimateShortfall(meter_, reported_rate_hz_, pairs_per_block);
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

void HostSession::PrintSummary() {
  std::printf("summary:\n");
  std::printf("  plug-in:       %s\n", plugin_path_.c_str());
  if (!receiver_name_.empty()) {
    std::printf("  receiver:      %s, %s pairs\n", receiver_name_.c_str(), SampleTypeName(sample_type_));
  }
  if (block_pairs_ > 0) {
    std::printf("  session:       %.1f s streamed at LO %d Hz%s\n", streamed_s_, lo_hz_,
                restarts_ > 0 ? ", restarted after a rate change" : "");
    const std::uint64_t blocks = earlier_blocks_ + callback_.blocks();
    std::printf("  blocks:        %llu received, %d pairs each\n", static_cast<unsigned long long>(blocks),
                block_pairs_);
    if (const std::optional<double> measured = meter_.RateHz()) {
      std::printf("  sample rate:   measured %.0f Hz over %.1f s; GetHWSR %d Hz", *measured, meter_.span_s(),
                  reported_rate_hz_);
      if (reported_rate_hz_ > 0) {
        const double ratio = (*measured - reported_rate_hz_) / reported_rate_hz_;
        std::printf(" (%+.3f %%)%s", 100.0 * ratio,
                    std::fabs(ratio) > kRateWarningRatio ? ": the two disagree by more than 1 %" : "");
      }
      std::printf("\n");
    } else {
      std::printf("  sample rate:   not measured (too few blocks); GetHWSR %d Hz\n", reported_rate_hz_);
    }
    std::printf("  dropped:       %s\n", DroppedText(true).c_str());
    const int smallest = callback_.smallest_block();
    const int largest = callback_.largest_block();
    if ((smallest != 0 && smallest != block_pairs_) || largest > block_pairs_ || callback_.malformed_blocks() > 0) {
      std::printf("  block sizes:   %d to %d pairs against %d from StartHW; %llu calls without data\n", smallest,
                  largest, block_pairs_, static_cast<unsigned long long>(callback_.malformed_blocks()));
    }
  }
  for (const std::string& name : recording_names_) {
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
  if (capture_) {
    std::printf("  capture:       %s: %s of %s pairs, %d bytes each, as received; %llu blocks dropped\n",
                FullPath(options_.capture_path).c_str(), MebibyteText(capture_->bytes_written()).c_str(),
                SampleTypeName(sample_type_), pair_bytes_,
                static_cast<unsigned long long>(capture_->blocks_dropped()));
  }
  if (!panel_picture_result_.empty()) std::printf("  panel picture: %s\n", panel_picture_result_.c_str());

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

void HostSession::ReportMessageBoxes() {
  const auto seen = boxes_.seen();
  for (; boxes_reported_ < seen.size(); ++boxes_reported_) {
    const auto& box = seen[boxes_reported_];
    std::string text = box.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    Note("the plug-in showed a message box \"%s\": \"%s\" (closed by extio_host)", box.title.c_str(), text.c_str());
  }
}

std::string HostSession::LastMessageBoxText() const {
  const auto seen = boxes_.seen();
  if (seen.empty()) return {};
  std::string text = seen.back().text;
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

void HostSession::Fail(int status, const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "extio_host: %s\n", problem.c_str());
  std::fflush(stderr);
  if (exit_status_ == kExitOk) {
    exit_status_ = status;
    problem_ = problem;
  }
}

void HostSession::Say(const char* format, ...) const {
  if (options_.quiet) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void HostSession::Note(const char* format, ...) const {
  va_list arguments;
  va_start(arguments, format);
  std::fflush(stdout);
  std::fputs("extio_host: note: ", stdout);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace halvorn::host
