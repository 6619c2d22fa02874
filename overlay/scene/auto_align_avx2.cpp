// The inner loops of the alignment's reduction and matcher compiled for AVX2: the same code as
// the portable copies in auto_align.cpp (auto_align_p.h), eight or sixteen lanes a step. The
// grey bytes are integer arithmetic, the weighting the same two float steps per pixel (no fused
// multiply-add: this file is compiled with -mavx2 and -ffp-contract=off), the dot products
// integer sums: each result is the portable one to the bit. Called only when raster::HasAVX2().
#include "overlay/scene/auto_align_p.h"

namespace overlay {

void GreyRowAvx2(const std::uint8_t* Bgra, std::uint8_t* Grey, int Count) {
  alignloops::GreyRow(Bgra, Grey, Count);
}

void WeighDownAvx2(const std::uint8_t* Grey, float Weight, bool First, float* Down, int Count) {
  alignloops::WeighDown(Grey, Weight, First, Down, Count);
}

void DotsOfFourAvx2(const std::int16_t* Queries, const std::int16_t* Trains, int TrainRows,
                    int Length, std::int32_t* Out) {
  alignloops::DotsOfFour(Queries, Trains, TrainRows, Length, Out);
}

}  // namespace overlay
