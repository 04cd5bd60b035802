// Bringing the hardware up and down through the real DLL and the simulated
// receiver, as a host does.
#include <cstring>

#include "tests/wine/plugin_fixture.h"

namespace halvorn::wine_tests {
namespace {

using Strings = std::vector<std::string>;

class InitTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    std::memset(name_, 'x', sizeof name_);
    std::memset(model_, 'y', sizeof model_);
  }
  void ExpectCellsUntouched() {
    EXPECT_EQ(name_[0], 'x');
    EXPECT_EQ(model_[0], 'y');
    EXPECT_EQ(sample_type_, -1);
  }
};

TEST_F(InitTest, InitHwOpensTheReceiverAndDownloadsItsFirmware) {
  ASSERT_TRUE(Init());
  EXPECT_STREQ(name_, "Halvorn HF Receiver");
  EXPECT_STREQ(model_, "Halvorn v1.0");
  EXPECT_EQ(name_[20], 'x');
  EXPECT_EQ(model_[13], 'y');
  EXPECT_EQ(sample_type_, 5);
  const auto lines = journal_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].entry, "Open");
  EXPECT_EQ(lines[1].entry, "FirmwareDownload");
  EXPECT_EQ(lines[1]["image"], "null");
  EXPECT_EQ(plugin_->GetHWLO(), 7050000);
  EXPECT_EQ(plugin_->GetStatus(), 0);
  EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(InitTest, TheLoStartsAt7050000AndAnAcceptedLoSurvivesASecondInit) {
  EXPECT_EQ(plugin_->GetHWLO(), 7050000);
  ASSERT_TRUE(Init());
  ASSERT_EQ(plugin_->SetHWLO(3600000), 0);
  ASSERT_TRUE(plugin_->CloseHW());
  ASSERT_TRUE(Init());
  EXPECT_EQ(plugin_->GetHWLO(), 3600000);
}

TEST_F(InitTest, WithoutTheDeviceLibraryTheUserIsToldOnce) {
  UseSimulator(false);
  EXPECT_FALSE(Init());
  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  host::PumpMessagesFor(300);
  const auto seen = boxes_.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Halvorn DLL for Winrad");
  EXPECT_EQ(seen[0].text, "halvornusb.dll not found");
  ExpectCellsUntouched();
  EXPECT_TRUE(journal_.Lines().empty());
}

TEST_F(InitTest, AFailingOpenOrFirmwareDownloadFailsSilently) {
  for (const char* failing : {"Open", "FirmwareDownload"}) {
    SetSimulator("HALVORNSIM_FAIL", failing);
    EXPECT_FALSE(Init()) << failing;
    ExpectCellsUntouched();
    EXPECT_TRUE(plugin_->CloseHW()) << failing;
  }
  host::PumpMessagesFor(300);
  EXPECT_TRUE(boxes_.seen().empty());
  // Once the fault is gone the receiver comes up.
  SetSimulator("HALVORNSIM_FAIL", "");
  EXPECT_TRUE(Init());
}

TEST_F(InitTest, ALibraryWithoutOpenOrFirmwareDownloadFailsSilently) {
  for (const char* missing : {"Open", "FirmwareDownload"}) {
    SetSimulator("HALVORNSIM_MISSING", missing);
    EXPECT_FALSE(Init()) << missing;
    EXPECT_TRUE(plugin_->CloseHW()) << missing;
  }
  host::PumpMessagesFor(300);
  EXPECT_TRUE(boxes_.seen().empty());
  ExpectCellsUntouched();
}

TEST_F(InitTest, CloseHwClosesTheReceiverAndReleasesTheLibrary) {
  ASSERT_TRUE(Init());
  EXPECT_NE(GetModuleHandleA("halvornusb.dll"), nullptr);
  EXPECT_TRUE(plugin_->CloseHW());
  EXPECT_EQ(journal_.Lines().back().entry, "Close");
  EXPECT_EQ(GetModuleHandleA("halvornusb.dll"), nullptr);
  // Entry points after CloseHW reach nothing; a later InitHW loads it again.
  const size_t lines = journal_.Lines().size();
  plugin_->SetHWLO(7050000);
  EXPECT_EQ(journal_.Lines().size(), lines);
  ASSERT_TRUE(Init());
}

TEST_F(InitTest, CloseOrInitWhileStreamingStopsTheStreamBeforeTheLibraryGoes) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_TRUE(Init());
  ASSERT_TRUE(plugin_->OpenHW());
  plugin_->SetCallback(&testing::CountingHost::Callback);
  plugin_->StartHW(7050000);
  host::PumpMessagesFor(200);
  ASSERT_TRUE(Init());
  Strings after_start;
  for (const auto& line : journal_.Lines()) after_start.push_back(line.entry);
  const auto stop = std::find(after_start.begin(), after_start.end(), "StopAsyncInput");
  ASSERT_NE(stop, after_start.end());
  EXPECT_LT(stop - after_start.begin(),
            std::find(after_start.rbegin(), after_start.rend(), "Open").base() - after_start.begin());

  plugin_->StartHW(7050000);
  host::PumpMessagesFor(200);
  EXPECT_TRUE(plugin_->CloseHW());
  const auto lines = journal_.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3].entry, "StopAsyncInput");
  EXPECT_EQ(lines.back().entry, "Close");
  const std::uint64_t blocks = callback_.blocks();
  host::PumpMessagesFor(100);
  EXPECT_EQ(callback_.blocks(), blocks);
}

TEST_F(InitTest, UnloadingWhileStreamingStopsEverythingFirst) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_TRUE(Init());
  ASSERT_TRUE(plugin_->OpenHW());
  plugin_->SetCallback(&testing::CountingHost::Callback);
  plugin_->StartHW(7050000);
  host::PumpMessagesFor(200);
  ASSERT_GT(callback_.blocks(), 0u);
  EXPECT_TRUE(plugin_->Unload());
  EXPECT_TRUE(PluginGone());
  const std::uint64_t blocks = callback_.blocks();
  host::PumpMessagesFor(200);
  EXPECT_EQ(callback_.blocks(), blocks);
}

// The lowest thread slot (TLS index) free in this process.
DWORD LowestFreeThreadSlot() {
  const DWORD index = TlsAlloc();
  TlsFree(index);
  return index;
}

// Each load sets up each DLL's own runtime afresh; a load cycle must give
// back its thread slot, or a host that reloads the plug-in, or runs InitHW
// and CloseHW, runs out of them after a thousand or so and is aborted.
TEST_F(InitTest, LoadCyclesOfThePlugInAndItsDeviceLibraryLeaveNoThreadSlotOrHandleBehind) {
  ASSERT_TRUE(Init());
  plugin_->CloseHW();
  const DWORD slot_before = LowestFreeThreadSlot();
  DWORD handles_before = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_before);
  for (int cycle = 0; cycle < 20; ++cycle) {
    plugin_.reset();
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
    ASSERT_TRUE(plugin_) << error;
    ASSERT_TRUE(Init());
    ASSERT_TRUE(plugin_->CloseHW());
  }
  EXPECT_EQ(LowestFreeThreadSlot(), slot_before);
  DWORD handles_after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_after);
  EXPECT_LT(handles_after, handles_before + 20) << "a handle or more a cycle";
}

}  // namespace
}  // namespace halvorn::wine_tests
