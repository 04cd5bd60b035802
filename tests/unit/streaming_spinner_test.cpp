#include "streaming/arrival_spinner.h"

#include <gtest/gtest.h>

#include <thread>

namespace halvorn::streaming {
namespace {

TEST(ArrivalSpinnerTest, BeforeAnyArrivalItSleepsAtOnce) {
  ArrivalSpinner spinner;
  int looks = 0;
  EXPECT_FALSE(spinner.SpinUntil([&] { return ++looks > 1000000; }));
  EXPECT_EQ(looks, 0);
}

TEST(ArrivalSpinnerTest, BlocksArrivingFarApartAreWaitedForAsleep) {
  ArrivalSpinner spinner;
  spinner.BlocksArrived();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  spinner.BlocksArrived();
  int looks = 0;
  EXPECT_FALSE(spinner.SpinUntil([&] { return ++looks > 1000000; }));
  EXPECT_EQ(looks, 0);
}

TEST(ArrivalSpinnerTest, BlocksArrivingCloseTogetherAreWaitedForAwake) {
  ArrivalSpinner spinner;
  spinner.BlocksArrived();
  spinner.BlocksArrived();
  int looks = 0;
  EXPECT_TRUE(spinner.SpinUntil([&] { return ++looks == 10; }));
  EXPECT_EQ(looks, 10);
}

TEST(ArrivalSpinnerTest, ASpinEndsWhenItsTimeIsUp) {
  ArrivalSpinner spinner;
  spinner.BlocksArrived();
  spinner.BlocksArrived();
  const auto start = ArrivalSpinner::Clock::now();
  EXPECT_FALSE(spinner.SpinUntil([] { return false; }));
  // Never longer than the longest spin (plus one round of looks).
  EXPECT_LT(ArrivalSpinner::Clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace halvorn::streaming
