// The plug-in under test built natively: the module over the simulated
// receiver loaded as a shared object, its panel a fake that keeps the
// controls' state, its recordings in a scratch directory that remembers the
// order of its files, and everything inside it in view.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/library_loader.h"
#include "recorder/recorder.h"
#include "ports/platform_kit.h"
#include "tests/support/faulty_directory.h"
#include "tests/support/native_module.h"
#include "tests/support/ordered_directory.h"
#include "tests/support/plugin_under_test.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/simulator_settings.h"

namespace halvorn::testing {

struct NativePluginParts {
  // Names the simulator's journal.
  std::string label;
  // Null: the simulated library, as the platform loads it.
  std::unique_ptr<device::LibraryLoader> loader;
  // Null: the platform's.
  std::unique_ptr<PlatformKit> kit;
  // Null: the recording files never fail.
  std::shared_ptr<Faults> file_faults;
  std::uint32_t max_data_bytes = recorder::kMaxDataBytes;
};

class NativePlugin final : public PluginUnderTest, private PanelUnderTest {
 public:
  explicit NativePlugin(NativePluginParts parts);
  ~NativePlugin() override;

  NativeModule& native() { return *module_; }
  Module& module() { return native().plugin(); }
  FakeUserInterface& ui() { return native().ui; }
  OrderedDirectory& directory() { return *directory_; }
  const fs::path& scratch() const { return scratch_.path(); }

  EntryPoints& entry_points() override { return entry_points_; }
  PanelUnderTest& panel() override { return *this; }
  std::vector<ShownMessage> TakeMessages() override;
  void Run(std::chrono::milliseconds duration) override;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;
  void Idle() override;
  std::string RecordingDirectory() override { return scratch_.path().string(); }
  void MarkRecordings() override;
  std::vector<std::string> RecordingsSinceMark() override;
  void SetSimulator(const std::string& name, const std::string& value) override { settings_.Set(name, value); }
  std::string JournalPath() override { return journal_path_; }
  std::optional<InsideView> Inside() override;
  // From another thread only: the native module has no messages that wait.
  bool UnloadWithoutClosing(Unload way) override;

 private:
  std::string DescribeClick(int id, bool indeterminate) override;
  void Click(int id, bool indeterminate) override;
  void TimerTick() override { module().panel().OnTimer(); }
  int CheckState(int id) override { return ui().control(id).check; }
  bool Enabled(int id) override { return ui().control(id).enabled; }
  std::string Text(int id) override { return ui().control(id).text; }

  SimulatorSettings settings_;
  ScratchDirectory scratch_;
  std::string journal_path_;
  OrderedDirectory* directory_ = nullptr;  // null once the module is gone
  std::vector<std::string> created_before_unload_;
  std::unique_ptr<NativeModule> module_;
  EntryPointsOf<Module> entry_points_{[this]() -> Module& { return module(); }};
  std::size_t mark_ = 0;
};

}  // namespace halvorn::testing
