// Tests of raster/blend and raster/cpu.
//
// Every routine of both implementations is checked against per-channel formulas written here
// independently of the module, over all 256 x 256 x 256 combinations of foreground channel,
// background channel and weight: the four channels of each colour run through different
// permutations of the same loop value, so one call checks four channels at once.
//
// The binary runs once per blend variant (RASTER_BLEND=plain|scalar|simd, see
// tests/CMakeLists.txt). In such a run the exhaustive tests check the table in force, i.e. the
// set that the variant selected; run without RASTER_BLEND they check both sets and the table.
// The vector kernels are compared with the scalar packed code in every run.
//
// Random tests print their seed; BLEND_TEST_SEED=<n> reruns one.

#include "raster/blend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "raster/blend_p.h"
#include "raster/cpu.h"

namespace {

using raster::TBlendImplementation;
using raster::TBlendRoutines;
using raster::TColor32;

// ---- Independent reference --------------------------------------------------------------------

// Packed-lane formula P(W): background weight 256 - W.
int P(int f, int b, int w) {
  return (f * w + b * (256 - w) + 128) / 256;
}
// Plain formula Q(W): each product rounded on its own, background weight 255 - W.
int Q(int f, int b, int w) {
  return (f * w + 128) / 256 + (b * (255 - w) + 128) / 256;
}

int Ch(TColor32 c, int i) {
  return int((c >> (8 * i)) & 0xFF);
}  // 0 blue, 1 green, 2 red, 3 alpha

TColor32 Argb(int a, int r, int g, int b) {
  return (TColor32(a & 0xFF) << 24) | (TColor32(r & 0xFF) << 16) | (TColor32(g & 0xFF) << 8) |
         TColor32(b & 0xFF);
}

// The formula of one set applied to every channel; the plain set's RGB-only routines leave
// alpha 0.
TColor32 Formula(bool packed, TColor32 f, TColor32 b, int w, bool alphaZero = false) {
  TColor32 r = 0;
  for (int i = 0; i < 4; ++i) {
    const int v = packed ? P(Ch(f, i), Ch(b, i), w) : Q(Ch(f, i), Ch(b, i), w);
    if (i == 3 && alphaZero) continue;
    r |= TColor32(v) << (8 * i);
  }
  return r;
}

// Expected results, per routine, written out independently of the implementation.
TColor32 ExpCombineReg(bool packed, TColor32 X, TColor32 Y, int W) {
  if (!packed && W == 0) return Y;
  if (!packed && W == 255) return X;
  return Formula(packed, X, Y, W);
}
TColor32 ExpCombineMem(bool packed, TColor32 F, TColor32 B, int W) {
  if (W == 0) return B;
  if (W == 255) return F;
  return Formula(packed, F, B, W, /*alphaZero=*/!packed);
}
TColor32 ExpBlendReg(bool packed, TColor32 F, TColor32 B) {
  const int fa = Ch(F, 3);
  if (!packed && fa == 255) return F;
  if (!packed && fa == 0) return B;
  return Formula(packed, F, B, fa);
}
TColor32 ExpBlendMem(bool packed, TColor32 F, TColor32 B) {
  const int fa = Ch(F, 3);
  if (fa == 0) return B;
  if (fa == 255) return F;
  return Formula(packed, F, B, fa);
}
TColor32 ExpBlendMemEx(bool packed, TColor32 F, TColor32 B, int M) {
  const int fa = Ch(F, 3);
  if (fa == 0) return B;
  const int w = ((M + 1) * fa) / 256;
  if (w == 0) return B;
  return Formula(packed, F, B, w, /*alphaZero=*/!packed);
}
TColor32 ExpBlendRegEx(bool packed, TColor32 F, TColor32 B, int M) {
  return ExpBlendMemEx(packed, F, B, M);
}
// One pixel of BlendLineEx: the packed set weights (Fa + 1) * M, the plain set is BlendMemEx.
TColor32 ExpBlendLineEx(bool packed, TColor32 F, TColor32 B, int M) {
  if (!packed) return ExpBlendMemEx(false, F, B, M);
  const int fa = Ch(F, 3);
  if (fa == 0) return B;
  const int w = ((fa + 1) * M) / 256;
  if (w == 0) return B;
  return Formula(true, F, B, w);
}

// Colours whose four channels are four different permutations of v, so that each channel
// sees every value of v.
TColor32 Spread(int v) {
  return Argb(v, v ^ 0x5A, 255 - v, (v + 77) & 0xFF);
}
TColor32 SpreadB(int v) {
  return Argb((v + 131) & 0xFF, v, v ^ 0xC3, 255 - v);
}
// Colour channels from v, alpha given.
TColor32 WithAlpha(int a, int v) {
  return Argb(a, v, v ^ 0x5A, (v + 77) & 0xFF);
}

// The source lines of the exhaustive line tests: Body() after Src (256 pixels) is filled with
// each line, until it returns false. BlendLine: every (Fa, colour) over the backgrounds.
template <class TBody>
bool ForEachLineCase(std::vector<TColor32>& Src, TBody Body) {
  for (int fa = 0; fa < 256; ++fa) {
    for (int fc = 0; fc < 256; ++fc) {
      for (int b = 0; b < 256; ++b) Src[b] = WithAlpha(fa, (fc + b) & 0xFF);
      if (!Body()) return false;
    }
  }
  return true;
}
// BlendLineEx, Body(M): every (Fa, M) over the backgrounds, then at Fa = 255 every (colour, M).
template <class TBody>
bool ForEachLineExCase(std::vector<TColor32>& Src, TBody Body) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int x = 0; x < 256; ++x) {
      for (int m = 0; m < 256; ++m) {
        for (int b = 0; b < 256; ++b)
          Src[b] = pass == 0 ? WithAlpha(x, (b * 7 + m + x * 3) & 0xFF)
                             : WithAlpha(255, (x + b * 3) & 0xFF);
        if (!Body(TColor32(m))) return false;
      }
    }
  }
  return true;
}

