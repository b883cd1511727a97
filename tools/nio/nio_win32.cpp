// nio: a command-line client of the NIO library. It loads VRTSTSR.dll and
// uses its exports as any client does; only the message ring is read from
// the driver control block itself, without taking messages from the reader
// the editor and the live view use.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control_block.h"
#include "nio_arguments.h"
#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace {

using vrt::tool::NioArguments;
using vrt::tool::NioCommand;
using vrt::tool::PointSettings;

// The library's exports, bound once it is loaded. Loading it attaches to
// the image (and may start the driver), so it is loaded only after the
// command line has been understood.
struct NioLibrary {
#define NIO_ENTRY(name) decltype(&::name) name = nullptr;
  NIO_ENTRY(nio_paddr)
  NIO_ENTRY(nio_daddr)
  NIO_ENTRY(nio_psig)
  NIO_ENTRY(nio_popt)
  NIO_ENTRY(nio_read)
  NIO_ENTRY(nio_send)
  NIO_ENTRY(nio_readEx)
  NIO_ENTRY(nio_sendEx)
  NIO_ENTRY(nio_enable_options)
  NIO_ENTRY(nio_on)
  NIO_ENTRY(nio_off)
  NIO_ENTRY(nio_fetch)
  NIO_ENTRY(nio_Enum_Devices)
  NIO_ENTRY(nio_Enum_PollRecs)
  NIO_ENTRY(nio_Free)
  NIO_ENTRY(nio_read_stats)
  NIO_ENTRY(nio_reset_stats)
  NIO_ENTRY(nio_get_ServerStatus)
  NIO_ENTRY(nio_CleanUp)
#undef NIO_ENTRY

  bool Load() {
    HMODULE module = LoadLibraryA("VRTSTSR.dll");
    if (module == nullptr) {
      std::fprintf(stderr, "nio: cannot load VRTSTSR.dll (error %lu)\n", GetLastError());
      return false;
    }
    bool complete = true;
    auto bind = [&](auto& entry, const char* name) {
      entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
          reinterpret_cast<void*>(GetProcAddress(module, name)));
      if (entry == nullptr) {
        std::fprintf(stderr, "nio: VRTSTSR.dll has no export %s\n", name);
        complete = false;
      }
    };
#define NIO_BIND(name) bind(name, #name);
    NIO_BIND(nio_paddr) NIO_BIND(nio_daddr) NIO_BIND(nio_psig) NIO_BIND(nio_popt) NIO_BIND(nio_read)
    NIO_BIND(nio_send) NIO_BIND(nio_readEx) NIO_BIND(nio_sendEx) NIO_BIND(nio_enable_options) NIO_BIND(nio_on)
    NIO_BIND(nio_off) NIO_BIND(nio_fetch) NIO_BIND(nio_Enum_Devices) NIO_BIND(nio_Enum_PollRecs)
    NIO_BIND(nio_Free) NIO_BIND(nio_read_stats) NIO_BIND(nio_reset_stats) NIO_BIND(nio_get_ServerStatus)
    NIO_BIND(nio_CleanUp)
#undef NIO_BIND
    return complete;
  }
};

NioLibrary nio;
volatile LONG interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&interrupted, 1);
  return TRUE;
}

// One point with the records the library works on.
struct Point : NioPoint {
  std::string text;
  bool notified = false;  // registered for change notification
  std::string lastShown;  // for points watched by polling
};

// Parses and conditions a point; prints why when it cannot.
bool SetUpPoint(Point& point, const PointSettings& settings) {
  std::uint16_t status = 0;
  point.valueSpec.valueKind = settings.valueKind;
  point.valueSpec.eguLow = settings.eguLow;
  point.valueSpec.eguSpan = settings.eguHigh - settings.eguLow;
  point.valueSpec.decimals = settings.decimals;
  nio.nio_paddr(&status, &point.block, &point.valueSpec, point.text.c_str());
  if (status == 0 && point.text.empty()) status = NIO_ADDRESS_ERROR;
  if (status != 0) {
    std::fprintf(stderr, "nio: %s: %s\n", point.text.c_str(), vrt::tool::StatusText(status).c_str());
    return false;
  }
  point.address.elementOffset = settings.elementOffset;
  if (point.valueSpec.valueKind == NIO_KIND_ANALOG) {
    if (!settings.signalConditioning.empty()) {
      nio.nio_psig(&status, &point.block, &point.valueSpec, settings.signalConditioning.c_str());
      if (status != 0) {
        std::fprintf(stderr, "nio: %s: %s\n", settings.signalConditioning.c_str(),
                     vrt::tool::StatusText(status).c_str());
        return false;
      }
    }
    if (!settings.hardwareOptions.empty()) {
      nio.nio_popt(&status, &point.block, &point.valueSpec, settings.hardwareOptions.c_str());
    }
  }
  return true;
}

