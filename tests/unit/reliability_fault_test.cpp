// Fault injection: every device entry missing and failing at every point of a
// host's session where the plug-in calls it, the recorder's files failing at
// each step of a recording, and the stream's resources refused. Each fault
// gives the user its message or nothing, the entry points return their usual
// values, nothing hangs, and once the fault is gone the same plug-in streams
// and records correctly again.
//
// The matrix of device faults and the walk through it are shared with the
// Wine tests of the real DLL (tests/support/fault_matrix.h, fault_walk.h);
// the test prints the matrix as it found it. The recorder's and the stream's
// faults can only be injected natively.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "panel/control_ids.h"
#include "panel/control_panel.h"
#include "receiver/sample_rate_table.h"
#include "ports/platform_kit.h"
#include "tests/support/counting_host.h"
#include "tests/support/fault_walk.h"
#include "tests/support/hiding_loader.h"
#include "tests/support/native_plugin.h"
#include "tests/support/forwarding_kit.h"
#include "tests/support/panel_controls.h"
#include "tests/support/recording_checks.h"
#include "tests/support/sanitizers.h"

namespace halvorn::reliability {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr int kTwoMegaRow = receiver::kTwoMegaSampleIndex;

constexpr std::chrono::seconds kStepBound{kSanitized ? 120 : 30};

// ---- Stream resources that can be refused -------------------------------------------

class RefusingKit final : public testing::ForwardingKit {
 public:
  std::unique_ptr<WakeEvent> CreateWakeEvent() override {
    return refuse_event ? nullptr : ForwardingKit::CreateWakeEvent();
  }
  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    return refuse_thread ? nullptr : ForwardingKit::StartWorker(procedure, argument);
  }
  void* Allocate(std::size_t bytes) override {
    if (refuse_ring) return nullptr;
    ++live_rings;
    return ForwardingKit::Allocate(bytes);
  }
  void Free(void* memory) override {
    --live_rings;
    ForwardingKit::Free(memory);
  }

  std::atomic<bool> refuse_event{false};
  std::atomic<bool> refuse_thread{false};
  std::atomic<bool> refuse_ring{false};
  std::atomic<int> live_rings{0};
};

// ---- One plug-in, driven as a host and a user drive it --------------------------------

// The native plug-in under test with every fault at hand: entries hidden or
// the library absent, stream resources refused, recording files failing.
class FaultSession {
 public:
  explicit FaultSession(const std::string& label, std::uint32_t max_data_bytes = recorder::kMaxDataBytes)
      : plugin_(Parts(label, max_data_bytes)), walk_(plugin_, label, kStepBound) {}

  FaultWalk& walk() { return walk_; }
  Module& plugin() { return plugin_.module(); }
  panel::ControlPanel& panel() { return plugin().panel(); }
  recorder::Recorder& recorder() { return plugin().recorder(); }
  testing::FakeUserInterface& ui() { return plugin_.ui(); }
  HidingLoader& loader() { return *loader_; }
  RefusingKit& resources() { return *resources_; }
  testing::Faults& file_faults() { return *file_faults_; }
  OrderedDirectory& directory() { return plugin_.directory(); }
  const fs::path& scratch() const { return plugin_.scratch(); }
  CountingHost& host() { return walk_.host(); }

  void Fail(const std::string& entries) { walk_.Fail(entries); }
  Strings Step(const std::string& description, const std::function<void()>& step) {
    return walk_.Step(description, step);
  }
  std::vector<testing::JournalLine> NewCalls() { return walk_.NewCalls(); }
  void Click(int id) { walk_.Click(id); }
  bool Init() { return walk_.Init(); }
  bool WaitForBlocks(std::uint64_t blocks) { return walk_.WaitForBlocks(blocks); }

  // Every fault taken away.
  void ClearFaults() {
    loader().Hide({});
    loader().SetAbsent(false);
    resources().refuse_event = resources().refuse_ring = resources().refuse_thread = false;
    file_faults_->creates_before_failure = -1;
    file_faults_->write_budget = -1;
    file_faults_->fail_write_at = false;
    file_faults_->fail_truncate = false;
  }
  void ExpectNormalSession() {
    walk_.ExpectNormalSession([this] { ClearFaults(); });
  }

 private:
  NativePluginParts Parts(const std::string& label, std::uint32_t max_data_bytes) {
    NativePluginParts parts;
    parts.label = label;
    auto loader = std::make_unique<HidingLoader>();
    loader_ = loader.get();
    parts.loader = std::move(loader);
    auto resources = std::make_unique<RefusingKit>();
    resources_ = resources.get();
    parts.kit = std::move(resources);
    parts.file_faults = file_faults_;
    parts.max_data_bytes = max_data_bytes;
    return parts;
  }

  std::shared_ptr<testing::Faults> file_faults_ = std::make_shared<testing::Faults>();
  HidingLoader* loader_ = nullptr;
  RefusingKit* resources_ = nullptr;
  NativePlugin plugin_;
  FaultWalk walk_;
};

// ---- The device matrix --------------------------------------------------------------

