#include "tests/support/randomised_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/panel_controls.h"
#include "tests/support/recording_checks.h"
#include "tests/support/user_messages.h"

namespace halvorn::testing {

namespace fs = std::filesystem;
using ::testing::Test;

std::vector<std::uint32_t> SessionSeeds(const std::vector<std::uint32_t>& defaults) {
  std::vector<std::uint32_t> seeds;
  if (const char* text = std::getenv("HALVORN_SESSION_SEEDS")) {
    std::stringstream list(text);
    std::string seed;
    while (std::getline(list, seed, ',')) {
      if (!seed.empty()) seeds.push_back(static_cast<std::uint32_t>(std::stoul(seed)));
    }
  }
  return seeds.empty() ? defaults : seeds;
}

int SessionSteps(const char* variable, int fallback) {
  if (const char* text = std::getenv(variable)) return std::atoi(text);
  return fallback;
}

RandomisedSession::RandomisedSession(PluginUnderTest& plugin, const SessionOptions& options)
    : plugin_(plugin),
      options_(options),
      rng_(options.seed),
      journal_(plugin.JournalPath()),
      watchdog_("seed " + std::to_string(options.seed) +
                    " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(options.seed) + ")",
                options.step_bound) {
  plugin_.SetSimulator("HALVORNSIM_SOURCE", "counting");
  plugin_.SetSimulator("HALVORNSIM_FAIL", "");
  host_.Reset();
  host_.set_check_counting(true);
}

void RandomisedSession::Run() {
  for (step_ = 1; step_ <= options_.steps && !Test::HasFatalFailure(); ++step_) {
    if (const auto inside = plugin_.Inside()) dropped_before_step_ = inside->dropped_blocks;
    OneStep();
    // Without a view inside, a loss is always possible.
    const auto after = plugin_.Inside();
    if (model_.recording && (!after || after->dropped_blocks != dropped_before_step_)) {
      model_.recording_may_have_lost = true;
    }
    CheckInvariants();
    if (Test::HasFailure()) break;
  }
  if (Test::HasFailure()) return;
  Finish();
}

// ---- Steps ----------------------------------------------------------------------------

// Any step can come at any time, but a host mostly keeps a receiver open and
// streaming with its callback registered, so the weights lean there.
RandomisedSession::Kind RandomisedSession::PickKind() {
  int weights[kKindCount] = {1, 3, 3, 3, 1, 8, 2, 2, 1, 1, 1, 1, 5, 4, 6, 6, 4, 5, 5, 5, 1, 6, 1, 3, 16};
  if (!model_.library_loaded) weights[kInitHW] = 12;
  if (!model_.callback_registered) weights[kSetCallback] = 10;
  if (!model_.streaming) weights[kStartHW] = 12;
  if (!options_.stray_clicks) weights[kStrayClick] = 0;
  std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
  return static_cast<Kind>(pick(rng_));
}

