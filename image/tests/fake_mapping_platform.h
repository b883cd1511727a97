// An in-memory operating system for the mapping library: several
// DitMapping objects on one FakeSystem stand for several processes sharing
// named mappings, the registry and a clock that advances only when someone
// sleeps (and lets the other "processes" act while it does).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dit_mapping.h"
#include "log_message.h"

namespace vrt::testing {

using Bytes = std::vector<std::uint8_t>;

struct FakeSystem {
  std::map<std::string, std::weak_ptr<Bytes>> mappings;
  std::shared_ptr<Bytes> controlBlock;
  std::map<std::string, std::string> registry;
  std::map<std::string, Bytes> files;
  int launches = 0;
  std::uint64_t clock = 0;
  std::function<void()> onSleep;
};

class FakePlatform final : public MappingPlatform {
 public:
  explicit FakePlatform(FakeSystem& system) : system_(system) {}
  // Views go with the process.
  ~FakePlatform() override {
    for (auto* held : held_) delete held;
  }

  void SleepMilliseconds(unsigned milliseconds) override {
    system_.clock += milliseconds;
    if (system_.onSleep) system_.onSleep();
  }

  DriverControlBlock* OpenControlBlock(const char*, bool& created) override {
    created = system_.controlBlock == nullptr;
    if (created) system_.controlBlock = std::make_shared<Bytes>(kControlBlockSize, 0xAA);
    return reinterpret_cast<DriverControlBlock*>(system_.controlBlock->data());
  }

  bool LaunchDriver() override {
    if (!system_.registry.contains(kDriverExeValue)) return false;
    ++system_.launches;
    return true;
  }

  SharedView AttachImage(const char* mapName) override {
    std::shared_ptr<Bytes> mapping = system_.mappings[mapName].lock();
    if (mapping == nullptr) {
      LogMessage(kAttrWarning, "MapToDIT() Map %s Does not exist", mapName);
      return {};
    }
    return Hold(mapping);
  }

  SharedView CreateImage(const char* mapName, DriverControlBlock&) override {
    auto file = system_.files.find(system_.registry[kConfigFileValue]);
    if (file == system_.files.end()) return {};
    // As on Windows: while some process still holds a mapping of this name,
    // creating it opens that one, and the file is copied into it if it fits.
    if (std::shared_ptr<Bytes> existing = system_.mappings[mapName].lock()) {
      if (existing->size() < file->second.size()) {
        SharedView refused;
        refused.nameHeldTooSmall = true;
        return refused;
      }
      std::copy(file->second.begin(), file->second.end(), existing->begin());
      return Hold(existing);
    }
    auto mapping = std::make_shared<Bytes>(file->second);
    system_.mappings[mapName] = mapping;
    return Hold(mapping);
  }

  void ReleaseImage(SharedView& view) override {
    auto* held = static_cast<std::shared_ptr<Bytes>*>(view.handle);
    std::erase(held_, held);
    delete held;
    view = {};
  }

  bool SetConfigFile(const char* path) override {
    system_.registry[kConfigFileValue] = path;
    return true;
  }

 private:
  SharedView Hold(const std::shared_ptr<Bytes>& mapping) {
    held_.push_back(new std::shared_ptr<Bytes>(mapping));
    return SharedView{mapping->data(), mapping->size(), held_.back()};
  }
  FakeSystem& system_;
  std::vector<std::shared_ptr<Bytes>*> held_;
};

// One process using the library in a given flavour.
struct Process {
  Process(FakeSystem& system, const MappingFlavour& flavour) : platform(system), mapping(flavour, platform) {}
  FakePlatform platform;
  DitMapping mapping;
};

}  // namespace vrt::testing
