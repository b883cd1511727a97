// The command line of the opc tool and the texts it prints for qualities,
// value types, error codes and numbers. No Windows here: the tool's Win32
// side talks to the OPC server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::tool {

enum class OpcCommand { kHelp, kStatus, kRead, kWrite, kItems };

struct OpcArguments {
  OpcCommand command = OpcCommand::kHelp;
  std::vector<std::string> operands;  // item IDs; for write the ID and the value
  bool device = false;                // read: from the device instead of the cache
  std::uint16_t requestedType = 0;    // --type as a VARTYPE; 0 (EMPTY) leaves it to the server
};

// Parses argv[1..]. On a usage error returns nothing and sets `error`.
std::optional<OpcArguments> ParseOpcArguments(const std::vector<std::string>& words, std::string& error);

// The text --help prints.
const char* OpcUsage();

// The VARTYPE of a --type name (EMPTY, BOOL, I2, I4, R4, R8, BSTR; any case).
std::optional<std::uint16_t> VarTypeOfName(const std::string& name);
// "R4" and the like; "VT n" for the types the tool has no name for.
std::string VarTypeName(std::uint16_t varType);

// "good", "bad: communication failure", ... from the quality and sub-status
// bits of the low byte; the limit bits and the high byte do not change it.
std::string OpcQualityText(std::uint16_t quality);

// "0xC0040007".
std::string HresultText(std::uint32_t code);

// "running", "no configuration", ... for OPCSERVERSTATUS's state.
std::string ServerStateText(std::uint32_t state);

// A floating-point value as the shortest text that reads back as the same
// number ("12.5", "0.1", "1e+20"), so that the R4 0.1 does not show as
// 0.100000001 and nothing is rounded away either.
std::string RealText(float value);
std::string RealText(double value);

// "ID: error 0xC0040007 TEXT" with the server's text, whose line ends (and
// any trailing blanks) are cut off so that every item stays on one line.
std::string ItemErrorLine(const std::string& itemId, std::uint32_t code, const std::string& text);
// "ID <- VALUE: ok" or "ID <- VALUE: error 0x........ TEXT".
std::string WriteResultLine(const std::string& itemId, const std::string& value, std::uint32_t code,
                            const std::string& text);

}  // namespace vrt::tool
