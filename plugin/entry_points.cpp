// The thirteen entry points every host knows, on the module's parts.
#include <algorithm>
#include <cstring>

#include "plugin/module.h"

namespace halvorn {
namespace {

using streaming::StreamStart;

const char* StartFailure(StreamStart start, bool device_loaded) {
  switch (start) {
    case StreamStart::kDeviceStillRunning: return "StartHW failed: the receiver's input did not take its last stop";
    case StreamStart::kNoRing: return "StartHW failed: no memory for the sample ring";
    case StreamStart::kNoEvent: return "StartHW failed: no event for the delivery thread";
    case StreamStart::kNoThread: return "StartHW failed: the delivery thread did not start";
    case StreamStart::kEarlierThreadInCallback:
      return "StartHW failed: the last stream's delivery thread is still inside the host's callback";
    case StreamStart::kDeviceRefused:
      return device_loaded ? "StartHW failed: the receiver refused to start its input"
                           : "StartHW failed: the receiver is not open";
    case StreamStart::kStarted:
    case StreamStart::kAlreadyStreaming: break;
  }
  return "";
}

}  // namespace

bool Module::BringUpDevice() {
  device_open_ = false;
  // Until the receiver is open again it runs no bitstream of ours.
  receiver_.ForgetLoadedBitstream();
  if (!device_.Load()) {
    ui_.ShowError(kLibraryMissingMessage);
    trace_("Unable to load halvornusb.dll");
    return false;
  }
  trace_("Halvorn DLL Loaded");
  return OpenWithFirmware();
}

bool Module::OpenWithFirmware() {
  // A device handle that went stale with its receiver is closed first. The
  // loss is forgotten only once the receiver answers again, so that an
  // opening that finds it still gone leaves the next StartHW trying.
  if (receiver_lost_) device_.Close();
  if (!device_.Open()) return false;
  trace_("Halvorn Open ok");
  if (device_.FirmwareDownload(nullptr) != 0) return false;
  trace_("Halvorn Firmware download ok");
  // A receiver opened afresh runs no bitstream until one is loaded.
  receiver_.ForgetLoadedBitstream();
  receiver_lost_ = false;
  device_open_ = true;
  return true;
}

bool Module::InitHW(char* name, char* model, int* sample_type) {
  trace_("InitHW");
  // The library is about to be loaded afresh: never leave its input running.
  stream_.StopAsyncProcessing();
  if (!BringUpDevice()) return false;

  if (sample_type != nullptr) *sample_type = kSampleTypeInt24;
  // No tuning has reached the receiver before its first opening.
  if (first_init_.exchange(false)) receiver_.ForgetLo();
  static constexpr char kName[] = "Halvorn HF Receiver";
  static constexpr char kModel[] = "Halvorn v1.0";
  if (name != nullptr) std::memcpy(name, kName, sizeof kName);
  if (model != nullptr) std::memcpy(model, kModel, sizeof kModel);
  return true;
}

bool Module::OpenHW() {
  trace_("OpenHW");
  trace_("Initializing CtlDialog");
  ui_.PreparePanel();
  // A receiver closed by CloseHW (or never opened), or one that went, comes
  // back up first.
  if ((!device_open_ || receiver_lost_) && !BringUpDevice()) return false;
  InitReceiver();
  ui_.ShowPanel();
  return true;
}

std::int32_t Module::StartHW(std::int32_t lo_hz) {
  trace_("StartHW");
  // A receiver that went comes back with every setting the plug-in holds,
  // those changed meanwhile included; still gone, nothing streams.
  switch (ReopenIfLost()) {
    case Reopened::kStillGone: trace_("StartHW failed: the receiver is still gone"); return kStartFailed;
    case Reopened::kReopened: receiver_.SendAllSettings(); break;
    case Reopened::kNotLost: break;
  }
  // An LO outside the range is tuned at its nearer end, and the host, told
  // the LO changed, reads the one really tuned.
  const std::int32_t tuned_lo_hz = std::clamp(lo_hz, receiver::kLowestLoHz, receiver_.highest_lo_hz());
  if (tuned_lo_hz != lo_hz) trace_.Format("LO out of range, tuned to %d Hz", tuned_lo_hz);
  const bool tuned = receiver_.SetLO(tuned_lo_hz);
  ui_.PreparePanel();
  ui_.ShowPanel();
  const StreamStart start = stream_.StartAsyncProcessingExt(receiver_.sample_rate_index(), &recorder_);
  if (tuned_lo_hz != lo_hz || !tuned) host_.NotifyLoChange();
  if (start == StreamStart::kStarted || start == StreamStart::kAlreadyStreaming) return kBlockPairs;
  trace_(StartFailure(start, device_.IsLoaded()));
  // A receiver that refuses its input and its control record has gone while
  // nothing streamed.
  if (start == StreamStart::kDeviceRefused && device_open_ && !control_record_.Resend()) ReceiverLost();
  return kStartFailed;
}

void Module::StopHW() {
  trace_("StopHW");
  stream_.StopAsyncProcessing();
  ui_.MinimisePanel();
}

bool Module::CloseHW() {
  trace_("CloseHW");
  // The library's input thread must be gone before the library is.
  stream_.StopAsyncProcessing();
  device_open_ = false;
  receiver_lost_ = false;
  receiver_.ForgetLoadedBitstream();
  device_.Close();
  return device_.Unload();
}

std::int32_t Module::SetHWLO(std::int32_t lo_hz) {
  trace_("SetHWLO");
  // Out of range: the highest LO, or a negative number below the lowest.
  if (const std::int32_t highest = receiver_.highest_lo_hz(); lo_hz > highest) return highest;
  if (lo_hz < receiver::kLowestLoHz) return -1;
  // Refused by the receiver: the host, told the LO changed, reads the old one.
  if (!receiver_.SetLO(lo_hz)) host_.NotifyLoChange();
  return 0;
}

std::int32_t Module::GetHWLO() {
  trace_("GetHWLO");
  return receiver_.lo_hz();
}

std::int32_t Module::GetHWSR() {
  trace_("GetHWSR");
  return receiver_.sample_rate_hz();
}

std::int32_t Module::GetStatus() {
  trace_("GetStatus");
  return 0;
}

void Module::SetCallback(HostCallback callback) {
  trace_("SetCallback");
  host_.SetCallback(callback);
}

void Module::ShowGUI() {
  trace_("ShowGUI");
  ui_.PreparePanel();
  ui_.ShowPanel();
}

void Module::HideGUI() {
  trace_("HideGUI");
  ui_.MinimisePanel();
}

void Module::TuneChanged(std::int32_t frequency_hz) { receiver_.TuneChanged(frequency_hz); }

}  // namespace halvorn
