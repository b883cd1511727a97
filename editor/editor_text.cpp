#include "editor_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace vrt::editor {

namespace {

constexpr std::int64_t kIntegerBound = std::int64_t{1} << 53;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// Replaces %1 and %2 in one pass, so that an argument holding "%2" stays as
// it is.
std::string Substitute(std::string_view message, std::string_view first, std::string_view second) {
  std::string result;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() && (message[i + 1] == '1' || message[i + 1] == '2')) {
      result.append(message[i + 1] == '1' ? first : second);
      ++i;
    } else {
      result += message[i];
    }
  }
  return result;
}

std::string ReplaceFirst(std::string_view text, std::string_view marker, std::string_view value) {
  const std::size_t at = text.find(marker);
  if (at == std::string_view::npos) return std::string(text);
  std::string result(text.substr(0, at));
  result.append(value);
  result.append(text.substr(at + marker.size()));
  return result;
}

// Rounds away the noise of binary fractions: a value within a millionth of
// a whole number is that number.
double SnapToWhole(double value) {
  const double whole = std::round(value);
  const double tolerance = std::max(1e-6, std::fabs(value) * 1e-15);
  return std::fabs(value - whole) < tolerance ? whole : value;
}

std::int64_t TruncateClamped(double value) {
  if (std::isnan(value)) return 0;
  constexpr double bound = 4.6e18;
  if (value > bound) return static_cast<std::int64_t>(bound);
  if (value < -bound) return -static_cast<std::int64_t>(bound);
  return static_cast<std::int64_t>(std::trunc(value));
}

}  // namespace

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::int64_t LeadingInteger(std::string_view text) {
  std::size_t at = SkipBlanks(text, 0);
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  std::int64_t value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    if (value < kIntegerBound) value = value * 10 + (text[at] - '0');
    ++at;
  }
  if (value > kIntegerBound) value = kIntegerBound;
  return negative ? -value : value;
}

double LeadingReal(std::string_view text) {
  std::size_t at = SkipBlanks(text, 0);
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const std::size_t start = at;
  std::size_t digits = 0;
  // Decimal magnitude of the first significant digit, to tell an overflow
  // from an underflow when the number cannot be held.
  long long magnitude = 0;
  bool significant = false;
  while (at < text.size() && IsDigit(text[at])) {
    if (significant) {
      ++magnitude;
    } else if (text[at] != '0') {
      significant = true;
    }
    ++digits;
    ++at;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && IsDigit(text[at])) {
      if (!significant) {
        --magnitude;
        if (text[at] != '0') significant = true;
      }
      ++digits;
      ++at;
    }
  }
  if (digits == 0) return 0.0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponentAt = at + 1;
    bool exponentNegative = false;
    if (exponentAt < text.size() && (text[exponentAt] == '+' || text[exponentAt] == '-')) {
      exponentNegative = text[exponentAt] == '-';
      ++exponentAt;
    }
    if (exponentAt < text.size() && IsDigit(text[exponentAt])) {
      long long exponent = 0;
      while (exponentAt < text.size() && IsDigit(text[exponentAt])) {
        if (exponent < 100000) exponent = exponent * 10 + (text[exponentAt] - '0');
        ++exponentAt;
      }
      magnitude += exponentNegative ? -exponent : exponent;
      at = exponentAt;
    }
  }
  std::string_view number = text.substr(start, at - start);
  double value = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    value = (significant && magnitude > 0) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (result.ec != std::errc{}) {
    value = 0.0;
  }
  return negative ? -value : value;
}

namespace {

bool StartsWithNumber(std::string_view text, bool fraction) {
  std::size_t at = SkipBlanks(text, 0);
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  if (at < text.size() && IsDigit(text[at])) return true;
  return fraction && at + 1 < text.size() && text[at] == '.' && IsDigit(text[at + 1]);
}

}  // namespace

std::optional<std::int64_t> ReadInteger(std::string_view text) {
  if (!StartsWithNumber(text, false)) return std::nullopt;
  return LeadingInteger(text);
}

std::optional<double> ReadReal(std::string_view text) {
  if (!StartsWithNumber(text, true)) return std::nullopt;
  return LeadingReal(text);
}

bool IsDigitsOnly(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

std::string FixedText(double value, int decimals) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) return "0";
  std::string text(buffer, result.ptr);
  // No "-0.0": a value that shows as zero shows without a sign.
  if (!text.empty() && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

std::string HundredthsText(std::int64_t hundredths) {
  const bool negative = hundredths < 0;
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-(hundredths + 1)) + 1 : static_cast<std::uint64_t>(hundredths);
  const std::uint64_t whole = magnitude / 100;
  const std::uint64_t fraction = magnitude % 100;
  std::string text = negative ? "-" : "";
  text += std::to_string(whole);
  text += '.';
  if (fraction % 10 == 0) {
    text += static_cast<char>('0' + fraction / 10);
  } else {
    text += static_cast<char>('0' + fraction / 10);
    text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

std::int64_t HundredthsRounded(double seconds) { return TruncateClamped(SnapToWhole(seconds * 100.0 + 0.5)); }

std::int64_t HundredthsTruncated(double seconds) { return TruncateClamped(SnapToWhole(seconds * 100.0)); }

std::string DeadBandText(float deadBand) {
  std::string text = FixedText(deadBand, 5);
  float readBack = 0.0f;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), readBack);
  if (std::isfinite(deadBand) && result.ec == std::errc{} && readBack == deadBand) return text;
  char buffer[64];
  const auto shortest = std::to_chars(buffer, buffer + sizeof buffer, deadBand);
  return shortest.ec == std::errc{} ? std::string(buffer, shortest.ptr) : text;
}

std::string WithIntegers(std::string_view message, std::uint32_t first, std::uint32_t second) {
  return Substitute(message, std::to_string(first), std::to_string(second));
}

std::string WithReals(std::string_view message, double first, double second) {
  auto bound = [](double value) {
    std::string text = FixedText(value, 2);
    if (text.size() < 6) text.insert(0, 6 - text.size(), ' ');
    return text;
  };
  return Substitute(message, bound(first), bound(second));
}

std::string WithTexts(std::string_view message, std::string_view first, std::string_view second) {
  return Substitute(message, first, second);
}

std::string WithStrings(std::string_view format, std::string_view first, std::string_view second) {
  // The first substitution must not be searched for the second marker.
  const std::size_t at = format.find("%s");
  if (at == std::string_view::npos) return std::string(format);
  std::string result(format.substr(0, at));
  result.append(first);
  result.append(ReplaceFirst(format.substr(at + 2), "%s", second));
  return result;
}

std::string WithDecimal(std::string_view format, long long value) {
  return ReplaceFirst(format, "%d", std::to_string(value));
}

std::string UpperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace vrt::editor
