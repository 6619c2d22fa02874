#include "overlay/decode/picture_import.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/decode/orientation.h"
#include "overlay/decode/picture_import_p.h"

namespace overlay {

static_assert(decoder::MaxPixels == std::uint64_t(MaxPicturePixels),
              "the decoder process and the import refuse the same sizes");
static_assert(decoder::MaxSpacingSource == std::uint32_t(TSpacingSource::DetectorOnly) &&
                  decoder::MaxLossy == std::uint32_t(TLossyCompression::Unknown),
              "the reply carries every source of a spacing and every lossy compression");

namespace {

std::mutex& TextsLock() {
  static std::mutex lock;
  return lock;
}
TPictureFailureTexts& Texts() {
  static TPictureFailureTexts texts;
  return texts;
}

platform::TStatus Refuse(std::string TPictureFailureTexts::*Sentence, const std::string& Path) {
  return platform::TStatus::Failure(PictureFailureText(PictureFailureTexts().*Sentence, Path));
}

// The checks made before any decoding: only regular files (or links to them) that this user
// may read, since a directory is no picture and a pipe or device named like a picture would
// make the decoder wait or read without end; and only extensions with a loader. A failure when
// Load must stop.
platform::TStatus Admit(const std::string& Path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(Path, error);
  if (status.type() == fs::file_type::not_found)
    return Refuse(&TPictureFailureTexts::Missing, Path);
  if (error) return Refuse(&TPictureFailureTexts::CannotRead, Path);
  if (!fs::is_regular_file(status)) return Refuse(&TPictureFailureTexts::NotPicture, Path);
  // A file without an extension is opened when it says it is DICOM (its preamble).
  if (!IsImportedExtension(Path) && !(FileExtension(Path).empty() && detail::IsDicomFile(Path))) {
    return platform::TStatus::Failure(
        PictureFailureText("Unknown file format *" + FileExtension(Path), Path));
  }
  if (::access(Path.c_str(), R_OK) != 0) return Refuse(&TPictureFailureTexts::CannotRead, Path);
  return {};
}

// Turns Picture upright when Orientation asks for it and the file's tag says how.
std::unique_ptr<raster::TBitmap32> Hand(std::unique_ptr<raster::TBitmap32> Picture, int Tag,
                                        TPictureOrientation Orientation) {
  if (Picture != nullptr && Orientation == TPictureOrientation::Upright) {
    ApplyExifOrientation(*Picture, Tag);
  }
  return Picture;
}

}  // namespace

TPictureResult LoadPicture(const std::string& Path) {
  return LoadPicture(Path, TPictureOrientation::AsStored);
}

TPictureResult LoadPicture(const std::string& Path, TPictureOrientation Orientation) {
  TLoadedPictureResult loaded = LoadPictureWithFacts(Path, Orientation);
  if (!loaded) return loaded.Status();
  return std::move(loaded.Value().Picture);
}

std::string FormatDateTaken(std::uint64_t DateTaken) {
  if (DateTaken == 0) return {};
  char text[32];
  const auto part = [&](std::uint64_t Divisor, std::uint64_t Modulus) {
    return unsigned((DateTaken / Divisor) % Modulus);
  };
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", part(10000000000ULL, 10000),
                part(100000000, 100), part(1000000, 100), part(10000, 100), part(100, 100));
  return text;
}

