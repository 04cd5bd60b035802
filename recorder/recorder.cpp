#include "recorder/recorder.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "receiver/sample_rate_table.h"
#include "recorder/sample_reduction.h"

namespace halvorn::recorder {
namespace {

// Attempts at a free name for files started in one second.
constexpr int kMaxCopies = 1000;

std::uint32_t AtLeastOneBlock(std::uint32_t max_data_bytes) {
  return std::max<std::uint32_t>(max_data_bytes, kBlockBytes);
}

}  // namespace

std::int64_t SystemUtcSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Recorder::Recorder(const receiver::Receiver& receiver, const HostLink& host, UserInterface& ui, PanelView& view,
                   const Trace& trace, RecorderOptions options)
    : receiver_(receiver),
      host_(host),
      ui_(ui),
      view_(view),
      trace_(trace),
      directory_(options.directory ? std::move(options.directory) : MakePlatformRecordingDirectory()),
      clock_(options.clock ? std::move(options.clock) : UtcClock(&SystemUtcSeconds)),
      max_data_bytes_(AtLeastOneBlock(options.max_data_bytes)) {}

Recorder::~Recorder() { FinishAtUnload(); }

std::optional<std::string> Recorder::StartRecording() {
  // The panel allows one recording at a time; an open one goes on untouched.
  if (IsRecording()) return std::nullopt;
  host_.NotifyRecordingState(true);

  OpenFile file;
  Failure failure;
  const bool opened = OpenNewFile(receiver_.Settings(), file, failure);
  view_.ShowRecordingName(file.name.c_str());
  if (!opened) {
    host_.NotifyRecordingState(false);
    std::string report = Explain(failure);
    trace_(report.c_str());
    return report;
  }
  view_.ShowRecordingSize(0);

  shown_start_time_utc_s_ = file.start_time_utc_s;
  shown_bytes_.store(0, std::memory_order_relaxed);
  {
    std::lock_guard lock(mutex_);
    open_ = std::move(file);
    shown_generation_ = ++file_generation_;
    accepting_.store(true, std::memory_order_release);
  }
  recording_.store(true, std::memory_order_release);
  ui_.StartStatusTimer();
  return std::nullopt;
}

std::optional<std::string> Recorder::StopRecording() {
  if (!IsRecording()) return std::nullopt;
  ui_.StopStatusTimer();
  std::optional<std::string> report = EndRecording();
  host_.NotifyRecordingState(false);
  return report;
}

std::optional<std::string> Recorder::UpdateRecordingStatus() {
  if (!IsRecording()) return std::nullopt;

  bool interrupted = false;
  bool new_file = false;
  RecordingName name;
  {
    std::lock_guard lock(mutex_);
    interrupted = failure_.trouble != Trouble::kNone;
    if (!interrupted && file_generation_ != shown_generation_) {
      new_file = true;
      shown_generation_ = file_generation_;
      shown_start_time_utc_s_ = open_.start_time_utc_s;
      name = open_.name;
    }
  }
  if (interrupted) {
    ui_.StopStatusTimer();
    std::optional<std::string> report = EndRecording();
    host_.NotifyRecordingState(false);
    return report;
  }

  if (new_file) view_.ShowRecordingName(name.c_str());
  view_.ShowRecordingSize(shown_bytes_.load(std::memory_order_relaxed) >> 20);
  view_.ShowRecordingTime(clock_() - shown_start_time_utc_s_);
  return std::nullopt;
}

void Recorder::FinishAtUnload() {
  if (IsRecording()) EndRecording();
}

void Recorder::WriteBlock(const std::uint8_t* data, std::int32_t pair_count) {
  if (!accepting_.load(std::memory_order_acquire) || data == nullptr || pair_count <= 0) return;
  std::lock_guard lock(mutex_);
  if (!open_.file) return;
  const int sample_rate_index = receiver_.sample_rate_index();
  for (std::int32_t done = 0; done < pair_count && open_.file; done += kConversionPairs) {
    AppendLocked(data + static_cast<std::size_t>(done) * kPairBytes,
                 std::min<std::int32_t>(pair_count - done, kConversionPairs), sample_rate_index);
  }
}

void Recorder::AppendLocked(const std::uint8_t* pairs, int pair_count, int sample_rate_index) {
  const std::uint8_t* bytes = pairs;
  std::size_t size = static_cast<std::size_t>(pair_count) * kPairBytes;
  if (sample_rate_index == receiver::kTwoMegaSampleIndex) {
    ReduceBlock(pairs, pair_count, conversion_.data());
    bytes = conversion_.data();
    size = static_cast<std::size_t>(pair_count) * 4;
  }
  // A file never mixes sample sizes and never passes its size limit.
  if (sample_rate_index != open_.sample_rate_index ||
      static_cast<std::uint64_t>(open_.data_bytes) + size > max_data_bytes_) {
    if (!ContinueInNewFileLocked(sample_rate_index)) return;
  }
  const std::size_t written = open_.file->Write(bytes, size);
  open_.data_bytes += static_cast<std::uint32_t>(written);
  shown_bytes_.store(open_.data_bytes, std::memory_order_relaxed);
  if (written < size) InterruptLocked(Trouble::kWriteFailed, open_.file->error(), open_.name);
}

bool Recorder::ContinueInNewFileLocked(int sample_rate_index) {
  FileError error;
  if (!FinishFile(open_, error)) {
    InterruptLocked(Trouble::kFinishFailed, error, open_.name);
    return false;
  }
  receiver::ReceiverSettings settings = receiver_.Settings();
  settings.sample_rate_index = sample_rate_index;
  OpenFile next;
  Failure failure;
  if (!OpenNewFile(settings, next, failure)) {
    open_ = OpenFile{};
    InterruptLocked(Trouble::kNextFileFailed, failure.error, failure.name);
    return false;
  }
  open_ = std::move(next);
  ++file_generation_;
  shown_bytes_.store(0, std::memory_order_relaxed);
  return true;
}

void Recorder::InterruptLocked(Trouble trouble, FileError error, const RecordingName& name) {
  failure_ = {trouble, error, name};
  failed_ = std::move(open_);
  open_ = OpenFile{};
  accepting_.store(false, std::memory_order_relaxed);
}

bool Recorder::OpenNewFile(const receiver::ReceiverSettings& settings, OpenFile& out, Failure& failure) {
  const std::int64_t name_time = clock_();
  int copy = name_time == last_name_time_ ? last_copy_ + 1 : 1;
  for (int attempt = 1;; ++attempt, ++copy) {
    out.name = MakeRecordingName(name_time, copy);
    RecordingDirectory::Created created = directory_->CreateNew(out.name.c_str());
    if (created.status == RecordingDirectory::CreateStatus::kCreated) {
      out.file = std::move(created.file);
      break;
    }
    if (created.status == RecordingDirectory::CreateStatus::kFailed || attempt == kMaxCopies) {
      failure = {Trouble::kCreateFailed, created.error, out.name};
      return false;
    }
  }
  last_name_time_ = name_time;
  last_copy_ = copy;

  // A second reading: the header's time may be a second later than the name's.
  out.start_time_utc_s = clock_();
  const auto header = EncodeWavHeader(settings, out.start_time_utc_s);
  if (out.file->Write(header.data(), header.size()) != header.size()) {
    failure = {Trouble::kCreateFailed, out.file->error(), out.name};
    // A file without a whole header holds nothing worth keeping.
    out.file.reset();
    directory_->Remove(out.name.c_str());
    return false;
  }
  out.sample_rate_index = settings.sample_rate_index;
  out.pair_bytes = StoredPairBytes(settings.sample_rate_index);
  out.data_bytes = 0;
  return true;
}

bool Recorder::FinishFile(OpenFile& open, FileError& error) {
  RecordingFile& file = *open.file;
  const std::uint32_t whole_pairs = open.data_bytes - open.data_bytes % static_cast<std::uint32_t>(open.pair_bytes);
  // Readers count frames from the data size; a torn pair would not be one.
  if (whole_pairs != open.data_bytes && file.Truncate(kHeaderBytes + whole_pairs)) open.data_bytes = whole_pairs;
  const auto riff_size = EncodeSizeField(RiffSizeFor(open.data_bytes));
  const auto data_size = EncodeSizeField(open.data_bytes);
  bool ok = file.WriteAt(kRiffSizeOffset, riff_size.data(), riff_size.size()) &&
            file.WriteAt(kDataSizeOffset, data_size.data(), data_size.size());
  if (!ok) error = file.error();
  if (!file.Close() && ok) {
    error = file.error();
    ok = false;
  }
  open.file.reset();
  return ok;
}

std::optional<std::string> Recorder::EndRecording() {
  std::unique_lock lock(mutex_);
  return EndRecordingLocked(lock);
}

void Recorder::FinishAtProcessExit() {
  if (!IsRecording()) return;
  // The process's other threads have ended abruptly, the delivery thread
  // perhaps in a write with the lock held: wait for it only briefly.
  std::unique_lock lock(mutex_, std::defer_lock);
  for (int attempt = 0; attempt < 100 && !lock.try_lock(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (lock.owns_lock()) EndRecordingLocked(lock);
}

std::optional<std::string> Recorder::EndRecordingLocked(std::unique_lock<std::mutex>& lock) {
  accepting_.store(false, std::memory_order_relaxed);
  OpenFile open = std::move(open_);
  open_ = OpenFile{};
  OpenFile failed = std::move(failed_);
  failed_ = OpenFile{};
  const Failure failure = failure_;
  failure_ = Failure{};
  lock.unlock();
  // From here no block reaches either file, and none is half written.
  std::optional<std::string> report;
  if (failure.trouble != Trouble::kNone) report = Explain(failure);
  for (OpenFile* file : {&failed, &open}) {
    FileError error;
    if (file->file && !FinishFile(*file, error)) {
      const std::string text = "The recording file \"" + directory_->PathOf(file->name.c_str()) +
                               "\" could not be completed (" + directory_->Describe(error) + ").";
      report = report ? *report + "\n" + text : text;
    }
  }
  recording_.store(false, std::memory_order_release);
  if (report) trace_(report->c_str());
  return report;
}

std::string Recorder::Explain(const Failure& failure) const {
  const std::string path = "\"" + directory_->PathOf(failure.name.c_str()) + "\"";
  const std::string reason = "(" + directory_->Describe(failure.error) + ")";
  switch (failure.trouble) {
    case Trouble::kCreateFailed:
      return "Recording not started: cannot create " + path + " " + reason + ".";
    case Trouble::kWriteFailed:
      return "Recording stopped: writing to " + path + " failed " + reason +
             ". The file keeps everything recorded up to that point.";
    case Trouble::kFinishFailed:
      return "Recording stopped: the file " + path + " reached its size limit but could not be completed " + reason +
             ".";
    case Trouble::kNextFileFailed:
      return "Recording stopped: cannot create its next file " + path + " " + reason +
             ". The files recorded before it are complete.";
    case Trouble::kNone: break;
  }
  return {};
}

}  // namespace halvorn::recorder
