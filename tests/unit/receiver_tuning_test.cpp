#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>

#include "receiver/control_record.h"
#include "receiver/sample_rate_table.h"
#include "receiver/tuning.h"
#include "tests/support/receiver_arithmetic.h"

namespace halvorn::receiver {
namespace {

TEST(NcoWordTest, ExamplesAtTheNominalClock) {
  EXPECT_EQ(NcoWord(7050000, 80000000), 378493992u);
  EXPECT_EQ(NcoWord(7050000, 80000000), 0x168F5C28u);
  EXPECT_EQ(NcoWord(10000000, 80000000), 0x20000000u);
  EXPECT_EQ(NcoWord(40000000, 80000000), 0x80000000u);
  EXPECT_EQ(NcoWord(0, 80000000), 0u);
  EXPECT_EQ(NcoWord(-1000, 80000000), 0xFFFF2E49u);
}

TEST(NcoWordTest, TruncatesTowardZeroAndKeepsTheLow32Bits) {
  // 1 Hz is 53.687... steps: truncated, not rounded.
  EXPECT_EQ(NcoWord(1, 80000000), 53u);
  EXPECT_EQ(NcoWord(-1, 80000000), static_cast<std::uint32_t>(-53));
  // At and above the clock the quotient passes 2^32 and wraps.
  EXPECT_EQ(NcoWord(80000000, 80000000), 0u);
  EXPECT_EQ(NcoWord(90000000, 80000000), NcoWord(10000000, 80000000));
  EXPECT_EQ(NcoWord(2147483647, 80000000), testing::ExpectedNcoWord(2147483647, 80000000));
}

TEST(NcoWordTest, FollowsTheCalibratedClock) {
  EXPECT_EQ(NcoWord(10000000, 79999200), testing::ExpectedNcoWord(10000000, 79999200));
  EXPECT_NE(NcoWord(10000000, 79999200), NcoWord(10000000, 80000000));
}

// The host's range ends where the words do: its top, for the nominal clock and
// calibrated ones alike, is the last hertz whose word is positive, the next
// one tuning below zero; its bottom, 0 Hz, is the word 0.
TEST(NcoWordTest, TheTopOfTheLoRangeIsTheLastHertzWhoseWordIsPositive) {
  for (const std::int32_t clock_hz : {80000000, 80000170, 80000171, 79999830, 79920000}) {
    const std::int32_t top = HighestLoHz(clock_hz);
    EXPECT_EQ(top, testing::ExpectedHighestLo(clock_hz)) << clock_hz;
    EXPECT_LT(NcoWord(top, clock_hz), 0x80000000u) << clock_hz;
    EXPECT_GE(NcoWord(top + 1, clock_hz), 0x80000000u) << clock_hz;
  }
  EXPECT_EQ(HighestLoHz(80000000), 39999999);
  EXPECT_EQ(NcoWord(kLowestLoHz, 80000000), 0u);
}

TEST(BandPlanTest, EveryLimitIsExclusiveAbove) {
  struct Case {
    std::int32_t hz;
    std::int32_t setting;
  };
  const Case cases[] = {
      {-2147483647 - 1, 0}, {-1, 0}, {0, 0}, {1699999, 0}, {1700000, 1}, {2099999, 1}, {2100000, 2},
      {2999999, 2}, {3000000, 3}, {4199999, 3}, {4200000, 4}, {5999999, 4}, {6000000, 5},
      {7050000, 5}, {8399999, 5}, {8400000, 6}, {11999999, 6}, {12000000, 7}, {16999999, 7},
      {17000000, 8}, {23999999, 8}, {24000000, 9}, {31999999, 9}, {32000000, 10}, {40000000, 10},
      {2147483647, 10},
  };
  for (const Case& c : cases) EXPECT_EQ(PreselectorSettingFor(c.hz), c.setting) << c.hz << " Hz";
}

TEST(ClockCalibrationTest, PutsTheTunedFrequencyOnItsNearestKilohertz) {
  EXPECT_EQ(CalibratedClock(10000100, 80000000), 79999200);
  EXPECT_EQ(CalibratedClock(9999900, 80000000), 80000800);
  EXPECT_EQ(CalibratedClock(7000500, 80000000), 80005713);  // a half rounds up, to 7001 kHz
  EXPECT_EQ(CalibratedClock(15000000, 80000000), 80000000);
  // Calibrations compound from the clock the last one left.
  EXPECT_EQ(CalibratedClock(10000100, 79999200), static_cast<std::int32_t>((10000000.0 / 10000100.0) * 79999200));
}

TEST(ClockCalibrationTest, RefusesWhenNoSoundClockFollows) {
  // Nearest whole kilohertz 0: no factor, or division by zero.
  for (std::int32_t tuned : {0, 1, -1, 499, -500, 250, -250}) {
    EXPECT_FALSE(CalibratedClock(tuned, 80000000).has_value()) << tuned;
  }
  // 500 Hz taken for 1 kHz would double the clock: no crystal is that far off.
  EXPECT_FALSE(CalibratedClock(500, 80000000).has_value());
  EXPECT_FALSE(CalibratedClock(-501, 80000000).has_value());
  EXPECT_FALSE(CalibratedClock(500, 1200000000).has_value());
  // A negative tuned frequency with a negative kilohertz keeps the clock positive.
  EXPECT_EQ(CalibratedClock(-1000, 80000000), 80000000);
}

TEST(ControlRecordTest, FlagsByteThenLittleEndianWordWithNoGap) {
  const ControlRecord record{kFlagAdcDither, 0x168F5C28};
  EXPECT_EQ(EncodeControlRecord(record), (std::array<std::uint8_t, 5>{0x02, 0x28, 0x5C, 0x8F, 0x16}));
  ControlRecord flags{};
  flags.SetFlag(kFlagStreaming, true);
  flags.SetFlag(kFlagAdcPreamp, true);
  EXPECT_EQ(flags.flags, 0x05);
  flags.SetFlag(kFlagStreaming, false);
  EXPECT_EQ(flags.flags, 0x04);
  const auto bytes = EncodeControlRecord({0x07, 0xFFFF2E49});
  EXPECT_EQ(DecodeControlRecord(bytes.data()), (ControlRecord{0x07, 0xFFFF2E49}));
}

// The rows follow from their descriptors: the rate is the nominal clock over
// the divider (bytes 0-1), to the nearest hertz; the packets (byte 3) are the
// fewest blocks that span as long as one block at 125 kS/s; byte 4 is the row;
// and the name tells the rate, the sample bits (byte 5) and the bitstream
// generation (byte 2).
TEST(SampleRateTableTest, EachRowFollowsFromItsDescriptor) {
  const char* const names[] = {"halvorn125k24v21", "halvorn250k24v21", "halvorn500k24v21",
                               "halvorn1m24v21",   "halvorn2m24v21",   "halvorn95k24v31",
                               "halvorn48k24v31",  "halvorn96k24v31",  "halvorn192k24v31"};
  ASSERT_EQ(kSampleRateTable.size(), std::size(names));
  for (int i = 0; i < kSampleRateCount; ++i) {
    SCOPED_TRACE(i);
    const SampleRateRow& row = kSampleRateTable[i];
    const std::uint8_t* descriptor = kDescriptorRecords[i];
    // Descriptors lie one after another in row order, each ending in two zeros.
    EXPECT_EQ(row.descriptor, descriptor);
    EXPECT_EQ(descriptor[6] | descriptor[7], 0);
    EXPECT_EQ(descriptor[4], i);
    EXPECT_EQ(row.rate_hz, std::lround(80000000.0 / (descriptor[0] | descriptor[1] << 8)));
    EXPECT_EQ(row.packets_per_transfer, descriptor[3]);
    EXPECT_EQ(row.packets_per_transfer, (row.rate_hz + 124999) / 125000);
    EXPECT_EQ(row.bytes_per_transfer(), row.packets_per_transfer * 6144);
    const std::string rate = row.rate_hz % 1000000 == 0 ? std::to_string(row.rate_hz / 1000000) + "m"
                                                        : std::to_string(row.rate_hz / 1000) + "k";
    const std::string bits = std::to_string(descriptor[5]), generation = std::to_string(descriptor[2]);
    EXPECT_EQ(row.bitstream_name, "halvorn" + rate + bits + "v" + generation);
    EXPECT_STREQ(row.bitstream_name, names[i]);
  }
}

TEST(SampleRateTableTest, OutOfRangeIndicesFallBackToTheFirstRow) {
  EXPECT_EQ(&SampleRateRowAt(-1), &kSampleRateTable[0]);
  EXPECT_EQ(&SampleRateRowAt(9), &kSampleRateTable[0]);
  EXPECT_EQ(&SampleRateRowAt(4), &kSampleRateTable[4]);
}

}  // namespace
TEST(ClockCalibrationTest, TakesCorrectionsUpTo1000PpmAndNoMore) {
  // Half a kilohertz off is under 1000 ppm of anything above 500 kHz: the
  // limit only bites on carriers below that, or far off their kilohertz.
  EXPECT_EQ(CalibratedClock(400300, 80000000), static_cast<std::int32_t>((400000.0 / 400300.0) * 80000000));
  EXPECT_EQ(CalibratedClock(500500, 80000000), static_cast<std::int32_t>((501000.0 / 500500.0) * 80000000));
  EXPECT_FALSE(CalibratedClock(499500, 80000000).has_value());  // +1001 ppm
  EXPECT_FALSE(CalibratedClock(300400, 80000000).has_value());  // -1332 ppm
  EXPECT_FALSE(CalibratedClock(1499, 80000000).has_value());    // a third of the clock
}

}  // namespace halvorn::receiver
