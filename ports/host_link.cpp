#include "ports/host_link.h"

namespace halvorn {

void HostLink::NotifySampleRateChange() const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, kStatusSampleRateChanged, 0.0f, nullptr);
  trace_("SR change signaled to Winrad");
}

void HostLink::NotifyRecordingState(bool started) const {
  HostCallback registered = registered_callback();
  if (registered == nullptr) return;
  registered(-1, started ? kStatusRecordingStarted : kStatusRecordingStopped, 0.0f, nullptr);
  trace_("RecStatus change signaled to Winrad");
}

}  // namespace halvorn
