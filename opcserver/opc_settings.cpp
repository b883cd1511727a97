#include "opc_settings.h"

#include <cctype>

namespace vrt::opc {

namespace {

bool IsNone(const std::string& text) {
  if (text.size() != 4) return false;
  for (std::size_t k = 0; k < 4; ++k) {
    if (std::toupper(static_cast<unsigned char>(text[k])) != "NONE"[k]) return false;
  }
  return true;
}

}  // namespace

OpcSettings ReadOpcSettings(SettingsSource& source) {
  OpcSettings settings;
  if (auto value = source.Dword(kServerDefaults, "ThreadSleepTime")) {
    // A wait of 0 ms would make the poll thread spin; 1 ms is the least.
    settings.threadSleepTime = *value == 0 ? 1 : *value;
  }
  if (auto value = source.Dword(kServerDefaults, "ThreadPriority")) settings.threadPriority = *value;
  if (auto value = source.Dword(kItemDefaults, "AutoStart")) settings.autoStart = *value;
  if (auto value = source.Dword(kItemDefaults, "StringLength")) {
    settings.stringLength = static_cast<std::uint16_t>(*value & 0xFFFF);
  }
  if (auto value = source.String(kItemDefaults, "SignalConditioning")) settings.signalConditioning = *value;
  if (auto value = source.String(kItemDefaults, "LoEGU")) settings.loEgu = *value;
  if (auto value = source.String(kItemDefaults, "HiEGU")) settings.hiEgu = *value;
  if (auto value = source.String(kItemDefaults, "HardwareOptions")) {
    settings.hardwareOptions = IsNone(*value) ? std::string() : *value;
  }
  if (auto value = source.String(kGroupDefaults, "GeneratedGroupName")) settings.generatedGroupName = *value;
  return settings;
}

std::optional<int> ThreadPriorityFor(std::uint32_t code) {
  switch (code) {
    case 1: return -15;                       // idle
    case 2: case 5: case 11: return -2;       // lowest
    case 3: case 6: case 12: return -1;       // below normal
    case 4: case 7: case 13: return 0;        // normal
    case 8: case 14: return 1;                // above normal
    case 9: case 10: case 15: return 2;       // highest
    default: return std::nullopt;
  }
}

std::vector<SettingValue> SettingValues(const OpcSettings& settings) {
  // An empty HardwareOptions is what "NONE" reads as; write it back the same way.
  const std::string options = settings.hardwareOptions.empty() ? "NONE" : settings.hardwareOptions;
  return {
      {kServerDefaults, "ThreadSleepTime", true, settings.threadSleepTime, {}},
      {kServerDefaults, "ThreadPriority", true, settings.threadPriority, {}},
      {kItemDefaults, "AutoStart", true, settings.autoStart, {}},
      {kItemDefaults, "StringLength", true, settings.stringLength, {}},
      {kItemDefaults, "SignalConditioning", false, 0, settings.signalConditioning},
      {kItemDefaults, "LoEGU", false, 0, settings.loEgu},
      {kItemDefaults, "HiEGU", false, 0, settings.hiEgu},
      {kItemDefaults, "HardwareOptions", false, 0, options},
      {kGroupDefaults, "GeneratedGroupName", false, 0, settings.generatedGroupName},
  };
}

}  // namespace vrt::opc
