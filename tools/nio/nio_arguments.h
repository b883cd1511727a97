// The command line of the nio tool, and the texts it prints for qualities
// and statuses. No Windows here: the tool's Win32 side loads the library and
// does the calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::tool {

enum class NioCommand { kHelp, kList, kRead, kWrite, kWatch, kMessages, kStats, kStatus };

// How one point is to be addressed and conditioned.
struct PointSettings {
  std::uint8_t valueKind = 5;  // 1 analog, 2 digital, 3 text, 5 from the address
  std::string signalConditioning;  // nio_psig name; empty leaves the raw value
  std::string hardwareOptions;     // nio_popt text
  float eguLow = 0.0f;
  float eguHigh = 100.0f;
  std::uint8_t decimals = 2;
  std::int16_t elementOffset = 0;
};

struct NioArguments {
  NioCommand command = NioCommand::kHelp;
  std::vector<std::string> operands;  // addresses, device names, a value
  PointSettings point;
  double seconds = 0.0;      // watch, messages --follow: 0 runs until Ctrl-C
  int intervalMs = 100;      // watch: pause between fetches
  bool follow = false;       // messages
  bool reset = false;        // stats
};

// Parses argv[1..]. On a usage error returns nothing and sets `error`.
std::optional<NioArguments> ParseNioArguments(const std::vector<std::string>& words, std::string& error);

// The text --help prints.
const char* NioUsage();

// "good", "bad: communication failure", ... for an OPC-style quality.
std::string QualityText(std::uint16_t quality);
// "address error" and the like for a call status; "status N" for others.
std::string StatusText(std::uint16_t status);

// A value the user typed for a digital point: 1/0, on/off, true/false.
std::optional<bool> ParseDigital(const std::string& text);
// A number the user typed (the whole text must be a finite number).
std::optional<double> ParseNumber(const std::string& text);

// Change notification keys of the watched points: point i (0-based) gets
// key byte i % 255 + 1 and key word i, so that no key is all zeros.
void KeyOfPoint(int point, std::uint8_t (&key)[4]);
// The point a fetched key names, or -1.
int PointOfKey(const std::uint8_t* key, int pointCount);

}  // namespace vrt::tool
