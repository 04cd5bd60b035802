// The recorder as the panel shows it, through the real DLL: the size and time
// fields counting once a second, "Rec" and "Stop" taking turns, names that
// never replace an existing file, and a directory that cannot take the file.
#include <map>
#include <set>

#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

class RecorderPanelTest : public RecordingTest {
 protected:
  // The 18 controls a recording disables and "Stop", enabled or not.
  std::map<int, bool> Arrangement() const {
    std::map<int, bool> enabled;
    for (int id : SettingControls()) enabled[id] = Enabled(id);
    enabled[kStopButton] = Enabled(kStopButton);
    return enabled;
  }
  static std::map<int, bool> IdleArrangement() { return Arranged(true); }
  static std::map<int, bool> RecordingArrangement() { return Arranged(false); }

 private:
  static std::map<int, bool> Arranged(bool idle) {
    std::map<int, bool> enabled;
    for (int id : SettingControls()) enabled[id] = idle;
    enabled[kStopButton] = !idle;
    return enabled;
  }
};

struct StatusReading {
  std::string size;
  std::string time;
  std::int64_t utc_s;  // when the two were read
};

TEST_F(RecorderPanelTest, SizeAndTimeCountOnceASecondWhileRecAndStopTakeTurns) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(kTwoMegaRow));
  EXPECT_EQ(Arrangement(), IdleArrangement());
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  EXPECT_EQ(Arrangement(), RecordingArrangement());
  EXPECT_EQ(FieldText(kFileSizeField), "0");
  // The time field is first written by the first tick.
  EXPECT_EQ(FieldText(kRecordingTimeField), " ");

  // 8 MB a second at 2 MS/s: a few ticks show both fields moving.
  std::vector<StatusReading> readings;
  const bool counted = PumpUntil(
      [&] {
        readings.push_back({FieldText(kFileSizeField), FieldText(kRecordingTimeField), UtcNow()});
        return std::atoi(readings.back().size.c_str()) >= 2 && std::atoi(readings.back().time.c_str()) >= 3;
      },
      20000);
  EXPECT_TRUE(counted) << "size " << readings.back().size << " MB, time " << readings.back().time << " s";
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  EXPECT_EQ(Arrangement(), IdleArrangement());
  const std::string last_size = FieldText(kFileSizeField);
  const std::string last_time = FieldText(kRecordingTimeField);
  plugin_->StopHW();

  // The timer has stopped with the recording: the fields keep what they showed.
  host::PumpMessagesFor(1500);
  EXPECT_EQ(FieldText(kFileSizeField), last_size);
  EXPECT_EQ(FieldText(kRecordingTimeField), last_time);
  EXPECT_EQ(FieldText(kFileNameField), name);

  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  ASSERT_TRUE(IsFinished(*recording));
  // Whole mebibytes rounded down, never ahead of the file; whole seconds
  // since the start in the header, never ahead of the clock; neither goes back.
  int previous_size = 0;
  int previous_time = 0;
  std::set<std::string> times_shown;
  for (const StatusReading& reading : readings) {
    SCOPED_TRACE("size \"" + reading.size + "\", time \"" + reading.time + "\"");
    const int size = std::atoi(reading.size.c_str());
    ASSERT_EQ(reading.size, std::to_string(size));
    ASSERT_GE(size, previous_size);
    ASSERT_LE(static_cast<std::uint32_t>(size), recording->data_size() >> 20);
    previous_size = size;
    if (reading.time == " ") continue;
    const int time = std::atoi(reading.time.c_str());
    ASSERT_EQ(reading.time, std::to_string(time));
    ASSERT_GE(time, previous_time);
    ASSERT_LE(time, reading.utc_s - recording->start_time_utc_s());
    previous_time = time;
    times_shown.insert(reading.time);
  }
  EXPECT_GE(times_shown.size(), 2u) << "the time field did not count";
}

TEST_F(RecorderPanelTest, OpenHwDuringARecordingLeavesTheRecordingAndItsButtonsAlone) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const std::size_t mark = Statuses().size();
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  host::PumpMessagesFor(200);
  // A host that opens the receiver again while the user records.
  ASSERT_TRUE(plugin_->OpenHW());
  host::PumpMessagesFor(200);
  EXPECT_TRUE(Enabled(kStopButton));
  EXPECT_FALSE(Enabled(kRecButton));
  EXPECT_EQ(FieldText(kFileNameField), name);
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  plugin_->StopHW();

  EXPECT_EQ(Arrangement(), IdleArrangement());
  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  EXPECT_EQ(FilesIn(scratch_->path()), std::vector<std::string>{name});
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(IsFinished(*recording));
  EXPECT_GT(recording->data_bytes(), 0u);
}

