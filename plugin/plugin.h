// The module-wide state and the thirteen entry points, in portable form. The
// Win32 exports are one-line forwards to these.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/device_library.h"
#include "device/library_loader.h"
#include "panel/user_interface.h"
#include "plugin/host_link.h"
#include "plugin/module_services.h"
#include "plugin/trace.h"
#include "receiver/control_record_link.h"
#include "streaming/sample_stream.h"
#include "streaming/stream_resources.h"

namespace halvorn {

namespace panel {
class ControlPanel;
}

inline constexpr std::int32_t kDefaultLoHz = 7050000;
inline constexpr std::int32_t kMaximumLoHz = 40000000;
inline constexpr std::int32_t kSampleTypeInt24 = 5;
inline constexpr const char* kLibraryMissingMessage = "halvornusb.dll not found";

class Plugin {
 public:
  Plugin(device::LibraryLoader& loader, UserInterface& ui, streaming::StreamResources& stream_resources);
  // Stops a running stream and releases the device library.
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  ModuleServices services() { return {device_, control_record_, host_, ui_, trace_}; }
  Trace& trace() { return trace_; }
  device::DeviceLibrary& device() { return device_; }
  streaming::SampleStream& stream() { return stream_; }
  // The control dialog object, which holds the receiver and the recorder;
  // null while there is none. Entry points that need it do nothing without it.
  void AttachPanel(panel::ControlPanel* panel) { panel_.store(panel, std::memory_order_release); }

  bool InitHW(char* name, char* model, int* sample_type);
  bool OpenHW();
  std::int32_t StartHW(std::int32_t lo_hz);
  void StopHW();
  bool CloseHW();
  std::int32_t SetHWLO(std::int32_t lo_hz);
  std::int32_t GetHWLO();
  std::int32_t GetHWSR();
  std::int32_t GetStatus();
  void SetCallback(HostCallback callback);
  void ShowGUI();
  void HideGUI();
  void TuneChanged(std::int32_t frequency_hz);

 private:
  panel::ControlPanel* panel() const { return panel_.load(std::memory_order_acquire); }

  UserInterface& ui_;
  Trace trace_;
  HostLink host_{trace_};
  device::DeviceLibrary device_;
  receiver::ControlRecordLink control_record_{device_};
  streaming::SampleStream stream_;
  std::atomic<panel::ControlPanel*> panel_{nullptr};

  std::atomic<std::int32_t> lo_hz_{kDefaultLoHz};
  std::atomic<bool> first_init_{true};
};

}  // namespace halvorn
