// The thirteen entry points, on the module's parts.
#include <cstring>

#include "plugin/module.h"

namespace halvorn {

bool Module::InitHW(char* name, char* model, int* sample_type) {
  trace_("InitHW");
  // The library is about to be loaded afresh: never leave its input running.
  stream_.StopAsyncProcessing();
  if (!device_.Load()) {
    ui_.ShowError(kLibraryMissingMessage);
    trace_("Unable to load halvornusb.dll");
    return false;
  }
  trace_("Halvorn DLL Loaded");
  if (!device_.Open()) return false;
  trace_("Halvorn Open ok");
  if (device_.FirmwareDownload(nullptr) != 0) return false;
  trace_("Halvorn Firmware download ok");

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
  InitReceiver();
  ui_.ShowPanel();
  return true;
}

std::int32_t Module::StartHW(std::int32_t lo_hz) {
  trace_("StartHW");
  receiver_.SetLO(lo_hz);
  ui_.ShowPanel();
  stream_.StartAsyncProcessingExt(receiver_.sample_rate_index(), &recorder_);
  return kBlockPairs;
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
  device_.Close();
  return device_.Unload();
}

std::int32_t Module::SetHWLO(std::int32_t lo_hz) {
  trace_("SetHWLO");
  if (lo_hz > receiver::kHighestLoHz) return 1;
  if (lo_hz < receiver::kLowestLoHz) return -1;
  receiver_.SetLO(lo_hz);
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
  ui_.ShowPanel();
}

void Module::HideGUI() {
  trace_("HideGUI");
  ui_.MinimisePanel();
}

void Module::TuneChanged(std::int32_t frequency_hz) { receiver_.TuneChanged(frequency_hz); }

}  // namespace halvorn
