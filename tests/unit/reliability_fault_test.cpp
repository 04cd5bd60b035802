// Fault injection: every device entry missing and failing at every point of a
// host's session where the plug-in calls it, the recorder's files failing at
// each step of a recording, and the stream's resources refused. Each fault
// gives the user its message or nothing, the entry points return their usual
// values, nothing hangs, and once the fault is gone the same plug-in streams
// and records correctly again.
//
// The matrix of device faults is the table kCalls below: the entries each
// point of the session reaches, and what the user sees when one of them
// fails there. The test prints it as it found it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "panel/control_ids.h"
#include "panel/control_panel.h"
#include "streaming/stream_resources.h"
#include "tests/unit/recorder_test_support.h"
#include "tests/unit/reliability_test_support.h"

namespace halvorn::reliability {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

constexpr std::chrono::seconds kStepBound{kSanitized ? 120 : 30};

// ---- Stream resources that can be refused -------------------------------------------

class RefusingResources final : public streaming::StreamResources {
 public:
  std::unique_ptr<streaming::WakeEvent> CreateWakeEvent() override {
    return refuse_event ? nullptr : real_->CreateWakeEvent();
  }
  std::unique_ptr<streaming::WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    return refuse_thread ? nullptr : real_->StartWorker(procedure, argument);
  }
  void* AllocateRing(std::size_t bytes) override {
    if (refuse_ring) return nullptr;
    ++live_rings;
    return real_->AllocateRing(bytes);
  }
  void FreeRing(void* memory) override {
    --live_rings;
    real_->FreeRing(memory);
  }
  device::TransferCallbackFn TransferEntry(device::TransferCallbackFn target) override {
    return real_->TransferEntry(target);
  }
  HostCaller BlockCaller() override { return real_->BlockCaller(); }

  std::atomic<bool> refuse_event{false};
  std::atomic<bool> refuse_thread{false};
  std::atomic<bool> refuse_ring{false};
  std::atomic<int> live_rings{0};

 private:
  std::unique_ptr<streaming::StreamResources> real_ = streaming::MakePlatformStreamResources();
};

// ---- One plug-in, driven as a host and a user drive it --------------------------------

class FaultSession {
 public:
  explicit FaultSession(const std::string& label, std::uint32_t max_data_bytes = recorder::kMaxDataBytes)
      : label_(label),
        journal_path_(testing::NewJournalPath(Slug(label))),
        journal_(journal_path_),
        watchdog_(label, kStepBound) {
    settings_.Set("HALVORNSIM_JOURNAL", journal_path_);
    settings_.Set("HALVORNSIM_SOURCE", "counting");
    settings_.Set("HALVORNSIM_PACING", "realtime");
    settings_.Set("HALVORNSIM_FAIL", "");
    host_.Reset();
    auto loader = std::make_unique<HidingLoader>();
    loader_ = loader.get();
    auto resources = std::make_unique<RefusingResources>();
    resources_ = resources.get();
    auto directory = std::make_unique<OrderedDirectory>(
        std::make_unique<testing::FaultyDirectory>(scratch_.path(), file_faults_));
    directory_ = directory.get();
    recorder::RecorderOptions options;
    options.directory = std::move(directory);
    options.max_data_bytes = max_data_bytes;
    module_ = std::make_unique<testing::NativeModule>("", std::move(loader), std::move(resources), std::move(options));
  }

  Module& plugin() { return module_->plugin(); }
  panel::ControlPanel& panel() { return module_->panel(); }
  recorder::Recorder& recorder() { return module_->recorder(); }
  testing::FakeUserInterface& ui() { return module_->ui; }
  HidingLoader& loader() { return *loader_; }
  RefusingResources& resources() { return *resources_; }
  testing::Faults& file_faults() { return *file_faults_; }
  OrderedDirectory& directory() { return *directory_; }
  const fs::path& scratch() const { return scratch_.path(); }
  HostSide& host() { return host_; }

