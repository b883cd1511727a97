// The OPC server's process-wide settings: server, item and group defaults
// read once when the library is loaded, each from its registry value when
// that can be read and otherwise from the built-in default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::opc {

inline constexpr const char* kSettingsKey = "Software\\Kalvento\\Tavex\\OPC";
inline constexpr const char* kServerDefaults = "ServerDefaults";
inline constexpr const char* kItemDefaults = "ItemDefaults";
inline constexpr const char* kGroupDefaults = "GroupDefaults";

struct OpcSettings {
  std::uint32_t threadSleepTime = 100;  // ms: poll thread wait, least group update rate
  std::uint32_t threadPriority = 7;     // code, see ThreadPriorityFor
  std::uint32_t autoStart = 1;
  std::uint16_t stringLength = 20;
  std::string signalConditioning = "NONE";
  std::string loEgu = "0.0";
  std::string hiEgu = "65535.0";
  std::string hardwareOptions;  // "NONE" in the registry reads as empty
  std::string generatedGroupName = "Group";
};

// Where the settings come from: the registry on Windows, a table in tests.
// A value that is missing or cannot be read gives nothing.
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual std::optional<std::uint32_t> Dword(const char* subKey, const char* name) = 0;
  // String values are read into a 100-byte buffer: at most 99 characters.
  virtual std::optional<std::string> String(const char* subKey, const char* name) = 0;
};

// Reads every setting in table order; each readable value replaces the default.
OpcSettings ReadOpcSettings(SettingsSource& source);

// The Windows thread priority for a ThreadPriority code, nothing for an
// unknown code.
std::optional<int> ThreadPriorityFor(std::uint32_t code);

// One value as it is written back by registration.
struct SettingValue {
  const char* subKey;
  const char* name;
  bool isDword;
  std::uint32_t dword;
  std::string text;
};
// The values of `settings` in table order, as the registry holds them.
std::vector<SettingValue> SettingValues(const OpcSettings& settings);

}  // namespace vrt::opc
