#include "streaming/sample_stream.h"

#include <new>

#include "ports/guarded_route.h"
#include "ports/worker_exit.h"
#include "receiver/sample_rate_table.h"
#include "streaming/arrival_spinner.h"
#include "streaming/sample_ring.h"
#include "streaming/stall_watch.h"

namespace halvorn::streaming {

// Everything one stream owns, from its start to the moment both the stopping
// thread and the delivery thread are done with it. Whichever of the two comes
// last frees it, so a stop never has to wait out a host callback.
struct StreamSession {
  StreamSession(PlatformKit& kit_in, std::atomic<int>& live_sessions_in, void* memory_in,
                int bytes_per_transfer_in, int slot_count, int slot_size, const HostLink& host_in,
                UserInterface& ui_in, const Trace& trace_in, receiver::ControlRecordLink& control_record_in,
                ReceiverLoss& loss_in, BlockSink* recorder_in)
      : kit(kit_in),
        live_sessions(live_sessions_in),
        bytes_per_transfer(static_cast<std::size_t>(bytes_per_transfer_in)),
        memory(memory_in),
        ring(memory_in, slot_count, slot_size),
        host(host_in),
        ui(ui_in),
        trace(trace_in),
        control_record(control_record_in),
        loss(loss_in),
        recorder(recorder_in) {}
  ~StreamSession() { kit.Free(memory); }

  // Frees the session, then tells the stream, which waits for this before it
  // goes away itself.
  static void Free(StreamSession* session) {
    std::atomic<int>& live = session->live_sessions;
    delete session;
    live.fetch_sub(1, std::memory_order_release);
  }

