// The editor's services on Windows: message boxes, the registry, the live
// image, the driver's reload, help, and the grey look of the view and the
// dialogs.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "../../image/dit_api.h"
#include "../../image/log_message.h"
#include "../../image/win32/win32_util.h"
#include "editor_resources.h"
#include "editor_win32.h"

namespace vrt::editor::win32 {

namespace {

constexpr COLORREF kGrey = RGB(192, 192, 192);
constexpr COLORREF kDarkGrey = RGB(128, 128, 128);
constexpr char kProductUserKey[] = "Software\\Kalvento\\Tavex";
constexpr char kWindowRegistrationName[] = "VRT";

UINT IconFlags(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kExclamation: return MB_ICONEXCLAMATION;
    case MessageIcon::kError: return MB_ICONERROR;
    case MessageIcon::kQuestion: return MB_ICONQUESTION;
    case MessageIcon::kInformation: return MB_ICONINFORMATION;
    case MessageIcon::kNone: break;
  }
  return 0;
}


}  // namespace

// ---------------------------------------------------------------------------
// Message boxes

void MessageBoxUi::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK | IconFlags(icon));
}

Answer MessageBoxUi::Ask(const std::string& text, const std::string& title, Buttons buttons, MessageIcon icon) {
  UINT type = MB_OK;
  switch (buttons) {
    case Buttons::kOk: type = MB_OK; break;
    case Buttons::kOkCancel: type = MB_OKCANCEL; break;
    case Buttons::kYesNo: type = MB_YESNO; break;
    case Buttons::kYesNoCancel: type = MB_YESNOCANCEL; break;
  }
  switch (MessageBoxA(owner, text.c_str(), title.c_str(), type | IconFlags(icon))) {
    case IDYES: return Answer::kYes;
    case IDNO: return Answer::kNo;
    case IDOK: return Answer::kOk;
    default: return Answer::kCancel;
  }
}

// ---------------------------------------------------------------------------
// Registry

std::optional<std::string> RegistrySettings::ConfigFile() {
  std::string value;
  if (!ReadConfigRegistryString(kConfigFileValue, &value)) return std::nullopt;
  return value;
}

bool RegistrySettings::SetStartupConfigFile(const std::string& path) {
  return vrt::SetStartupConfigFile(path.c_str()) != 0;
}

std::optional<std::string> RegistrySettings::DriverExe() {
  std::string value;
  if (!ReadConfigRegistryString(kDriverExeValue, &value)) return std::nullopt;
  return value;
}

std::optional<std::string> RegistrySettings::HostKey() { return HostRegistryKey(DriverExe().value_or("")); }

std::string RegistrySettings::HostValue(const std::string& name) {
  const std::optional<std::string> key = HostKey();
  if (!key) return {};
  return ReadString(HKEY_CLASSES_ROOT, *key + "\\" + name, "").value_or("");
}

std::string RegistrySettings::WindowRegistration() {
  const std::optional<std::string> key = HostKey();
  if (key) return ReadString(HKEY_CLASSES_ROOT, *key + "\\" + kWindowRegistrationName, "").value_or("");
  return ReadString(HKEY_CURRENT_USER, kProductUserKey, kWindowRegistrationName).value_or("");
}

void RegistrySettings::SetWindowRegistration(const std::string& value) {
  const std::optional<std::string> key = HostKey();
  if (key) {
    WriteString(HKEY_CLASSES_ROOT, *key + "\\" + kWindowRegistrationName, "", value);
  } else {
    WriteString(HKEY_CURRENT_USER, kProductUserKey, kWindowRegistrationName, value);
  }
}

void RegistrySettings::DeleteWindowRegistration() {
  const std::optional<std::string> key = HostKey();
  HKEY handle = nullptr;
  if (key) {
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (*key + "\\" + kWindowRegistrationName).c_str(), 0, KEY_SET_VALUE,
                      &handle) == ERROR_SUCCESS) {
      RegDeleteValueA(handle, nullptr);
      RegCloseKey(handle);
    }
  } else if (RegOpenKeyExA(HKEY_CURRENT_USER, kProductUserKey, 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
    RegDeleteValueA(handle, kWindowRegistrationName);
    RegCloseKey(handle);
  }
}

// ---------------------------------------------------------------------------
// Live image

int MappedLiveImage::ChannelCount() {
  // The header first: it follows the driver's reloads to the new image.
  if (vrt::nio_map_hdr() == nullptr) return 0;
  return vrt::ChannelCount();
}

