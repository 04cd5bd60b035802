#include "recorder/recording_files.h"

#include <chrono>

namespace halvorn::recorder {
namespace {

// Attempts at a free name for files started in one second.
constexpr int kMaxCopies = 1000;

void PutSize(std::array<std::uint8_t, kHeaderBytes>& header, std::uint64_t offset, std::uint32_t value) {
  const auto bytes = EncodeSizeField(value);
  for (std::size_t i = 0; i < bytes.size(); ++i) header[static_cast<std::size_t>(offset) + i] = bytes[i];
}

}  // namespace

std::int64_t SystemUtcSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool WriteSizes(OpenRecording& open, std::uint32_t data_bytes) {
  PutSize(open.header, kRiffSizeOffset, RiffSizeFor(data_bytes));
  PutSize(open.header, kDataSizeOffset, data_bytes);
  return open.file->WriteAt(kRiffSizeOffset, open.header.data() + kRiffSizeOffset,
                            kHeaderBytes - kRiffSizeOffset);
}

bool FinishFile(OpenRecording& open, std::uint32_t data_bytes, FileError& error) {
  RecordingFile& file = *open.file;
  const auto pair_bytes = static_cast<std::uint32_t>(open.pair_bytes);
  const std::uint32_t whole_pairs = data_bytes - data_bytes % pair_bytes;
  // Readers count frames from the data size; a torn pair would not be one.
  if (whole_pairs != data_bytes && file.Truncate(kHeaderBytes + whole_pairs)) data_bytes = whole_pairs;
  bool ok = WriteSizes(open, data_bytes);
  if (!ok) error = file.error();
  if (!file.Close() && ok) {
    error = file.error();
    ok = false;
  }
  return ok;
}

RecordingFiles::RecordingFiles(std::unique_ptr<RecordingDirectory> directory, UtcClock clock)
    : directory_(directory ? std::move(directory) : MakePlatformRecordingDirectory()),
      clock_(clock ? std::move(clock) : UtcClock(&SystemUtcSeconds)) {}

bool RecordingFiles::Create(const receiver::ReceiverSettings& settings, std::int64_t name_time_utc_s,
                            OpenRecording& out, Failure& failure) {
  int copy = name_time_utc_s == last_name_time_ ? last_copy_ + 1 : 1;
  for (int attempt = 1;; ++attempt, ++copy) {
    out.name = MakeRecordingName(name_time_utc_s, copy);
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
  last_name_time_ = name_time_utc_s;
  last_copy_ = copy;

  // A second reading: the header's time may be a second later than the name's.
  out.start_time_utc_s = clock_();
  out.header = EncodeWavHeader(settings, out.start_time_utc_s);
  out.sample_rate_index = settings.sample_rate_index;
  out.pair_bytes = StoredPairBytes(settings.sample_rate_index);
  // Sizes of no data from the start: a crash before the first update leaves
  // an empty recording that every reader opens.
  PutSize(out.header, kRiffSizeOffset, RiffSizeFor(0));
  if (out.file->Write(out.header.data(), out.header.size()) != out.header.size()) {
    failure = {Trouble::kCreateFailed, out.file->error(), out.name};
    // A file without a whole header holds nothing worth keeping.
    Discard(out);
    return false;
  }
  return true;
}

void RecordingFiles::Discard(OpenRecording& open) {
  open.file.reset();
  directory_->Remove(open.name.c_str());
}

std::string RecordingFiles::Explain(const Failure& failure) const {
  const std::string path = "\"" + directory_->PathOf(failure.name.c_str()) + "\"";
  const std::string reason = "(" + directory_->Describe(failure.error) + ")";
  switch (failure.trouble) {
    case Trouble::kCreateFailed:
      return "Recording not started: cannot create " + path + " " + reason + ".";
    case Trouble::kNoBuffer:
      return "Recording not started: there is not enough memory for its buffer.";
    case Trouble::kNoWriter:
      return "Recording not started: the thread that writes it could not be started.";
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

std::string RecordingFiles::ExplainUnfinished(const RecordingName& name, FileError error) const {
  return "The recording file \"" + directory_->PathOf(name.c_str()) + "\" could not be completed (" +
         directory_->Describe(error) + ").";
}

}  // namespace halvorn::recorder
