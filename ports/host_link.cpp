#include "ports/host_link.h"

namespace halvorn {

void HALVORN_CDECL CallHostDirectly(HostCallback callback, std::int32_t count, std::int32_t status, float iq_offset,
                                    void* data) {
  callback(count, status, iq_offset, data);
}

void HostLink::NotifyFromPanelThread(HostStatus status) const {
  if (HostCallback registered = registered_callback()) callers_.panel_thread(registered, -1, status, 0.0f, nullptr);
}

void HostLink::NotifySampleRateChange() const {
  if (registered_callback() == nullptr) return;
  NotifyFromPanelThread(kStatusSampleRateChanged);
  trace_("SR change signaled to Winrad");
}

void HostLink::NotifyLoChange() const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, kStatusLoChanged, 0.0f, nullptr);
  trace_("LO change signaled to Winrad");
}

void HostLink::NotifyLoChangeFromPanel() const {
  if (registered_callback() == nullptr) return;
  NotifyFromPanelThread(kStatusLoChanged);
  trace_("LO change signaled to Winrad");
}

void HostLink::NotifyAttenuatorChange() const {
  if (registered_callback() == nullptr || !attenuator_followed_.load(std::memory_order_acquire)) return;
  NotifyFromPanelThread(kStatusAttenuatorChanged);
  trace_("Attenuator change signaled to the host");
}

void HostLink::NotifyRecordingState(bool started) const {
  if (registered_callback() == nullptr) return;
  NotifyFromPanelThread(started ? kStatusRecordingStarted : kStatusRecordingStopped);
  trace_("RecStatus change signaled to Winrad");
}

}  // namespace halvorn
