// 24-bit components to 16 bits at the 2 MS/s row.
#include "recorder/sample_reduction.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/support/stored_form.h"

namespace halvorn::recorder {
namespace {

std::array<std::uint8_t, 3> Component(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16)};
}

std::int16_t Reduce(std::int32_t value) { return ReduceComponent(Component(value).data()); }

TEST(SampleReduction, WorkedExamples) {
  EXPECT_EQ(Reduce(-8388608), -32768);
  EXPECT_EQ(Reduce(-129), -1);
  EXPECT_EQ(Reduce(-128), 0);
  EXPECT_EQ(Reduce(-1), 0);
  EXPECT_EQ(Reduce(127), 0);
  EXPECT_EQ(Reduce(128), 1);
  EXPECT_EQ(Reduce(8388479), 32767);
}

TEST(SampleReduction, TheLargestComponentsSaturateInsteadOfWrapping) {
  EXPECT_EQ(Reduce(8388480), 32767);
  EXPECT_EQ(Reduce(8388607), 32767);
}

// Every one of the 2^24 components against the rule as the tests state it:
// rounded to nearest, a half up, saturated.
TEST(SampleReduction, EveryComponentIsTheRoundedQuotientBy256) {
  for (std::int32_t value = -8388608; value <= 8388607; ++value) {
    ASSERT_EQ(Reduce(value), testing::Rounded16(value)) << value;
  }
}

TEST(SampleReduction, BlockKeepsPairOrderAndStoresLittleEndian) {
  const std::int32_t components[6] = {128, -129, 8388607, -8388608, 256 * 0x1234, -256 * 0x1234};
  std::vector<std::uint8_t> pairs;
  for (std::int32_t component : components) {
    const auto bytes = Component(component);
    pairs.insert(pairs.end(), bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t> out(12, 0xAA);
  ReduceBlock(pairs.data(), 3, out.data());
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xCC, 0xED}));
}

}  // namespace
}  // namespace halvorn::recorder
