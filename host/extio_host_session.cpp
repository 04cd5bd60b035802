#include "host/extio_host_session.h"

#include <algorithm>
#include <atomic>
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
// The LO for a plug-in that neither gets one on the command line nor tells
// its own (GetHWLO is optional): the middle of the 40 m band.
constexpr std::int32_t kFallbackLoHz = 7050000;

std::atomic<bool> g_stop_requested{false};

BOOL WINAPI OnConsoleControl(DWORD /*event*/) {
  // The first Ctrl+C ends the session cleanly; a second one is Windows' own.
  return g_stop_requested.exchange(true) ? FALSE : TRUE;
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
      report_.Menus(menus_, menus_.rates.empty() ? -1 : plugin_->ExtIoGetActualSrateIdx(),
                    menus_.attenuators.empty() ? -1 : plugin_->GetActualAttIdx());
    } else if (ChooseRate() && ChooseAttenuator() && StartStream()) {
      if (!options_.record || StartRecording()) Stream();
    }
  }
  TakeDown();
  report_.Summary(capture_.get());
  return report_.exit_status();
}

bool HostSession::LoadPlugin() {
  facts_.plugin_path =
      FullPath(options_.plugin_path.empty() ? ProgramDirectory() + "ExtIO_halvorn.dll" : options_.plugin_path);
  if (GetFileAttributesA(facts_.plugin_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    report_.Fail(kExitLoadFailed, "there is no plug-in at " + facts_.plugin_path);
    return false;
  }
  if (!options_.source.empty()) SetEnvironmentVariableA("HALVORNSIM_SOURCE", options_.source.c_str());

  std::string error;
  {
    auto call = guard_.Enter("loading the plug-in", kCallLimitMs);
    plugin_ = ExtIoPlugin::Load(facts_.plugin_path, &error, ExtIoPlugin::Required::kHostMinimum);
  }
  report_.MessageBoxes();
  if (!plugin_) {
    // A DLL that loads but lacks an entry point is some other library.
    const bool lacks_entry = error.find("has no entry point") != std::string::npos;
    report_.Fail(kExitLoadFailed, lacks_entry ? facts_.plugin_path + " is not an ExtIO plug-in: " + error : error);
    return false;
  }
  report_.Say("plug-in: %s", facts_.plugin_path.c_str());
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
    ready = plugin_->InitHW(name, model, &facts_.sample_type);
  }
  report_.MessageBoxes();
  if (!ready) {
    const std::string said = report_.LastMessageBoxText();
    report_.Fail(kExitOpenFailed, "InitHW failed" + (said.empty() ? std::string(" (the plug-in showed no message)")
                                                                  : ": the plug-in said \"" + said + "\""));
    return false;
  }
  opened_ = true;
  name[sizeof name - 1] = model[sizeof model - 1] = '\0';
  facts_.receiver_name = std::string(name) + " (" + model + ")";
  facts_.pair_bytes = PairBytesForSampleType(facts_.sample_type);
  report_.Say("receiver: %s, sample type %d (%s pairs)", facts_.receiver_name.c_str(), facts_.sample_type,
              SampleTypeName(facts_.sample_type));
  if (const HMODULE library = GetModuleHandleA("halvornusb.dll")) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library, path, MAX_PATH);
    report_.Say("device library: %s", path);
  }

  bool open = false;
  {
    auto call = guard_.Enter("OpenHW", kCallLimitMs);
    open = plugin_->OpenHW();
  }
  report_.MessageBoxes();
  if (!open) {
    report_.Fail(kExitOpenFailed, "OpenHW failed");
    return false;
  }
  // The plug-in makes its panel when it first shows it, on a thread of its own.
  panel_ = HalvornPanel::Await(plugin_->module(), kPanelAppearsWithinMs);
  if (!panel_) {
    for (const auto& [wanted, what] : {std::pair{options_.record, "--record"},
                                      std::pair{!options_.panel_picture_path.empty(), "--panel-picture"}}) {
      if (wanted) {
        report_.Note("%s is not available: this plug-in has no Halvorn panel; the session runs without it", what);
      }
    }
  }
  plugin_->SetCallback(&SessionCallback::Callback);
  menus_ = HostMenus::Read(*plugin_);
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  facts_.lo_hz = options_.lo_hz               ? *options_.lo_hz
                 : plugin_->Provides("GetHWLO") ? plugin_->GetHWLO()
                                                : kFallbackLoHz;
  facts_.reported_rate_hz = plugin_->GetHWSR();
  return true;
}

