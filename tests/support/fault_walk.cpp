#include "tests/support/fault_walk.h"

#include <gtest/gtest.h>

#include <optional>

#include "panel/control_ids.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/recording_checks.h"
#include "tests/support/sanitizers.h"
#include "tests/support/user_messages.h"

namespace halvorn::testing {

using Strings = std::vector<std::string>;
using ::testing::Test;

FaultWalk::FaultWalk(PluginUnderTest& plugin, std::string label, std::chrono::seconds step_bound)
    : plugin_(plugin), label_(std::move(label)), journal_(plugin.JournalPath()), watchdog_(label_, step_bound) {
  plugin_.SetSimulator("HALVORNSIM_SOURCE", "counting");
  plugin_.SetSimulator("HALVORNSIM_PACING", "realtime");
  plugin_.SetSimulator("HALVORNSIM_FAIL", "");
  host_.Reset();
  host_.set_check_counting(true);
}

Strings FaultWalk::Step(const std::string& description, const std::function<void()>& step) {
  watchdog_.Begin(++steps_, label_ + ": " + description);
  step();
  watchdog_.End();
  Strings shown;
  for (const ShownMessage& message : plugin_.TakeMessages()) {
    if (!message.title.empty()) {
      EXPECT_EQ(message.title, kMessageTitle) << label_ << ": " << description;
    }
    shown.push_back(message.text);
  }
  return shown;
}

bool FaultWalk::Init() {
  char name[64] = {};
  char model[64] = {};
  int type = 0;
  return host_calls().InitHW(name, model, &type);
}

bool FaultWalk::WaitForBlocks(std::uint64_t blocks) {
  return plugin_.RunUntil([&] { return host_.blocks() >= blocks; }, std::chrono::seconds(kSanitized ? 60 : 20));
}

void FaultWalk::ClickAsUser(int id) {
  if (!plugin_.panel().Enabled(id)) {
    ADD_FAILURE() << label_ << ": control " << id << " is disabled";
    return;
  }
  Click(id);
}

void FaultWalk::Walk(const PointHook& before, const PointHook& after, const PointCheck& check, Point last) {
  EntryPoints& calls = host_calls();
  for (int p = 0; p <= last && !Test::HasFatalFailure(); ++p) {
    const auto point = static_cast<Point>(p);
    // What the points before leave to set up this one, fault-free.
    Step(std::string("prepare ") + kPointNames[point], [&] {
      switch (point) {
        case kSetHWLO: ClickAsUser(panel::RateButtonFor(1)); break;
        case kStartHW:
          ClickAsUser(panel::RateButtonFor(0));
          calls.SetCallback(&CountingHost::Callback);
          break;
        case kCalibrateClick:
          calls.TuneChanged(7050300);
          ClickAsUser(panel::RateButtonFor(8));
          break;
        default: break;
      }
    });
    NewCalls();
    before(point);
    PointResult result;
    result.shown = Step(kPointNames[point], [&] {
      switch (point) {
        case kInitHW:
        case kInitHWWhileStreaming: result.usual_result = Init(); break;
        case kOpenHW: result.usual_result = calls.OpenHW(); break;
        case kSetHWLO: result.usual_result = calls.SetHWLO(7100000) == 0; break;
        case kStartHW:
        case kRestartHW:
        case kStartHWAgain: result.usual_result = calls.StartHW(7050000) == kBlockPairs; break;
        case kAttenuatorClick: ClickAsUser(panel::kAttenuator0dB + 2); break;
        case kDitherClick: ClickAsUser(panel::kAdcDither); break;
        case kPreampClick: ClickAsUser(panel::kAdcPreamp); break;
        case kPreselectorOffClick:
        case kPreselectorOnClick: ClickAsUser(panel::kPreselector); break;
        case kCalibrateClick: ClickAsUser(panel::kClockCalibrate); break;
        case kRateClick: ClickAsUser(panel::RateButtonFor(2)); break;
        case kRecClick: ClickAsUser(panel::kRecButton); break;
        case kTimerTick: plugin_.panel().TimerTick(); break;
        case kStopClick: ClickAsUser(panel::kStopButton); break;
        case kStopHW: calls.StopHW(); break;
        case kCloseHWWhileStreaming: result.usual_result = calls.CloseHW(); break;
        case kPointCount: break;
      }
    });
    after(point);
    result.calls = NewCalls();
    check(point, result);
    if (point == last) break;
    // The stream runs a little between points, so the next one meets it live.
    const auto inside = plugin_.Inside();
    if (!inside || inside->streaming) plugin_.Run(std::chrono::milliseconds(20));
  }
}

void FaultWalk::CheckCell(const std::string& entry, Mode mode, Point point, Seen expected, const PointResult& result,
                          std::vector<Cell>& cells) {
  SCOPED_TRACE(label_ + ": " + entry + (mode == Mode::kMissing ? " missing" : " failing") + " at " +
               kPointNames[point]);
  switch (expected) {
    case kShowsBitstreamMessage: EXPECT_EQ(result.shown, Strings{kBitstreamMessage}); break;
    case kInitHWFails:
    case kStartHWFails:
    case kNotCalled:
    case kSilent: EXPECT_EQ(result.shown, Strings{}); break;
  }
  const bool usual = expected != kInitHWFails && expected != kStartHWFails &&
                     (mode == Mode::kFailing || UsualResultWhileMissing(entry, point));
  EXPECT_EQ(result.usual_result, usual) << "the entry point's result";
  bool reached = false;
  bool injected = false;
  for (const auto& line : result.calls) {
    if (line.entry != entry) continue;
    reached = true;
    injected = injected || line["injected"] == "fail";
  }
  if (mode == Mode::kMissing) {
    EXPECT_FALSE(reached) << "a missing entry was called";
  } else {
    EXPECT_EQ(injected, expected != kNotCalled)
        << "the matrix and the plug-in disagree on whether it calls " << entry << " here";
  }
  cells.push_back({entry, mode, point, expected, result.shown});
}

void FaultWalk::CheckWithoutLibrary(Point point, const PointResult& result) {
  SCOPED_TRACE(std::string("library missing at ") + kPointNames[point]);
  if (point == kInitHW || point == kInitHWWhileStreaming || point == kOpenHW) {
    // OpenHW tries to bring the receiver up, as InitHW does.
    EXPECT_EQ(result.shown, Strings{kLibraryMessage});
    EXPECT_FALSE(result.usual_result);
  } else if (SeenWithoutStream(CallsOf("FpgaConfig"), point) == kShowsBitstreamMessage) {
    EXPECT_EQ(result.shown, Strings{kBitstreamMessage});
    EXPECT_EQ(result.usual_result, !IsStart(point)) << "no receiver to start";
  } else if (IsStart(point)) {
    EXPECT_EQ(result.shown, Strings{});
    EXPECT_FALSE(result.usual_result) << "a start without a receiver";
  } else if (point == kCloseHWWhileStreaming) {
    EXPECT_EQ(result.shown, Strings{});
    EXPECT_FALSE(result.usual_result) << "CloseHW released a library that was never loaded";
  } else {
    EXPECT_EQ(result.shown, Strings{});
    EXPECT_TRUE(result.usual_result);
  }
  EXPECT_TRUE(result.calls.empty());
}

void FaultWalk::ExpectNormalSession(const std::function<void()>& clear_faults) {
  SCOPED_TRACE(label_ + ": the session after the fault");
  EntryPoints& calls = host_calls();
  Fail("");
  Step("recovery: StopHW, CloseHW", [&] {
    calls.StopHW();
    calls.CloseHW();
  });
  clear_faults();
  if (Test::HasFatalFailure()) return;
  NewCalls();

  EXPECT_EQ(Step("recovery: InitHW, OpenHW, SetCallback",
                 [&] {
                   ASSERT_TRUE(Init());
                   ASSERT_TRUE(calls.OpenHW());
                   calls.SetCallback(&CountingHost::Callback);
                 }),
            Strings{});
  if (plugin_.panel().Enabled(panel::kStopButton)) Step("recovery: Stop", [&] { Click(panel::kStopButton); });
  host_.TakeStatuses();
  const int two_mega_button = panel::RateButtonFor(receiver::kTwoMegaSampleIndex);
  const bool rate_changes = plugin_.panel().CheckState(two_mega_button) != 1;
  EXPECT_EQ(Step("recovery: 2 MS/s", [&] { ClickAsUser(two_mega_button); }), Strings{});
  EXPECT_EQ(host_.TakeStatuses(), rate_changes ? std::vector<int>{kStatusSampleRateChanged} : std::vector<int>{});

  plugin_.MarkRecordings();
  const auto inside_before = plugin_.Inside();
  const std::uint64_t streams_before = host_.streams();
  const std::uint64_t missing_before = host_.missing_pairs();
  EXPECT_EQ(Step("recovery: StartHW, Rec, 64 blocks, Stop, StopHW",
                 [&] {
                   ASSERT_EQ(calls.StartHW(7050000), kBlockPairs);
                   ASSERT_TRUE(WaitForBlocks(host_.blocks() + 1)) << "no blocks";
                   ClickAsUser(panel::kRecButton);
                   ASSERT_TRUE(WaitForBlocks(host_.blocks() + 64)) << "no blocks";
                   ClickAsUser(panel::kStopButton);
                   calls.StopHW();
                 }),
            Strings{});
  EXPECT_EQ(host_.TakeStatuses(), (std::vector<int>{kStatusRecordingStarted, kStatusRecordingStopped}));
  EXPECT_EQ(host_.faults(), Strings{});
  EXPECT_EQ(host_.streams(), streams_before + 1) << "the stream did not start afresh from pair 0";

  RecordingContents contents;
  ASSERT_TRUE(ReadCountingRecording(plugin_.RecordingDirectory(), plugin_.RecordingsSinceMark(), contents));
  ASSERT_EQ(contents.files.size(), 1u);
  EXPECT_EQ(contents.files[0].row(), receiver::kTwoMegaSampleIndex);
  EXPECT_GE(contents.blocks, 64u);
  EXPECT_LE(contents.skipped_pairs, host_.missing_pairs() - missing_before);
  if (const auto inside = plugin_.Inside()) {
    const std::uint64_t dropped = inside->dropped_blocks - inside_before->dropped_blocks;
    EXPECT_LE(contents.skipped_pairs, dropped * kBlockPairs);
    EXPECT_LE(host_.missing_pairs(), inside->dropped_blocks * kBlockPairs);
  }
  bool started = false;
  for (const auto& line : NewCalls()) {
    if (line.entry == "StartAsyncInput") started = line["result"] == "1";
    EXPECT_EQ(line["injected"], "") << line.entry;
  }
  EXPECT_TRUE(started) << "the device's input did not start";
}

void RunDeviceFaultMatrix(
    Mode mode, const std::function<FaultWalk&(const std::string& label, const std::string& missing_entry)>& fresh,
    const std::function<void()>& clear_faults) {
  const FaultWalk::PointHook nothing = [](Point) {};
  std::vector<Cell> cells;
  for (const EntryCalls& row : kCalls) {
    const std::string entry = row.entry;
    if (mode == Mode::kMissing) {
      FaultWalk& walk = fresh(entry + " missing", entry);
      if (Test::HasFatalFailure()) return;
      // Without any of these the stream never starts.
      const bool streams = entry != "Open" && entry != "FirmwareDownload" && entry != "FpgaConfig" &&
                           entry != "StartAsyncInput";
      walk.Walk(nothing, nothing, [&](Point point, const PointResult& result) {
        walk.CheckCell(entry, mode, point, streams ? SeenAt(row, point) : SeenWithoutStream(row, point), result,
                       cells);
      });
      walk.ExpectNormalSession(clear_faults);
    } else {
      // Failing at each point that calls it, one walk per point; an entry
      // never called fails throughout one walk.
      std::vector<std::optional<Point>> faulted_points;
      for (const auto& [point, seen] : row.calls) faulted_points.emplace_back(point);
      if (faulted_points.empty()) faulted_points.emplace_back(std::nullopt);
      for (const std::optional<Point>& faulted : faulted_points) {
        FaultWalk& walk =
            fresh(entry + " failing" + (faulted ? std::string(" at ") + kPointNames[*faulted] : std::string()), "");
        if (Test::HasFatalFailure()) return;
        if (!faulted) walk.Fail(entry);
        walk.Walk(
            [&](Point point) {
              if (faulted) walk.Fail(point == *faulted ? entry : "");
            },
            [&](Point) {
              if (faulted) walk.Fail("");
            },
            [&](Point point, const PointResult& result) {
              if (!faulted || point == *faulted) {
                walk.CheckCell(entry, mode, point, faulted ? SeenAt(row, point) : kNotCalled, result, cells);
              } else {
                // Before and after the fault the points behave as
                // without it, apart from what the fault left behind
                // (no bitstream, no stream).
                EXPECT_EQ(result.shown, Strings{}) << walk.label() << ", then " << kPointNames[point];
              }
            });
        walk.ExpectNormalSession(clear_faults);
      }
    }
    if (Test::HasFatalFailure()) break;
  }
  std::printf("%s", Render(cells).c_str());
}

}  // namespace halvorn::testing
