#include "overlay/output/export_aligned.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "overlay/base/texts.h"
#include "platform/file_write.h"
#include "raster/transforms.h"

namespace overlay {

using raster::TBitmap32;
using raster::TColor32;

namespace {

constexpr TColor32 Opaque = 0xFF000000u;

bool Covered(TColor32 C) {
  return (C & Opaque) == Opaque;
}

std::unique_ptr<TBitmap32> NewPicture(std::int32_t Width, std::int32_t Height) {
  auto picture = std::make_unique<TBitmap32>();
  picture->SetSize(Width, Height);  // cleared: black, alpha 0
  return picture;
}

std::string LowerExtension(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  const std::size_t dot = Path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = Path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return extension;
}

std::string ShortestDecimal(double Value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

}  // namespace

std::unique_ptr<TBitmap32> AlignedPicture(const TBitmap32& Picture1,
                                          const raster::TRotLayer& Layer) {
  // A layer of no collection, with the view layer's bitmap and placement: its paint is the
  // view's at zoom 1 with picture 1 at the origin, without the view's mapping.
  raster::TRotLayer layer(nullptr);
  layer.Assign(&Layer);
  layer.SetScaled(false);
  TBitmap32& bitmap = *layer.Bitmap();
  bitmap.SetDrawMode(raster::dmOpaque);
  bitmap.SetMasterAlpha(255);
  bitmap.SetOuterColor(0);
  // Opaque in every pixel, so that the alpha drawn tells how much of a pixel the overlay covers
  // (a picture 2 with transparent parts included). The colour channels are interpolated on
  // their own, so their values do not change.
  const std::int32_t w = bitmap.Width();
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    TColor32* row = bitmap.GetScanLine(y);
    for (std::int32_t x = 0; x < w; ++x) row[x] |= Opaque;
  }
  std::unique_ptr<TBitmap32> aligned = NewPicture(Picture1.Width(), Picture1.Height());
  if (!aligned->Empty() && !bitmap.Empty()) layer.Paint(aligned.get());
  return aligned;
}

std::unique_ptr<TBitmap32> AlignedPictureInPlace(const TBitmap32& Picture1,
                                                 raster::TRotLayer& Layer) {
  TBitmap32& bitmap = *Layer.Bitmap();
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    const TColor32* row = bitmap.GetScanLine(y);
    for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
      if ((row[x] & Opaque) != Opaque) return AlignedPicture(Picture1, Layer);
    }
  }
  // Drawn as AlignedPicture draws its copy: the whole layer, unscaled, opaque, nothing outside;
  // then the layer as it was.
  const raster::TPaintRegion region = Layer.PaintRegion();
  const bool scaled = Layer.Scaled();
  const raster::TDrawMode mode = bitmap.DrawMode();
  const std::uint32_t alpha = bitmap.MasterAlpha();
  const TColor32 outer = bitmap.OuterColor();
  Layer.SetPaintRegion({});
  Layer.SetScaled(false);
  bitmap.SetDrawMode(raster::dmOpaque);
  bitmap.SetMasterAlpha(255);
  bitmap.SetOuterColor(0);
  std::unique_ptr<TBitmap32> aligned = NewPicture(Picture1.Width(), Picture1.Height());
  if (!aligned->Empty() && !bitmap.Empty()) Layer.Paint(aligned.get());
  bitmap.SetOuterColor(outer);
  bitmap.SetMasterAlpha(alpha);
  bitmap.SetDrawMode(mode);
  Layer.SetScaled(scaled);
  Layer.SetPaintRegion(region);
  return aligned;
}

std::unique_ptr<TBitmap32> SideBySidePicture(const TBitmap32& Picture1, const TBitmap32& Aligned) {
  const std::int32_t w = Picture1.Width(), h = Picture1.Height();
  std::unique_ptr<TBitmap32> side = NewPicture(2 * w, h);
  for (std::int32_t y = 0; y < h; ++y) {
    TColor32* row = side->GetScanLine(y);
    std::memcpy(row, Picture1.GetScanLine(y), std::size_t(w) * sizeof(TColor32));
    if (y < Aligned.Height()) {
      std::memcpy(row + w, Aligned.GetScanLine(y),
                  std::size_t(std::min(w, Aligned.Width())) * sizeof(TColor32));
    }
  }
  return side;
}

