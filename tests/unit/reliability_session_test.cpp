// Randomised host sessions: a seeded generator plays a host and a user at
// once against the core assembled as the module assembles it, with the
// simulated receiver loaded as a shared object sending the counting pattern.
// It calls the thirteen entry points and the panel's handlers in any order
// with hostile arguments, acts from inside the host callback, and checks
// after every step what the host, the receiver, the panel and the recordings
// must show. A watchdog ends the run, with the seed and the last steps, when
// a step does not come back.
//
// Replay one seed:  HALVORN_SESSION_SEEDS=1234 reliability_tests --gtest_filter='*Session*'
// More steps:       HALVORN_SESSION_STEPS=20000
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <unordered_set>

#include "panel/control_ids.h"
#include "panel/control_panel.h"
#include "receiver/control_record.h"
#include "tests/unit/recorder_test_support.h"
#include "tests/unit/reliability_test_support.h"

namespace halvorn::reliability {
namespace {

using namespace std::chrono_literals;

constexpr int kSettingControls[] = {1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                                    1011, 1012, 1013, 1014, 1018, 1019, 1020, 1026};

// ---- Seeds and steps -------------------------------------------------------------------

std::vector<std::uint32_t> SessionSeeds() {
  std::vector<std::uint32_t> seeds;
  if (const char* text = std::getenv("HALVORN_SESSION_SEEDS")) {
    std::stringstream list(text);
    std::string seed;
    while (std::getline(list, seed, ',')) {
      if (!seed.empty()) seeds.push_back(static_cast<std::uint32_t>(std::stoul(seed)));
    }
  }
  if (seeds.empty()) seeds = {1, 2, 3, 4};
  return seeds;
}

int StepsPerSeed() {
  if (const char* text = std::getenv("HALVORN_SESSION_STEPS")) return std::atoi(text);
  return kSanitized ? 700 : 2500;
}

// Seeds divisible by 4 run the simulator unpaced: transfers as fast as the
// plug-in takes them, so the ring fills and drops.
bool Unpaced(std::uint32_t seed) { return seed % 4 == 0; }

// ---- What the plug-in must be doing, as the host and user drove it ----------------------

struct Model {
  bool library_loaded = false;
  // No bitstream may be loaded in the device yet: a stream start may be refused.
  bool maybe_no_bitstream = true;
  // A control record reached the device since it was loaded.
  bool device_record_known = false;
  bool first_init = true;
  std::int32_t host_lo = 7050000;

  std::int32_t lo = 0;
  std::int32_t last_tuned = 0;
  std::int32_t clock = 80000000;
  int row = 0;
  bool reload_pending = false;
  bool preselector = false;
  bool preamp = false;
  bool dither = false;
  int attenuator = 0;

  std::uint8_t flags = 0;
  std::uint32_t nco = 0;

  bool streaming = false;
  bool input_running = false;
  bool callback_registered = false;
  bool recording = false;

  bool settings_enabled = true;
  bool stop_enabled = true;
  bool rec_enabled = true;

  int messages = 0;
};

class SessionRun {
 public:
  SessionRun(std::uint32_t seed, int steps)
      : seed_(seed),
        steps_(steps),
        rng_(seed),
        journal_path_(testing::NewJournalPath("seed" + std::to_string(seed))),
        journal_(journal_path_),
        watchdog_("seed " + std::to_string(seed) + " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(seed) + ")",
                  std::chrono::seconds(kSanitized ? 120 : 30)) {
    settings_.Set("HALVORNSIM_JOURNAL", journal_path_);
    settings_.Set("HALVORNSIM_SOURCE", "counting");
    settings_.Set("HALVORNSIM_PACING", Unpaced(seed) ? "unpaced" : "realtime");
    settings_.Set("HALVORNSIM_FAIL", "");
    host_.Reset();
    // A slow host makes an unpaced ring overflow without a busy disk.
    if (Unpaced(seed)) host_.SetBlockDelay(500);

    auto directory = std::make_unique<OrderedDirectory>(recorder::MakePlatformRecordingDirectory(scratch_.path()));
    directory_ = directory.get();
    recorder::RecorderOptions options;
    options.directory = std::move(directory);
    // Half the seeds keep files small, so recordings go on in new files.
    if (seed % 2 == 1) options.max_data_bytes = 1000000;
    module_ = std::make_unique<testing::NativeModule>(testing::SimulatorDirectory(), nullptr, nullptr,
                                                      std::move(options));
  }

  ~SessionRun() {
    module_.reset();
    host_.SetBlockDelay(0);
  }

