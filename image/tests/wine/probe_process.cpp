#include "probe_process.h"

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "dit_mapping.h"
#include "shared_access.h"

namespace vrt::testing {

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string full(path);
  return full.substr(0, full.find_last_of('\\'));
}

std::string OtherBitnessDirectory() {
  char text[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("VRT_OTHER_BITNESS_BIN", text, sizeof text);
  if (length == 0 || length >= sizeof text) return "";
  std::string directory(text);
  std::replace(directory.begin(), directory.end(), '/', '\\');
  return directory;
}

int TimeScale() {
  static const int scale = [] {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("VRT_TIME_SCALE", text, sizeof text);
    const int value = length > 0 && length < sizeof text ? std::atoi(text) : 1;
    return std::clamp(value, 1, 100);
  }();
  return scale;
}

std::string StartProgram(const std::string& exe, const std::string& arguments, STARTUPINFOA& startup,
                         PROCESS_INFORMATION& process, bool inheritHandles, const std::string& directory) {
  std::string failure;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    std::string commandLine = "\"" + exe + "\" " + arguments;
    process = PROCESS_INFORMATION{};
    if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, inheritHandles, 0, nullptr,
                       directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
      return {};
    }
    if (!failure.empty()) failure += "; again: ";
    failure += "CreateProcess of " + exe + ": error " + std::to_string(GetLastError());
    std::fprintf(stderr, "%s\n", failure.c_str());
    std::fflush(stderr);
    if (attempt == 1) Sleep(1000);
  }
  return failure;
}

ProbeProcess::ProbeProcess(const std::string& exe, const std::string& arguments, const std::string& directory) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE childInput = nullptr;
  HANDLE childOutput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0) || !CreatePipe(&output_, &childOutput, &inherit, 0)) {
    startFailure_ = "CreatePipe: error " + std::to_string(GetLastError());
    return;
  }
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput;
  startup.hStdOutput = childOutput;
  startup.hStdError = childOutput;
  PROCESS_INFORMATION info{};
  startFailure_ = StartProgram(exe, arguments, startup, info, true, directory);
  if (startFailure_.empty()) {
    process_ = info.hProcess;
    CloseHandle(info.hThread);
  }
  CloseHandle(childInput);
  CloseHandle(childOutput);
  reader_ = std::thread([this] { ReadOutput(); });
}

ProbeProcess::~ProbeProcess() {
  Kill();
  if (input_ != nullptr) CloseHandle(input_);
  if (reader_.joinable()) reader_.join();
  if (output_ != nullptr) CloseHandle(output_);
  if (process_ != nullptr) CloseHandle(process_);
}

void ProbeProcess::ReadOutput() {
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(buffer, got);
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
      pending_.erase(0, end + 1);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pending_.empty()) lines_.push_back(pending_);  // a last line without its newline
  pending_.clear();
  outputEnded_ = true;
}

void ProbeProcess::Send(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ProbeProcess::Expect(const std::string& prefix, std::chrono::milliseconds timeout) {
  std::string found;
  WaitFor(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        while (consumed_ < lines_.size()) {
          const std::string& line = lines_[consumed_++];
          if (line.rfind(prefix, 0) == 0) {
            found = line;
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

std::string ProbeProcess::Ask(const std::string& command, const std::string& answerPrefix,
                              std::chrono::milliseconds timeout) {
  Send(command);
  return Expect(answerPrefix, timeout);
}

void ProbeProcess::Kill() {
  if (process_ != nullptr && Running()) {
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 5000);
  }
}

bool ProbeProcess::WaitForEnd(std::chrono::milliseconds timeout) {
  if (!WaitFor([&] { return !Running(); }, timeout)) return false;
  // The pipe ends with its last writer, normally the process itself: what it
  // wrote is read then. Bounded, should anything else still hold the pipe.
  WaitFor([&] { return outputEnded_.load(); }, std::chrono::seconds(5));
  return true;
}

bool ProbeProcess::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::vector<std::string> ProbeProcess::Output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

DriverControlBlock* OpenExistingControlBlock() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kControlBlockName);
  if (mapping == nullptr) return nullptr;
  // The handle stays open for the test's lifetime, keeping the block alive.
  return static_cast<DriverControlBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
}

bool MappingExists(const char* name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) return false;
  CloseHandle(mapping);
  return true;
}

void SetMachineValue(const char* key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

bool CopyMachineKeyToTheOtherView(const char* key) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const REGSAM other = (sizeof(void*) == 4 && wow64) ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  HKEY source = nullptr;
  HKEY target = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &source) != ERROR_SUCCESS) return false;
  bool copied = false;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | other, nullptr, &target, nullptr) ==
      ERROR_SUCCESS) {
    copied = RegCopyTreeA(source, nullptr, target) == ERROR_SUCCESS;
    RegCloseKey(target);
  }
  RegCloseKey(source);
  return copied;
}

void SetConfigValue(const char* name, const std::string& value) { SetMachineValue(kConfigRegistryKey, name, value); }

void DeleteConfigValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigRegistryKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
}

bool LockKeyAgainstWrites(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // Everyone is denied KEY_SET_VALUE and KEY_CREATE_SUB_KEY, and allowed
  // everything else.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x6;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                           &descriptor, nullptr)) {
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
  }
  RegCloseKey(key);
  HKEY writable = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &writable) == ERROR_SUCCESS) {
    RegCloseKey(writable);
    return false;
  }
  return true;
}

void InstallConfiguration(const std::string& path, const std::vector<std::uint8_t>& image) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  SetConfigValue(kConfigFileValue, path);
}

std::vector<std::string> RingMessages(const DriverControlBlock& block) {
  std::vector<std::string> messages;
  for (const DriverMessageSlot& slot : block.ring) {
    if (slot.length == 0) continue;
    messages.push_back(std::to_string(slot.attribute) + " " + std::string(slot.text, strnlen(slot.text, 124)));
  }
  return messages;
}

bool RingHas(const DriverControlBlock& block, const std::string& entry) {
  const std::vector<std::string> messages = RingMessages(block);
  return std::find(messages.begin(), messages.end(), entry) != messages.end();
}

}  // namespace vrt::testing