std::string Hex(TColor32 c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", c);
  return buf;
}

// ---- Which sets to check ------------------------------------------------------------------------

const char* BlendVariant() {
  return std::getenv("RASTER_BLEND");
}

struct TSetUnderTest {
  std::string Name;
  TBlendRoutines Routines;
  bool Packed;
};

TBlendRoutines TableInForce() {
  return {raster::CombineReg, raster::CombineMem, raster::BlendReg,  raster::BlendMem,
          raster::BlendRegEx, raster::BlendMemEx, raster::BlendLine, raster::BlendLineEx};
}

std::vector<TSetUnderTest> SetsUnderTest() {
  std::vector<TSetUnderTest> sets;
  sets.push_back(
      {std::string("table in force (") + (BlendVariant() ? BlendVariant() : "default") + ")",
       TableInForce(), raster::MMX_ACTIVE});
  if (BlendVariant() == nullptr) {
    sets.push_back({"plain set", raster::PlainBlendRoutines(), false});
    sets.push_back({"packed set", raster::PackedBlendRoutines(), true});
  }
  return sets;
}

// Stops a loop at the first mismatch with a readable message.
#define EXPECT_PIXEL(expected, actual, what)                                                       \
  do {                                                                                             \
    const TColor32 e_ = (expected), a_ = (actual);                                                 \
    if (e_ != a_) {                                                                                \
      ADD_FAILURE() << set.Name << ": " << what << ": expected " << Hex(e_) << " got " << Hex(a_); \
      return;                                                                                      \
    }                                                                                              \
  } while (0)

// ---- Exhaustive checks of the per-pixel routines ------------------------------------------------

void CheckCombine(const TSetUnderTest& set) {
  const auto& R = set.Routines;
  for (int f = 0; f < 256; ++f) {
    const TColor32 F = Spread(f);
    for (int b = 0; b < 256; ++b) {
      const TColor32 B = SpreadB(b);
      for (int w = 0; w < 256; ++w) {
        EXPECT_PIXEL(ExpCombineReg(set.Packed, F, B, w), R.CombineReg(F, B, TColor32(w)),
                     "CombineReg(" << Hex(F) << ", " << Hex(B) << ", " << w << ")");
        TColor32 dst = B;
        R.CombineMem(F, dst, TColor32(w));
        EXPECT_PIXEL(ExpCombineMem(set.Packed, F, B, w), dst,
                     "CombineMem(" << Hex(F) << ", " << Hex(B) << ", " << w << ")");
      }
    }
  }
}

