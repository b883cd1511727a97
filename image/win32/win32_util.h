// Small Win32 helpers shared by the programs of the suite.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vrt {

// Security attributes with a null DACL: every account gets full access, so
// processes of other users (services, the SCADA host) can open the object.
class OpenSecurity {
 public:
  OpenSecurity();
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// The system's text for an error number, without its line break.
std::string SystemErrorText(DWORD error);

// This program's file name (the module path after its last backslash).
std::string ModuleFileName();
// This program's directory (the module path before its last backslash).
std::string ModuleDirectory();

// A string value under HKEY_LOCAL_MACHINE\Software\Kalvento\Tavex\Config,
// read into a buffer of 128 bytes as the programs always have.
bool ReadConfigRegistryString(const char* valueName, std::string* value);

// String and count (REG_DWORD) values under `root`\`key`; an empty `name`
// is the key's default value. Writing creates the key.
std::optional<std::string> ReadString(HKEY root, const std::string& key, const std::string& name);
bool WriteString(HKEY root, const std::string& key, const std::string& name, const std::string& value);
std::optional<std::uint32_t> ReadCount(HKEY root, const std::string& key, const std::string& name);
bool KeyExists(HKEY root, const std::string& key);

}  // namespace vrt