std::string FormatTimeStamp(const FILETIME& stamp) {
  SYSTEMTIME time{};
  if ((stamp.dwLowDateTime == 0 && stamp.dwHighDateTime == 0) || !FileTimeToSystemTime(&stamp, &time)) return "";
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay,
                time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
  return text;
}

// Reads a point: "VALUE  quality Q (TEXT)", with the status when it is not
// 0 and the bit's time stamp for digital points. False when the call failed.
bool ReadPoint(Point& point, std::string& shown) {
  std::uint16_t status = 0;
  char text[64];
  if (point.valueSpec.valueKind == NIO_KIND_TEXT) {
    char characters[256] = {};
    NioValue value{0, 255, 0, characters};
    nio.nio_read(&status, &point.block, &point.valueSpec, &value);
    const std::string delivered(characters, status == 0 ? std::strlen(characters) : 0);
    std::snprintf(text, sizeof text, "  value status %u", value.valueStatus);
    shown = "\"" + delivered + "\"" + (value.valueStatus != 0 ? text : "");
  } else {
    VARIANT value;
    VariantInit(&value);
    FILETIME stamp{};
    std::uint16_t quality = 0;
    nio.nio_readEx(&status, &point.block, &point.valueSpec, &stamp, &quality, 0, &value);
    if (value.vt == VT_R4) {
      std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value.fltVal));
      shown = text;
    } else if (value.vt == VT_BOOL) {
      shown = value.boolVal != VARIANT_FALSE ? "1" : "0";
    } else {
      shown = "-";
    }
    std::snprintf(text, sizeof text, "  quality %u (", quality);
    shown += text + vrt::tool::QualityText(quality) + ")";
    if (point.valueSpec.valueKind == NIO_KIND_DIGITAL) {
      const std::string stamped = FormatTimeStamp(stamp);
      if (!stamped.empty()) shown += "  stamped " + stamped;
    }
    VariantClear(&value);
  }
  if (status != 0) shown += "  [" + vrt::tool::StatusText(status) + "]";
  return status == 0;
}

std::vector<std::unique_ptr<Point>> SetUpPoints(const NioArguments& arguments, std::size_t count, bool& allSet) {
  std::vector<std::unique_ptr<Point>> points;
  allSet = true;
  for (std::size_t i = 0; i < count; ++i) {
    auto point = std::make_unique<Point>();
    point->text = arguments.operands[i];
    if (SetUpPoint(*point, arguments.point)) {
      points.push_back(std::move(point));
    } else {
      allSet = false;
    }
  }
  return points;
}

int ReadCommand(const NioArguments& arguments) {
  bool allSet = true;
  auto points = SetUpPoints(arguments, arguments.operands.size(), allSet);
  bool allRead = true;
  for (auto& point : points) {
    std::string shown;
    allRead = ReadPoint(*point, shown) && allRead;
    std::printf("%s = %s\n", point->text.c_str(), shown.c_str());
  }
  return allSet && allRead ? 0 : 1;
}

int WriteCommand(const NioArguments& arguments) {
  bool allSet = true;
  auto points = SetUpPoints(arguments, 1, allSet);
  if (!allSet) return 1;
  Point& point = *points[0];
  const std::string& typed = arguments.operands[1];
  std::uint16_t status = 0;
  if (point.valueSpec.valueKind == NIO_KIND_TEXT) {
    if (typed.size() > 255) {
      std::fprintf(stderr, "nio: a text value has at most 255 characters\n");
      return 2;
    }
    std::string characters = typed;
    NioValue value{NIO_TAG_TEXT, static_cast<std::uint8_t>(characters.size()), 0, characters.data()};
    nio.nio_send(&status, &point.block, &point.valueSpec, &value);
  } else {
    VARIANT value;
    VariantInit(&value);
    if (point.valueSpec.valueKind == NIO_KIND_DIGITAL) {
      const auto bit = vrt::tool::ParseDigital(typed);
      if (!bit) {
        std::fprintf(stderr, "nio: \"%s\" is not a digital value (1/0, on/off, true/false)\n", typed.c_str());
        return 2;
      }
      value.vt = VT_BOOL;
      value.boolVal = *bit ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
      const auto number = vrt::tool::ParseNumber(typed);
      if (!number) {
        std::fprintf(stderr, "nio: \"%s\" is not a number\n", typed.c_str());
        return 2;
      }
      value.vt = VT_R8;
      value.dblVal = *number;
    }
    nio.nio_sendEx(&status, &point.block, &point.valueSpec, 0, 0, &value);
  }
  if (status != 0) {
    std::fprintf(stderr, "nio: write %s: %s\n", point.text.c_str(), vrt::tool::StatusText(status).c_str());
    return 1;
  }
  std::printf("%s <- %s (requested)\n", point.text.c_str(), typed.c_str());
  return 0;
}

