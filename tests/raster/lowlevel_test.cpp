#include "raster/lowlevel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

namespace raster {
namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(1, 1, 2), 1);  // 0.5 -> 1
  EXPECT_EQ(MulDiv(1, 1, 3), 0);
  EXPECT_EQ(MulDiv(2, 1, 3), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(1, -3, 2), -2);  // -1.5 -> -2
  EXPECT_EQ(MulDiv(-3, -3, 2), 5);
  EXPECT_EQ(MulDiv(3, 3, -2), -5);
  EXPECT_EQ(MulDiv(0, -5, 3), 0);
  EXPECT_EQ(MulDiv(100 * 6000, 65535, 1620), 24272222);  // 24272222.2
}

TEST(MulDivTest, OverflowAndZeroDivisorGiveMinusOne) {
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, 1), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 2), INT_MAX);
  EXPECT_EQ(MulDiv(INT_MIN, 1, 1), INT_MIN);  // fits as a negative value
  EXPECT_EQ(MulDiv(INT_MIN, -1, 1), -1);      // 2^31 does not fit
}

TEST(MulDivTest, MatchesExactArithmetic) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> dist(-100000, 100000);
  for (int i = 0; i < 100000; ++i) {
    const int a = dist(rng), b = dist(rng), c = dist(rng);
    if (c == 0) continue;
    const long double exact = (long double)a * b / c;
    const long double mag = std::floor(std::fabs(exact) + 0.5L);
    const long long expected = exact < 0 ? -(long long)mag : (long long)mag;
    if (expected > INT_MAX || expected < INT_MIN) continue;
    ASSERT_EQ(MulDiv(a, b, c), expected) << a << " " << b << " " << c << " (seed 12345)";
  }
}

TEST(LongwordTest, FillAndMove) {
  TColor32 buf[8] = {};
  FillLongword(buf, -1, 9);
  EXPECT_EQ(buf[0], 0u);
  FillLongword(buf + 1, 3, 9);
  EXPECT_EQ(buf[0], 0u);
  EXPECT_EQ(buf[3], 9u);
  EXPECT_EQ(buf[4], 0u);
  TColor32 src[4] = {1, 2, 3, 4};
  MoveLongword(src, buf, 4);
  EXPECT_EQ(buf[3], 4u);
  MoveLongword(buf, buf, 4);
  EXPECT_EQ(buf[0], 1u);
}

TEST(LowLevelTest, ClampSwapAndClip) {
  EXPECT_EQ(Clamp(-4), 0);
  EXPECT_EQ(Clamp(300), 255);
  EXPECT_EQ(Constrain(5, 10, 2), 10);  // Lo is checked first
  std::int32_t a = 9, b = 3;
  TestSwap(a, b);
  EXPECT_EQ(a, 3);
  a = 12;
  b = -3;
  EXPECT_TRUE(TestClip(a, b, 10));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 9);
  a = 15;
  b = 12;
  EXPECT_FALSE(TestClip(a, b, 10));
  EXPECT_EQ(SAR_8(-256), -1);
  EXPECT_EQ(SAR_16(-1), -1);
  EXPECT_EQ(ColorSwap(0x00332211u), 0xFF112233u);
}

}  // namespace
}  // namespace raster