void CheckBlend(const TSetUnderTest& set) {
  const auto& R = set.Routines;
  for (int fa = 0; fa < 256; ++fa) {
    for (int fc = 0; fc < 256; ++fc) {
      const TColor32 F = WithAlpha(fa, fc);
      for (int b = 0; b < 256; ++b) {
        const TColor32 B = SpreadB(b);
        EXPECT_PIXEL(ExpBlendReg(set.Packed, F, B), R.BlendReg(F, B),
                     "BlendReg(" << Hex(F) << ", " << Hex(B) << ")");
        TColor32 dst = B;
        R.BlendMem(F, dst);
        EXPECT_PIXEL(ExpBlendMem(set.Packed, F, B), dst,
                     "BlendMem(" << Hex(F) << ", " << Hex(B) << ")");
      }
    }
  }
}

// All (Fa, M) pairs against all background values, and with Fa = 255 (where the weight equals
// M for both weight rules) all (foreground, background, weight) triples.
template <typename Fn>
void ForEachEx(Fn fn) {
  for (int fa = 0; fa < 256; ++fa)
    for (int m = 0; m < 256; ++m)
      for (int b = 0; b < 256; ++b) fn(WithAlpha(fa, (b * 7 + m + fa * 3) & 0xFF), SpreadB(b), m);
  for (int m = 0; m < 256; ++m)
    for (int fc = 0; fc < 256; ++fc)
      for (int b = 0; b < 256; ++b) fn(WithAlpha(255, fc), SpreadB(b), m);
}

void CheckBlendEx(const TSetUnderTest& set) {
  const auto& R = set.Routines;
  bool failed = false;
  ForEachEx([&](TColor32 F, TColor32 B, int m) {
    if (failed) return;
    const TColor32 e = ExpBlendRegEx(set.Packed, F, B, m);
    TColor32 dst = B;
    R.BlendMemEx(F, dst, TColor32(m));
    const TColor32 reg = R.BlendRegEx(F, B, TColor32(m));
    if (reg != e || dst != e) {
      failed = true;
      ADD_FAILURE() << set.Name << ": BlendRegEx/BlendMemEx(" << Hex(F) << ", " << Hex(B) << ", "
                    << m << "): expected " << Hex(e) << " got " << Hex(reg) << " / " << Hex(dst);
    }
  });
}

// Lines of 256 pixels, one per background value, so that vector line code runs on them too.
void CheckLines(const TSetUnderTest& set) {
  const auto& R = set.Routines;
  std::vector<TColor32> src(256), dst(256), bg(256);
  for (int b = 0; b < 256; ++b) bg[b] = SpreadB(b);
  // Whether dst holds Expected(src[b], bg[b]) at every b; else the first wrong pixel fails.
  const auto holds = [&](const char* What, TColor32 M, auto Expected) {
    for (int b = 0; b < 256; ++b) {
      const TColor32 e = Expected(src[b], bg[b]);
      if (e == dst[b]) continue;
      ADD_FAILURE() << set.Name << ": " << What << " pixel " << b << " M " << M << " ("
                    << Hex(src[b]) << " onto " << Hex(bg[b]) << "): expected " << Hex(e) << " got "
                    << Hex(dst[b]);
      return false;
    }
    return true;
  };
  const bool lines = ForEachLineCase(src, [&] {
    dst = bg;
    R.BlendLine(src.data(), dst.data(), 256);
    return holds("BlendLine", 0,
                 [&](TColor32 F, TColor32 B) { return ExpBlendMem(set.Packed, F, B); });
  });
  if (!lines) return;
  ForEachLineExCase(src, [&](TColor32 m) {
    dst = bg;
    R.BlendLineEx(src.data(), dst.data(), 256, m);
    return holds("BlendLineEx", m,
                 [&](TColor32 F, TColor32 B) { return ExpBlendLineEx(set.Packed, F, B, int(m)); });
  });
}

TEST(BlendExhaustive, CombineRegAndCombineMem) {
  for (const auto& set : SetsUnderTest()) CheckCombine(set);
}
TEST(BlendExhaustive, BlendRegAndBlendMem) {
  for (const auto& set : SetsUnderTest()) CheckBlend(set);
}
TEST(BlendExhaustive, BlendRegExAndBlendMemEx) {
  for (const auto& set : SetsUnderTest()) CheckBlendEx(set);
}
TEST(BlendExhaustive, BlendLineAndBlendLineEx) {
  for (const auto& set : SetsUnderTest()) CheckLines(set);
}