std::string Now() {
  SYSTEMTIME time{};
  GetLocalTime(&time);
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", time.wHour, time.wMinute, time.wSecond,
                time.wMilliseconds);
  return text;
}

bool DeadlinePassed(ULONGLONG deadline) { return deadline != 0 && GetTickCount64() >= deadline; }

ULONGLONG DeadlineOf(double seconds) {
  return seconds > 0 ? GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0) : 0;
}

void ShowChange(Point& point) {
  std::string shown;
  ReadPoint(point, shown);
  point.lastShown = shown;
  std::printf("%s %s = %s\n", Now().c_str(), point.text.c_str(), shown.c_str());
  std::fflush(stdout);
}

int WatchCommand(const NioArguments& arguments) {
  bool allSet = true;
  auto points = SetUpPoints(arguments, arguments.operands.size(), allSet);
  if (points.empty()) return 1;
  nio.nio_enable_options(nullptr, NIO_OPTION_NOTIFICATION);
  const int count = static_cast<int>(points.size());
  for (int i = 0; i < count; ++i) {
    Point& point = *points[i];
    std::uint8_t key[4];
    vrt::tool::KeyOfPoint(i, key);
    std::uint16_t status = 0;
    const int characters = point.valueSpec.valueKind == NIO_KIND_TEXT ? 2 : 0;
    nio.nio_on(&status, &point.block, &point.valueSpec, key, characters);
    point.notified = status == NIO_REGISTERED;
    if (!point.notified) {
      std::fprintf(stderr, "nio: %s: no change notification (%s); read every %d ms instead\n", point.text.c_str(),
                   vrt::tool::StatusText(status).c_str(), arguments.intervalMs);
    }
    ShowChange(point);
  }
  const ULONGLONG deadline = DeadlineOf(arguments.seconds);
  constexpr int kKeysPerFetch = 64;
  std::uint8_t keys[kKeysPerFetch * NIO_KEY_SIZE];
  while (!interrupted && !DeadlinePassed(deadline)) {
    Sleep(static_cast<DWORD>(arguments.intervalMs));
    int fetched = 0;
    std::uint16_t status = 0;
    nio.nio_fetch(&status, nullptr, keys, kKeysPerFetch, &fetched);
    for (int k = 0; k < fetched; ++k) {
      const int index = vrt::tool::PointOfKey(keys + k * NIO_KEY_SIZE, count);
      if (index >= 0) ShowChange(*points[index]);
    }
    for (auto& point : points) {
      if (point->notified) continue;
      std::string shown;
      ReadPoint(*point, shown);
      if (shown != point->lastShown) ShowChange(*point);
    }
  }
  for (int i = 0; i < count; ++i) {
    if (!points[i]->notified) continue;
    std::uint8_t key[4];
    vrt::tool::KeyOfPoint(i, key);
    std::uint16_t status = 0;
    nio.nio_off(&status, &points[i]->block, &points[i]->valueSpec, key);
  }
  return allSet ? 0 : 1;
}

int ListCommand(const NioArguments& arguments) {
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  char* list = nullptr;
  nio.nio_Enum_Devices(&status, &count, &list);
  if (status != 0) {
    std::fprintf(stderr, "nio: devices: %s\n", vrt::tool::StatusText(status).c_str());
    return 1;
  }
  // Only the list returned last can be released, so the names are kept
  // and the list is released before the poll records are asked for.
  std::vector<std::string> devices;
  for (std::uint32_t i = 0; i < count; ++i) devices.emplace_back(list + i * NIO_ENUMERATION_SLOT);
  nio.nio_Free(list);
  if (!arguments.operands.empty()) devices = arguments.operands;
  int result = 0;
  for (const std::string& device : devices) {
    std::uint32_t records = 0;
    char* recordList = nullptr;
    nio.nio_Enum_PollRecs(&status, device.c_str(), &records, &recordList);
    if (status != 0) {
      std::fprintf(stderr, "nio: %s: no such device\n", device.c_str());
      result = 1;
      continue;
    }
    std::printf("%s\n", device.c_str());
    for (std::uint32_t i = 0; i < records; ++i) std::printf("  %s\n", recordList + i * NIO_ENUMERATION_SLOT);
    nio.nio_Free(recordList);
  }
  if (devices.empty()) std::printf("(no devices: is a configuration loaded?)\n");
  return result;
}

