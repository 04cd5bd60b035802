#include "recorder/wav_header.h"

#include "receiver/sample_rate_table.h"

namespace halvorn::recorder {
namespace {

constexpr std::uint32_t kFmtChunkBytes = 16;
constexpr std::uint32_t kRcvrChunkBytes = 38;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kChannels = 2;

class HeaderWriter {
 public:
  explicit HeaderWriter(std::array<std::uint8_t, kHeaderBytes>& bytes) : bytes_(bytes) {}

  void Code(const char (&code)[5]) {
    for (int i = 0; i < 4; ++i) bytes_[at_++] = static_cast<std::uint8_t>(code[i]);
  }
  void Little(std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes_[at_++] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void U8(std::uint8_t value) { Little(value, 1); }
  void U16(std::uint16_t value) { Little(value, 2); }
  void U32(std::uint32_t value) { Little(value, 4); }
  void I32(std::int32_t value) { Little(static_cast<std::uint32_t>(value), 4); }
  void I64(std::int64_t value) { Little(static_cast<std::uint64_t>(value), 8); }
  void Zeros(int count) {
    for (int i = 0; i < count; ++i) bytes_[at_++] = 0;
  }

 private:
  std::array<std::uint8_t, kHeaderBytes>& bytes_;
  std::size_t at_ = 0;
};

}  // namespace

int StoredPairBytes(int sample_rate_index) {
  return sample_rate_index == receiver::kTwoMegaSampleIndex ? 4 : 6;
}

std::array<std::uint8_t, kHeaderBytes> EncodeWavHeader(const receiver::ReceiverSettings& settings,
                                                       std::int64_t start_time_utc_s) {
  const auto block_align = static_cast<std::uint16_t>(StoredPairBytes(settings.sample_rate_index));
  const auto bits_per_sample = static_cast<std::uint16_t>(block_align / kChannels * 8);
  const auto rate_hz = static_cast<std::uint32_t>(receiver::SampleRateRowAt(settings.sample_rate_index).rate_hz);

  std::array<std::uint8_t, kHeaderBytes> bytes{};
  HeaderWriter out(bytes);
  out.Code("RIFF");
  out.U32(0);
  out.Code("WAVE");

  out.Code("fmt ");
  out.U32(kFmtChunkBytes);
  out.U16(kFormatPcm);
  out.U16(kChannels);
  out.U32(rate_hz);
  out.U32(rate_hz * block_align);
  out.U16(block_align);
  out.U16(bits_per_sample);

  out.Code("rcvr");
  out.U32(kRcvrChunkBytes);
  out.I32(settings.lo_hz);
  out.I32(settings.sample_rate_index);
  out.I64(start_time_utc_s);
  out.U16(settings.attenuator_step);
  out.U8(settings.preselector_on ? 1 : 0);
  out.U8(settings.adc_preamp_on ? 1 : 0);
  out.U8(settings.adc_dither_on ? 1 : 0);
  out.U8(1);
  out.Zeros(16);

  out.Code("data");
  out.U32(0);
  return bytes;
}

std::array<std::uint8_t, 4> EncodeSizeField(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace halvorn::recorder