  void Fail(const std::string& entries) { settings_.Set("HALVORNSIM_FAIL", entries); }

  // Runs one step under the watchdog and returns the messages it showed.
  Strings Step(const std::string& description, const std::function<void()>& step) {
    watchdog_.Begin(++steps_, description);
    step();
    watchdog_.End();
    const Strings errors = ui().errors();
    ui().ClearEvents();
    return errors;
  }

  // The journal lines written since the last call.
  std::vector<testing::JournalLine> NewCalls() { return journal_.NewLines(); }

  void Click(int id) {
    if (id == panel::kAdcPreamp || id == panel::kAdcDither || id == panel::kPreselector) ui().Toggle(id);
    panel().OnClick(id);
  }

  bool Init() {
    char name[32] = {};
    char model[32] = {};
    int type = 0;
    return plugin().InitHW(name, model, &type);
  }

  // The plug-in after the fault: opened, streaming at 2 MS/s and recording
  // through the same module. It must deliver and record the counting pattern
  // without a message.
  void ExpectNormalSession() {
    SCOPED_TRACE(label_ + ": the session after the fault");
    Fail("");
    loader().Hide({});
    loader().SetAbsent(false);
    resources().refuse_event = resources().refuse_ring = resources().refuse_thread = false;
    file_faults_->creates_before_failure = -1;
    file_faults_->write_budget = -1;
    file_faults_->fail_write_at = false;
    file_faults_->fail_truncate = false;
    NewCalls();

    Strings shown = Step("recovery: StopHW, CloseHW, InitHW, OpenHW, SetCallback, 2 MS/s", [&] {
      plugin().StopHW();
      plugin().CloseHW();
      ASSERT_TRUE(Init());
      ASSERT_TRUE(plugin().OpenHW());
      plugin().SetCallback(&HostSide::Callback);
      Click(panel::RateButtonFor(kTwoMegaRow));
    });
    EXPECT_EQ(shown, Strings{});
    if (recorder().IsRecording()) Step("recovery: Stop", [&] { Click(panel::kStopButton); });
    const std::size_t first_file = directory().created().size();
    const std::uint64_t dropped_before = plugin().stream().dropped_blocks();
    const std::uint64_t streams_before = host_.streams();
    host_.TakeStatuses();

    shown = Step("recovery: StartHW, Rec, 64 blocks, Stop, StopHW", [&] {
      ASSERT_EQ(plugin().StartHW(7050000), 1024);
      ASSERT_TRUE(WaitForBlocks(host_.blocks() + 1));
      Click(panel::kRecButton);
      ASSERT_TRUE(WaitForBlocks(host_.blocks() + 64));
      Click(panel::kStopButton);
      plugin().StopHW();
    });
    EXPECT_EQ(shown, Strings{});
    EXPECT_EQ(host_.TakeStatuses(), (std::vector<int>{102, 103}));
    EXPECT_EQ(host_.faults(), Strings{});
    EXPECT_EQ(host_.streams(), streams_before + 1) << "the stream did not start afresh from pair 0";
    const std::uint64_t dropped = plugin().stream().dropped_blocks() - dropped_before;
    EXPECT_LE(host_.missing_pairs(), plugin().stream().dropped_blocks() * kBlockPairs);

    const auto created = directory().created();
    const Strings names(created.begin() + static_cast<std::ptrdiff_t>(first_file), created.end());
    RecordingContents contents;
    ASSERT_TRUE(ReadRecording(scratch(), names, contents));
    ASSERT_EQ(contents.files.size(), 1u);
    EXPECT_EQ(contents.files[0].row(), kTwoMegaRow);
    EXPECT_GE(contents.blocks, 64u);
    EXPECT_LE(contents.skipped_pairs, dropped * kBlockPairs);
    bool started = false;
    for (const auto& line : NewCalls()) {
      if (line.entry == "StartAsyncInput") started = line["result"] == "1";
      EXPECT_EQ(line["injected"], "") << line.entry;
    }
    EXPECT_TRUE(started) << "the device's input did not start";
  }

