#include "tests/support/native_plugin.h"

#include <cctype>
#include <thread>

#include "tests/support/panel_controls.h"

namespace halvorn::testing {
namespace {

std::string Slug(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

}  // namespace

NativePlugin::NativePlugin(NativePluginParts parts) : journal_path_(NewJournalPath(Slug(parts.label))) {
  settings_.Set("HALVORNSIM_JOURNAL", journal_path_);
  settings_.Set("HALVORNSIM_PACING", "realtime");
  auto files = parts.file_faults ? std::unique_ptr<recorder::RecordingDirectory>(
                                       std::make_unique<FaultyDirectory>(scratch_.path(), parts.file_faults))
                                 : recorder::MakePlatformRecordingDirectory(scratch_.path().string());
  auto directory = std::make_unique<OrderedDirectory>(std::move(files));
  directory_ = directory.get();
  recorder::RecorderOptions options;
  options.directory = std::move(directory);
  options.max_data_bytes = parts.max_data_bytes;
  const bool own_loader = parts.loader != nullptr;
  module_ = std::make_unique<NativeModule>(own_loader ? "" : SimulatorDirectory(), std::move(parts.loader),
                                           std::move(parts.kit), std::move(options));
}

// The module goes before the settings are put back and the scratch
// directory is removed.
NativePlugin::~NativePlugin() { module_.reset(); }

std::vector<ShownMessage> NativePlugin::TakeMessages() {
  std::vector<ShownMessage> shown;
  for (const std::string& text : ui().errors()) shown.push_back({"", text});
  // Events and trace would grow without end over a long session.
  ui().ClearEvents();
  native().trace.Clear();
  return shown;
}

void NativePlugin::Run(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

bool NativePlugin::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void NativePlugin::Idle() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

void NativePlugin::MarkRecordings() { mark_ = directory_->created().size(); }

std::vector<std::string> NativePlugin::RecordingsSinceMark() {
  const std::vector<std::string> created = directory_ ? directory_->created() : created_before_unload_;
  return {created.begin() + static_cast<std::ptrdiff_t>(std::min(mark_, created.size())), created.end()};
}

bool NativePlugin::UnloadWithoutClosing(Unload way) {
  if (way != Unload::kFromAnotherThread) return false;
  // Finishing a recording makes no new file.
  created_before_unload_ = directory_->created();
  directory_ = nullptr;
  std::thread([this] { module_.reset(); }).join();
  return true;
}

std::optional<InsideView> NativePlugin::Inside() {
  if (!module_) return std::nullopt;
  const receiver::ReceiverState& state = module().receiver().state();
  const receiver::ControlRecord record = module().control_record().Current();
  InsideView inside;
  inside.tuned_lo_hz = state.tuned_lo_hz();
  inside.last_tuned_hz = state.last_tuned_hz.load();
  inside.reference_clock_hz = state.reference_clock_hz.load();
  inside.row = state.sample_rate_index.load();
  inside.reload_pending = state.fpga_reload_pending.load();
  inside.preselector = state.preselector_on.load();
  inside.preamp = state.adc_preamp_on.load();
  inside.dither = state.adc_dither_on.load();
  inside.attenuator = state.attenuator_step.load();
  inside.record_flags = record.flags;
  inside.record_nco_word = record.nco_word;
  inside.streaming = module().stream().IsStreaming();
  inside.recording = module().recorder().IsRecording();
  inside.dropped_blocks = module().stream().dropped_blocks();
  return inside;
}

std::string NativePlugin::DescribeClick(int id, bool indeterminate) {
  return "OnClick(" + std::to_string(id) + ")" + (indeterminate ? " (indeterminate)" : "");
}

// An automatic check box has toggled itself (or shows the third state), and
// an enabled automatic radio button has marked itself alone in its group,
// before the click reaches the handler.
void NativePlugin::Click(int id, bool indeterminate) {
  if (IsCheckBox(id)) {
    if (indeterminate) {
      ui().SetCheckState(id, 2);
    } else {
      ui().Toggle(id);
    }
  } else if (ui().control(id).enabled) {
    for (int member : RadioGroupOf(id)) ui().SetCheckState(member, member == id ? 1 : 0);
  }
  module().panel().OnClick(id);
}

}  // namespace halvorn::testing
