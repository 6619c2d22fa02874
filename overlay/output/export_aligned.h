// The comparison as pictures for the clinician's files: picture 2 resampled into picture 1's
// frame by the placement (the aligned picture), picture 1 and the aligned picture side by side,
// and their difference, each at picture 1's full resolution, written as PNG, TIFF or JPEG. The
// window's export entries and tessaly-render's export options both come here.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "controls/rot_layer.h"
#include "overlay/comparison/sliders.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/scene/main_controller.h"
#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

enum class TExportKind { Aligned, Side, Difference };

// Picture 2 as Layer (the view's rotation layer) draws it over picture 1 at view zoom 1, opaque,
// into a bitmap of Picture1's size: the layer's own paint, so that every placement, zoom and
// colour match shows exactly as in the view. Alpha 255 where the overlay covers the pixel
// whole, less in the one-pixel band along its edges (which the bilinear sampling blends with
// black), 0 where it does not reach; the colour there is black.
std::unique_ptr<raster::TBitmap32> AlignedPicture(const raster::TBitmap32& Picture1,
                                                  const raster::TRotLayer& Layer);
// The same drawn with Layer itself, its settings put back afterwards, when its bitmap is opaque
// in every pixel (a photograph): no copy of picture 2 beside the result. Else as above.
std::unique_ptr<raster::TBitmap32> AlignedPictureInPlace(const raster::TBitmap32& Picture1,
                                                         raster::TRotLayer& Layer);
// Picture 1 on the left and the aligned picture on the right, twice picture 1's width.
std::unique_ptr<raster::TBitmap32> SideBySidePicture(const raster::TBitmap32& Picture1,
                                                     const raster::TBitmap32& Aligned);
// The per-channel absolute difference of picture 1 and the aligned picture, by the engine's
// difference draw mode (the view's difference view), where the aligned picture covers the pixel
// whole; black elsewhere.
std::unique_ptr<raster::TBitmap32> DifferencePicture(const raster::TBitmap32& Picture1,
                                                     const raster::TBitmap32& Aligned);

// The format that Path's extension names, in any case: .png, .tif or .tiff, .jpg or .jpeg.
std::optional<decoder::TEncodeFormat> ExportFormatOf(const std::string& Path);

// The keyword under which a PNG carries the placement, and the placement as its text:
// "angle=A zoom=Z x=X y=Y", each number the shortest decimal form ("." as the separator) that
// reads back as the very double.
inline constexpr const char* PlacementTextKey = "Placement";
std::string PlacementText(const TPrecisePlacement& Placement);

// The sentences of the export's failures, in the user's language; %1 is the file. A window
// takes ExportTextsOfLanguage(); a command-line tool gives its own English.
struct TExportTexts {
  std::string NothingToExport;  // not both pictures loaded
  std::string UnknownFormat;    // an extension that names no format the export writes
  std::string NotEncoded;       // the decoder process made no file image of the pixels
  std::string NotWritten;       // the file could not be written (the system's reason follows)
};
TExportTexts ExportTextsOfLanguage();

// The largest scale an export writes: ten times it must still be a 32-bit resolution, and no
// camera comes near it; a larger one counts as unknown.
constexpr int MaxExportPp100MM = 1000000;

// What an exported file carries besides its pixels: picture 1's scale in pixels per 100 mm (0:
// unknown) and the placement. Nothing of the original files (no EXIF, no GPS): the files are
// made from pixels only.
struct TExportFacts {
  int Pp100MM = 0;
  std::optional<TPrecisePlacement> Placement;
};
// The encoder's settings for Path: the format by the extension, the scale as the resolution
// (Pp100MM x 10 dots per metre), the placement as the text; none for an unknown extension.
std::optional<TEncodeSettings> ExportSettings(const std::string& Path, const TExportFacts& Facts);

// Encodes Picture by ExportSettings in the decoder process and writes it at Path in one step
// (the file appears whole or not at all), mode 0600, as the patient's photograph it is; a link
// at Path is replaced, never written through. The failure's reason is one of Texts with Path.
platform::TStatus WriteExportPicture(const raster::TBitmap32& Picture, const std::string& Path,
                                     const TExportFacts& Facts, const TExportTexts& Texts);

// The picture of Kind from the controller's two pictures and overlay as the view shows them
// (colour matching included while it is on), written by WriteExportPicture with the placement
// and Pp100MM. Refused before any work when not both pictures are loaded or the extension names
// no format.
platform::TStatus ExportComparison(TMainController& Controller, TExportKind Kind,
                                   const std::string& Path, int Pp100MM, const TExportTexts& Texts);

}  // namespace overlay
