// Calls per second of VRTSTSR's data exports, loaded as a client loads the
// library, over the largest image (10000 poll records of 8 registers) served
// by a stand-in driver that only keeps the image alive (so the figures are
// the library's own, without polling traffic): nio_read and nio_readEx, then
// nio_send and nio_sendEx, on one point and round-robin over one point of
// every poll record.
//
//   nio_exports_bench.exe [--seconds S]   (S per figure, default 2)
#include <windows.h>
#include <oleauto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dit_mapping.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace {

using namespace std::chrono_literals;
using vrt::testing::ProbeProcess;
using vrt::testing::ProgramDirectory;

struct Exports {
  decltype(&::nio_paddr) paddr = nullptr;
  decltype(&::nio_psig) psig = nullptr;
  decltype(&::nio_read) read = nullptr;
  decltype(&::nio_readEx) readEx = nullptr;
  decltype(&::nio_send) send = nullptr;
  decltype(&::nio_sendEx) sendEx = nullptr;
  decltype(&::nio_Enum_Devices) enumDevices = nullptr;
  decltype(&::nio_Enum_PollRecs) enumPollRecs = nullptr;
  decltype(&::nio_Free) free = nullptr;
};

template <typename Entry>
bool Bind(HMODULE module, Entry& entry, const char* name) {
  entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (entry == nullptr) std::fprintf(stderr, "VRTSTSR.dll has no export %s\n", name);
  return entry != nullptr;
}

using Point = NioPoint;

// One analog 12BN point (EGU 0..100) on the first register of every poll
// record, found through the enumeration exports.
std::vector<Point> AllPoints(const Exports& nio) {
  std::uint16_t status = 0;
  std::uint32_t deviceCount = 0;
  char* devices = nullptr;
  nio.enumDevices(&status, &deviceCount, &devices);
  std::vector<std::string> names;
  for (std::uint32_t d = 0; d < deviceCount; ++d) names.emplace_back(devices + d * NIO_ENUMERATION_SLOT);
  nio.free(devices);
  std::vector<Point> points;
  for (const std::string& name : names) {
    std::uint32_t recordCount = 0;
    char* records = nullptr;
    nio.enumPollRecs(&status, name.c_str(), &recordCount, &records);
    for (std::uint32_t r = 0; r < recordCount; ++r) {
      const char* text = records + r * NIO_ENUMERATION_SLOT;  // "DIT:start - end"
      if (std::strncmp(text, "DIT:", 4) != 0) continue;
      const std::string address = name + ":DIT:" + std::to_string(std::atoi(text + 4));
      Point& point = points.emplace_back();
      point.valueSpec.valueKind = NIO_KIND_ANALOG;
      point.valueSpec.eguSpan = 100.0f;
      nio.paddr(&status, &point.block, &point.valueSpec, address.c_str());
      nio.psig(&status, &point.block, &point.valueSpec, "12BN");
      if (status != 0) points.pop_back();
    }
    nio.free(records);
  }
  return points;
}

// Calls `call(point)` for `seconds`, cycling over `count` points; calls/s.
template <typename Call>
double Rate(std::vector<Point>& points, std::size_t count, double seconds, Call call) {
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::size_t calls = 0;
  std::size_t next = 0;
  for (;;) {
    for (int i = 0; i < 1000; ++i) {
      call(points[next]);
      if (++next == count) next = 0;
    }
    calls += 1000;
    if (std::chrono::steady_clock::now() >= end) break;
  }
  return static_cast<double>(calls) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 2.0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  }
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "vrt-nio-bench.vrt";
  vrt::testing::InstallConfiguration(path, vrt::testing::LargestImage(vrt::kStatusGood));
  // In the temporary folder: the stand-in driver notes its starts in its working directory.
  ProbeProcess driver(ProgramDirectory() + "\\dit_probe_driver.exe", "", temp);
  if (driver.Expect("serving", 30s) != "serving") {
    std::fprintf(stderr, "the stand-in driver did not load the image\n");
    return 1;
  }

  HMODULE module = LoadLibraryA("VRTSTSR.dll");
  Exports nio;
  if (module == nullptr || !Bind(module, nio.paddr, "nio_paddr") || !Bind(module, nio.psig, "nio_psig") ||
      !Bind(module, nio.read, "nio_read") || !Bind(module, nio.readEx, "nio_readEx") ||
      !Bind(module, nio.send, "nio_send") || !Bind(module, nio.sendEx, "nio_sendEx") ||
      !Bind(module, nio.enumDevices, "nio_Enum_Devices") || !Bind(module, nio.enumPollRecs, "nio_Enum_PollRecs") ||
      !Bind(module, nio.free, "nio_Free")) {
    std::fprintf(stderr, "cannot use VRTSTSR.dll\n");
    return 1;
  }
  std::vector<Point> points = AllPoints(nio);
  if (points.size() < 10000) {
    std::fprintf(stderr, "only %zu points resolved\n", points.size());
    return 1;
  }
  std::printf("VRTSTSR data exports, %zu points (one per poll record), %.1f s per figure\n", points.size(),
              seconds);
  std::printf("%-12s %18s %22s\n", "call", "one point /s", "10000 points /s");

  std::uint16_t status = 0;
  int failures = 0;
  float number = 0.0f;
  auto read = [&](Point& point) {
    NioValue value{0, sizeof number, 0, &number};
    nio.read(&status, &point.block, &point.valueSpec, &value);
    failures += status != 0;
  };
  auto readEx = [&](Point& point) {
    VARIANT value;
    VariantInit(&value);
    FILETIME stamp{};
    std::uint16_t quality = 0;
    nio.readEx(&status, &point.block, &point.valueSpec, &stamp, &quality, 0, &value);
    failures += status != 0 || quality != NIO_QUALITY_GOOD;
  };
  float written = 42.0f;
  auto send = [&](Point& point) {
    NioValue value{NIO_TAG_FLOAT, sizeof written, 0, &written};
    nio.send(&status, &point.block, &point.valueSpec, &value);
    failures += status != 0;
  };
  auto sendEx = [&](Point& point) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 42.0;
    nio.sendEx(&status, &point.block, &point.valueSpec, 0, 0, &value);
    failures += status != 0;
  };
  auto row = [&](const char* name, auto call) {
    const double one = Rate(points, 1, seconds, call);
    const double all = Rate(points, points.size(), seconds, call);
    std::printf("%-12s %18.0f %22.0f\n", name, one, all);
    std::fflush(stdout);
  };
  row("nio_read", read);
  row("nio_readEx", readEx);
  row("nio_send", send);
  row("nio_sendEx", sendEx);
  if (failures != 0) {
    std::fprintf(stderr, "%d calls failed\n", failures);
    return 1;
  }
  return 0;
}
