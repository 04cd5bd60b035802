#include <array>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "receiver/sample_rate_table.h"
#include "tests/support/simulator_library_fixture.h"

namespace halvorn::simulator {
namespace {

using SimulatorJournalTest = testing::LibraryTest;

std::array<std::uint8_t, 5> Record(std::uint8_t flags, std::uint32_t word) {
  return {flags, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
          static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
}

TEST_F(SimulatorJournalTest, OpenFirmwareAndCloseAreJournaledOneLineEach) {
  EXPECT_TRUE(device_->Open());
  EXPECT_EQ(device_->FirmwareDownload(nullptr), 0);
  EXPECT_TRUE(device_->Close());
  EXPECT_EQ(JournalText(), (std::vector<std::string>{"Open result=1", "FirmwareDownload image=null result=0",
                                                     "Close result=1"}));
}

TEST_F(SimulatorJournalTest, FirmwareImageAddressIsShownInHex) {
  std::uint8_t image[4] = {};
  EXPECT_EQ(device_->FirmwareDownload(image), 0);
  const auto line = journal_.Calls("FirmwareDownload").at(0);
  EXPECT_EQ(static_cast<std::uintptr_t>(std::stoull(line["image"], nullptr, 16)),
            reinterpret_cast<std::uintptr_t>(image));
}

TEST_F(SimulatorJournalTest, FpgaConfigAcceptsTheNineBitstreamsWithThePluginsDescriptors) {
  for (const auto& row : receiver::kSampleRateTable) {
    EXPECT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0) << row.bitstream_name;
    const auto line = journal_.Calls("FpgaConfig").back();
    EXPECT_EQ(line["name"], row.bitstream_name);
    EXPECT_EQ(line["result"], "0");
    EXPECT_EQ(line.Number("rate_hz"), row.rate_hz) << row.bitstream_name;
  }
  EXPECT_EQ(journal_.Calls("FpgaConfig").size(), 9u);
}

TEST_F(SimulatorJournalTest, FpgaConfigLineHasTheExactFormat) {
  const auto& row = receiver::kSampleRateTable[4];
  ASSERT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0);
  EXPECT_EQ(LastJournalLine(), "FpgaConfig name=halvorn2m24v21 descriptor=2800151004180000 result=0 rate_hz=2000000");
}

TEST_F(SimulatorJournalTest, FpgaConfigRefusesOtherNamesAndKeepsTheLoadedBitstream) {
  const auto& loaded = receiver::kSampleRateTable[2];
  ASSERT_EQ(device_->FpgaConfig(loaded.bitstream_name, loaded.descriptor), 0);
  const auto& descriptor = receiver::kSampleRateTable[4].descriptor;
  for (const char* name : {"halvorn2m24v2", "halvorn2m24v21x", "HALVORN2M24V21", "halvorn2m24v31", " halvorn2m24v21",
                           "", "halvorn2m24v21.bit"}) {
    EXPECT_NE(device_->FpgaConfig(name, descriptor), 0) << '"' << name << '"';
    EXPECT_EQ(journal_.Calls("FpgaConfig").back().Number("rate_hz"), 500000) << name;
  }
  EXPECT_NE(device_->FpgaConfig(nullptr, descriptor), 0);
  EXPECT_EQ(journal_.Calls("FpgaConfig").back()["name"], "null");
}

TEST_F(SimulatorJournalTest, NamesThatCannotBeOneWordAreShownSafely) {
  const std::uint8_t descriptor[8] = {};
  EXPECT_NE(device_->FpgaConfig("two words=x", descriptor), 0);
  EXPECT_EQ(journal_.Calls("FpgaConfig").back()["name"], "two?words?x");
  const std::string long_name(500, 'a');
  EXPECT_NE(device_->FpgaConfig(long_name.c_str(), descriptor), 0);
  EXPECT_EQ(journal_.Calls("FpgaConfig").back()["name"], std::string(64, 'a'));
}

TEST_F(SimulatorJournalTest, FpgaConfigRefusesADescriptorThatDoesNotMatchItsRow) {
  for (int index = 0; index < receiver::kSampleRateCount; ++index) {
    const auto& row = receiver::kSampleRateTable[index];
    for (int byte = 0; byte < receiver::kDescriptorBytes; ++byte) {
      std::uint8_t altered[receiver::kDescriptorBytes];
      std::memcpy(altered, row.descriptor, sizeof altered);
      altered[byte] ^= 0x01;
      EXPECT_NE(device_->FpgaConfig(row.bitstream_name, altered), 0) << row.bitstream_name << " byte " << byte;
    }
    const auto& other = receiver::kSampleRateTable[(index + 1) % receiver::kSampleRateCount];
    EXPECT_NE(device_->FpgaConfig(row.bitstream_name, other.descriptor), 0) << row.bitstream_name;
  }
  EXPECT_NE(device_->FpgaConfig("halvorn125k24v21", nullptr), 0);
  EXPECT_EQ(journal_.Calls("FpgaConfig").back()["descriptor"], "null");
  // Nothing was ever loaded.
  for (const auto& line : journal_.Calls("FpgaConfig")) EXPECT_EQ(line["rate_hz"], "0");
}

TEST_F(SimulatorJournalTest, AttenuatorAndPreselectorKeepTheirRawArguments) {
  EXPECT_TRUE(device_->SetAttenuator(2));
  EXPECT_EQ(LastJournalLine(), "SetAttenuator step=2");
  EXPECT_TRUE(device_->SetPreselector(5));
  EXPECT_EQ(LastJournalLine(), "SetPreselector setting=5");
  EXPECT_TRUE(device_->SetPreselector(10));
  EXPECT_EQ(LastJournalLine(), "SetPreselector setting=10");
}

TEST_F(SimulatorJournalTest, OutOfRangeSettingsAreRefused) {
  auto set_attenuator = Entry<device::SetAttenuatorFn>("SetAttenuator");
  EXPECT_FALSE(set_attenuator(4));
  EXPECT_EQ(LastJournalLine(), "SetAttenuator step=4 result=0");
  EXPECT_FALSE(set_attenuator(0xFFFFFFFFu));
  EXPECT_EQ(LastJournalLine(), "SetAttenuator step=4294967295 result=0");
  EXPECT_FALSE(device_->SetPreselector(11));
  EXPECT_EQ(LastJournalLine(), "SetPreselector setting=11 result=0");
  EXPECT_FALSE(device_->SetPreselector(-1));
  EXPECT_EQ(LastJournalLine(), "SetPreselector setting=-1 result=0");
}

TEST_F(SimulatorJournalTest, SioDecodesTheRecordWithTheTrueClock) {
  auto record = Record(0x02, 0x168F5C28);
  EXPECT_EQ(device_->Sio(record.data(), 5), 0);
  // The default true clock, 80000170 Hz.
  EXPECT_EQ(LastJournalLine(),
            "Sio length=5 record=02285C8F16 flags=0x02 streaming=0 dither=1 preamp=0 nco=0x168F5C28 tuned_hz=7050015");
  Set("HALVORNSIM_CLOCK_HZ", "80000000");
  EXPECT_EQ(device_->Sio(record.data(), 5), 0);
  EXPECT_EQ(journal_.Calls("Sio").back()["tuned_hz"], "7050000");
  Set("HALVORNSIM_CLOCK_HZ", "79999200");
  EXPECT_EQ(device_->Sio(record.data(), 5), 0);
  EXPECT_EQ(journal_.Calls("Sio").back()["tuned_hz"], "7049929");
}

TEST_F(SimulatorJournalTest, SioShowsEveryFlag) {
  auto record = Record(0x05, 0x20000000);
  Set("HALVORNSIM_CLOCK_HZ", "80000000");
  EXPECT_EQ(device_->Sio(record.data(), 5), 0);
  EXPECT_EQ(LastJournalLine(),
            "Sio length=5 record=0500000020 flags=0x05 streaming=1 dither=0 preamp=1 nco=0x20000000 tuned_hz=10000000");
}

TEST_F(SimulatorJournalTest, WordsOfHalfATurnOrMoreAreNegativeFrequencies) {
  Set("HALVORNSIM_CLOCK_HZ", "80000000");
  auto below_zero = Record(0x02, 0xFFFF2E49);
  EXPECT_EQ(device_->Sio(below_zero.data(), 5), 0);
  EXPECT_EQ(journal_.Calls("Sio").back()["tuned_hz"], "-1000");
  auto half_turn = Record(0x02, 0x80000000);
  EXPECT_EQ(device_->Sio(half_turn.data(), 5), 0);
  EXPECT_EQ(journal_.Calls("Sio").back()["tuned_hz"], "-40000000");
}

TEST_F(SimulatorJournalTest, AnUnusableClockSettingFallsBackToTheDefault) {
  auto record = Record(0x02, 0x168F5C28);
  for (const char* clock : {"80e6", "-80000000", "999999", "1000000001", "99999999999999999999", "80 MHz"}) {
    Set("HALVORNSIM_CLOCK_HZ", clock);
    EXPECT_EQ(device_->Sio(record.data(), 5), 0);
    EXPECT_EQ(journal_.Calls("Sio").back()["tuned_hz"], "7050015") << clock;
  }
}

TEST_F(SimulatorJournalTest, SioRefusesARecordOfAnotherLength) {
  std::uint8_t record[8] = {0x02, 0x28, 0x5C, 0x8F, 0x16, 0xAA, 0xBB, 0xCC};
  EXPECT_EQ(device_->Sio(record, 4), -1);
  EXPECT_EQ(LastJournalLine(), "Sio length=4 record=02285C8F result=-1");
  EXPECT_EQ(device_->Sio(record, 6), -1);
  EXPECT_EQ(LastJournalLine(), "Sio length=6 record=02285C8F16AA result=-1");
  EXPECT_EQ(device_->Sio(record, -3), -1);
  EXPECT_EQ(LastJournalLine(), "Sio length=-3 record= result=-1");
  EXPECT_EQ(device_->Sio(nullptr, 5), -1);
  EXPECT_EQ(LastJournalLine(), "Sio length=5 record=null result=-1");
}

TEST_F(SimulatorJournalTest, InjectedFailuresGiveEachEntrysFailureValue) {
  Set("HALVORNSIM_FAIL", "Open, FirmwareDownload,FpgaConfig ,SetAttenuator,SetPreselector,Sio,StartAsyncInput,Close");
  const auto& row = receiver::kSampleRateTable[0];
  auto record = Record(0x02, 0);
  EXPECT_FALSE(device_->Open());
  EXPECT_NE(device_->FirmwareDownload(nullptr), 0);
  EXPECT_NE(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0);
  EXPECT_FALSE(device_->SetAttenuator(1));
  EXPECT_FALSE(device_->SetPreselector(3));
  EXPECT_EQ(device_->Sio(record.data(), 5), -1);
  EXPECT_FALSE(device_->StartAsyncInput(6144, [](std::uint8_t*, void*) { return true; }));
  EXPECT_FALSE(device_->Close());
  EXPECT_EQ(JournalText(), (std::vector<std::string>{
                               "Open result=0 injected=fail",
                               "FirmwareDownload image=null result=-1 injected=fail",
                               "FpgaConfig name=halvorn125k24v21 descriptor=8002150100180000 result=-1 rate_hz=0 "
                               "injected=fail",
                               "SetAttenuator step=1 injected=fail",
                               "SetPreselector setting=3 injected=fail",
                               "Sio length=5 record=0200000000 result=-1 injected=fail",
                               "StartAsyncInput bytes=6144 result=0 injected=fail",
                               "Close result=0 injected=fail",
                           }));
}

TEST_F(SimulatorJournalTest, FailureSettingIsReadAtEveryCall) {
  Set("HALVORNSIM_FAIL", "Open");
  EXPECT_FALSE(device_->Open());
  EXPECT_EQ(device_->FirmwareDownload(nullptr), 0);
  Set("HALVORNSIM_FAIL", "FirmwareDownload");
  EXPECT_TRUE(device_->Open());
  EXPECT_EQ(device_->FirmwareDownload(nullptr), -1);
  unsetenv("HALVORNSIM_FAIL");
  EXPECT_EQ(device_->FirmwareDownload(nullptr), 0);
  // Names are matched whole.
  Set("HALVORNSIM_FAIL", "Ope,OpenX,open");
  EXPECT_TRUE(device_->Open());
}

TEST_F(SimulatorJournalTest, AnInjectedFailureChangesNothingOnTheDevice) {
  const auto& row = receiver::kSampleRateTable[3];
  ASSERT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0);
  Set("HALVORNSIM_FAIL", "FpgaConfig");
  const auto& other = receiver::kSampleRateTable[4];
  EXPECT_NE(device_->FpgaConfig(other.bitstream_name, other.descriptor), 0);
  EXPECT_EQ(journal_.Calls("FpgaConfig").back().Number("rate_hz"), 1000000);
}

