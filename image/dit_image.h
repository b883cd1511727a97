// Locating records in a driver image held in memory (a mapping or the bytes
// of a file). Every locator checks the index against the header's counts and
// every stored offset against the size of the buffer: a corrupt image gives a
// null pointer, never a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dit_format.h"

namespace vrt {

class DitImage {
 public:
  DitImage() = default;
  DitImage(std::uint8_t* base, std::size_t size) : base_(base), size_(size) {}

  std::uint8_t* Base() const { return base_; }
  std::size_t Size() const { return size_; }

  // The header, or null when the buffer is too short to hold one.
  DitHeader* Header() const;

  // Counts as the header stores them (0 without a header).
  int ChannelCount() const;
  int DeviceCount() const;
  int PollRecordCount() const;

  DitChannel* Channel(int index) const;
  DitDevice* Device(int index) const;
  DitPollRuntime* Runtime(int index) const;
  // `count` consecutive runtime entries from `first`, checked once: null
  // when any of them lies outside the image (or count is not positive).
  DitPollRuntime* RuntimeRange(int first, int count) const;
  DitPollRecord* PollRecord(int index) const;

  // Data area 1..5 of a poll record with its stored size; null when the area
  // number is not 1..5 or the area leaves the buffer.
  std::uint8_t* Area(int pollRecordIndex, int area, std::uint16_t* size = nullptr) const;

  // `length` bytes at `offset` from the header start, or null when they do
  // not lie wholly inside the buffer.
  std::uint8_t* AtHeaderOffset(std::uint64_t offset, std::uint64_t length) const;

 private:
  std::uint8_t* base_ = nullptr;
  std::size_t size_ = 0;
};

// Device name and description as the image's version stores them.
std::string DeviceName(const DitDevice& device, std::uint32_t formatVersion);
std::string DeviceDescription(const DitDevice& device, std::uint32_t formatVersion);

// Result of checking an image when a process attaches to it.
enum class ImageCheck { kGood, kCorrupted, kBadCounts, kBadLock };

struct ImageBounds {
  int maxChannels;
  int maxDevices;
};
inline constexpr int kMaxPollRecords = 10000;

// Checks the header (version, counts, check byte, in that order) and then
// that every table, record and data area the image points to lies inside the
// buffer, that the stored area sizes hold the records' registers, that the
// index ranges stay inside the counts and that no record, area or table
// overlaps another or the header.
ImageCheck CheckImage(const DitImage& image, ImageBounds bounds);

// The attach message for a failed check: "init_dit() Corrupted file", ...
const char* ImageCheckMessage(ImageCheck check);

}  // namespace vrt