  void Run() {
    for (step_ = 1; step_ <= steps_ && !::testing::Test::HasFatalFailure(); ++step_) {
      const bool streaming_before = model_.streaming;
      const std::uint64_t dropped_before = plugin().stream().dropped_blocks();
      OneStep();
      if (model_.streaming && !streaming_before) dropped_at_stream_start_ = dropped_before;
      CheckInvariants();
      if (::testing::Test::HasFailure()) break;
    }
    if (::testing::Test::HasFailure()) return;
    Finish();
  }

 private:
  // ---- Steps --------------------------------------------------------------------------

  enum Kind {
    kInitHW, kOpenHW, kStartHW, kStopHW, kCloseHW, kSetHWLO, kGetHWLO, kGetHWSR, kGetStatus, kSetCallback,
    kShowGUI, kHideGUI, kTuneChanged, kAttenuator, kRate, kCheckBox, kCalibrate, kRec, kStop, kTimer,
    kStrayClick, kInCallback, kStall, kConcurrent, kRun, kKindCount
  };

  // Any step can come at any time, but a host mostly keeps a receiver open
  // and streaming with its callback registered, so the weights lean there.
  Kind PickKind() {
    int weights[kKindCount] = {1, 3, 3, 3, 1, 8, 2, 2, 1, 1, 1, 1, 5, 4, 6, 6, 4, 5, 5, 5, 1, 6, 1, 3, 16};
    if (!model_.library_loaded) weights[kInitHW] = 12;
    if (!model_.callback_registered) weights[kSetCallback] = 10;
    if (!model_.streaming) weights[kStartHW] = 12;
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    return static_cast<Kind>(pick(rng_));
  }

  void OneStep() {
    switch (PickKind()) {
      case kInitHW: return DoInitHW();
      case kOpenHW: return DoOpenHW();
      case kStartHW: return DoStartHW(HostileFrequency());
      case kStopHW: return DoStopHW();
      case kCloseHW: return DoCloseHW();
      case kSetHWLO: return DoSetHWLO(HostileFrequency());
      case kGetHWLO:
        Begin("GetHWLO");
        EXPECT_EQ(plugin().GetHWLO(), model_.host_lo) << Where();
        return End();
      case kGetHWSR:
        Begin("GetHWSR");
        EXPECT_EQ(plugin().GetHWSR(), kRatesHz[model_.row]) << Where();
        return End();
      case kGetStatus:
        Begin("GetStatus");
        EXPECT_EQ(plugin().GetStatus(), 0) << Where();
        return End();
      case kSetCallback: return DoSetCallback(!model_.callback_registered || Chance(0.3) ? Chance(0.9) : false);
      case kShowGUI:
        Begin("ShowGUI");
        plugin().ShowGUI();
        return End();
      case kHideGUI:
        Begin("HideGUI");
        plugin().HideGUI();
        return End();
      case kTuneChanged: return DoTuneChanged(TunedFrequency());
      case kAttenuator: return DoClick(panel::kAttenuator0dB + Uniform(0, 3));
      case kRate: return DoClick(panel::kFirstRateButton + Uniform(0, 8));
      case kCheckBox: {
        static constexpr int kBoxes[] = {panel::kAdcPreamp, panel::kAdcDither, panel::kPreselector};
        return DoClick(kBoxes[Uniform(0, 2)]);
      }
      case kCalibrate: return DoClick(panel::kClockCalibrate);
      case kRec: return DoClick(panel::kRecButton);
      case kStop: return DoClick(panel::kStopButton);
      case kTimer: return DoTimer();
      case kStrayClick: {
        static constexpr int kStray[] = {INT_MIN, -1, 0, 1, 1000, 1001, 1015, 1016, 1017, 1023, 1024, 1025, 1027,
                                         INT_MAX};
        return DoClick(kStray[Uniform(0, static_cast<int>(std::size(kStray)) - 1)]);
      }
      case kInCallback: return DoInCallback();
      case kStall: return DoStall();
      case kConcurrent: return DoConcurrent();
      case kRun: return DoRun(Uniform(1, 40));
      case kKindCount: break;
    }
  }

  void DoInitHW() {
    const bool null_buffers = Chance(0.2);
    Begin(null_buffers ? "InitHW(null, null, null)" : "InitHW(buffers)");
    char name[64];
    char model_name[64];
    std::memset(name, 'x', sizeof name);
    std::memset(model_name, 'x', sizeof model_name);
    int type = -1;
    const bool ready = null_buffers ? plugin().InitHW(nullptr, nullptr, nullptr) : plugin().InitHW(name, model_name, &type);
    End();
    EXPECT_TRUE(ready) << Where();
    if (!null_buffers) {
      EXPECT_STREQ(name, "Halvorn HF Receiver") << Where();
      EXPECT_STREQ(model_name, "Halvorn v1.0") << Where();
      EXPECT_EQ(type, 5) << Where();
    }
    StreamStopped();
    if (!model_.library_loaded) {
      model_.maybe_no_bitstream = true;
      model_.device_record_known = false;
    }
    model_.library_loaded = true;
    if (model_.first_init) {
      // No tuning has reached a receiver before its first opening.
      model_.first_init = false;
      model_.host_lo = 7050000;
      model_.lo = 0;
    }
  }