bool HostSession::ChooseRate() {
  if (!options_.rate_index) return true;
  const std::int32_t wanted_hz = receiver::kSampleRateTable[*options_.rate_index].rate_hz;
  if (menus_.rates.empty() || !plugin_->Provides("ExtIoSetSrate")) {
    report_.Note(
        "--rate is not available: this plug-in has no rate menu (ExtIoGetSrates, ExtIoSetSrate); the session "
        "runs at its own rate");
    return true;
  }
  const std::optional<int> row = menus_.RateIndexFor(wanted_hz);
  if (!row) {
    report_.Fail(kExitOutputFailed,
                 "cannot choose " + std::to_string(wanted_hz) + " Hz: the plug-in's rate menu has no such rate");
    return false;
  }
  if (!ChooseFromMenu("ExtIoSetSrate", &ExtIoPlugin::ExtIoSetSrate, *row, "ExtIoGetActualSrateIdx",
                      &ExtIoPlugin::ExtIoGetActualSrateIdx)) {
    return false;
  }
  facts_.reported_rate_hz = plugin_->GetHWSR();
  if (facts_.reported_rate_hz != wanted_hz) {
    report_.Fail(kExitOutputFailed, "ExtIoSetSrate(" + std::to_string(*row) + ") left GetHWSR at " +
                                        std::to_string(facts_.reported_rate_hz) + " Hz, not " +
                                        std::to_string(wanted_hz) + " Hz");
    return false;
  }
  report_.Say("sample rate: %d Hz, chosen through ExtIoSetSrate (row %d)", wanted_hz, *row);
  return true;
}

bool HostSession::ChooseAttenuator() {
  if (!options_.attenuation_db) return true;
  const double wanted_db = *options_.attenuation_db;
  if (menus_.attenuators.empty() || !plugin_->Provides("SetAttenuator")) {
    report_.Note(
        "--att is not available: this plug-in has no attenuator menu (GetAttenuators, SetAttenuator); the "
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
    report_.Fail(kExitOutputFailed,
                 std::string("cannot attenuate by ") + wanted + ": the plug-in's attenuator offers " + offered + " dB");
    return false;
  }
  if (!ChooseFromMenu("SetAttenuator", &ExtIoPlugin::SetAttenuator, *entry, "GetActualAttIdx",
                      &ExtIoPlugin::GetActualAttIdx)) {
    return false;
  }
  report_.Say("attenuator: %s, chosen through SetAttenuator (entry %d)", wanted, *entry);
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
  report_.MessageBoxes();
  const int now = (plugin_.get()->*current)();
  if (answer == 0 && now == index) return true;
  report_.Fail(kExitOutputFailed, std::string(setter) + "(" + std::to_string(index) + ") returned " +
                                      std::to_string(answer) + " and left " + getter + " at " + std::to_string(now));
  return false;
}

bool HostSession::StartStream() {
  if (!options_.capture_path.empty()) {
    if (facts_.pair_bytes == 0) {
      report_.Fail(kExitOutputFailed, "cannot capture: the plug-in's sample type " +
                                          std::to_string(facts_.sample_type) + " is not one this host knows");
      return false;
    }
    const double ring =
        std::max(1.0, static_cast<double>(facts_.reported_rate_hz)) * facts_.pair_bytes * kCaptureRingSeconds;
    std::string error;
    capture_ = CaptureWriter::Create(
        options_.capture_path,
        std::clamp(static_cast<std::size_t>(ring), kSmallestCaptureRing, kLargestCaptureRing), &error);
    if (!capture_) {
      report_.Fail(kExitOutputFailed, error);
      return false;
    }
  }
  char source[32] = {};
  GetEnvironmentVariableA("HALVORNSIM_SOURCE", source, sizeof source);
  const bool counting = std::strcmp(source, "counting") == 0;
  if (counting && facts_.pair_bytes != 6) {
    report_.Note("the counting pattern is only followed in 24-bit pairs; not checked");
  }
  callback_.Prepare(facts_.pair_bytes, counting, capture_.get());

  {
    auto call = guard_.Enter("StartHW", kCallLimitMs);
    facts_.block_pairs = plugin_->StartHW(facts_.lo_hz);
  }
  stream_start_ = Clock::now();
  // Even a refused start is followed by StopHW, which undoes whatever began.
  streaming_ = true;
  report_.MessageBoxes();
  if (facts_.block_pairs <= 0) {
    report_.Fail(kExitNoBlocks, "StartHW refused to start: it returned " + std::to_string(facts_.block_pairs));
    return false;
  }
  facts_.reported_rate_hz = plugin_->GetHWSR();
  report_.Say("streaming: LO %d Hz, %d pairs a block, GetHWSR %d Hz%s", facts_.lo_hz, facts_.block_pairs,
              facts_.reported_rate_hz, counting ? ", counting pattern checked" : "");
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
    report_.Fail(kExitOutputFailed, "cannot start a recording: the panel's Rec button " + why);
    return false;
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  report_.MessageBoxes();
  // A recording that could not start leaves the panel idle again, with Stop disabled.
  if (!panel_->Enabled(panel::kStopButton)) {
    const std::string said = report_.LastMessageBoxText();
    report_.Fail(kExitOutputFailed, "the recording did not start" + (said.empty() ? std::string() : ": " + said));
    return false;
  }
  facts_.recording = true;
  FollowRecordingNames();
  report_.Say("recording: %s", facts_.recording_names.empty() ? "(no file name shown)"
                                                              : FullPath(facts_.recording_names.back()).c_str());
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
    report_.MessageBoxes();
    if (restart_wanted_) {
      if (!RestartStream()) break;
      last_pairs = 0;
      last_change = Clock::now();
    }
    const Clock::time_point now = Clock::now();
    if (g_stop_requested.load()) {
      report_.Say("interrupted: ending the session");
      break;
    }
    const std::uint64_t pairs = callback_.pairs();
    if (pairs != last_pairs) {
      last_pairs = pairs;
      last_change = now;
    }
    if (pairs > 0) report_.Measure(Seconds(now - epoch_), pairs);
    if (Seconds(now - last_change) > options_.watchdog_s) {
      char problem[160];
      if (report_.blocks() == 0) {
        std::snprintf(problem, sizeof problem, "no block arrived within %.1f s of StartHW", options_.watchdog_s);
      } else {
        std::snprintf(problem, sizeof problem, "blocks stopped arriving: none for %.1f s after %llu blocks",
                      options_.watchdog_s, static_cast<unsigned long long>(report_.blocks()));
      }
      report_.Fail(kExitNoBlocks, problem);
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
      report_.Progress(Seconds(now - start));
      next_progress += std::chrono::seconds(1);
    }
    if (now >= end) break;
  }
  facts_.streamed_s = Seconds(Clock::now() - start);
  if (want_picture && !pictured) facts_.panel_picture_result = "not taken: the session ended before its middle";
}

