// The receiver's asynchronous input: between StartAsyncInput and the return
// of StopAsyncInput one thread calls the caller's callback with one transfer
// of the announced size per call, one call at a time, until the receiver is
// unplugged.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/device_abi.h"
#include "simulator/front_end.h"
#include "simulator/input_threads.h"
#include "simulator/presence.h"
#include "simulator/settings.h"

namespace halvorn::simulator {

// Larger transfers than any USB driver would queue are refused.
inline constexpr std::int32_t kLargestTransferBytes = 16 * 1024 * 1024;

class InputSession;

class InputStream {
 public:
  enum class StartResult { kStarted, kRunning, kNoCallback, kBadSize, kNoResources };
  struct StopResult {
    bool was_running;
    std::uint64_t transfers;  // callbacks made during the stream that ended
  };

  InputStream(FrontEndState& front_end, Presence& presence);
  // Ends a stream still running and waits for its thread, as unloading the
  // library would.
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Refused while a stream runs, and from inside the callback.
  StartResult Start(std::int32_t bytes_per_transfer, device::TransferCallbackFn callback, SourceKind source,
                    Pacing pacing);
  // Returns once the input thread has ended; nothing is called after that.
  // From inside the callback it returns at once and that call is the last;
  // its thread is waited for by the next start or stop, or the destructor.
  StopResult Stop();

 private:
  friend class InputSession;

  // The session whose thread is the caller, while it runs the callback.
  InputSession* CallingSession() const;

  FrontEndState& front_end_;
  Presence& presence_;
  std::mutex mutex_;  // serialises starts and stops
  InputThreads threads_;
  // The session whose thread has not been joined yet.
  std::unique_ptr<InputSession> active_;
  // Which thread is inside the callback, and for which session; the token is
  // compared before the session is touched, so only its own thread uses it.
  std::atomic<std::uint64_t> callback_thread_{0};
  std::atomic<InputSession*> callback_session_{nullptr};
};

}  // namespace halvorn::simulator