  void DoOpenHW() {
    Begin("OpenHW");
    const bool opened = plugin().OpenHW();
    End();
    EXPECT_TRUE(opened) << Where();
    model_.attenuator = 0;
    model_.preselector = true;
    model_.dither = true;
    model_.preamp = false;
    // The streaming bit stays the stream's.
    model_.flags = static_cast<std::uint8_t>(receiver::kFlagAdcDither | (model_.streaming ? receiver::kFlagStreaming : 0));
    model_.nco = 0;
    if (!model_.recording) {
      model_.stop_enabled = false;
      model_.rec_enabled = true;
      for (int id : {panel::kFileNameField, panel::kFileSizeField, panel::kRecordingTimeField}) {
        EXPECT_EQ(ui().control(id).text, " ") << Where();
      }
    }
    BitstreamLoaded();
    model_.reload_pending = false;
    EXPECT_EQ(ui().control(panel::kAttenuator0dB).check, 1) << Where();
    EXPECT_EQ(ui().control(panel::kPreselector).check, 1) << Where();
    EXPECT_EQ(ui().control(panel::kAdcDither).check, 1) << Where();
    EXPECT_EQ(ui().control(panel::kAdcPreamp).check, 0) << Where();
    EXPECT_EQ(ui().control(panel::RateButtonFor(model_.row)).check, 1) << Where();
  }

  void DoStartHW(std::int32_t lo_hz) {
    AllowLo(lo_hz);
    Begin("StartHW(" + std::to_string(lo_hz) + ")");
    const std::int32_t pairs = plugin().StartHW(lo_hz);
    End();
    EXPECT_EQ(pairs, 1024) << Where();
    StartedModel(lo_hz);
  }

  // What StartHW does, from either thread.
  void StartedModel(std::int32_t lo_hz) {
    model_.host_lo = lo_hz;
    TunedModel(lo_hz);
    if (!model_.streaming) {
      model_.streaming = true;
      model_.flags |= receiver::kFlagStreaming;
      expected_transfer_bytes_ = kPacketsPerTransfer[model_.row] * 6144;
    }
  }

  void DoStopHW() {
    Begin("StopHW");
    plugin().StopHW();
    End();
    StreamStopped();
  }

  void StreamStopped() {
    if (model_.streaming) model_.flags &= static_cast<std::uint8_t>(~receiver::kFlagStreaming);
    model_.streaming = false;
    model_.input_running = false;
  }

  void DoCloseHW() {
    Begin("CloseHW");
    const bool released = plugin().CloseHW();
    End();
    EXPECT_EQ(released, model_.library_loaded) << Where();
    StreamStopped();
    model_.library_loaded = false;
  }

  void DoSetHWLO(std::int32_t lo_hz) {
    AllowLo(lo_hz);
    Begin("SetHWLO(" + std::to_string(lo_hz) + ")");
    const std::int32_t result = plugin().SetHWLO(lo_hz);
    End();
    EXPECT_EQ(result, ExpectedSetHwLoResult(lo_hz)) << Where();
    RetunedModel(lo_hz);
  }

  static std::int32_t ExpectedSetHwLoResult(std::int32_t lo_hz) {
    return lo_hz > 40000000 ? 1 : lo_hz < 0 ? -1 : 0;
  }
  void RetunedModel(std::int32_t lo_hz) {
    if (ExpectedSetHwLoResult(lo_hz) != 0) return;
    model_.host_lo = lo_hz;
    TunedModel(lo_hz);
  }

  // SetLO: a pending bitstream first, then the NCO word (and the band).
  void TunedModel(std::int32_t lo_hz) {
    if (model_.reload_pending) {
      BitstreamLoaded();
      model_.reload_pending = false;
    }
    model_.lo = lo_hz;
    model_.nco = ExpectedNcoWord(lo_hz, model_.clock);
    allowed_nco_.insert(model_.nco);
  }

  // A bitstream load of the current row: a message when the library is gone.
  void BitstreamLoaded() {
    if (!model_.library_loaded) ++model_.messages;
  }

  void DoSetCallback(bool registered) {
    Begin(registered ? "SetCallback(host)" : "SetCallback(null)");
    if (registered && !model_.callback_registered) host_.Resync();
    plugin().SetCallback(registered ? &HostSide::Callback : nullptr);
    End();
    model_.callback_registered = registered;
  }