std::unique_ptr<TBitmap32> DifferencePicture(const TBitmap32& Picture1, const TBitmap32& Aligned) {
  auto difference = std::make_unique<TBitmap32>();
  difference->Assign(&Picture1);
  if (difference->Empty() || Aligned.Empty()) return difference;
  raster::BlockTransfer(difference.get(), 0, 0, &Aligned, Aligned.BoundsRect(),
                        raster::dmDifference, nullptr);
  const std::int32_t w = std::min(difference->Width(), Aligned.Width());
  for (std::int32_t y = 0; y < difference->Height(); ++y) {
    TColor32* row = difference->GetScanLine(y);
    const TColor32* over = y < Aligned.Height() ? Aligned.GetScanLine(y) : nullptr;
    for (std::int32_t x = 0; x < difference->Width(); ++x) {
      // Beyond the overlap there is nothing to compare: black, as where nothing changed.
      if (over == nullptr || x >= w || !Covered(over[x])) row[x] = Opaque;
    }
  }
  return difference;
}

std::optional<decoder::TEncodeFormat> ExportFormatOf(const std::string& Path) {
  const std::string extension = LowerExtension(Path);
  if (extension == "png") return decoder::TEncodeFormat::Png;
  if (extension == "tif" || extension == "tiff") return decoder::TEncodeFormat::Tiff;
  if (extension == "jpg" || extension == "jpeg") return decoder::TEncodeFormat::Jpeg;
  return std::nullopt;
}

std::string PlacementText(const TPrecisePlacement& Placement) {
  return "angle=" + ShortestDecimal(Placement.Angle) + " zoom=" + ShortestDecimal(Placement.Zoom) +
         " x=" + ShortestDecimal(Placement.X) + " y=" + ShortestDecimal(Placement.Y);
}

TExportTexts ExportTextsOfLanguage() {
  return {Tr(ExportNothingText), Tr(ExportUnknownFormatText), Tr(ExportNotEncodedText),
          Tr(ExportNotWrittenText)};
}

std::optional<TEncodeSettings> ExportSettings(const std::string& Path, const TExportFacts& Facts) {
  const std::optional<decoder::TEncodeFormat> format = ExportFormatOf(Path);
  if (!format) return std::nullopt;
  TEncodeSettings settings;
  settings.Format = *format;
  // Pixels per 100 mm, ten times over, are pixels per metre.
  if (Facts.Pp100MM > 0 && Facts.Pp100MM <= MaxExportPp100MM) {
    settings.DotsPerMeterX = settings.DotsPerMeterY = std::uint32_t(Facts.Pp100MM) * 10;
  }
  if (Facts.Placement) {
    settings.TextKey = PlacementTextKey;
    settings.Text = PlacementText(*Facts.Placement);
  }
  return settings;
}

platform::TStatus WriteExportPicture(const TBitmap32& Picture, const std::string& Path,
                                     const TExportFacts& Facts, const TExportTexts& Texts) {
  const std::optional<TEncodeSettings> settings = ExportSettings(Path, Facts);
  if (!settings) return platform::TStatus::Failure(Texts.UnknownFormat + "\n" + Path);
  platform::TResult<std::string> encoded = EncodePictureIsolated(Picture, *settings);
  if (!encoded) return platform::TStatus::Failure(Texts.NotEncoded + "\n" + Path);
  platform::TFileWriteOptions options;
  options.Mode = 0600;
  options.FollowSymlink = false;
  std::string error;
  if (!platform::WriteFileAtomically(Path, encoded.Value(), &error, options)) {
    return platform::TStatus::Failure(Texts.NotWritten + "\n" + Path +
                                      (error.empty() ? "" : "\n" + error));
  }
  return {};
}

platform::TStatus ExportComparison(TMainController& Controller, TExportKind Kind,
                                   const std::string& Path, int Pp100MM,
                                   const TExportTexts& Texts) {
  if (!Controller.ControlsEnabled() || Controller.RotLayer() == nullptr) {
    return platform::TStatus::Failure(Texts.NothingToExport);
  }
  if (!ExportFormatOf(Path)) return platform::TStatus::Failure(Texts.UnknownFormat + "\n" + Path);
  const TBitmap32& picture1 = Controller.ImgView().Bitmap();
  std::unique_ptr<TBitmap32> picture = AlignedPicture(picture1, *Controller.RotLayer());
  if (Kind == TExportKind::Side) picture = SideBySidePicture(picture1, *picture);
  if (Kind == TExportKind::Difference) picture = DifferencePicture(picture1, *picture);
  return WriteExportPicture(*picture, Path, {Pp100MM, Controller.Placement()}, Texts);
}

}  // namespace overlay