// ---- Worked values and edge cases -------------------------------------------------------

TEST(BlendWorkedValues, BlendMemExRedOntoBlue) {
  const auto& packed = raster::PackedBlendRoutines();
  const auto& plain = raster::PlainBlendRoutines();
  TColor32 b = 0xFF0000FFu;
  packed.BlendMemEx(0xFFFF0000u, b, 120);
  EXPECT_EQ(Hex(0xFF780087u), Hex(b));
  EXPECT_EQ(Hex(0xFF780087u), Hex(packed.BlendRegEx(0xFFFF0000u, 0xFF0000FFu, 120)));
  b = 0xFF0000FFu;
  plain.BlendMemEx(0xFFFF0000u, b, 120);
  EXPECT_EQ(Hex(0x00780086u), Hex(b));  // red 120, blue 134, alpha 0
  EXPECT_EQ(Hex(0x00780086u), Hex(plain.BlendRegEx(0xFFFF0000u, 0xFF0000FFu, 120)));
}

TEST(BlendWorkedValues, CombineRegEnds) {
  const auto& packed = raster::PackedBlendRoutines();
  const auto& plain = raster::PlainBlendRoutines();
  EXPECT_EQ(Hex(0xFEFEFEFEu), Hex(packed.CombineReg(0xFFFFFFFFu, 0x00000000u, 255)));
  EXPECT_EQ(Hex(0x00000000u), Hex(packed.CombineReg(0xFFFFFFFFu, 0x00000000u, 0)));
  EXPECT_EQ(Hex(0x01010101u), Hex(packed.CombineReg(0x00000000u, 0xFFFFFFFFu, 255)));
  EXPECT_EQ(Hex(0x12345678u), Hex(plain.CombineReg(0x12345678u, 0x9ABCDEF0u, 255)));
  EXPECT_EQ(Hex(0x9ABCDEF0u), Hex(plain.CombineReg(0x12345678u, 0x9ABCDEF0u, 0)));
  EXPECT_EQ(Hex(0xFFFFFFFFu), Hex(plain.CombineReg(0xFFFFFFFFu, 0x00000000u, 255)));
}

TEST(BlendWorkedValues, BlendMemOpaqueAndTransparent) {
  for (const TBlendRoutines* R : {&raster::PlainBlendRoutines(), &raster::PackedBlendRoutines()}) {
    TColor32 b = 0x80402010u;
    R->BlendMem(0xFF123456u, b);
    EXPECT_EQ(Hex(0xFF123456u), Hex(b));
    b = 0x80402010u;
    R->BlendMem(0x00FFFFFFu, b);
    EXPECT_EQ(Hex(0x80402010u), Hex(b));
  }
  // The packed BlendReg has no special case: Fa = 255 still lets 1/256 of B through.
  EXPECT_EQ(Hex(0xFFFEFEFEu),
            Hex(raster::PackedBlendRoutines().BlendReg(0xFFFFFFFFu, 0xFF000000u)));
  EXPECT_EQ(Hex(0xFFFFFFFFu), Hex(raster::PlainBlendRoutines().BlendReg(0xFFFFFFFFu, 0xFF000000u)));
}

TEST(BlendWorkedValues, MasterAlphaEnds) {
  for (const TBlendRoutines* R : {&raster::PlainBlendRoutines(), &raster::PackedBlendRoutines()}) {
    for (int fa = 0; fa < 256; ++fa) {
      TColor32 b = 0x80402010u;
      R->BlendMemEx(Argb(fa, 255, 255, 255), b, 0);
      EXPECT_EQ(Hex(0x80402010u), Hex(b)) << "Fa " << fa;
    }
  }
  TColor32 b = 0xFF000000u;
  raster::PackedBlendRoutines().BlendMemEx(0xFFFFFFFFu, b, 255);
  EXPECT_EQ(Hex(0xFFFEFEFEu), Hex(b));
  b = 0xFF000000u;
  raster::PlainBlendRoutines().BlendMemEx(0xFFFFFFFFu, b, 255);
  EXPECT_EQ(Hex(0x00FEFEFEu), Hex(b));  // Q(255) of 255 is (255 * 255 + 128) >> 8 = 254
}

