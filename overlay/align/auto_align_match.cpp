// The two steps of the alignment done here rather than through OpenCV, each to OpenCV's bit: the
// reduction of a picture to grey for the detector, and the matching of the features' descriptors.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "overlay/align/auto_align_p.h"
#include "raster/core.h"
#include "raster/cpu.h"
#include "raster/row_pool.h"

namespace overlay {

namespace {

// One source pixel's share of a reduced pixel along one axis.
struct TAreaTap {
  int Target, Source;
  float Weight;
};

// The shares along an axis of SourceSize pixels reduced to TargetSize, each reduced pixel's in
// source order: a partial first and last pixel, the whole ones between at 1 / the cell's width.
// The same double arithmetic as OpenCV's area reduction, so that the float weights are its own.
std::vector<TAreaTap> AreaTaps(int SourceSize, int TargetSize) {
  const double scale = 1. / (double(TargetSize) / SourceSize);
  std::vector<TAreaTap> taps;
  taps.reserve(std::size_t(SourceSize) + std::size_t(TargetSize) * 2);
  for (int d = 0; d < TargetSize; ++d) {
    const double from = d * scale, to = from + scale;
    const double cell = std::min(scale, SourceSize - from);
    const int last = std::min(int(std::floor(to)), SourceSize - 1);
    const int first = std::min(int(std::ceil(from)), last);
    if (first - from > 1e-3) taps.push_back({d, first - 1, float((first - from) / cell)});
    for (int s = first; s < last; ++s) taps.push_back({d, s, float(1.0 / cell)});
    if (to - last > 1e-3) {
      taps.push_back({d, last, float(std::min(std::min(to - last, 1.), cell) / cell)});
    }
  }
  return taps;
}

bool WholeNumber(double Scale) {
  return std::abs(Scale - std::round(Scale)) < std::numeric_limits<double>::epsilon();
}

}  // namespace

void ReduceToGrey(const raster::TBitmap32& Picture, int Width, int Height, std::uint8_t* Out,
                  TKernels Kernels) {
  const int w = Picture.Width(), h = Picture.Height();
  cv::Mat out(Height, Width, CV_8U, Out);
  const double scaleX = 1. / (double(Width) / w), scaleY = 1. / (double(Height) / h);
  if ((Width == w && Height == h) || (WholeNumber(scaleX) && WholeNumber(scaleY))) {
    // OpenCV's own steps: a plain conversion, or its block means for whole-number ratios, which
    // are quick already.
    const cv::Mat bgra(h, w, CV_8UC4, const_cast<raster::TColor32*>(Picture.PixelBuffer()),
                       std::size_t(w) * 4);
    if (Width == w && Height == h) {
      cv::cvtColor(bgra, out, cv::COLOR_BGRA2GRAY);
      return;
    }
    cv::Mat grey;
    cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
    cv::resize(grey, out, out.size(), 0, 0, cv::INTER_AREA);
    return;
  }
  // OpenCV sums each source row's grey along X in float (the shares in source order, from 0),
  // then those row sums down a reduced row weighted by the shares along Y, and rounds to the
  // nearest byte, ties to even. Here the quick way round: the grey rows weighted down first, in
  // vector steps, then the column sums along X. Both add the same products. Each rounds at most
  // twice a share (the product and the sum), each time by at most 2^-24 of 256, so the two lie
  // within twice that of each other; `near` is twice as much again. Where the quick mean lies
  // further than `near` from a half, both round alike; else the pixel is made OpenCV's way.
  // Every reduced pixel gets the same number of X shares: the missing ones weigh 0 at its last
  // source pixel, which adds exactly nothing.
  const std::vector<TAreaTap> alongX = AreaTaps(w, Width), alongY = AreaTaps(h, Height);
  std::vector<int> count(static_cast<std::size_t>(Width), 0);
  std::size_t perPixel = 0;
  for (const TAreaTap& t : alongX) {
    perPixel = std::max(perPixel, std::size_t(++count[std::size_t(t.Target)]));
  }
  std::vector<int> source(std::size_t(Width) * perPixel);
  std::vector<float> weight(source.size(), 0.f);
  std::fill(count.begin(), count.end(), 0);
  for (const TAreaTap& t : alongX) {
    const std::size_t at =
        std::size_t(t.Target) * perPixel + std::size_t(count[std::size_t(t.Target)]++);
    source[at] = t.Source;
    weight[at] = t.Weight;
  }
  for (std::size_t d = 0; d < std::size_t(Width); ++d) {
    for (std::size_t k = std::size_t(count[d]); k < perPixel; ++k) {
      source[d * perPixel + k] = source[d * perPixel + k - 1];
    }
  }
  std::vector<int> rowTaps(std::size_t(Height) + 1, 0);  // where each reduced row's Y shares start
  int perRow = 0;
  for (const TAreaTap& t : alongY) {
    perRow = std::max(perRow, ++rowTaps[std::size_t(t.Target) + 1]);
  }
  for (std::size_t d = 0; d < std::size_t(Height); ++d) rowTaps[d + 1] += rowTaps[d];
  const float near = 2 * 2 * (2 * float(int(perPixel) + perRow)) * 256 / 16777216.f;

  // OpenCV's own order for one reduced pixel.
  const auto slowly = [&](int Dx, int Dy) {
    const int* s = source.data() + std::size_t(Dx) * perPixel;
    const float* a = weight.data() + std::size_t(Dx) * perPixel;
    float sum = 0;
    for (int k = rowTaps[std::size_t(Dy)]; k < rowTaps[std::size_t(Dy) + 1]; ++k) {
      const TAreaTap& t = alongY[std::size_t(k)];
      const auto* row = reinterpret_cast<const std::uint8_t*>(Picture.GetScanLine(t.Source));
      float along = 0;
      for (std::size_t j = 0; j < perPixel; ++j) {
        along += float(alignloops::Grey(row + 4 * std::size_t(s[j]))) * a[j];
      }
      sum = k == rowTaps[std::size_t(Dy)] ? t.Weight * along : sum + t.Weight * along;
    }
    return std::uint8_t(std::clamp(std::nearbyint(sum), 0.f, 255.f));
  };

  const bool avx2 = Kernels == TKernels::Best && raster::HasAVX2();
  const auto toGrey = avx2 ? GreyRowAvx2 : alignloops::GreyRow;
  const auto weigh = avx2 ? WeighDownAvx2 : alignloops::WeighDown;
  raster::ForRows(
      0, Height, std::int64_t(w) * h / Height, [&](std::int32_t First, std::int32_t Last) {
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(w));
        std::vector<float> down(grey.size());
        int greyRow = -1;  // the source row in grey
        for (int dy = First; dy < Last; ++dy) {
          for (int k = rowTaps[std::size_t(dy)]; k < rowTaps[std::size_t(dy) + 1]; ++k) {
            const TAreaTap& t = alongY[std::size_t(k)];
            if (t.Source != greyRow) {
              toGrey(reinterpret_cast<const std::uint8_t*>(Picture.GetScanLine(t.Source)),
                     grey.data(), w);
            }
            greyRow = t.Source;
            weigh(grey.data(), t.Weight, k == rowTaps[std::size_t(dy)], down.data(), w);
          }
          std::uint8_t* o = Out + std::size_t(dy) * std::size_t(Width);
          const int* s = source.data();
          const float* a = weight.data();
          for (int dx = 0; dx < Width; ++dx, s += perPixel, a += perPixel) {
            float v = 0;
            for (std::size_t j = 0; j < perPixel; ++j) v += down[std::size_t(s[j])] * a[j];
            const int whole = int(v);  // v >= 0
            const float fraction = v - float(whole);
            if (std::abs(fraction - 0.5f) < near) {
              o[dx] = slowly(dx, dy);
            } else {
              o[dx] = std::uint8_t(std::min(whole + (fraction > 0.5f), 255));
            }
          }
        }
      });
}

