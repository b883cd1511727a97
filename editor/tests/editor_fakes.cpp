#include "editor_fakes.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "editor_text.h"

namespace vrt::editor::testing {

namespace {
std::atomic<int> folderCount{0};
}

ScratchFolder::ScratchFolder() {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  folder_ = std::filesystem::temp_directory_path() /
            ("vrt-editor-" + std::to_string(stamp) + "-" + std::to_string(folderCount++));
  std::filesystem::create_directories(folder_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void BuildSample(CDidDoc& doc, Reporter& reporter, int channels, int devicesPerChannel, int recordsPerDevice) {
  static const char* const kHardware[] = {"EVR420", "EVR410", "PRISMOTE", "ZOLT", "SELMARO", "TORAVINE"};
  static const char* const kDataTypes[] = {"Unsigned", "Signed", "Digital"};
  static const char* const kExceptions[] = {"Disabled", "Analog", "Digital", "ASCII"};
  auto must = [](int status) {
    if (status != 0) throw std::runtime_error("a sample value was refused: " + std::to_string(status));
  };
  int station = 0;
  for (int c = 0; c < channels; ++c) {
    CChannel& channel = *doc.AddChannel();
    must(channel.SetPortFromText(LinkRole::kPrimary, "COM" + std::to_string(c + 1) + ":", reporter));
    must(channel.SetBaudRateFromText(LinkRole::kPrimary, c % 2 == 0 ? "9600" : "19200", reporter));
    must(channel.SetParityFromText(LinkRole::kPrimary, c % 2 == 0 ? "None" : "Even", reporter));
    must(channel.SetReplyTimeoutFromText(LinkRole::kPrimary, "0.5", reporter));
    must(channel.SetDelayFromText(LinkRole::kPrimary, "5", reporter));
    must(channel.SetRetriesFromText(LinkRole::kPrimary, std::to_string(c % 10), reporter));
    must(channel.SetDisplayAlarmsFromText(c % 3 == 2 ? "No" : "Yes", reporter));
    for (int d = 0; d < devicesPerChannel; ++d) {
      auto device = std::make_unique<CDevice>();
      must(device->SetNameFromText("S" + std::to_string(c + 1) + "_" + std::to_string(d + 1), reporter));
      must(device->SetDescriptionFromText("Station " + std::to_string(station), reporter));
      must(device->SetHardwareTypeFromText(kHardware[(c + d) % 6], reporter));
      must(device->SetPrimaryStationFromText(std::to_string(station % 128), reporter, EntryPath::kView));
      must(device->SetQueueHeadFromText(std::to_string(1 + d % 4), reporter, EntryPath::kView));
      ++station;
      CDevice& attached = *channel.AttachDevice(std::move(device));
      for (int r = 0; r < recordsPerDevice; ++r) {
        auto record = std::make_unique<CPollRecord>();
        const int kind = (c + d + r) % 4;
        must(record->SetPollTimeFromText(r % 5 == 4 ? "Disabled" : "1.5", reporter, EntryPath::kCsv));
        must(record->SetExceptionFromText(kExceptions[kind], reporter));
        must(record->SetAccessTimeFromText(kind == 0 ? "300" : "Disabled", reporter, EntryPath::kCsv));
        must(record->SetDeadBandFromText(kind == 1 ? "0.5" : "0", reporter, EntryPath::kCsv));
        must(record->SetStartFromText("DIT:" + std::to_string((r * 20) % 2000), reporter, EntryPath::kCsv));
        must(record->SetLengthFromText(std::to_string(1 + r % 16), reporter, EntryPath::kCsv));
        must(record->SetDataTypeFromText(kDataTypes[r % 3], reporter));
        attached.AttachPollRecord(std::move(record));
      }
    }
  }
}

bool SameExceptSaveTime(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i >= 108 && i < 112) continue;
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace vrt::editor::testing
