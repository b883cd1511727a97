// Figures of VRTOPC through COM, as an OPC client in this process sees
// them, over the largest image (10000 poll records) served by a stand-in
// driver that only keeps the image alive, so that the figures are the
// server's and the library's own: IOPCSyncIO::Read of 1, 100 and 1000
// items from the cache and from the device, and AddItems of one item on
// every poll record. Beside them, the same reads of 1 and 100 items from a
// single-threaded apartment of this process and from this process to the
// server in the surrogate process, through the proxy/stub libraries. The
// DA 3.0 figures: IOPCBrowse over the whole address space (224 devices,
// 10000 poll records) in pages of 500 elements, following continuation
// points, and IOPCSyncIO2::ReadMaxAge from the cache (age 0xFFFFFFFF) of 1
// and 100 items beside IOPCSyncIO::Read from the cache of the same items.
//
//   opc_bench.exe [--seconds S]   (S per figure, default 2)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "opc_client.h"
#include "probe_process.h"
#include "sample_configuration.h"

namespace {

using namespace std::chrono_literals;
using vrt::testing::ComPtr;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Calls of `call` for `seconds`; calls per second.
template <typename Call>
double CallRate(double seconds, Call&& call) {
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::size_t calls = 0;
  do {
    call();
    ++calls;
  } while (std::chrono::steady_clock::now() < end);
  return static_cast<double>(calls) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Calls of `read` over `count` handles for `seconds`; calls per second.
double ReadRate(IOPCSyncIO& io, const std::vector<OPCHANDLE>& handles, std::size_t count, OPCDATASOURCE source,
                double seconds, int& failures) {
  return CallRate(seconds, [&] {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    if (io.Read(source, static_cast<DWORD>(count), const_cast<OPCHANDLE*>(handles.data()), &states, &errors) != S_OK) {
      ++failures;
    }
    if (states != nullptr) {
      for (std::size_t k = 0; k < count; ++k) {
        failures += states[k].wQuality != 192;
        VariantClear(&states[k].vDataValue);
      }
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
  });
}

// ReadMaxAge of `count` handles, each with `maxAge`, for `seconds`.
double ReadMaxAgeRate(IOPCSyncIO2& io, const std::vector<OPCHANDLE>& handles, std::size_t count, DWORD maxAge,
                      double seconds, int& failures) {
  std::vector<DWORD> ages(count, maxAge);
  return CallRate(seconds, [&] {
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    if (io.ReadMaxAge(static_cast<DWORD>(count), const_cast<OPCHANDLE*>(handles.data()), ages.data(), &values,
                      &qualities, &stamps, &errors) != S_OK) {
      ++failures;
    }
    for (std::size_t k = 0; k < count && values != nullptr && qualities != nullptr; ++k) {
      failures += qualities[k] != 192;
      VariantClear(&values[k]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(stamps);
    CoTaskMemFree(errors);
  });
}

// One branch browsed to its end in pages of `page` elements; adds the
// elements that are items and the branches to the counts, the calls to
// `calls`. False when a call failed.
bool BrowseToTheEnd(IOPCBrowse& browse, const std::wstring& branch, DWORD page, std::vector<std::wstring>& branches,
                    std::size_t& items, std::size_t& calls) {
  std::wstring name = branch;
  std::wstring noFilter;
  std::wstring noVendorFilter;
  DWORD noProperties = 0;
  LPWSTR point = nullptr;
  bool good = true;
  do {
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const HRESULT result = browse.Browse(name.data(), &point, page, OPC_BROWSE_FILTER_ALL, noFilter.data(),
                                         noVendorFilter.data(), FALSE, FALSE, 0, &noProperties, &more, &count,
                                         &elements);
    ++calls;
    good = SUCCEEDED(result) && count <= page;
    for (DWORD k = 0; k < count && elements != nullptr; ++k) {
      if ((elements[k].dwFlagValue & OPC_BROWSE_ISITEM) != 0) ++items;
      if ((elements[k].dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0) branches.emplace_back(elements[k].szItemID);
      CoTaskMemFree(elements[k].szName);
      CoTaskMemFree(elements[k].szItemID);
    }
    CoTaskMemFree(elements);
  } while (good && point != nullptr && point[0] != L'\0');
  CoTaskMemFree(point);
  return good;
}

// Reads of 1 and 100 items from the cache by a client in its own thread:
// in a single-threaded apartment (`sta`) and/or with the server out of
// process (`context` CLSCTX_LOCAL_SERVER). Prints one line per figure.
void OtherApartmentFigures(const char* label, bool sta, DWORD context, const std::vector<std::wstring>& ids,
                           double seconds, int& failures) {
  std::thread client([&] {
    CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    {
      ComPtr<IOPCServer> server;
      ComPtr<IOPCItemMgt> group;
      ComPtr<IOPCSyncIO> io;
      std::vector<vrt::testing::AddedItem> added;
      // The server, a group of the first 100 items and its read interface.
      auto reach = [&] {
        if (FAILED(vrt::testing::CreateServer(server, context)) ||
            FAILED(vrt::testing::AddGroup(*server.Get(), L"bench", group))) {
          return false;
        }
        HRESULT overall = E_FAIL;
        added = vrt::testing::AddItems(*group.Get(), std::vector<std::wstring>(ids.begin(), ids.begin() + 100), TRUE,
                                       VT_EMPTY, &overall);
        return overall == S_OK && SUCCEEDED(group.As(io));
      };
      if (!reach()) {
        std::printf("%-34s %s\n", label, "cannot be reached (proxies or surrogate missing?)");
        ++failures;
      } else {
        std::vector<OPCHANDLE> handles;
        for (const auto& item : added) handles.push_back(item.handle);
        for (std::size_t count : {std::size_t{1}, std::size_t{100}}) {
          const double calls = ReadRate(*io.Get(), handles, count, OPC_DS_CACHE, seconds, failures);
          char name[64];
          std::snprintf(name, sizeof name, "%zu item%s, %s", count, count == 1 ? "" : "s", label);
          std::printf("%-34s %14.0f %16.0f\n", name, calls, calls * static_cast<double>(count));
          std::fflush(stdout);
        }
      }
    }
    CoUninitialize();
  });
  client.join();
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 2.0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  }
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "vrt-opc-bench.vrt";
  vrt::testing::InstallConfiguration(path, vrt::testing::LargestImage(vrt::kStatusGood));
  vrt::testing::DeleteConfigValue(vrt::kDriverExeValue);
  // In the temporary folder: the stand-in driver notes its starts in its working directory.
  vrt::testing::ProbeProcess driver(vrt::testing::ProgramDirectory() + "\\dit_probe_driver.exe", "", temp);
  if (driver.Expect("serving", 30s) != "serving") {
    std::fprintf(stderr, "the stand-in driver did not load the image\n");
    return 1;
  }
  if (vrt::testing::RunRegsvr32(false) != 0) {
    std::fprintf(stderr, "regsvr32 VRTOPC.dll failed\n");
    return 1;
  }

  vrt::testing::ComApartment apartment;
  ComPtr<IOPCServer> server;
  HRESULT result = vrt::testing::CreateServer(server);
  if (FAILED(result)) {
    std::fprintf(stderr, "cannot create the OPC server: 0x%08lX\n", static_cast<unsigned long>(result));
    return 1;
  }
  ComPtr<IOPCItemMgt> group;
  if (FAILED(vrt::testing::AddGroup(*server.Get(), L"bench", group))) {
    std::fprintf(stderr, "AddGroup failed\n");
    return 1;
  }

  std::vector<std::wstring> ids;
  for (const std::string& address : vrt::testing::LargestImageAddresses()) ids.push_back(Wide(address));
  const auto start = std::chrono::steady_clock::now();
  HRESULT overall = E_FAIL;
  const auto added = vrt::testing::AddItems(*group.Get(), ids, TRUE, VT_EMPTY, &overall);
  const double addSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (overall != S_OK || added.size() != ids.size()) {
    std::fprintf(stderr, "AddItems of %zu items: 0x%08lX\n", ids.size(), static_cast<unsigned long>(overall));
    return 1;
  }
  std::vector<OPCHANDLE> handles;
  for (const auto& item : added) handles.push_back(item.handle);

  ComPtr<IOPCSyncIO> io;
  if (FAILED(group.As(io))) return 1;
  std::printf("VRTOPC through COM in process, largest image (%zu poll records), %.2f s per figure\n", ids.size(),
              seconds);
  std::printf("AddItems of %zu item IDs: %.3f s\n", ids.size(), addSeconds);
  std::printf("%-26s %14s %16s\n", "IOPCSyncIO::Read", "calls /s", "items /s");
  int failures = 0;
  for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
    for (std::size_t count : {std::size_t{1}, std::size_t{100}, std::size_t{1000}}) {
      const double calls = ReadRate(*io.Get(), handles, count, source, seconds, failures);
      char name[64];
      std::snprintf(name, sizeof name, "%zu item%s from %s", count, count == 1 ? "" : "s",
                    source == OPC_DS_CACHE ? "cache" : "device");
      std::printf("%-26s %14.0f %16.0f\n", name, calls, calls * static_cast<double>(count));
      std::fflush(stdout);
    }
  }
  ComPtr<IOPCSyncIO2> io2;
  if (FAILED(group.As(io2))) return 1;
  std::printf("%-34s %14s %16s\n", "DA 3.0 cache reads, in process", "calls /s", "items /s");
  for (std::size_t count : {std::size_t{1}, std::size_t{100}}) {
    const char* plural = count == 1 ? "" : "s";
    char name[64];
    const double maxAge = ReadMaxAgeRate(*io2.Get(), handles, count, 0xFFFFFFFF, seconds, failures);
    std::snprintf(name, sizeof name, "%zu item%s, ReadMaxAge(0xFFFFFFFF)", count, plural);
    std::printf("%-34s %14.0f %16.0f\n", name, maxAge, maxAge * static_cast<double>(count));
    const double cache = ReadRate(*io.Get(), handles, count, OPC_DS_CACHE, seconds, failures);
    std::snprintf(name, sizeof name, "%zu item%s, Read(OPC_DS_CACHE)", count, plural);
    std::printf("%-34s %14.0f %16.0f\n", name, cache, cache * static_cast<double>(count));
    std::fflush(stdout);
  }

  ComPtr<IOPCBrowse> browse;
  if (FAILED(server.As(browse))) return 1;
  const auto browseStart = std::chrono::steady_clock::now();
  std::vector<std::wstring> branches{L""};
  std::size_t browsedItems = 0;
  std::size_t browseCalls = 0;
  for (std::size_t b = 0; b < branches.size(); ++b) {
    const std::wstring branch = branches[b];  // the list grows as it is walked
    if (!BrowseToTheEnd(*browse.Get(), branch, 500, branches, browsedItems, browseCalls)) ++failures;
  }
  const double browseSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - browseStart).count();
  std::printf("IOPCBrowse of the whole space, pages of 500: %zu items below %zu branches, %zu calls, %.3f s\n",
              browsedItems, branches.size() - 1, browseCalls, browseSeconds);
  if (browsedItems != ids.size()) {
    std::fprintf(stderr, "browsing found %zu items, not %zu\n", browsedItems, ids.size());
    ++failures;
  }

  std::printf("%-34s %14s %16s\n", "IOPCSyncIO::Read from the cache", "calls /s", "items /s");
  OtherApartmentFigures("another thread (MTA)", false, CLSCTX_INPROC_SERVER, ids, seconds, failures);
  OtherApartmentFigures("an STA (proxies)", true, CLSCTX_INPROC_SERVER, ids, seconds, failures);
  OtherApartmentFigures("out of process", false, CLSCTX_LOCAL_SERVER, ids, seconds, failures);
  OtherApartmentFigures("out of process from an STA", true, CLSCTX_LOCAL_SERVER, ids, seconds, failures);
  if (failures != 0) {
    std::fprintf(stderr, "%d reads failed or were not good\n", failures);
    return 1;
  }
  return 0;
}
