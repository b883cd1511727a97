// Loading and saving the document as a configuration file (the driver image
// layout), and the File commands' choice between the configuration and CSV
// by the file's extension.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor {

// The image limits a configuration must keep to.
inline constexpr int kMaxImageChannels = 32;
inline constexpr int kMaxImageDevices = 255;
inline constexpr int kMaxImagePollRecords = 10000;
// Configuration files are never near this size (10000 records of 64
// registers take about 130 MB).
inline constexpr std::size_t kMaxConfigurationFileSize = 512u * 1024u * 1024u;

struct ImageBuild {
  std::vector<std::uint8_t> bytes;  // empty when refused
  std::string error;                // the message when refused
};

// What a save writes: the document is pruned, the learn flags cleared and
// the poll records numbered, then the image is laid out by the image writer
// in format 279. Refused, with the document untouched, when the image could
// not hold the configuration (no poll record, too many records, devices or
// channels, a start address beyond the 11 bits of the address word).
ImageBuild BuildImage(CDidDoc& doc, std::uint32_t saveTime);

// Problems that would make BuildImage refuse, without changing anything:
// all of them, or only those of the counts.
std::string ImageLimitProblem(const CDidDoc& doc);
std::string ImageCountProblem(const CDidDoc& doc);

struct ImageLoad {
  bool ok = false;
  // The device record size the header gives, when it is not 124.
  std::optional<int> olderDeviceRecordSize;
};

// Reads the configuration from the bytes of a file, following the stored
// offsets. Every offset and index is checked against the file; a file that
// is short, points outside itself, counts more than an image may hold, or
// uses a device or poll record twice or not at all leaves the document
// cleared and gives ok = false.
ImageLoad LoadImage(CDidDoc& doc, std::span<const std::uint8_t> bytes);

// Save to a path: the start-up file question, the image, the file, and the
// document's new path. False, with the message shown, when nothing was
// saved.
bool SaveConfiguration(CDidDoc& doc, const std::string& path, EditorServices& services);

// Load a configuration file with its messages; the document is cleared
// when the file is corrupt.
bool LoadConfiguration(CDidDoc& doc, const std::string& path, EditorServices& services);

enum class FileKind { kConfiguration, kCsv, kOther };
// By extension, without regard to case: the acronym ("VRT") or "CSV".
FileKind KindOfPath(const std::string& path);

// The directory part of a path ("" when there is none), with its separator.
std::string DirectoryOf(const std::string& path);

}  // namespace vrt::editor