namespace {

// Descriptors as 16-bit integers with their squared lengths, rows padded with zero rows to a
// multiple of Padding. Only whole numbers from 0 to 255 (as SIFT's are), at most MaxWholeLength
// of them a row: then every sum of squared differences OpenCV's matcher adds up in float lies
// below 2^24 and is exact, so the same sums in integers give its distances to the bit.
constexpr int MaxWholeLength = (1 << 24) / (255 * 255);
struct TWholeDescriptors {
  int Rows = 0, Length = 0;
  std::vector<std::int16_t> Values;
  std::vector<std::int32_t> Norms;
};

bool ToWhole(const float* Descriptors, int Rows, int Length, int Padding, TWholeDescriptors* Out) {
  if (Length > MaxWholeLength) return false;
  Out->Rows = Rows;
  Out->Length = (Length + 1) / 2 * 2;  // a zero at the end of an odd length adds nothing
  const std::size_t rows = std::size_t((Rows + Padding - 1) / Padding * Padding);
  Out->Values.assign(rows * std::size_t(Out->Length), 0);
  Out->Norms.assign(rows, 0);
  for (int r = 0; r < Rows; ++r) {
    const float* v = Descriptors + std::size_t(r) * std::size_t(Length);
    std::int16_t* w = Out->Values.data() + std::size_t(r) * std::size_t(Out->Length);
    std::int32_t norm = 0;
    for (int e = 0; e < Length; ++e) {
      if (!(v[e] >= 0 && v[e] <= 255 && v[e] == std::floor(v[e]))) return false;
      w[e] = std::int16_t(v[e]);
      norm += w[e] * w[e];
    }
    Out->Norms[std::size_t(r)] = norm;
  }
  return true;
}

// The dot products of four rows of Queries with each of TrainRows (even) rows of Trains, all rows
// of Length 16-bit values one after the other: query row k with train row j in
// Out[k * TrainRows + j]. Eight sums in one loop over a pair of train rows, which the compiler
// turns into multiply-add instructions on 16-bit lanes.
void DotsOfFour(const std::int16_t* Queries, const std::int16_t* Trains, int TrainRows, int Length,
                std::int32_t* Out) {
  const std::int16_t* q0 = Queries;
  const std::int16_t* q1 = q0 + Length;
  const std::int16_t* q2 = q1 + Length;
  const std::int16_t* q3 = q2 + Length;
  for (int j = 0; j < TrainRows; j += 2) {
    const std::int16_t* t0 = Trains + std::size_t(j) * std::size_t(Length);
    const std::int16_t* t1 = t0 + Length;
    std::int32_t s00 = 0, s01 = 0, s10 = 0, s11 = 0, s20 = 0, s21 = 0, s30 = 0, s31 = 0;
    for (int e = 0; e < Length; ++e) {
      s00 += q0[e] * t0[e];
      s10 += q1[e] * t0[e];
      s20 += q2[e] * t0[e];
      s30 += q3[e] * t0[e];
      s01 += q0[e] * t1[e];
      s11 += q1[e] * t1[e];
      s21 += q2[e] * t1[e];
      s31 += q3[e] * t1[e];
    }
    std::int32_t* o = Out + j;
    o[0] = s00;
    o[1] = s01;
    o[TrainRows] = s10;
    o[TrainRows + 1] = s11;
    o[2 * TrainRows] = s20;
    o[2 * TrainRows + 1] = s21;
    o[3 * TrainRows] = s30;
    o[3 * TrainRows + 1] = s31;
  }
}

// The train rows in the order DotsOfFourAvx2 reads them: groups of eight rows, value pair after
// value pair.
std::vector<std::int16_t> InEights(const TWholeDescriptors& Train) {
  const std::size_t length = std::size_t(Train.Length);
  std::vector<std::int16_t> eights(Train.Values.size());
  for (std::size_t row = 0; row < Train.Norms.size(); ++row) {
    for (std::size_t e = 0; e < length; ++e) {
      eights[(row / 8 * length * 4 + e / 2 * 8 + row % 8) * 2 + e % 2] =
          Train.Values[row * length + e];
    }
  }
  return eights;
}

// OpenCV's choice of the two nearest, train row after train row: a row goes in when its
// distance (the float square root, as the matcher compares them) is below the second's, in
// front of the first only when below that too, so that ties keep the lower row.
TNearestTwo NearestOf(std::int32_t QueryNorm, const std::int32_t* TrainNorms,
                      const std::int32_t* Dots, int TrainRows) {
  TNearestTwo n;
  n.FirstDistance = n.SecondDistance = std::numeric_limits<float>::max();
  std::int32_t firstSquare = std::numeric_limits<std::int32_t>::max(), secondSquare = firstSquare;
  // A square root is never below that of a smaller or equal square: rows whose square is not
  // below the second's are passed over, a group at a time where none of the group's is.
  constexpr int Group = 8;
  for (int from = 0; from < TrainRows; from += Group) {
    const int to = std::min(from + Group, TrainRows);
    if (to - from == Group) {
      std::int32_t least = std::numeric_limits<std::int32_t>::max();
      for (int j = from; j < from + Group; ++j) {
        least = std::min(least, QueryNorm + TrainNorms[j] - 2 * Dots[j]);
      }
      if (least >= secondSquare) continue;
    }
    for (int j = from; j < to; ++j) {
      const std::int32_t square = QueryNorm + TrainNorms[j] - 2 * Dots[j];
      if (square >= secondSquare) continue;
      const float d = std::sqrt(float(square));
      if (!(d < n.SecondDistance)) continue;
      if (d < n.FirstDistance) {
        n.Second = n.First;
        n.SecondDistance = n.FirstDistance;
        secondSquare = firstSquare;
        n.First = j;
        n.FirstDistance = d;
        firstSquare = square;
      } else {
        n.Second = j;
        n.SecondDistance = d;
        secondSquare = square;
      }
    }
  }
  return n;
}

}  // namespace

