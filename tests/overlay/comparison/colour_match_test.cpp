// Exposure and colour matching on retakes under another lamp: picture 2 is picture 1 through a
// per-channel gain and offset, with noise, JPEG and one changed 40 x 40 spot, rendered as the
// difference view through tessaly-render with and without --match-colours.
#include "overlay/comparison/colour_match.h"

#include <gtest/gtest.h>

#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>

#include "overlay/programs/render_command.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

TEST(ColourMatch, TheMatchedDifferenceShowsTheChangeNotTheLighting) {
  const cv::Mat photo =
      cv::imread(std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG");
  ASSERT_FALSE(photo.empty());
  cv::Mat one;
  cv::resize(photo, one, {600, 400}, 0, 0, cv::INTER_AREA);
  const testsupport::TTempFolder dir("tessaly_colour_match");
  ASSERT_TRUE(cv::imwrite(dir / "one.png", one));
  std::mt19937 random(20261209);
  const auto uniform = [&](double A, double B) {
    return std::uniform_real_distribution<double>(A, B)(random);
  };
  for (int pair = 0; pair < 6; ++pair) {
    SCOPED_TRACE(pair);
    // A lamp that changes each channel clearly: gains 0.7..0.85 or 1.15..1.4, offsets -30..30.
    cv::Mat two(one.size(), CV_8UC3);
    cv::Vec3d gain, offset;
    for (int c = 0; c < 3; ++c) {
      gain[c] = uniform(0, 1) < 0.5 ? uniform(0.7, 0.85) : uniform(1.15, 1.4);
      offset[c] = uniform(-30, 30);
    }
    std::normal_distribution<double> noise(0, 2.5);
    for (int y = 0; y < one.rows; ++y) {
      for (int x = 0; x < one.cols; ++x) {
        for (int c = 0; c < 3; ++c) {
          two.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uchar>(
              one.at<cv::Vec3b>(y, x)[c] * gain[c] + offset[c] + noise(random));
        }
      }
    }
    const cv::Rect spot(int(uniform(40, 520)), int(uniform(40, 320)), 40, 40);
    cv::bitwise_not(two(spot), two(spot));  // what changed on the skin
    ASSERT_TRUE(cv::imwrite(dir / "two.jpg", two, {cv::IMWRITE_JPEG_QUALITY, 90}));

    double rest[2] = {}, changed[2] = {};
    for (int matched = 0; matched < 2; ++matched) {
      std::vector<std::string> args{"--size", "617x417", "--mode", "difference", "--alpha", "255"};
      if (matched) args.push_back("--match-colours");
      for (const char* f : {"one.png", "two.jpg", "diff.png"}) args.push_back(dir / f);
      std::ostringstream out, err;
      ASSERT_EQ(RunRenderCommand(args, out, err), 0) << err.str();
      const cv::Mat diff = cv::imread(dir / "diff.png");
      ASSERT_EQ(diff.size(), one.size());  // the viewport shows picture 1 whole, 1:1
      cv::Mat mask(diff.size(), CV_8U, cv::Scalar(255));
      mask(spot).setTo(0);
      const cv::Scalar r = cv::mean(diff, mask), s = cv::mean(diff(spot));
      rest[matched] = (r[0] + r[1] + r[2]) / 3;
      changed[matched] = (s[0] + s[1] + s[2]) / 3;
    }
    std::cout << "pair " << pair << ": mean difference unmatched " << rest[0] << ", matched "
              << rest[1] << ", changed spot matched " << changed[1] << "\n";
    EXPECT_LE(rest[1], rest[0] / 3) << "unmatched " << rest[0] << ", matched " << rest[1];
    EXPECT_GE(changed[1], 4 * rest[1]) << "spot " << changed[1] << ", rest " << rest[1];
  }
}

}  // namespace
}  // namespace overlay
