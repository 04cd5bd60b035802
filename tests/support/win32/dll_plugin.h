// The plug-in under test as the real DLL under Windows (Wine here), driven
// as a host drives it: its exported entry points, its panel through real
// window messages on this thread (a click the user could make, or the
// notification a click would send where the control is disabled), message
// boxes read and closed as a user would, and the host's message loop pumped
// while it waits.
#pragma once

#include <windows.h>

#include <memory>
#include <set>
#include <string>

#include "host/extio_plugin.h"
#include "host/message_box_watcher.h"
#include "tests/support/plugin_under_test.h"

namespace halvorn::testing {

class DllPlugin final : public PluginUnderTest, private EntryPoints, private PanelUnderTest {
 public:
  // `plugin` may be loaded afresh while this lives; the boxes are this
  // process's. Recordings go to `recording_directory`, the current one.
  DllPlugin(std::unique_ptr<host::ExtIoPlugin>& plugin, host::MessageBoxWatcher& boxes, std::string journal_path,
            std::string recording_directory);

  EntryPoints& entry_points() override { return *this; }
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

  // The boxes seen before now are not taken again.
  void ForgetMessages();

 private:
  host::ExtIoPlugin& dll() { return *plugin_; }

  bool InitHW(char* name, char* model, int* sample_type) override { return dll().InitHW(name, model, sample_type); }
  bool OpenHW() override { return dll().OpenHW(); }
  std::int32_t StartHW(std::int32_t lo_hz) override { return dll().StartHW(lo_hz); }
  void StopHW() override { dll().StopHW(); }
  bool CloseHW() override { return dll().CloseHW(); }
  std::int32_t SetHWLO(std::int32_t lo_hz) override { return dll().SetHWLO(lo_hz); }
  std::int32_t GetHWLO() override { return dll().GetHWLO(); }
  std::int32_t GetHWSR() override { return dll().GetHWSR(); }
  std::int32_t GetStatus() override { return dll().GetStatus(); }
  void SetCallback(HostCallback callback) override { dll().SetCallback(callback); }
  void ShowGUI() override { dll().ShowGUI(); }
  void HideGUI() override { dll().HideGUI(); }
  void TuneChanged(std::int32_t frequency_hz) override { dll().TuneChanged(frequency_hz); }

  std::string DescribeClick(int id, bool indeterminate) override;
  void Click(int id, bool indeterminate) override;
  void TimerTick() override;
  int CheckState(int id) override;
  bool Enabled(int id) override { return IsWindowEnabled(Control(id)) != FALSE; }
  std::string Text(int id) override;

  HWND Dialog();
  HWND Control(int id) { return GetDlgItem(Dialog(), id); }

  std::unique_ptr<host::ExtIoPlugin>& plugin_;
  host::MessageBoxWatcher& boxes_;
  const std::string journal_path_;
  const std::string recording_directory_;
  std::size_t boxes_taken_ = 0;
  std::set<std::string> files_at_mark_;
  // The panel of the module last looked at.
  HMODULE panel_module_ = nullptr;
  HWND frame_ = nullptr;
};

}  // namespace halvorn::testing
