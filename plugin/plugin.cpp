#include "plugin/plugin.h"

#include <cstring>

#include "panel/control_panel.h"

namespace halvorn {

Plugin::Plugin(device::LibraryLoader& loader, UserInterface& ui,
               streaming::StreamResources& stream_resources)
    : ui_(ui), device_(loader), stream_(device_, control_record_, host_, trace_, stream_resources) {}

Plugin::~Plugin() {
  stream_.StopAsyncProcessing();
  device_.Unload();
}

bool Plugin::InitHW(char* name, char* model, int* sample_type) {
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
  if (first_init_.exchange(false)) lo_hz_ = kDefaultLoHz;
  static constexpr char kName[] = "Halvorn HF Receiver";
  static constexpr char kModel[] = "Halvorn v1.0";
  if (name != nullptr) std::memcpy(name, kName, sizeof kName);
  if (model != nullptr) std::memcpy(model, kModel, sizeof kModel);
  return true;
}

bool Plugin::OpenHW() {
  trace_("OpenHW");
  trace_("Initializing CtlDialog");
  if (panel::ControlPanel* panel = this->panel()) {
    panel->receiver().InitReceiver(panel->recorder().IsRecording());
  }
  ui_.ShowPanel();
  return true;
}

std::int32_t Plugin::StartHW(std::int32_t lo_hz) {
  trace_("StartHW");
  lo_hz_ = lo_hz;
  panel::ControlPanel* panel = this->panel();
  if (panel != nullptr) panel->receiver().SetLO(lo_hz);
  ui_.ShowPanel();
  if (panel != nullptr) {
    stream_.StartAsyncProcessingExt(panel->receiver().sample_rate_index(), &panel->recorder());
  }
  return kPairsPerBlock;
}

void Plugin::StopHW() {
  trace_("StopHW");
  stream_.StopAsyncProcessing();
  ui_.MinimisePanel();
}

bool Plugin::CloseHW() {
  trace_("CloseHW");
  // The library's input thread must be gone before the library is.
  stream_.StopAsyncProcessing();
  device_.Close();
  return device_.Unload();
}

std::int32_t Plugin::SetHWLO(std::int32_t lo_hz) {
  trace_("SetHWLO");
  if (lo_hz > kMaximumLoHz) return 1;
  if (lo_hz < 0) return -1;
  lo_hz_ = lo_hz;
  if (panel::ControlPanel* panel = this->panel()) panel->receiver().SetLO(lo_hz);
  return 0;
}

std::int32_t Plugin::GetHWLO() {
  trace_("GetHWLO");
  return lo_hz_;
}

std::int32_t Plugin::GetHWSR() {
  trace_("GetHWSR");
  panel::ControlPanel* panel = this->panel();
  return panel != nullptr ? panel->receiver().sample_rate_hz() : 0;
}

std::int32_t Plugin::GetStatus() {
  trace_("GetStatus");
  return 0;
}

void Plugin::SetCallback(HostCallback callback) {
  trace_("SetCallback");
  host_.SetCallback(callback);
}

void Plugin::ShowGUI() {
  trace_("ShowGUI");
  ui_.ShowPanel();
}

void Plugin::HideGUI() {
  trace_("HideGUI");
  ui_.MinimisePanel();
}

void Plugin::TuneChanged(std::int32_t frequency_hz) {
  if (panel::ControlPanel* panel = this->panel()) panel->receiver().TuneChanged(frequency_hz);
}

}  // namespace halvorn
