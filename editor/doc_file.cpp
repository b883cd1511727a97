#include "doc_file.h"

#include <algorithm>
#include <cstring>

#include "dit_writer.h"
#include "editor_messages.h"
#include "editor_text.h"
#include "file_io.h"

namespace vrt::editor {

namespace {

// Bounds-checked reads at offsets relative to the header.
class ImageReader {
 public:
  explicit ImageReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Inside(std::uint64_t headerOffset, std::uint64_t size) const {
    const std::uint64_t start = kPreambleSize + headerOffset;
    return start <= bytes_.size() && size <= bytes_.size() - start;
  }

  template <typename Record>
  bool Read(std::uint64_t headerOffset, Record* out) const {
    if (!Inside(headerOffset, sizeof(Record))) return false;
    std::memcpy(out, bytes_.data() + kPreambleSize + headerOffset, sizeof(Record));
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// The data areas a record names must lie in the file too: a file cut short
// loses them first.
bool AreasInside(const ImageReader& reader, std::uint32_t recordOffset, const DitPollRecord& record) {
  for (const DitAreaDescriptor& area : record.areas) {
    if (!reader.Inside(static_cast<std::uint64_t>(recordOffset) + area.offset, area.size)) return false;
  }
  return true;
}

void ShowError(EditorServices& services, const std::string& text, const std::string& title = kProgramTitle) {
  services.ui.ShowMessage(text, title, MessageIcon::kError);
}

std::string ExtensionOf(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t separator = path.find_last_of("/\\");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
  return path.substr(dot + 1);
}

}  // namespace

std::string ImageCountProblem(const CDidDoc& doc) {
  int pollRecords = 0;
  int devices = 0;
  int channels = 0;
  int position = 0;
  for (const auto& channel : doc.Channels()) {
    ++position;
    for (const auto& device : channel->Devices()) {
      if (device->PollRecords().empty()) continue;
      ++devices;
      channels = position;
      pollRecords += static_cast<int>(device->PollRecords().size());
    }
  }
  if (pollRecords == 0) return msg::kSaveNoPollRecords;
  if (pollRecords > kMaxImagePollRecords) {
    return WithIntegers(msg::kSaveTooManyPollRecords, static_cast<std::uint32_t>(pollRecords), kMaxImagePollRecords);
  }
  if (devices > kMaxImageDevices) {
    return WithIntegers(msg::kSaveTooManyDevices, static_cast<std::uint32_t>(devices), kMaxImageDevices);
  }
  if (channels > kMaxImageChannels) {
    return WithIntegers(msg::kSaveTooManyChannels, static_cast<std::uint32_t>(channels), kMaxImageChannels);
  }
  return {};
}

std::string ImageLimitProblem(const CDidDoc& doc) {
  int number = 0;
  for (const auto& channel : doc.Channels()) {
    for (const auto& device : channel->Devices()) {
      for (const auto& record : device->PollRecords()) {
        ++number;
        // The address word holds 11 bits of start address: a larger one
        // would be saved as a different address.
        if (record->Settings().start.offset > kMaxStoredStart) {
          return WithTexts(msg::kSaveStartAddress, std::to_string(number), device->Name());
        }
      }
    }
  }
  return ImageCountProblem(doc);
}

ImageBuild BuildImage(CDidDoc& doc, std::uint32_t saveTime) {
  ImageBuild build;
  build.error = ImageLimitProblem(doc);
  if (!build.error.empty()) return build;

  doc.Prune();
  doc.NumberPollRecords();
  DitConfiguration configuration;
  for (const auto& channel : doc.Channels()) {
    channel->SetLearnAddresses(false);
    DitChannelSource& channelSource = configuration.channels.emplace_back();
    channel->StoreTo(channelSource.record);
    for (const auto& device : channel->Devices()) {
      DitDeviceSource& deviceSource = channelSource.devices.emplace_back();
      device->StoreTo(deviceSource.record);
      for (const auto& record : device->PollRecords()) record->StoreTo(deviceSource.pollRecords.emplace_back());
    }
  }
  DitWriteResult written = WriteDitImage(configuration, saveTime);
  if (written.bytes.empty()) {
    build.error = "Save Failed. " + written.error;
    return build;
  }
  build.bytes = std::move(written.bytes);
  return build;
}

ImageLoad LoadImage(CDidDoc& doc, std::span<const std::uint8_t> bytes) {
  ImageLoad load;
  const ImageReader reader(bytes);
  DitHeader header{};
  if (!reader.Read(0, &header)) {
    doc.Clear();
    return load;
  }
  if (header.deviceRecordSize != kDeviceRecordSize) load.olderDeviceRecordSize = header.deviceRecordSize;

  const int channelCount = header.channelCount;
  const int deviceCount = header.deviceCount;
  const int pollRecordCount = header.pollRecordCount;
  // Counts beyond what an image may hold mean a corrupt header.
  const bool countsPossible =
      channelCount >= 0 && channelCount <= kMaxImageChannels && pollRecordCount <= kMaxImagePollRecords;
  const bool tablesInside = countsPossible &&
                            reader.Inside(header.channelTableOffset, 4ull * static_cast<unsigned>(channelCount)) &&
                            reader.Inside(header.deviceTableOffset, 4ull * static_cast<unsigned>(deviceCount)) &&
                            reader.Inside(header.runtimeTableOffset,
                                          sizeof(DitPollRuntime) * static_cast<std::uint64_t>(pollRecordCount));
  if (!tablesInside) {
    doc.Clear();
    return load;
  }

  // Each device and poll record belongs to one owner: an index used twice
  // means a corrupt file (and would let absurd counts multiply the tree).
  std::vector<bool> deviceUsed(static_cast<std::size_t>(deviceCount), false);
  std::vector<bool> recordUsed(static_cast<std::size_t>(pollRecordCount), false);
  std::vector<std::unique_ptr<CChannel>> channels;
  int recordNumber = 0;
  for (int i = 0; i < channelCount; ++i) {
    std::uint32_t channelOffset = 0;
    DitChannel channelRecord{};
    if (!reader.Read(header.channelTableOffset + 4ull * static_cast<unsigned>(i), &channelOffset) ||
        !reader.Read(channelOffset, &channelRecord)) {
      doc.Clear();
      return load;
    }
    auto channel = std::make_unique<CChannel>();
    channel->LoadFrom(channelRecord);
    channel->SetNumber(i + 1);
    for (int j = channelRecord.firstDevice; j < channelRecord.firstDevice + channelRecord.deviceCount; ++j) {
      std::uint32_t deviceOffset = 0;
      DitDevice deviceRecord{};
      if (j >= deviceCount || deviceUsed[static_cast<std::size_t>(j)] ||
          !reader.Read(header.deviceTableOffset + 4ull * static_cast<unsigned>(j), &deviceOffset) ||
          !reader.Read(deviceOffset, &deviceRecord)) {
        doc.Clear();
        return load;
      }
      deviceUsed[static_cast<std::size_t>(j)] = true;
      auto device = std::make_unique<CDevice>();
      device->LoadFrom(deviceRecord, header.formatVersion);
      device->SetChannelNumber(i + 1);
      for (int k = deviceRecord.firstPollRecord; k < deviceRecord.firstPollRecord + deviceRecord.pollRecordCount;
           ++k) {
        DitPollRuntime runtime{};
        DitPollRecord pollRecord{};
        if (k >= pollRecordCount || recordUsed[static_cast<std::size_t>(k)] ||
            !reader.Read(header.runtimeTableOffset + sizeof(DitPollRuntime) * static_cast<std::uint64_t>(k),
                         &runtime) ||
            !reader.Read(runtime.recordOffset, &pollRecord) || !AreasInside(reader, runtime.recordOffset, pollRecord)) {
          doc.Clear();
          return load;
        }
        recordUsed[static_cast<std::size_t>(k)] = true;
        auto record = std::make_unique<CPollRecord>();
        record->LoadFrom(pollRecord);
        record->SetNumber(++recordNumber);
        device->AttachPollRecord(std::move(record));
      }
      channel->AttachDevice(std::move(device));
    }
    if (!channel->Devices().empty()) channel->SetCurrentDevice(channel->Devices().front().get());
    channels.push_back(std::move(channel));
  }

  // Devices or poll records that no owner names would be lost without a
  // word: the file is not what its header says.
  const bool allUsed = std::find(deviceUsed.begin(), deviceUsed.end(), false) == deviceUsed.end() &&
                       std::find(recordUsed.begin(), recordUsed.end(), false) == recordUsed.end();
  doc.Clear();
  if (!allUsed) return load;
  for (auto& channel : channels) doc.AppendChannel(std::move(channel));
  load.ok = true;
  return load;
}

bool SaveConfiguration(CDidDoc& doc, const std::string& path, EditorServices& services) {
  const std::string upper = UpperAscii(path);
  if (const std::optional<std::string> startup = services.settings.ConfigFile(); startup && *startup != upper) {
    const Answer answer = services.ui.Ask(WithStrings(msg::kNewStartupFile, upper, *startup),
                                          msg::kNewStartupFileTitle, Buttons::kYesNo, MessageIcon::kError);
    if (answer == Answer::kYes) services.settings.SetStartupConfigFile(upper);
  }

  ImageBuild build = BuildImage(doc, services.clock.SecondsSince1970());
  if (build.bytes.empty()) {
    ShowError(services, build.error);
    return false;
  }
  switch (WriteWholeFile(path, build.bytes, FileMode::kBinary)) {
    case WriteStatus::kOk: break;
    case WriteStatus::kCannotCreate:
    case WriteStatus::kAccessDenied: ShowError(services, msg::kFailedToOpen); return false;
    case WriteStatus::kDiskFull: ShowError(services, msg::kDiskFull); return false;
    case WriteStatus::kWriteFailed: ShowError(services, msg::kFailedToSave); return false;
  }
  doc.SetPath(upper);
  doc.SetModified(false);
  doc.SetReloadPending(true);
  return true;
}

bool LoadConfiguration(CDidDoc& doc, const std::string& path, EditorServices& services) {
  std::vector<std::uint8_t> bytes;
  const ReadStatus read = ReadWholeFile(path, kMaxConfigurationFileSize, bytes);
  if (read == ReadStatus::kCannotOpen) {
    ShowError(services, msg::kFailedToOpen);
    return false;
  }
  ImageLoad load;
  if (read == ReadStatus::kOk) load = LoadImage(doc, bytes);
  if (load.olderDeviceRecordSize) {
    ShowError(services, msg::kOlderFormat, WithDecimal(msg::kOlderFormatTitle, *load.olderDeviceRecordSize));
  }
  if (!load.ok) {
    doc.Clear();
    ShowError(services, msg::kFileOpenError, msg::kFileOpenErrorTitle);
    return false;
  }
  doc.SetPath(path);
  doc.SetModified(false);
  doc.SetSelectedChannel(0);
  return true;
}

FileKind KindOfPath(const std::string& path) {
  const std::string extension = ExtensionOf(path);
  if (EqualsIgnoringCase(extension, "VRT")) return FileKind::kConfiguration;
  if (EqualsIgnoringCase(extension, "CSV")) return FileKind::kCsv;
  return FileKind::kOther;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace vrt::editor
