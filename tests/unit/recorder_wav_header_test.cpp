// The recording header byte for byte, and the finishing sizes.
#include "recorder/wav_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "receiver/sample_rate_table.h"

namespace halvorn::recorder {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Slice(const std::array<std::uint8_t, kHeaderBytes>& header, std::size_t from, std::size_t to) {
  return Bytes(header.begin() + static_cast<std::ptrdiff_t>(from), header.begin() + static_cast<std::ptrdiff_t>(to));
}

receiver::ReceiverSettings Settings(int index, std::int32_t lo_hz = 7050000) {
  receiver::ReceiverSettings settings;
  settings.lo_hz = lo_hz;
  settings.sample_rate_index = index;
  settings.attenuator_step = 0;
  settings.preselector_on = true;
  settings.adc_preamp_on = false;
  settings.adc_dither_on = true;
  return settings;
}

TEST(WavHeader, IndexZeroWithLo7050000ReadsAsTheWorkedExample) {
  const auto header = EncodeWavHeader(Settings(0), 0x0102030405060708);

  EXPECT_EQ(Slice(header, 0, 12), (Bytes{0x52, 0x49, 0x46, 0x46, 0, 0, 0, 0, 0x57, 0x41, 0x56, 0x45}));
  EXPECT_EQ(Slice(header, 12, 36), (Bytes{0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                                          0x48, 0xE8, 0x01, 0x00, 0xB0, 0x71, 0x0B, 0x00, 0x06, 0x00, 0x18, 0x00}));
  EXPECT_EQ(Slice(header, 36, 52), (Bytes{0x72, 0x63, 0x76, 0x72, 0x26, 0x00, 0x00, 0x00, 0x10, 0x93, 0x6B, 0x00,
                                          0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Slice(header, 52, 60), (Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Slice(header, 60, 66), (Bytes{0x00, 0x00, 0x01, 0x00, 0x01, 0x01}));
  EXPECT_EQ(Slice(header, 66, 82), Bytes(16, 0));
  EXPECT_EQ(Slice(header, 82, 90), (Bytes{0x64, 0x61, 0x74, 0x61, 0, 0, 0, 0}));
}

TEST(WavHeader, IndexFourIsSixteenBitsWithBlockAlignFour) {
  const auto header = EncodeWavHeader(Settings(4), 0);
  EXPECT_EQ(Slice(header, 12, 36), (Bytes{0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                                          0x80, 0x84, 0x1E, 0x00, 0x00, 0x12, 0x7A, 0x00, 0x04, 0x00, 0x10, 0x00}));
  EXPECT_EQ(Slice(header, 48, 52), (Bytes{4, 0, 0, 0}));
}

TEST(WavHeader, EveryRowCarriesItsTableRateBitsAlignAndByteRate) {
  struct Row {
    std::uint32_t rate, bits, align, byte_rate;
  };
  const Row rows[9] = {{125000, 24, 6, 750000}, {250000, 24, 6, 1500000}, {500000, 24, 6, 3000000},
                       {1000000, 24, 6, 6000000}, {2000000, 16, 4, 8000000}, {95238, 24, 6, 571428},
                       {48077, 24, 6, 288462},    {96154, 24, 6, 576924},    {192308, 24, 6, 1153848}};
  for (int index = 0; index < 9; ++index) {
    SCOPED_TRACE(index);
    const auto header = EncodeWavHeader(Settings(index), 0);
    const auto u32 = [&](std::size_t at) {
      return static_cast<std::uint32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 | header[at + 3] << 24);
    };
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(header[at] | header[at + 1] << 8); };
    EXPECT_EQ(u32(24), rows[index].rate);
    EXPECT_EQ(u32(28), rows[index].byte_rate);
    EXPECT_EQ(u16(32), rows[index].align);
    EXPECT_EQ(u16(34), rows[index].bits);
    EXPECT_EQ(u32(48), static_cast<std::uint32_t>(index));
    EXPECT_EQ(StoredPairBytes(index), static_cast<int>(rows[index].align));
  }
}

TEST(WavHeader, ReceiverFieldsTakeEachSettingAndTheStartTimeAsSigned64Bits) {
  receiver::ReceiverSettings settings;
  settings.lo_hz = -1;
  settings.sample_rate_index = 8;
  settings.attenuator_step = 3;
  settings.preselector_on = false;
  settings.adc_preamp_on = true;
  settings.adc_dither_on = false;
  const auto header = EncodeWavHeader(settings, -2);
  EXPECT_EQ(Slice(header, 44, 48), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(header, 48, 52), (Bytes{8, 0, 0, 0}));
  EXPECT_EQ(Slice(header, 52, 60), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(header, 60, 66), (Bytes{0x03, 0x00, 0x00, 0x01, 0x00, 0x01}));
}

TEST(WavHeader, FinishingSizesCountTheHeaderLessEight) {
  EXPECT_EQ(RiffSizeFor(0), 82u);
  EXPECT_EQ(RiffSizeFor(6144), 6226u);
  EXPECT_EQ(RiffSizeFor(4096), 4178u);
  EXPECT_EQ(kMaxDataBytes, 4294967213u);
  EXPECT_EQ(RiffSizeFor(kMaxDataBytes), 0xFFFFFFFFu);
  const auto field = EncodeSizeField(6226);
  EXPECT_EQ(Bytes(field.begin(), field.end()), (Bytes{0x52, 0x18, 0x00, 0x00}));
}

}  // namespace
}  // namespace halvorn::recorder
