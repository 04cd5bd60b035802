// Starting and stopping the sample stream: the ring, the delivery thread
// BufferReadyProc and the device library's asynchronous input, and the
// streaming bit of the control record.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "device/device_abi.h"
#include "device/device_library.h"
#include "ports/host_link.h"
#include "ports/platform_kit.h"
#include "ports/sample_block.h"
#include "ports/trace.h"
#include "ports/user_interface.h"
#include "receiver/control_record_link.h"
#include "receiver/running_input.h"
#include "streaming/block_sink.h"
#include "streaming/receiver_loss.h"

namespace halvorn::streaming {

// Each slot holds one block.
inline constexpr int kSlotCount = 512;
// How long a stop waits for the delivery thread to leave a host callback
// before it lets the thread finish on its own.
inline constexpr std::uint32_t kStopWaitMs = 1000;
// How long the stream, when it goes away, waits for such a thread to finish.
inline constexpr std::uint32_t kAbandonedWaitMs = 5000;

inline constexpr const char* kReceiverSilentMessage =
    "The receiver has delivered no samples for more than 2 seconds.\n"
    "Check its USB connection and power. The stream goes on as soon as samples come again.";

struct StreamSession;

enum class StreamStart {
  kStarted,
  kAlreadyStreaming,
  // The device's earlier input may still run: it did not take the last stop.
  kDeviceStillRunning,
  kNoRing,
  kNoEvent,
  kNoThread,
  // The device refused or lacks the start of its input.
  kDeviceRefused,
  // A delivery thread of an earlier stream is still inside the host's callback.
  kEarlierThreadInCallback,
};

enum class StreamStop {
  kStopped,
  kWasIdle,
  // Stopped here, but the device refused or lacks the stop of its input.
  kDeviceRefusedStop,
  // The delivery thread is still inside the host's callback; it ends, and
  // frees what it holds, when the callback returns.
  kThreadLeftInCallback,
};

class SampleStream final : public receiver::RunningInput {
 public:
  // The device library is given `transfer_entry` to call with each transfer:
  // TransferCallback, or the module's way in to it. `loss` hears when the
  // receiver has gone while streaming.
  SampleStream(device::DeviceLibrary& device, receiver::ControlRecordLink& control_record, const HostLink& host,
               UserInterface& ui, const Trace& trace, PlatformKit& kit, device::TransferCallbackFn transfer_entry,
               ReceiverLoss& loss);
  ~SampleStream() override;
  SampleStream(const SampleStream&) = delete;
  SampleStream& operator=(const SampleStream&) = delete;

  // Starts with the transfer size of the given sample-rate row.
  StreamStart StartAsyncProcessingExt(int sample_rate_index, BlockSink* recorder);
  // Does nothing while streaming. A failure to get the ring, the event or the
  // thread leaves the stream idle with nothing held, and so does a device
  // whose earlier input still runs because it did not take the stop.
  StreamStart StartAsyncProcessing(int bytes_per_transfer, int slot_size, int slot_count, BlockSink* recorder);
  // Returns promptly and delivers nothing afterwards, also when called from
  // inside the host callback. Does nothing while idle.
  StreamStop StopAsyncProcessing();
  // A change of rate under a running stream (receiver/running_input.h). How
  // long the blocks already received may take to reach the host before the
  // change goes on without waiting for the rest is kStopWaitMs.
  receiver::InputRestart RestartAround(const std::function<int()>& reconfigure) override;
  // For a module that goes, where the device's stop cannot be waited for:
  // nothing more is delivered, but the device's input is left running
  // (InputMayRun) for whoever releases the library. Does nothing while idle.
  void EndLeavingInputRunning();

  bool IsStreaming() const { return session_.load(std::memory_order_acquire) != nullptr; }
  // The device refused (or lacks) the last stop of its input, which may
  // therefore still deliver.
  bool InputMayRun() const {
    std::lock_guard lock(start_stop_mutex_);
    return input_may_run_;
  }
  // Blocks dropped because the ring was full, over every stream so far.
  std::uint64_t dropped_blocks() const;

  // The device library's callback for each completed transfer.
  static bool HALVORN_STDCALL TransferCallback(std::uint8_t* transfer, void* unused);

 private:
  // After this the device's callback reaches no session, and none is inside one.
  static void CloseRoute();
  // Waits a stop's time for delivery threads let go earlier to end; false
  // when one is still there.
  bool AwaitEarlierThreads();
  // Stops the session's delivery thread and frees the session; false when the
  // thread is still inside the host's callback and frees it itself later.
  static bool EndSession(StreamSession* session);
  // The same for the running session, with its drops counted.
  bool EndSessionLocked(StreamSession* session);

  device::DeviceLibrary& device_;
  receiver::ControlRecordLink& control_record_;
  const HostLink& host_;
  UserInterface& ui_;
  const Trace& trace_;
  PlatformKit& kit_;
  const device::TransferCallbackFn transfer_entry_;
  ReceiverLoss& loss_;

  mutable std::mutex start_stop_mutex_;  // host threads may start and stop at once
  std::atomic<StreamSession*> session_{nullptr};
  std::atomic<std::uint64_t> dropped_before_{0};
  std::atomic<int> live_sessions_{0};
  // The last StopAsyncInput failed: the device may still deliver transfers of
  // the size it was started with. Guarded by start_stop_mutex_.
  bool input_may_run_ = false;
};

}  // namespace halvorn::streaming
