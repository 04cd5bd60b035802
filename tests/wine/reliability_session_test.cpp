// A randomised host session through the real DLL under Wine: a seeded
// generator calls the entry points with hostile arguments, clicks the panel's
// controls with BM_CLICK (disabled or not: the handlers are what is tested),
// sends timer ticks, pumps messages as a host's loop does and acts from
// inside the host callback. After every step it checks what a host can see:
// the entry points' results, the status calls, the message boxes, the
// panel's buttons, every call the simulated receiver journaled, the stream
// the host receives, and each recording once stopped.
//
// Replay: HALVORN_SESSION_SEEDS=<seed> HALVORN_WINE_SESSION_STEPS=<steps>
#include <climits>
#include <map>
#include <random>
#include <set>
#include <unordered_set>

#include "tests/unit/reliability_checks.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

using namespace std::chrono_literals;
namespace rel = reliability;

constexpr int kSettingIds[] = {1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                               1011, 1012, 1013, 1014, 1018, 1019, 1020, 1026};
constexpr int kAdcPreamp = 1018;
constexpr int kAdcDither = 1019;
constexpr int kClockCalibrate = 1020;
constexpr int kPreselector = 1026;

std::uint32_t SessionSeed() {
  if (const char* text = std::getenv("HALVORN_SESSION_SEEDS")) return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  return 11;
}

int SessionSteps() {
  if (const char* text = std::getenv("HALVORN_WINE_SESSION_STEPS")) return std::atoi(text);
  return 1000;
}

