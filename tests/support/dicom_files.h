// DICOM files that tests make for themselves: from a crop of the sample photograph by DCMTK's own
// tools (img2dcm, dcmodify), so that the import meets files it did not make, or written with
// dcmdata where no tool makes the case (16 bits, several frames).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfilefo.h"
#include "dcmtk/dcmdata/dcuid.h"
#include "overlay/decode/picture_import.h"
#include "raster/bmp.h"

namespace testsupport {

// Width x Height pixels of the sample photograph from (900, 600), as the import decodes it.
inline std::unique_ptr<raster::TBitmap32> SampleCrop(int Width, int Height) {
  overlay::TPictureResult sample =
      overlay::LoadPicture(std::string(TESSALY_SOURCE_DIR) + "/data/sample/NT96650_pcb_002.JPG");
  if (!sample) throw std::runtime_error(sample.Reason());
  auto crop = std::make_unique<raster::TBitmap32>();
  crop->SetSize(Width, Height);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x)
      crop->SetPixel(x, y, sample.Value()->GetPixel(x + 900, y + 600));
  }
  return crop;
}

// Arguments are a test's own paths and values (no quotes in them).
inline void RunDicomTool(const std::string& CommandLine) {
  if (std::system((CommandLine + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + CommandLine);
  }
}

// An uncompressed RGB Secondary Capture of Picture made by img2dcm from a BMP, with Pixel
// Spacing (rows\columns, "0.05\\0.05") and Study Instance UID set by dcmodify.
inline void MakeDicomWithTools(const raster::TBitmap32& Picture, const std::string& Path,
                               const std::string& Spacing, const std::string& StudyUid) {
  const std::string bmp = Path + ".bmp";
  {
    std::ofstream out(bmp, std::ios::binary);
    raster::bmp::Encode(Picture, out);
  }
  RunDicomTool("img2dcm -i BMP " + bmp + " " + Path);
  RunDicomTool("dcmodify -nb -i \"(0028,0030)=" + Spacing + "\" -m \"(0020,000D)=" + StudyUid +
               "\" " + Path);
  std::remove(bmp.c_str());
}

// Writes an uncompressed Secondary Capture of Width x Height with Photometric ("MONOCHROME2",
// "MONOCHROME1", "RGB"), BitsStored (8, or up to 16 in 16 allocated) and Samples (frame after
// frame, row after row, one per pixel or R, G, B); Extra adds elements (a window, the frames).
inline void WriteDicom(const std::string& Path, std::uint16_t Width, std::uint16_t Height,
                       const std::string& Photometric, int BitsStored,
                       const std::vector<std::uint16_t>& Samples,
                       const std::vector<std::pair<DcmTagKey, std::string>>& Extra = {}) {
  DcmFileFormat file;
  DcmDataset& d = *file.getDataset();
  char uid[100];
  const bool wide = BitsStored > 8;
  std::vector<std::pair<DcmTagKey, std::string>> elements = {
      {DCM_SOPClassUID, UID_SecondaryCaptureImageStorage},
      {DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid)},
      {DCM_Rows, std::to_string(Height)},
      {DCM_Columns, std::to_string(Width)},
      {DCM_SamplesPerPixel, Photometric == "RGB" ? "3" : "1"},
      {DCM_PlanarConfiguration, "0"},
      {DCM_PhotometricInterpretation, Photometric},
      {DCM_BitsAllocated, wide ? "16" : "8"},
      {DCM_BitsStored, std::to_string(BitsStored)},
      {DCM_HighBit, std::to_string(BitsStored - 1)},
      {DCM_PixelRepresentation, "0"}};
  elements.insert(elements.end(), Extra.begin(), Extra.end());
  bool ok = true;
  for (const auto& [tag, value] : elements)
    ok = ok && d.putAndInsertString(tag, value.c_str()).good();
  const std::vector<Uint8> bytes(Samples.begin(), Samples.end());
  ok = ok && (wide ? d.putAndInsertUint16Array(DCM_PixelData, Samples.data(), Samples.size())
                   : d.putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size()))
                 .good();
  if (!ok || file.saveFile(Path.c_str(), EXS_LittleEndianExplicit).bad()) {
    throw std::runtime_error("cannot write " + Path);
  }
}

}  // namespace testsupport