TEST(BlendWorkedValues, PlainRgbOnlyRoutinesLeaveAlphaZero) {
  const auto& plain = raster::PlainBlendRoutines();
  TColor32 b = 0xFF0000FFu;
  plain.CombineMem(0xFFFF0000u, b, 100);
  EXPECT_EQ(0u, b >> 24);
  b = 0xFF0000FFu;
  raster::PackedBlendRoutines().CombineMem(0xFFFF0000u, b, 100);
  EXPECT_EQ(255u, b >> 24);
}

TEST(BlendWorkedValues, LineExWeightDiffersFromMemEx) {
  // Fa = 128, M = 1: BlendMemEx weighs (1 + 1) * 128 >> 8 = 1, packed BlendLineEx
  // (128 + 1) * 1 >> 8 = 0 and so skips the pixel.
  const auto& packed = raster::PackedBlendRoutines();
  const TColor32 F = 0x80FF0000u, B0 = 0xFF0000FFu;
  TColor32 mem = B0, line = B0;
  packed.BlendMemEx(F, mem, 1);
  packed.BlendLineEx(&F, &line, 1, 1);
  EXPECT_EQ(Hex(Formula(true, F, B0, 1)), Hex(mem));
  EXPECT_EQ(Hex(B0), Hex(line));
}

TEST(BlendWorkedValues, NonPositiveCountWritesNothing) {
  const TColor32 src[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  for (const TBlendRoutines& R :
       {raster::PlainBlendRoutines(), raster::PackedBlendRoutines(), TableInForce()}) {
    for (std::int32_t count : {0, -1, -100, INT32_MIN}) {
      TColor32 dst[2] = {0x01020304u, 0x05060708u};
      R.BlendLine(src, dst, count);
      R.BlendLineEx(src, dst, count, 255);
      EXPECT_EQ(0x01020304u, dst[0]);
      EXPECT_EQ(0x05060708u, dst[1]);
    }
  }
}

// ---- Vector kernels against the scalar packed code ---------------------------------------------

std::uint32_t TestSeed() {
  static const std::uint32_t seed = [] {
    if (const char* env = std::getenv("BLEND_TEST_SEED"))
      return std::uint32_t(std::strtoul(env, nullptr, 10));
    return std::uint32_t(std::random_device{}());
  }();
  return seed;
}

class SeededTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::printf("blend_test seed %u (rerun with BLEND_TEST_SEED=%u)\n", TestSeed(), TestSeed());
    rng_.seed(TestSeed());
  }
  // Pixels with alpha 0 and 255 frequent, the rest anything.
  TColor32 RandomPixel() {
    const std::uint32_t v = rng_();
    switch (rng_() % 4) {
      case 0:
        return v & 0x00FFFFFFu;
      case 1:
        return v | 0xFF000000u;
      default:
        return v;
    }
  }
  TColor32 RandomMaster() {
    const std::uint32_t r = rng_() % 8;
    return r == 0 ? 0 : r == 1 ? 255 : rng_() % 256;
  }
  std::mt19937 rng_;
};

using TLineFn = void (*)(const TColor32*, TColor32*, std::int32_t);
using TLineExFn = void (*)(const TColor32*, TColor32*, std::int32_t, TColor32);

struct TVectorVariant {
  const char* Name;
  bool Available;
  TLineFn Line;
  TLineExFn LineEx;
};

std::vector<TVectorVariant> VectorVariants() {
  return {
      {"SSE2", raster::HasSSE2(), raster::BlendLine_SSE2, raster::BlendLineEx_SSE2},
      {"AVX2", raster::HasAVX2(), raster::BlendLine_AVX2, raster::BlendLineEx_AVX2},
      {"dispatch", true, raster::BlendLine, raster::BlendLineEx},
  };
}

void RefLine(const TColor32* s, TColor32* d, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) raster::PackedBlendRoutines().BlendMem(s[i], d[i]);
}
void RefLineEx(const TColor32* s, TColor32* d, std::int32_t n, TColor32 m) {
  raster::PackedBlendRoutines().BlendLineEx(s, d, n, m);
}

using VectorLines = SeededTest;