class WineSession : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    if (HasFatalFailure()) return;
    SetSimulator("HALVORNSIM_SOURCE", "counting");
    SetSimulator("HALVORNSIM_PACING", "realtime");
    host_.Reset();
    follower_ = std::make_unique<rel::JournalFollower>(journal_.path());
  }
  void TearDown() override {
    if (plugin_) plugin_->StopHW();
    RecordingTest::TearDown();
  }

  struct Model {
    bool library_loaded = false;
    bool maybe_no_bitstream = true;
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

  void Run(std::uint32_t seed, int steps) {
    seed_ = seed;
    rng_.seed(seed);
    watchdog_ = std::make_unique<rel::Watchdog>(
        "Wine session seed " + std::to_string(seed) + " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(seed) + ")",
        std::chrono::seconds(60));
    for (step_ = 1; step_ <= steps; ++step_) {
      OneStep();
      Check();
      if (HasFailure()) break;
    }
    if (!HasFailure()) Finish();
    watchdog_.reset();
  }

 private:
  enum Kind {
    kInitHW, kOpenHW, kStartHW, kStopHW, kCloseHW, kSetHWLO, kGetHWLO, kGetHWSR, kSetCallback, kShowHide,
    kTuneChanged, kAttenuator, kRate, kCheckBox, kCalibrate, kRec, kStop, kTimer, kInCallback, kConcurrent,
    kPump, kKindCount
  };

  void OneStep() {
    int weights[kKindCount] = {1, 3, 3, 3, 1, 7, 2, 2, 1, 2, 4, 4, 6, 6, 3, 5, 5, 4, 5, 2, 16};
    if (!model_.library_loaded) weights[kInitHW] = 12;
    if (!model_.callback_registered) weights[kSetCallback] = 10;
    if (!model_.streaming) weights[kStartHW] = 12;
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    switch (static_cast<Kind>(pick(rng_))) {
      case kInitHW: return DoInitHW();
      case kOpenHW: return DoOpenHW();
      case kStartHW: return DoStartHW(HostileFrequency());
      case kStopHW:
        Begin("StopHW");
        plugin_->StopHW();
        End();
        return Stopped();
      case kCloseHW: {
        Begin("CloseHW");
        const bool released = plugin_->CloseHW();
        End();
        EXPECT_EQ(released, model_.library_loaded) << Where();
        Stopped();
        model_.library_loaded = false;
        return;
      }
      case kSetHWLO: return DoSetHWLO(HostileFrequency());
      case kGetHWLO:
        Begin("GetHWLO");
        EXPECT_EQ(plugin_->GetHWLO(), model_.host_lo) << Where();
        return End();
      case kGetHWSR:
        Begin("GetHWSR");
        EXPECT_EQ(plugin_->GetHWSR(), rel::kRatesHz[model_.row]) << Where();
        EXPECT_EQ(plugin_->GetStatus(), 0) << Where();
        return End();
      case kSetCallback: {
        const bool registered = !model_.callback_registered || Uniform(0, 2) == 0 ? Uniform(0, 9) != 0 : false;
        Begin(registered ? "SetCallback(host)" : "SetCallback(null)");
        if (registered && !model_.callback_registered) host_.Resync();
        if (!registered) {
          callback_gap_in_stream_ = true;
          callback_gap_in_recording_ = true;
        }
        plugin_->SetCallback(registered ? &rel::HostSide::Callback : nullptr);
        End();
        model_.callback_registered = registered;
        return;
      }
      case kShowHide:
        Begin("ShowGUI, HideGUI");
        if (Uniform(0, 1) == 0) {
          plugin_->ShowGUI();
        } else {
          plugin_->HideGUI();
        }
        return End();
      case kTuneChanged: {
        const std::int32_t tuned = TunedFrequency();
        Begin("TuneChanged(" + std::to_string(tuned) + ")");
        plugin_->TuneChanged(tuned);
        End();
        model_.last_tuned = tuned;
        return;
      }
      case kAttenuator: return DoClick(1002 + Uniform(0, 3));
      case kRate: return DoClick(kFirstRateButton + Uniform(0, 8));
      case kCheckBox: {
        static constexpr int kBoxes[] = {kAdcPreamp, kAdcDither, kPreselector};
        return DoClick(kBoxes[Uniform(0, 2)]);
      }
      case kCalibrate: return DoClick(kClockCalibrate);
      case kRec: return DoClick(kRecButton);
      case kStop: return DoClick(kStopButton);
      case kTimer:
        Begin("WM_TIMER");
        SendMessageA(Dialog(), WM_TIMER, 1, 0);
        return End();
      case kInCallback: return DoInCallback();
      case kConcurrent: return DoConcurrent();
      case kPump: return DoPump(Uniform(1, 60));
      case kKindCount: break;
    }
  }

  void DoInitHW() {
    const bool null_buffers = Uniform(0, 4) == 0;
    Begin(null_buffers ? "InitHW(null, null, null)" : "InitHW(buffers)");
    char name[64] = {};
    char model[64] = {};
    int type = 0;
    const bool ready = null_buffers ? plugin_->InitHW(nullptr, nullptr, nullptr) : plugin_->InitHW(name, model, &type);
    End();
    EXPECT_TRUE(ready) << Where();
    if (!null_buffers) {
      EXPECT_STREQ(name, "Halvorn HF Receiver") << Where();
      EXPECT_EQ(type, 5) << Where();
    }
    Stopped();
    if (!model_.library_loaded) {
      model_.maybe_no_bitstream = true;
      model_.device_record_known = false;
    }
    model_.library_loaded = true;
    if (model_.first_init) {
      model_.first_init = false;
      model_.host_lo = 7050000;
    }
  }

  void DoOpenHW() {
    Begin("OpenHW");
    const bool opened = plugin_->OpenHW();
    End();
    EXPECT_TRUE(opened) << Where();
    model_.preselector = true;
    model_.dither = true;
    model_.preamp = false;
    // The streaming bit stays the stream's.
    model_.flags = static_cast<std::uint8_t>(0x02 | (model_.streaming ? 0x01 : 0));
    model_.nco = 0;
    if (!model_.recording) {
      model_.stop_enabled = false;
      model_.rec_enabled = true;
    }
    BitstreamLoad();
    model_.reload_pending = false;
    for (int id : {1002, kPreselector, kAdcDither, kFirstRateButton + model_.row}) {
      EXPECT_TRUE(Checked(id)) << Where() << " control " << id;
    }
    EXPECT_FALSE(Checked(kAdcPreamp)) << Where();
  }

  void DoStartHW(std::int32_t lo_hz) {
    AllowLo(lo_hz);
    Begin("StartHW(" + std::to_string(lo_hz) + ")");
    const int pairs = plugin_->StartHW(lo_hz);
    End();
    EXPECT_EQ(pairs, 1024) << Where();
    Started(lo_hz);
  }

  void Started(std::int32_t lo_hz) {
    model_.host_lo = lo_hz;
    Tuned(lo_hz);
    if (!model_.streaming) {
      model_.streaming = true;
      model_.flags |= 0x01;
      transfer_bytes_ = rel::kPacketsPerTransfer[model_.row] * 6144;
      host_missing_at_stream_start_ = host_.missing_pairs();
      callback_gap_in_stream_ = !model_.callback_registered;
    }
  }

  void Stopped() {
    if (model_.streaming) model_.flags &= static_cast<std::uint8_t>(~0x01);
    model_.streaming = false;
    model_.input_running = false;
  }

  void DoSetHWLO(std::int32_t lo_hz) {
    AllowLo(lo_hz);
    Begin("SetHWLO(" + std::to_string(lo_hz) + ")");
    const int result = plugin_->SetHWLO(lo_hz);
    End();
    EXPECT_EQ(result, SetHwLoResult(lo_hz)) << Where();
    Retuned(lo_hz);
  }

  static int SetHwLoResult(std::int32_t lo_hz) { return lo_hz > 40000000 ? 1 : lo_hz < 0 ? -1 : 0; }
  void Retuned(std::int32_t lo_hz) {
    if (SetHwLoResult(lo_hz) != 0) return;
    model_.host_lo = lo_hz;
    Tuned(lo_hz);
  }
  void Tuned(std::int32_t lo_hz) {
    if (model_.reload_pending) {
      BitstreamLoad();
      model_.reload_pending = false;
    }
    model_.lo = lo_hz;
    model_.nco = rel::ExpectedNcoWord(lo_hz, model_.clock);
    allowed_nco_.insert(model_.nco);
  }
  void BitstreamLoad() {
    if (!model_.library_loaded) ++model_.messages;
  }

  void DoClick(int id) {
    const std::vector<std::string> before = FilesIn(scratch_->path());
    const std::uint64_t missing_before = host_.missing_pairs();
    Begin((IsWindowEnabled(Control(id)) ? "BM_CLICK " : "BN_CLICKED of disabled ") + std::to_string(id));
    Click(id);
    End();
    const bool on = Checked(id);
    if (id >= 1002 && id <= 1005) return;
    if (id >= kFirstRateButton && id < kFirstRateButton + 9) {
      const int row = id - kFirstRateButton;
      if (row != model_.row) {
        model_.row = row;
        model_.reload_pending = true;
        if (model_.callback_registered) expected_statuses_.push_back(100);
      }
    } else if (id == kAdcPreamp) {
      model_.preamp = on;
      model_.flags = static_cast<std::uint8_t>(on ? model_.flags | 0x04 : model_.flags & ~0x04);
    } else if (id == kAdcDither) {
      model_.dither = on;
      model_.flags = static_cast<std::uint8_t>(on ? model_.flags | 0x02 : model_.flags & ~0x02);
    } else if (id == kPreselector) {
      model_.preselector = on;
    } else if (id == kClockCalibrate) {
      if (const auto clock = rel::ExpectedCalibratedClock(model_.last_tuned, model_.clock)) {
        model_.clock = *clock;
        Tuned(model_.lo);
      }
    } else if (id == kRecButton) {
      if (!model_.recording) {
        model_.recording = true;
        if (model_.callback_registered) expected_statuses_.push_back(102);
        files_before_rec_ = before;
        host_missing_at_rec_ = model_.streaming ? host_missing_at_stream_start_ : missing_before;
        callback_gap_in_recording_ = !model_.callback_registered || (model_.streaming && callback_gap_in_stream_);
        EXPECT_EQ(FieldText(kFileSizeField), "0") << Where();
      }
      model_.settings_enabled = false;
      model_.stop_enabled = true;
      model_.rec_enabled = false;
    } else if (id == kStopButton) {
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

  void DoInCallback() {
    if (!model_.input_running || !model_.callback_registered) return DoPump(5);
    const int what = Uniform(0, 5);
    const std::int32_t lo_hz = HostileFrequency();
    AllowLo(lo_hz);
    static constexpr const char* kNames[] = {"StopHW", "StopHW+StartHW", "SetHWLO", "StartHW", "CloseHW", "InitHW"};
    Begin(std::string("in callback: ") + kNames[what] + "(" + std::to_string(lo_hz) + ")");
    int result = 0;
    rel::CallbackAction action;
    action.work = [&] {
      switch (what) {
        case 0: plugin_->StopHW(); break;
        case 1:
          plugin_->StopHW();
          result = plugin_->StartHW(lo_hz);
          break;
        case 2: result = plugin_->SetHWLO(lo_hz); break;
        case 3: result = plugin_->StartHW(lo_hz); break;
        case 4: result = plugin_->CloseHW() ? 1 : 0; break;
        case 5: result = plugin_->InitHW(nullptr, nullptr, nullptr) ? 1 : 0; break;
      }
    };
    // The plug-in moves its panel from the delivery thread: the window
    // thread keeps pumping meanwhile.
    const bool ran = host_.RunInCallback(action, 10s, [] { host::PumpMessagesFor(1); });
    End();
    ASSERT_TRUE(ran) << Where() << ": no block reached the host callback while the stream was running";
    switch (what) {
      case 0: Stopped(); break;
      case 1:
        Stopped();
        EXPECT_EQ(result, 1024) << Where();
        Started(lo_hz);
        break;
      case 2:
        EXPECT_EQ(result, SetHwLoResult(lo_hz)) << Where();
        Retuned(lo_hz);
        break;
      case 3:
        EXPECT_EQ(result, 1024) << Where();
        Started(lo_hz);
        break;
      case 4:
        EXPECT_EQ(result, 1) << Where();
        Stopped();
        model_.library_loaded = false;
        break;
      case 5:
        EXPECT_EQ(result, 1) << Where();
        Stopped();
        break;
    }
  }

  // A second host thread retunes while the user works the front end.
  void DoConcurrent() {
    std::vector<std::int32_t> los;
    for (int i = Uniform(1, 4); i > 0; --i) {
      los.push_back(Uniform(0, 40000000));
      AllowLo(los.back());
    }
    switch_values_[kAdcDither].insert(model_.dither);
    switch_values_[kAdcPreamp].insert(model_.preamp);
    Begin("concurrently: SetHWLO x" + std::to_string(los.size()) + " / dither, preamp, attenuator clicks");
    std::vector<int> results(los.size());
    std::thread host_thread([&] {
      for (std::size_t i = 0; i < los.size(); ++i) results[i] = plugin_->SetHWLO(los[i]);
    });
    for (int id : {kAdcDither, 1003, kAdcPreamp, 1002}) {
      Click(id);
      if (id == kAdcDither || id == kAdcPreamp) switch_values_[id].insert(Checked(id));
    }
    host_thread.join();
    End();
    for (std::size_t i = 0; i < los.size(); ++i) {
      EXPECT_EQ(results[i], 0) << Where();
      Retuned(los[i]);
    }
    model_.dither = Checked(kAdcDither);
    model_.preamp = Checked(kAdcPreamp);
    model_.flags = static_cast<std::uint8_t>((model_.flags & 0x01) | (model_.dither ? 0x02 : 0) | (model_.preamp ? 0x04 : 0));
  }

  void DoPump(int milliseconds) {
    Begin("pump " + std::to_string(milliseconds) + " ms");
    const std::uint64_t before = host_.blocks();
    host::PumpMessagesFor(static_cast<DWORD>(milliseconds));
    if (model_.input_running && model_.callback_registered) {
      EXPECT_TRUE(PumpUntil([&] { return host_.blocks() > before; }, 10000))
          << Where() << ": a running stream delivered nothing";
    }
    End();
  }

  // ---- Checks ----------------------------------------------------------------

  void Check() {
    for (const std::string& fault : host_.faults()) ADD_FAILURE() << Where() << ": host saw " << fault;
    const auto boxes = boxes_.seen();
    EXPECT_EQ(static_cast<int>(boxes.size()), model_.messages) << Where() << ": message boxes";
    for (const auto& box : boxes) {
      EXPECT_EQ(box.title, "Halvorn DLL for Winrad") << Where();
      EXPECT_EQ(box.text, rel::kBitstreamMessage) << Where();
    }
    for (int status : host_.TakeStatuses()) statuses_.push_back(status);
    EXPECT_EQ(statuses_, expected_statuses_) << Where() << ": status calls";
    for (int id : kSettingIds) EXPECT_EQ(Enabled(id), model_.settings_enabled) << Where() << " control " << id;
    EXPECT_EQ(Enabled(kStopButton), model_.stop_enabled) << Where() << " Stop";
    EXPECT_EQ(Enabled(kRecButton), model_.rec_enabled) << Where() << " Rec";
    CheckJournal();
    switch_values_.clear();
  }

  void CheckJournal() {
    for (const testing::JournalLine& line : follower_->NewLines()) {
      const std::string& entry = line.entry;
      if (entry == "Sio") {
        const std::string& hex = line["record"];
        ASSERT_EQ(hex.size(), 10u) << Where();
        EXPECT_EQ(line["result"], "") << Where();
        const auto flags = static_cast<std::uint8_t>(std::stoul(hex.substr(0, 2), nullptr, 16));
        std::uint32_t nco = 0;
        for (int i = 4; i >= 1; --i) nco = nco << 8 | static_cast<std::uint32_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        EXPECT_EQ(flags & ~0x07, 0) << Where() << ": record " << hex;
        EXPECT_TRUE(SwitchAllowed(kAdcDither, (flags & 0x02) != 0)) << Where() << ": dither bit in " << hex;
        EXPECT_TRUE(SwitchAllowed(kAdcPreamp, (flags & 0x04) != 0)) << Where() << ": preamp bit in " << hex;
        EXPECT_TRUE(nco == 0 || allowed_nco_.count(nco)) << Where() << ": NCO word in " << hex;
        last_flags_ = flags;
        last_nco_ = nco;
        model_.device_record_known = true;
      } else if (entry == "SetAttenuator") {
        EXPECT_LE(line.Number("step"), 3) << Where();
        EXPECT_EQ(line["result"], "") << Where();
      } else if (entry == "SetPreselector") {
        const long long setting = line.Number("setting");
        EXPECT_TRUE(setting == 10 || allowed_bands_.count(static_cast<int>(setting))) << Where() << " setting " << setting;
        EXPECT_EQ(line["result"], "") << Where();
      } else if (entry == "FpgaConfig") {
        EXPECT_EQ(line["name"], rel::kBitstreams[model_.row]) << Where();
        EXPECT_EQ(line["result"], "0") << Where();
        model_.maybe_no_bitstream = false;
      } else if (entry == "StartAsyncInput") {
        EXPECT_EQ(line.Number("bytes"), transfer_bytes_) << Where();
        if (line["result"] == "1") {
          model_.input_running = true;
        } else {
          EXPECT_EQ(line["refused"], "no_bitstream") << Where();
          EXPECT_TRUE(model_.maybe_no_bitstream) << Where();
        }
      } else if (entry == "StopAsyncInput" || entry == "Open" || entry == "Close") {
        EXPECT_EQ(line["result"], "1") << Where() << " " << entry;
      } else if (entry == "FirmwareDownload") {
        EXPECT_EQ(line["result"], "0") << Where();
      } else {
        ADD_FAILURE() << Where() << ": the plug-in called " << entry;
      }
    }
    if (model_.library_loaded && model_.device_record_known) {
      EXPECT_EQ(static_cast<int>(last_flags_), static_cast<int>(model_.flags)) << Where() << ": the device's record";
      EXPECT_EQ(last_nco_, model_.nco) << Where() << ": the device's NCO word";
    }
  }

  // An enabled control is clicked. A disabled one cannot be, but its handler
  // is still reachable: the dialog gets the notification a click would send.
  // (Wine's BM_CLICK on an automatic radio button whose whole group is
  // disabled never returns.)
  void Click(int id) {
    const HWND control = Control(id);
    if (IsWindowEnabled(control)) {
      SendMessageA(control, BM_CLICK, 0, 0);
    } else {
      SendMessageA(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    }
  }

  bool SwitchAllowed(int id, bool on) {
    const bool now = id == kAdcDither ? model_.dither : model_.preamp;
    return on == now || switch_values_[id].count(on) > 0;
  }

  // Each file the recording made: finished, its row's format, whole blocks
  // of the stored counting pattern, skipping forward only where the host saw
  // blocks go missing too.
  void CheckRecording() {
    const std::vector<std::string> now = FilesIn(scratch_->path());
    std::vector<std::string> made;
    std::set_difference(now.begin(), now.end(), files_before_rec_.begin(), files_before_rec_.end(),
                        std::back_inserter(made));
    ASSERT_FALSE(made.empty()) << Where() << ": no file";
    std::uint64_t skipped = 0;
    for (const std::string& name : made) {
      rel::RecordingContents contents;
      ASSERT_TRUE(rel::ReadRecording(scratch_->path(), {name}, contents)) << Where();
      skipped += contents.skipped_pairs;
      recorded_blocks_ += contents.blocks;
    }
    if (!callback_gap_in_recording_) {
      EXPECT_LE(skipped, host_.missing_pairs() - host_missing_at_rec_)
          << Where() << ": the recording skips pairs the host received";
    }
    for (const std::string& name : made) DeleteFileA((scratch_->path() + "\\" + name).c_str());
    recorded_files_ += made.size();
  }

  void Finish() {
    if (model_.recording) DoClick(kStopButton);
    Begin("finish: StopHW, CloseHW");
    plugin_->StopHW();
    Stopped();
    const bool released = plugin_->CloseHW();
    End();
    EXPECT_EQ(released, model_.library_loaded);
    model_.library_loaded = false;
    Check();
    std::printf("Wine session seed %u: %d steps, %llu blocks to the host, %llu pairs missed, %llu blocks in %llu files\n",
                seed_, step_ - 1, static_cast<unsigned long long>(host_.blocks()),
                static_cast<unsigned long long>(host_.missing_pairs()),
                static_cast<unsigned long long>(recorded_blocks_), static_cast<unsigned long long>(recorded_files_));
  }

  // ---- Arguments and plumbing --------------------------------------------------

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  std::int32_t HostileFrequency() {
    static constexpr std::int32_t kEdges[] = {INT32_MIN, INT32_MAX, -1, 0, 1, 40000000, 40000001, 80000000, 7050000};
    switch (Uniform(0, 5)) {
      case 0: return kEdges[Uniform(0, static_cast<int>(std::size(kEdges)) - 1)];
      case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
      default: return Uniform(0, 40000000);
    }
  }
  std::int32_t TunedFrequency() {
    static constexpr std::int32_t kOdd[] = {0, 500, -500, 499, -499, 1499, INT32_MAX, INT32_MIN, 10000100, 7000500};
    switch (Uniform(0, 3)) {
      case 0: return kOdd[Uniform(0, static_cast<int>(std::size(kOdd)) - 1)];
      case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
      default: return model_.lo + Uniform(-3000, 3000);
    }
  }
  void AllowLo(std::int32_t lo_hz) {
    allowed_bands_.insert(rel::ExpectedBand(lo_hz));
    allowed_nco_.insert(rel::ExpectedNcoWord(lo_hz, model_.clock));
  }

  void Begin(std::string description) {
    last_step_ = description;
    watchdog_->Begin(step_, std::move(description));
  }
  void End() { watchdog_->End(); }
  std::string Where() const {
    return "seed " + std::to_string(seed_) + " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(seed_) + "), step " +
           std::to_string(step_) + " " + last_step_ + "\nlast steps:\n" + watchdog_->Recent();
  }

  rel::HostSide& host_ = rel::HostSide::Instance();
  std::unique_ptr<rel::JournalFollower> follower_;
  std::unique_ptr<rel::Watchdog> watchdog_;
  std::mt19937 rng_;
  std::uint32_t seed_ = 0;
  int step_ = 0;
  std::string last_step_;
  Model model_;
  std::unordered_set<std::uint32_t> allowed_nco_{0};
  std::set<int> allowed_bands_{0, 10};
  std::map<int, std::set<bool>> switch_values_;
  std::uint8_t last_flags_ = 0;
  std::uint32_t last_nco_ = 0;
  std::int64_t transfer_bytes_ = 0;
  std::vector<int> statuses_;
  std::vector<int> expected_statuses_;
  std::vector<std::string> files_before_rec_;
  std::uint64_t host_missing_at_stream_start_ = 0;
  std::uint64_t host_missing_at_rec_ = 0;
  bool callback_gap_in_stream_ = false;
  bool callback_gap_in_recording_ = false;
  std::uint64_t recorded_blocks_ = 0;
  std::uint64_t recorded_files_ = 0;
};

TEST_F(WineSession, RandomisedHostAndUserHoldEveryInvariant) { Run(SessionSeed(), SessionSteps()); }

}  // namespace
}  // namespace halvorn::wine_tests