  PlatformKit& kit;
  std::atomic<int>& live_sessions;
  std::size_t bytes_per_transfer;  // every transfer has this size
  void* memory;
  SampleRing ring;
  const HostLink& host;
  UserInterface& ui;
  const Trace& trace;
  receiver::ControlRecordLink& control_record;
  ReceiverLoss& loss;
  BlockSink* recorder;
  std::unique_ptr<WakeEvent> block_event;
  WorkerExit exit;
  std::unique_ptr<WorkerThread> thread;
  std::atomic<bool> stop_request{false};
  std::atomic<bool> consumer_waiting{false};
};

namespace {

// The device library's callback carries no context of ours, so the way from
// it to the session being filled is the one piece of module-wide state the
// stream needs. A device that did not take the stop may still be inside the
// callback with the session a stop is about to free: closing the route waits
// for it.
GuardedRoute<StreamSession> g_route;

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

// A receiver that also refuses its control record has gone (unplugged, its
// power lost); one that takes it has only stalled.
void TellReceiverSilent(StreamSession& session) {
  session.trace("No samples from the receiver for 2 s");
  if (session.control_record.Resend()) {
    session.ui.ShowNotice(kReceiverSilentMessage);
  } else {
    session.trace("The receiver refused its control record: it has gone");
    session.loss.ReceiverLost();
  }
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
  if (session.exit.Leave()) {
    session.thread->Retire();
    StreamSession::Free(&session);
  }
}

}  // namespace

SampleStream::SampleStream(device::DeviceLibrary& device, receiver::ControlRecordLink& control_record,
                           const HostLink& host, UserInterface& ui, const Trace& trace, PlatformKit& kit,
                           device::TransferCallbackFn transfer_entry, ReceiverLoss& loss)
    : device_(device),
      control_record_(control_record),
      host_(host),
      ui_(ui),
      trace_(trace),
      kit_(kit),
      transfer_entry_(transfer_entry),
      loss_(loss) {}

SampleStream::~SampleStream() {
  StopAsyncProcessing();
  // A delivery thread let go while stuck in a host callback still holds its
  // session, which refers to this stream's resources.
  PollUntil(kAbandonedWaitMs, [this] { return live_sessions_.load(std::memory_order_acquire) == 0; });
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

  void* memory = kit_.Allocate(SampleRing::MemoryBytes(slot_count, slot_size));
  if (memory == nullptr) return StreamStart::kNoRing;
  auto* fresh = new (std::nothrow)
      StreamSession(kit_, live_sessions_, memory, bytes_per_transfer, slot_count, slot_size, host_, ui_, trace_,
                    control_record_, loss_, recorder);
  if (fresh == nullptr) {
    kit_.Free(memory);
    return StreamStart::kNoRing;
  }
  live_sessions_.fetch_add(1, std::memory_order_relaxed);
  std::unique_ptr<StreamSession, void (*)(StreamSession*)> session(fresh, &StreamSession::Free);
  trace_("Buffer allocated...");

  session->block_event = kit_.CreateWakeEvent();
  if (!session->block_event || !session->exit.Prepare(kit_)) return StreamStart::kNoEvent;

  session->thread = kit_.StartWorker(BufferReadyProc, session.get());
  if (!session->thread) return StreamStart::kNoThread;
  trace_("BufferReadyProc Thread started...");

  StreamSession* running = session.release();
  g_route.Open(running);
  if (!device_.StartAsyncInput(bytes_per_transfer, transfer_entry_)) {
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

receiver::InputRestart SampleStream::RestartAround(const std::function<int()>& reconfigure) {
  std::lock_guard lock(start_stop_mutex_);
  StreamSession* session = session_.load(std::memory_order_acquire);
  if (session == nullptr) return receiver::InputRestart::kNotRunning;
  if (!device_.StopAsyncInput()) return receiver::InputRestart::kStopRefused;

  // The blocks of the old rate go to the host before anything of the new,
  // unless the host holds them up; a block begun is never finished with
  // samples of another rate.
  PollUntil(
      kStopWaitMs, [session] { return t_on_delivery_thread || session->ring.AllDelivered(); },
      [this] { kit_.ServeSentMessages(); });
  session->ring.StartBlockAfresh();

  const receiver::SampleRateRow& row = receiver::SampleRateRowAt(reconfigure());
  session->bytes_per_transfer = static_cast<std::size_t>(row.bytes_per_transfer());
  trace_.Format("Input restarted at BytesPerTransfer:%d", row.bytes_per_transfer());
  if (!device_.StartAsyncInput(row.bytes_per_transfer(), transfer_entry_)) {
    // The stream stays, without samples: the user is told as for a silent
    // receiver, and StopHW ends it as usual.
    trace_("The receiver refused to restart its input");
  }
  return receiver::InputRestart::kRestarted;
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
  return PollUntil(
      kStopWaitMs, [this] { return live_sessions_.load(std::memory_order_acquire) == 0; },
      [this] { kit_.ServeSentMessages(); });
}

void SampleStream::CloseRoute() { g_route.Close(); }

bool SampleStream::EndSession(StreamSession* session) {
  session->stop_request.store(true, std::memory_order_seq_cst);
  session->block_event->Signal();
  // A thread that never began never touches the session; one still inside
  // the host's callback frees it when it leaves.
  const WorkerExit::End end =
      session->exit.Await(*session->thread, kStopWaitMs, WorkerExit::Waiting::kServingSentMessages);
  if (end == WorkerExit::End::kStuck) return false;
  StreamSession::Free(session);
  return true;
}

bool HALVORN_STDCALL SampleStream::TransferCallback(std::uint8_t* transfer, void* /*unused*/) {
  if (transfer == nullptr) return true;
  g_route.Use([transfer](StreamSession& session) {
    if (session.ring.Write(transfer, session.bytes_per_transfer) == 0) return;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (session.consumer_waiting.load(std::memory_order_relaxed) &&
        session.consumer_waiting.exchange(false, std::memory_order_relaxed)) {
      session.block_event->Signal();
    }
  });
  return true;
}

}  // namespace halvorn::streaming
