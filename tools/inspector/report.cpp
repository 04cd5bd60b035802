#include "tools/inspector/report.h"

#include <cinttypes>
#include <cstdio>

#include "tools/recording/pair_encoding.h"
#include "tools/recording/utc_text.h"

namespace halvorn::inspector {
namespace {

std::string Line(const char* label, const std::string& value) {
  std::string line = label;
  line += ':';
  line.append(line.size() < 20 ? 20 - line.size() : 1, ' ');
  return line + value + "\n";
}

std::string Printf(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

const char* OnOff(std::uint8_t value) { return value != 0 ? "on" : "off"; }

}  // namespace

std::string Describe(const std::string& path, const recording::RecordingInfo& info) {
  using recording::Completion;
  const recording::Format& format = info.format;
  std::string text = Line("File", path);
  text += Line("Format", Printf("%s, %u channels, %u bits, %u samples/s, %u bytes per frame, %u bytes/s",
                                recording::FormatName(format).c_str(), format.channels, format.bits_per_sample,
                                format.sample_rate_hz, format.block_align, format.byte_rate));
  if (const auto& receiver = info.receiver) {
    text += Line("LO", Printf("%" PRId32 " Hz", receiver->lo_hz));
    text += Line("Sample-rate index", Printf("%" PRId32, receiver->sample_rate_index));
    text += Line("Start time", recording::IsoUtc(receiver->start_time_utc_s));
    text += Line("Attenuator", Printf("%d dB", receiver->attenuator_step * 10));
    text += Line("Preselector", OnOff(receiver->preselector_on));
    text += Line("ADC preamp", OnOff(receiver->adc_preamp_on));
    text += Line("ADC dither", OnOff(receiver->adc_dither_on));
  } else {
    text += Line("Receiver chunk", "none: not written by the plug-in, or rewritten by a program that drops it");
  }
  text += Line("Data", Printf("%" PRIu64 " bytes, %" PRIu64 " frames", info.data_bytes, info.frames()));
  text += Line("Duration", Printf("%.3f s", info.duration_s()));
  switch (info.completion) {
    case Completion::kFinished:
      text += Line("State", "finished");
      break;
    case Completion::kUnfinished:
      text += Line("State", Printf("unfinished: the recording was never stopped; its sizes cover %u of the data "
                                   "bytes (--repair finishes it)", info.data_size_field));
      break;
    case Completion::kMismatched:
      text += Line("State", Printf("sizes disagree with the file: RIFF size %u, data size %u, file %" PRIu64 " bytes",
                                   info.riff_size, info.data_size_field, info.file_bytes));
      break;
  }
  if (info.torn_bytes() != 0) {
    text += Line("Torn frame", Printf("%" PRIu64 " bytes at the end do not make a whole frame", info.torn_bytes()));
  }
  return text;
}

}  // namespace halvorn::inspector
