#include "launcher/calibration.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "launcher/exifreader/exif_reader.h"
#include "launcher/general.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace launcher {

namespace {

TExifTagReader& InstalledReader() {
  static TExifTagReader reader = &ReadExifTag;
  return reader;
}

std::string_view TrimBlanks(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

constexpr const char* Detail = "       - ";

// Without a leading "+", which from_chars does not take; one sign only, so "+-5" is no number.
std::string_view WithoutPlus(std::string_view Text) {
  if (!Text.empty() && Text.front() == '+') {
    Text.remove_prefix(1);
    if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) return {};
  }
  return Text;
}

}  // namespace

TExifTagReader SetExifTagReader(TExifTagReader Reader) {
  const TExifTagReader old = InstalledReader();
  InstalledReader() = Reader ? Reader : &ReadExifTag;
  return old;
}

std::optional<int> TextToInteger(const std::string& Text) {
  const std::string_view t = WithoutPlus(TrimBlanks(Text));
  int value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

std::optional<double> TextToFloat(const std::string& Text) {
  const std::string_view t = WithoutPlus(TrimBlanks(Text));
  double value = 0;
  const auto [end, ec] =
      std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string FloatToText(double Value) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::general, 15);
  if (ec != std::errc()) return "?";
  std::string text(buffer, end);
  // "1e-07" becomes "1E-7", "1e+20" becomes "1E20".
  const std::size_t e = text.find('e');
  if (e != std::string::npos) {
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (exponent.front() == '-' || exponent.front() == '+') {
      if (exponent.front() == '-') sign = "-";
      exponent.erase(0, 1);
    }
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    text = text.substr(0, e) + "E" + sign + exponent;
  }
  return text;
}

double RationalToFloat(const std::string& Text) {
  const std::size_t slash = Text.find('/');
  if (slash == std::string::npos) return 0;
  const std::optional<int> numerator = TextToInteger(Text.substr(0, slash));
  const std::optional<int> denominator = TextToInteger(Text.substr(slash + 1));
  // A zero denominator is as unusable as a part that is no number.
  if (!numerator || !denominator || *denominator == 0) return -1;
  return double(*numerator) / double(*denominator);
}

TExifData ReadExifData(const std::string& Path) {
  // One buffer for the three calls, as the reader's callers have always passed it.
  char buffer[ExifBufferSize] = {};
  const TExifTagReader reader = InstalledReader();
  const auto read = [&](int Tag) {
    reader(Path.c_str(), Tag, buffer);
    buffer[sizeof buffer - 1] = 0;  // whatever the reader did, the text ends in the buffer
    return std::string(buffer);
  };
  TExifData data;
  data.Model = read(ExifTagModel);
  data.PixelXDimension = TextToInteger(read(ExifTagPixelXDimension)).value_or(-1);
  data.FocalLength = RationalToFloat(read(ExifTagFocalLength));
  return data;
}

bool SetCamProperties(iface::TImageData& Record) {
  const std::string ini = iface::CameraTablePath();
  Record.Pp100MM = 0;
  Record.ExclusionCircleRadiusInPixel = 0;
  Record.ExclusionCircleX0InPixel = 0;
  Record.ExclusionCircleY0InPixel = 0;
  bool ok = true;
  if (!platform::FileExists(Record.Image)) {
    WriteLog("Error: File of image does not exist:" + Record.Image);
    ok = false;
  }
  if (!platform::FileExists(ini)) {
    WriteLog("Error: Camera-ini does not exist:" + ini);
    ok = false;
  }

  int P = 0, W = 0;
  if (ok) {
    const TExifData exif = ReadExifData(Record.Image);
    const std::string& M = exif.Model;
    const double F = exif.FocalLength;
    W = exif.PixelXDimension;
    // A copy that was scaled, or a forged tag, may claim a width that the picture does not
    // have; the scale and the circle are of the picture itself.
    if (W > 0) {
      const int real = ReadPictureWidth(Record.Image.c_str());
      if (real > 0 && real != W) {
        WriteLog(
            "Warning: PixelXDimension " + std::to_string(W) +
            " is not the width of the picture, which is used instead: " + std::to_string(real));
        WriteLog(Detail + std::string("image file:") + Record.Image);
        W = real;
      }
    }
    if (F > 0 && W > 0) {
      platform::TIniFile table(ini);
      if (!table.SectionExists(M)) {
        WriteLog("Error: No entry for camera '" + M + "' in File:" + ini);
        ok = false;
      } else {
        // const, slopeFL, slopeX in this order; after the first that does not convert the
        // rest stay 0.
        double values[3] = {0, 0, 0};
        const char* keys[3] = {"const", "slopeFL", "slopeX"};
        for (int k = 0; k < 3; ++k) {
          const std::optional<double> v = TextToFloat(table.ReadString(M, keys[k], "0"));
          if (!v) {
            WriteLog(
                "Error: Conversion of 'const', 'slopeFL' or 'slopeX' not possible - do NOT use "
                "',', use '.'!");
            ok = false;
            break;
          }
          values[k] = *v;
        }
        const double constant = values[0], slopeFL = values[1], slopeX = values[2];
        int Wini = 0;
        if (const std::optional<int> w = TextToInteger(table.ReadString(M, "PixelXDimension", "0")))
          Wini = *w;
        else {
          WriteLog("Error: Conversion of 'PixelXDimension' not possible - use a whole number!");
          ok = false;
        }
        if (slopeX > 0 || Wini == W) {
          if (slopeFL > 0) {
            // Left to right in double precision; truncation of a positive sum + 0.5 rounds
            // half up.
            const double sum = slopeFL * F + constant + slopeX * W + 0.5;
            if (!std::isfinite(sum) || sum >= 2147483648.0 || sum <= -2147483649.0) {
              WriteLog("Error: Conversion of the computed scale not possible:" + FloatToText(sum));
              ok = false;
            } else {
              P = int(std::trunc(sum));
            }
          } else {
            // The value found not valid is slopeFL, so that is the one the line shows.
            WriteLog("Error: In " + ini + " slopeFL not valid - slopeX:" + FloatToText(slopeFL));
            ok = false;
          }
        } else {
          WriteLog("Error: Not prepared for this resolution:");
          WriteLog(Detail + std::string("camera:") + M);
          WriteLog(Detail + std::string("slopeX:") + FloatToText(slopeX));
          WriteLog(Detail + std::string("PixelXDimension from ini:") + std::to_string(Wini));
          WriteLog(Detail + std::string("PixelXDimension from image:") + std::to_string(W));
          ok = false;
        }
      }
    }
  }

  if (ok) {
    if (P > 0) Record.Pp100MM = P;
    if (W > 0) {
      // A circle centred on a 4:3 picture, with half the width as radius.
      Record.ExclusionCircleRadiusInPixel = W / 2;
      Record.ExclusionCircleX0InPixel = W / 2;
      Record.ExclusionCircleY0InPixel = int((3LL * W) / 8);
    }
  } else {
    WriteLog("Error in SetCamProperties:");
    WriteLog(Detail + std::string("configuration file:") + ini);
    WriteLog(Detail + std::string("image file:") + Record.Image);
  }
  return ok;
}

}  // namespace launcher
