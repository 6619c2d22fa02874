#include "overlay/base/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace overlay {

std::string FormatFixed(double Value, int Decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", Decimals, Value);
  std::string out = text;
  std::replace(out.begin(), out.end(), ',', '.');
  return out;
}

std::string FormatExact(double Value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
  return ec == std::errc() ? std::string(text, end) : FormatFixed(Value, 17);
}

std::string FormatDecimal(double Value, int Decimals, std::string_view DecimalSeparator,
                          std::string_view ThousandSeparator) {
  // What rounds to zero is shown as zero, never "-0.0".
  if (std::abs(Value) < 0.5 * std::pow(10.0, -Decimals)) Value = 0;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", Decimals, Value);
  std::string text = buffer;
  const std::size_t point = std::min(text.find('.'), text.size());
  std::string whole = text.substr(0, point);
  const std::string fraction = point < text.size() ? text.substr(point + 1) : std::string();
  const bool negative = !whole.empty() && whole[0] == '-';
  if (negative) whole.erase(0, 1);
  std::string result = negative ? "-" : "";
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) result += ThousandSeparator;
    result += whole[i];
  }
  if (!fraction.empty()) {
    result += DecimalSeparator;
    result += fraction;
  }
  return result;
}

}  // namespace overlay