  bool WaitForBlocks(std::uint64_t blocks) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSanitized ? 60 : 20);
    while (host_.blocks() < blocks) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

 private:
  static std::string Slug(std::string text) {
    for (char& c : text) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return text;
  }

  const std::string label_;
  testing::ScratchDirectory scratch_;
  const std::string journal_path_;
  JournalFollower journal_;
  SimulatorSettings settings_;
  HostSide& host_ = HostSide::Instance();
  Watchdog watchdog_;
  std::shared_ptr<testing::Faults> file_faults_ = std::make_shared<testing::Faults>();
  HidingLoader* loader_ = nullptr;
  RefusingResources* resources_ = nullptr;
  OrderedDirectory* directory_ = nullptr;
  std::unique_ptr<testing::NativeModule> module_;
  int steps_ = 0;
};

// ---- The device matrix --------------------------------------------------------------

// Runs the session's points in order. `fault_on` says whether the fault is in
// force at a point (failing entries are switched on just around it); `check`
// gets each point's messages and whether its entry point gave its usual result.
struct PointResult {
  Strings shown;
  bool usual_result = true;
  std::vector<testing::JournalLine> calls;
};

void WalkSession(FaultSession& session, const std::function<void(Point)>& before,
                 const std::function<void(Point)>& after, const std::function<void(Point, const PointResult&)>& check) {
  Module& plugin = session.plugin();
  for (int p = 0; p < kPointCount; ++p) {
    const auto point = static_cast<Point>(p);
    // What the points before leave to set up this one, fault-free.
    session.Step(std::string("prepare ") + kPointNames[point], [&] {
      switch (point) {
        case kSetHWLO: session.Click(panel::RateButtonFor(1)); break;
        case kStartHW:
          session.Click(panel::RateButtonFor(0));
          plugin.SetCallback(&HostSide::Callback);
          break;
        case kCalibrateClick:
          plugin.TuneChanged(7050300);
          session.Click(panel::RateButtonFor(8));
          break;
        case kRestartHW: break;
        default: break;
      }
    });
    session.NewCalls();
    before(point);
    PointResult result;
    result.shown = session.Step(kPointNames[point], [&] {
      switch (point) {
        case kInitHW:
        case kInitHWWhileStreaming: result.usual_result = session.Init(); break;
        case kOpenHW: result.usual_result = plugin.OpenHW(); break;
        case kSetHWLO: result.usual_result = plugin.SetHWLO(7100000) == 0; break;
        case kStartHW:
        case kRestartHW:
        case kStartHWAgain: result.usual_result = plugin.StartHW(7050000) == 1024; break;
        case kAttenuatorClick: session.Click(1004); break;
        case kDitherClick: session.Click(panel::kAdcDither); break;
        case kPreampClick: session.Click(panel::kAdcPreamp); break;
        case kPreselectorOffClick:
        case kPreselectorOnClick: session.Click(panel::kPreselector); break;
        case kCalibrateClick: session.Click(panel::kClockCalibrate); break;
        case kRateClick: session.Click(panel::RateButtonFor(2)); break;
        case kRecClick: session.Click(panel::kRecButton); break;
        case kTimerTick: session.panel().OnTimer(); break;
        case kStopClick: session.Click(panel::kStopButton); break;
        case kStopHW: plugin.StopHW(); break;
        case kCloseHWWhileStreaming: result.usual_result = plugin.CloseHW(); break;
        case kPointCount: break;
      }
    });
    after(point);
    result.calls = session.NewCalls();
    check(point, result);
    // The stream runs a little between points, so the next one meets it live.
    if (plugin.stream().IsStreaming()) std::this_thread::sleep_for(20ms);
  }
}


