// Fault injection through the real DLL under Wine: every device entry taken
// out of the simulated library (HALVORNSIM_MISSING) and failing
// (HALVORNSIM_FAIL) at every point of a host's session where the plug-in
// calls it, and the library missing altogether. The points and what each
// failure shows the user are the matrix the native test runs too
// (tests/unit/reliability_checks.h). After every fault the same plug-in,
// with the fault gone, streams and records correctly.
#include <map>

#include "tests/unit/reliability_checks.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

using namespace std::chrono_literals;
namespace rel = reliability;
using Strings = std::vector<std::string>;

constexpr int kAdcPreamp = 1018;
constexpr int kAdcDither = 1019;
constexpr int kClockCalibrate = 1020;
constexpr int kPreselector = 1026;

class WineDeviceFaults : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    if (HasFatalFailure()) return;
    SetSimulator("HALVORNSIM_SOURCE", "counting");
    SetSimulator("HALVORNSIM_PACING", "realtime");
  }
  void TearDown() override {
    SetSimulator("HALVORNSIM_MISSING", "");
    SetSimulator("HALVORNSIM_FAIL", "");
    UseSimulator(true);
    RecordingTest::TearDown();
  }

  // A freshly loaded plug-in, and a simulated library that will load afresh
  // at the next InitHW, so that HALVORNSIM_MISSING takes effect.
  void FreshPlugin(const std::string& label, const std::string& missing) {
    label_ = label;
    if (plugin_) {
      plugin_->StopHW();
      plugin_->CloseHW();
      plugin_.reset();
    }
    // The library's input thread holds it until it has ended.
    ASSERT_TRUE(PumpUntil([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000))
        << label << ": the simulated library stays loaded";
    SetSimulator("HALVORNSIM_MISSING", missing);
    SetSimulator("HALVORNSIM_FAIL", "");
    journal_.Clear();
    follower_ = std::make_unique<rel::JournalFollower>(journal_.path());
    boxes_.Clear();
    host_.Reset();
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
    ASSERT_TRUE(plugin_) << error;
    watchdog_ = std::make_unique<rel::Watchdog>("Wine fault walk " + label, std::chrono::seconds(60));
    step_ = 0;
  }

  // Runs one step under the watchdog; the message boxes it showed.
  Strings Step(const std::string& description, const std::function<void()>& step) {
    const std::size_t seen_before = boxes_.seen().size();
    watchdog_->Begin(++step_, label_ + ": " + description);
    step();
    watchdog_->End();
    Strings shown;
    const auto seen = boxes_.seen();
    for (std::size_t i = seen_before; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].title, "Halvorn DLL for Winrad") << label_ << ": " << description;
      shown.push_back(seen[i].text);
    }
    return shown;
  }

  bool InitReceiver() {
    char name[64] = {};
    char model[64] = {};
    int type = 0;
    return plugin_->InitHW(name, model, &type);
  }

  void Click(int id) {
    ASSERT_TRUE(IsWindowEnabled(Control(id))) << label_ << ": control " << id << " is disabled";
    SendMessageA(Control(id), BM_CLICK, 0, 0);
  }

  struct PointResult {
    Strings shown;
    bool usual_result = true;
    std::vector<testing::JournalLine> calls;
  };

  // The session's points in order; `around(point, true)` before each point
  // and `around(point, false)` after it.
  void Walk(const std::function<void(rel::Point, bool)>& around,
            const std::function<void(rel::Point, const PointResult&)>& check) {
    for (int p = 0; p < rel::kPointCount && !HasFatalFailure(); ++p) {
      const auto point = static_cast<rel::Point>(p);
      Step(std::string("prepare ") + rel::kPointNames[point], [&] {
        switch (point) {
          case rel::kSetHWLO: Click(kFirstRateButton + 1); break;
          case rel::kStartHW:
            Click(kFirstRateButton);
            plugin_->SetCallback(&rel::HostSide::Callback);
            break;
          case rel::kCalibrateClick:
            plugin_->TuneChanged(7050300);
            Click(kFirstRateButton + 8);
            break;
          default: break;
        }
      });
      follower_->NewLines();
      around(point, true);
      PointResult result;
      result.shown = Step(rel::kPointNames[point], [&] {
        switch (point) {
          case rel::kInitHW:
          case rel::kInitHWWhileStreaming: result.usual_result = InitReceiver(); break;
          case rel::kOpenHW: result.usual_result = plugin_->OpenHW(); break;
          case rel::kSetHWLO: result.usual_result = plugin_->SetHWLO(7100000) == 0; break;
          case rel::kStartHW:
          case rel::kRestartHW:
          case rel::kStartHWAgain: result.usual_result = plugin_->StartHW(7050000) == 1024; break;
          case rel::kAttenuatorClick: Click(1004); break;
          case rel::kDitherClick: Click(kAdcDither); break;
          case rel::kPreampClick: Click(kAdcPreamp); break;
          case rel::kPreselectorOffClick:
          case rel::kPreselectorOnClick: Click(kPreselector); break;
          case rel::kCalibrateClick: Click(kClockCalibrate); break;
          case rel::kRateClick: Click(kFirstRateButton + 2); break;
          case rel::kRecClick: Click(kRecButton); break;
          case rel::kTimerTick: SendMessageA(Dialog(), WM_TIMER, 1, 0); break;
          case rel::kStopClick: Click(kStopButton); break;
          case rel::kStopHW: plugin_->StopHW(); break;
          case rel::kCloseHWWhileStreaming: result.usual_result = plugin_->CloseHW(); break;
          case rel::kPointCount: break;
        }
      });
      around(point, false);
      result.calls = follower_->NewLines();
      check(point, result);
      host::PumpMessagesFor(20);
    }
  }

  void CheckCell(const std::string& entry, rel::Mode mode, rel::Point point, rel::Seen expected,
                 const PointResult& result, std::vector<rel::Cell>& cells) {
    SCOPED_TRACE(label_ + " at " + rel::kPointNames[point]);
    if (expected == rel::kShowsBitstreamMessage) {
      EXPECT_EQ(result.shown, Strings{std::string(rel::kBitstreamMessage)});
    } else {
      EXPECT_EQ(result.shown, Strings{});
    }
    EXPECT_EQ(result.usual_result, expected != rel::kInitHWFails);
    bool reached = false;
    bool injected = false;
    for (const auto& line : result.calls) {
      if (line.entry != entry) continue;
      reached = true;
      injected = injected || line["injected"] == "fail";
    }
    if (mode == rel::Mode::kMissing) {
      EXPECT_FALSE(reached) << "a missing entry was called";
    } else {
      EXPECT_EQ(injected, expected != rel::kNotCalled) << "the matrix and the plug-in disagree on " << entry;
    }
    cells.push_back({entry, mode, point, expected, result.shown});
  }

  // The same plug-in with the fault gone: 2 MS/s streamed and recorded
  // without a message.
  void ExpectNormalSession() {
    SCOPED_TRACE(label_ + ": the session after the fault");
    UseSimulator(true);
    SetSimulator("HALVORNSIM_FAIL", "");
    Step("recovery: StopHW, CloseHW", [&] {
      plugin_->StopHW();
      plugin_->CloseHW();
    });
    ASSERT_TRUE(PumpUntil([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000));
    SetSimulator("HALVORNSIM_MISSING", "");
    follower_->NewLines();
    const Strings before = FilesIn(scratch_->path());
    const std::uint64_t streams = host_.streams();
    host_.TakeStatuses();
    EXPECT_EQ(Step("recovery: a session at 2 MS/s with a recording", [&] {
                ASSERT_TRUE(InitReceiver());
                ASSERT_TRUE(plugin_->OpenHW());
                plugin_->SetCallback(&rel::HostSide::Callback);
                Click(kFirstRateButton + kTwoMegaRow);
                ASSERT_EQ(plugin_->StartHW(7050000), 1024);
                ASSERT_TRUE(PumpUntil([&] { return host_.blocks() > 0; }, 10000)) << "no blocks";
                Click(kRecButton);
                const std::uint64_t recorded_from = host_.blocks();
                ASSERT_TRUE(PumpUntil([&] { return host_.blocks() >= recorded_from + 64; }, 10000)) << "no blocks";
                Click(kStopButton);
                plugin_->StopHW();
              }),
              Strings{});
    EXPECT_EQ(host_.TakeStatuses(), (std::vector<int>{100, 102, 103}));
    EXPECT_EQ(host_.faults(), Strings{});
    EXPECT_EQ(host_.streams(), streams + 1) << "the stream did not start afresh";
    const Strings now = FilesIn(scratch_->path());
    Strings made;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(made));
    ASSERT_EQ(made.size(), 1u);
    rel::RecordingContents contents;
    ASSERT_TRUE(rel::ReadRecording(scratch_->path(), made, contents));
    EXPECT_EQ(contents.files[0].row(), kTwoMegaRow);
    EXPECT_GE(contents.blocks, 64u);
    EXPECT_LE(contents.skipped_pairs, host_.missing_pairs());
    bool started = false;
    for (const auto& line : follower_->NewLines()) {
      if (line.entry == "StartAsyncInput") started = line["result"] == "1";
    }
    EXPECT_TRUE(started) << "the device's input did not start";
  }

  void RunMatrix(rel::Mode mode);

  rel::HostSide& host_ = rel::HostSide::Instance();
  std::unique_ptr<rel::JournalFollower> follower_;
  std::unique_ptr<rel::Watchdog> watchdog_;
  std::string label_;
  int step_ = 0;
};

