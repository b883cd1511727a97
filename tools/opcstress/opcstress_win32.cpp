// opcstress: a concurrent OPC client for a running VRTOPC. Threads call
// every method of the server's interfaces in random order for a while and
// check each result; a thread that makes no call for the stall limit means
// the server hangs.
//
//   opcstress --items LIST [--seconds N] [--threads N] [--sta] [--local-server]
//             [--shared NAME,NAME] [--seed S] [--stall-seconds N]
//
// LIST: item IDs separated by commas, "PREFIX<first>..<last>" for a range.
// Exit status: 0 all results allowed, 1 a result outside them, 2 a stall
// (the process ends at once: the stalled threads never return), 3 usage or
// the server could not be created.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "opc_com_ptr.h"
#include "opc_da.h"
#include "stress_client_win32.h"
#include "stress_watch.h"
#include "vrtopc_identity.h"

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

int Usage(const char* why) {
  std::fprintf(stderr, "opcstress: %s\n", why);
  std::fprintf(stderr,
               "usage: opcstress --items LIST [--seconds N] [--threads N] [--sta] [--local-server] "
               "[--shared NAME,NAME] [--seed S] [--stall-seconds N]\n");
  return 3;
}

bool Number(const char* text, unsigned long& value, unsigned long most) {
  char* end = nullptr;
  value = std::strtoul(text, &end, 10);
  return end != text && *end == '\0' && value > 0 && value <= most;
}

}  // namespace

int main(int argc, char** argv) {
  vrt::tool::StressOptions options;
  unsigned long seconds = 30;
  unsigned long stallSeconds = 5;
  DWORD context = CLSCTX_INPROC_SERVER;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    const bool hasValue = k + 1 < argc;
    unsigned long number = 0;
    if (argument == "--sta") {
      options.staThread = true;
    } else if (argument == "--local-server") {
      context = CLSCTX_LOCAL_SERVER;
      options.throughProxies = true;
    } else if (argument == "--items" && hasValue) {
      const auto ids = vrt::tool::ExpandItemIds(argv[++k]);
      if (!ids || ids->empty()) return Usage("the item list is malformed");
      for (const std::string& id : *ids) options.itemIds.push_back(Wide(id));
    } else if (argument == "--shared" && hasValue) {
      const auto names = vrt::tool::ExpandItemIds(argv[++k]);
      if (!names) return Usage("the shared group list is malformed");
      for (const std::string& name : *names) options.sharedGroups.push_back(Wide(name));
    } else if ((argument == "--seconds" || argument == "--threads" || argument == "--seed" ||
                argument == "--stall-seconds") &&
               hasValue) {
      if (!Number(argv[++k], number, argument == "--seed" ? 0xFFFFFFFFul : 100000ul)) return Usage((argument + " takes a positive number").c_str());
      if (argument == "--seconds") seconds = number;
      if (argument == "--threads") options.mtaThreads = static_cast<unsigned>(number);
      if (argument == "--seed") options.seed = static_cast<unsigned>(number);
      if (argument == "--stall-seconds") stallSeconds = number;
    } else {
      return Usage(("unknown argument " + argument).c_str());
    }
  }
  if (options.itemIds.empty()) return Usage("--items is required");

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CLSID clsid;
  vrt::ComPtr<IOPCServer> server;
  HRESULT created = CLSIDFromProgID(kVrtOpcProgIdWide, &clsid);
  if (SUCCEEDED(created)) {
    created = CoCreateInstance(clsid, nullptr, context, IID_IOPCServer, server.OutVoid());
  }
  if (FAILED(created)) {
    std::fprintf(stderr, "opcstress: the server could not be created: 0x%08lX\n", static_cast<unsigned long>(created));
    CoUninitialize();
    return 3;
  }
  std::printf("opcstress: %u threads%s for %lu s\n", options.mtaThreads, options.staThread ? " and one STA" : "",
              seconds);
  std::fflush(stdout);

  vrt::tool::StressClient client(options);
  const HRESULT started = client.Start(server.Get());
  std::string failure = FAILED(started) ? "the threads could not start" : "";
  if (SUCCEEDED(started)) {
    ULONGLONG lastReport = GetTickCount64();
    failure = vrt::tool::WatchProgress(client, seconds * 1000ull, stallSeconds * 1000ull, [&]() -> std::string {
      if (GetTickCount64() - lastReport >= 5000) {
        lastReport = GetTickCount64();
        std::printf("calls %llu\n", static_cast<unsigned long long>(client.TotalCalls()));
        std::fflush(stdout);
      }
      return {};
    });
  }
  if (!failure.empty() && SUCCEEDED(started)) {
    std::printf("STALL: %s\n%s", failure.c_str(), vrt::tool::ThreadsReport(client).c_str());
    std::fflush(stdout);
    Sleep(10000);
    std::printf("ten seconds later:\n%s", vrt::tool::ThreadsReport(client).c_str());
    vrt::tool::EndStalledProcess(2);
  }
  if (failure.empty()) failure = client.Finish(stallSeconds * 1000ull);
  if (!failure.empty()) {
    std::printf("STALL: %s\n%s", failure.c_str(), vrt::tool::ThreadsReport(client).c_str());
    vrt::tool::EndStalledProcess(2);
  }
  const auto violations = client.Violations();
  std::printf("calls %llu\n", static_cast<unsigned long long>(client.TotalCalls()));
  for (std::size_t k = 0; k < client.ThreadCount(); ++k) {
    std::printf("thread %s: %llu calls\n", client.Thread(k).name.c_str(),
                static_cast<unsigned long long>(client.Thread(k).calls.load()));
  }
  for (const std::string& line : violations) std::printf("VIOLATION: %s\n", line.c_str());
  std::printf("%s\n", violations.empty() ? "opcstress: every result allowed" : "opcstress: results outside the allowed");
  std::fflush(stdout);
  server.Reset();
  CoUninitialize();
  return violations.empty() && failure.empty() ? 0 : 1;
}