void CheckCell(const std::string& entry, Mode mode, Point point, Seen expected, const PointResult& result,
               std::vector<Cell>& cells) {
  SCOPED_TRACE(entry + (mode == Mode::kMissing ? " missing" : " failing") + " at " + kPointNames[point]);
  switch (expected) {
    case kShowsBitstreamMessage: EXPECT_EQ(result.shown, Strings{std::string(kBitstreamMessage)}); break;
    case kInitHWFails:
      EXPECT_EQ(result.shown, Strings{});
      EXPECT_FALSE(result.usual_result) << "InitHW succeeded";
      break;
    case kNotCalled:
    case kSilent: EXPECT_EQ(result.shown, Strings{}); break;
  }
  if (expected != kInitHWFails) {
    EXPECT_TRUE(result.usual_result) << "the entry point's result changed";
  }
  // The journal shows the entry reached (failing) or never reached (missing)
  // exactly where the matrix says the plug-in calls it.
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
    EXPECT_EQ(injected, expected != kNotCalled) << "the matrix and the plug-in disagree on whether it calls "
                                                << entry << " here";
  }
  cells.push_back({entry, mode, point, expected, result.shown});
}

class DeviceFaultMatrix : public ::testing::TestWithParam<Mode> {};

TEST_P(DeviceFaultMatrix, EveryEntryAtEveryPointGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  const Mode mode = GetParam();
  std::vector<Cell> cells;
  for (const EntryCalls& row : kCalls) {
    const std::string entry = row.entry;
    if (mode == Mode::kMissing) {
      FaultSession session(entry + " missing");
      session.loader().Hide({entry});
      WalkSession(
          session, [](Point) {}, [](Point) {},
          [&](Point point, const PointResult& result) {
            CheckCell(entry, mode, point, SeenAt(row, point), result, cells);
          });
      session.ExpectNormalSession();
    } else if (row.calls.empty()) {
      // Never called: failing throughout changes nothing.
      FaultSession session(entry + " failing");
      session.Fail(entry);
      WalkSession(
          session, [](Point) {}, [](Point) {},
          [&](Point point, const PointResult& result) { CheckCell(entry, mode, point, kNotCalled, result, cells); });
      session.ExpectNormalSession();
    } else {
      // One session per point that calls it, failing there alone.
      for (const auto& [faulted, seen] : row.calls) {
        FaultSession session(entry + " failing at " + kPointNames[faulted]);
        WalkSession(
            session, [&](Point point) { session.Fail(point == faulted ? entry : ""); },
            [&](Point) { session.Fail(""); },
            [&](Point point, const PointResult& result) {
              if (point == faulted) {
                CheckCell(entry, mode, point, seen, result, cells);
              } else {
                // Before and after the fault the points behave as without it,
                // apart from what the fault left behind (no bitstream, no stream).
                EXPECT_EQ(result.shown, Strings{}) << entry << " failing at " << kPointNames[faulted]
                                                   << ", then " << kPointNames[point];
              }
            });
        session.ExpectNormalSession();
      }
    }
    if (::testing::Test::HasFatalFailure()) break;
  }
  std::printf("%s", Render(cells).c_str());
}

INSTANTIATE_TEST_SUITE_P(Modes, DeviceFaultMatrix, ::testing::Values(Mode::kMissing, Mode::kFailing),
                         [](const ::testing::TestParamInfo<Mode>& mode) {
                           return mode.param == Mode::kMissing ? "Missing" : "Failing";
                         });

