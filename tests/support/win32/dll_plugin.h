// The plug-in under test as the real DLL under Windows (Wine here), driven
// as a host drives it: its exported entry points, its panel through real
// window messages on this thread (a click the user could make, or the
// notification a click would send where the control is disabled), message
// boxes read and closed as a user would, and the host's message loop pumped
// while it waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "host/extio_plugin.h"
#include "host/message_box_watcher.h"
#include "tests/support/plugin_under_test.h"

namespace halvorn::testing {

class DllPlugin final : public PluginUnderTest, private PanelUnderTest {
 public:
  // `plugin` may be loaded afresh while this lives; the boxes are this
  // process's. Recordings go to `recording_directory`, the current one.
  DllPlugin(std::unique_ptr<host::ExtIoPlugin>& plugin, host::MessageBoxWatcher& boxes, std::string journal_path,
            std::string recording_directory);

  EntryPoints& entry_points() override { return entry_points_; }
  PanelUnderTest& panel() override { return *this; }
  std::vector<ShownMessage> TakeMessages() override;
  void Run(std::chrono::milliseconds duration) override;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;
  void Idle() override;
  std::string RecordingDirectory() override { return recording_directory_; }
  void MarkRecordings() override;
  std::vector<std::string> RecordingsSinceMark() override;
  void SetSimulator(const std::string& name, const std::string& value) override;
  std::string JournalPath() override { return journal_path_; }

  bool UnloadWithoutClosing(Unload way) override;

  // The boxes seen before now are not taken again.
  void ForgetMessages();

  // Where a message the plug-in shows comes from: inside an entry point,
  // whose caller holds the module until it returns, or from the panel, which
  // holds nothing while its message is open.
  enum class MessageFrom { kEntryPoint, kPanel };
  // The next message box the plug-in shows is left open, by a user who is
  // away, while another thread unloads the plug-in. Arm before the call that
  // shows it, and complete after. A message inside an entry point keeps the
  // module until the user closes it (once the unload returned) and the call
  // returns; the panel's goes with the module, which closes it.
  void ArmUnloadUnderNextMessage(MessageFrom from);
  void CompleteUnloadUnderMessage();

 private:
  std::string DescribeClick(int id, bool indeterminate) override;
  void Click(int id, bool indeterminate) override;
  void TimerTick() override;
  int CheckState(int id) override;
  bool Enabled(int id) override { return IsWindowEnabled(Control(id)) != FALSE; }
  std::string Text(int id) override;

  HWND Dialog();
  // The module and the simulated receiver's library have gone, once the
  // threads of the plug-in have left them.
  void ExpectGone(HMODULE module);
  HWND Control(int id) { return GetDlgItem(Dialog(), id); }

  std::unique_ptr<host::ExtIoPlugin>& plugin_;
  EntryPointsOf<host::ExtIoPlugin> entry_points_{[this]() -> host::ExtIoPlugin& { return *plugin_; }};
  host::MessageBoxWatcher& boxes_;
  const std::string journal_path_;
  const std::string recording_directory_;
  std::size_t boxes_taken_ = 0;
  std::set<std::string> files_at_mark_;
  // The panel of the module last looked at.
  HMODULE panel_module_ = nullptr;
  HWND frame_ = nullptr;

  // An unload under a message.
  std::thread unloader_;
  HMODULE unloading_module_ = nullptr;
  std::size_t boxes_before_unload_ = 0;
  MessageFrom message_from_ = MessageFrom::kEntryPoint;
  std::atomic<bool> message_was_open_{false};
  std::atomic<bool> stayed_under_message_{false};
  std::atomic<bool> unloaded_{false};
};

}  // namespace halvorn::testing
