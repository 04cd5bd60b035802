#include "tools/inspector/sigmf.h"

#include <cstring>
#include <vector>

#include "halvorn_version.h"
#include "tools/recording/file_system.h"
#include "tools/recording/output_name.h"
#include "tools/recording/pair_encoding.h"
#include "tools/recording/pair_reader.h"
#include "tools/recording/replacing_file.h"
#include "tools/recording/utc_text.h"

namespace halvorn::inspector {
namespace {

constexpr std::size_t kPairsPerPiece = 16384;

// Every text in the metadata is the tool's own ASCII: nothing needs escaping.
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
std::string Flag(std::uint8_t value) { return value != 0 ? "true" : "false"; }

std::string Object(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& indent) {
  std::string text = "{";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    text += (i == 0 ? "\n" : ",\n") + indent + "  " + Quoted(fields[i].first) + ": " + fields[i].second;
  }
  return text + "\n" + indent + "}";
}

void PutLittle(std::uint32_t value, int bytes, std::vector<unsigned char>& out) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The pairs of the recording, in the SigMF type, into `data`.
void WriteSamples(recording::PairReader& reader, bool as_int16, recording::ReplacingFile& data) {
  std::vector<unsigned char> bytes;
  std::vector<std::int16_t> shorts(as_int16 ? 2 * kPairsPerPiece : 0);
  std::vector<float> floats(as_int16 ? 0 : 2 * kPairsPerPiece);
  while (reader.pairs_left() > 0 && !reader.failed()) {
    bytes.clear();
    if (as_int16) {
      const std::size_t got = reader.ReadShort(shorts.data(), kPairsPerPiece);
      for (std::size_t i = 0; i < 2 * got; ++i) PutLittle(static_cast<std::uint16_t>(shorts[i]), 2, bytes);
    } else {
      const std::size_t got = reader.ReadFloat(floats.data(), kPairsPerPiece);
      for (std::size_t i = 0; i < 2 * got; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &floats[i], sizeof bits);
        PutLittle(bits, 4, bytes);
      }
    }
    if (!data.Write(bytes.data(), bytes.size())) return;
  }
  if (reader.failed()) data.Fail("the recording could not be read to the end of its data");
}

}  // namespace

SigmfNames SigmfNamesFor(const std::string& recording) {
  return {recording::NamedAfter(recording, ".sigmf-data"), recording::NamedAfter(recording, ".sigmf-meta")};
}

const char* SigmfDatatype(const recording::Format& format) {
  return recording::EncodingOf(format) == recording::Encoding::kInt16 ? "ci16_le" : "cf32_le";
}

std::string SigmfMeta(const recording::RecordingInfo& info) {
  std::vector<std::pair<std::string, std::string>> global = {
      {"core:datatype", Quoted(SigmfDatatype(info.format))},
      {"core:sample_rate", std::to_string(info.format.sample_rate_hz)},
      {"core:version", Quoted("1.0.0")},
      {"core:num_channels", "1"},
      {"core:description", Quoted("I/Q recording converted by halvorn-inspect (ExtIO_halvorn) " HALVORN_VERSION)},
  };
  std::vector<std::pair<std::string, std::string>> capture = {{"core:sample_start", "0"}};
  if (const auto& receiver = info.receiver) {
    global.insert(global.end(), {
        {"core:hw", Quoted("Halvorn HF direct-sampling receiver")},
        {"core:recorder", Quoted("ExtIO_halvorn")},
        {"core:extensions", "[{\"name\": \"halvorn\", \"version\": \"" HALVORN_VERSION "\", \"optional\": true}]"},
        {"halvorn:sample_rate_index", std::to_string(receiver->sample_rate_index)},
        {"halvorn:bits_per_sample", std::to_string(info.format.bits_per_sample)},
        {"halvorn:attenuator_db", std::to_string(receiver->attenuator_step * 10)},
        {"halvorn:preselector", Flag(receiver->preselector_on)},
        {"halvorn:adc_preamp", Flag(receiver->adc_preamp_on)},
        {"halvorn:adc_dither", Flag(receiver->adc_dither_on)},
    });
    capture.push_back({"core:frequency", std::to_string(receiver->lo_hz)});
    if (auto start = recording::Iso8601Utc(receiver->start_time_utc_s)) capture.push_back({"core:datetime", Quoted(*start)});
  }
  return Object({{"global", Object(global, "  ")},
                 {"captures", "[\n    " + Object(capture, "    ") + "\n  ]"},
                 {"annotations", "[]"}},
                "") +
         "\n";
}

SigmfExport ExportSigmf(const std::string& path, const recording::RecordingInfo& info) {
  SigmfExport result;
  const SigmfNames names = SigmfNamesFor(path);
  if (recording::SameFile(path, names.data) || recording::SameFile(path, names.meta)) {
    result.error = "the SigMF files would overwrite the recording";
    return result;
  }
  std::string error;
  const std::unique_ptr<recording::PairReader> reader = recording::OpenPairReader(path, info, error);
  if (!reader) {
    result.error = error;
    return result;
  }
  result.pairs = reader->pairs_left();
  recording::ReplacingFile data(names.data);
  WriteSamples(*reader, recording::EncodingOf(info.format) == recording::Encoding::kInt16, data);
  recording::ReplacingFile meta(names.meta);
  const std::string text = SigmfMeta(info);
  meta.Write(text.data(), text.size());
  // Neither goes in place unless both were written whole; the data first, so
  // that a metadata file never names data that is not there.
  for (const recording::ReplacingFile* file : {&data, &meta}) {
    if (file->failure()) {
      result.error = file->failure();
      return result;
    }
  }
  result.error = data.Commit();
  if (!result.error) result.error = meta.Commit();
  return result;
}

}  // namespace halvorn::inspector
