// Inside the automatic alignment: the two steps it does itself rather than through OpenCV, each
// giving exactly what the OpenCV call it replaces gives, so that the alignment finds the same
// features and matches however its work is split over the threads.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "raster/core.h"

namespace overlay {

// A grey copy of Picture reduced to Width x Height (neither larger than the picture) by area
// averaging: byte for byte what cv::cvtColor(COLOR_BGRA2GRAY) and cv::resize(INTER_AREA) give,
// in one pass over the picture on the engine's threads.
cv::Mat ReduceToGrey(const raster::TBitmap32& Picture, int Width, int Height);

// The nearest and the second nearest row of the train set to a row of the query set.
struct TNearestTwo {
  int First = -1, Second = -1;  // rows of Train; -1 where Train has fewer rows
  float FirstDistance = 0, SecondDistance = 0;
};

// For each row of Query (CV_32F, as many columns as Train), the two nearest rows of Train by
// Euclidean distance: the rows and distances of cv::BFMatcher(NORM_L2).knnMatch(Query, Train,
// 2), ties to the lower row as there, spread over the engine's threads.
std::vector<TNearestTwo> NearestTwo(const cv::Mat& Query, const cv::Mat& Train);

}  // namespace overlay
