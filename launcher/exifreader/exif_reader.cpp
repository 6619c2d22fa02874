#include "launcher/exifreader/exif_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace {

// How a tag's value becomes text, chosen by the type the value is stored with.
enum class Kind { text, integer, rational };

std::optional<Kind> KindOf(Exiv2::TypeId type) {
  switch (type) {
    case Exiv2::asciiString:
      return Kind::text;
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
      return Kind::integer;
    case Exiv2::unsignedRational:
    case Exiv2::signedRational:
      return Kind::rational;
    default:
      return std::nullopt;
  }
}

// The stored bytes up to the first NUL. Taken raw rather than through exiv2's text form so that
// padding blanks stay exactly as the camera wrote them (the launcher matches camera models by
// the full text), and a value that lacks its NUL still gives every byte.
std::string AsciiText(const Exiv2::Exifdatum& datum) {
  std::string bytes(static_cast<std::size_t>(std::max(datum.size(), 0L)), '\0');
  if (!bytes.empty()) datum.copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), Exiv2::littleEndian);
  bytes.resize(std::min(bytes.find('\0'), bytes.size()));
  return bytes;
}

// The first rational, not reduced: the denominator tells how precisely the camera stored it.
// An unsigned rational is read from its own value type, because exiv2's signed conversion would
// turn numbers from 2^31 on negative.
std::string RationalText(const Exiv2::Exifdatum& datum) {
  if (const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&datum.value())) {
    const Exiv2::URational& r = unsignedValue->value_.at(0);
    return std::to_string(r.first) + "/" + std::to_string(r.second);
  }
  const Exiv2::Rational r = datum.toRational(0);
  return std::to_string(r.first) + "/" + std::to_string(r.second);
}

// The datum's text, or nothing when its type is not the one the caller wants (a known tag stored
// with an unfitting type is treated as absent rather than handed on as something else).
std::optional<std::string> DatumText(const Exiv2::Exifdatum& datum, std::optional<Kind> wanted) {
  const std::optional<Kind> kind = KindOf(datum.typeId());
  if (!kind || (wanted && kind != wanted) || datum.count() < 1) return std::nullopt;
  switch (*kind) {
    case Kind::text:
      return AsciiText(datum);
    case Kind::integer:
      return std::to_string(datum.toLong(0));
    case Kind::rational:
      return RationalText(datum);
  }
  return std::nullopt;
}

// Looked up by number in the one IFD named by its exiv2 group, so a tag of the same number in
// the thumbnail IFD or in a maker note is never taken.
const Exiv2::Exifdatum* FindTag(const Exiv2::ExifData& data, std::uint16_t tag, const char* group) {
  const auto found = data.findKey(Exiv2::ExifKey(tag, group));
  return found == data.end() ? nullptr : &*found;
}

// The path is opened as a file by name. exiv2's opening by path would also treat "-" as stdin and
// "http://", "data://" and similar prefixes as things to fetch or decode. exiv2 0.27 takes and
// gives its files only as std::auto_ptr, which clang marks deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
Exiv2::Image::AutoPtr OpenByName(const char* path) {
  Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path));
  return Exiv2::ImageFactory::open(io);
}
#pragma GCC diagnostic pop

// The picture at path with its metadata read, or null when the path is no plain file or no
// picture. Pipes and devices could block or never end; only plain files are pictures.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
Exiv2::Image::AutoPtr OpenPicture(const char* path) {
  std::error_code error;
  if (path == nullptr || *path == '\0' || !std::filesystem::is_regular_file(path, error))
    return Exiv2::Image::AutoPtr();
  Exiv2::Image::AutoPtr image = OpenByName(path);
  if (image.get() != nullptr) image->readMetadata();
  return image;
}
#pragma GCC diagnostic pop

std::string ReadTag(const char* path, int tag) {
  if (tag < 0 || tag > 0xFFFF) return {};
  const auto image = OpenPicture(path);
  if (image.get() == nullptr) return {};
  const Exiv2::ExifData& data = image->exifData();

  const auto number = static_cast<std::uint16_t>(tag);
  const Exiv2::Exifdatum* datum = nullptr;
  std::optional<Kind> wanted;
  switch (tag) {
    case ExifTagModel:
      datum = FindTag(data, number, "Image");
      wanted = Kind::text;
      break;
    case ExifTagPixelXDimension:
      datum = FindTag(data, number, "Photo");
      wanted = Kind::integer;
      break;
    case ExifTagFocalLength:
      datum = FindTag(data, number, "Photo");
      wanted = Kind::rational;
      break;
    default:
      datum = FindTag(data, number, "Image");
      if (datum == nullptr) datum = FindTag(data, number, "Photo");
      break;
  }
  if (datum == nullptr) return {};
  return DatumText(*datum, wanted).value_or(std::string());
}

void SetUpExiv2Once() {
  static const bool done = [] {
    // Malformed files make exiv2 log warnings and errors to stderr, which would end up in the
    // launcher's output; the outcome is reported by the empty text instead.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    // Reading a JPEG also parses its XMP packet; the XMP toolkit's first-use set-up is not
    // thread-safe, so it is done here once rather than by whichever call comes first.
    Exiv2::XmpParser::initialize();
    return true;
  }();
  static_cast<void>(done);
}

}  // namespace

extern "C" int ReadExifTag(const char* path, int tag, char* buffer) {
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  try {
    SetUpExiv2Once();
    const std::string text = ReadTag(path, tag);
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(ExifBufferSize - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length > 0 ? 1 : 0;
  } catch (...) {
    // exiv2 throws on unreadable and malformed files, and any allocation may fail; the caller
    // only ever sees an empty text.
    buffer[0] = '\0';
    return 0;
  }
}

extern "C" int ReadPictureWidth(const char* path) {
  try {
    SetUpExiv2Once();
    const auto image = OpenPicture(path);
    const int width = image.get() == nullptr ? 0 : image->pixelWidth();
    return width > 0 ? width : -1;
  } catch (...) {
    return -1;
  }
}