TEST(DeviceFaultTest, WithoutTheLibraryInitHwSaysSoAndEveryBitstreamLoadSaysItsMessage) {
  FaultSession session("library missing");
  session.loader().SetAbsent(true);
  std::vector<Cell> cells;
  WalkSession(
      session, [](Point) {}, [](Point) {},
      [&](Point point, const PointResult& result) {
        SCOPED_TRACE(std::string("library missing at ") + kPointNames[point]);
        if (point == kInitHW || point == kInitHWWhileStreaming) {
          EXPECT_EQ(result.shown, Strings{std::string(kLibraryMessage)});
          EXPECT_FALSE(result.usual_result);
        } else if (SeenAt(CallsOf("FpgaConfig"), point) == kShowsBitstreamMessage) {
          EXPECT_EQ(result.shown, Strings{std::string(kBitstreamMessage)});
          EXPECT_TRUE(result.usual_result);
        } else if (point == kCloseHWWhileStreaming) {
          EXPECT_EQ(result.shown, Strings{});
          EXPECT_FALSE(result.usual_result) << "CloseHW released a library that was never loaded";
        } else {
          EXPECT_EQ(result.shown, Strings{});
          EXPECT_TRUE(result.usual_result);
        }
        EXPECT_TRUE(result.calls.empty());
      });
  session.ExpectNormalSession();
}

// A device that did not take the stop goes on calling back with transfers of
// the size it was started with. The next stream, at another size, must never
// read them as its own: it starts only once the device has taken a stop.
TEST(DeviceFaultTest, AStopTheDeviceDidNotTakeNeverFeedsTheNextStream) {
  FaultSession session("stop not taken");
  session.Step("open, stream at 125 kS/s", [&] {
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.plugin().OpenHW());
    session.plugin().SetCallback(&HostSide::Callback);
    ASSERT_EQ(session.plugin().StartHW(7050000), 1024);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 4));
  });
  session.Fail("StopAsyncInput");
  EXPECT_EQ(session.Step("StopHW, refused by the device", [&] { session.plugin().StopHW(); }), Strings{});
  session.Fail("");
  EXPECT_FALSE(session.plugin().stream().IsStreaming());
  // The device's input still runs; the plug-in takes nothing from it.
  std::this_thread::sleep_for(50ms);
  const std::uint64_t streams = session.host().streams();
  session.NewCalls();

  EXPECT_EQ(session.Step("2 MS/s, StartHW", [&] {
    session.Click(panel::RateButtonFor(kTwoMegaRow));
    ASSERT_EQ(session.plugin().StartHW(7050000), 1024);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 64));
    session.plugin().StopHW();
  }), Strings{});
  EXPECT_EQ(session.host().faults(), Strings{});
  EXPECT_EQ(session.host().streams(), streams + 1);
  Strings entries;
  for (const auto& line : session.NewCalls()) {
    if (line.entry == "StopAsyncInput" || line.entry == "StartAsyncInput") {
      entries.push_back(line.entry + " " + line["result"]);
    }
  }
  // The stop again, taken this time, then the new input, then its stop.
  EXPECT_EQ(entries, (Strings{"StopAsyncInput 1", "StartAsyncInput 1", "StopAsyncInput 1"}));
}

TEST(DeviceFaultTest, WithoutAStopEntryAStreamThatCouldNotBeStoppedIsNotFollowedByAnother) {
  FaultSession session("no stop entry");
  session.loader().Hide({"StopAsyncInput"});
  session.Step("open, stream at 125 kS/s, StopHW", [&] {
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.plugin().OpenHW());
    session.plugin().SetCallback(&HostSide::Callback);
    ASSERT_EQ(session.plugin().StartHW(7050000), 1024);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 4));
    session.plugin().StopHW();
  });
  session.NewCalls();
  std::int32_t pairs = 0;
  EXPECT_EQ(session.Step("2 MS/s, StartHW", [&] {
    session.Click(panel::RateButtonFor(kTwoMegaRow));
    pairs = session.plugin().StartHW(7050000);
  }), Strings{});
  EXPECT_EQ(pairs, 1024);
  EXPECT_FALSE(session.plugin().stream().IsStreaming());
  std::this_thread::sleep_for(100ms);
  for (const auto& line : session.NewCalls()) EXPECT_NE(line.entry, "StartAsyncInput");
  EXPECT_EQ(session.host().faults(), Strings{});
  // Closing the device ends its input; a library with the entry streams again.
  session.ExpectNormalSession();
}

// ---- Recorder and stream faults ---------------------------------------------------------

