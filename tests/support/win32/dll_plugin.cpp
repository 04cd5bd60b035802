#include "tests/support/win32/dll_plugin.h"

#include <gtest/gtest.h>

#include "host/halvorn_panel.h"
#include "panel/control_ids.h"
#include "tests/support/recording_oracle.h"
#include "tests/support/win32/panel_caught_up.h"
#include "tests/support/win32/pump_until.h"

namespace halvorn::testing {

DllPlugin::DllPlugin(std::unique_ptr<host::ExtIoPlugin>& plugin, host::MessageBoxWatcher& boxes,
                     std::string journal_path, std::string recording_directory)
    : plugin_(plugin),
      boxes_(boxes),
      journal_path_(std::move(journal_path)),
      recording_directory_(std::move(recording_directory)) {}

std::vector<ShownMessage> DllPlugin::TakeMessages() {
  const auto seen = boxes_.seen();
  std::vector<ShownMessage> shown;
  for (; boxes_taken_ < seen.size(); ++boxes_taken_)
    shown.push_back({seen[boxes_taken_].title, seen[boxes_taken_].text});
  return shown;
}

void DllPlugin::ForgetMessages() { boxes_taken_ = boxes_.seen().size(); }

void DllPlugin::Run(std::chrono::milliseconds duration) { host::PumpMessagesFor(static_cast<DWORD>(duration.count())); }

bool DllPlugin::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return PumpUntil(done, static_cast<DWORD>(timeout.count()));
}

// The plug-in may wait for its window thread from the delivery thread (it
// moves its panel there): this thread keeps pumping meanwhile.
void DllPlugin::Idle() { host::PumpMessagesFor(1); }

void DllPlugin::MarkRecordings() {
  const auto names = RecordingFilesIn(recording_directory_);
  files_at_mark_ = {names.begin(), names.end()};
}

std::vector<std::string> DllPlugin::RecordingsSinceMark() {
  std::vector<std::string> made;
  for (std::string& name : RecordingFilesIn(recording_directory_)) {
    if (!files_at_mark_.count(name)) made.push_back(std::move(name));
  }
  return InOrderOfMaking(recording_directory_, std::move(made));
}

void DllPlugin::SetSimulator(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

std::string DllPlugin::DescribeClick(int id, bool /*indeterminate*/) {
  return (IsWindowEnabled(Control(id)) ? "BM_CLICK " : "BN_CLICKED of disabled ") + std::to_string(id);
}

// An enabled control is clicked. A disabled one cannot be, but its handler
// is still reachable: the dialog gets the notification a click would send.
// (Wine's BM_CLICK on an automatic radio button whose whole group is
// disabled never returns.) A real check box has no third state to show.
void DllPlugin::Click(int id, bool /*indeterminate*/) {
  const HWND control = Control(id);
  if (IsWindowEnabled(control)) {
    SendMessageA(control, BM_CLICK, 0, 0);
  } else {
    SendMessageA(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  }
}

void DllPlugin::TimerTick() { SendMessageA(Dialog(), WM_TIMER, panel::kStatusTimerId, 0); }

int DllPlugin::CheckState(int id) { return static_cast<int>(SendMessageA(Control(id), BM_GETCHECK, 0, 0)); }

std::string DllPlugin::Text(int id) {
  char text[256] = {};
  GetDlgItemTextA(Dialog(), id, text, sizeof text);
  return text;
}

namespace {

constexpr DWORD kUnloadLimitMs = 60000;
constexpr DWORD kMessageLimitMs = 30000;

bool Loaded(HMODULE module) {
  char path[MAX_PATH];
  return GetModuleFileNameA(module, path, MAX_PATH) != 0;
}

}  // namespace

bool DllPlugin::UnloadWithoutClosing(Unload way) {
  if (way == Unload::kWhileAMessageIsOpen) {
    // Without the bitstream OpenHW always has something to say.
    SetSimulator("HALVORNSIM_FAIL", "FpgaConfig");
    ArmUnloadUnderNextMessage(MessageFrom::kEntryPoint);
    plugin_->OpenHW();
    CompleteUnloadUnderMessage();
    SetSimulator("HALVORNSIM_FAIL", "");
    return true;
  }
  const HMODULE module = plugin_->module();
  std::atomic<bool> done{false};
  std::thread unloader([this, &done] {
    plugin_->Unload();
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, kUnloadLimitMs)) << "the unload from another thread hung";
  unloader.join();
  ExpectGone(module);
  plugin_.reset();
  return true;
}

void DllPlugin::ArmUnloadUnderNextMessage(MessageFrom from) {
  message_from_ = from;
  unloading_module_ = plugin_->module();
  boxes_before_unload_ = boxes_.seen().size();
  message_was_open_ = false;
  stayed_under_message_ = false;
  unloaded_ = false;
  boxes_.HoldOpen(true);
  unloader_ = std::thread([this] {
    message_was_open_ = boxes_.WaitFor(boxes_before_unload_ + 1, kMessageLimitMs);
    plugin_->Unload();
    // The panel's thread may be finishing something else before the module goes.
    if (message_from_ == MessageFrom::kPanel) {
      for (DWORD waited = 0; Loaded(unloading_module_) && waited < 5000; waited += 10) Sleep(10);
    }
    stayed_under_message_ = Loaded(unloading_module_);
    unloaded_ = true;
    boxes_.HoldOpen(false);
  });
}

void DllPlugin::CompleteUnloadUnderMessage() {
  EXPECT_TRUE(PumpUntil([this] { return unloaded_.load(); }, kUnloadLimitMs + kMessageLimitMs))
      << "the unload under a message hung";
  unloader_.join();
  EXPECT_TRUE(message_was_open_) << "no message was shown to unload under";
  if (message_from_ == MessageFrom::kEntryPoint) {
    EXPECT_TRUE(stayed_under_message_) << "the module went while the call under its message was inside";
  } else {
    EXPECT_FALSE(stayed_under_message_) << "the panel's open message kept the module";
  }
  ExpectGone(unloading_module_);
  plugin_.reset();
}

void DllPlugin::ExpectGone(HMODULE module) {
  EXPECT_TRUE(PumpUntil([module] { return !Loaded(module); }, 10000)) << "the module stayed loaded";
  EXPECT_TRUE(PumpUntil([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000))
      << "the receiver's library stayed loaded";
}

HWND DllPlugin::Dialog() {
  // What the host asked of the panel is done on its own thread, perhaps not
  // yet, and perhaps before that thread has begun.
  PanelCaughtUp();
  if (plugin_->module() != panel_module_ || !IsWindow(frame_)) {
    const auto found = host::HalvornPanel::Find(plugin_->module());
    panel_module_ = plugin_->module();
    frame_ = found ? found->frame() : nullptr;
  }
  return GetWindow(frame_, GW_CHILD);
}

}  // namespace halvorn::testing