// Every entry missing or failing, walk by walk; the matrix as found.
void WineDeviceFaults::RunMatrix(rel::Mode mode) {
  std::vector<rel::Cell> cells;
  for (const rel::EntryCalls& row : rel::kCalls) {
    const std::string entry = row.entry;
    if (mode == rel::Mode::kMissing) {
      ASSERT_NO_FATAL_FAILURE(FreshPlugin(entry + " missing", entry));
      Walk([](rel::Point, bool) {},
           [&](rel::Point point, const PointResult& result) {
             CheckCell(entry, mode, point, rel::SeenAt(row, point), result, cells);
           });
      ExpectNormalSession();
    } else {
      // Failing at each point that calls it, one walk per point; an entry
      // never called fails throughout one walk.
      std::vector<std::optional<rel::Point>> faulted_points;
      for (const auto& [point, seen] : row.calls) faulted_points.emplace_back(point);
      if (faulted_points.empty()) faulted_points.emplace_back(std::nullopt);
      for (const std::optional<rel::Point>& faulted : faulted_points) {
        ASSERT_NO_FATAL_FAILURE(FreshPlugin(
            entry + " failing" + (faulted ? std::string(" at ") + rel::kPointNames[*faulted] : std::string()), ""));
        if (!faulted) SetSimulator("HALVORNSIM_FAIL", entry);
        Walk(
            [&](rel::Point point, bool before) {
              if (faulted) SetSimulator("HALVORNSIM_FAIL", before && point == *faulted ? entry : "");
            },
            [&](rel::Point point, const PointResult& result) {
              if (!faulted || point == *faulted) {
                CheckCell(entry, mode, point, faulted ? rel::SeenAt(row, point) : rel::kNotCalled, result, cells);
              } else {
                EXPECT_EQ(result.shown, Strings{}) << label_ << ", then " << rel::kPointNames[point];
              }
            });
        ExpectNormalSession();
      }
    }
    if (HasFatalFailure()) break;
  }
  std::printf("%s", rel::Render(cells).c_str());
}

