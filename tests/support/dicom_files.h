// DICOM files that tests make for themselves: written with DCMTK's dcmdata, or made from a BMP by
// DCMTK's own tools (img2dcm, dcmodify, dcmcjpeg), so that the import meets files it did not make.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfilefo.h"
#include "dcmtk/dcmdata/dcuid.h"
#include "raster/core.h"

namespace testsupport {

// Runs a DICOM tool; its arguments are a test's own paths and values (no quotes in them).
inline void RunDicomTool(const std::string& CommandLine) {
  if (std::system((CommandLine + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + CommandLine);
  }
}

// Picture as a 24-bit, bottom-up BMP (the form img2dcm reads).
inline void WriteBmp24(const raster::TBitmap32& Picture, const std::string& Path) {
  const std::uint32_t w = std::uint32_t(Picture.Width()), h = std::uint32_t(Picture.Height());
  const std::uint32_t pitch = (w * 3 + 3) & ~3u, size = 54 + pitch * h;
  std::vector<std::uint8_t> out(size, 0);
  const auto put = [&](std::size_t At, std::uint32_t V, int Bytes) {
    for (int i = 0; i < Bytes; ++i) out[At + std::size_t(i)] = std::uint8_t(V >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, w, 4);
  put(22, h, 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (std::uint32_t y = 0; y < h; ++y) {
    std::uint8_t* row = out.data() + 54 + std::size_t(h - 1 - y) * pitch;
    for (std::uint32_t x = 0; x < w; ++x) {
      const raster::TColor32 c = Picture.GetPixel(int(x), int(y));
      row[3 * x] = std::uint8_t(c);
      row[3 * x + 1] = std::uint8_t(c >> 8);
      row[3 * x + 2] = std::uint8_t(c >> 16);
    }
  }
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), size);
}

// An uncompressed RGB Secondary Capture of Picture made by img2dcm, with Pixel Spacing
// (rows\columns, e.g. "0.05\\0.05") and Study Instance UID set by dcmodify.
inline void MakeDicomWithTools(const raster::TBitmap32& Picture, const std::string& Path,
                               const std::string& Spacing, const std::string& StudyUid) {
  const std::string bmp = Path + ".bmp";
  WriteBmp24(Picture, bmp);
  RunDicomTool("img2dcm -i BMP " + bmp + " " + Path);
  RunDicomTool("dcmodify -nb -i \"(0028,0030)=" + Spacing + "\" -m \"(0020,000D)=" + StudyUid +
               "\" " + Path);
  std::remove(bmp.c_str());
}

// What a file written by WriteDicom holds.
struct TDicomSpec {
  std::uint16_t Width = 0, Height = 0;
  std::string Photometric = "MONOCHROME2";  // or MONOCHROME1, RGB
  std::uint16_t BitsStored = 8;             // 8, or up to 16 in 16 allocated
  std::uint32_t Frames = 1;
  // Frame after frame, row after row; one sample per pixel, or R, G, B; 16-bit samples for
  // more than 8 bits stored.
  std::vector<std::uint16_t> Samples;
  std::string WindowCenter, WindowWidth;  // none when empty
};

// Writes Spec as an uncompressed (explicit little endian) Secondary Capture.
inline void WriteDicom(const TDicomSpec& Spec, const std::string& Path) {
  DcmFileFormat file;
  DcmDataset& d = *file.getDataset();
  char uid[100];
  const bool rgb = Spec.Photometric == "RGB";
  const std::uint16_t allocated = Spec.BitsStored > 8 ? 16 : 8;
  bool ok = d.putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage).good() &&
            d.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid)).good() &&
            d.putAndInsertString(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid)).good() &&
            d.putAndInsertUint16(DCM_Rows, Spec.Height).good() &&
            d.putAndInsertUint16(DCM_Columns, Spec.Width).good() &&
            d.putAndInsertUint16(DCM_SamplesPerPixel, rgb ? 3 : 1).good() &&
            d.putAndInsertString(DCM_PhotometricInterpretation, Spec.Photometric.c_str()).good() &&
            d.putAndInsertUint16(DCM_BitsAllocated, allocated).good() &&
            d.putAndInsertUint16(DCM_BitsStored, Spec.BitsStored).good() &&
            d.putAndInsertUint16(DCM_HighBit, std::uint16_t(Spec.BitsStored - 1)).good() &&
            d.putAndInsertUint16(DCM_PixelRepresentation, 0).good() &&
            d.putAndInsertString(DCM_NumberOfFrames, std::to_string(Spec.Frames).c_str()).good();
  if (rgb) ok = ok && d.putAndInsertUint16(DCM_PlanarConfiguration, 0).good();
  if (!Spec.WindowCenter.empty()) {
    ok = ok && d.putAndInsertString(DCM_WindowCenter, Spec.WindowCenter.c_str()).good() &&
         d.putAndInsertString(DCM_WindowWidth, Spec.WindowWidth.c_str()).good();
  }
  if (allocated == 8) {
    const std::vector<Uint8> bytes(Spec.Samples.begin(), Spec.Samples.end());
    ok = ok && d.putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size()).good();
  } else {
    ok = ok &&
         d.putAndInsertUint16Array(DCM_PixelData, Spec.Samples.data(), Spec.Samples.size()).good();
  }
  if (!ok || file.saveFile(Path.c_str(), EXS_LittleEndianExplicit).bad()) {
    throw std::runtime_error("cannot write " + Path);
  }
}

}  // namespace testsupport