  void DoTuneChanged(std::int32_t frequency_hz) {
    Begin("TuneChanged(" + std::to_string(frequency_hz) + ")");
    plugin().TuneChanged(frequency_hz);
    End();
    model_.last_tuned = frequency_hz;
  }

  void DoClick(int id) {
    // An automatic check box has toggled itself (or shows the third state)
    // before the click reaches the handler.
    std::string how;
    if (id == panel::kAdcPreamp || id == panel::kAdcDither || id == panel::kPreselector) {
      if (Chance(0.1)) {
        ui().SetCheckState(id, 2);
        how = " (indeterminate)";
      } else {
        ui().Toggle(id);
      }
    }
    const std::uint64_t dropped_before = plugin().stream().dropped_blocks();
    const std::size_t files_before = directory_->created().size();
    Begin("OnClick(" + std::to_string(id) + ")" + how);
    module_->panel().OnClick(id);
    End();
    const bool on = ui().control(id).check == 1;

    if (id >= panel::kAttenuator0dB && id <= panel::kAttenuator30dB) {
      model_.attenuator = id - panel::kAttenuator0dB;
    } else if (id >= panel::kFirstRateButton && id <= panel::kLastRateButton) {
      const int row = id - panel::kFirstRateButton;
      if (row != model_.row) {
        model_.row = row;
        model_.reload_pending = true;
        if (model_.callback_registered) expected_statuses_.push_back(100);
      }
    } else if (id == panel::kAdcPreamp) {
      model_.preamp = on;
      SetFlag(receiver::kFlagAdcPreamp, on);
    } else if (id == panel::kAdcDither) {
      model_.dither = on;
      SetFlag(receiver::kFlagAdcDither, on);
    } else if (id == panel::kPreselector) {
      model_.preselector = on;
    } else if (id == panel::kClockCalibrate) {
      if (const auto clock = ExpectedCalibratedClock(model_.last_tuned, model_.clock)) {
        model_.clock = *clock;
        TunedModel(model_.lo);
      }
      EXPECT_GT(module_->receiver().state().reference_clock_hz.load(), 0) << Where();
    } else if (id == panel::kRecButton) {
      if (!model_.recording) {
        model_.recording = true;
        if (model_.callback_registered) expected_statuses_.push_back(102);
        recording_first_file_ = files_before;
        // Blocks the ring dropped earlier in the running stream may still
        // leave their gap between blocks waiting in the ring.
        dropped_at_rec_ = model_.streaming ? dropped_at_stream_start_ : dropped_before;
        rec_settings_ = model_;
        const auto created = directory_->created();
        EXPECT_GT(created.size(), files_before) << Where();
        if (created.size() > files_before) {
          EXPECT_EQ(ui().control(panel::kFileNameField).text, created[files_before]) << Where();
        }
        EXPECT_EQ(ui().control(panel::kFileSizeField).text, "0") << Where();
      }
      model_.settings_enabled = false;
      model_.stop_enabled = true;
      model_.rec_enabled = false;
    } else if (id == panel::kStopButton) {
      if (model_.recording) {
        model_.recording = false;
        if (model_.callback_registered) expected_statuses_.push_back(103);
        CheckRecording();
      }
      model_.settings_enabled = true;
      model_.stop_enabled = false;
      model_.rec_enabled = true;
    }
  }

  void SetFlag(std::uint8_t flag, bool on) {
    model_.flags = static_cast<std::uint8_t>(on ? (model_.flags | flag) : (model_.flags & ~flag));
  }

  void DoTimer() {
    Begin("OnTimer");
    module_->panel().OnTimer();
    End();
    if (model_.recording) {
      const std::string size = ui().control(panel::kFileSizeField).text;
      EXPECT_TRUE(!size.empty() && std::all_of(size.begin(), size.end(), ::isdigit)) << Where() << " size \"" << size << "\"";
      const std::string time = ui().control(panel::kRecordingTimeField).text;
      EXPECT_TRUE(!time.empty() && std::all_of(time.begin(), time.end(), ::isdigit)) << Where() << " time \"" << time << "\"";
    }
  }

