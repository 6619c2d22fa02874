#include "bench/bench_pictures.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace bench {

namespace {

// A 32-bit integer hash with good avalanche, so that neighbouring grid points and pixels get
// unrelated values and the pictures do not show patterns that a codec or cache could exploit.
std::uint32_t Mix(std::uint32_t X) {
  X ^= X >> 16;
  X *= 0x7feb352dU;
  X ^= X >> 15;
  X *= 0x846ca68bU;
  X ^= X >> 16;
  return X;
}

std::uint32_t Hash(std::uint32_t A, std::uint32_t B, std::uint32_t C) {
  return Mix(A ^ Mix(B ^ Mix(C)));
}

// One scale of value noise: random colours on a square grid, blended between grid points
// with smoothstep weights (16.16) so that the field has no visible grid lines.
class NoiseOctave {
 public:
  NoiseOctave(int Width, int Height, int Cell, int Amplitude, std::uint32_t Seed)
      : FCell(Cell), FGridWidth(Width / Cell + 2) {
    const int GridHeight = Height / Cell + 2;
    FGrid.resize(std::size_t(FGridWidth) * GridHeight * 3);
    for (int Gy = 0; Gy < GridHeight; ++Gy)
      for (int Gx = 0; Gx < FGridWidth; ++Gx)
        for (int C = 0; C < 3; ++C) {
          const std::uint32_t H = Hash(Seed, std::uint32_t(Gy * FGridWidth + Gx), std::uint32_t(C));
          FGrid[(std::size_t(Gy) * FGridWidth + Gx) * 3 + C] =
              int(H % std::uint32_t(2 * Amplitude + 1)) - Amplitude;
        }
    FWeight.resize(std::size_t(Cell));
    for (int I = 0; I < Cell; ++I) {
      const double T = double(I) / Cell;
      FWeight[std::size_t(I)] = int(T * T * (3 - 2 * T) * 65536.0);
    }
    FColumnCell.resize(std::size_t(Width));
    FColumnWeight.resize(std::size_t(Width));
    for (int X = 0; X < Width; ++X) {
      FColumnCell[std::size_t(X)] = X / Cell;
      FColumnWeight[std::size_t(X)] = FWeight[std::size_t(X % Cell)];
    }
    FRow.resize(std::size_t(FGridWidth) * 3);
  }

  // Interpolates the grid vertically for row Y; Add then interpolates horizontally.
  void PrepareRow(int Y) {
    const int Gy = Y / FCell;
    const std::int64_t Wy = FWeight[std::size_t(Y % FCell)];
    const int* Upper = &FGrid[std::size_t(Gy) * FGridWidth * 3];
    const int* Lower = Upper + std::size_t(FGridWidth) * 3;
    for (int I = 0; I < FGridWidth * 3; ++I)
      FRow[std::size_t(I)] = Upper[I] + int(((Lower[I] - Upper[I]) * Wy) >> 16);
  }

  void Add(int X, int (&Acc)[3]) const {
    const int* Left = &FRow[std::size_t(FColumnCell[std::size_t(X)]) * 3];
    const std::int64_t Wx = FColumnWeight[std::size_t(X)];
    for (int C = 0; C < 3; ++C) Acc[C] += Left[C] + int(((Left[C + 3] - Left[C]) * Wx) >> 16);
  }

 private:
  int FCell;
  int FGridWidth;
  std::vector<int> FGrid;
  std::vector<int> FWeight;
  std::vector<int> FColumnCell;
  std::vector<int> FColumnWeight;
  std::vector<int> FRow;
};

std::unique_ptr<raster::TBitmap32> MakePicture(std::uint32_t Seed) {
  auto Bitmap = std::make_unique<raster::TBitmap32>();
  Bitmap->SetSize(PictureWidth, PictureHeight);
  FillPhotoLike(Bitmap->PixelBuffer(), PictureWidth, PictureHeight, PictureWidth, Seed);
  return Bitmap;
}

}  // namespace

void FillPhotoLike(raster::TColor32* Pixels, int Width, int Height, std::ptrdiff_t Stride,
                   std::uint32_t Seed) {
  // Large soft areas (sky, walls), medium structure (objects) and fine texture (foliage,
  // fabric); amplitudes fall with the scale as in natural images.
  NoiseOctave Octaves[] = {
      {Width, Height, 700, 90, Hash(Seed, 1, 0)},
      {Width, Height, 150, 40, Hash(Seed, 2, 0)},
      {Width, Height, 24, 14, Hash(Seed, 3, 0)},
  };
  // A light fall-off across the frame, different per channel and per seed.
  int Base[3], Slope[3];
  for (int C = 0; C < 3; ++C) {
    Base[C] = 90 + int(Hash(Seed, 4, std::uint32_t(C)) % 60);
    Slope[C] = int(Hash(Seed, 5, std::uint32_t(C)) % 61) - 30;
  }
  const int Span = std::max(1, Width + Height);
  for (int Y = 0; Y < Height; ++Y) {
    for (auto& O : Octaves) O.PrepareRow(Y);
    raster::TColor32* Row = Pixels + std::ptrdiff_t(Y) * Stride;
    for (int X = 0; X < Width; ++X) {
      int Acc[3];
      for (int C = 0; C < 3; ++C) Acc[C] = Base[C] + Slope[C] * (X + Y) / Span;
      for (const auto& O : Octaves) O.Add(X, Acc);
      // Sensor grain: mostly luminance, a little chroma.
      const std::uint32_t H = Hash(Seed, std::uint32_t(Y), std::uint32_t(X));
      const int Luma = int(H >> 28) - 8;
      int Channel[3];
      for (int C = 0; C < 3; ++C)
        Channel[C] = std::clamp(Acc[C] + Luma + int((H >> (8 * C)) & 7) - 3, 0, 255);
      Row[X] = raster::Color32(std::uint8_t(Channel[0]), std::uint8_t(Channel[1]),
                               std::uint8_t(Channel[2]));
    }
  }
}

raster::TBitmap32& Picture1() {
  static const std::unique_ptr<raster::TBitmap32> Picture = MakePicture(0x5EED0001u);
  return *Picture;
}

raster::TBitmap32& Picture2() {
  static const std::unique_ptr<raster::TBitmap32> Picture = MakePicture(0x5EED0002u);
  return *Picture;
}

}  // namespace bench