TEST_F(WineDeviceFaults, EveryMissingEntryGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  RunMatrix(rel::Mode::kMissing);
}

TEST_F(WineDeviceFaults, EveryEntryFailingAtEachPointGivesItsMessageOrNothingAndTheSessionAfterIsNormal) {
  RunMatrix(rel::Mode::kFailing);
}

class WineLibraryMissing : public WineDeviceFaults {};

TEST_F(WineLibraryMissing, InitHwSaysSoOnceEachTimeAndEveryBitstreamLoadSaysItsMessage) {
  ASSERT_NO_FATAL_FAILURE(FreshPlugin("library missing", ""));
  UseSimulator(false);
  Walk([](rel::Point, bool) {},
       [&](rel::Point point, const PointResult& result) {
         SCOPED_TRACE(std::string("library missing at ") + rel::kPointNames[point]);
         if (point == rel::kInitHW || point == rel::kInitHWWhileStreaming) {
           EXPECT_EQ(result.shown, Strings{std::string(rel::kLibraryMessage)});
           EXPECT_FALSE(result.usual_result);
         } else if (rel::SeenAt(rel::CallsOf("FpgaConfig"), point) == rel::kShowsBitstreamMessage) {
           EXPECT_EQ(result.shown, Strings{std::string(rel::kBitstreamMessage)});
           EXPECT_TRUE(result.usual_result);
         } else {
           EXPECT_EQ(result.shown, Strings{});
           EXPECT_EQ(result.usual_result, point != rel::kCloseHWWhileStreaming);
         }
         EXPECT_TRUE(result.calls.empty());
       });
  ExpectNormalSession();
}

}  // namespace
}  // namespace halvorn::wine_tests
