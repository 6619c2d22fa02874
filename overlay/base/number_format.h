// Numbers as text, one home for every formatter the program's layers share: the tools' fixed
// decimals, the exact round-trip text of the record and the tools, and the window's grouped
// decimals with the language's separators.
#pragma once

#include <string>
#include <string_view>

namespace overlay {

// A number as the tools print it: Decimals decimals, a point whatever the locale ("0.83").
std::string FormatFixed(double Value, int Decimals);
// The shortest text that reads back as exactly Value (a point, whatever the locale): for
// figures that another tool takes up again.
std::string FormatExact(double Value);
// Value with Decimals decimals and DecimalSeparator, the whole part grouped by three with
// ThousandSeparator (none when empty); what rounds to zero reads "0.0", never "-0.0".
std::string FormatDecimal(double Value, int Decimals, std::string_view DecimalSeparator = ".",
                          std::string_view ThousandSeparator = {});

}  // namespace overlay
