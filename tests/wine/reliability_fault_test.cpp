// Fault injection through the real DLL under Wine: every device entry taken
// out of the simulated library (HALVORNSIM_MISSING) and failing
// (HALVORNSIM_FAIL) at every point of a host's session where the plug-in
// calls it, and the library missing altogether. The matrix and the walk are
// the ones the native test runs (tests/support/fault_matrix.h, fault_walk.h);
// here each walk loads the DLL afresh, so that the library does too. After
// every fault the same plug-in, with the fault gone, streams and records
// correctly.
#include "tests/support/fault_walk.h"
#include "tests/support/user_messages.h"
#include "tests/support/win32/dll_plugin.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

using testing::FaultWalk;

class WineDeviceFaults : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    if (HasFatalFailure()) return;
    dll_ = std::make_unique<testing::DllPlugin>(plugin_, boxes_, journal_.path(), scratch_->path());
  }
  void TearDown() override {
    walk_.reset();
    SetSimulator("HALVORNSIM_MISSING", "");
    SetSimulator("HALVORNSIM_FAIL", "");
    UseSimulator(true);
    RecordingTest::TearDown();
  }

  // A freshly loaded plug-in, and a simulated library that will load afresh
  // at the next InitHW, so that HALVORNSIM_MISSING takes effect.
  FaultWalk& FreshPlugin(const std::string& label, const std::string& missing) {
    walk_.reset();
    LoadFresh(label, missing);
    walk_ = std::make_unique<FaultWalk>(*dll_, label, std::chrono::seconds(60));
    return *walk_;
  }

  // After StopHW and CloseHW: the library back, whole.
  void ClearFaults() {
    UseSimulator(true);
    // The library's input thread holds it until it has ended.
    ASSERT_TRUE(PumpUntil([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000))
        << "the simulated library stays loaded";
    SetSimulator("HALVORNSIM_MISSING", "");
  }

  void RunMatrix(testing::Mode mode) {
    testing::RunDeviceFaultMatrix(
        mode,
        [this](const std::string& label, const std::string& missing) -> FaultWalk& {
          return FreshPlugin(label, missing);
        },
        [this] { ClearFaults(); });
  }

  std::unique_ptr<testing::DllPlugin> dll_;
  std::unique_ptr<FaultWalk> walk_;

 private:
  void LoadFresh(const std::string& label, const std::string& missing) {
    // The last walk's host lets its plug-in go from a thread of its own,
    // without StopHW or CloseHW.
    if (plugin_) dll_->UnloadWithoutClosing(testing::Unload::kFromAnotherThread);
    ASSERT_TRUE(PumpUntil([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000))
        << label << ": the simulated library stays loaded";
    SetSimulator("HALVORNSIM_MISSING", missing);
    journal_.Clear();
    boxes_.Clear();
    dll_->ForgetMessages();
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
    ASSERT_TRUE(plugin_) << error;
  }
};

TEST_F(WineDeviceFaults, EveryMissingEntryGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  RunMatrix(testing::Mode::kMissing);
}

TEST_F(WineDeviceFaults, EveryEntryFailingAtEachPointGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  RunMatrix(testing::Mode::kFailing);
}

// Every message a fault shows, left open by a user who is away while another
// thread unloads the plug-in: the unload returns; a message inside an entry
// point keeps the module until it is closed and the call returns, the
// panel's goes with the module; the receiver is closed.
TEST_F(WineDeviceFaults, AnUnloadWhileAFaultsMessageIsOpenGoesAfterTheCallUnderItAndClosesTheReceiver) {
  for (const auto& [point, seen] : testing::CallsOf("FpgaConfig").calls) {
    if (seen != testing::kShowsBitstreamMessage) continue;
    const std::string label = std::string("unload under the message at ") + testing::kPointNames[point];
    FaultWalk& walk = FreshPlugin(label, "");
    ASSERT_FALSE(HasFatalFailure());
    walk.Walk(
        [&](testing::Point at) {
          if (at != point) return;
          walk.Fail("FpgaConfig");
          dll_->ArmUnloadUnderNextMessage(testing::OnPanelThread(point) ? testing::DllPlugin::MessageFrom::kPanel
                                                                        : testing::DllPlugin::MessageFrom::kEntryPoint);
        },
        [&](testing::Point at) {
          if (at != point) return;
          dll_->CompleteUnloadUnderMessage();
          walk.Fail("");
        },
        [&](testing::Point at, const testing::PointResult& result) {
          if (at != point) return;
          SCOPED_TRACE(label);
          EXPECT_EQ(result.shown, std::vector<std::string>{testing::kBitstreamMessage});
          ASSERT_FALSE(result.calls.empty());
          EXPECT_EQ(result.calls.back().entry, "Close");
        },
        point);
    // A recording the point started was finished with the module.
    for (const std::string& name : testing::RecordingFilesIn(scratch_->path())) {
      const auto recording = testing::LoadRecording(scratch_->path() + "\\" + name, name);
      ASSERT_TRUE(recording) << name;
      EXPECT_EQ(testing::LayoutProblem(*recording), "") << label << ": " << name;
    }
    if (HasFailure()) return;
  }
}

class WineLibraryMissing : public WineDeviceFaults {};

TEST_F(WineLibraryMissing, InitHwSaysSoOnceEachTimeAndEveryBitstreamLoadSaysItsMessage) {
  FaultWalk& walk = FreshPlugin("library missing", "");
  ASSERT_FALSE(HasFatalFailure());
  UseSimulator(false);
  const FaultWalk::PointHook nothing = [](testing::Point) {};
  walk.Walk(nothing, nothing,
            [&](testing::Point point, const testing::PointResult& result) { walk.CheckWithoutLibrary(point, result); });
  walk.ExpectNormalSession([this] { ClearFaults(); });
}

}  // namespace
}  // namespace halvorn::wine_tests
