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

// How a block is handed to the host's callback: directly, or, on a platform
// that guards the module's unload, through its door.
using HostCaller = void(HALVORN_CDECL*)(HostCallback callback, std::int32_t count, std::int32_t status,
                                        float iq_offset, void* data);
void HALVORN_CDECL CallHostDirectly(HostCallback callback, std::int32_t count, std::int32_t status, float iq_offset,
                                    void* data);

enum HostStatus : std::int32_t {
  kStatusSampleBlock = 0,
  kStatusSampleRateChanged = 100,
  kStatusLoChanged = 101,
  kStatusRecordingStarted = 102,
  kStatusRecordingStopped = 103,
  kStatusAttenuatorChanged = 125,
};

class HostLink {
 public:
  explicit HostLink(const Trace& trace) : trace_(trace) {}

  // Null unregisters.
  void SetCallback(HostCallback callback) { callback_.store(callback, std::memory_order_release); }
  HostCallback registered_callback() const { return callback_.load(std::memory_order_acquire); }

  // One block; its bytes are valid only during the call.
  void DeliverBlock(std::uint8_t* block, HostCaller caller = &CallHostDirectly) const {
    if (HostCallback registered = registered_callback()) {
      caller(registered, kBlockPairs, kStatusSampleBlock, 0.0f, block);
    }
  }

  void NotifySampleRateChange() const;
  // The LO is not the one the host asked for: it calls GetHWLO again.
  void NotifyLoChange() const;
  void NotifyRecordingState(bool started) const;
  // The host has asked for the attenuator list: it shows the attenuator, and
  // from now on hears of changes it did not make itself.
  void FollowAttenuator() { attenuator_followed_.store(true, std::memory_order_release); }
  // The attenuator changed: a host that shows it calls GetActualAttIdx.
  void NotifyAttenuatorChange() const;

 private:
  const Trace& trace_;
  std::atomic<HostCallback> callback_{nullptr};
  std::atomic<bool> attenuator_followed_{false};
};

}  // namespace halvorn
