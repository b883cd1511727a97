#include "window_testing.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "probe_process.h"

namespace vrt::testing {

namespace {

// PNG of 24-bit rows, with stored (uncompressed) deflate blocks.
std::uint32_t Crc(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

}  // namespace

// A top-level dialog of any process: by caption and a control it holds, or
// (id 0xFFFF, a message box's text) by the start of that control's text.
namespace {

struct DialogSearch {
  const char* caption;
  int id;
  const std::string* prefix;
  HWND found;
};

// An EnumWindows callback: a window procedure's calling convention, which
// a lambda does not have in the 32-bit build.
BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  auto* s = reinterpret_cast<DialogSearch*>(parameter);
  char name[256] = {}, title[256] = {};
  GetClassNameA(window, name, sizeof name);
  GetWindowTextA(window, title, sizeof title);
  if (std::string(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  if (s->caption != nullptr && std::string(title) != s->caption) return TRUE;
  HWND control = GetDlgItem(window, s->id);
  if (control == nullptr) return TRUE;
  char text[1024] = {};
  SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  if (std::string(text).rfind(*s->prefix, 0) != 0) return TRUE;
  s->found = window;
  return FALSE;
}

}  // namespace

HWND WaitForDialog(const char* caption, int controlId, const std::string& textPrefix,
                   std::chrono::milliseconds timeout) {
  DialogSearch search{caption, controlId, &textPrefix, nullptr};
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(50);
  }
  return nullptr;
}

// WM_GETTEXT crosses processes; GetWindowText would not ask an edit control.
std::string ControlText(HWND dialog, int id) {
  char text[1024] = {};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

HWND WaitForWindowOfClass(const char* className, std::chrono::milliseconds timeout) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindWindowA(className, nullptr);
        return found != nullptr && IsWindowVisible(found);
      },
      timeout);
  return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

namespace {

// A buffer in the process that owns `window`.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t size) : size_(size) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
    if (process_ != nullptr) {
      address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  void* Address() const { return address_; }
  bool Write(const void* data, std::size_t size, std::size_t at = 0) {
    SIZE_T written = 0;
    return address_ != nullptr &&
           WriteProcessMemory(process_, static_cast<char*>(address_) + at, data, size, &written) && written == size;
  }
  std::string ReadString(std::size_t at = 0) {
    std::string text(size_ - at, '\0');
    SIZE_T read = 0;
    if (address_ == nullptr ||
        !ReadProcessMemory(process_, static_cast<char*>(address_) + at, text.data(), text.size(), &read)) {
      return {};
    }
    return text.substr(0, std::min(text.find('\0'), static_cast<std::size_t>(read)));
  }

 private:
  std::size_t size_;
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

}  // namespace

std::string RemoteText(HWND control, UINT message, WPARAM wParam) {
  if (message < WM_USER) {
    // The system's own messages (LB_GETTEXT ...) are carried across
    // processes with their buffer.
    // Asked in Unicode, which every control keeps: the ANSI form of the
    // question loses all but the first character on its way between
    // processes under Wine.
    wchar_t text[1024] = {};
    SendMessageW(control, message, wParam, reinterpret_cast<LPARAM>(text));
    char narrow[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
  }
  RemoteBuffer buffer(control, 1024);
  const std::string zero(1024, '\0');
  buffer.Write(zero.data(), zero.size());
  SendMessageA(control, message, wParam, reinterpret_cast<LPARAM>(buffer.Address()));
  return buffer.ReadString();
}

std::string ListViewText(HWND list, int item, int column) {
  constexpr std::size_t kTextAt = 256;
  RemoteBuffer buffer(list, kTextAt + 512);
  LVITEMA cell{};
  cell.iSubItem = column;
  cell.cchTextMax = 511;
  cell.pszText = static_cast<char*>(buffer.Address()) + kTextAt;
  const std::string zero(512, '\0');
  buffer.Write(zero.data(), zero.size(), kTextAt);
  buffer.Write(&cell, sizeof cell);
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(buffer.Address()));
  return buffer.ReadString(kTextAt);
}

void WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgbRows) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(rgbRows.data()) + static_cast<std::size_t>(y) * width * 3, width * 3);
  }
  std::string zlib = "\x78\x01";
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
    zlib += static_cast<char>(at + length >= raw.size() ? 1 : 0);
    zlib += static_cast<char>(length & 0xFF);
    zlib += static_cast<char>(length >> 8);
    zlib += static_cast<char>(~length & 0xFF);
    zlib += static_cast<char>((~length >> 8) & 0xFF);
    zlib.append(raw, at, length);
    if (raw.empty()) break;
  }
  zlib += BigEndian((b << 16) | a);
  auto chunk = [](const std::string& type, const std::string& data) {
    return BigEndian(static_cast<std::uint32_t>(data.size())) + type + data + BigEndian(Crc(type + data));
  };
  std::string header = BigEndian(width) + BigEndian(height) + std::string("\x08\x02\x00\x00\x00", 5);
  std::ofstream(path, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header)
                                        << chunk("IDAT", zlib) << chunk("IEND", "");
}

// What the screen shows of `window`, copied from inside Wine.
void Screenshot(const std::string& folderName, HWND window, const std::string& name) {
  const std::string folder = ProgramDirectory() + "\\..\\" + folderName;
  CreateDirectoryA(folder.c_str(), nullptr);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT area{};
  GetWindowRect(window, &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  ASSERT_GT(width, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bits) + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* out = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      out[0] = row[x * 3 + 2];
      out[1] = row[x * 3 + 1];
      out[2] = row[x * 3];
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  WritePng(folder + "\\" + name + ".png", width, height, rgb);
}


}  // namespace vrt::testing
