// Built once per flavour: VRT_MAPPING_FLAVOUR_NIO, _EDITOR or _DRIVER.
#include "dit_api.h"

namespace vrt {

namespace {

#if defined(VRT_MAPPING_FLAVOUR_DRIVER)
constexpr const MappingFlavour& kFlavour = kDriverFlavour;
#elif defined(VRT_MAPPING_FLAVOUR_EDITOR)
constexpr const MappingFlavour& kFlavour = kEditorFlavour;
#elif defined(VRT_MAPPING_FLAVOUR_NIO)
constexpr const MappingFlavour& kFlavour = kNioFlavour;
#else
#error "Build the mapping library with one of VRT_MAPPING_FLAVOUR_NIO, _EDITOR or _DRIVER"
#endif

}  // namespace

DitMapping& ProcessMapping() {
  static DitMapping mapping(kFlavour, SystemMappingPlatform());
  return mapping;
}

int MapToDIT(const char* acronym, int attachFlag) { return ProcessMapping().MapToDIT(acronym, attachFlag); }
bool init_dit() { return ProcessMapping().init_dit(); }
void ReMapDIT() { ProcessMapping().ReMapDIT(); }
DitHeader* nio_map_hdr() { return ProcessMapping().nio_map_hdr(); }
DitChannel* nio_map_chan(int index) { return ProcessMapping().nio_map_chan(index); }
DitDevice* nio_map_dev(int index) { return ProcessMapping().nio_map_dev(index); }
DitPollRuntime* nio_map_ptr(int index) { return ProcessMapping().nio_map_ptr(index); }
DitPollRecord* nio_map_dit(int index) { return ProcessMapping().nio_map_dit(index); }
std::uint8_t* nio_find_data(int index, int area) { return ProcessMapping().nio_find_data(index, area); }
int ChannelDeviceIndex(int channel, int number) { return ProcessMapping().ChannelDeviceIndex(channel, number); }
int ChannelPollRecordIndex(int channel, int number) {
  return ProcessMapping().ChannelPollRecordIndex(channel, number);
}
int ChannelCount() { return ProcessMapping().ChannelCount(); }
int DeviceCount() { return ProcessMapping().DeviceCount(); }
int PollRecordCount() { return ProcessMapping().PollRecordCount(); }
DriverControlBlock* OpenDriverControlBlock(int startFlag) {
  return ProcessMapping().OpenDriverControlBlock(startFlag != 0);
}
int StartDriverProcess() { return ProcessMapping().StartDriverProcess(); }
int nio_StartStop(int start) { return ProcessMapping().nio_StartStop(start); }
void nio_poll_reload() { ProcessMapping().nio_poll_reload(); }
int SetStartupConfigFile(const char* path) { return ProcessMapping().SetStartupConfigFile(path); }
int ReadDriverMessage(const char** text, int* attribute, int fileLogFlag) {
  return ProcessMapping().ReadDriverMessage(text, attribute, fileLogFlag);
}

DriverControlBlock* DriverControl() { return ProcessMapping().ControlBlock(); }

}  // namespace vrt