class DeviceFaultMatrix : public ::testing::TestWithParam<Mode> {};

TEST_P(DeviceFaultMatrix, EveryEntryAtEveryPointGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  std::unique_ptr<FaultSession> session;
  RunDeviceFaultMatrix(
      GetParam(),
      [&](const std::string& label, const std::string& missing) -> FaultWalk& {
        session.reset();
        session = std::make_unique<FaultSession>(label);
        if (!missing.empty()) session->loader().Hide({missing});
        return session->walk();
      },
      [&] { session->ClearFaults(); });
}

INSTANTIATE_TEST_SUITE_P(Modes, DeviceFaultMatrix, ::testing::Values(Mode::kMissing, Mode::kFailing),
                         [](const ::testing::TestParamInfo<Mode>& mode) {
                           return mode.param == Mode::kMissing ? "Missing" : "Failing";
                         });

TEST(DeviceFaultTest, WithoutTheLibraryInitHwSaysSoAndEveryBitstreamLoadSaysItsMessage) {
  FaultSession session("library missing");
  session.loader().SetAbsent(true);
  const FaultWalk::PointHook nothing = [](Point) {};
  session.walk().Walk(nothing, nothing, [&](Point point, const PointResult& result) {
    session.walk().CheckWithoutLibrary(point, result);
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
    session.plugin().SetCallback(&CountingHost::Callback);
    ASSERT_EQ(session.plugin().StartHW(7050000), kBlockPairs);
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
    ASSERT_EQ(session.plugin().StartHW(7050000), kBlockPairs);
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
    session.plugin().SetCallback(&CountingHost::Callback);
    ASSERT_EQ(session.plugin().StartHW(7050000), kBlockPairs);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 4));
    session.plugin().StopHW();
  });
  session.NewCalls();
  std::int32_t pairs = 0;
  EXPECT_EQ(session.Step("2 MS/s, StartHW", [&] {
    session.Click(panel::RateButtonFor(kTwoMegaRow));
    pairs = session.plugin().StartHW(7050000);
  }), Strings{});
  // Nothing streams, and the host is told so.
  EXPECT_EQ(pairs, -1);
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
    session.plugin().SetCallback(&CountingHost::Callback);
    if (row != 0) session.Click(panel::RateButtonFor(row));
    ASSERT_EQ(session.plugin().StartHW(7050000), kBlockPairs);
    ASSERT_TRUE(session.WaitForBlocks(session.host().blocks() + 1));
  });
}

void ExpectIdlePanel(FaultSession& session) {
  for (int id : ReceiverSettingControls()) EXPECT_TRUE(session.ui().control(id).enabled) << id;
  EXPECT_TRUE(session.ui().control(panel::kRecButton).enabled);
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
       s.file_faults().write_budget = 20 * kBlockBytes + 1000;
       ASSERT_TRUE(s.WaitForBlocks(s.host().blocks() + 40));
       const Strings shown = s.Step("timer tick", [&] { s.panel().OnTimer(); });
       ASSERT_EQ(shown.size(), 1u);
       EXPECT_EQ(shown[0].rfind("Recording stopped: writing to", 0), 0u) << shown[0];
       EXPECT_EQ(s.host().TakeStatuses(), (std::vector<int>{102, 103}));
       // The file keeps what reached it, cut to whole pairs, and says so.
       RecordingContents contents;
       EXPECT_TRUE(ReadCountingRecording(s.scratch().string(), s.directory().created(), contents, true));
       EXPECT_EQ(contents.blocks, 20u);
       ASSERT_EQ(contents.files.size(), 1u);
       EXPECT_EQ(contents.files[0].bytes.size(),
                 kRecordingHeaderBytes + 20 * kBlockBytes + 1000 / kPairBytes * kPairBytes);
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
       EXPECT_TRUE(ReadCountingRecording(s.scratch().string(), s.directory().created(), contents));
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
    EXPECT_TRUE(ReadCountingRecording(session.scratch().string(), kept, contents, true));
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
  std::atomic<bool> RefusingKit::*refusal;
};

class StreamResourceFaultTest : public ::testing::TestWithParam<int> {};

const StreamFault kStreamFaults[] = {
    {"ring_memory", &RefusingKit::refuse_ring},
    {"wake_event", &RefusingKit::refuse_event},
    {"delivery_thread", &RefusingKit::refuse_thread},
};

TEST_P(StreamResourceFaultTest, StartHwFailsSilentlyIdleAndTheNextStartStreams) {
  const StreamFault& fault = kStreamFaults[GetParam()];
  FaultSession session(std::string("refused ") + fault.name);
  session.Step("open", [&] {
    ASSERT_TRUE(session.Init());
    ASSERT_TRUE(session.plugin().OpenHW());
    session.plugin().SetCallback(&CountingHost::Callback);
  });
  session.NewCalls();
  (session.resources().*fault.refusal) = true;
  std::int32_t pairs = 0;
  EXPECT_EQ(session.Step("StartHW", [&] { pairs = session.plugin().StartHW(7050000); }), Strings{});
  EXPECT_EQ(pairs, -1);
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