std::vector<TNearestTwo> NearestTwo(const float* Query, int QueryRows, const float* Train,
                                    int TrainRows, int Length, TKernels Kernels) {
  std::vector<TNearestTwo> result(std::size_t(std::max(QueryRows, 0)));
  if (QueryRows <= 0 || TrainRows <= 0) return result;
  TWholeDescriptors q, t;
  if (!ToWhole(Query, QueryRows, Length, 4, &q) || !ToWhole(Train, TrainRows, Length, 8, &t)) {
    // Descriptors of another kind: OpenCV's matcher itself.
    std::vector<std::vector<cv::DMatch>> pairs;
    cv::BFMatcher(cv::NORM_L2)
        .knnMatch(cv::Mat(QueryRows, Length, CV_32F, const_cast<float*>(Query)),
                  cv::Mat(TrainRows, Length, CV_32F, const_cast<float*>(Train)), pairs, 2);
    for (std::size_t i = 0; i < pairs.size() && i < result.size(); ++i) {
      TNearestTwo& n = result[i];
      if (pairs[i].size() > 0) {
        n.First = pairs[i][0].trainIdx;
        n.FirstDistance = pairs[i][0].distance;
      }
      if (pairs[i].size() > 1) {
        n.Second = pairs[i][1].trainIdx;
        n.SecondDistance = pairs[i][1].distance;
      }
    }
    return result;
  }
  const bool avx2 = Kernels == TKernels::Best && raster::HasAVX2();
  const std::vector<std::int16_t> eights = avx2 ? InEights(t) : std::vector<std::int16_t>();
  const int length = q.Length;
  const std::size_t trainRows = t.Norms.size();  // a multiple of 8
  // Four query rows at a time against all train rows; then each query row's two nearest from
  // its row of dot products.
  raster::ForRows(0, (QueryRows + 3) / 4, std::int64_t(trainRows) * length * 4,
                  [&](std::int32_t First, std::int32_t Last) {
                    std::vector<std::int32_t> dots(trainRows * 4);
                    for (int block = First; block < Last; ++block) {
                      const std::size_t i = std::size_t(block) * 4;
                      const std::int16_t* queries = q.Values.data() + i * std::size_t(length);
                      if (avx2) {
                        DotsOfFourAvx2(queries, eights.data(), int(trainRows), length, dots.data());
                      } else {
                        DotsOfFour(queries, t.Values.data(), int(trainRows), length, dots.data());
                      }
                      for (std::size_t k = 0; k < 4 && i + k < std::size_t(QueryRows); ++k) {
                        result[i + k] = NearestOf(q.Norms[i + k], t.Norms.data(),
                                                  dots.data() + k * trainRows, TrainRows);
                      }
                    }
                  });
  return result;
}

}  // namespace overlay