bool MappedLiveImage::ChannelCounters(int channel, std::uint16_t* transmit, std::uint16_t* receive) {
  const DitChannel* record = vrt::nio_map_chan(channel);
  if (record == nullptr) return false;
  *transmit = record->statistics.framesSent;
  *receive = record->statistics.framesReceived;
  return true;
}

int MappedLiveImage::PollRecordCount() { return vrt::PollRecordCount(); }

bool MappedLiveImage::PollRecordStatus(int index, std::uint16_t* status) {
  const DitPollRecord* record = vrt::nio_map_dit(index);
  if (record == nullptr) return false;
  *status = record->status;
  return true;
}

ReloadOutcome ReloadConfiguration(const std::string& path, const char* acronym) {
  LogMessage(kAttrActivity, "ReloadConfiguration(%s,%s)", path.c_str(), acronym);
  return StopAndStartDriver([](int start) { return vrt::nio_StartStop(start); });
}

// ---------------------------------------------------------------------------
// Help

void OpenHelpTopic(HWND owner, unsigned topic) {
  // The help file's name: the first three letters of the program's name
  // and "DOC.HLP", looked up from the current directory.
  const std::string program = ModuleFileName();
  const std::string stem = program.substr(0, 3);
  const std::string helpFile = stem + "DOC.HLP";
  if (GetFileAttributesA(helpFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
    WinHelpA(owner, helpFile.c_str(), topic == kHelpContents ? HELP_CONTENTS : HELP_CONTEXT, topic);
    return;
  }
  const std::string page = ModuleDirectory() + "\\" + stem + "DOC.htm";
  if (GetFileAttributesA(page.c_str()) == INVALID_FILE_ATTRIBUTES) {
    MessageBoxA(owner, ("The help file " + page + " is missing.").c_str(), kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  std::string url = "file:///" + page + "#" + (topic == kHelpContents ? "contents" : std::to_string(topic));
  for (char& c : url) {
    if (c == '\\') c = '/';
  }
  ShellExecuteA(owner, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// ---------------------------------------------------------------------------
// Look

HBRUSH GreyBrush() {
  static HBRUSH brush = CreateSolidBrush(kGrey);
  return brush;
}

INT_PTR PaintGrey(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkColor(dc, kGrey);
      return reinterpret_cast<INT_PTR>(GreyBrush());
    }
    default: return 0;
  }
}

void MakeDisabledTextReadable() {
  if (GetSysColor(COLOR_GRAYTEXT) != kGrey) return;
  const int element = COLOR_GRAYTEXT;
  const COLORREF colour = kDarkGrey;
  SetSysColors(1, &element, &colour);
}

bool DrawBitmapButton(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return false;
  const char* stem = nullptr;
  switch (item.CtlID) {
    case IDOK: stem = "OK"; break;
    case IDCANCEL: stem = "CANCEL"; break;
    case ID_DIALOG_HELP: stem = "HELP"; break;
    case IDC_POLL_NEW: stem = "NEW"; break;
    case IDC_POLL_DELETE: stem = "DELETE"; break;
    default: return false;
  }
  const char state = (item.itemState & ODS_SELECTED) ? 'D' : (item.itemState & ODS_FOCUS) ? 'F' : 'U';
  const std::string name = std::string(stem) + state;
  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), name.c_str(), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  const RECT& area = item.rcItem;
  if (picture == nullptr) {
    FillRect(item.hDC, &area, GreyBrush());
    DrawTextA(item.hDC, stem, -1, const_cast<RECT*>(&area), DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return true;
  }
  BITMAP size{};
  GetObjectA(picture, sizeof size, &size);
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, picture);
  SetStretchBltMode(item.hDC, COLORONCOLOR);
  StretchBlt(item.hDC, area.left, area.top, area.right - area.left, area.bottom - area.top, source, 0, 0,
             size.bmWidth, size.bmHeight, SRCCOPY);
  if (item.itemState & ODS_DISABLED) {
    // A disabled button shows its picture washed out.
    RECT inner = area;
    HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, kGrey);
    FillRect(item.hDC, &inner, hatch);
    DeleteObject(hatch);
  }
  SelectObject(source, old);
  DeleteDC(source);
  DeleteObject(picture);
  return true;
}

// ---------------------------------------------------------------------------
// Controls

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void FillComboBox(HWND combo, const std::vector<std::string>& texts, int selected) {
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& text : texts) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace vrt::editor::win32
