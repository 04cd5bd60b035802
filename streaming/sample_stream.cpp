#include "streaming/sample_stream.h"

#include <chrono>
#include <new>
#include <thread>

#include "receiver/sample_rate_table.h"
#include "streaming/arrival_spinner.h"
#include "streaming/sample_ring.h"
#include "streaming/stall_watch.h"

namespace halvorn::streaming {

// Everything one stream owns, from its start to the moment both the stopping
// thread and the delivery thread are done with it. Whichever of the two comes
// last frees it, so a stop never has to wait out a host callback.
struct StreamSession {
  enum Owner : int { kRunning, kThreadExited, kAbandoned };

  StreamSession(StreamResources& resources_in, std::atomic<int>& live_sessions_in, void* memory_in,
                int bytes_per_transfer_in, int slot_count, int slot_size, const HostLink& host_in,
                UserInterface& ui_in, const Trace& trace_in, BlockSink* recorder_in)
      : resources(resources_in),
        live_sessions(live_sessions_in),
        bytes_per_transfer(static_cast<std::size_t>(bytes_per_transfer_in)),
        memory(memory_in),
        ring(memory_in, slot_count, slot_size),
        host(host_in),
        ui(ui_in),
        trace(trace_in),
        recorder(recorder_in) {}
  ~StreamSession() { resources.FreeRing(memory); }

  // Frees the session, then tells the stream, which waits for this before it
  // goes away itself.
  static void Free(StreamSession* session) {
    std::atomic<int>& live = session->live_sessions;
    delete session;
    live.fetch_sub(1, std::memory_order_release);
  }