TEST_F(VectorLines, EveryLengthWithGuards) {
  constexpr int Guard = 16;
  constexpr TColor32 GuardValue = 0xDEADBEEFu;
  for (const auto& v : VectorVariants()) {
    if (!v.Available) continue;
    // The dispatched table lines are packed only while a packed set is in force.
    const bool tableIsPacked = raster::MMX_ACTIVE;
    for (int kind = 0; kind < 2; ++kind) {
      if (std::strcmp(v.Name, "dispatch") == 0 && !tableIsPacked) continue;
      for (int offset = 0; offset < 4; ++offset) {
        for (int len = 0; len <= 64; ++len) {
          for (int rep = 0; rep < 8; ++rep) {
            std::vector<TColor32> src(offset + len + Guard), dst(offset + len + Guard);
            for (auto& p : src) p = RandomPixel();
            for (auto& p : dst) p = RandomPixel();
            for (int g = 0; g < Guard; ++g) dst[offset + len + g] = GuardValue;
            std::vector<TColor32> expect = dst;
            const TColor32 m = RandomMaster();
            const TColor32* s = src.data() + offset;
            TColor32* d = dst.data() + offset;
            switch (kind) {
              case 0:
                v.Line(s, d, len);
                RefLine(s, expect.data() + offset, len);
                break;
              default:
                v.LineEx(s, d, len, m);
                RefLineEx(s, expect.data() + offset, len, m);
                break;
            }
            for (std::size_t i = 0; i < dst.size(); ++i) {
              ASSERT_EQ(Hex(expect[i]), Hex(dst[i]))
                  << v.Name << " kind " << kind << " offset " << offset << " length " << len
                  << " M " << m << " index " << i << " src "
                  << Hex(i >= std::size_t(offset) && i < std::size_t(offset + len) ? src[i] : 0);
            }
          }
        }
      }
    }
  }
}

// Src == Dst, and overlapping ranges in both directions: where a later source pixel is an
// earlier destination pixel, the scalar order of writes decides the result, and the vector code
// must give the same.
TEST_F(VectorLines, Aliasing) {
  for (const auto& v : VectorVariants()) {
    if (!v.Available || std::strcmp(v.Name, "dispatch") == 0) continue;
    for (int shift = -10; shift <= 10; ++shift) {
      for (int len = 0; len <= 40; ++len) {
        const int base = 12;
        std::vector<TColor32> buf(len + 2 * base);
        for (auto& p : buf) p = RandomPixel();
        const TColor32 m = RandomMaster();
        for (int kind = 0; kind < 2; ++kind) {
          std::vector<TColor32> e = buf, a = buf;
          const int srcAt = base, dstAt = base + shift;
          switch (kind) {
            case 0:
              RefLine(e.data() + srcAt, e.data() + dstAt, len);
              v.Line(a.data() + srcAt, a.data() + dstAt, len);
              break;
            default:
              RefLineEx(e.data() + srcAt, e.data() + dstAt, len, m);
              v.LineEx(a.data() + srcAt, a.data() + dstAt, len, m);
              break;
          }
          ASSERT_EQ(e, a) << v.Name << " kind " << kind << " shift " << shift << " length " << len
                          << " M " << m;
        }
      }
    }
  }
}

// Exhaustive for the vector lines: every (Fa, M) with every background, every (colour,
// background, weight) at Fa = 255. Compared with the scalar packed code, which the exhaustive
// tests above check against the formulas (RASTER_BLEND=scalar run); the table-in-force test of
// the simd run checks the vector lines in force against the formulas directly.
TEST(VectorExhaustive, Lines) {
  // Independent of the table in force; run once (in the simd run, or without RASTER_BLEND).
  if (BlendVariant() != nullptr && std::strcmp(BlendVariant(), "simd") != 0)
    GTEST_SKIP() << "checked in the RASTER_BLEND=simd run";
  for (const auto& v : VectorVariants()) {
    if (!v.Available || std::strcmp(v.Name, "dispatch") == 0) continue;
    std::vector<TColor32> src(256), bg(256), dst(256), exp(256);
    for (int b = 0; b < 256; ++b) bg[b] = SpreadB(b);
    auto check = [&](const char* what, TColor32 m) {
      for (int b = 0; b < 256; ++b) {
        if (dst[b] != exp[b]) {
          ADD_FAILURE() << v.Name << " " << what << " M " << m << ": " << Hex(src[b]) << " onto "
                        << Hex(bg[b]) << ": expected " << Hex(exp[b]) << " got " << Hex(dst[b]);
          return false;
        }
      }
      return true;
    };
    const bool lineEx = ForEachLineExCase(src, [&](TColor32 m) {
      dst = bg;
      v.LineEx(src.data(), dst.data(), 256, m);
      exp = bg;
      RefLineEx(src.data(), exp.data(), 256, m);
      return check("BlendLineEx", m);
    });
    if (!lineEx) return;
    const bool line = ForEachLineCase(src, [&] {
      dst = bg;
      v.Line(src.data(), dst.data(), 256);
      exp = bg;
      RefLine(src.data(), exp.data(), 256);
      return check("BlendLine", 0);
    });
    if (!line) return;
  }
}

