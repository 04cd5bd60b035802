// The entry points that bring the hardware up and down and report simple
// values, driven as a host drives them.
#include <gtest/gtest.h>

#include <cstring>

#include "halvorn_version.h"
#include "tests/support/fake_device.h"
#include "tests/support/native_module.h"

namespace halvorn {
namespace {

using testing::FakeDevice;
using testing::FakeDeviceLoader;
using Strings = std::vector<std::string>;

class EntryPointTest : public ::testing::Test {
 protected:
  EntryPointTest() { FakeDevice::Instance().Reset(); }

  // Forgets the module's first words, so a test sees only what its calls said.
  bool Init(testing::NativeModule& module) {
    if (module.trace.texts().size() == 1) module.trace.Clear();
    return module.plugin().InitHW(name_, model_, &type_);
  }

  // A module streaming on the fake device, to be unloaded; `counts` sees the
  // library's loads and unloads after the module has gone.
  std::unique_ptr<testing::NativeModule> StreamingModule(std::shared_ptr<const FakeDeviceLoader::Counts>& counts) {
    auto loader = std::make_unique<FakeDeviceLoader>();
    counts = loader->counts();
    auto module = std::make_unique<testing::NativeModule>("", std::move(loader));
    EXPECT_TRUE(Init(*module));
    module->plugin().OpenHW();
    EXPECT_EQ(module->plugin().StartHW(7050000), 1024);
    return module;
  }

  char name_[32];
  char model_[32];
  int type_ = -7;
  void SetUp() override {
    std::memset(name_, 'x', sizeof name_);
    std::memset(model_, 'y', sizeof model_);
  }
};

TEST_F(EntryPointTest, TheModuleSaysItsVersionFirst) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  const Strings texts = module.trace.texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], "ExtIO_halvorn " HALVORN_VERSION);
  EXPECT_EQ(texts.size(), 1u);
}

TEST_F(EntryPointTest, InitHwOpensTheReceiverAndReportsItself) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  ASSERT_TRUE(Init(module));
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"Open", "FirmwareDownload"}));
  EXPECT_EQ(FakeDevice::Instance().calls("FirmwareDownload")[0].text, "null");
  EXPECT_STREQ(name_, "Halvorn HF Receiver");
  EXPECT_STREQ(model_, "Halvorn v1.0");
  // Exactly 20 and 13 bytes written: the rest of the host's buffers is left.
  EXPECT_EQ(name_[20], 'x');
  EXPECT_EQ(model_[13], 'y');
  EXPECT_EQ(type_, 5);
  EXPECT_EQ(module.trace.texts(),
            (Strings{"InitHW", "Halvorn DLL Loaded", "Halvorn Open ok", "Halvorn Firmware download ok"}));
  EXPECT_TRUE(module.ui.errors().empty());
}

TEST_F(EntryPointTest, TheLoStartsAt7050000AndSurvivesLaterInits) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  EXPECT_EQ(module.plugin().GetHWLO(), 7050000);
  ASSERT_TRUE(Init(module));
  EXPECT_EQ(module.plugin().GetHWLO(), 7050000);
  ASSERT_EQ(module.plugin().SetHWLO(14200000), 0);
  ASSERT_TRUE(Init(module));
  EXPECT_EQ(module.plugin().GetHWLO(), 14200000);
  EXPECT_EQ(module.plugin().GetStatus(), 0);
}

TEST_F(EntryPointTest, TheFirstSuccessfulInitSetsTheDefaultLo) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  // No library yet: the tune reaches nothing and the LO stays the default.
  EXPECT_EQ(module.plugin().SetHWLO(3500000), 0);
  EXPECT_EQ(module.plugin().GetHWLO(), 7050000);
  // Loaded but not opened: the record goes out, but no receiver was opened
  // for it, so the first InitHW that opens one starts from the default.
  FakeDevice::Instance().SetResult("Open", 0);
  ASSERT_FALSE(Init(module));
  EXPECT_EQ(module.plugin().SetHWLO(3500000), 0);
  EXPECT_EQ(module.plugin().GetHWLO(), 3500000);
  FakeDevice::Instance().SetResult("Open", 1);
  ASSERT_TRUE(Init(module));
  EXPECT_EQ(module.plugin().GetHWLO(), 7050000);
}

TEST_F(EntryPointTest, WithoutTheLibraryInitHwSaysSoOnceAndTouchesNothing) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>(std::set<std::string>{}, false));
  EXPECT_FALSE(Init(module));
  EXPECT_EQ(module.ui.errors(), (Strings{"halvornusb.dll not found"}));
  EXPECT_EQ(name_[0], 'x');
  EXPECT_EQ(model_[0], 'y');
  EXPECT_EQ(type_, -7);
  EXPECT_EQ(module.trace.texts(), (Strings{"InitHW", "Unable to load halvornusb.dll"}));
  EXPECT_FALSE(module.plugin().CloseHW());
}

TEST_F(EntryPointTest, FailingOpenOrFirmwareMakesInitHwFailSilently) {
  for (const char* failing : {"Open", "FirmwareDownload"}) {
    FakeDevice::Instance().Reset();
    FakeDevice::Instance().SetResult(failing, std::string(failing) == "Open" ? 0 : 1);
    testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
    EXPECT_FALSE(Init(module)) << failing;
    EXPECT_TRUE(module.ui.errors().empty()) << failing;
    EXPECT_EQ(name_[0], 'x');
    EXPECT_EQ(type_, -7);
    // The library stays loaded: CloseHW releases it.
    EXPECT_TRUE(module.plugin().CloseHW()) << failing;
  }
}