TEST_F(RecorderPanelTest, ASecondRecordingInTheSameSecondGetsItsOwnNameAndLeavesTheFirstAlone) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  std::string first;
  std::string second;
  std::vector<std::uint8_t> first_bytes;
  bool same_second = false;
  // Both recordings take a fraction of a second; try again if they happened
  // to straddle the turn of a second.
  for (int attempt = 0; attempt < 5 && !same_second; ++attempt) {
    const std::int64_t start = UtcNow();
    ASSERT_NO_FATAL_FAILURE(first = ClickRec());
    host::PumpMessagesFor(150);
    ASSERT_NO_FATAL_FAILURE(ClickStop());
    first_bytes = ReadWholeFile(first);
    ASSERT_NO_FATAL_FAILURE(second = ClickRec());
    host::PumpMessagesFor(50);
    ASSERT_NO_FATAL_FAILURE(ClickStop());
    same_second = UtcNow() == start;
  }
  ASSERT_TRUE(same_second);
  plugin_->StopHW();

  EXPECT_NE(second, first);
  // The same second, told apart.
  EXPECT_EQ(second.substr(0, 24), first.substr(0, 24));
  EXPECT_EQ(ReadWholeFile(first), first_bytes) << "the second recording touched the first";
  const auto earlier = ReadRecording(first);
  const auto later = ReadRecording(second);
  ASSERT_TRUE(earlier && later);
  EXPECT_TRUE(IsFinished(*earlier));
  EXPECT_TRUE(IsFinished(*later));
  std::uint64_t earlier_first_pair = 0;
  std::uint64_t later_first_pair = 0;
  EXPECT_TRUE(HoldsCountingRun(*earlier, 0, &earlier_first_pair));
  EXPECT_TRUE(HoldsCountingRun(*later, 0, &later_first_pair));
  EXPECT_GT(earlier->data_bytes(), 0u);
  if (later->data_bytes() > 0) {
    EXPECT_GE(later_first_pair, earlier_first_pair + earlier->data_bytes() / 6);
  }
}

TEST_F(RecorderPanelTest, AFileAlreadyBearingTheRecordingsNameIsNeverOverwritten) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  // Files under the names of this second and the next few, as if left by an
  // earlier session whose clock was a little ahead.
  const std::int64_t now = UtcNow();
  const std::string kept = "an earlier recording";
  std::vector<std::string> existing;
  for (std::int64_t second = now; second <= now + 5; ++second) {
    existing.push_back(UtcRecordingName(second));
    std::ofstream(existing.back(), std::ios::binary) << kept;
  }
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  ASSERT_LE(UtcNow(), now + 5) << "the test was too slow for its own set-up";

  EXPECT_EQ(std::find(existing.begin(), existing.end(), name), existing.end()) << name;
  for (const std::string& other : existing) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(other);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kept) << other;
  }
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_EQ(recording->bytes.size(), 90u);
  EXPECT_TRUE(IsFinished(*recording));
}

TEST_F(RecorderPanelTest, ADirectoryThatNoLongerExistsGivesOneMessageNamingTheFileAndAnIdlePanel) {
  const std::string vanishing = scratch_->path() + "\\vanishing";
  ASSERT_TRUE(CreateDirectoryA(vanishing.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA(vanishing.c_str()));
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  // Gone from under the host, as a removed stick or a deleted folder is.
  // Windows refuses to remove a process's current directory; Unix does not.
  const std::string unix_path = UnixPathOf(vanishing);
  ASSERT_FALSE(unix_path.empty());
  ASSERT_TRUE(RunUnixProgram("rmdir '" + unix_path + "'"));
  ASSERT_EQ(GetFileAttributesA(vanishing.c_str()), INVALID_FILE_ATTRIBUTES);

  boxes_.Clear();
  const std::size_t mark = Statuses().size();
  std::string name;
  // The message box is modal: the click returns once the watcher closed it.
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  host::PumpMessagesFor(500);
  // At most one click on "Stop" brings the panel back to idle.
  if (Enabled(kStopButton)) {
    ASSERT_NO_FATAL_FAILURE(ClickStop());
  }
  host::PumpMessagesFor(1500);

  EXPECT_EQ(Arrangement(), IdleArrangement());
  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  const auto boxes = boxes_.seen();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Halvorn DLL for Winrad");
  EXPECT_NE(name, " ");
  EXPECT_NE(boxes[0].text.find(name), std::string::npos) << boxes[0].text;

  // A directory that can be written records again.
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_->path().c_str()));
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  plugin_->StopHW();
  EXPECT_EQ(boxes_.seen().size(), 1u);
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(IsFinished(*recording));
  EXPECT_TRUE(HoldsCountingRun(*recording, 0));
}

}  // namespace
}  // namespace halvorn::wine_tests