  // The host acts from inside its callback, on the delivery thread: it stops
  // the stream, stops and starts it again, retunes, starts while streaming,
  // or asks for values.
  void DoInCallback() {
    if (!model_.input_running || !model_.callback_registered) return DoRun(5);
    const int what = Uniform(0, 6);
    const std::int32_t lo_hz = HostileFrequency();
    AllowLo(lo_hz);
    static constexpr const char* kNames[] = {"StopHW",          "StopHW+StartHW", "SetHWLO", "StartHW",
                                             "GetHWLO+GetHWSR", "CloseHW",        "InitHW"};
    Begin(std::string("in callback: ") + kNames[what] + (what == 1 || what == 2 || what == 3 ? "(" + std::to_string(lo_hz) + ")" : ""));
    std::int32_t result = 0;
    std::int32_t rate = 0;
    CallbackAction action;
    action.work = [&] {
      switch (what) {
        case 0: plugin().StopHW(); break;
        case 1:
          plugin().StopHW();
          result = plugin().StartHW(lo_hz);
          break;
        case 2: result = plugin().SetHWLO(lo_hz); break;
        case 3: result = plugin().StartHW(lo_hz); break;
        case 4:
          result = plugin().GetHWLO();
          rate = plugin().GetHWSR();
          break;
        case 5: result = plugin().CloseHW() ? 1 : 0; break;
        case 6: result = plugin().InitHW(nullptr, nullptr, nullptr) ? 1 : 0; break;
      }
    };
    const bool ran = host_.RunInCallback(action, std::chrono::seconds(kSanitized ? 30 : 10));
    End();
    ASSERT_TRUE(ran) << Where() << ": no block reached the host callback while the stream was running";
    switch (what) {
      case 0: StreamStopped(); break;
      case 1:
        StreamStopped();
        EXPECT_EQ(result, 1024) << Where();
        StartedModel(lo_hz);
        break;
      case 2:
        EXPECT_EQ(result, ExpectedSetHwLoResult(lo_hz)) << Where();
        RetunedModel(lo_hz);
        break;
      case 3:
        EXPECT_EQ(result, 1024) << Where();
        StartedModel(lo_hz);
        break;
      case 4:
        EXPECT_EQ(result, model_.host_lo) << Where();
        EXPECT_EQ(rate, kRatesHz[model_.row]) << Where();
        break;
      case 5:
        EXPECT_EQ(result, 1) << Where();
        StreamStopped();
        model_.library_loaded = false;
        break;
      case 6:
        EXPECT_EQ(result, 1) << Where();
        StreamStopped();
        break;
    }
  }

  // A host that holds on to one block for longer than the ring lasts at the
  // fastest rate.
  void DoStall() {
    if (!model_.input_running || !model_.callback_registered) return DoRun(5);
    Begin("in callback: stall 300 ms");
    CallbackAction action;
    action.work = [] { std::this_thread::sleep_for(300ms); };
    const bool ran = host_.RunInCallback(action, std::chrono::seconds(kSanitized ? 30 : 10));
    End();
    ASSERT_TRUE(ran) << Where() << ": no block reached the host callback while the stream was running";
  }

  // A second host thread retunes and asks while the user works the front
  // end: both write the one control record.
  void DoConcurrent() {
    std::vector<std::int32_t> los;
    for (int i = Uniform(1, 6); i > 0; --i) {
      los.push_back(Chance(0.8) ? Uniform(0, 40000000) : HostileFrequency());
      AllowLo(los.back());
    }
    std::vector<int> clicks;
    for (int i = Uniform(1, 6); i > 0; --i) {
      static constexpr int kFrontEnd[] = {panel::kAdcPreamp, panel::kAdcDither, 1002, 1003, 1004, 1005};
      clicks.push_back(kFrontEnd[Uniform(0, 5)]);
    }
    AllowSwitch(panel::kAdcDither, model_.dither);
    AllowSwitch(panel::kAdcPreamp, model_.preamp);
    std::string description = "concurrently: SetHWLO";
    for (std::int32_t lo : los) description += " " + std::to_string(lo);
    description += " / OnClick";
    for (int id : clicks) description += " " + std::to_string(id);
    Begin(description);
    std::vector<std::int32_t> results(los.size());
    std::thread host_thread([&] {
      for (std::size_t i = 0; i < los.size(); ++i) {
        results[i] = plugin().SetHWLO(los[i]);
        plugin().GetHWLO();
        plugin().GetHWSR();
      }
    });
    for (int id : clicks) {
      if (id == panel::kAdcPreamp || id == panel::kAdcDither) {
        ui().Toggle(id);
        const bool on = ui().control(id).check == 1;
        AllowSwitch(id, on);
      }
      module_->panel().OnClick(id);
    }
    host_thread.join();
    End();
    for (std::size_t i = 0; i < los.size(); ++i) {
      EXPECT_EQ(results[i], ExpectedSetHwLoResult(los[i])) << Where() << " SetHWLO(" << los[i] << ")";
      RetunedModel(los[i]);
    }
    for (int id : clicks) {
      if (id == panel::kAdcPreamp) {
        model_.preamp = ui().control(id).check == 1;
        SetFlag(receiver::kFlagAdcPreamp, model_.preamp);
      } else if (id == panel::kAdcDither) {
        model_.dither = ui().control(id).check == 1;
        SetFlag(receiver::kFlagAdcDither, model_.dither);
      } else {
        model_.attenuator = id - panel::kAttenuator0dB;
      }
    }
  }