void RandomisedSession::OneStep() {
  switch (PickKind()) {
    case kInitHW: return DoInitHW();
    case kOpenHW: return DoOpenHW();
    case kStartHW: return DoStartHW(HostileFrequency());
    case kStopHW: return DoStopHW();
    case kCloseHW: return DoCloseHW();
    case kSetHWLO: return DoSetHWLO(HostileFrequency());
    case kGetHWLO:
      Begin("GetHWLO");
      EXPECT_EQ(host_calls().GetHWLO(), model_.host_lo) << Where();
      return End();
    case kGetHWSR:
      Begin("GetHWSR");
      EXPECT_EQ(host_calls().GetHWSR(), model_.rate().rate_hz) << Where();
      return End();
    case kGetStatus:
      Begin("GetStatus");
      EXPECT_EQ(host_calls().GetStatus(), 0) << Where();
      return End();
    case kSetCallback: return DoSetCallback(!model_.callback_registered || Chance(0.3) ? Chance(0.9) : false);
    case kShowGUI:
      Begin("ShowGUI");
      host_calls().ShowGUI();
      model_.panel_made = true;
      return End();
    case kHideGUI:
      Begin("HideGUI");
      host_calls().HideGUI();
      return End();
    case kTuneChanged: return DoTuneChanged(TunedFrequency());
    case kAttenuator: return DoClick(panel::kAttenuator0dB + Uniform(0, 3));
    case kRate: return DoClick(panel::RateButtonFor(Uniform(0, receiver::kSampleRateCount - 1)));
    case kCheckBox: {
      static constexpr int kBoxes[] = {panel::kAdcPreamp, panel::kAdcDither, panel::kPreselector};
      return DoClick(kBoxes[Uniform(0, 2)]);
    }
    case kCalibrate: return DoClick(panel::kClockCalibrate);
    case kRec: return DoClick(panel::kRecButton);
    case kStop: return DoClick(panel::kStopButton);
    case kTimer: return DoTimer();
    case kStrayClick: {
      static constexpr int kStray[] = {INT_MIN,
                                       -1,
                                       0,
                                       1,
                                       1000,
                                       1001,
                                       panel::kLastRateButton + 1,
                                       panel::kLastRateButton + 2,
                                       panel::kAdcPreamp - 1,
                                       panel::kFileSizeField,
                                       panel::kFileNameField,
                                       panel::kRecordingTimeField,
                                       panel::kPreselector + 1,
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

void RandomisedSession::DoInitHW() {
  const bool null_buffers = Chance(0.2);
  Begin(null_buffers ? "InitHW(null, null, null)" : "InitHW(buffers)");
  char name[64];
  char model_name[64];
  std::memset(name, 'x', sizeof name);
  std::memset(model_name, 'x', sizeof model_name);
  int type = -1;
  const bool ready =
      null_buffers ? host_calls().InitHW(nullptr, nullptr, nullptr) : host_calls().InitHW(name, model_name, &type);
  End();
  EXPECT_TRUE(ready) << Where();
  if (!null_buffers) {
    EXPECT_STREQ(name, "Halvorn HF Receiver") << Where();
    EXPECT_STREQ(model_name, "Halvorn v1.0") << Where();
    EXPECT_EQ(type, 5) << Where();
  }
  model_.Initialised();
}

void RandomisedSession::DoOpenHW() {
  Begin("OpenHW");
  const bool opened = host_calls().OpenHW();
  End();
  EXPECT_TRUE(opened) << Where();
  if (!model_.recording) {
    for (int id : {panel::kFileNameField, panel::kFileSizeField, panel::kRecordingTimeField}) {
      EXPECT_EQ(panel().Text(id), " ") << Where() << " field " << id;
    }
  }
  model_.Opened();
  EXPECT_EQ(panel().CheckState(panel::kAttenuator0dB), 1) << Where();
  EXPECT_EQ(panel().CheckState(panel::kPreselector), 1) << Where();
  EXPECT_EQ(panel().CheckState(panel::kAdcDither), 1) << Where();
  EXPECT_EQ(panel().CheckState(panel::kAdcPreamp), 0) << Where();
  EXPECT_EQ(panel().CheckState(panel::RateButtonFor(model_.row)), 1) << Where();
}

void RandomisedSession::DoStartHW(std::int32_t lo_hz) {
  model_.AllowLo(ExpectedStartLo(lo_hz, model_.clock));
  Begin("StartHW(" + std::to_string(lo_hz) + ")");
  const std::int32_t pairs = host_calls().StartHW(lo_hz);
  End();
  model_.StartTuned(lo_hz);
  StartAnswered(pairs);
}

// A start answers 1024 exactly when a stream runs after it: one already
// running, or one the device took; -1 otherwise.
void RandomisedSession::StartAnswered(std::int32_t pairs) {
  if (model_.streaming) {
    EXPECT_EQ(pairs, kBlockPairs) << Where() << ": a start while streaming";
    return;
  }
  if (!model_.library_loaded) {
    EXPECT_EQ(pairs, -1) << Where() << ": a start without a receiver";
    return;
  }
  // What the device is asked for, whether or not it takes it.
  model_.transfer_bytes.insert(model_.rate().bytes_per_transfer());
  if (model_.maybe_no_bitstream) {
    // A device without a bitstream yet may refuse its input.
    EXPECT_TRUE(pairs == kBlockPairs || pairs == -1) << Where() << ": StartHW gave " << pairs;
    if (pairs != kBlockPairs) return;
  } else {
    EXPECT_EQ(pairs, kBlockPairs) << Where();
  }
  dropped_at_stream_start_ = dropped_before_step_;
  host_missing_at_stream_start_ = host_.missing_pairs();
  callback_gap_in_stream_ = !model_.callback_registered;
  model_.Started();
}

void RandomisedSession::DoStopHW() {
  Begin("StopHW");
  host_calls().StopHW();
  End();
  model_.Stopped();
}

void RandomisedSession::DoCloseHW() {
  Begin("CloseHW");
  const bool released = host_calls().CloseHW();
  End();
  EXPECT_EQ(released, model_.library_loaded) << Where();
  model_.Closed();
}

void RandomisedSession::DoSetHWLO(std::int32_t lo_hz) {
  model_.AllowLo(lo_hz);
  Begin("SetHWLO(" + std::to_string(lo_hz) + ")");
  const std::int32_t result = host_calls().SetHWLO(lo_hz);
  End();
  EXPECT_EQ(result, ExpectedSetHwLoResult(lo_hz, model_.clock)) << Where();
  model_.Retuned(lo_hz);
}

void RandomisedSession::DoSetCallback(bool registered) {
  Begin(registered ? "SetCallback(host)" : "SetCallback(null)");
  if (registered && !model_.callback_registered) host_.Resync();
  if (!registered) {
    callback_gap_in_stream_ = true;
    callback_gap_in_recording_ = true;
  }
  host_calls().SetCallback(registered ? &CountingHost::Callback : nullptr);
  End();
  model_.callback_registered = registered;
}

void RandomisedSession::DoTuneChanged(std::int32_t frequency_hz) {
  Begin("TuneChanged(" + std::to_string(frequency_hz) + ")");
  host_calls().TuneChanged(frequency_hz);
  End();
  model_.last_tuned = frequency_hz;
}

void RandomisedSession::DoClick(int id) {
  // Before the host first shows the panel there is none to click.
  if (!model_.panel_made) return DoRun(1);
  const bool indeterminate = IsCheckBox(id) && Chance(0.1);
  const bool starts_recording = id == panel::kRecButton && !model_.recording;
  const std::uint64_t missing_before = host_.missing_pairs();
  if (starts_recording) plugin_.MarkRecordings();
  Begin(panel().DescribeClick(id, indeterminate));
  panel().Click(id, indeterminate);
  End();

  if (starts_recording) {
    // Blocks the ring dropped, or the host missed, earlier in the running
    // stream may still leave their gap between blocks waiting in the ring.
    dropped_at_rec_ = model_.streaming ? dropped_at_stream_start_ : dropped_before_step_;
    host_missing_at_rec_ = model_.streaming ? host_missing_at_stream_start_ : missing_before;
    callback_gap_in_recording_ = !model_.callback_registered || (model_.streaming && callback_gap_in_stream_);
    rec_settings_ = model_;
    const std::vector<std::string> made = plugin_.RecordingsSinceMark();
    EXPECT_FALSE(made.empty()) << Where() << ": no file";
    if (!made.empty()) {
      EXPECT_EQ(panel().Text(panel::kFileNameField), made.front()) << Where();
    }
    EXPECT_EQ(panel().Text(panel::kFileSizeField), "0") << Where();
  }
  const bool stops_recording = id == panel::kStopButton && model_.recording;
  model_.Clicked(id, panel().CheckState(id) == 1);
  if (id == panel::kClockCalibrate) {
    if (const auto inside = plugin_.Inside()) {
      EXPECT_GT(inside->reference_clock_hz, 0) << Where();
    }
  }
  if (stops_recording) CheckRecording();
}

void RandomisedSession::DoTimer() {
  if (!model_.panel_made) return DoRun(1);
  Begin("timer tick");
  panel().TimerTick();
  End();
  if (model_.recording) {
    const auto digits = [](const std::string& text) {
      return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; });
    };
    const std::string size = panel().Text(panel::kFileSizeField);
    EXPECT_TRUE(digits(size)) << Where() << " size \"" << size << "\"";
    const std::string time = panel().Text(panel::kRecordingTimeField);
    EXPECT_TRUE(digits(time)) << Where() << " time \"" << time << "\"";
  }
}

// The host acts from inside its callback, on the delivery thread: it stops
// the stream, stops and starts it again, retunes, starts while streaming,
// asks for values, closes or initialises the receiver.
void RandomisedSession::DoInCallback() {
  if (!model_.input_running || !model_.callback_registered) return DoRun(5);
  const int what = Uniform(0, 6);
  const std::int32_t lo_hz = HostileFrequency();
  model_.AllowLo(lo_hz);
  model_.AllowLo(ExpectedStartLo(lo_hz, model_.clock));
  static constexpr const char* kNames[] = {"StopHW",          "StopHW+StartHW", "SetHWLO", "StartHW",
                                           "GetHWLO+GetHWSR", "CloseHW",        "InitHW"};
  Begin(std::string("in callback: ") + kNames[what] +
        (what == 1 || what == 2 || what == 3 ? "(" + std::to_string(lo_hz) + ")" : ""));
  std::int32_t result = 0;
  std::int32_t rate = 0;
  CallbackAction action;
  action.work = [&] {
    switch (what) {
      case 0: host_calls().StopHW(); break;
      case 1:
        host_calls().StopHW();
        result = host_calls().StartHW(lo_hz);
        break;
      case 2: result = host_calls().SetHWLO(lo_hz); break;
      case 3: result = host_calls().StartHW(lo_hz); break;
      case 4:
        result = host_calls().GetHWLO();
        rate = host_calls().GetHWSR();
        break;
      case 5: result = host_calls().CloseHW() ? 1 : 0; break;
      case 6: result = host_calls().InitHW(nullptr, nullptr, nullptr) ? 1 : 0; break;
    }
  };
  const bool ran = host_.RunInCallback(action, options_.delivery_wait, [this] { plugin_.Idle(); });
  End();
  ASSERT_TRUE(ran) << Where() << ": no block reached the host callback while the stream was running";
  switch (what) {
    case 0: model_.Stopped(); break;
    case 1:
      // From inside the callback a new stream cannot start: the thread in
      // the callback, this one, has not left it.
      model_.Stopped();
      model_.StartTuned(lo_hz);
      EXPECT_EQ(result, -1) << Where();
      break;
    case 2:
      EXPECT_EQ(result, ExpectedSetHwLoResult(lo_hz, model_.clock)) << Where();
      model_.Retuned(lo_hz);
      break;
    case 3:
      model_.StartTuned(lo_hz);
      EXPECT_EQ(result, kBlockPairs) << Where();
      break;
    case 4:
      EXPECT_EQ(result, model_.host_lo) << Where();
      EXPECT_EQ(rate, model_.rate().rate_hz) << Where();
      break;
    case 5:
      EXPECT_EQ(result, 1) << Where();
      model_.Closed();
      break;
    case 6:
      EXPECT_EQ(result, 1) << Where();
      model_.Stopped();
      break;
  }
}

// A host that holds on to one block for longer than the ring lasts at the
// fastest rate.
void RandomisedSession::DoStall() {
  if (!model_.input_running || !model_.callback_registered) return DoRun(5);
  Begin("in callback: stall 300 ms");
  CallbackAction action;
  action.work = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
  const bool ran = host_.RunInCallback(action, options_.delivery_wait, [this] { plugin_.Idle(); });
  End();
  ASSERT_TRUE(ran) << Where() << ": no block reached the host callback while the stream was running";
}

// A second host thread retunes and asks while the user works the front end:
// both write the one control record.
void RandomisedSession::DoConcurrent() {
  std::vector<std::int32_t> los;
  for (int i = Uniform(1, 6); i > 0; --i) {
    los.push_back(Chance(0.8) ? Uniform(0, 40000000) : HostileFrequency());
    model_.AllowLo(los.back());
  }
  std::vector<int> clicks;
  for (int i = Uniform(1, 6); i > 0; --i) {
    static constexpr int kFrontEnd[] = {panel::kAdcPreamp,         panel::kAdcDither,         panel::kAttenuator0dB,
                                        panel::kAttenuator0dB + 1, panel::kAttenuator0dB + 2, panel::kAttenuator30dB};
    clicks.push_back(kFrontEnd[Uniform(0, 5)]);
  }
  model_.AllowSwitch(panel::kAdcDither, model_.dither);
  model_.AllowSwitch(panel::kAdcPreamp, model_.preamp);
  std::string description = "concurrently: SetHWLO";
  for (std::int32_t lo : los) description += " " + std::to_string(lo);
  description += " / clicks";
  for (int id : clicks) description += " " + std::to_string(id);
  Begin(description);
  std::vector<std::int32_t> results(los.size());
  std::thread host_thread([&] {
    for (std::size_t i = 0; i < los.size(); ++i) {
      results[i] = host_calls().SetHWLO(los[i]);
      host_calls().GetHWLO();
      host_calls().GetHWSR();
    }
  });
  if (!model_.panel_made) clicks.clear();
  for (int id : clicks) {
    panel().Click(id);
    if (id == panel::kAdcPreamp || id == panel::kAdcDither) model_.AllowSwitch(id, panel().CheckState(id) == 1);
  }
  host_thread.join();
  End();
  for (std::size_t i = 0; i < los.size(); ++i) {
    EXPECT_EQ(results[i], ExpectedSetHwLoResult(los[i], model_.clock)) << Where() << " SetHWLO(" << los[i] << ")";
    model_.Retuned(los[i]);
  }
  for (int id : clicks) model_.Clicked(id, panel().CheckState(id) == 1);
}

// The stream runs on its own for a while; a running stream with a host
// listening must deliver.
void RandomisedSession::DoRun(int milliseconds) {
  Begin("run " + std::to_string(milliseconds) + " ms");
  const std::uint64_t before = host_.blocks();
  plugin_.Run(std::chrono::milliseconds(milliseconds));
  if (model_.input_running && model_.callback_registered) {
    EXPECT_TRUE(plugin_.RunUntil([&] { return host_.blocks() > before; }, options_.delivery_wait))
        << Where() << ": a running stream delivered nothing";
  }
  End();
}

// ---- Checks -----------------------------------------------------------------------------

void RandomisedSession::CheckInvariants() {
  const std::vector<std::string> faults = host_.faults();
  for (const std::string& fault : faults) ADD_FAILURE() << Where() << ": host saw " << fault;
  if (!faults.empty()) return;

  const std::vector<ShownMessage> shown = plugin_.TakeMessages();
  const auto starts = [](const std::string& text, const char* start) { return text.rfind(start, 0) == 0; };
  for (const ShownMessage& message : shown) {
    if (starts(message.text, kRecordingLossStart)) {
      // Only a recording during which the ring dropped blocks may end so.
      EXPECT_TRUE(model_.recording_may_have_lost) << Where() << ": " << message.text;
    } else {
      ++shown_messages_;
      EXPECT_TRUE(message.text == kBitstreamMessage || starts(message.text, kCalibrationRefusedStart))
          << Where() << ": " << message.text;
    }
    if (!message.title.empty()) {
      EXPECT_EQ(message.title, kMessageTitle) << Where();
    }
  }
  EXPECT_EQ(shown_messages_, model_.messages) << Where() << ": messages shown";

  for (int status : host_.TakeStatuses()) received_statuses_.push_back(status);
  EXPECT_EQ(received_statuses_, model_.statuses) << Where() << ": status calls";

  if (const auto inside = plugin_.Inside()) CheckInside(*inside);

  if (model_.panel_made) CheckPanel();

  CheckJournal();
  model_.switch_values.clear();
  model_.transfer_bytes.clear();
}

// The arrangement around a recording, and each radio group marking exactly
// the receiver's setting.
void RandomisedSession::CheckPanel() {
  for (int id : ReceiverSettingControls()) {
    EXPECT_EQ(panel().Enabled(id), model_.settings_enabled) << Where() << " control " << id;
  }
  EXPECT_EQ(panel().Enabled(panel::kStopButton), model_.stop_enabled) << Where() << " Stop";
  EXPECT_EQ(panel().Enabled(panel::kRecButton), model_.rec_enabled) << Where() << " Rec";
  if (!model_.opened_once) return;  // until OpenHW the marks are the template's
  for (int id : RadioGroupOf(panel::kAttenuator0dB)) {
    EXPECT_EQ(panel().CheckState(id), id - panel::kAttenuator0dB == model_.attenuator ? 1 : 0)
        << Where() << " attenuator mark " << id;
  }
  for (int id : RadioGroupOf(panel::kFirstRateButton)) {
    EXPECT_EQ(panel().CheckState(id), id == panel::RateButtonFor(model_.row) ? 1 : 0) << Where() << " rate mark " << id;
  }
}

void RandomisedSession::CheckInside(const InsideView& inside) {
  EXPECT_EQ(inside.tuned_lo_hz, model_.lo) << Where();
  EXPECT_EQ(inside.last_tuned_hz, model_.last_tuned) << Where();
  EXPECT_EQ(inside.reference_clock_hz, model_.clock) << Where();
  EXPECT_EQ(inside.row, model_.row) << Where();
  EXPECT_EQ(inside.reload_pending, model_.reload_pending ? 1 : 0) << Where();
  EXPECT_EQ(inside.preselector, model_.preselector ? 1 : 0) << Where();
  EXPECT_EQ(inside.preamp, model_.preamp ? 1 : 0) << Where();
  EXPECT_EQ(inside.dither, model_.dither ? 1 : 0) << Where();
  EXPECT_EQ(inside.attenuator, model_.attenuator) << Where();
  EXPECT_EQ(static_cast<int>(inside.record_flags), static_cast<int>(model_.flags))
      << Where() << ": control record flags";
  EXPECT_EQ(inside.record_nco_word, model_.nco) << Where() << ": control record NCO word";
  EXPECT_EQ(inside.streaming, model_.streaming) << Where();
  EXPECT_EQ(inside.recording, model_.recording) << Where();
}

// Every call the device received is one the session's writers produced.
void RandomisedSession::CheckJournal() {
  for (const JournalLine& line : journal_.NewLines()) {
    const std::string& entry = line.entry;
    if (entry == "Sio") {
      EXPECT_EQ(line["length"], "5") << Where();
      EXPECT_EQ(line["result"], "") << Where() << ": Sio refused record " << line["record"];
      // A flags byte, then the NCO word least significant byte first.
      const std::string& hex = line["record"];
      ASSERT_EQ(hex.size(), 10u) << Where();
      const auto byte = [&hex](int i) {
        return static_cast<std::uint32_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
      };
      const auto flags = static_cast<std::uint8_t>(byte(0));
      const std::uint32_t nco = byte(1) | byte(2) << 8 | byte(3) << 16 | byte(4) << 24;
      EXPECT_EQ(flags & ~0x07, 0) << Where() << ": flags " << hex;
      EXPECT_TRUE(model_.SwitchAllowed(panel::kAdcDither, (flags & receiver::kFlagAdcDither) != 0))
          << Where() << ": dither bit in " << hex;
      EXPECT_TRUE(model_.SwitchAllowed(panel::kAdcPreamp, (flags & receiver::kFlagAdcPreamp) != 0))
          << Where() << ": preamp bit in " << hex;
      EXPECT_TRUE(nco == 0 || model_.allowed_nco.count(nco))
          << Where() << ": NCO word " << hex << " is none the plug-in computed";
      last_sent_flags_ = flags;
      last_sent_nco_ = nco;
      model_.device_record_known = true;
    } else if (entry == "SetAttenuator") {
      EXPECT_LE(line.Number("step"), 3) << Where();
      EXPECT_EQ(line["result"], "") << Where() << ": attenuator refused";
    } else if (entry == "SetPreselector") {
      const long long setting = line.Number("setting");
      EXPECT_TRUE(setting == 10 || model_.allowed_bands.count(static_cast<int>(setting)))
          << Where() << ": preselector setting " << setting;
      EXPECT_EQ(line["result"], "") << Where() << ": preselector refused";
    } else if (entry == "FpgaConfig") {
      EXPECT_EQ(line["name"], model_.rate().bitstream_name) << Where();
      EXPECT_EQ(line["result"], "0") << Where() << ": bitstream refused";
      model_.maybe_no_bitstream = false;
    } else if (entry == "StartAsyncInput") {
      EXPECT_EQ(model_.transfer_bytes.count(line.Number("bytes")), 1u)
          << Where() << ": input started with " << line.Number("bytes") << " bytes a transfer";
      if (line["result"] == "1") {
        model_.input_running = true;
        ++device_streams_;
      } else {
        EXPECT_EQ(line["refused"], "no_bitstream") << Where() << ": stream start refused";
        EXPECT_TRUE(model_.maybe_no_bitstream) << Where() << ": stream start refused";
      }
    } else if (entry == "StopAsyncInput" || entry == "Open" || entry == "Close") {
      EXPECT_EQ(line["result"], "1") << Where() << " " << entry;
    } else if (entry == "FirmwareDownload") {
      EXPECT_EQ(line["image"], "null") << Where();
      EXPECT_EQ(line["result"], "0") << Where();
    } else {
      ADD_FAILURE() << Where() << ": the plug-in called " << entry;
    }
  }
  if (model_.library_loaded && model_.device_record_known) {
    EXPECT_EQ(static_cast<int>(last_sent_flags_), static_cast<int>(model_.flags))
        << Where() << ": the device's last record is not the plug-in's";
    EXPECT_EQ(last_sent_nco_, model_.nco) << Where() << ": the device's last record is not the plug-in's";
  }
}

// The files of the recording just stopped, in the order they were made: the
// stored counting pattern throughout, the first with the settings in force
// at "Rec" (a later one, made when the row changed or the file was full, has
// its own row), skipping forward only where blocks were dropped or missed.
void RandomisedSession::CheckRecording() {
  const std::vector<std::string> names = plugin_.RecordingsSinceMark();
  const std::string directory = plugin_.RecordingDirectory();
  RecordingContents contents;
  ASSERT_TRUE(ReadCountingRecording(directory, names, contents)) << Where();
  ASSERT_FALSE(contents.files.empty()) << Where();
  const StoredRecording& first = contents.files.front();
  EXPECT_EQ(first.lo_hz(), rec_settings_.lo) << Where() << " " << first.name;
  EXPECT_EQ(first.attenuator_step(), rec_settings_.attenuator) << Where();
  EXPECT_EQ(first.preselector_on(), rec_settings_.preselector) << Where();
  EXPECT_EQ(first.adc_preamp_on(), rec_settings_.preamp) << Where();
  EXPECT_EQ(first.adc_dither_on(), rec_settings_.dither) << Where();
  EXPECT_EQ(first.row(), rec_settings_.row) << Where();
  if (const auto inside = plugin_.Inside()) {
    EXPECT_LE(contents.skipped_pairs, (inside->dropped_blocks - dropped_at_rec_) * kBlockPairs)
        << Where() << ": the recording skips pairs the ring did not drop";
  }
  if (!callback_gap_in_recording_) {
    EXPECT_LE(contents.skipped_pairs, host_.missing_pairs() - host_missing_at_rec_)
        << Where() << ": the recording skips pairs the host received";
  }
  recorded_blocks_ += contents.blocks;
  recorded_files_ += contents.files.size();
  if (Test::HasFailure()) {
    const fs::path kept = fs::temp_directory_path() / ("halvorn-session-seed" + std::to_string(options_.seed));
    fs::create_directories(kept);
    for (const std::string& name : names) fs::rename(fs::path(directory) / name, kept / name);
    std::printf("recording kept in %s\n", kept.string().c_str());
    return;
  }
  for (const std::string& name : names) fs::remove(fs::path(directory) / name);
}

void RandomisedSession::Finish() {
  if (options_.ending) return FinishByUnload(*options_.ending);
  if (model_.recording) DoClick(panel::kStopButton);
  Begin("finish: StopHW, CloseHW");
  host_calls().StopHW();
  model_.Stopped();
  const bool released = host_calls().CloseHW();
  End();
  EXPECT_EQ(released, model_.library_loaded) << Where();
  model_.Closed();
  CheckInvariants();
  EXPECT_TRUE(host_.faults().empty());
  const auto inside = plugin_.Inside();
  if (inside) {
    EXPECT_LE(host_.missing_pairs(), inside->dropped_blocks * kBlockPairs)
        << "seed " << options_.seed << ": the host missed pairs the ring did not drop";
  }
  EXPECT_LE(host_.streams(), device_streams_) << "seed " << options_.seed << ": the host saw more streams than started";
  std::printf(
      "seed %u: %d steps, %llu blocks to the host, %llu pairs missed, %llu streams, %llu blocks in %llu files\n",
      options_.seed, step_ - 1, static_cast<unsigned long long>(host_.blocks()),
      static_cast<unsigned long long>(host_.missing_pairs()), static_cast<unsigned long long>(device_streams_),
      static_cast<unsigned long long>(recorded_blocks_), static_cast<unsigned long long>(recorded_files_));
}

void RandomisedSession::FinishByUnload(Unload way) {
  const bool opens_receiver = way == Unload::kWhileAMessageIsOpen;  // the message comes from OpenHW
  Begin(way == Unload::kFromAnotherThread ? "finish: unload from another thread"
                                          : "finish: unload from another thread while a message is open");
  ASSERT_TRUE(plugin_.UnloadWithoutClosing(way)) << "this plug-in cannot be unloaded that way";
  End();
  if (opens_receiver) {
    EXPECT_EQ(plugin_.TakeMessages().size(), 1u) << Where();
  }
  const std::vector<JournalLine> calls = journal_.NewLines();
  const bool receiver_was_open = model_.device_open || opens_receiver;
  EXPECT_EQ(!calls.empty() && calls.back().entry == "Close", receiver_was_open)
      << Where() << ": the unload and the receiver's Close";
  const std::uint64_t blocks = host_.blocks();
  if (model_.recording) CheckRecording();
  plugin_.Run(std::chrono::milliseconds(100));
  EXPECT_EQ(host_.blocks(), blocks) << Where() << ": blocks after the unload";
  EXPECT_TRUE(host_.faults().empty());
  std::printf("seed %u: %d steps, %llu blocks to the host, then unloaded%s\n", options_.seed, step_ - 1,
              static_cast<unsigned long long>(blocks),
              way == Unload::kWhileAMessageIsOpen ? " under a message" : " from another thread");
}

// ---- Arguments --------------------------------------------------------------------------

bool RandomisedSession::Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
int RandomisedSession::Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

std::int32_t RandomisedSession::HostileFrequency() {
  static constexpr std::int32_t kEdges[] = {INT32_MIN, INT32_MAX, -1,       0,       1,        40000000,
                                            40000001,  -40000000, 80000000, 7050000, 14200000, 39999999};
  switch (Uniform(0, 5)) {
    case 0: return kEdges[Uniform(0, static_cast<int>(std::size(kEdges)) - 1)];
    case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
    default: return Uniform(0, 40000000);
  }
}

// Tuned frequencies around which calibrations go wrong in every way, and the
// plausible ones.
std::int32_t RandomisedSession::TunedFrequency() {
  static constexpr std::int32_t kOdd[] = {0, 500, -500, 499,  -499,      501,       -501,     1499,    -1500,
                                          1, -1,  1000, 2000, INT32_MAX, INT32_MIN, 10000100, 9999900, 7000500};
  switch (Uniform(0, 3)) {
    case 0: return kOdd[Uniform(0, static_cast<int>(std::size(kOdd)) - 1)];
    case 1: return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(INT32_MIN, INT32_MAX)(rng_));
    default: return model_.lo + Uniform(-3000, 3000);
  }
}

// ---- Plumbing ---------------------------------------------------------------------------

void RandomisedSession::Begin(std::string description) {
  last_step_ = description;
  watchdog_.Begin(step_, std::move(description));
}

void RandomisedSession::End() { watchdog_.End(); }

std::string RandomisedSession::Where() const {
  return "seed " + std::to_string(options_.seed) +
         " (replay with HALVORN_SESSION_SEEDS=" + std::to_string(options_.seed) + "), step " + std::to_string(step_) +
         " " + last_step_ + "\nlast steps:\n" + watchdog_.Recent();
}

}  // namespace halvorn::testing
