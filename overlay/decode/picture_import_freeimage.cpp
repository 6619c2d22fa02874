// The FreeImage side of the picture import: decoding and the conversion into 32-bit pixels.
// It runs in the decoder process, tessaly-decode, where a crash of FreeImage ends that process
// only, and in-process for the tests of the conversion.
#include <FreeImage.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/picture_import.h"
#include "overlay/decode/picture_import_p.h"
#include "raster/cpu.h"
#include "raster/row_pool.h"

namespace overlay {

namespace {

using raster::TColor32;

struct DibDeleter {
  void operator()(FIBITMAP* Dib) const {
    if (Dib != nullptr) FreeImage_Unload(Dib);
  }
};
using DibPtr = std::unique_ptr<FIBITMAP, DibDeleter>;

// The type codes that have a loader; every other code is an unknown format to the program.
bool IsLoadedType(FREE_IMAGE_FORMAT Fif) {
  switch (Fif) {
    case FIF_BMP:
    case FIF_ICO:
    case FIF_JPEG:
    case FIF_KOALA:
    case FIF_PBM:
    case FIF_PCD:
    case FIF_PCX:
    case FIF_PGM:
    case FIF_PNG:
    case FIF_PPM:
    case FIF_RAS:
    case FIF_TARGA:
    case FIF_TIFF:
      return true;
    default:
      return false;
  }
}

bool TooLarge(std::uint64_t Width, std::uint64_t Height) {
  return Width * Height > std::uint64_t(MaxPicturePixels);
}

// One channel of a 16-bit pixel described by FreeImage's mask, scaled so that the mask's
// full value maps to 255, rounded to nearest.
struct Channel {
  unsigned Mask = 0;
  int Shift = 0;
  unsigned Max = 0;
  explicit Channel(unsigned M) : Mask(M) {
    if (M != 0) {
      Shift = std::countr_zero(M);
      Max = M >> Shift;
    }
  }
  std::uint8_t operator()(unsigned Pixel) const {
    if (Max == 0) return 0;
    return std::uint8_t((((Pixel & Mask) >> Shift) * 255u + Max / 2) / Max);
  }
};

void ConvertIndexedRow(const BYTE* Src, unsigned Bpp, unsigned Width,
                       const std::array<TColor32, 256>& Palette, TColor32* Dst) {
  switch (Bpp) {
    case 1:
      for (unsigned x = 0; x < Width; ++x) Dst[x] = Palette[(Src[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    case 4:
      for (unsigned x = 0; x < Width; ++x) {
        Dst[x] = Palette[(x & 1) ? (Src[x >> 1] & 0x0F) : (Src[x >> 1] >> 4)];
      }
      break;
    default:
      for (unsigned x = 0; x < Width; ++x) Dst[x] = Palette[Src[x]];
      break;
  }
}

}  // namespace

namespace detail {

// Four bytes are read at once where a fourth byte belongs to the row (all but the last pixel);
// the spare byte is replaced by the alpha.
void ConvertRow24Scalar(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst) {
  static_assert(FI_RGBA_BLUE == 0 && FI_RGBA_GREEN == 1 && FI_RGBA_RED == 2,
                "FreeImage keeps pixels as B, G, R in memory on this platform");
  if (Width == 0) return;
  const unsigned last = Width - 1;
  for (unsigned x = 0; x < last; ++x) {
    std::uint32_t v;
    std::memcpy(&v, Src + 3 * std::size_t(x), 4);
    Dst[x] = v | 0xFF000000u;
  }
  const std::uint8_t* s = Src + 3 * std::size_t(last);
  Dst[last] = raster::Color32(s[2], s[1], s[0], 255);
}

bool HasSsse3() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("ssse3");
#else
  return false;
#endif
}

TConvertRow24 ConvertRow24() {
  static const TConvertRow24 chosen = [] {
    const char* simd = std::getenv("RASTER_SIMD");
    const bool off = simd != nullptr && std::string(simd) == "off";
    return !off && HasSsse3() ? &ConvertRow24Ssse3 : &ConvertRow24Scalar;
  }();
  return chosen;
}

}  // namespace detail

namespace {

// Reduces pictures that are not 8 bits per channel to a standard FIT_BITMAP: 16-bit grey and
// 48/64-bit colour keep their high bytes, so they look like their 8-bit versions; the other
// numeric types are scaled linearly from their value range. Returns nullptr when FreeImage
// cannot convert the type.
DibPtr ToStandardBitmap(DibPtr Dib) {
  switch (FreeImage_GetImageType(Dib.get())) {
    case FIT_BITMAP:
      return Dib;
    case FIT_UINT16:
      return DibPtr(FreeImage_ConvertTo8Bits(Dib.get()));
    case FIT_RGB16:
    case FIT_RGBF:
      return DibPtr(FreeImage_ConvertTo24Bits(Dib.get()));
    case FIT_RGBA16:
    case FIT_RGBAF:
      return DibPtr(FreeImage_ConvertTo32Bits(Dib.get()));
    default:
      return DibPtr(FreeImage_ConvertToStandardType(Dib.get(), TRUE));
  }
}

}  // namespace

std::string FileExtension(const std::string& Path) {
  const std::size_t slash = Path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return {};
  return Path.substr(dot);
}

namespace detail {

bool Convertible(FIBITMAP* Dib, unsigned* Width, unsigned* Height) {
  if (Dib == nullptr || FreeImage_GetImageType(Dib) != FIT_BITMAP || !FreeImage_HasPixels(Dib)) {
    return false;
  }
  const unsigned width = FreeImage_GetWidth(Dib);
  const unsigned height = FreeImage_GetHeight(Dib);
  const unsigned bpp = FreeImage_GetBPP(Dib);
  if (width == 0 || height == 0 || TooLarge(width, height)) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  *Width = width;
  *Height = height;
  return true;
}

void ConvertDib(FIBITMAP* Dib, TColor32* Dst, std::int32_t First, std::int32_t Last) {
  const unsigned width = FreeImage_GetWidth(Dib);
  const unsigned height = FreeImage_GetHeight(Dib);
  const unsigned bpp = FreeImage_GetBPP(Dib);

  std::array<TColor32, 256> palette;
  if (bpp <= 8) {
    // Indices beyond the palette read as black; a picture without a palette is grey.
    palette.fill(0xFF000000u);
    const RGBQUAD* entries = FreeImage_GetPalette(Dib);
    const unsigned count = std::min(FreeImage_GetColorsUsed(Dib), 1u << bpp);
    if (entries != nullptr) {
      for (unsigned i = 0; i < count; ++i) {
        palette[i] = raster::Color32(entries[i].rgbRed, entries[i].rgbGreen, entries[i].rgbBlue);
      }
    } else {
      const unsigned levels = 1u << bpp;
      for (unsigned i = 0; i < levels; ++i)
        palette[i] = raster::Gray32(std::uint8_t(i * 255 / (levels - 1)));
    }
    // A transparency table (a PNG's tRNS) gives the alpha of the entries it covers, as a 32-bit
    // picture keeps its alpha; the entries beyond it stay opaque.
    const BYTE* alpha = FreeImage_GetTransparencyTable(Dib);
    if (FreeImage_IsTransparent(Dib) && alpha != nullptr) {
      const unsigned covered = std::min(unsigned(FreeImage_GetTransparencyCount(Dib)), 256u);
      for (unsigned i = 0; i < covered; ++i) {
        palette[i] = (palette[i] & 0x00FFFFFFu) | (TColor32(alpha[i]) << 24);
      }
    }
  }
  const Channel red(FreeImage_GetRedMask(Dib)), green(FreeImage_GetGreenMask(Dib)),
      blue(FreeImage_GetBlueMask(Dib));

  const TConvertRow24 convertRow24 = ConvertRow24();
  const auto convertRows = [&](unsigned From, unsigned To) {
    for (unsigned row = From; row < To; ++row) {
      // FreeImage's scan line 0 is the bottom row.
      const BYTE* src = FreeImage_GetScanLine(Dib, int(height - 1 - row));
      TColor32* dst = Dst + std::size_t(row - unsigned(First)) * width;
      switch (bpp) {
        case 32:
          std::memcpy(dst, src, std::size_t(width) * 4);
          break;
        case 24:
          convertRow24(src, width, dst);
          break;
        case 16:
          for (unsigned x = 0; x < width; ++x) {
            const unsigned p = unsigned(src[2 * x]) | (unsigned(src[2 * x + 1]) << 8);
            dst[x] = raster::Color32(red(p), green(p), blue(p));
          }
          break;
        default:
          ConvertIndexedRow(src, bpp, width, palette, dst);
          break;
      }
    }
  };
  // Large pictures are split into bands of rows over the engine's threads: the first writes to
  // fresh memory, not the copying, dominate, and they proceed in parallel. Each band writes its
  // own rows only, so the result does not depend on the split.
  raster::ForRows(First, Last, std::int64_t(width), [&](std::int32_t From, std::int32_t To) {
    convertRows(unsigned(From), unsigned(To));
  });
}

// The EXIF main Orientation tag of a decoded picture: one SHORT of 1..8, else 0.
static int ExifOrientation(FIBITMAP* Dib) {
  FITAG* tag = nullptr;
  if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, Dib, "Orientation", &tag) || tag == nullptr) {
    return 0;
  }
  if (FreeImage_GetTagType(tag) != FIDT_SHORT || FreeImage_GetTagCount(tag) != 1 ||
      FreeImage_GetTagLength(tag) < 2 || FreeImage_GetTagValue(tag) == nullptr) {
    return 0;
  }
  WORD value = 0;
  std::memcpy(&value, FreeImage_GetTagValue(tag), sizeof value);
  return value >= 1 && value <= 8 ? int(value) : 0;
}

// EXIF DateTimeOriginal ("2025:08:12 14:03:05") as 20250812140305; 0 when the file has none
// or it does not read as a real time.
static std::uint64_t ExifDateTaken(FIBITMAP* Dib) {
  FITAG* tag = nullptr;
  if (!FreeImage_GetMetadata(FIMD_EXIF_EXIF, Dib, "DateTimeOriginal", &tag) || tag == nullptr ||
      FreeImage_GetTagType(tag) != FIDT_ASCII || FreeImage_GetTagValue(tag) == nullptr) {
    return 0;
  }
  const char* text = static_cast<const char*>(FreeImage_GetTagValue(tag));
  const std::size_t length = strnlen(text, FreeImage_GetTagLength(tag));
  // "YYYY:MM:DD HH:MM:SS": digits at every place but the separators.
  if (length < 19) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 19; ++i) {
    const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
    if (separator) continue;
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + std::uint64_t(text[i] - '0');
  }
  return decoder::ValidDateTaken(value) ? value : 0;
}

// Whether a TIFF's pixels are JPEG-compressed: the Compression tag (259) of its first image is
// 6 (the old form) or 7. FreeImage does not hand that tag on, so it is read from the file: the
// header, the first directory's entry count and entries, nothing else; classic TIFF and
// BigTIFF, either byte order. Anything that does not read is no JPEG.
static bool JpegInTiff(const std::string& Path) {
  std::ifstream file(Path, std::ios::binary);
  unsigned char header[16] = {};
  if (!file.read(reinterpret_cast<char*>(header), 8)) return false;
  const bool little = header[0] == 'I' && header[1] == 'I';
  if (!little && !(header[0] == 'M' && header[1] == 'M')) return false;
  const auto number = [little](const unsigned char* P, int Bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < Bytes; ++i) {
      v |= std::uint64_t(P[little ? i : Bytes - 1 - i]) << (8 * i);
    }
    return v;
  };
  const std::uint64_t version = number(header + 2, 2);
  if (version != 42 && version != 43) return false;
  const bool big = version == 43;
  if (big && !file.read(reinterpret_cast<char*>(header + 8), 8)) return false;
  const std::uint64_t directory = big ? number(header + 8, 8) : number(header + 4, 4);
  unsigned char count[8] = {};
  if (!file.seekg(std::streamoff(directory)) ||
      !file.read(reinterpret_cast<char*>(count), big ? 8 : 2)) {
    return false;
  }
  // A directory of more entries than TIFF has tags is damaged.
  constexpr std::uint64_t MaxEntries = 4096;
  const std::uint64_t entries = number(count, big ? 8 : 2);
  const int entrySize = big ? 20 : 12;
  for (std::uint64_t k = 0; k < entries && k < MaxEntries; ++k) {
    unsigned char entry[20] = {};
    if (!file.read(reinterpret_cast<char*>(entry), entrySize)) return false;
    if (number(entry, 2) != 259) continue;
    // A SHORT (3) or LONG (4), its value in the entry itself.
    const std::uint64_t type = number(entry + 2, 2);
    const unsigned char* value = entry + (big ? 12 : 8);
    const std::uint64_t compression = type == 3   ? number(value, 2)
                                      : type == 4 ? number(value, 4)
                                                  : 0;
    return compression == 6 || compression == 7;
  }
  return false;
}

