#include "recorder/recorder.h"

#include <algorithm>
#include <cstdio>

#include "receiver/sample_rate_table.h"

namespace halvorn::recorder {
namespace {

std::uint32_t AtLeastOneBlock(std::uint32_t max_data_bytes) {
  return std::max<std::uint32_t>(max_data_bytes, kBlockBytes);
}

}  // namespace

Recorder::Recorder(const receiver::Receiver& receiver, const HostLink& host, UserInterface& ui, PanelView& view,
                   const Trace& trace, RecorderOptions options)
    : receiver_(receiver),
      host_(host),
      ui_(ui),
      view_(view),
      trace_(trace),
      files_(std::move(options.directory), std::move(options.clock)),
      max_data_bytes_(AtLeastOneBlock(options.max_data_bytes)),
      timing_(options.timing),
      own_kit_(options.kit == nullptr ? MakePlatformKit() : nullptr),
      kit_(options.kit != nullptr ? *options.kit : *own_kit_) {}

Recorder::~Recorder() { FinishAtUnload(); }

std::optional<std::string> Recorder::StartRecording() {
  // The panel allows one recording at a time; an open one goes on untouched.
  if (IsRecording()) return std::nullopt;
  host_.NotifyRecordingState(true);

  OpenRecording file;
  Failure failure;
  std::unique_ptr<RecordingWriter> writer;
  const bool created = files_.Create(receiver_.Settings(), files_.Now(), file, failure);
  view_.ShowRecordingName(file.name.c_str());
  if (created) {
    writer = RecordingWriter::Start(files_, receiver_, kit_, file, max_data_bytes_, timing_, failure);
    if (!writer) files_.Discard(file);
  }
  if (!writer) {
    host_.NotifyRecordingState(false);
    std::string report = files_.Explain(failure);
    trace_(report.c_str());
    return report;
  }
  view_.ShowRecordingSize(0);

  shown_generation_ = 1;
  shown_start_time_utc_s_ = writer->Look().start_time_utc_s;
  {
    std::lock_guard lock(control_mutex_);
    writer_ = std::move(writer);
    lost_blocks_.store(0, std::memory_order_relaxed);
    lost_microseconds_.store(0, std::memory_order_relaxed);
    has_blocks_.store(false, std::memory_order_relaxed);
    open_writer_.store(writer_.get(), std::memory_order_release);
    accepting_.Open(writer_.get());
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

  RecordingWriter::Status status;
  std::uint32_t bytes = 0;
  {
    std::lock_guard lock(control_mutex_);
    if (!writer_) return std::nullopt;
    status = writer_->Look();
    bytes = writer_->shown_bytes();
  }
  if (status.failed) {
    ui_.StopStatusTimer();
    std::optional<std::string> report = EndRecording();
    host_.NotifyRecordingState(false);
    return report;
  }

  if (status.generation != shown_generation_) {
    shown_generation_ = status.generation;
    shown_start_time_utc_s_ = status.start_time_utc_s;
    view_.ShowRecordingName(status.name.c_str());
  }
  view_.ShowRecordingSize(bytes >> 20);
  view_.ShowRecordingTime(files_.Now() - shown_start_time_utc_s_);
  return std::nullopt;
}

void Recorder::FinishAtUnload() { EndRecording(); }

void Recorder::WriteBlock(const std::uint8_t* data, std::int32_t pair_count) {
  if (data == nullptr || pair_count <= 0) return;
  accepting_.Use([&](RecordingWriter& writer) {
    const int sample_rate_index = receiver_.sample_rate_index();
    for (std::int32_t done = 0; done < pair_count; done += kBlockPairs) {
      writer.Append(data + static_cast<std::size_t>(done) * kPairBytes, std::min(pair_count - done, kBlockPairs),
                    sample_rate_index);
    }
    has_blocks_.store(true, std::memory_order_relaxed);
  });
}

void Recorder::BlocksLost(std::uint64_t blocks) {
  // A gap before the recording's first block lies outside it.
  if (!accepting_.IsOpen() || !has_blocks_.load(std::memory_order_relaxed)) return;
  const double rate_hz = receiver::SampleRateRowAt(receiver_.sample_rate_index()).rate_hz;
  lost_blocks_.fetch_add(blocks, std::memory_order_relaxed);
  lost_microseconds_.fetch_add(static_cast<std::uint64_t>(static_cast<double>(blocks) * kBlockPairs * 1e6 / rate_hz),
                               std::memory_order_relaxed);
}

void Recorder::FinishAtProcessExit() {
  RecordingWriter* writer = open_writer_.exchange(nullptr, std::memory_order_acq_rel);
  if (writer == nullptr) return;
  writer->FinishAtProcessExit();
  recording_.store(false, std::memory_order_release);
}

std::optional<std::string> Recorder::EndRecording() {
  std::unique_ptr<RecordingWriter> writer;
  {
    std::lock_guard lock(control_mutex_);
    if (!writer_) return std::nullopt;
    accepting_.Close();
    writer = std::move(writer_);
  }
  // From here no block reaches the recording, and none is half stored.
  const RecordingWriter::Outcome outcome = writer->Finish();
  open_writer_.store(nullptr, std::memory_order_release);
  writer.reset();
  recording_.store(false, std::memory_order_release);
  std::string report = Explain(outcome);
  if (const std::uint64_t lost = lost_blocks_.exchange(0); lost != 0) {
    if (!report.empty()) report += "\n";
    report += ExplainLoss(lost, static_cast<double>(lost_microseconds_.exchange(0)) / 1e6);
  }
  if (report.empty()) return std::nullopt;
  trace_(report.c_str());
  return report;
}

std::string Recorder::Explain(const RecordingWriter::Outcome& outcome) const {
  std::string report;
  if (outcome.failure.trouble != Trouble::kNone) report = files_.Explain(outcome.failure);
  if (outcome.unfinished) {
    if (!report.empty()) report += "\n";
    report += files_.ExplainUnfinished(outcome.unfinished->first, outcome.unfinished->second);
  }
  return report;
}

std::string Recorder::ExplainLoss(std::uint64_t blocks, double seconds) {
  char text[256];
  std::snprintf(text, sizeof text,
                "Recording incomplete: %llu blocks of samples (%.2f s) were lost while the host or the disk could "
                "not keep up. The recording holds everything else, with a gap wherever blocks are missing.",
                static_cast<unsigned long long>(blocks), seconds);
  return text;
}

}  // namespace halvorn::recorder
