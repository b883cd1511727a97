// The image mapping library: creates or attaches the shared driver image,
// validates it, hands out bounds-checked pointers to its records, follows the
// driver when it reloads the image under the next generation name, and talks
// to the running driver through the driver control block.
//
// One source serves three programs, each with its own flavour: the NIO
// library and the editor attach (with different bounds), the poll driver
// creates the image from the configuration file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "control_block.h"
#include "dit_image.h"
#include "lock_byte.h"

namespace vrt {

// Registry: HKEY_LOCAL_MACHINE\Software\Kalvento\Tavex\Config.
inline constexpr const char* kConfigRegistryKey = "Software\\" "Kalvento\\Tavex\\" "Config";
inline constexpr const char* kConfigFileValue = "ConfigFile";
inline constexpr const char* kDriverExeValue = "DriverExe";
inline constexpr std::size_t kRegistryPathBuffer = 128;

struct MappingFlavour {
  bool createsImage;        // the driver: create the image from the file
  ImageBounds bounds;       // channel and device counts accepted at attach
  bool followsGenerations;  // nio_map_hdr checks for a reload (ReMapDIT)
};

inline constexpr MappingFlavour kNioFlavour{false, {32, 1024}, true};
inline constexpr MappingFlavour kEditorFlavour{false, {15, 255}, true};
inline constexpr MappingFlavour kDriverFlavour{true, {32, 1024}, false};

struct SharedView {
  std::uint8_t* base = nullptr;
  std::size_t size = 0;
  void* handle = nullptr;  // the platform's handle of the mapping
  // CreateImage only: the name is still held by a process (a client that sat
  // out reloads) with a mapping too small for the file.
  bool nameHeldTooSmall = false;
};

// What the library needs of the operating system. The Win32 implementation
// reports its own failures through LogMessage with the system's error texts.
class MappingPlatform : public Sleeper {
 public:
  // Creates or opens the named control block of kControlBlockSize bytes that
  // every account may open. Null on failure; `created` tells whether this
  // call created it.
  virtual DriverControlBlock* OpenControlBlock(const char* name, bool& created) = 0;
  // Starts the program registered as "DriverExe", hidden and detached.
  // False when no program is registered.
  virtual bool LaunchDriver() = 0;
  // Attaches to an existing image mapping; an empty view when there is none.
  virtual SharedView AttachImage(const char* mapName) = 0;
  // Creates the image mapping from the file registered as "ConfigFile" and
  // records the file's path in the control block.
  virtual SharedView CreateImage(const char* mapName, DriverControlBlock& block) = 0;
  virtual void ReleaseImage(SharedView& view) = 0;
  // Writes "ConfigFile" in the registry.
  virtual bool SetConfigFile(const char* path) = 0;
};

inline constexpr int kNoLastMapped = 9999;

class DitMapping {
 public:
  DitMapping(const MappingFlavour& flavour, MappingPlatform& platform) : flavour_(flavour), platform_(platform) {}

  int MapToDIT(const char* acronym, int attachFlag);
  bool init_dit();
  void ReMapDIT();
  DitHeader* nio_map_hdr();
  DitChannel* nio_map_chan(int index);
  DitDevice* nio_map_dev(int index);
  DitPollRuntime* nio_map_ptr(int index);
  DitPollRecord* nio_map_dit(int index);
  std::uint8_t* nio_find_data(int index, int area);
  int ChannelDeviceIndex(int channel, int number);
  int ChannelPollRecordIndex(int channel, int number);
  int ChannelCount();
  int DeviceCount() const { return deviceCount_; }
  int PollRecordCount() const { return pollRecordCount_; }
  DriverControlBlock* OpenDriverControlBlock(bool startFlag);
  int StartDriverProcess();
  int nio_StartStop(int start);
  void nio_poll_reload();
  int SetStartupConfigFile(const char* path);
  int ReadDriverMessage(const char** text, int* attribute, int fileLogFlag);

  DriverControlBlock* ControlBlock() const { return controlBlock_; }
  const DitImage& Image() const { return image_; }
  bool Attached() const { return attached_; }
  int AttachedGeneration() const { return attachedGeneration_; }

 private:
  void Detach();
  bool ImageReplacedUnderView() const;

  const MappingFlavour flavour_;
  MappingPlatform& platform_;
  DriverControlBlock* controlBlock_ = nullptr;
  SharedView view_;
  DitImage image_;
  DitHeader* header_ = nullptr;
  bool attached_ = false;
  int channelCount_ = 0;
  int deviceCount_ = 0;
  int pollRecordCount_ = 0;
  int attachedGeneration_ = 0;
  std::uint32_t attachedSaveTime_ = 0;
  bool nameHeldTooSmall_ = false;  // the last CreateImage found its name held and too small
  // Reloads go round the names 1, 2, 3: at most that many to try.
  static constexpr int kReloadGenerations = 3;
  int lastMappedIndex_ = kNoLastMapped;
  DitPollRecord* lastMappedRecord_ = nullptr;
};

}  // namespace vrt
