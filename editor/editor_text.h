// Reading numbers from typed or imported text and writing the editor's text
// forms: the same conversions in every build, independent of the C library's
// locale and printf.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vrt::editor {

// A decimal integer the way the editor reads one: leading white space, an
// optional sign, digits up to the first non-digit; text without digits reads
// as 0. Values beyond +-2^53 are held at that bound.
std::int64_t LeadingInteger(std::string_view text);

// A decimal real read the same way: leading white space, sign, digits, an
// optional fraction and exponent; text that does not start with a number
// reads as 0. Overflow gives an infinity; "inf" and "nan" are not numbers.
double LeadingReal(std::string_view text);

// The same, but without a value when the text does not start with a number
// (after blanks and a sign), so that typing errors are not taken for 0.
std::optional<std::int64_t> ReadInteger(std::string_view text);
std::optional<double> ReadReal(std::string_view text);

// True when the text is one or more decimal digits and nothing else.
bool IsDigitsOnly(std::string_view text);

// Fixed notation with `decimals` decimals, correctly rounded.
std::string FixedText(double value, int decimals);

// A time held in hundredths of a second, in seconds with one decimal, or
// two when the hundredths need them: 100 -> "1.0", 12 -> "0.12".
std::string HundredthsText(std::int64_t hundredths);

// Hundredths of a second for a time in seconds, as the image stores it:
// rounded to nearest, or truncated toward zero. A product within a
// millionth of a whole number counts as that number, so that a time read
// back from the image (hundredths / 100) converts to the same hundredths.
std::int64_t HundredthsRounded(double seconds);
std::int64_t HundredthsTruncated(double seconds);

// The dead band text: five decimals, or the shortest exact form when five
// decimals would not read back as the same value.
std::string DeadBandText(float deadBand);

// Message arguments: %1 and %2 replaced by integers ("%u") or by real bounds
// (width 6, two decimals), or by texts.
std::string WithIntegers(std::string_view message, std::uint32_t first, std::uint32_t second = 0);
std::string WithReals(std::string_view message, double first, double second);
std::string WithTexts(std::string_view message, std::string_view first, std::string_view second = {});

// printf-like substitution of successive "%s" (texts) or one "%d" (integer).
std::string WithStrings(std::string_view format, std::string_view first, std::string_view second);
std::string WithDecimal(std::string_view format, long long value);

std::string UpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool IsBlank(char c);

}  // namespace vrt::editor