  // The stream runs on its own for a while; a running stream with a host
  // listening must deliver.
  void DoRun(int milliseconds) {
    Begin("run " + std::to_string(milliseconds) + " ms");
    const std::uint64_t before = host_.blocks();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    if (model_.input_running && model_.callback_registered) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSanitized ? 30 : 10);
      while (host_.blocks() == before && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
      EXPECT_GT(host_.blocks(), before) << Where() << ": a running stream delivered nothing";
    }
    End();
  }

  // ---- Checks ---------------------------------------------------------------------

  void CheckInvariants() {
    for (const std::string& fault : host_.faults()) ADD_FAILURE() << Where() << ": host saw " << fault;
    if (!host_.faults().empty()) return;

    const auto errors = ui().errors();
    ui().ClearEvents();
    module_->trace.Clear();
    shown_messages_ += static_cast<int>(errors.size());
    for (const auto& text : errors) EXPECT_EQ(text, kBitstreamMessage) << Where();
    EXPECT_EQ(shown_messages_, model_.messages) << Where() << ": messages shown";

    for (int status : host_.TakeStatuses()) received_statuses_.push_back(status);
    EXPECT_EQ(received_statuses_, expected_statuses_) << Where() << ": status calls";

    const receiver::ReceiverState& state = module_->receiver().state();
    EXPECT_EQ(state.tuned_lo_hz(), model_.lo) << Where();
    EXPECT_EQ(state.last_tuned_hz.load(), model_.last_tuned) << Where();
    EXPECT_EQ(state.reference_clock_hz.load(), model_.clock) << Where();
    EXPECT_EQ(state.sample_rate_index.load(), model_.row) << Where();
    EXPECT_EQ(state.fpga_reload_pending.load(), model_.reload_pending ? 1 : 0) << Where();
    EXPECT_EQ(state.preselector_on.load(), model_.preselector ? 1 : 0) << Where();
    EXPECT_EQ(state.adc_preamp_on.load(), model_.preamp ? 1 : 0) << Where();
    EXPECT_EQ(state.adc_dither_on.load(), model_.dither ? 1 : 0) << Where();
    EXPECT_EQ(state.attenuator_step.load(), model_.attenuator) << Where();

    const receiver::ControlRecord record = module_->plugin().control_record().Current();
    EXPECT_EQ(static_cast<int>(record.flags), static_cast<int>(model_.flags)) << Where() << ": control record flags";
    EXPECT_EQ(record.nco_word, model_.nco) << Where() << ": control record NCO word";
    EXPECT_EQ(plugin().stream().IsStreaming(), model_.streaming) << Where();
    EXPECT_EQ(module_->recorder().IsRecording(), model_.recording) << Where();

    for (int id : kSettingControls) EXPECT_EQ(ui().control(id).enabled, model_.settings_enabled) << Where() << " control " << id;
    EXPECT_EQ(ui().control(panel::kStopButton).enabled, model_.stop_enabled) << Where() << " Stop";
    EXPECT_EQ(ui().control(panel::kRecButton).enabled, model_.rec_enabled) << Where() << " Rec";

    CheckJournal();
    switch_values_.clear();
  }