  StreamResources& resources;
  std::atomic<int>& live_sessions;
  std::size_t bytes_per_transfer;  // every transfer has this size
  void* memory;
  SampleRing ring;
  const HostLink& host;
  UserInterface& ui;
  const Trace& trace;
  BlockSink* recorder;
  std::unique_ptr<WakeEvent> block_event;
  std::unique_ptr<WakeEvent> exit_event;
  std::unique_ptr<WorkerThread> thread;
  std::atomic<bool> stop_request{false};
  std::atomic<bool> consumer_waiting{false};
  std::atomic<int> owner{kRunning};
};

namespace {

// The device library's callback carries no context of ours, so the way from
// it to the session being filled is the one piece of module-wide state the
// stream needs.
struct TransferRoute {
  std::atomic<StreamSession*> receiving_session{nullptr};
  // Calls of the callback under way. A device that did not take the stop may
  // still be inside one with the session a stop is about to free.
  std::atomic<int> transfers_in_progress{0};
};
TransferRoute g_route;

// Set on the delivery thread, which a start can never wait for.
thread_local bool t_on_delivery_thread = false;

void DrainRing(StreamSession& session) {
  session.ring.Drain(
      [&session](std::uint8_t* block, std::uint32_t drops_before) {
        session.host.DeliverBlock(block);
        // A stop that gave up waiting for the host may already have let the
        // recorder go: after a stop request it is not touched again.
        if (session.recorder == nullptr || session.stop_request.load(std::memory_order_acquire)) return;
        if (drops_before != 0) session.recorder->BlocksLost(drops_before);
        session.recorder->WriteBlock(block, kBlockPairs);
      },
      session.stop_request);
}

void TellReceiverSilent(StreamSession& session) {
  session.trace("No samples from the receiver for 2 s");
  session.ui.ShowNotice(kReceiverSilentMessage);
}

void BufferReadyProc(void* argument) {
  t_on_delivery_thread = true;
  auto& session = *static_cast<StreamSession*>(argument);
  ArrivalSpinner spinner;
  StallWatch stall_watch(StallWatch::Clock::now());
  const auto stopping = [&session] { return session.stop_request.load(std::memory_order_acquire); };
  while (!stopping()) {
    if (session.ring.HasBlockReady()) {
      spinner.BlocksArrived();
      stall_watch.SamplesArrived(spinner.last_arrival());
      DrainRing(session);
      continue;
    }
    if (spinner.SpinUntil([&] { return session.ring.HasBlockReady() || stopping(); })) continue;
    // Announce the wait, then look again: a producer that completed a slot
    // after the drain either sees the announcement and signals, or its slot is
    // seen here.
    session.consumer_waiting.store(true, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (session.ring.HasBlockReady() || session.stop_request.load(std::memory_order_acquire)) {
      session.consumer_waiting.store(false, std::memory_order_relaxed);
      continue;
    }
    session.block_event->Wait(1000);
    session.consumer_waiting.store(false, std::memory_order_relaxed);
    if (!stopping() && stall_watch.QuietTooLong(StallWatch::Clock::now())) TellReceiverSilent(session);
  }
  session.exit_event->Signal();
  if (session.owner.exchange(StreamSession::kThreadExited) == StreamSession::kAbandoned) {
    session.thread->Retire();
    StreamSession::Free(&session);
  }
}

}  // namespace

SampleStream::SampleStream(device::DeviceLibrary& device, receiver::ControlRecordLink& control_record,
                           const HostLink& host, UserInterface& ui, const Trace& trace, StreamResources& resources)
    : device_(device),
      control_record_(control_record),
      host_(host),
      ui_(ui),
      trace_(trace),
      resources_(resources) {}

SampleStream::~SampleStream() {
  StopAsyncProcessing();
  // A delivery thread let go while stuck in a host callback still holds its
  // session, which refers to this stream's resources.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAbandonedWaitMs);
  while (live_sessions_.load(std::memory_order_acquire) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::uint64_t SampleStream::dropped_blocks() const {
  std::lock_guard lock(start_stop_mutex_);
  const StreamSession* session = session_.load(std::memory_order_acquire);
  return dropped_before_.load() + (session != nullptr ? session->ring.dropped_blocks() : 0);
}

StreamStart SampleStream::StartAsyncProcessingExt(int sample_rate_index, BlockSink* recorder) {
  const receiver::SampleRateRow& row = receiver::SampleRateRowAt(sample_rate_index);
  trace_("StartAsyncProcessingExt...");
  trace_.Format("SRId:%d", sample_rate_index);
  trace_.Format("NumPackets:%d", row.packets_per_transfer);
  trace_.Format("BytesPerTransfer:%d", row.bytes_per_transfer());
  return StartAsyncProcessing(row.bytes_per_transfer(), kBlockBytes, kSlotCount, recorder);
}

StreamStart SampleStream::StartAsyncProcessing(int bytes_per_transfer, int slot_size, int slot_count,
                                               BlockSink* recorder) {
  std::lock_guard lock(start_stop_mutex_);
  if (IsStreaming()) return StreamStart::kAlreadyStreaming;
  trace_("StartAsyncProcessing...");
  // Never two threads in the host's callback at once: a thread let go inside
  // it gets the time a stop would have given it to leave. From inside the
  // callback the wait could only be for this very thread.
  if (live_sessions_.load(std::memory_order_acquire) != 0 && (t_on_delivery_thread || !AwaitEarlierThreads())) {
    return StreamStart::kEarlierThreadInCallback;
  }
  // Transfers of an input that never stopped would be read as transfers of
  // the new size: the device must take the stop before anything starts.
  if (input_may_run_) {
    if (!device_.StopAsyncInput()) return StreamStart::kDeviceStillRunning;
    input_may_run_ = false;
  }

  void* memory = resources_.AllocateRing(SampleRing::MemoryBytes(slot_count, slot_size));
  if (memory == nullptr) return StreamStart::kNoRing;
  auto* fresh = new (std::nothrow)
      StreamSession(resources_, live_sessions_, memory, bytes_per_transfer, slot_count, slot_size, host_, ui_, trace_,
                    recorder);
  if (fresh == nullptr) {
    resources_.FreeRing(memory);
    return StreamStart::kNoRing;
  }
  live_sessions_.fetch_add(1, std::memory_order_relaxed);
  std::unique_ptr<StreamSession, void (*)(StreamSession*)> session(fresh, &StreamSession::Free);
  trace_("Buffer allocated...");

  session->block_event = resources_.CreateWakeEvent();
  session->exit_event = resources_.CreateWakeEvent();
  if (!session->block_event || !session->exit_event) return StreamStart::kNoEvent;

  session->thread = resources_.StartWorker(BufferReadyProc, session.get());
  if (!session->thread) return StreamStart::kNoThread;
  trace_("BufferReadyProc Thread started...");

  StreamSession* running = session.release();
  g_route.receiving_session.store(running, std::memory_order_release);
  if (!device_.StartAsyncInput(bytes_per_transfer, resources_.TransferEntry(&SampleStream::TransferCallback))) {
    CloseRoute();
    EndSession(running);
    return StreamStart::kDeviceRefused;
  }
  trace_("Halvorn AsyncInput started...");

  control_record_.SetStreaming(true);
  session_.store(running, std::memory_order_release);
  return StreamStart::kStarted;
}

StreamStop SampleStream::StopAsyncProcessing() {
  std::lock_guard lock(start_stop_mutex_);
  StreamSession* session = session_.load(std::memory_order_acquire);
  if (session == nullptr) return StreamStop::kWasIdle;

  // After this returns the library calls back no more, unless a library that
  // is there refused (or lacks) the stop.
  if (!device_.StopAsyncInput() && device_.IsLoaded()) input_may_run_ = true;
  CloseRoute();
  control_record_.SetStreaming(false);

  if (!EndSessionLocked(session)) return StreamStop::kThreadLeftInCallback;
  return input_may_run_ ? StreamStop::kDeviceRefusedStop : StreamStop::kStopped;
}

void SampleStream::EndLeavingInputRunning() {
  std::lock_guard lock(start_stop_mutex_);
  StreamSession* session = session_.load(std::memory_order_acquire);
  if (session == nullptr) return;
  input_may_run_ = true;
  CloseRoute();
  EndSessionLocked(session);
}

bool SampleStream::EndSessionLocked(StreamSession* session) {
  const std::uint64_t dropped = session->ring.dropped_blocks();
  dropped_before_ += dropped;
  trace_.Format("Blocks dropped: %d", static_cast<int>(dropped));
  session_.store(nullptr, std::memory_order_release);
  return EndSession(session);
}

bool SampleStream::AwaitEarlierThreads() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
  while (live_sessions_.load(std::memory_order_acquire) != 0) {
    if (std::chrono::steady_clock::now() >= give_up) return false;
    resources_.ServeSentMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SampleStream::CloseRoute() {
  g_route.receiving_session.store(nullptr, std::memory_order_seq_cst);
  while (g_route.transfers_in_progress.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

bool SampleStream::EndSession(StreamSession* session) {
  session->stop_request.store(true, std::memory_order_seq_cst);
  session->block_event->Signal();
  // A thread that never began never touches the session.
  if (!session->thread->CancelIfNotStarted()) {
    const bool thread_left =
        !session->thread->IsCurrentThread() && session->exit_event->WaitServingSentMessages(kStopWaitMs);
    if (thread_left) {
      // The thread's last touch of the session follows its exit signal at once.
      while (session->owner.load(std::memory_order_acquire) != StreamSession::kThreadExited) {
        std::this_thread::yield();
      }
    } else {
      if (session->owner.exchange(StreamSession::kAbandoned) != StreamSession::kThreadExited) {
        return false;  // the thread frees the session when it leaves the callback
      }
    }
  }
  session->thread->Retire();
  StreamSession::Free(session);
  return true;
}

bool HALVORN_STDCALL SampleStream::TransferCallback(std::uint8_t* transfer, void* /*unused*/) {
  g_route.transfers_in_progress.fetch_add(1, std::memory_order_seq_cst);
  StreamSession* session = g_route.receiving_session.load(std::memory_order_seq_cst);
  if (session != nullptr && transfer != nullptr && session->ring.Write(transfer, session->bytes_per_transfer) > 0) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (session->consumer_waiting.load(std::memory_order_relaxed) &&
        session->consumer_waiting.exchange(false, std::memory_order_relaxed)) {
      session->block_event->Signal();
    }
  }
  g_route.transfers_in_progress.fetch_sub(1, std::memory_order_release);
  return true;
}

}  // namespace halvorn::streaming
