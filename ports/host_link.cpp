#include "ports/host_link.h"

namespace halvorn {

void HALVORN_CDECL CallHostDirectly(HostCallback callback, std::int32_t count, std::int32_t status, float iq_offset,
                                    void* data) {
  callback(count, status, iq_offset, data);
}

void HostLink::NotifySampleRateChange() const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, kStatusSampleRateChanged, 0.0f, nullptr);
  trace_("SR change signaled to Winrad");
}

void HostLink::NotifyLoChange() const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, kStatusLoChanged, 0.0f, nullptr);
  trace_("LO change signaled to Winrad");
}

void HostLink::NotifyAttenuatorChange() const {
  HostCallback registered = registered_callback();
  if (registered == nullptr || !attenuator_followed_.load(std::memory_order_acquire)) return;
  registered(-1, kStatusAttenuatorChanged, 0.0f, nullptr);
  trace_("Attenuator change signaled to the host");
}

void HostLink::NotifyRecordingState(bool started) const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, started ? kStatusRecordingStarted : kStatusRecordingStopped, 0.0f, nullptr);
  trace_("RecStatus change signaled to Winrad");
}

}  // namespace halvorn