  // Every call the device received is one the session's writers produced.
  void CheckJournal() {
    for (const testing::JournalLine& line : journal_.NewLines()) {
      const std::string& entry = line.entry;
      if (entry == "Sio") {
        EXPECT_EQ(line["length"], "5") << Where();
        EXPECT_EQ(line["result"], "") << Where() << ": Sio refused record " << line["record"];
        const std::string& hex = line["record"];
        ASSERT_EQ(hex.size(), 10u) << Where();
        std::uint8_t bytes[5];
        for (int i = 0; i < 5; ++i) bytes[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        const receiver::ControlRecord sent = receiver::DecodeControlRecord(bytes);
        EXPECT_EQ(sent.flags & ~0x07, 0) << Where() << ": flags " << hex;
        EXPECT_TRUE(SwitchAllowed(panel::kAdcDither, (sent.flags & receiver::kFlagAdcDither) != 0))
            << Where() << ": dither bit in " << hex;
        EXPECT_TRUE(SwitchAllowed(panel::kAdcPreamp, (sent.flags & receiver::kFlagAdcPreamp) != 0))
            << Where() << ": preamp bit in " << hex;
        EXPECT_TRUE(sent.nco_word == 0 || allowed_nco_.count(sent.nco_word))
            << Where() << ": NCO word " << hex << " is none the plug-in computed";
        last_sent_ = sent;
        model_.device_record_known = true;
      } else if (entry == "SetAttenuator") {
        EXPECT_LE(line.Number("step"), 3) << Where();
        EXPECT_EQ(line["result"], "") << Where() << ": attenuator refused";
      } else if (entry == "SetPreselector") {
        const long long setting = line.Number("setting");
        EXPECT_TRUE(setting == 10 || allowed_bands_.count(static_cast<int>(setting)))
            << Where() << ": preselector setting " << setting;
        EXPECT_EQ(line["result"], "") << Where() << ": preselector refused";
      } else if (entry == "FpgaConfig") {
        EXPECT_EQ(line["name"], kBitstreams[model_.row]) << Where();
        EXPECT_EQ(line["result"], "0") << Where() << ": bitstream refused";
        model_.maybe_no_bitstream = false;
      } else if (entry == "StartAsyncInput") {
        EXPECT_EQ(line.Number("bytes"), expected_transfer_bytes_) << Where();
        if (line["result"] == "1") {
          model_.input_running = true;
          ++device_streams_;
        } else {
          EXPECT_EQ(line["refused"], "no_bitstream") << Where() << ": stream start refused";
          EXPECT_TRUE(model_.maybe_no_bitstream) << Where() << ": stream start refused";
        }
      } else if (entry == "StopAsyncInput") {
        EXPECT_EQ(line["result"], "1") << Where();
      } else if (entry == "Open") {
        EXPECT_EQ(line["result"], "1") << Where();
      } else if (entry == "FirmwareDownload") {
        EXPECT_EQ(line["image"], "null") << Where();
        EXPECT_EQ(line["result"], "0") << Where();
      } else if (entry == "Close") {
        EXPECT_EQ(line["result"], "1") << Where();
      } else {
        ADD_FAILURE() << Where() << ": the plug-in called " << entry;
      }
    }
    if (model_.library_loaded && model_.device_record_known) {
      EXPECT_EQ(static_cast<int>(last_sent_.flags), static_cast<int>(model_.flags))
          << Where() << ": the device's last record is not the plug-in's";
      EXPECT_EQ(last_sent_.nco_word, model_.nco) << Where() << ": the device's last record is not the plug-in's";
    }
  }

  // A switch's bit in a record sent during this step may be the value before
  // the step or any the step gave it.
  void AllowSwitch(int id, bool on) { switch_values_[id].insert(on); }
  bool SwitchAllowed(int id, bool on) {
    const bool now = id == panel::kAdcDither ? model_.dither : model_.preamp;
    return on == now || switch_values_[id].count(on) > 0;
  }

  void CheckRecording() {
    const auto created = directory_->created();
    const std::vector<std::string> names(created.begin() + static_cast<std::ptrdiff_t>(recording_first_file_), created.end());
    RecordingContents contents;
    ASSERT_TRUE(ReadRecording(scratch_.path(), names, contents)) << Where();
    ASSERT_FALSE(contents.files.empty()) << Where();
    // The first file carries the settings in force when "Rec" was clicked;
    // a later one, made when the row changed or the file was full, its row.
    const StoredFile& first = contents.files.front();
    EXPECT_EQ(first.lo_hz(), rec_settings_.lo) << Where() << " " << first.name;
    EXPECT_EQ(first.U16(60), rec_settings_.attenuator) << Where();
    EXPECT_EQ(first.bytes[62], rec_settings_.preselector ? 1 : 0) << Where();
    EXPECT_EQ(first.bytes[63], rec_settings_.preamp ? 1 : 0) << Where();
    EXPECT_EQ(first.bytes[64], rec_settings_.dither ? 1 : 0) << Where();
    EXPECT_EQ(first.row(), rec_settings_.row) << Where();
    const std::uint64_t dropped = plugin().stream().dropped_blocks() - dropped_at_rec_;
    EXPECT_LE(contents.skipped_pairs, dropped * kBlockPairs)
        << Where() << ": the recording skips pairs the ring did not drop";
    recorded_blocks_ += contents.blocks;
    recorded_files_ += contents.files.size();
    if (::testing::Test::HasFailure()) {
      const fs::path kept = fs::temp_directory_path() / ("halvorn-session-seed" + std::to_string(seed_));
      fs::create_directories(kept);
      for (const std::string& name : names) fs::rename(scratch_.path() / name, kept / name);
      std::printf("recording kept in %s\n", kept.string().c_str());
      return;
    }
    for (const std::string& name : names) fs::remove(scratch_.path() / name);
  }

  void Finish() {
    if (model_.recording) DoClick(panel::kStopButton);
    Begin("finish: StopHW, CloseHW");
    plugin().StopHW();
    StreamStopped();
    const bool released = plugin().CloseHW();
    End();
    EXPECT_EQ(released, model_.library_loaded) << Where();
    model_.library_loaded = false;
    CheckInvariants();
    EXPECT_TRUE(host_.faults().empty());
    EXPECT_LE(host_.missing_pairs(), plugin().stream().dropped_blocks() * kBlockPairs)
        << "seed " << seed_ << ": the host missed pairs the ring did not drop";
    EXPECT_LE(host_.streams(), device_streams_) << "seed " << seed_ << ": the host saw more streams than started";
    std::printf("seed %u: %d steps, %llu blocks to the host, %llu streams, %llu blocks dropped, %llu blocks in %llu files\n",
                seed_, steps_, static_cast<unsigned long long>(host_.blocks()),
                static_cast<unsigned long long>(device_streams_),
                static_cast<unsigned long long>(plugin().stream().dropped_blocks()),
                static_cast<unsigned long long>(recorded_blocks_), static_cast<unsigned long long>(recorded_files_));
  }

  // ---- Arguments -------------------------------------------------------------------

  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  std::int32_t HostileFrequency() {
    static constexpr std::int32_t kEdges[] = {INT32_MIN, INT32_MAX, -1,       0,        1,        40000000,
                                              40000001,  -40000000, 80000000, 7050000,  14200000, 39999999};
    switch (Uniform(0, 5)) {
      case 0: return kEdges[Uniform(0, static_cast<int>(std::size(kEdges)) - 1)];
      case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
      default: return Uniform(0, 40000000);
    }
  }

  // Tuned frequencies around which calibrations go wrong in every way, and
  // the plausible ones.
  std::int32_t TunedFrequency() {
    static constexpr std::int32_t kOdd[] = {0,    500,  -500, 499,  -499, 501, -501, 1499, -1500, 1,
                                            -1,   1000, 2000, INT32_MAX, INT32_MIN, 10000100, 9999900, 7000500};
    switch (Uniform(0, 3)) {
      case 0: return kOdd[Uniform(0, static_cast<int>(std::size(kOdd)) - 1)];
      case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
      default: return model_.lo + Uniform(-3000, 3000);
    }
  }

  void AllowLo(std::int32_t lo_hz) {
    allowed_bands_.insert(ExpectedBand(lo_hz));
    // The word for this LO with the clock now in force; a calibration adds
    // its own when it retunes.
    allowed_nco_.insert(ExpectedNcoWord(lo_hz, model_.clock));
  }

  // ---- Plumbing ---------------------------------------------------------------------

  Module& plugin() { return module_->plugin(); }
  testing::FakeUserInterface& ui() { return module_->ui; }

  void Begin(std::string description) {
    last_step_ = description;
    watchdog_.Begin(step_, std::move(description));
  }
  void End() { watchdog_.End(); }
  std::string Where() const {
    return "seed " + std::to_string(seed_) + " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(seed_) +
           "), step " + std::to_string(step_) + " " + last_step_ + "\nlast steps:\n" + watchdog_.Recent();
  }

  const std::uint32_t seed_;
  const int steps_;
  std::mt19937 rng_;
  testing::ScratchDirectory scratch_;
  const std::string journal_path_;
  JournalFollower journal_;
  SimulatorSettings settings_;
  HostSide& host_ = HostSide::Instance();
  Watchdog watchdog_;
  std::unique_ptr<testing::NativeModule> module_;
  OrderedDirectory* directory_ = nullptr;

  Model model_;
  int step_ = 0;
  std::string last_step_;
  std::unordered_set<std::uint32_t> allowed_nco_{0};
  std::set<int> allowed_bands_{0, 10};
  std::map<int, std::set<bool>> switch_values_;
  receiver::ControlRecord last_sent_;
  std::int64_t expected_transfer_bytes_ = 0;
  std::uint64_t device_streams_ = 0;
  int shown_messages_ = 0;
  std::vector<int> expected_statuses_;
  std::vector<int> received_statuses_;

  std::size_t recording_first_file_ = 0;
  std::uint64_t dropped_at_rec_ = 0;
  std::uint64_t dropped_at_stream_start_ = 0;
  Model rec_settings_;
  std::uint64_t recorded_blocks_ = 0;
  std::uint64_t recorded_files_ = 0;
};

class RandomisedSession : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(RandomisedSession, HoldsEveryInvariant) {
  SessionRun run(GetParam(), StepsPerSeed());
  run.Run();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomisedSession, ::testing::ValuesIn(SessionSeeds()),
                         [](const ::testing::TestParamInfo<std::uint32_t>& seed) {
                           return "seed" + std::to_string(seed.param);
                         });

}  // namespace
}  // namespace halvorn::reliability