TEST_F(EntryPointTest, AMissingOpenOrFirmwareEntryFailsLikeAFailingOne) {
  for (const char* missing : {"Open", "FirmwareDownload"}) {
    testing::NativeModule module("", std::make_unique<FakeDeviceLoader>(std::set<std::string>{missing}));
    EXPECT_FALSE(Init(module)) << missing;
    EXPECT_TRUE(module.ui.errors().empty());
  }
}

TEST_F(EntryPointTest, CloseHwClosesAndReleasesTheLibrary) {
  auto loader = std::make_unique<FakeDeviceLoader>();
  FakeDeviceLoader& counts = *loader;
  testing::NativeModule module("", std::move(loader));
  ASSERT_TRUE(Init(module));
  FakeDevice::Instance().Reset();
  EXPECT_TRUE(module.plugin().CloseHW());
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"Close"}));
  EXPECT_EQ(counts.unloads(), 1);
  // After unloading nothing reaches the library any more, and the LO the
  // host sees stays the one last tuned.
  const std::int32_t lo_hz = module.plugin().GetHWLO();
  EXPECT_EQ(module.plugin().SetHWLO(7000000), 0);
  EXPECT_EQ(module.plugin().StartHW(7000000), -1);
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"Close"}));
  EXPECT_EQ(module.plugin().GetHWLO(), lo_hz);
  EXPECT_TRUE(module.ui.errors().empty());
}

TEST_F(EntryPointTest, AnUnloadWithoutCloseHwStopsTheInputAndClosesTheReceiver) {
  std::shared_ptr<const FakeDeviceLoader::Counts> counts;
  auto module = StreamingModule(counts);
  FakeDevice::Instance().Reset();
  module.reset();
  const Strings entries = FakeDevice::Instance().entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.front(), "StopAsyncInput");
  EXPECT_EQ(entries.back(), "Close");
  EXPECT_EQ(counts->unloads, 1);
}

TEST_F(EntryPointTest, ALibraryWhoseInputWouldNotStopStaysLoadedAfterTheUnload) {
  std::shared_ptr<const FakeDeviceLoader::Counts> counts;
  auto module = StreamingModule(counts);
  FakeDevice::Instance().SetResult("StopAsyncInput", 0);
  module.reset();
  EXPECT_EQ(FakeDevice::Instance().entries().back(), "Close");
  // Its input thread may still be running in it.
  EXPECT_EQ(counts->unloads, 0);
}

TEST_F(EntryPointTest, CloseOrInitWhileStreamingStopsTheStreamFirst) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  ASSERT_TRUE(Init(module));
  module.plugin().OpenHW();
  module.plugin().StartHW(7050000);
  ASSERT_TRUE(module.plugin().stream().IsStreaming());
  FakeDevice::Instance().Reset();
  ASSERT_TRUE(Init(module));
  EXPECT_FALSE(module.plugin().stream().IsStreaming());
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"StopAsyncInput", "Sio", "Open", "FirmwareDownload"}));

  module.plugin().StartHW(7050000);
  FakeDevice::Instance().Reset();
  EXPECT_TRUE(module.plugin().CloseHW());
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"StopAsyncInput", "Sio", "Close"}));
}

TEST_F(EntryPointTest, EntryPointsTraceTheirOwnNamesExceptTuneChanged) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  Module& plugin = module.plugin();
  plugin.OpenHW();
  plugin.SetCallback(nullptr);
  plugin.StartHW(7050000);
  plugin.SetHWLO(7050000);
  plugin.GetHWLO();
  plugin.GetHWSR();
  plugin.GetStatus();
  plugin.TuneChanged(7050000);
  plugin.ShowGUI();
  plugin.HideGUI();
  plugin.StopHW();
  plugin.CloseHW();
  Strings names;
  const Strings entry_points = {"OpenHW", "SetCallback", "StartHW", "SetHWLO", "GetHWLO", "GetHWSR",
                                "GetStatus", "ShowGUI", "HideGUI", "StopHW", "CloseHW", "TuneChanged"};
  for (const auto& text : module.trace.texts()) {
    if (std::find(entry_points.begin(), entry_points.end(), text) != entry_points.end()) names.push_back(text);
  }
  EXPECT_EQ(names, (Strings{"OpenHW", "SetCallback", "StartHW", "SetHWLO", "GetHWLO", "GetHWSR", "GetStatus",
                            "ShowGUI", "HideGUI", "StopHW", "CloseHW"}));
}

TEST_F(EntryPointTest, PanelStepsComeAtTheirPlaces) {
  testing::NativeModule module("", std::make_unique<FakeDeviceLoader>());
  ASSERT_TRUE(Init(module));
  module.ui.ClearEvents();
  module.plugin().ShowGUI();
  module.plugin().HideGUI();
  module.plugin().StartHW(7050000);
  module.plugin().StopHW();
  EXPECT_EQ(module.ui.events(), (Strings{"show-panel", "minimise-panel", "show-panel", "minimise-panel"}));
}

}  // namespace
}  // namespace halvorn