std::uint16_t Word(const std::uint8_t* block, int offset) {
  return static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
}

int StatsCommand(const NioArguments& arguments) {
  const int first = arguments.operands.empty() ? 0 : std::stoi(arguments.operands[0]) - 1;
  int shown = 0;
  for (int channel = first;; ++channel) {
    std::uint16_t status = 0;
    if (arguments.reset) nio.nio_reset_stats(&status, nullptr, channel);
    std::uint8_t block[NIO_STATISTICS_SIZE] = {};
    std::int16_t port = 0;
    nio.nio_read_stats(&status, nullptr, channel, &port, block);
    if (status != 0) break;
    ++shown;
    char portText[16] = "none";
    if (port >= 0) std::snprintf(portText, sizeof portText, "%d", port + 1);
    std::printf("channel %d  port %s  sent %u  received %u  retries %u  timeouts %u  naks/bad replies %u  "
                "last nak station %u\n",
                channel + 1, portText, Word(block, 2), Word(block, 4), Word(block, 6), Word(block, 8),
                Word(block, 22), Word(block, 14));
    if (!arguments.operands.empty()) break;
  }
  if (shown == 0) {
    std::fprintf(stderr, "nio: no channel %d in the image\n", first + 1);
    return 1;
  }
  return 0;
}

int StatusCommand() {
  char text[NIO_SERVER_TEXT_SIZE] = {};
  std::int32_t alive = -1;
  nio.nio_get_ServerStatus(text, &alive);
  Sleep(300);
  nio.nio_get_ServerStatus(text, &alive);
  std::printf("%s\n", text);
  if (alive < 0) {
    std::printf("no driver image\n");
    return 1;
  }
  std::printf(alive != 0 ? "driver alive\n" : "driver not cycling (stopped or hung)\n");
  return alive != 0 ? 0 : 1;
}

void PrintSlot(const vrt::DriverControlBlock& block, int slot) {
  const vrt::DriverMessageSlot& message = block.ring[slot];
  const int length = message.length < vrt::kRingTextMax ? message.length : vrt::kRingTextMax;
  if (length == 0) return;
  std::printf("[%2u] %.*s\n", message.attribute, length, message.text);
}

int MessagesCommand(const NioArguments& arguments) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, vrt::kControlBlockName);
  const auto* block =
      mapping ? static_cast<const vrt::DriverControlBlock*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (block == nullptr) {
    std::fprintf(stderr, "nio: no driver control block\n");
    return 1;
  }
  auto indexOf = [&] {
    const int index = block->MessageIndex;
    return index >= 0 && index < vrt::kRingSlots ? index : 0;
  };
  int next = indexOf();
  for (int i = 0; i < vrt::kRingSlots; ++i) PrintSlot(*block, (next + i) % vrt::kRingSlots);
  std::fflush(stdout);
  const ULONGLONG deadline = DeadlineOf(arguments.seconds);
  while (arguments.follow && !interrupted && !DeadlinePassed(deadline)) {
    Sleep(200);
    const int now = indexOf();
    for (; next != now; next = (next + 1) % vrt::kRingSlots) PrintSlot(*block, next);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string error;
  const auto arguments = vrt::tool::ParseNioArguments(words, error);
  if (!arguments) {
    std::fprintf(stderr, "nio: %s (nio --help shows the usage)\n", error.c_str());
    return 2;
  }
  if (arguments->command == NioCommand::kHelp) {
    std::fputs(vrt::tool::NioUsage(), stdout);
    return 0;
  }
  if (!nio.Load()) return 2;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  int result = 0;
  switch (arguments->command) {
    case NioCommand::kList: result = ListCommand(*arguments); break;
    case NioCommand::kRead: result = ReadCommand(*arguments); break;
    case NioCommand::kWrite: result = WriteCommand(*arguments); break;
    case NioCommand::kWatch: result = WatchCommand(*arguments); break;
    case NioCommand::kMessages: result = MessagesCommand(*arguments); break;
    case NioCommand::kStats: result = StatsCommand(*arguments); break;
    case NioCommand::kStatus: result = StatusCommand(); break;
    case NioCommand::kHelp: break;
  }
  std::uint16_t status = 0;
  nio.nio_CleanUp(&status);
  return result;
}
