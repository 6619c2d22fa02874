// Inside the automatic alignment: the two steps it does itself rather than through OpenCV, each
// giving exactly what the OpenCV call it replaces gives, so that the alignment finds the same
// features and matches however its work is split over the threads; and their inner loops.
//
// auto_align_avx2.cpp includes this file with -mavx2, so nothing here may become a function of
// external linkage in that file: an AVX2 copy of one could be merged at link time and run on a
// processor without AVX2. The loops are `static inline`, a copy in each file, and the rest are
// declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace raster {
class TBitmap32;
}

namespace overlay {

struct TSimilarity;

// Points of picture 2 on a grid, kept where the fit lays them on picture 1: the overlap over
// which a placement is judged (auto_align_fit.cpp); the alignment's residual is measured over
// the same points.
struct TSample {
  double X2, Y2, X1, Y1;  // a point of picture 2 and where the fit puts it
};
std::vector<TSample> OverlapSamples(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                                    int Height2);

// Which code runs the inner loops: the best the processor has, or the code for any processor
// (for the tests, which check that both give the same).
enum class TKernels { Best, Portable };

// A grey copy of Picture reduced to Width x Height (neither larger than the picture) by area
// averaging, into Out (Height rows of Width bytes): byte for byte what cv::cvtColor
// (COLOR_BGRA2GRAY) and cv::resize(INTER_AREA) give, in one pass over the picture on the engine's
// threads.
void ReduceToGrey(const raster::TBitmap32& Picture, int Width, int Height, std::uint8_t* Out,
                  TKernels Kernels = TKernels::Best);

// The nearest and the second nearest row of the train set to a row of the query set.
struct TNearestTwo {
  int First = -1, Second = -1;  // rows of Train; -1 where Train has fewer rows
  float FirstDistance = 0, SecondDistance = 0;
};

// For each of QueryRows rows of Query, the two nearest of TrainRows rows of Train (rows of Length
// floats, one after the other) by Euclidean distance: the rows and distances of
// cv::BFMatcher(NORM_L2).knnMatch(Query, Train, 2), ties to the lower row as there, spread over
// the engine's threads.
std::vector<TNearestTwo> NearestTwo(const float* Query, int QueryRows, const float* Train,
                                    int TrainRows, int Length, TKernels Kernels = TKernels::Best);

namespace alignloops {

// OpenCV's grey of a BGRA pixel for 8-bit channels: 0.114 B + 0.587 G + 0.299 R in 15-bit fixed
// point, rounded half up.
static inline std::uint8_t Grey(const std::uint8_t* Bgra) {
  return std::uint8_t((Bgra[0] * 3735u + Bgra[1] * 19235u + Bgra[2] * 9798u + 16384u) >> 15);
}

// Count pixels (B, G, R, A bytes) to grey bytes.
static inline void GreyRow(const std::uint8_t* Bgra, std::uint8_t* Grey, int Count) {
  for (int i = 0; i < Count; ++i) Grey[i] = alignloops::Grey(Bgra + 4 * std::size_t(i));
}

// Down = Weight * Grey (First), else Down += Weight * Grey: two float steps a pixel.
static inline void WeighDown(const std::uint8_t* Grey, float Weight, bool First, float* Down,
                             int Count) {
  if (First) {
    for (int i = 0; i < Count; ++i) Down[i] = Weight * float(Grey[i]);
  } else {
    for (int i = 0; i < Count; ++i) Down[i] += Weight * float(Grey[i]);
  }
}

}  // namespace alignloops

// The same loops compiled for AVX2, in auto_align_avx2.cpp; only where raster::HasAVX2().
void GreyRowAvx2(const std::uint8_t* Bgra, std::uint8_t* Grey, int Count);
void WeighDownAvx2(const std::uint8_t* Grey, float Weight, bool First, float* Down, int Count);

// The dot products of four rows of Queries (Length 16-bit values each, Length even, one after
// the other) with each of TrainRows (a multiple of 8) train rows, query row k with train row j in
// Out[k * TrainRows + j]. The train rows come in groups of eight, and within a group value pair
// after value pair: 16 values a pair, the pair of row r at 2 r and 2 r + 1. With AVX2, in
// auto_align_avx2.cpp; only where raster::HasAVX2().
void DotsOfFourAvx2(const std::int16_t* Queries, const std::int16_t* Eights, int TrainRows,
                    int Length, std::int32_t* Out);

}  // namespace overlay