// JPEG's lossy compression, by what the source is: a JPEG file (FreeImage found JPEG in its
// contents, or its name has one of JPEG's extensions), or a TIFF of JPEG-compressed pixels.
static TLossyCompression LossyOf(FREE_IMAGE_FORMAT Fif, const std::string& Path) {
  std::string extension = FileExtension(Path);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char C) { return char(std::tolower(C)); });
  const bool jpegName = extension == ".jpg" || extension == ".jpeg" || extension == ".jpe" ||
                        extension == ".jif" || extension == ".jfif";
  const bool jpeg = Fif == FIF_JPEG || jpegName || (Fif == FIF_TIFF && JpegInTiff(Path));
  return jpeg ? TLossyCompression::Jpeg : TLossyCompression::None;
}

TDecodeResult DecodeWithFreeImage(const std::string& Path, const TPixelSink& Sink) {
  const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(FileExtension(Path).c_str());
  if (!IsLoadedType(fif)) return {};

  // Read the header alone first where the plugin can, so that a picture claiming an absurd size
  // is refused before its pixels are decoded.
  if (FreeImage_FIFSupportsNoPixels(fif)) {
    DibPtr header(FreeImage_Load(fif, Path.c_str(), FIF_LOAD_NOPIXELS));
    if (header != nullptr &&
        TooLarge(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()))) {
      return {TDecodeStatus::TooLarge, FreeImage_GetWidth(header.get()),
              FreeImage_GetHeight(header.get())};
    }
  }

  DibPtr dib(FreeImage_Load(fif, Path.c_str(), 0));
  if (dib == nullptr) {
    // Asked only once the load failed: the signature check reads the file again, and some types
    // have no signature that FreeImage knows.
    if (FreeImage_GetFileType(Path.c_str(), 0) != fif) return {TDecodeStatus::NotPicture};
    return {};
  }
  const unsigned width = FreeImage_GetWidth(dib.get());
  const unsigned height = FreeImage_GetHeight(dib.get());
  if (TooLarge(width, height)) return {TDecodeStatus::TooLarge, width, height};
  // Read before the conversion to a standard bitmap, whose new bitmap may not carry the
  // metadata along.
  const int orientation = ExifOrientation(dib.get());
  const std::uint64_t taken = ExifDateTaken(dib.get());
  const TLossyCompression lossy = LossyOf(fif, Path);
  dib = ToStandardBitmap(std::move(dib));
  unsigned w = 0, h = 0;
  if (!Convertible(dib.get(), &w, &h)) return {};
  if (!Sink(dib.get(), w, h)) return {TDecodeStatus::NoMemory, 0, 0};
  TDecodeResult result{TDecodeStatus::Ok, w, h, orientation};
  result.Facts.DateTaken = taken;
  result.Facts.Lossy = lossy;
  return result;
}

