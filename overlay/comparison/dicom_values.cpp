#include "overlay/comparison/dicom_values.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "overlay/base/texts.h"

namespace overlay {

namespace {

// The code points of Value, or false when it is no well-formed UTF-8 (overlong forms,
// surrogates and values above U+10FFFF included).
bool DecodeUtf8(std::string_view Value, std::vector<char32_t>& Out) {
  for (std::size_t i = 0; i < Value.size();) {
    const auto b = static_cast<unsigned char>(Value[i]);
    int more = 0;
    char32_t c = 0;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      more = 1, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2, c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3, c = b & 0x07;
    } else {
      return false;
    }
    if (more > 0 && i + std::size_t(more) >= Value.size()) return false;
    for (int k = 1; k <= more; ++k) {
      const auto n = static_cast<unsigned char>(Value[i + std::size_t(k)]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    if ((more == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
        (more == 3 && (c < 0x10000 || c > 0x10FFFF))) {
      return false;
    }
    Out.push_back(c);
    i += std::size_t(more) + 1;
  }
  return true;
}

bool Digits(std::string_view Text) {
  if (Text.empty()) return false;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view Text) {
  int n = 0;
  for (const char c : Text) n = n * 10 + (c - '0');
  return n;
}

bool ValidDate(std::string_view Text) {
  if (Text.size() != 8 || !Digits(Text)) return false;
  const int year = Number(Text.substr(0, 4)), month = Number(Text.substr(4, 2)),
            day = Number(Text.substr(6, 2));
  constexpr int MonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month >= 1 && month <= 12 && day >= 1 && day <= MonthDays[month - 1] &&
         !(month == 2 && day == 29 && !leap);
}

// HH[MM[SS[.F{1,6}]]]; a leap second is allowed.
bool ValidTime(std::string_view Text) {
  const std::size_t dot = Text.find('.');
  const std::string_view whole = Text.substr(0, dot);
  if (!Digits(whole) || (whole.size() != 2 && whole.size() != 4 && whole.size() != 6)) {
    return false;
  }
  if (Number(whole.substr(0, 2)) > 23) return false;
  if (whole.size() >= 4 && Number(whole.substr(2, 2)) > 59) return false;
  if (whole.size() == 6 && Number(whole.substr(4, 2)) > 60) return false;
  if (dot == std::string_view::npos) return true;
  const std::string_view fraction = Text.substr(dot + 1);
  return whole.size() == 6 && Digits(fraction) && fraction.size() <= 6;
}

// YYYY[MM[DD[HH[MM[SS[.F{1,6}]]]]]] without an offset (the program writes local times).
bool ValidDateTime(std::string_view Text) {
  const std::string_view whole = Text.substr(0, Text.find('.'));
  if (!Digits(whole) || whole.size() < 4 || whole.size() > 14 || whole.size() % 2 != 0) {
    return false;
  }
  if (whole.size() >= 6) {
    const int month = Number(whole.substr(4, 2));
    if (month < 1 || month > 12) return false;
  }
  if (whole.size() >= 8 && !ValidDate(whole.substr(0, 8))) return false;
  return whole.size() <= 8 ? whole.size() == Text.size() : ValidTime(Text.substr(8));
}

bool ValidDecimal(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  std::size_t end = Text.size();
  while (end > i && Text[end - 1] == ' ') --end;
  const std::string_view n = Text.substr(i, end - i);
  std::size_t k = 0;
  if (k < n.size() && (n[k] == '+' || n[k] == '-')) ++k;
  std::size_t digits = 0;
  while (k < n.size() && n[k] >= '0' && n[k] <= '9') ++k, ++digits;
  if (k < n.size() && n[k] == '.') {
    ++k;
    while (k < n.size() && n[k] >= '0' && n[k] <= '9') ++k, ++digits;
  }
  if (digits == 0) return false;
  if (k < n.size() && (n[k] == 'e' || n[k] == 'E')) {
    ++k;
    if (k < n.size() && (n[k] == '+' || n[k] == '-')) ++k;
    if (!Digits(n.substr(k))) return false;
    k = n.size();
  }
  return k == n.size();
}

bool ValidInteger(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  std::size_t end = Text.size();
  while (end > i && Text[end - 1] == ' ') --end;
  std::string_view n = Text.substr(i, end - i);
  const bool negative = !n.empty() && n.front() == '-';
  if (!n.empty() && (n.front() == '+' || n.front() == '-')) n.remove_prefix(1);
  if (!Digits(n) || n.size() > 10) return false;
  const std::int64_t value = std::stoll(std::string(n));
  return negative ? value <= 2147483648LL : value <= 2147483647LL;
}

// The value as the user may read it: control characters and bytes that are no UTF-8 as \xNN,
// at most 80 bytes of it.
std::string Shown(std::string_view Value) {
  constexpr std::size_t MaxShown = 80;
  std::string out;
  for (const char c : Value.substr(0, MaxShown)) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(b));
      out += hex;
    } else {
      out += c;
    }
  }
  if (Value.size() > MaxShown) out += "...";
  return out;
}

std::size_t MaxCharacters(TDicomVr Vr) {
  switch (Vr) {
    case TDicomVr::AE:
    case TDicomVr::CS:
    case TDicomVr::SH:
    case TDicomVr::DS:
      return 16;
    case TDicomVr::DA:
      return 8;
    case TDicomVr::DT:
      return 26;
    case TDicomVr::IS:
      return 12;
    case TDicomVr::LO:
    case TDicomVr::UI:
      return 64;
    case TDicomVr::LT:
      return 10240;
    case TDicomVr::PN:
      return 0xFFFFFFFEu;  // 64 a group: checked apart
    case TDicomVr::ST:
      return 1024;
    case TDicomVr::TM:
      return 16;
    case TDicomVr::UT:
      return 0xFFFFFFFEu;
  }
  return 0;
}

}  // namespace

