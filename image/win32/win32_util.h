// Small Win32 helpers shared by the programs of the suite.
#pragma once

#include <windows.h>

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

// A string value under HKEY_LOCAL_MACHINE\Software\Kalvento\Tavex\Config,
// read into a buffer of 128 bytes as the programs always have.
bool ReadConfigRegistryString(const char* valueName, std::string* value);

}  // namespace vrt
