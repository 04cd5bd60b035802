#include "recorder/recording_writer.h"

#include <chrono>
#include <cstring>

#include "receiver/sample_rate_table.h"
#include "recorder/sample_reduction.h"

namespace halvorn::recorder {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::unique_ptr<RecordingWriter> RecordingWriter::Start(RecordingFiles& files, const receiver::Receiver& receiver,
                                                        PlatformKit& kit,
                                                        OpenRecording& first, std::uint32_t max_data_bytes,
                                                        const WriterTiming& timing, Failure& failure) {
  std::unique_ptr<RecordingRing> ring = RecordingRing::Create(timing.buffer_bytes);
  if (!ring) {
    failure = {Trouble::kNoBuffer, {}, first.name};
    return nullptr;
  }
  std::unique_ptr<RecordingWriter> writer(
      new RecordingWriter(files, receiver, std::move(ring), first, max_data_bytes, timing));
  writer->wake_ = kit.CreateWakeEvent();
  writer->room_ = kit.CreateWakeEvent();
  if (writer->wake_ && writer->room_ && writer->exit_.Prepare(kit)) {
    writer->thread_ = kit.StartWorker(&RecordingWriter::Run, writer.get());
  }
  if (!writer->thread_) {
    failure = {Trouble::kNoWriter, {}, first.name};
    first = std::move(writer->current_);
    return nullptr;
  }
  return writer;
}

RecordingWriter::RecordingWriter(RecordingFiles& files, const receiver::Receiver& receiver,
                                 std::unique_ptr<RecordingRing> ring, OpenRecording& first,
                                 std::uint32_t max_data_bytes, const WriterTiming& timing)
    : files_(files),
      receiver_(receiver),
      ring_(std::move(ring)),
      max_data_bytes_(max_data_bytes),
      timing_(timing),
      appending_rate_index_(first.sample_rate_index),
      current_(std::move(first)) {
  status_.generation = 1;
  status_.name = current_.name;
  status_.start_time_utc_s = current_.start_time_utc_s;
  exit_target_.store(&current_, std::memory_order_release);
}

RecordingWriter::~RecordingWriter() = default;

void RecordingWriter::Append(const std::uint8_t* pairs, int pair_count, int sample_rate_index) {
  if (stopped_.load(std::memory_order_relaxed)) return;
  const auto bytes = static_cast<std::uint32_t>(pair_count * StoredPairBytes(sample_rate_index));
  // A file never mixes sample sizes and never passes its size limit.
  const bool new_file = sample_rate_index != appending_rate_index_ ||
                        static_cast<std::uint64_t>(appending_file_bytes_) + bytes > max_data_bytes_;
  if (!WaitForRoom(bytes, new_file)) return;
  if (new_file) BeginFile(sample_rate_index);
  const bool reduce = sample_rate_index == receiver::kTwoMegaSampleIndex;
  std::uint8_t* place = ring_->ClaimContiguous(bytes);
  if (place != nullptr) {
    if (reduce) {
      ReduceBlock(pairs, pair_count, place);
    } else {
      std::memcpy(place, pairs, bytes);
    }
  } else if (reduce) {
    ReduceBlock(pairs, pair_count, staging_.data());
    ring_->Store(staging_.data(), bytes);
  } else {
    ring_->Store(pairs, bytes);
  }
  ring_->Publish();
  appending_file_bytes_ += bytes;
  shown_bytes_.store(appending_file_bytes_, std::memory_order_relaxed);
}

bool RecordingWriter::WaitForRoom(std::uint32_t bytes, bool new_file) {
  while (!ring_->HasRoomFor(bytes) || (new_file && FileStartsFull())) {
    if (stopped_.load(std::memory_order_acquire)) return false;
    room_wanted_.store(true, std::memory_order_seq_cst);
    wake_->Signal();
    // Looked at again after a while too: the wanted room may have come
    // between the look and the announcement.
    room_->Wait(10);
  }
  return !stopped_.load(std::memory_order_acquire);
}

bool RecordingWriter::FileStartsFull() const {
  return starts_added_.load(std::memory_order_relaxed) - starts_taken_.load(std::memory_order_acquire) ==
         kMaxFileStarts;
}

void RecordingWriter::GiveRoom() {
  if (room_wanted_.load(std::memory_order_seq_cst) && room_wanted_.exchange(false)) room_->Signal();
}

void RecordingWriter::BeginFile(int sample_rate_index) {
  const std::uint32_t added = starts_added_.load(std::memory_order_relaxed);
  // The position is where the next stored byte goes: everything published so
  // far belongs to the file before.
  starts_[added % kMaxFileStarts] = {ring_->published(), sample_rate_index, files_.Now()};
  starts_added_.store(added + 1, std::memory_order_release);
  appending_rate_index_ = sample_rate_index;
  appending_file_bytes_ = 0;
}

RecordingWriter::Status RecordingWriter::Look() const {
  std::lock_guard lock(status_mutex_);
  return status_;
}

void RecordingWriter::Run(void* writer) { static_cast<RecordingWriter*>(writer)->Loop(); }

void RecordingWriter::Loop() {
  auto sizes_written = Clock::now();
  for (;;) {
    const bool finishing = finish_requested_.load(std::memory_order_acquire);
    if (process_ending_.load(std::memory_order_acquire)) break;
    WriteStored();
    if (finishing) {
      exit_target_.store(nullptr, std::memory_order_seq_cst);
      FileError error;
      if (current_.file && !FinishFile(current_, FileBytes(), error)) unfinished_.emplace(current_.name, error);
      current_.file.reset();
      break;
    }
    const auto now = Clock::now();
    if (current_.file && failure_.trouble == Trouble::kNone &&
        now - sizes_written >= std::chrono::milliseconds(timing_.header_interval_ms)) {
      sizes_written = now;
      // Tried again a second later; finishing reports a header that stays unwritable.
      WriteSizes(current_, FileBytes());
    }
    wake_->Wait(timing_.write_interval_ms);
  }
  // The last touch of this object: after it the writer may be destroyed.
  exit_.Leave();
}

void RecordingWriter::WriteStored() {
  // After a failure what is stored stays in the ring: the file keeps what it had.
  if (!current_.file || failure_.trouble != Trouble::kNone) return;
  const std::uint32_t published = ring_->published();
  FileStart start;
  while (PendingFileStart(published, start)) {
    if (!WriteUpTo(start.position) || !StartNextFile(start)) return;
  }
  WriteUpTo(published);
}

bool RecordingWriter::PendingFileStart(std::uint32_t published, FileStart& start) const {
  const std::uint32_t taken = starts_taken_.load(std::memory_order_relaxed);
  if (taken == starts_added_.load(std::memory_order_acquire)) return false;
  start = starts_[taken % kMaxFileStarts];
  // Published after the start was added, so it lies at or before `published`.
  return start.position - written_.load(std::memory_order_relaxed) <=
         published - written_.load(std::memory_order_relaxed);
}

bool RecordingWriter::WriteUpTo(std::uint32_t end) {
  std::uint32_t written = written_.load(std::memory_order_relaxed);
  while (written != end) {
    const RecordingRing::Piece piece = ring_->PieceBetween(written, end);
    const std::size_t done = current_.file->Write(piece.data, piece.bytes);
    written += static_cast<std::uint32_t>(done);
    written_.store(written, std::memory_order_release);
    ring_->Release(written);
    GiveRoom();
    if (done < piece.bytes) {
      Fail(Trouble::kWriteFailed, current_.file->error(), current_.name);
      return false;
    }
  }
  return true;
}

bool RecordingWriter::StartNextFile(const FileStart& start) {
  exit_target_.store(nullptr, std::memory_order_seq_cst);
  FileError error;
  if (!FinishFile(current_, FileBytes(), error)) {
    const RecordingName name = current_.name;
    current_.file.reset();
    Fail(Trouble::kFinishFailed, error, name);
    return false;
  }
  receiver::ReceiverSettings settings = receiver_.Settings();
  settings.sample_rate_index = start.sample_rate_index;
  OpenRecording next;
  Failure failure;
  if (!files_.Create(settings, start.name_time_utc_s, next, failure)) {
    current_.file.reset();
    Fail(Trouble::kNextFileFailed, failure.error, failure.name);
    return false;
  }
  current_ = std::move(next);
  file_start_ = start.position;
  starts_taken_.store(starts_taken_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  GiveRoom();
  exit_target_.store(&current_, std::memory_order_seq_cst);
  std::lock_guard lock(status_mutex_);
  ++status_.generation;
  status_.name = current_.name;
  status_.start_time_utc_s = current_.start_time_utc_s;
  return true;
}

void RecordingWriter::Fail(Trouble trouble, FileError error, const RecordingName& name) {
  {
    std::lock_guard lock(status_mutex_);
    failure_ = {trouble, error, name};
    status_.failed = true;
  }
  stopped_.store(true, std::memory_order_release);
  room_->Signal();
}

RecordingWriter::Outcome RecordingWriter::Finish() {
  finish_requested_.store(true, std::memory_order_release);
  wake_->Signal();
  // However long the disk takes: the files are finished before anything
  // goes on. A writing thread that has not begun leaves the work to this one.
  if (exit_.Await(*thread_, kForever, WorkerExit::Waiting::kPlain) == WorkerExit::End::kNeverBegan) Loop();
  std::lock_guard lock(status_mutex_);
  return {failure_, unfinished_};
}

void RecordingWriter::FinishAtProcessExit() {
  if (process_ending_.exchange(true)) return;
  OpenRecording* open = exit_target_.exchange(nullptr);
  if (open == nullptr || !open->file) return;
  // The current file ends at the next file's start, if the delivery thread
  // began one; everything before that which is stored belongs to it.
  std::uint32_t end = ring_->published();
  FileStart start;
  if (PendingFileStart(end, start)) end = start.position;
  std::uint32_t written = written_.load(std::memory_order_acquire);
  while (written != end) {
    const RecordingRing::Piece piece = ring_->PieceBetween(written, end);
    if (!open->file->WriteAt(kHeaderBytes + (written - file_start_), piece.data, piece.bytes)) break;
    written += piece.bytes;
  }
  FileError ignored;
  FinishFile(*open, written - file_start_, ignored);
}

}  // namespace halvorn::recorder
