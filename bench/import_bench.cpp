// Picture import of a 24-megapixel JPEG: the import's route into a TBitmap32 with FreeImage in
// this process, against FreeImage's decoding alone, which the import cannot avoid (the
// difference is what the conversion adds on top of decoding); and the program's route through
// the decoder process, against the in-process one (the difference is what the isolation
// costs: the process, the shared memory, the copy into the bitmap).
#include <FreeImage.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench_pictures.h"
#include "bench/registry.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/decode/picture_import.h"
#include "raster/core.h"
#include "raster/cpu.h"

namespace bench {
namespace {

// The temporary folder as the programs choose it: TEMP, else TMPDIR, else /tmp.
std::filesystem::path TemporaryFolder() {
  for (const char* Name : {"TEMP", "TMPDIR"})
    if (const char* Value = std::getenv(Name); Value != nullptr && *Value != '\0') return Value;
  return "/tmp";
}

// A baseline JPEG of a photo-like 24-bit picture, written once per process into a folder of
// its own and removed with the folder at exit.
class JpegFile {
 public:
  explicit JpegFile(std::uint32_t Seed) {
    std::string Pattern = (TemporaryFolder() / "raster_bench.XXXXXX").string();
    if (mkdtemp(Pattern.data()) == nullptr) return;
    FFolder = Pattern;
    const std::filesystem::path Path = FFolder / "photo_6000x4000.jpg";

    std::vector<raster::TColor32> Pixels(std::size_t(PictureWidth) * PictureHeight);
    FillPhotoLike(Pixels.data(), PictureWidth, PictureHeight, PictureWidth, Seed);
    FIBITMAP* Dib = FreeImage_Allocate(PictureWidth, PictureHeight, 24);
    if (Dib == nullptr) return;
    for (int Y = 0; Y < PictureHeight; ++Y) {
      // FreeImage keeps the bottom row first.
      BYTE* Row = FreeImage_GetScanLine(Dib, PictureHeight - 1 - Y);
      const raster::TColor32* Source = &Pixels[std::size_t(Y) * PictureWidth];
      for (int X = 0; X < PictureWidth; ++X, Row += 3) {
        Row[FI_RGBA_RED] = BYTE(raster::RedComponent(Source[X]));
        Row[FI_RGBA_GREEN] = BYTE(raster::GreenComponent(Source[X]));
        Row[FI_RGBA_BLUE] = BYTE(raster::BlueComponent(Source[X]));
      }
    }
    if (FreeImage_Save(FIF_JPEG, Dib, Path.c_str(), JPEG_QUALITYGOOD)) FPath = Path.string();
    FreeImage_Unload(Dib);
  }
  ~JpegFile() {
    std::error_code Ignored;
    if (!FFolder.empty()) std::filesystem::remove_all(FFolder, Ignored);
  }
  JpegFile(const JpegFile&) = delete;
  JpegFile& operator=(const JpegFile&) = delete;

  // Empty when the file could not be written.
  const std::string& Path() const { return FPath; }

 private:
  std::filesystem::path FFolder;
  std::string FPath;
};

}  // namespace

const std::string& JpegPath() {
  static const JpegFile File(0x5EED0003u);
  return File.Path();
}

const std::string& SecondJpegPath() {
  static const JpegFile File(0x5EED0004u);
  return File.Path();
}

namespace {

using TImport = overlay::TPictureResult (*)(const std::string&);

void Import(benchmark::State& State, int EngineThreads, TImport Load) {
  // The import splits its conversion over the engine's threads; the plain name runs one, so it
  // compares with FreeImage's single-threaded decoder.
  raster::SetRasterThreadCount(EngineThreads);
  const std::string& Path = JpegPath();
  if (Path.empty()) {
    State.SkipWithError("could not write the test JPEG");
    return;
  }
  for (auto _ : State) {
    std::unique_ptr<raster::TBitmap32> Picture = Load(Path).Value();
    if (!Picture || Picture->Width() != PictureWidth || Picture->Height() != PictureHeight) {
      State.SkipWithError("LoadPicture did not return the 6000 x 4000 picture");
      break;
    }
    benchmark::DoNotOptimize(Picture->PixelBuffer());
  }
}

void BM_ImportJpeg24MP(benchmark::State& State, int EngineThreads) {
  Import(State, EngineThreads, &overlay::LoadPictureInProcess);
}

// Wall clock: the decoder process's work does not show in this thread's CPU time. The decoder
// for the first iteration is started before the timing, as a program starts it at its start.
void BM_ImportJpeg24MP_Isolated(benchmark::State& State, int EngineThreads) {
  overlay::StartDecoderInAdvance();
  Import(State, EngineThreads, &overlay::LoadPicture);
}

void BM_FreeImageLoadOnly(benchmark::State& State) {
  const std::string& Path = JpegPath();
  if (Path.empty()) {
    State.SkipWithError("could not write the test JPEG");
    return;
  }
  for (auto _ : State) {
    FIBITMAP* Dib = FreeImage_Load(FIF_JPEG, Path.c_str(), 0);
    if (Dib == nullptr) {
      State.SkipWithError("FreeImage could not decode the test JPEG");
      break;
    }
    benchmark::DoNotOptimize(FreeImage_GetBits(Dib));
    FreeImage_Unload(Dib);
  }
}

}  // namespace

void RegisterImportBenchmarks() {
  // Wall clock for both, so that their ratio compares like with like.
  benchmark::RegisterBenchmark("BM_ImportJpeg24MP", BM_ImportJpeg24MP, 1)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_ImportJpeg24MP_Isolated", BM_ImportJpeg24MP_Isolated, 1)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_FreeImageLoadOnly", BM_FreeImageLoadOnly)
      ->Unit(benchmark::kMillisecond);
  // Wall clock: the helper threads' work does not show in the calling thread's CPU time.
  benchmark::RegisterBenchmark("BM_ImportJpeg24MP/engine_threads:2", BM_ImportJpeg24MP, 2)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace bench