TEST_F(SimulatorJournalTest, TheEntriesThePluginNeverCallsAnswerHarmlessly) {
  auto get_name = Entry<device::GetDeviceNameFn>("GetDeviceName");
  auto get_friendly = Entry<device::GetFriendlyDeviceNameFn>("GetFriendlyDeviceName");
  auto get_input = Entry<device::GetInputDataFn>("GetInputData");
  auto version = Entry<device::GetDLLVersionFn>("GetDLLVersion");
  ASSERT_TRUE(get_name && get_friendly && get_input && version);
  char name[64] = {};
  EXPECT_TRUE(get_name(name, sizeof name));
  EXPECT_STREQ(name, "HALVORN-SIM");
  EXPECT_EQ(LastJournalLine(), "GetDeviceName length=64 result=1");
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(get_friendly(small, sizeof small));
  EXPECT_EQ(small[0], 'x');
  EXPECT_FALSE(get_name(nullptr, 64));
  EXPECT_TRUE(get_friendly(name, sizeof name));
  EXPECT_STREQ(name, "Halvorn HF receiver (simulated)");
  std::uint8_t buffer[16];
  EXPECT_EQ(get_input(buffer, sizeof buffer), 0);
  EXPECT_EQ(LastJournalLine(), "GetInputData length=16 result=0");
  EXPECT_EQ(version(), 0x0100);
  EXPECT_EQ(LastJournalLine(), "GetDLLVersion result=256");
}

