#include "overlay/align/auto_align.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <numbers>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "controls/rot_layer.h"
#include "overlay/align/auto_align_p.h"
#include "overlay/base/texts.h"
#include "raster/cpu.h"
#include "raster/row_pool.h"

namespace overlay {

namespace {

constexpr double Pi = std::numbers::pi;

double StretchFactor(int Loaded, int Zoomed) {
  return OverlayStretchFactor(Loaded, Zoomed);
}

// Points of picture 2 on a grid, kept where the fit lays them on picture 1: the overlap over
// which a placement is judged.
constexpr int OverlapGrid = 33;
constexpr int MinOverlapPoints = 12;

struct TSample {
  double X2, Y2, X1, Y1;  // a point of picture 2 and where the fit puts it
};

std::vector<TSample> OverlapSamples(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                                    int Height2) {
  std::vector<TSample> samples;
  for (int j = 0; j < OverlapGrid; ++j) {
    for (int i = 0; i < OverlapGrid; ++i) {
      TSample s{};
      s.X2 = (Width2 - 1) * double(i) / (OverlapGrid - 1);
      s.Y2 = (Height2 - 1) * double(j) / (OverlapGrid - 1);
      Fit.Map(s.X2, s.Y2, &s.X1, &s.Y1);
      if (s.X1 >= -0.5 && s.X1 <= Width1 - 0.5 && s.Y1 >= -0.5 && s.Y1 <= Height1 - 0.5) {
        samples.push_back(s);
      }
    }
  }
  return samples;
}

double Milliseconds(std::chrono::steady_clock::time_point Since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Since)
      .count();
}

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

namespace {

// A reduced grey copy for the detector, and how its pixels map back.
struct TReduced {
  cv::Mat Grey;
  double ScaleX = 1, ScaleY = 1;  // reduced pixels per full-size pixel
  void ToFull(const cv::Point2f& P, double* X, double* Y) const {
    // Area reduction keeps the pixel areas aligned: a reduced centre (i + 0.5) / scale - 0.5.
    *X = (P.x + 0.5) / ScaleX - 0.5;
    *Y = (P.y + 0.5) / ScaleY - 0.5;
  }
};

TReduced Reduce(const raster::TBitmap32& Picture, int LongestSide) {
  TReduced r;
  const int w = Picture.Width(), h = Picture.Height();
  const int longest = std::max(w, h);
  if (longest <= LongestSide) {
    r.Grey.create(h, w, CV_8U);
    ReduceToGrey(Picture, w, h, r.Grey.data);
    return r;
  }
  const double f = double(LongestSide) / longest;
  const int rw = std::max(1, int(std::lround(w * f))), rh = std::max(1, int(std::lround(h * f)));
  r.Grey.create(rh, rw, CV_8U);
  ReduceToGrey(Picture, rw, rh, r.Grey.data);
  r.ScaleX = double(rw) / w;
  r.ScaleY = double(rh) / h;
  return r;
}

struct TFeatures {
  std::vector<cv::KeyPoint> Points;
  cv::Mat Descriptors;
};

TFeatures Detect(const cv::Mat& Grey, int MaxFeatures) {
  TFeatures f;
  cv::Ptr<cv::SIFT> sift = cv::SIFT::create(MaxFeatures);
  sift->detectAndCompute(Grey, cv::noArray(), f.Points, f.Descriptors);
  return f;
}

// Runs Work for both pictures at once: the second on the engine's pool thread, whose heap keeps
// the detector's memory from one alignment to the next (a new thread each time would map it
// afresh). One after the other on the calling thread where the pool is busy or has no second
// thread.
template <typename TWork>
void ForBoth(TWork Work) {
  // Far above the pool's threshold for waking a thread: a picture is a lot of work.
  constexpr std::int64_t WorkPerPicture = std::int64_t(1) << 30;
  raster::ForRows(0, 2, WorkPerPicture, [&](std::int32_t First, std::int32_t Last) {
    for (int i = First; i < Last; ++i) Work(i);
  });
}

}  // namespace

struct TAlignmentJob::TData {
  TAutoAlignOptions Options;
  raster::TFloatPoint Center;
  int W1 = 0, H1 = 0, W2 = 0, H2 = 0;
  TReduced Reduced[2];
  bool Usable = false;
  TAutoAlignResult Result;
};

TAlignmentJob::TAlignmentJob(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                             raster::TFloatPoint Center, const TAutoAlignOptions& Options)
    : F(std::make_unique<TData>()) {
  F->Options = Options;
  F->Center = Center;
  if (Picture1.Empty() || Picture2.Empty()) return;
  F->W1 = Picture1.Width();
  F->H1 = Picture1.Height();
  F->W2 = Picture2.Width();
  F->H2 = Picture2.Height();
  const auto start = std::chrono::steady_clock::now();
  try {
    // One picture after the other, each spread over the engine's threads.
    for (int i = 0; i < 2; ++i) {
      F->Reduced[i] = Reduce(i == 0 ? Picture1 : Picture2, Options.LongestSide);
    }
    F->Usable = true;
  } catch (const std::exception&) {
    // OpenCV reports its own failures (memory among them) as exceptions: no alignment.
    F->Result.Failure = TAlignFailure::Failed;
  }
  F->Result.Times.Reduction = Milliseconds(start);
}

TAlignmentJob::~TAlignmentJob() = default;

TAutoAlignResult TAlignmentJob::Run() {
  TAutoAlignResult& result = F->Result;
  if (!F->Usable) return result;
  F->Usable = false;
  try {
    const TAutoAlignOptions& options = F->Options;
    const TReduced& r1 = F->Reduced[0];
    const TReduced& r2 = F->Reduced[1];
    auto start = std::chrono::steady_clock::now();
    TFeatures features[2];
    // Both pictures at once: the detector builds its scale pyramid on one core and spreads
    // only the later steps over the others, so one picture alone leaves a core idle.
    ForBoth([&](int I) { features[I] = Detect(F->Reduced[I].Grey, options.MaxFeatures); });
    const TFeatures& f1 = features[0];
    const TFeatures& f2 = features[1];
    result.Times.Detection = Milliseconds(start);

    start = std::chrono::steady_clock::now();
    std::vector<cv::Point2f> from, to;  // picture 2, picture 1, at full size
    if (f1.Points.size() >= 2 && f2.Points.size() >= 2) {
      // SIFT's descriptors: a row of floats for each point, the rows one after the other.
      for (const TFeatures& f : features) {
        CV_Assert(f.Descriptors.type() == CV_32F && f.Descriptors.isContinuous() &&
                  f.Descriptors.rows == int(f.Points.size()));
      }
      const std::vector<TNearestTwo> nearest =
          NearestTwo(f2.Descriptors.ptr<float>(), f2.Descriptors.rows, f1.Descriptors.ptr<float>(),
                     f1.Descriptors.rows, f1.Descriptors.cols);
      for (std::size_t i = 0; i < nearest.size(); ++i) {
        const TNearestTwo& n = nearest[i];
        if (n.Second < 0 || !(n.FirstDistance < options.RatioTest * n.SecondDistance)) continue;
        double x2, y2, x1, y1;
        r2.ToFull(f2.Points[i].pt, &x2, &y2);
        r1.ToFull(f1.Points[std::size_t(n.First)].pt, &x1, &y1);
        from.emplace_back(float(x2), float(y2));
        to.emplace_back(float(x1), float(y1));
      }
    }
    result.Matches = int(from.size());
    result.Times.Matching = Milliseconds(start);

    start = std::chrono::steady_clock::now();
    if (result.Matches < options.MinInliers) {
      result.Times.Fit = Milliseconds(start);
      return result;
    }
    // Three reduced pixels of picture 1, as full-size pixels.
    const double threshold = 3.0 / std::min(r1.ScaleX, r1.ScaleY);
    std::vector<unsigned char> inliers;
    const cv::Mat m =
        cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, threshold, 5000, 0.999, 20);
    result.Times.Fit = Milliseconds(start);
    result.Failure = TAlignFailure::Inconsistent;
    if (m.empty()) return result;
    result.Inliers = int(std::count(inliers.begin(), inliers.end(), 1));
    result.Fit.A = m.at<double>(0, 0);
    result.Fit.B = m.at<double>(1, 0);
    result.Fit.Tx = m.at<double>(0, 2);
    result.Fit.Ty = m.at<double>(1, 2);
    if (result.Inliers < options.MinInliers ||
        result.Inliers < options.MinInlierShare * result.Matches) {
      return result;
    }
    // What the overlay can show, whatever the sliders' ranges: the window places it precisely.
    const double scale = result.Fit.Scale();
    result.Precise = PreciseFit(result.Fit, F->W2, F->H2);
    if (!(scale >= MinPlacementZoom && scale <= MaxPlacementZoom)) {
      result.Failure = TAlignFailure::ZoomOutside;
      return result;
    }
    if (!PlacementFits(result.Precise, F->W2, F->H2)) {
      result.Failure = TAlignFailure::TooLarge;
      return result;
    }
    result.Failure =
        NearestPlacement(result.Fit, F->W1, F->H1, F->W2, F->H2, F->Center, &result.Nearest);
    // Far beyond any picture is no overlap either; PlacementFault says what is held at all.
    if (result.Reliable() && PlacementFault(result.Precise)) {
      result.Failure = TAlignFailure::NoOverlap;
    }
    if (result.Reliable()) {
      const std::vector<TSample> samples = OverlapSamples(result.Fit, F->W1, F->H1, F->W2, F->H2);
      double sum = 0;
      for (const TSample& t : samples) {
        double x1, y1;
        PreciseMapping(result.Precise, F->W2, F->H2, t.X2, t.Y2, &x1, &y1);
        sum += (x1 - t.X1) * (x1 - t.X1) + (y1 - t.Y1) * (y1 - t.Y1);
      }
      result.PreciseResidual = std::sqrt(sum / double(samples.size()));
    }
  } catch (const std::exception&) {
    result.Failure = TAlignFailure::Failed;
  }
  return result;
}