// ---- The table in force -------------------------------------------------------------------------

void ExpectTableIs(const TBlendRoutines& R, bool vectorLines) {
  EXPECT_EQ(R.CombineReg, raster::CombineReg);
  EXPECT_EQ(R.CombineMem, raster::CombineMem);
  EXPECT_EQ(R.BlendReg, raster::BlendReg);
  EXPECT_EQ(R.BlendMem, raster::BlendMem);
  EXPECT_EQ(R.BlendRegEx, raster::BlendRegEx);
  EXPECT_EQ(R.BlendMemEx, raster::BlendMemEx);
  if (!vectorLines) {
    EXPECT_EQ(R.BlendLine, raster::BlendLine);
    EXPECT_EQ(R.BlendLineEx, raster::BlendLineEx);
  } else if (raster::HasAVX2()) {
    EXPECT_EQ(&raster::BlendLine_AVX2, raster::BlendLine);
    EXPECT_EQ(&raster::BlendLineEx_AVX2, raster::BlendLineEx);
  } else {
    EXPECT_EQ(&raster::BlendLine_SSE2, raster::BlendLine);
    EXPECT_EQ(&raster::BlendLineEx_SSE2, raster::BlendLineEx);
  }
}

void ExpectImplementationInForce(TBlendImplementation impl) {
  EXPECT_EQ(int(impl), int(raster::ActiveBlendImplementation()));
  switch (impl) {
    case TBlendImplementation::Plain:
      EXPECT_FALSE(raster::MMX_ACTIVE);
      EXPECT_FALSE(raster::VectorPathsActive());
      ExpectTableIs(raster::PlainBlendRoutines(), false);
      break;
    case TBlendImplementation::PackedScalar:
      EXPECT_TRUE(raster::MMX_ACTIVE);
      EXPECT_FALSE(raster::VectorPathsActive());
      ExpectTableIs(raster::PackedBlendRoutines(), false);
      break;
    case TBlendImplementation::PackedVector:
      EXPECT_TRUE(raster::MMX_ACTIVE);
      EXPECT_TRUE(raster::VectorPathsActive());
      ExpectTableIs(raster::PackedBlendRoutines(), true);
      break;
  }
}

TEST(BlendTable, MatchesEnvironment) {
  const char* env = BlendVariant();
  const TBlendImplementation packedBest =
      raster::HasSSE2() ? TBlendImplementation::PackedVector : TBlendImplementation::PackedScalar;
  TBlendImplementation expected;
  if (env != nullptr && std::strcmp(env, "plain") == 0) {
    expected = TBlendImplementation::Plain;
  } else if (env != nullptr && std::strcmp(env, "scalar") == 0) {
    expected = TBlendImplementation::PackedScalar;
  } else if (env != nullptr && std::strcmp(env, "simd") == 0) {
    expected = packedBest;
  } else {
    expected = raster::HasMMX() ? packedBest : TBlendImplementation::Plain;
  }
  std::printf("RASTER_BLEND=%s, implementation in force %d\n", env ? env : "(unset)",
              int(raster::ActiveBlendImplementation()));
  ExpectImplementationInForce(expected);
}

TEST(BlendTable, SelectSwitchesAndRestores) {
  const TBlendImplementation before = raster::ActiveBlendImplementation();
  for (auto impl : {TBlendImplementation::Plain, TBlendImplementation::PackedScalar,
                    TBlendImplementation::PackedVector}) {
    raster::SelectBlendImplementation(impl);
    if (impl == TBlendImplementation::PackedVector && !(raster::HasSSE2()))
      impl = TBlendImplementation::PackedScalar;
    ExpectImplementationInForce(impl);
  }
  raster::SelectBlendImplementation(before);
  EXPECT_EQ(int(before), int(raster::ActiveBlendImplementation()));
  raster::EMMS();  // a no-op, callable at any time
}

