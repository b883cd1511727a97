// The image mapping library as the programs call it: one process-wide
// mapping in the flavour the program was built with (NIO library, editor or
// driver). Indices are global (devices and poll records over all channels).
#pragma once

#include <cstdint>

#include "control_block.h"
#include "dit_format.h"
#include "dit_mapping.h"

namespace vrt {

// The process's mapping state.
DitMapping& ProcessMapping();

// The operating system's side of the mapping library (Win32 builds).
MappingPlatform& SystemMappingPlatform();

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
int DeviceCount();
int PollRecordCount();
DriverControlBlock* OpenDriverControlBlock(int startFlag);
int StartDriverProcess();
int nio_StartStop(int start);
void nio_poll_reload();
int SetStartupConfigFile(const char* path);
int ReadDriverMessage(const char** text, int* attribute, int fileLogFlag);

// The control block when this process has opened it, else null.
DriverControlBlock* DriverControl();

}  // namespace vrt