std::uint64_t VisitDateTaken(const std::string& Date, const std::string& Time) {
  unsigned day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  char end = 0;
  if (std::sscanf(Date.c_str(), "%2u.%2u.%4u%c", &day, &month, &year, &end) != 3) return 0;
  if (!Time.empty()) {
    const int read = std::sscanf(Time.c_str(), "%2u:%2u:%2u%c", &hour, &minute, &second, &end);
    if (read != 2 && read != 3) return 0;
  }
  static constexpr unsigned DaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1800 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysIn[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return 0;
  }
  return ((((std::uint64_t(year) * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 +
         second;
}

TLoadedPictureResult LoadPictureWithFacts(const std::string& Path,
                                          TPictureOrientation Orientation) {
  if (platform::TStatus admitted = Admit(Path); !admitted) return admitted;
  TIsolatedPicture picture = DecodePictureIsolated(Path);
  switch (picture.Status) {
    case TIsolatedStatus::Picture: {
      TLoadedPicture loaded{nullptr, std::move(picture.Facts)};
      loaded.Facts.ShownOrientation = Orientation == TPictureOrientation::Upright &&
                                              picture.Orientation >= 2 && picture.Orientation <= 8
                                          ? picture.Orientation
                                          : 1;
      loaded.Picture = Hand(std::move(picture.Bitmap), picture.Orientation, Orientation);
      return TLoadedPictureResult(std::move(loaded));
    }
    case TIsolatedStatus::TooLarge:
      return platform::TStatus::Failure(
          PictureFailureText(TooLargeText(picture.Width, picture.Height), Path));
    case TIsolatedStatus::NoMemory:
      throw raster::EBitmapError("Can't allocate the DIB handle");
    case TIsolatedStatus::NotPicture:
      return Refuse(&TPictureFailureTexts::NotPicture, Path);
    case TIsolatedStatus::Damaged:
      return Refuse(&TPictureFailureTexts::Damaged, Path);
    case TIsolatedStatus::NoDecoder:
      break;
  }
  return Refuse(&TPictureFailureTexts::NotLoaded, Path);
}

TPictureResult LoadPictureInProcess(const std::string& Path) {
  return LoadPictureInProcess(Path, TPictureOrientation::AsStored);
}

TPictureResult LoadPictureInProcess(const std::string& Path, TPictureOrientation Orientation) {
  if (platform::TStatus admitted = Admit(Path); !admitted) return admitted;
  std::unique_ptr<raster::TBitmap32> bitmap;
  const detail::TDecodeResult result =
      detail::DecodePictureFile(Path, [&](FIBITMAP* Dib, unsigned Width, unsigned Height) {
        bitmap = detail::BitmapFromFreeImage(Dib, Width, Height);
        return true;
      });
  switch (result.Status) {
    case detail::TDecodeStatus::Ok:
      break;
    case detail::TDecodeStatus::TooLarge:
      return platform::TStatus::Failure(
          PictureFailureText(TooLargeText(result.Width, result.Height), Path));
    case detail::TDecodeStatus::NoMemory:
      return Refuse(&TPictureFailureTexts::NotLoaded, Path);
    case detail::TDecodeStatus::NotPicture:
      return Refuse(&TPictureFailureTexts::NotPicture, Path);
    case detail::TDecodeStatus::CannotDecode:
      return Refuse(&TPictureFailureTexts::Damaged, Path);
  }
  return Hand(std::move(bitmap), result.Orientation, Orientation);
}

int FactsPp100MM(const TPictureFacts& Facts) {
  if (Facts.PixelSpacingColumn <= 0) return 0;
  const double scale = std::round(100.0 / Facts.PixelSpacingColumn);
  return scale >= 1 && scale <= MaxFactsPp100MM ? int(scale) : 0;
}

TPictureFailureTexts PictureFailureTexts() {
  std::lock_guard<std::mutex> lock(TextsLock());
  return Texts();
}

void SetPictureFailureTexts(TPictureFailureTexts NewTexts) {
  std::lock_guard<std::mutex> lock(TextsLock());
  Texts() = std::move(NewTexts);
}

std::string TooLargeText(std::uint64_t Width, std::uint64_t Height) {
  std::string text = PictureFailureTexts().TooLarge;
  for (const auto& [mark, value] : {std::pair<std::string_view, std::uint64_t>{"%1", Width},
                                    std::pair<std::string_view, std::uint64_t>{"%2", Height}}) {
    if (const std::size_t at = text.find(mark); at != std::string::npos) {
      text.replace(at, mark.size(), std::to_string(value));
    }
  }
  return text;
}

std::string PictureFailureText(const std::string& Sentence, const std::string& Path) {
  return Sentence + "\n\n[" + Path + "]";
}

std::string PictureNotLoadedText(const std::string& Path) {
  return PictureFailureText(PictureFailureTexts().NotLoaded, Path);
}

}  // namespace overlay
