#include "dit_mapping.h"

#include <cstdio>
#include <cstring>

#include "log_message.h"
#include "shared_access.h"

namespace vrt {

DriverControlBlock* DitMapping::OpenDriverControlBlock(bool startFlag) {
  if (controlBlock_ != nullptr) return controlBlock_;
  bool created = false;
  DriverControlBlock* block = platform_.OpenControlBlock(kControlBlockName, created);
  if (block == nullptr) return nullptr;
  controlBlock_ = block;
  if (created) {
    InitialiseControlBlock(*block);
    if (startFlag) StartDriverProcess();
  }
  return controlBlock_;
}

int DitMapping::StartDriverProcess() {
  if (!platform_.LaunchDriver()) return 0;
  // The driver needs the time to create its image before anyone attaches.
  platform_.SleepMilliseconds(2000);
  return 1;
}

void DitMapping::Detach() {
  attached_ = false;
  if (view_.base != nullptr) platform_.ReleaseImage(view_);
  view_ = SharedView{};
  image_ = DitImage{};
  header_ = nullptr;
  lastMappedIndex_ = kNoLastMapped;
  lastMappedRecord_ = nullptr;
}

int DitMapping::MapToDIT(const char* acronym, int attachFlag) {
  if (controlBlock_ == nullptr) OpenDriverControlBlock(attachFlag != 0);
  if (controlBlock_ == nullptr) {
    LogMessage(kAttrError, "MapToDIT() failed to open driver pointer");
    return 0;
  }
  if (acronym == nullptr || std::strlen(acronym) != 3) {
    LogMessage(kAttrError, "MapToDIT() failed to open DIT Table - Bad Accronym");
    return 0;
  }
  const int generation = SharedLoad(controlBlock_->MapGeneration);
  char mapName[16];
  std::snprintf(mapName, sizeof mapName, "%s%d", acronym, generation);

  // A view left from an earlier attempt that failed validation goes first.
  Detach();
  if (attachFlag != 0) {
    view_ = platform_.AttachImage(mapName);
    if (view_.base == nullptr) return 0;
    return 1;
  }
  view_ = platform_.CreateImage(mapName, *controlBlock_);
  nameHeldTooSmall_ = view_.nameHeldTooSmall;
  if (view_.base == nullptr) return 0;
  attachedGeneration_ = generation;
  std::memset(controlBlock_->mapName, 0, sizeof controlBlock_->mapName);
  std::memcpy(controlBlock_->mapName, mapName, strnlen(mapName, sizeof controlBlock_->mapName - 1));
  return 1;
}

bool DitMapping::init_dit() {
  if (MapToDIT(kAcronym, flavour_.createsImage ? 0 : 1) == 0) return false;
  image_ = DitImage(view_.base, view_.size);
  const ImageCheck check = CheckImage(image_, flavour_.bounds);
  if (check != ImageCheck::kGood) {
    attached_ = false;
    header_ = nullptr;
    LogMessage(kAttrError, "%s", ImageCheckMessage(check));
    // The creator does not publish an image it refuses: clients would
    // attach to a mapping nobody serves.
    if (flavour_.createsImage) Detach();
    return false;
  }
  header_ = image_.Header();
  channelCount_ = header_->channelCount;
  deviceCount_ = header_->deviceCount;
  pollRecordCount_ = header_->pollRecordCount;
  attachedSaveTime_ = header_->saveTime;
  attached_ = true;
  attachedGeneration_ = controlBlock_ ? SharedLoad(controlBlock_->MapGeneration) : 0;
  lastMappedIndex_ = kNoLastMapped;
  lastMappedRecord_ = nullptr;
  return true;
}

void DitMapping::ReMapDIT() {
  if (controlBlock_ == nullptr) return;
  DriverControlBlock& block = *controlBlock_;
  if (attachedGeneration_ != SharedLoad(block.MapGeneration)) {
    Detach();
    platform_.SleepMilliseconds(10);
    if (SharedLoad(block.LoadedGeneration) != SharedLoad(block.MapGeneration)) {
      // The driver is still loading: wait for it while it shows signs of life.
      std::uint32_t remembered = SharedLoad(block.AliveCount);
      int passes = 0;
      while (SharedLoad(block.LoadedGeneration) != SharedLoad(block.MapGeneration)) {
        platform_.SleepMilliseconds(100);
        const std::uint32_t alive = SharedLoad(block.AliveCount);
        if (alive == remembered && passes > 10) {
          LogMessage(kAttrError, "ReMapDIT() Driver not running");
          return;
        }
        remembered = alive;
        ++passes;
      }
    }
    init_dit();
  } else if (attached_ && SharedLoad(block.LoadedGeneration) == SharedLoad(block.MapGeneration) &&
             ImageReplacedUnderView()) {
    // Generation numbers come round again (1, 2, 3, 1): after three reloads
    // without an access from this process the number matches, and the
    // driver, finding this process still holding the mapping of that name,
    // has loaded the new file into it. Attach afresh so that the counts and
    // the checks follow the new file.
    Detach();
    init_dit();
  }
  SharedStore(block.KeepAlive, kKeepAliveValue);
}

bool DitMapping::ImageReplacedUnderView() const {
  if (header_ == nullptr) return false;
  const std::uint32_t saveTime = header_->saveTime;
  return saveTime != attachedSaveTime_ || header_->channelCount != channelCount_ ||
         header_->deviceCount != deviceCount_ || header_->pollRecordCount != pollRecordCount_;
}

DitHeader* DitMapping::nio_map_hdr() {
  if (!attached_) {
    init_dit();
    if (!attached_) {
      platform_.SleepMilliseconds(100);
      init_dit();
      if (!attached_) {
        LogMessage(kAttrError, "nio_map_hdr() failed");
        return nullptr;
      }
    }
  }
  if (flavour_.followsGenerations) ReMapDIT();
  return header_;
}

DitChannel* DitMapping::nio_map_chan(int index) {
  DitChannel* channel = nullptr;
  if (nio_map_hdr() != nullptr && index >= 0 && index < channelCount_) channel = image_.Channel(index);
  if (channel == nullptr) LogMessage(kAttrError, "nio_map_chan(%d) NIOLIB Bad Handle", index);
  return channel;
}

DitDevice* DitMapping::nio_map_dev(int index) {
  DitDevice* device = nullptr;
  if (nio_map_hdr() != nullptr && index >= 0 && index < deviceCount_) device = image_.Device(index);
  if (device == nullptr) LogMessage(kAttrError, "nio_map_dev() NIOLIB Bad Handle");
  return device;
}

DitPollRuntime* DitMapping::nio_map_ptr(int index) {
  DitPollRuntime* runtime = nullptr;
  if (nio_map_hdr() != nullptr && index >= 0 && index < pollRecordCount_) runtime = image_.Runtime(index);
  if (runtime == nullptr) LogMessage(kAttrError, "nio_map_ptr() NIOLIB Bad Handle");
  return runtime;
}

DitPollRecord* DitMapping::nio_map_dit(int index) {
  DitPollRecord* record = nullptr;
  if (nio_map_ptr(index) != nullptr) record = image_.PollRecord(index);
  if (record == nullptr) {
    LogMessage(kAttrError, "nio_map_dit(%d) NIOLIB Bad Handle", index);
    return nullptr;
  }
  lastMappedIndex_ = index;
  lastMappedRecord_ = record;
  return record;
}

std::uint8_t* DitMapping::nio_find_data(int index, int area) {
  DitPollRecord* record = lastMappedRecord_;
  if (index != lastMappedIndex_ || record == nullptr) {
    LogMessage(kAttrWarning, "nio_find_data(%d,%d) different from map", index, area);
    record = nio_map_dit(index);
  }
  if (record == nullptr) {
    LogMessage(kAttrError, "nio_find_data(%d,%d) FAILED", index, area);
    return nullptr;
  }
  if (area < 1 || area > kAreaCount) return reinterpret_cast<std::uint8_t*>(record);
  std::uint8_t* data = image_.Area(index, area);
  if (data == nullptr) LogMessage(kAttrError, "nio_find_data(%d,%d) FAILED", index, area);
  return data;
}

namespace {

int IndexWithin(const DitChannel* channel, int first, int count, int number, int total) {
  if (channel == nullptr || number < 0 || number >= count) return -1;
  const int index = first + number;
  return index < total ? index : -1;
}

}  // namespace

int DitMapping::ChannelDeviceIndex(int channel, int number) {
  const DitChannel* record = nio_map_chan(channel);
  if (record == nullptr) return -1;
  return IndexWithin(record, record->firstDevice, record->deviceCount, number, deviceCount_);
}

int DitMapping::ChannelPollRecordIndex(int channel, int number) {
  const DitChannel* record = nio_map_chan(channel);
  if (record == nullptr) return -1;
  return IndexWithin(record, record->firstPollRecord, record->pollRecordCount, number, pollRecordCount_);
}

int DitMapping::ChannelCount() {
  if (channelCount_ == 0) nio_map_hdr();
  return channelCount_;
}

int DitMapping::nio_StartStop(int start) {
  LogMessage(kAttrActivity, "nio_StartStop()");
  if (controlBlock_ == nullptr) init_dit();
  if (controlBlock_ == nullptr) return 0;
  DriverControlBlock& block = *controlBlock_;
  const std::uint16_t request = start ? kRequestStart : kRequestStop;
  const std::uint16_t confirmation = start ? kStateRunning : kStateStopped;
  SharedStore(block.RunRequest, request);
  for (int poll = 0; poll < 100; ++poll) {
    platform_.SleepMilliseconds(50);
    if (SharedLoad(block.RunState) == confirmation) return 1;
  }
  LogMessage(kAttrError, "nio_stop() Failed !");
  return 0;
}

void DitMapping::nio_poll_reload() {
  Detach();
  // A client that sat out reloads may still hold the mapping whose name
  // comes next, too small for the new file. Clients follow MapGeneration
  // wherever it goes, so the driver moves on to the following name rather
  // than leave the plant without data until that client lets go.
  for (int attempt = 0; attempt < kReloadGenerations; ++attempt) {
    if (controlBlock_ != nullptr) {
      SharedStore(controlBlock_->MapGeneration, NextMapGeneration(SharedLoad(controlBlock_->MapGeneration)));
    }
    nameHeldTooSmall_ = false;
    init_dit();
    if (attached_ || !nameHeldTooSmall_ || controlBlock_ == nullptr) break;
  }
  if (controlBlock_ != nullptr) SharedStore(controlBlock_->LoadedGeneration, SharedLoad(controlBlock_->MapGeneration));
  LogMessage(kAttrActivity, "nio_poll_reload()");
}

int DitMapping::SetStartupConfigFile(const char* path) { return platform_.SetConfigFile(path) ? 1 : 0; }

int DitMapping::ReadDriverMessage(const char** text, int* attribute, int fileLogFlag) {
  if (controlBlock_ == nullptr) init_dit();
  if (controlBlock_ == nullptr) return 0;
  SharedStore(controlBlock_->MessagesEnabled, 1);
  if (fileLogFlag != 0) SharedStore(controlBlock_->FileLogEnabled, 1);
  return TakeRingMessage(*controlBlock_, text, attribute) ? 1 : 0;
}

}  // namespace vrt