double TSimilarity::Scale() const {
  return std::hypot(A, B);
}

double TSimilarity::AngleDegrees() const {
  // The fit turns by atan2(B, A) in Y-down coordinates, which is clockwise on the screen.
  return -std::atan2(B, A) * 180 / Pi;
}

void TSimilarity::Map(double X2, double Y2, double* X1, double* Y1) const {
  *X1 = A * X2 - B * Y2 + Tx;
  *Y1 = B * X2 + A * Y2 + Ty;
}

void PlacementMapping(const TPlacement& Placement, int Width2, int Height2,
                      raster::TFloatPoint Center, double X2, double Y2, double* X1, double* Y1) {
  const raster::TSize zoomed =
      OverlayZoomSize(Width2, Height2, OverlayZoomFactor(Placement.OverlayZoom));
  const double bx = X2 * StretchFactor(Width2, zoomed.cx);
  const double by = Y2 * StretchFactor(Height2, zoomed.cy);
  // The rotation layer's own matrix, so that the fit judges exactly where the view draws.
  raster::TAffineTransformation t;
  raster::SetRotLayerPlacement(
      t, Center, float(Placement.Angle),
      OverlayPosition(Placement.OffsetX, Placement.OffsetY, Width2, Height2));
  const raster::TFloatMatrix& m = t.Matrix;
  *X1 = m[0][0] * bx + m[1][0] * by + m[2][0];
  *Y1 = m[0][1] * bx + m[1][1] * by + m[2][1];
}

