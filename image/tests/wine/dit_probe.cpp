// A process that uses the image mapping library in one flavour, for the
// multi-process tests. Built three times: dit_probe_nio.exe (the NIO
// library's flavour), dit_probe_editor.exe and dit_probe_driver.exe.
//
// Command mode (the default of the nio and editor probes; "--commands" for
// the driver probe) reads one command per line and answers one line each:
//   hdr             nio_map_hdr: "hdr ok C D P gen=G" or "hdr null"
//   dev N           nio_map_dev: "dev NAME" or "dev null"
//   startstop S     nio_StartStop: "startstop R"
//   cb              OpenDriverControlBlock(1): "cb ok" or "cb null"
//   log TEXT        LogMessage at attribute 70: "logged"
//   ring            ReadDriverMessage until empty: "msg A TEXT" lines, "end"
//   reload          nio_poll_reload: "reload gen=G"
//   cycle           the header's cycle counter: "cycle N" or "cycle null"
//   rec K           poll record K: "rec K status S W0 W1 ..." (up to 8 value words)
//   write K I V     raises a whole-word write of V to register I of record K,
//                   as a client does through the image: "write ok"
//   stats C         channel C's statistics words 2..22: "stats W2 W4 ... W22"
//   exit
//
// Serve mode (the driver probe's default, also when started as "DriverExe")
// behaves as a minimal driver: loads the image, counts AliveCount and the
// cycle counter every 10 ms, answers start and stop requests, reloads the
// image at every stop and ends at an exit request. "--hang-on-reload"
// announces the next generation at a stop and then stops counting, as a
// driver that dies while it loads.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "dit_api.h"
#include "lock_byte.h"
#include "log_message.h"
#include "shared_access.h"