std::string_view DicomVrName(TDicomVr Vr) {
  constexpr std::string_view Names[] = {"AE", "CS", "DA", "DS", "DT", "IS", "LO",
                                        "LT", "PN", "SH", "ST", "TM", "UI", "UT"};
  return Names[int(Vr)];
}

bool IsValidDicomUid(std::string_view Uid) {
  if (Uid.empty() || Uid.size() > 64) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = std::min(Uid.find('.', start), Uid.size());
    const std::string_view component = Uid.substr(start, dot - start);
    if (!Digits(component) || (component.size() > 1 && component.front() == '0')) return false;
    if (dot == Uid.size()) return true;
    start = dot + 1;
  }
}

platform::TStatus CheckDicomValue(TDicomVr Vr, std::string_view Field, std::string_view Value) {
  if (Value.empty()) return platform::TStatus();
  const auto refuse = [&](const std::string& Why) {
    return platform::TStatus::Failure(std::string(Field) + ": " + Why + "\n" + Shown(Value));
  };
  const auto invalid = [&] { return refuse(Tr(DicomValueInvalidText, DicomVrName(Vr))); };
  std::vector<char32_t> characters;
  if (!DecodeUtf8(Value, characters)) return invalid();
  const bool text = Vr == TDicomVr::LT || Vr == TDicomVr::ST || Vr == TDicomVr::UT;
  const bool ascii = Vr == TDicomVr::CS || Vr == TDicomVr::DA || Vr == TDicomVr::DS ||
                     Vr == TDicomVr::DT || Vr == TDicomVr::IS || Vr == TDicomVr::TM ||
                     Vr == TDicomVr::UI;
  for (const char32_t c : characters) {
    const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
    if (control && !(text && (c == '\r' || c == '\n' || c == '\f' || c == '\t'))) {
      return refuse(Tr(DicomValueControlText));
    }
    if (c == '\\' && !text) return refuse(Tr(DicomValueBackslashText));
    if (ascii && c >= 0x80) return invalid();
  }
  const std::size_t limit = MaxCharacters(Vr);
  if ((Vr == TDicomVr::UI ? Value.size() : characters.size()) > limit) {
    return refuse(Tr(DicomValueTooLongText, std::to_string(limit)));
  }
  switch (Vr) {
    case TDicomVr::AE:
      if (Value.find_first_not_of(' ') == std::string_view::npos) return invalid();
      break;
    case TDicomVr::CS:
      for (const char c : Value) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '_')) {
          return invalid();
        }
      }
      break;
    case TDicomVr::DA:
      if (!ValidDate(Value)) return invalid();
      break;
    case TDicomVr::TM:
      if (!ValidTime(Value)) return invalid();
      break;
    case TDicomVr::DT:
      if (!ValidDateTime(Value)) return invalid();
      break;
    case TDicomVr::DS:
      if (!ValidDecimal(Value)) return invalid();
      break;
    case TDicomVr::IS:
      if (!ValidInteger(Value)) return invalid();
      break;
    case TDicomVr::UI:
      if (!IsValidDicomUid(Value)) return invalid();
      break;
    case TDicomVr::PN: {
      // Alphabetic, ideographic and phonetic groups, each of family, given, middle, prefix
      // and suffix names.
      std::size_t groups = 1, components = 1, groupCharacters = 0;
      for (const char32_t c : characters) {
        if (c == '=') {
          if (++groups > 3) return invalid();
          components = 1;
          groupCharacters = 0;
          continue;
        }
        if (c == '^' && ++components > 5) return invalid();
        if (++groupCharacters > 64) return refuse(Tr(DicomValueTooLongText, "64"));
      }
      break;
    }
    case TDicomVr::LO:
    case TDicomVr::LT:
    case TDicomVr::SH:
    case TDicomVr::ST:
    case TDicomVr::UT:
      break;
  }
  return platform::TStatus();
}

platform::TStatus CheckDicomValues(TDicomVr Vr, std::string_view Field, std::string_view Value,
                                   int MaxValues) {
  int count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(Value.find('\\', start), Value.size());
    if (++count > MaxValues) {
      return platform::TStatus::Failure(std::string(Field) + ": " +
                                        Tr(DicomTooManyValuesText, std::to_string(MaxValues)) +
                                        "\n" + Shown(Value));
    }
    if (platform::TStatus one = CheckDicomValue(Vr, Field, Value.substr(start, end - start));
        !one) {
      return one;
    }
    if (end == Value.size()) return platform::TStatus();
    start = end + 1;
  }
}

}  // namespace overlay