bool HostSession::RestartStream() {
  restart_wanted_ = false;
  report_.Say("restarting the stream at the new rate, as a host does after status 100");
  {
    auto call = guard_.Enter("StopHW", kCallLimitMs);
    plugin_->StopHW();
  }
  streaming_ = false;
  report_.StreamRestarts();
  callback_.Prepare(facts_.pair_bytes, callback_.checking_counting(), capture_.get());
  {
    auto call = guard_.Enter("StartHW", kCallLimitMs);
    facts_.block_pairs = plugin_->StartHW(facts_.lo_hz);
  }
  streaming_ = true;
  if (facts_.block_pairs <= 0) {
    report_.Fail(kExitNoBlocks, "StartHW refused to start again: it returned " + std::to_string(facts_.block_pairs));
    return false;
  }
  facts_.reported_rate_hz = plugin_->GetHWSR();
  return true;
}

void HostSession::HandleStatuses() {
  for (const int status : callback_.TakeStatuses()) {
    switch (status) {
      case 100:
        facts_.reported_rate_hz = plugin_->GetHWSR();
        report_.RateChanged();
        // The plug-in has the new rate in force already; hosts of the older
        // kind start the stream again all the same, and so does this one.
        if (streaming_) restart_wanted_ = true;
        break;
      case 102:
        report_.RecordingChanged(true);
        break;
      case 125: {
        const int entry = plugin_->GetActualAttIdx();
        float level_db = 0.0f;
        const bool listed = plugin_->GetAttenuators(entry, &level_db) == 0;
        report_.AttenuatorChanged(entry, listed ? std::optional<float>(level_db) : std::nullopt);
        break;
      }
      case 103:
        report_.RecordingChanged(false);
        if (facts_.recording) {
          facts_.recording = false;
          const std::string said = report_.LastMessageBoxText();
          report_.Fail(kExitOutputFailed,
                       "the plug-in ended the recording" + (said.empty() ? std::string() : ": " + said));
        }
        break;
      default:
        report_.OtherStatus(status);
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
  facts_.recording = false;
  if (!clicked) {
    report_.Fail(kExitOutputFailed, "cannot stop the recording: the panel's Stop button " + why);
    return;
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  report_.MessageBoxes();
}

void HostSession::TakeDown() {
  if (facts_.recording) StopRecording();
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
    if (!capture_->Finish(&error)) {
      report_.Fail(kExitOutputFailed, "the capture " + options_.capture_path + " " + error);
    }
    if (capture_->blocks_dropped() > 0) {
      report_.Fail(kExitOutputFailed, "the capture dropped " + std::to_string(capture_->blocks_dropped()) +
                                          " blocks: the disk did not keep up");
    }
  }
  PumpMessagesFor(kAfterClickMs);
  HandleStatuses();
  report_.MessageBoxes();
  if (plugin_) {
    auto call = guard_.Enter("unloading the plug-in", kCallLimitMs);
    plugin_.reset();
  }
}

void HostSession::SavePanelPicture() {
  std::string error;
  if (panel_->SavePicture(options_.panel_picture_path, &error)) {
    facts_.panel_picture_result = FullPath(options_.panel_picture_path);
  } else {
    facts_.panel_picture_result = "failed: " + error;
    report_.Fail(kExitOutputFailed, "the panel picture " + error);
  }
}

void HostSession::FollowRecordingNames() {
  if (!panel_ || !facts_.recording) return;
  // A recording that reaches a file's size limit goes on in a new file, whose
  // name the panel then shows.
  const std::string name = panel_->Text(panel::kFileNameField);
  if (!name.empty() && name != " " && (facts_.recording_names.empty() || facts_.recording_names.back() != name)) {
    facts_.recording_names.push_back(name);
  }
}

}  // namespace halvorn::host