namespace {

using namespace vrt;

void Answer(const std::string& line) {
  std::cout << line << std::endl;
}

void RecordStart() {
  // Evidence for the tests that a driver was started, where and how.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  FILE* file = std::fopen("probe_starts.txt", "a");
  if (file == nullptr) return;
  std::fprintf(file, "started show=%d useshow=%d\n", startup.wShowWindow,
               (startup.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0);
  std::fclose(file);
}

int Serve(bool hangOnReload) {
  RecordStart();
  DriverControlBlock* block = OpenDriverControlBlock(0);
  if (block == nullptr) return 2;
  SharedStore(block->KeepAlive, kKeepAliveValue);
  SharedStore(block->RunRequest, kRequestStart);
  DitHeader* header = nio_map_hdr();
  Answer(header ? "serving" : "no image");
  for (;;) {
    Sleep(10);
    SharedStore(block->AliveCount, SharedLoad(block->AliveCount) + 1);
    if (header != nullptr) header->cycleCounter = static_cast<std::uint16_t>(header->cycleCounter + 1);
    const std::uint16_t request = SharedLoad(block->RunRequest);
    const std::uint16_t state = SharedLoad(block->RunState);
    if (request == kRequestExit) {
      SharedStore(block->RunState, kStateExited);
      return 0;
    }
    if (request == kRequestStop && state != kStateStopped) {
      if (hangOnReload) {
        SharedStore(block->MapGeneration, NextMapGeneration(SharedLoad(block->MapGeneration)));
        for (;;) Sleep(1000);
      }
      nio_poll_reload();
      header = nio_map_hdr();
      SharedStore(block->RunState, kStateStopped);
    } else if (request == kRequestStart && state != kStateRunning) {
      SharedStore(block->RunState, kStateRunning);
    }
  }
}

int Commands() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t blank = line.find(' ');
    const std::string command = line.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (command == "hdr") {
      DitHeader* header = nio_map_hdr();
      if (header == nullptr) {
        Answer("hdr null");
        continue;
      }
      Answer("hdr ok " + std::to_string(ChannelCount()) + " " + std::to_string(DeviceCount()) + " " +
             std::to_string(PollRecordCount()) + " gen=" + std::to_string(ProcessMapping().AttachedGeneration()));
    } else if (command == "dev") {
      DitDevice* device = nio_map_dev(std::stoi(argument));
      Answer(device ? "dev " + DeviceName(*device, nio_map_hdr()->formatVersion) : "dev null");
    } else if (command == "startstop") {
      Answer("startstop " + std::to_string(nio_StartStop(std::stoi(argument))));
    } else if (command == "cb") {
      Answer(OpenDriverControlBlock(1) ? "cb ok" : "cb null");
    } else if (command == "log") {
      LogMessage(kAttrError, "%s", argument.c_str());
      Answer("logged");
    } else if (command == "ring") {
      const char* text = nullptr;
      int attribute = 0;
      while (ReadDriverMessage(&text, &attribute, 0)) Answer("msg " + std::to_string(attribute) + " " + text);
      Answer("end");
    } else if (command == "reload") {
      nio_poll_reload();
      Answer("reload gen=" + std::to_string(ProcessMapping().AttachedGeneration()));
    } else if (command == "cycle") {
      DitHeader* header = nio_map_hdr();
      Answer(header ? "cycle " + std::to_string(header->cycleCounter) : "cycle null");
    } else if (command == "rec") {
      const int k = std::stoi(argument);
      DitPollRecord* record = nio_map_dit(k);
      std::uint16_t size = 0;
      const std::uint8_t* values = record ? ProcessMapping().Image().Area(k, kValueArea, &size) : nullptr;
      if (values == nullptr) {
        Answer("rec null");
        continue;
      }
      std::string line = "rec " + std::to_string(k) + " status " + std::to_string(record->status);
      for (int i = 0; i < size / 2 && i < 8; ++i) {
        std::uint16_t word = 0;
        std::memcpy(&word, values + 2 * i, 2);
        line += " " + std::to_string(word);
      }
      Answer(line);
    } else if (command == "write") {
      int k = 0, index = 0, value = 0;
      std::sscanf(argument.c_str(), "%d %d %d", &k, &index, &value);
      DitPollRecord* record = nio_map_dit(k);
      DitPollRuntime* runtime = nio_map_ptr(k);
      std::uint8_t* writeValues = nio_find_data(k, kWriteValueArea);
      std::uint8_t* flags = nio_find_data(k, kWriteFlagArea);
      if (record == nullptr || runtime == nullptr || writeValues == nullptr || flags == nullptr ||
          index < 0 || index >= record->length) {
        Answer("write failed");
        continue;
      }
      std::uint16_t flag = 0;
      {
        LockByteGuard lock(record->dataLock, SystemMappingPlatform());
        const auto word = static_cast<std::uint16_t>(value);
        std::memcpy(writeValues + 2 * index, &word, 2);
        std::memcpy(&flag, flags + 2 * index, 2);
        const std::uint16_t whole = 0xFFFF;
        std::memcpy(flags + 2 * index, &whole, 2);
      }
      {
        LockByteGuard lock(runtime->entryLock, SystemMappingPlatform());
        if (flag == 0) runtime->pendingWrites = static_cast<std::uint16_t>(runtime->pendingWrites + 16);
        runtime->accessCountdown = static_cast<std::int32_t>(record->accessTime);
        runtime->accessExpired = 0;
      }
      Answer("write ok");
    } else if (command == "stats") {
      DitChannel* channel = nio_map_chan(std::stoi(argument));
      if (channel == nullptr) {
        Answer("stats null");
        continue;
      }
      const auto* words = reinterpret_cast<const std::uint16_t*>(&channel->statistics);
      std::string line = "stats";
      for (int i = 0; i < 11; ++i) line += " " + std::to_string(words[i]);
      Answer(line);
    } else if (command == "exit") {
      return 0;
    } else {
      Answer("unknown " + command);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool serve = false;
  bool hang = false;
#if defined(VRT_PROBE_DRIVER)
  serve = true;
#endif
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--commands") == 0) serve = false;
    if (std::strcmp(argv[i], "--hang-on-reload") == 0) hang = true;
  }
  return serve ? Serve(hang) : Commands();
}