// The session up to a running stream at `row`, with the host listening.
void OpenAndStream(FaultSession& session, int row) {
  session.Step("open and stream", [&] {
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.plugin().OpenHW());
    session.plugin().SetCallback(&HostSide::Callback);
    if (row != 0) session.Click(panel::RateButtonFor(row));
    ASSERT_EQ(session.plugin().StartHW(7050000), 1024);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 1));
  });
}

void ExpectIdlePanel(FaultSession& session) {
  for (int id = 1002; id <= 1014; ++id) EXPECT_TRUE(session.ui().control(id).enabled) << id;
  for (int id : {1018, 1019, 1020, 1026, 1022}) EXPECT_TRUE(session.ui().control(id).enabled) << id;
  EXPECT_FALSE(session.ui().control(panel::kStopButton).enabled);
  EXPECT_FALSE(session.ui().timer_running());
  EXPECT_FALSE(session.recorder().IsRecording());
}

struct RecordingFault {
  const char* name;
  // The message starts with this; empty: no message.
  const char* message;
  std::function<void(FaultSession&)> run;
};

const std::vector<RecordingFault> kRecordingFaults = {
    {"the file cannot be created", "Recording not started: cannot create",
     [](FaultSession& s) {
       s.file_faults().creates_before_failure = 0;
       s.file_faults().create_error = EACCES;
       const Strings shown = s.Step("Rec", [&] { s.Click(panel::kRecButton); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_EQ(shown[0].rfind("Recording not started: cannot create", 0), 0u) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
       EXPECT_EQ(s.directory().created(), Strings{});
       EXPECT_EQ(s.Step("Stop", [&] { s.Click(panel::kStopButton); }), Strings{});
       EXPECT_EQ(s.host().TakeStatuses(), std::vector<int>{});
     }},
    {"the header cannot be written", "Recording not started: cannot create",
     [](FaultSession& s) {
       s.file_faults().write_budget = 40;
       const Strings shown = s.Step("Rec", [&] { s.Click(panel::kRecButton); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_EQ(shown[0].rfind("Recording not started: cannot create", 0), 0u) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
       // A file without a whole header is not left behind.
       EXPECT_EQ(s.directory().removed(), s.directory().created());
       EXPECT_TRUE(s.directory().created().empty() || !fs::exists(s.scratch() / s.directory().created()[0]));
     }},
    {"the disk fills while recording", "Recording stopped: writing to",
     [](FaultSession& s) {
       EXPECT_EQ(s.Step("Rec", [&] { s.Click(panel::kRecButton); }), Strings{});
       s.file_faults().write_budget = 20 * 6144 + 1000;
       ASSERT_TRUE(s.WaitForBlocks(s.host().blocks() + 40));
       const Strings shown = s.Step("timer tick", [&] { s.panel().OnTimer(); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_EQ(shown[0].rfind("Recording stopped: writing to", 0), 0u) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
       // The file keeps what reached it, cut to whole pairs, and says so.
       RecordingContents contents;
       EXPECT_TRUE(ReadRecording(s.scratch(), s.directory().created(), contents, true));
       EXPECT_EQ(contents.blocks, 20u);
       ASSERT_EQ(contents.files.size(), 1u);
       EXPECT_EQ(contents.files[0].bytes.size(), kHeaderBytes + 20 * 6144 + 1000 / 6 * 6);
     }},
    {"the file cannot be completed", "Recording stopped",
     [](FaultSession& s) {
       EXPECT_EQ(s.Step("Rec", [&] { s.Click(panel::kRecButton); }), Strings{});
       ASSERT_TRUE(s.WaitForBlocks(s.host().blocks() + 10));
       s.file_faults().fail_write_at = true;
       const Strings shown = s.Step("Stop", [&] { s.Click(panel::kStopButton); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_NE(shown[0].find("could not be completed"), std::string::npos) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
     }},
    {"the next file cannot be created", "Recording stopped: cannot create its next file",
     [](FaultSession& s) {
       s.file_faults().creates_before_failure = 1;
       EXPECT_EQ(s.Step("Rec", [&] { s.Click(panel::kRecButton); }), Strings{});
       // 200 blocks of 6144 bytes pass the 1 MB file: the next file is due.
       ASSERT_TRUE(s.WaitForBlocks(s.host().blocks() + 200));
       const Strings shown = s.Step("timer tick", [&] { s.panel().OnTimer(); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_EQ(shown[0].rfind("Recording stopped: cannot create its next file", 0), 0u) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
       RecordingContents contents;
       EXPECT_TRUE(ReadRecording(s.scratch(), s.directory().created(), contents));
       EXPECT_EQ(contents.files.size(), 1u);
     }},
};

class RecordingFaultTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RecordingFaultTest, TellsTheUserLeavesAnIdlePanelAndTheNextRecordingWorks) {
  const RecordingFault& fault = kRecordingFaults[GetParam()];
  // Files of 1 MB, so a recording goes on in a new one within a second.
  FaultSession session(fault.name, 1000000);
  OpenAndStream(session, 1);
  session.host().TakeStatuses();
  fault.run(session);
  if (::testing::Test::HasFatalFailure()) return;
  ExpectIdlePanel(session);
  // Every file left behind reads back as a finished recording, except one
  // whose sizes could not be written.
  if (std::string(fault.name) != "the file cannot be completed") {
    RecordingContents contents;
    Strings kept;
    for (const auto& name : session.directory().created()) {
      if (fs::exists(session.scratch() / name)) kept.push_back(name);
    }
    EXPECT_TRUE(ReadRecording(session.scratch(), kept, contents, true));
  }
  session.ExpectNormalSession();
}

INSTANTIATE_TEST_SUITE_P(Faults, RecordingFaultTest, ::testing::Range<std::size_t>(0, kRecordingFaults.size()),
                         [](const ::testing::TestParamInfo<std::size_t>& index) {
                           std::string name = kRecordingFaults[index.param].name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

struct StreamFault {
  const char* name;
  std::atomic<bool> RefusingResources::*refusal;
};

class StreamResourceFaultTest : public ::testing::TestWithParam<int> {};

const StreamFault kStreamFaults[] = {
    {"ring_memory", &RefusingResources::refuse_ring},
    {"wake_event", &RefusingResources::refuse_event},
    {"delivery_thread", &RefusingResources::refuse_thread},
};

TEST_P(StreamResourceFaultTest, StartHwStaysSilentAndIdleAndTheNextStartStreams) {
  const StreamFault& fault = kStreamFaults[GetParam()];
  FaultSession session(std::string("refused ") + fault.name);
  session.Step("open", [&] {
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.plugin().OpenHW());
    session.plugin().SetCallback(&HostSide::Callback);
  });
  session.NewCalls();
  (session.resources().*fault.refusal) = true;
  std::int32_t pairs = 0;
  EXPECT_EQ(session.Step("StartHW", [&] { pairs = session.plugin().StartHW(7050000); }), Strings{});
  EXPECT_EQ(pairs, 1024);
  EXPECT_FALSE(session.plugin().stream().IsStreaming());
  EXPECT_EQ(session.resources().live_rings.load(), 0) << "the ring was kept";
  for (const auto& line : session.NewCalls()) {
    EXPECT_NE(line.entry, "StartAsyncInput") << "the device was started without a stream to take it";
    if (line.entry == "Sio") {
      EXPECT_EQ(line["streaming"], "0");
    }
  }
  EXPECT_EQ(session.Step("StopHW", [&] { session.plugin().StopHW(); }), Strings{});
  (session.resources().*fault.refusal) = false;
  session.ExpectNormalSession();
}

INSTANTIATE_TEST_SUITE_P(Refusals, StreamResourceFaultTest, ::testing::Range(0, 3),
                         [](const ::testing::TestParamInfo<int>& index) { return kStreamFaults[index.param].name; });

}  // namespace
}  // namespace halvorn::reliability