TPrecisePlacement PreciseFit(const TSimilarity& Fit, int Width2, int Height2) {
  const raster::TFloatPoint middle{float(Width2 / 2), float(Height2 / 2)};
  double x1, y1;
  Fit.Map(middle.X, middle.Y, &x1, &y1);
  return PlacementThrough(Fit.AngleDegrees(), float(Fit.Scale()), Width2, Height2,
                          {float(x1), float(y1)}, middle);
}

TAlignFailure NearestPlacement(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                               int Height2, raster::TFloatPoint Center, TPlacementFit* Out) {
  if (Width1 <= 0 || Height1 <= 0 || Width2 <= 0 || Height2 <= 0 || !(Fit.Scale() > 0)) {
    return TAlignFailure::NoOverlap;
  }
  const std::vector<TSample> samples = OverlapSamples(Fit, Width1, Height1, Width2, Height2);
  if (samples.size() < std::size_t(MinOverlapPoints)) return TAlignFailure::NoOverlap;

  // The zoom steps and degrees around the fit's; for each pair the best shift in whole pixels
  // is the rounded mean of what remains, as the distance is a sum of squares in X and in Y.
  const double zoom = std::log10(Fit.Scale()) * 1000;
  const double angle = Fit.AngleDegrees();
  if (!std::isfinite(zoom) || !std::isfinite(angle)) return TAlignFailure::ZoomOutside;
  const int z0 = int(std::floor(zoom)), a0 = int(std::floor(angle));
  bool found = false;
  TPlacementFit best;
  double bestApart = 0;
  std::vector<double> dx(samples.size()), dy(samples.size());
  // Beyond the zoom slider's range, its end (once); beyond the offsets', theirs.
  const int zFirst = std::clamp(z0 - 1, OverlayZoomSlider.Min, OverlayZoomSlider.Max);
  const int zLast = std::clamp(z0 + 2, OverlayZoomSlider.Min, OverlayZoomSlider.Max);
  for (int z = zFirst; z <= zLast; ++z) {
    for (int a = a0 - 1; a <= a0 + 2; ++a) {
      TPlacement p;
      p.OverlayZoom = z;
      p.Angle = a > 180 ? a - 360 : a < -180 ? a + 360 : a;
      double sumX = 0, sumY = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        double x1, y1;
        PlacementMapping(p, Width2, Height2, Center, samples[i].X2, samples[i].Y2, &x1, &y1);
        dx[i] = samples[i].X1 - x1;
        dy[i] = samples[i].Y1 - y1;
        sumX += dx[i];
        sumY += dy[i];
      }
      // The sum of squares is one in X and one in Y: the clamped rounded mean is the best
      // whole shift within each range.
      const double ox = std::clamp(std::round(sumX / double(samples.size())),
                                   double(OffsetXSlider.Min), double(OffsetXSlider.Max));
      const double oy = std::clamp(std::round(sumY / double(samples.size())),
                                   double(OffsetYSlider.Min), double(OffsetYSlider.Max));
      if (!std::isfinite(ox) || !std::isfinite(oy)) continue;
      p.OffsetX = int(ox);
      p.OffsetY = int(oy);
      double sum = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += (dx[i] - ox) * (dx[i] - ox) + (dy[i] - oy) * (dy[i] - oy);
      }
      const double residual = std::sqrt(sum / double(samples.size()));
      // Zoom steps a truncated size cannot tell apart map alike; of those the nearer step to
      // the fit's is taken.
      const double apart = std::abs(z - zoom) + std::abs(a - angle);
      if (!found || residual < best.Residual - 1e-9 ||
          (residual <= best.Residual + 1e-9 && apart < bestApart)) {
        best = {p, residual};
        bestApart = apart;
        found = true;
      }
    }
  }
  if (!found) return TAlignFailure::NoOverlap;
  *Out = best;
  return TAlignFailure::None;
}

TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           raster::TFloatPoint Center, const TAutoAlignOptions& Options) {
  return TAlignmentJob(Picture1, Picture2, Center, Options).Run();
}

TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           const TAutoAlignOptions& Options) {
  return AutoAlign(Picture1, Picture2, {float(Picture2.Width() / 2), float(Picture2.Height() / 2)},
                   Options);
}

std::string AlignFailureReason(const TAutoAlignResult& Result, const TAutoAlignOptions& Options) {
  const std::string matches = std::to_string(Result.Matches);
  switch (Result.Failure) {
    case TAlignFailure::None:
      return {};
    case TAlignFailure::TooFewMatches:
      return "only " + matches + " matches, at least " + std::to_string(Options.MinInliers) +
             " needed";
    case TAlignFailure::Inconsistent:
      return "only " + std::to_string(Result.Inliers) + " of " + matches +
             " matches consistent with one fit";
    case TAlignFailure::NoOverlap:
      return "the fit lays picture 2 beside picture 1";
    case TAlignFailure::ZoomOutside:
      return "the fit's zoom " + FormatFixed(Result.Fit.Scale(), 4) + " lies outside " +
             FormatFixed(MinPlacementZoom, 2) + ".." + FormatFixed(MaxPlacementZoom, 0);
    case TAlignFailure::TooLarge:
      return "picture 2 at the fit's zoom " + FormatFixed(Result.Fit.Scale(), 4) +
             " would be too large";
    case TAlignFailure::Failed:
      return "the computation failed (out of memory?)";
  }
  return {};
}

std::string AlignRefusalText(const TAutoAlignResult& Result, std::string_view DecimalSeparator,
                             const TAutoAlignOptions& Options) {
  const std::string matches = std::to_string(Result.Matches);
  const std::string zoom = FormatDecimal(Result.Fit.Scale(), 4, DecimalSeparator);
  std::string reason;
  switch (Result.Failure) {
    case TAlignFailure::None:
      return {};
    case TAlignFailure::TooFewMatches:
      reason = Tr(AlignTooFewMatchesText, matches, std::to_string(Options.MinInliers));
      break;
    case TAlignFailure::Inconsistent:
      reason = Tr(AlignInconsistentText, std::to_string(Result.Inliers), matches);
      break;
    case TAlignFailure::NoOverlap:
      reason = Tr(AlignNoOverlapText);
      break;
    case TAlignFailure::ZoomOutside:
      reason = Tr(AlignZoomOutsideText, zoom,
                  FormatDecimal(MinPlacementZoom, 2, DecimalSeparator) + " .. " +
                      FormatDecimal(MaxPlacementZoom, 0, DecimalSeparator));
      break;
    case TAlignFailure::TooLarge:
      reason = Tr(AlignTooLargeText, zoom);
      break;
    case TAlignFailure::Failed:
      reason = Tr(AlignFailedText);
      break;
  }
  return Tr(NoReliableAlignmentText) + "\n" + reason;
}

}  // namespace overlay