std::unique_ptr<raster::TBitmap32> BitmapFromFreeImage(FIBITMAP* Dib, unsigned Width,
                                                       unsigned Height) {
  auto bitmap = std::make_unique<raster::TBitmap32>();
  // Every pixel is written, so the memory need not be cleared first. Programs install the
  // platform's pixel memory, which puts large pictures on huge pages (far fewer page faults).
  bitmap->SetSizeForOverwrite(std::int32_t(Width), std::int32_t(Height));
  ConvertDib(Dib, bitmap->PixelBuffer(), 0, std::int32_t(Height));
  return bitmap;
}

}  // namespace detail

namespace {

// FreeImage splits its extension lists with strtok, whose state all threads share: two
// pictures asked for at once must not ask at once, nor while the lists are read.
std::mutex& ExtensionListsLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

bool IsImportedExtension(const std::string& Path) {
  if (detail::IsDicomExtension(Path)) return true;
  const std::lock_guard<std::mutex> one(ExtensionListsLock());
  return IsLoadedType(FreeImage_GetFIFFromFilename(FileExtension(Path).c_str()));
}

std::vector<std::string> ImportedExtensions() {
  const std::lock_guard<std::mutex> one(ExtensionListsLock());
  std::vector<std::string> extensions;
  for (int fif = 0; fif < FreeImage_GetFIFCount(); ++fif) {
    if (!IsLoadedType(FREE_IMAGE_FORMAT(fif))) continue;
    // "jpg,jif,jpeg,jpe": FreeImage's own list, so that the dialog offers what the import takes.
    const char* list = FreeImage_GetFIFExtensionList(FREE_IMAGE_FORMAT(fif));
    std::string rest = list != nullptr ? list : "";
    std::size_t start = 0;
    while (start < rest.size()) {
      const std::size_t comma = std::min(rest.find(',', start), rest.size());
      std::string e = rest.substr(start, comma - start);
      std::transform(e.begin(), e.end(), e.begin(),
                     [](unsigned char C) { return char(std::tolower(C)); });
      if (!e.empty() && std::find(extensions.begin(), extensions.end(), e) == extensions.end()) {
        extensions.push_back(std::move(e));
      }
      start = comma + 1;
    }
  }
  // DICOM is read by DCMTK (picture_import_dicom.cpp), not by FreeImage.
  extensions.push_back("dcm");
  std::sort(extensions.begin(), extensions.end());
  return extensions;
}

}  // namespace overlay
