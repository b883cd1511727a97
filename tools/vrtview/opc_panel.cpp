#include "opc_panel.h"

#include <cstdio>

#include "opc_arguments.h"

namespace vrt::view {

std::vector<std::string> SplitOpcItemList(const std::string& list) {
  std::vector<std::string> ids;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string piece = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const bool continues = piece.find(':') == std::string::npos && !ids.empty() &&
                           ids.back().find('|') != std::string::npos;
    if (continues) {
      ids.back() += "," + piece;  // a conditioning field, empty ones too
    } else if (!piece.empty()) {
      ids.push_back(piece);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return ids;
}

std::string CodeText(std::uint32_t code) { return tool::HresultText(code); }

OpcPanel::OpcPanel(std::vector<std::string> itemIds) : itemIds_(std::move(itemIds)), entries_(itemIds_.size()) {}

void OpcPanel::SetFailure(std::string line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  failure_ = std::move(line);
}

void OpcPanel::SetAddResult(std::size_t index, std::uint32_t code) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index >= entries_.size()) return;
  entries_[index].error = (code & 0x80000000u) != 0 ? code : 0;
}

void OpcPanel::Update(std::uint32_t clientHandle, std::string value, std::uint16_t quality, std::string changed,
                      std::string arrived) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (clientHandle == 0 || clientHandle > entries_.size()) return;
  Entry& entry = entries_[clientHandle - 1];
  entry.error = 0;
  entry.hasValue = true;
  entry.value = std::move(value);
  entry.quality = quality;
  entry.changed = std::move(changed);
  entry.arrived = std::move(arrived);
}

void OpcPanel::UpdateError(std::uint32_t clientHandle, std::uint32_t code) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (clientHandle == 0 || clientHandle > entries_.size()) return;
  entries_[clientHandle - 1].error = code;
}

std::vector<std::string> OpcPanel::Lines(std::optional<std::uint32_t> bandwidth) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!failure_.empty()) return {failure_};
  std::vector<std::string> lines;
  lines.push_back("OPC subscription (bandwidth " + (bandwidth ? std::to_string(*bandwidth) : std::string("?")) +
                  " %)");
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    const std::string& id = itemIds_[i];
    if (entry.error != 0) {
      lines.push_back("  " + id + ": error " + CodeText(entry.error));
    } else if (!entry.hasValue) {
      lines.push_back("  " + id + " = (no value yet)");
    } else {
      lines.push_back("  " + id + " = " + entry.value + "  quality " + std::to_string(entry.quality) + " (" +
                      tool::OpcQualityText(entry.quality) + ")  changed " + entry.changed + "  arrived " +
                      entry.arrived);
    }
  }
  return lines;
}

}  // namespace vrt::view
