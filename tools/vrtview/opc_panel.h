// The live view's OPC section: the items it subscribes to through the OPC
// server, the latest value of each as the server's callback delivered it,
// and the lines the view prints for them. No Windows here; the callback
// (on the server's thread) and the view's refresh (on the main thread) meet
// in this object, under its lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vrt::view {

// What the view subscribes to when --opc-items is not given: an analog and a
// signed analog value, a digital point and a text, one of each kind.
inline constexpr char kDefaultOpcItems[] = "PUMPS:DIT:2,PUMPS:DIT:101,VALVES:DIT:0:8,TURBINE:DIT:50$8";

// The item IDs of a --opc-items list, split at its commas. Conditioning
// fields have commas of their own ("PUMPS:DIT:100|LIN,0.00,100,,degC"), and
// every item ID starts with an address, which has colons; so a piece without
// a colon continues an item that has conditioning fields. Other empty pieces
// are dropped.
std::vector<std::string> SplitOpcItemList(const std::string& list);

// "0xC0040007".
std::string CodeText(std::uint32_t code);

class OpcPanel {
 public:
  // Item i has the client handle i + 1.
  explicit OpcPanel(std::vector<std::string> itemIds);
  OpcPanel(const OpcPanel&) = delete;
  OpcPanel& operator=(const OpcPanel&) = delete;

  const std::vector<std::string>& ItemIds() const { return itemIds_; }

  // The subscription could not be set up: the section is this one line
  // ("OPC: server not available (0x80040154)").
  void SetFailure(std::string line);
  // What AddItems answered for item `index`; a failure shows instead of a value.
  void SetAddResult(std::size_t index, std::uint32_t code);
  // A value from the server's callback; handles that are not the view's are
  // ignored. `changed` is the item's own time stamp, `arrived` the local
  // time the callback came, both as "hh:mm:ss.mmm".
  void Update(std::uint32_t clientHandle, std::string value, std::uint16_t quality, std::string changed,
              std::string arrived);
  // The callback reported an error for the item instead of a value.
  void UpdateError(std::uint32_t clientHandle, std::uint32_t code);

  // The section: "OPC subscription (bandwidth N %)" (N "?" when the server's
  // status could not be read) and one line per item, or the failure line.
  std::vector<std::string> Lines(std::optional<std::uint32_t> bandwidth) const;

 private:
  struct Entry {
    std::uint32_t error = 0;  // from AddItems or the callback; 0 when none
    bool hasValue = false;
    std::string value;
    std::uint16_t quality = 0;
    std::string changed;
    std::string arrived;
  };

  std::vector<std::string> itemIds_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::string failure_;
};

}  // namespace vrt::view