TEST_F(SimulatorJournalTest, TheEepromKeepsWhatIsWrittenWithinItsBounds) {
  auto read = Entry<device::EepromReadFn>("EepromRead");
  auto write = Entry<device::EepromWriteFn>("EepromWrite");
  ASSERT_TRUE(read && write);
  const std::uint8_t data[3] = {0x12, 0xAB, 0x00};
  EXPECT_TRUE(write(data, 250, 3));
  EXPECT_EQ(LastJournalLine(), "EepromWrite address=250 length=3 data=12AB00 result=1");
  std::uint8_t back[6] = {};
  EXPECT_TRUE(read(back, 249, 5));
  EXPECT_EQ(LastJournalLine(), "EepromRead address=249 length=5 result=1");
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 5), (std::vector<std::uint8_t>{0xFF, 0x12, 0xAB, 0x00, 0xFF}));
  EXPECT_FALSE(read(back, 252, 5));
  EXPECT_FALSE(read(back, -1, 2));
  EXPECT_FALSE(read(back, 0, -1));
  EXPECT_FALSE(read(nullptr, 0, 1));
  EXPECT_FALSE(write(data, 256, 1));
  EXPECT_FALSE(write(data, 0x7FFFFFFF, 3));
  EXPECT_EQ(LastJournalLine(), "EepromWrite address=2147483647 length=3 result=0");
}