// ---- Colour operations --------------------------------------------------------------------------

TEST(ColorOperations, AllChannelPairs) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const TColor32 C1 = Spread(a), C2 = SpreadB(b);
      TColor32 add = 0, sub = 0, mod = 0, mx = 0, mn = 0;
      for (int i = 0; i < 4; ++i) {
        const int x = Ch(C1, i), y = Ch(C2, i);
        add |= TColor32(x + y > 255 ? 255 : x + y) << (8 * i);
        sub |= TColor32(x - y < 0 ? 0 : x - y) << (8 * i);
        mod |= TColor32(x * y / 256) << (8 * i);
        mx |= TColor32(x > y ? x : y) << (8 * i);
        mn |= TColor32(x < y ? x : y) << (8 * i);
      }
      ASSERT_EQ(Hex(add), Hex(raster::ColorAdd(C1, C2)));
      ASSERT_EQ(Hex(sub), Hex(raster::ColorSub(C1, C2)));
      ASSERT_EQ(Hex(mod), Hex(raster::ColorModulate(C1, C2)));
      ASSERT_EQ(Hex(mx), Hex(raster::ColorMax(C1, C2)));
      ASSERT_EQ(Hex(mn), Hex(raster::ColorMin(C1, C2)));
    }
  }
}

TEST(ColorOperations, Lighten) {
  EXPECT_EQ(Hex(0x80FF1010u), Hex(raster::Lighten(0x80F00000u, 16)));
  EXPECT_EQ(Hex(0x80000000u), Hex(raster::Lighten(0x80F00010u, -300)));
  EXPECT_EQ(Hex(0x12FFFFFFu), Hex(raster::Lighten(0x12000000u, INT32_MAX)));
  EXPECT_EQ(Hex(0x12000000u), Hex(raster::Lighten(0x12FFFFFFu, INT32_MIN)));
  for (int amount = -260; amount <= 260; amount += 13) {
    for (int v = 0; v < 256; ++v) {
      const TColor32 c = Spread(v);
      TColor32 e = c & 0xFF000000u;
      for (int i = 0; i < 3; ++i) {
        int x = Ch(c, i) + amount;
        x = x < 0 ? 0 : x > 255 ? 255 : x;
        e |= TColor32(x) << (8 * i);
      }
      ASSERT_EQ(Hex(e), Hex(raster::Lighten(c, amount))) << "amount " << amount;
    }
  }
}

// ---- Processor identification and thread count --------------------------------------------------

TEST(Cpu, Features) {
#if defined(__x86_64__)
  EXPECT_TRUE(raster::HasMMX());  // every x86-64 processor has MMX and SSE2
  EXPECT_TRUE(raster::HasSSE2());
  __builtin_cpu_init();
  EXPECT_EQ(bool(__builtin_cpu_supports("avx2")), raster::HasAVX2());
#elif !defined(__i386__)
  EXPECT_FALSE(raster::HasMMX());
  EXPECT_FALSE(raster::HasSSE2());
  EXPECT_FALSE(raster::HasAVX2());
#endif
  if (raster::HasAVX2()) {
    EXPECT_TRUE(raster::HasSSE2());
  }
}

TEST(Cpu, ThreadCount) {
  const int before = raster::RasterThreadCount();
  EXPECT_GE(before, 1);
  if (const char* env = std::getenv("RASTER_THREADS"); env != nullptr && std::atoi(env) >= 1) {
    EXPECT_EQ(std::atoi(env), before);
  }
  raster::SetRasterThreadCount(3);
  EXPECT_EQ(3, raster::RasterThreadCount());
  raster::SetRasterThreadCount(0);
  EXPECT_EQ(1, raster::RasterThreadCount());
  raster::SetRasterThreadCount(-5);
  EXPECT_EQ(1, raster::RasterThreadCount());
  raster::SetRasterThreadCount(before);
  EXPECT_EQ(before, raster::RasterThreadCount());
}

}  // namespace
