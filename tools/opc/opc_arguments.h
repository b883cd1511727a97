// The command line of the opc tool and the texts it prints for qualities,
// value types, error codes and numbers. No Windows here: the tool's Win32
// side talks to the OPC server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::tool {

enum class OpcCommand { kHelp, kStatus, kRead, kWrite, kItems, kWatch, kBrowse, kProps, kBrowse3, kDeadband };

struct OpcArguments {
  OpcCommand command = OpcCommand::kHelp;
  std::vector<std::string> operands;  // item IDs; for write the ID and the value; for browse the device
  bool device = false;                // read: from the device instead of the cache
  std::uint16_t requestedType = 0;    // --type as a VARTYPE; 0 (EMPTY) leaves it to the server
  // watch
  std::uint32_t updateRate = 1000;  // --rate, milliseconds
  float deadband = 0.0f;            // --deadband, percent of the item's range
  std::uint32_t seconds = 0;        // --seconds; 0 runs until Ctrl-C
  bool da1 = false;                 // --da1: data streams to an IAdviseSink instead of IOPCDataCallback
  // browse
  std::string filter;  // --filter, the server's browse filter; empty takes everything
  bool flat = false;   // --flat: every name below the position, as one list
  // DA 3.0
  std::optional<std::uint32_t> maxAge;      // read --max-age, milliseconds: IOPCItemIO::Read
  bool vqt = false;                         // write --vqt: IOPCItemIO::WriteVQT
  std::optional<std::uint16_t> quality;     // write --quality
  std::optional<std::uint64_t> timeStamp;   // write --time, as a FILETIME count (100 ns since 1601, UTC)
  std::optional<std::uint32_t> keepAlive;   // watch --keep-alive, milliseconds
  std::uint32_t maxElements = 0;            // browse3 --max; 0 leaves the page size to the server
  bool properties = false;                  // browse3 --props
  float percent = 0.0f;                     // deadband's PERCENT
  // Every command: where the client runs against the server.
  bool sta = false;          // --sta: this thread in a single-threaded apartment (calls through proxies)
  bool localServer = false;  // --local-server: the server in the system's surrogate process
};

// Parses argv[1..]. On a usage error returns nothing and sets `error`.
std::optional<OpcArguments> ParseOpcArguments(const std::vector<std::string>& words, std::string& error);

// "2026-12-08T14:00:00" or "2026-12-08T14:00:00.123" (UTC, a space may
// stand for the T) as a FILETIME count: 100 ns steps since 1601-01-01.
std::optional<std::uint64_t> FileTimeOfText(const std::string& text);

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

// The line read and watch print for a value:
// "ID = VALUE TYPE QUALITYTEXT [Q] TIME".
std::string ValueLine(const std::string& itemId, const std::string& value, std::uint16_t varType,
                      std::uint16_t quality, const std::string& time);

// browse inside a device: "ITEMID  (NAME)".
std::string BrowsedLeafLine(const std::string& itemId, const std::string& name);

// browse3: "NAME  item ITEMID", "NAME  branch" or "NAME  branch, item ITEMID"
// from the element's flags (1 has children, 2 is an item).
std::string BrowseElementLine(const std::string& name, const std::string& itemId, std::uint32_t flags);

// watch: the line that marks a keep-alive callback (an update with no items).
std::string KeepAliveLine(const std::string& time);

// deadband: "ID deadband P%: ok" or "ID deadband P%: error 0x........ TEXT".
std::string DeadbandResultLine(const std::string& itemId, float percent, std::uint32_t code, const std::string& text);

// props: "ID DESCRIPTION = VALUE", or "ID DESCRIPTION: error 0x........ TEXT"
// when the property could not be read.
std::string PropertyLine(std::uint32_t id, const std::string& description, const std::string& value);
std::string PropertyErrorLine(std::uint32_t id, const std::string& description, std::uint32_t code,
                              const std::string& text);

}  // namespace vrt::tool
