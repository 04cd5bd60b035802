// The host's side of the conversation: the callback it registered with
// SetCallback, and the forms in which the plug-in calls it.
#pragma once

#include <atomic>
#include <cstdint>

#include "ports/calling_convention.h"
#include "ports/sample_block.h"
#include "ports/trace.h"

namespace halvorn {

// count, status, IQ offset, data. The host's return value is ignored.
using HostCallback = void(HALVORN_CDECL*)(std::int32_t count, std::int32_t status, float iq_offset,
                                          void* data);

// How a thread of the module's own calls the host's callback: directly, or,
// on a platform that guards the module's unload, through its door, where the
// delivery thread and the panel's thread each have a way of their own.
using HostCaller = void(HALVORN_CDECL*)(HostCallback callback, std::int32_t count, std::int32_t status,
                                        float iq_offset, void* data);
void HALVORN_CDECL CallHostDirectly(HostCallback callback, std::int32_t count, std::int32_t status, float iq_offset,
                                    void* data);
struct HostCallers {
  HostCaller delivery_thread;
  HostCaller panel_thread;
};
inline constexpr HostCallers kCallHostDirectly{&CallHostDirectly, &CallHostDirectly};

enum HostStatus : std::int32_t {
  kStatusSampleBlock = 0,
  kStatusSampleRateChanged = 100,
  kStatusLoChanged = 101,
  kStatusRecordingStarted = 102,
  kStatusRecordingStopped = 103,
  kStatusAttenuatorChanged = 125,
};

// The host's callback, called from the module's own threads through
// `callers`, and from a host's thread inside an entry point directly.
class HostLink {
 public:
  HostLink(const Trace& trace, HostCallers callers) : trace_(trace), callers_(callers) {}

  // Null unregisters.
  void SetCallback(HostCallback callback) { callback_.store(callback, std::memory_order_release); }
  HostCallback registered_callback() const { return callback_.load(std::memory_order_acquire); }

  // The delivery thread: one block, its bytes valid only during the call.
  void DeliverBlock(std::uint8_t* block) const {
    if (HostCallback registered = registered_callback()) {
      callers_.delivery_thread(registered, kBlockPairs, kStatusSampleBlock, 0.0f, block);
    }
  }

  // The panel's thread: what the user did on the panel.
  void NotifySampleRateChange() const;
  void NotifyRecordingState(bool started) const;
  // The attenuator changed: a host that shows it calls GetActualAttIdx.
  void NotifyAttenuatorChange() const;
  // A clock calibration brought the LO down to the new top of the range.
  void NotifyLoChangeFromPanel() const;
  // The host has asked for the attenuator list: it shows the attenuator, and
  // from now on hears of changes it did not make itself.
  void FollowAttenuator() { attenuator_followed_.store(true, std::memory_order_release); }

  // A host's thread, inside the entry point that tuned: the LO is not the one
  // the host asked for, and it calls GetHWLO again.
  void NotifyLoChange() const;

 private:
  void NotifyFromPanelThread(HostStatus status) const;

  const Trace& trace_;
  const HostCallers callers_;
  std::atomic<HostCallback> callback_{nullptr};
  std::atomic<bool> attenuator_followed_{false};
};

}  // namespace halvorn