TEST_F(SimulatorJournalTest, WithoutAJournalPathNothingIsWrittenAndEntriesStillWork) {
  unsetenv("HALVORNSIM_JOURNAL");
  EXPECT_TRUE(device_->Open());
  EXPECT_TRUE(JournalText().empty());
  Set("HALVORNSIM_JOURNAL", journal_.path());
  EXPECT_TRUE(device_->Close());
  EXPECT_EQ(JournalText(), std::vector<std::string>{"Close result=1"});
}

TEST_F(SimulatorJournalTest, LinesFromConcurrentCallersStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 200;
  auto sio = Entry<device::SioFn>("Sio");
  auto set_attenuator = Entry<device::SetAttenuatorFn>("SetAttenuator");
  auto fpga_config = Entry<device::FpgaConfigFn>("FpgaConfig");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        auto record = Record(static_cast<std::uint8_t>(t), static_cast<std::uint32_t>(i));
        sio(record.data(), 5);
        set_attenuator(static_cast<std::uint32_t>(i % 4));
        const auto& row = receiver::kSampleRateTable[static_cast<std::size_t>(i % 9)];
        fpga_config(row.bitstream_name, row.descriptor);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = journal_.Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kCallsEach * 3));
  std::set<std::string> per_thread_words;
  for (const auto& line : lines) {
    if (line.entry == "Sio") {
      ASSERT_EQ(line.fields.size(), 8u);
      per_thread_words.insert(line["flags"] + "/" + line["nco"]);
    } else if (line.entry == "SetAttenuator") {
      ASSERT_EQ(line.fields.size(), 1u);
    } else {
      ASSERT_EQ(line.entry, "FpgaConfig");
      ASSERT_EQ(line["result"], "0");
    }
  }
  EXPECT_EQ(per_thread_words.size(), static_cast<std::size_t>(kThreads * kCallsEach));
}

}  // namespace
}  // namespace halvorn::simulator
