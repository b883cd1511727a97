// VRTDIDW: the configuration editor's main window. A frame with the main
// and channel toolbars, the status bar, and a splitter between the
// configuration form above and the driver's messages below; the File,
// View, Options and Help commands; the status and message ticks of the
// link to the running driver; one instance per desktop.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "../../image/dit_api.h"
#include "../../image/win32/win32_util.h"
#include "csv.h"
#include "doc_commands.h"
#include "doc_file.h"
#include "editor_messages.h"
#include "editor_resources.h"
#include "editor_text.h"
#include "editor_win32.h"

namespace vrt::editor::win32 {
namespace {

constexpr char kFrameClass[] = "VRTDIDW";
constexpr UINT_PTR kStatusTimer = 99;
constexpr UINT_PTR kMessageTimer = 101;
constexpr UINT kAttachMessage = WM_APP + 1;
constexpr int kViewWidth = 450;
constexpr int kViewHeight = 350;
constexpr int kMessagesHeight = 75;
constexpr int kSplitterBar = 4;
constexpr int kPane1Width = 250;
constexpr char kRecentKey[] = "Software\\Kalvento\\Tavex\\VRTDIDW\\Recent File List";

struct App {
  MessageBoxUi ui;
  RegistrySettings settings;
  SystemClock clock;
  Reporter reporter{ui};
  EditorServices services{ui, settings, clock, reporter};
  CDidDoc doc;
  CfgView view{doc, services};
  MappedLiveImage image;
  RuntimeLink link{image};
  MessageLines lines;

  HWND frame = nullptr;
  HWND mainBar = nullptr;
  HWND channelBar = nullptr;
  HWND status = nullptr;
  HWND form = nullptr;
  HWND messages = nullptr;
  int split = kViewHeight;  // height of the upper pane
  bool dragging = false;
  std::string pane0;  // the counters, shown again after a menu prompt
  std::vector<std::string> recent;
  char separator = ',';
};

App* app = nullptr;

// ---------------------------------------------------------------------------
// Recent files

// The four entries are kept in the program's settings file in the host's
// LOCPATH folder, section "Recent File List", values File1 to File4. A
// machine without the host keeps them under the user's registry key of the
// same name, and an editor that finds a host for the first time takes the
// registry's list over into the settings file once.
constexpr char kRecentSection[] = "Recent File List";

std::string RecentFilesSettingsFile() {
  const std::string locPath = app->settings.HostValue("LOCPATH");
  const DWORD attributes = locPath.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(locPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {};
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  return ProgramSettingsFile(locPath, program);
}

std::string RecentValueName(std::size_t index) { return "File" + std::to_string(index + 1); }

std::vector<std::string> ReadRecentFiles(const std::string& settingsFile) {
  std::vector<std::string> recent;
  for (std::size_t i = 0; i < ID_FILE_MRU_COUNT; ++i) {
    std::string path;
    if (settingsFile.empty()) {
      path = ReadString(HKEY_CURRENT_USER, kRecentKey, RecentValueName(i)).value_or("");
    } else {
      char value[MAX_PATH * 2] = {};
      GetPrivateProfileStringA(kRecentSection, RecentValueName(i).c_str(), "", value, sizeof value,
                               settingsFile.c_str());
      path = value;
    }
    if (!path.empty()) recent.push_back(path);
  }
  return recent;
}

void WriteRecentFiles(const std::string& settingsFile, const std::vector<std::string>& recent) {
  for (std::size_t i = 0; i < ID_FILE_MRU_COUNT; ++i) {
    const std::string path = i < recent.size() ? recent[i] : "";
    if (settingsFile.empty()) {
      WriteString(HKEY_CURRENT_USER, kRecentKey, RecentValueName(i), path);
    } else {
      WritePrivateProfileStringA(kRecentSection, RecentValueName(i).c_str(), path.c_str(), settingsFile.c_str());
    }
  }
}

bool HasRecentSection(const std::string& settingsFile) {
  char names[64] = {};
  return GetPrivateProfileStringA(kRecentSection, nullptr, "", names, sizeof names, settingsFile.c_str()) > 0;
}

void LoadRecentFiles() {
  const std::string settingsFile = RecentFilesSettingsFile();
  if (!settingsFile.empty() && !HasRecentSection(settingsFile)) {
    const std::vector<std::string> registered = ReadRecentFiles({});
    if (!registered.empty()) WriteRecentFiles(settingsFile, registered);
  }
  app->recent = ReadRecentFiles(settingsFile);
}

void AddRecentFile(const std::string& path) {
  app->recent = WithRecentFile(app->recent, path, ID_FILE_MRU_COUNT);
  WriteRecentFiles(RecentFilesSettingsFile(), app->recent);
}

void FillRecentMenu(HMENU file) {
  int position = -1;
  for (int i = GetMenuItemCount(file) - 1; i >= 0; --i) {
    const UINT id = GetMenuItemID(file, i);
    if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_FILE4) {
      DeleteMenu(file, static_cast<UINT>(i), MF_BYPOSITION);
      position = i;
    }
  }
  if (position < 0) return;
  if (app->recent.empty()) {
    InsertMenuA(file, static_cast<UINT>(position), MF_BYPOSITION | MF_STRING | MF_GRAYED, ID_FILE_MRU_FILE1,
                "Recent File");
    return;
  }
  for (std::size_t i = 0; i < app->recent.size(); ++i) {
    const std::string text = "&" + std::to_string(i + 1) + " " + app->recent[i];
    InsertMenuA(file, static_cast<UINT>(position + static_cast<int>(i)), MF_BYPOSITION | MF_STRING,
                ID_FILE_MRU_FILE1 + i, text.c_str());
  }
}

// ---------------------------------------------------------------------------
// Layout and panes

std::string Pane1Text() { return "Channel " + std::to_string(app->doc.SelectedChannel() + 1); }

void SetPane(int pane, const std::string& text) {
  SendMessageA(app->status, SB_SETTEXTA, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(text.c_str()));
}

void SizeStatusPanes(int width) {
  HDC dc = GetDC(app->status);
  HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(app->status, WM_GETFONT, 0, 0)));
  SIZE clock{}, key{};
  GetTextExtentPoint32A(dc, "00:00 PM", 8, &clock);
  GetTextExtentPoint32A(dc, "CAPS", 4, &key);
  SelectObject(dc, font);
  ReleaseDC(app->status, dc);
  int edges[5];
  edges[4] = -1;
  edges[3] = width - 20;
  edges[2] = edges[3] - key.cx - 12;
  edges[1] = edges[2] - clock.cx - 12;
  edges[0] = edges[1] - kPane1Width;
  SendMessageA(app->status, SB_SETPARTS, 5, reinterpret_cast<LPARAM>(edges));
  // A pane that did not exist before had no text.
  SetPane(1, Pane1Text());
}

void ShowKeyStates() {
  SetPane(3, (GetKeyState(VK_CAPITAL) & 1) ? "CAP" : "");
  SetPane(4, (GetKeyState(VK_NUMLOCK) & 1) ? "NUM" : "");
}

RECT SplitterBar() {
  RECT form{};
  GetWindowRect(app->form, &form);
  MapWindowPoints(nullptr, app->frame, reinterpret_cast<POINT*>(&form), 2);
  return {0, form.bottom, form.right, form.bottom + kSplitterBar};
}

void Layout() {
  RECT client{};
  GetClientRect(app->frame, &client);
  const int width = client.right;
  int top = 0;
  for (HWND bar : {app->mainBar, app->channelBar}) {
    if (!IsWindowVisible(bar)) continue;
    const DWORD size = static_cast<DWORD>(SendMessageA(bar, TB_GETBUTTONSIZE, 0, 0));
    const int height = HIWORD(size) + 6;
    MoveWindow(bar, 0, top, width, height, TRUE);
    top += height;
  }
  int bottom = client.bottom;
  if (IsWindowVisible(app->status)) {
    SendMessageA(app->status, WM_SIZE, 0, 0);
    RECT bar{};
    GetWindowRect(app->status, &bar);
    bottom -= bar.bottom - bar.top;
    SizeStatusPanes(width);
  }
  const int available = bottom - top;
  int split = app->split;
  if (split > available - kSplitterBar - 20) split = available - kSplitterBar - 20;
  if (split < 40) split = 40;
  MoveWindow(app->form, 0, top, width, split, TRUE);
  const int lower = top + split + kSplitterBar;
  MoveWindow(app->messages, 0, lower, width, bottom - lower > 0 ? bottom - lower : 0, TRUE);
  ListView_SetColumnWidth(app->messages, 0, width - GetSystemMetrics(SM_CXVSCROLL) - 4);
}

// ---------------------------------------------------------------------------
// Toolbars and the messages view

HWND CreateBar(HWND frame, int id, int bitmap, const std::vector<int>& commands, int bitmaps) {
  std::vector<TBBUTTON> buttons;
  int image = 0;
  for (int command : commands) {
    TBBUTTON button{};
    if (command == 0) {
      button.fsStyle = TBSTYLE_SEP;
    } else {
      button.iBitmap = image++;
      button.idCommand = command;
      button.fsState = TBSTATE_ENABLED;
      button.fsStyle = TBSTYLE_BUTTON;
    }
    buttons.push_back(button);
  }
  return CreateToolbarEx(frame,
                         WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NOPARENTALIGN | CCS_NORESIZE |
                             CCS_NODIVIDER,
                         static_cast<UINT>(id), bitmaps, GetModuleHandleA(nullptr), static_cast<UINT_PTR>(bitmap),
                         buttons.data(), static_cast<int>(buttons.size()), TOOLBAR_BUTTON_WIDTH,
                         TOOLBAR_BUTTON_HEIGHT, TOOLBAR_BUTTON_WIDTH, TOOLBAR_BUTTON_HEIGHT, sizeof(TBBUTTON));
}

void CreateToolbars(HWND frame) {
  // Separators after Save As, after Reload and after Exit.
  app->mainBar = CreateBar(frame, IDW_MAIN_TOOLBAR, IDB_MAIN_TOOLBAR,
                           {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS, 0, ID_FILE_RELOAD, 0,
                            ID_APP_EXIT, 0, ID_HELP_CONTENTS},
                           MAIN_TOOLBAR_BUTTONS);
  std::vector<int> channels;
  for (int id = ID_CHANNEL_FIRST; id <= ID_CHANNEL_LAST; ++id) channels.push_back(id);
  channels.push_back(0);
  channels.push_back(ID_CHANNEL_SETUP);
  app->channelBar =
      CreateBar(frame, IDW_CHANNEL_TOOLBAR, IDB_CHANNEL_TOOLBAR, channels, CHANNEL_TOOLBAR_BUTTONS);
}

void CreateMessagesView(HWND frame) {
  app->messages = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                  WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL,
                                  0, 0, kViewWidth, kMessagesHeight, frame,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_MESSAGES_VIEW)),
                                  GetModuleHandleA(nullptr), nullptr);
  ListView_SetTextColor(app->messages, RGB(0, 0, 255));
  ListView_SetTextBkColor(app->messages, RGB(255, 255, 255));
  ListView_SetBkColor(app->messages, RGB(255, 255, 255));
  HIMAGELIST icons = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 0);
  for (int id : {IDI_MESSAGE_INFO, IDI_MESSAGE_WARNING}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    ImageList_AddIcon(icons, icon);
    DestroyIcon(icon);
  }
  ListView_SetImageList(app->messages, icons, LVSIL_SMALL);
  LVCOLUMNA column{};
  column.mask = LVCF_WIDTH;
  column.cx = kViewWidth;
  SendMessageA(app->messages, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

// One line at the end of the messages pane; the list view drops what the
// lines dropped from the front.
void AppendMessageLine(const std::string& line, int attribute) {
  const std::size_t removed = app->lines.Add(line, attribute);
  for (std::size_t i = 0; i < removed; ++i) ListView_DeleteItem(app->messages, 0);
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = ListView_GetItemCount(app->messages);
  item.iImage = app->lines.Lines().back().icon;
  item.pszText = const_cast<char*>(line.c_str());
  SendMessageA(app->messages, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void ScrollToLastMessageLine() {
  ListView_EnsureVisible(app->messages, ListView_GetItemCount(app->messages) - 1, FALSE);
}

void ShowChannel() {
  for (int id = ID_CHANNEL_FIRST; id <= ID_CHANNEL_LAST; ++id) {
    SendMessageA(app->channelBar, TB_CHECKBUTTON, static_cast<WPARAM>(id),
                 MAKELPARAM(id - ID_CHANNEL_FIRST == app->doc.SelectedChannel(), 0));
  }
  SetPane(1, Pane1Text());
  RefreshConfigForm(app->form);
}

void ShowTitle() {
  SetWindowTextA(app->frame, WindowTitle(Pane1Text(), app->doc.Path().empty() ? app->doc.Title() : app->doc.Path())
                                 .c_str());
}

void DocumentUpdated() {
  app->view.DocumentUpdated();
  ShowChannel();
  ShowTitle();
}

void DocumentSaved() {
  app->view.DocumentSaved();
  ShowChannel();
  ShowTitle();
}

// ---------------------------------------------------------------------------
// File commands

class WaitCursor {
 public:
  WaitCursor() : old_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(old_); }

 private:
  HCURSOR old_;
};

// The filter as the file dialogs take it: '|' separators become NULs.
std::string DialogFilter() {
  std::string filter = FileDialogFilter();
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  return filter;
}

std::string AskFileName(bool save) {
  const DialogStart start = save ? SaveAsDialogStart(app->settings.ConfigFile())
                                 : OpenDialogStart(app->settings.ConfigFile());
  char file[MAX_PATH] = {};
  std::snprintf(file, sizeof file, "%s", start.fileName.c_str());
  const std::string filter = DialogFilter();
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = app->frame;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrInitialDir = start.directory.empty() ? nullptr : start.directory.c_str();
  dialog.lpstrDefExt = kAcronym;
  if (save) {
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&dialog)) return {};
  } else {
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog)) return {};
  }
  return file;
}

bool SaveAs() {
  const std::string path = AskFileName(true);
  if (path.empty()) return false;
  bool saved = false;
  {
    WaitCursor wait;
    saved = SaveDocumentAs(app->doc, path, app->separator, app->services);
  }
  if (saved && KindOfPath(path) == FileKind::kConfiguration) AddRecentFile(app->doc.Path());
  DocumentSaved();
  return saved;
}

bool Save() {
  if (app->doc.PollRecordTotal() == 0) return false;
  const std::string& path = app->doc.Path();
  if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return SaveAs();
  bool saved = false;
  {
    WaitCursor wait;
    saved = SaveConfiguration(app->doc, path, app->services);
  }
  if (saved) AddRecentFile(app->doc.Path());
  DocumentSaved();
  return saved;
}

// A property field being typed in takes effect when it loses the focus:
// before a save, a reload or the exit, the focus leaves it.
void TakeFieldBeingTyped() {
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(app->form, focus)) SetFocus(app->frame);
}

bool SaveModified() { return editor::SaveModified(app->doc, app->ui, [] { return Save(); }); }

void OpenPath(const std::string& path) {
  bool opened = false;
  {
    WaitCursor wait;
    opened = OpenDocumentFile(app->doc, path, app->separator, app->services);
  }
  if (opened && KindOfPath(path) == FileKind::kConfiguration) AddRecentFile(app->doc.Path());
  DocumentUpdated();
}

void CommandNew() {
  if (!SaveModified()) return;
  app->doc.Clear();
  DocumentUpdated();
}

void CommandOpen() {
  if (!SaveModified()) return;
  const std::string path = AskFileName(false);
  if (!path.empty()) OpenPath(path);
}

void CommandRecent(std::size_t index) {
  if (index >= app->recent.size()) return;
  // A recent file replaces the document as Open does, so it asks about
  // unsaved changes first.
  if (!SaveModified()) return;
  const std::string path = app->recent[index];
  OpenPath(path);
}

void CommandReload() {
  RunReload(
      app->doc, app->ui, [] { return Save(); },
      [] {
        WaitCursor wait;
        return ReloadConfiguration(app->doc.Path(), kAcronym);
      },
      [](const std::string& line) {
        // With the warning icon, as the driver's own error lines have.
        AppendMessageLine(line, kAttrError);
        ScrollToLastMessageLine();
      });
  ShowTitle();
}

void CommandSetupChannel() {
  if (app->view.Device() == nullptr) app->view.SelectChannel(app->doc.SelectedChannel());
  PortSettingsModel model(app->doc, app->doc.SelectedChannel(), app->services);
  RunPortSettingsDialog(app->frame, model);
  RefreshConfigForm(app->form);
}

void CommandSaveLogFile() {
  char text[128];
  std::snprintf(text, sizeof text, msg::kSaveLogFile, kAcronym);
  app->ui.ShowMessage(text, kProgramTitle, MessageIcon::kInformation);
  app->doc.SetSaveLog(true);
}

void ToggleBars(bool toolbars) {
  if (toolbars) {
    const int show = IsWindowVisible(app->mainBar) ? SW_HIDE : SW_SHOW;
    ShowWindow(app->mainBar, show);
    ShowWindow(app->channelBar, show);
  } else {
    ShowWindow(app->status, IsWindowVisible(app->status) ? SW_HIDE : SW_SHOW);
  }
  Layout();
}

// F1 and Shift+F1: the help topic of the control that has the focus.
void HelpOnFocus() {
  HWND focus = GetFocus();
  const int id = focus != nullptr ? GetDlgCtrlID(focus) : 0;
  OpenHelpTopic(app->frame, static_cast<unsigned>(HELP_CONTROL_TOPIC_BASE + (id > 0 ? id : 0)));
}

void OnCommand(int id) {
  TakeFieldBeingTyped();
  if (id >= ID_CHANNEL_FIRST && id <= ID_CHANNEL_LAST) {
    app->view.SelectChannel(id - ID_CHANNEL_FIRST);
    ShowChannel();
    ShowTitle();
    return;
  }
  if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_FILE4) {
    CommandRecent(static_cast<std::size_t>(id - ID_FILE_MRU_FILE1));
    return;
  }
  switch (id) {
    case ID_FILE_NEW: CommandNew(); break;
    case ID_FILE_OPEN: CommandOpen(); break;
    case ID_FILE_SAVE: Save(); break;
    case ID_FILE_SAVE_AS:
      if (app->doc.PollRecordTotal() > 0) SaveAs();
      break;
    case ID_FILE_RELOAD:
      if (app->doc.PollRecordTotal() > 0) CommandReload();
      break;
    case ID_APP_EXIT: SendMessageA(app->frame, WM_CLOSE, 0, 0); break;
    case ID_VIEW_TOOLBAR: ToggleBars(true); break;
    case ID_VIEW_STATUS_BAR: ToggleBars(false); break;
    case ID_OPTIONS_DISABLE_COMMS_ALARMS: app->view.ToggleDisableCommsAlarms(); break;
    case ID_OPTIONS_LEARN_ADDRESSES: app->view.ToggleLearnAddresses(); break;
    case ID_OPTIONS_SAVE_LOG_FILE: CommandSaveLogFile(); break;
    case ID_HELP_CONTENTS: OpenHelpTopic(app->frame, kHelpContents); break;
    case ID_HELP_PROCEDURES: OpenHelpTopic(app->frame, HELP_TOPIC_PROCEDURES); break;
    case ID_HELP_COMMANDS: OpenHelpTopic(app->frame, HELP_TOPIC_COMMANDS); break;
    case ID_HELP_KEYBOARD: OpenHelpTopic(app->frame, HELP_TOPIC_KEYBOARD); break;
    case ID_HELP_GLOSSARY: OpenHelpTopic(app->frame, HELP_TOPIC_GLOSSARY); break;
    case ID_HELP_USING: OpenHelpTopic(app->frame, HELP_TOPIC_USING_HELP); break;
    case ID_HELP_CONTROL:
    case ID_HELP_CONTROL_SHIFT: HelpOnFocus(); break;
    case ID_APP_ABOUT: RunAboutDialog(app->frame, app->settings); break;
    case ID_CHANNEL_SETUP: CommandSetupChannel(); break;
    default: break;
  }
}

void OnInitMenu(HMENU menu) {
  const bool records = app->doc.PollRecordTotal() > 0;
  const UINT enabled = MF_BYCOMMAND | (records ? MF_ENABLED : MF_GRAYED);
  EnableMenuItem(menu, ID_FILE_SAVE, enabled);
  EnableMenuItem(menu, ID_FILE_SAVE_AS, enabled);
  EnableMenuItem(menu, ID_FILE_RELOAD, enabled);
  CheckMenuItem(menu, ID_OPTIONS_DISABLE_COMMS_ALARMS,
                MF_BYCOMMAND | (app->view.DisableCommsAlarms() ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, ID_OPTIONS_LEARN_ADDRESSES,
                MF_BYCOMMAND | (app->view.LearnAddresses() ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, ID_VIEW_TOOLBAR, MF_BYCOMMAND | (IsWindowVisible(app->mainBar) ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, ID_VIEW_STATUS_BAR, MF_BYCOMMAND | (IsWindowVisible(app->status) ? MF_CHECKED : MF_UNCHECKED));
  if (GetMenuState(menu, ID_FILE_NEW, MF_BYCOMMAND) != static_cast<UINT>(-1)) FillRecentMenu(menu);
}

void EnableToolbarButtons() {
  const bool records = app->doc.PollRecordTotal() > 0;
  for (int id : {ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_FILE_RELOAD}) {
    SendMessageA(app->mainBar, TB_ENABLEBUTTON, static_cast<WPARAM>(id), MAKELPARAM(records, 0));
  }
}

// ---------------------------------------------------------------------------
// Ticks

void StatusTick() {
  std::time_t now = std::time(nullptr);
  const std::tm local = *std::localtime(&now);
  // Pane 1 is the title's middle part: both are set from the same text.
  const std::string pane1 = Pane1Text();
  const RuntimeLink::Tick tick =
      app->link.StatusTick(local, pane1, app->doc, app->doc.SelectedChannel(), app->view.Device());
  SetPane(1, pane1);
  SetPane(2, tick.clock);
  SetWindowTextA(app->frame, tick.title.c_str());
  if (tick.counters) {
    app->pane0 = *tick.counters;
    SetPane(0, app->pane0);
  }
  RedrawGridRows(app->form, tick.changedRows);
  ShowKeyStates();
  EnableToolbarButtons();
}

void MessageTick() {
  const char* text = nullptr;
  int attribute = 0;
  bool added = false;
  while (ReadDriverMessage(&text, &attribute, app->doc.SaveLog() ? 1 : 0) != 0 && text != nullptr) {
    const std::string line(text);
    // The learn hook: the poll records of this driver take no action on
    // what a learn message hands them, so the text goes no further.
    if (app->view.LearnAddresses()) (void)LearnedText(line);
    AppendMessageLine(line, attribute);
    added = true;
  }
  if (added) ScrollToLastMessageLine();
}

// ---------------------------------------------------------------------------
// Exit

// True when the window may close.
bool OnClose() {
  TakeFieldBeingTyped();
  ExitChoice choice = ChooseExit(app->doc);
  if (choice.dropChanges) app->doc.SetModified(false);
  if (!choice.closeNow) {
    if (RunExitDialog(app->frame, choice) != IDOK) return false;
    if (choice.save) {
      if (!Save()) return false;  // a failed or cancelled save keeps the program open
      app->doc.SetModified(false);
    }
    if (choice.reload) CommandReload();
  }
  KillTimer(app->frame, kStatusTimer);
  KillTimer(app->frame, kMessageTimer);
  return true;
}

// ---------------------------------------------------------------------------
// The frame

LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      app->frame = frame;
      app->ui.owner = frame;
      CreateToolbars(frame);
      app->status = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "", frame, IDW_STATUS_BAR);
      app->form = CreateConfigForm(frame, app->view);
      CreateMessagesView(frame);
      return 0;
    }
    case WM_SIZE: Layout(); return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_INITMENUPOPUP: OnInitMenu(reinterpret_cast<HMENU>(wParam)); return 0;
    case WM_MENUSELECT: {
      const UINT flags = HIWORD(wParam);
      if (flags == 0xFFFF && lParam == 0) {
        SetPane(0, app->pane0);
      } else if (!(flags & MF_POPUP)) {
        char prompt[256] = {};
        LoadStringA(GetModuleHandleA(nullptr), LOWORD(wParam), prompt, sizeof prompt);
        SetPane(0, prompt);
      }
      return 0;
    }
    case WM_NOTIFY: {
      auto* tip = reinterpret_cast<NMTTDISPINFOA*>(lParam);
      if (tip->hdr.code == TTN_GETDISPINFOA) {
        tip->hinst = GetModuleHandleA(nullptr);
        tip->lpszText = MAKEINTRESOURCEA(tip->hdr.idFrom);
      }
      return 0;
    }
    case kAttachMessage: {
      // Attaching to the live image starts the driver when none runs; a
      // failure shows the library's box (and the link stays off).
      {
        WaitCursor wait;
        app->link.Attach();
      }
      SetTimer(frame, kStatusTimer, kStatusTickMs, nullptr);
      SetTimer(frame, kMessageTimer, kMessageTickMs, nullptr);
      StatusTick();
      return 0;
    }
    case WM_TIMER:
      if (wParam == kStatusTimer) StatusTick();
      if (wParam == kMessageTimer) MessageTick();
      return 0;
    case WM_SETCURSOR: {
      POINT point{};
      GetCursorPos(&point);
      ScreenToClient(frame, &point);
      const RECT bar = SplitterBar();
      if (LOWORD(lParam) == HTCLIENT && PtInRect(&bar, point)) {
        SetCursor(LoadCursor(nullptr, IDC_SIZENS));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN: {
      const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const RECT bar = SplitterBar();
      if (PtInRect(&bar, point)) {
        app->dragging = true;
        SetCapture(frame);
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (app->dragging) {
        RECT form{};
        GetWindowRect(app->form, &form);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&form), 2);
        app->split = static_cast<short>(HIWORD(lParam)) - form.top;
        Layout();
      }
      return 0;
    case WM_LBUTTONUP:
      if (app->dragging) {
        app->dragging = false;
        ReleaseCapture();
      }
      return 0;
    case WM_CLOSE:
      if (OnClose()) DestroyWindow(frame);
      return 0;
    case WM_DESTROY:
      app->settings.DeleteWindowRegistration();
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcA(frame, message, wParam, lParam);
}

// Another editor already running: brought to the front, and true.
bool ShowRunningInstance() {
  const std::string registered = app->settings.WindowRegistration();
  if (registered.empty()) return false;
  HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(registered.c_str(), nullptr, 16)));
  // A handle left behind by an editor that ended without cleaning up may
  // name some other window by now: only an editor frame counts.
  char name[64] = {};
  if (window == nullptr || !IsWindow(window) || GetClassNameA(window, name, sizeof name) == 0 ||
      std::string(name) != kFrameClass) {
    return false;
  }
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  return true;
}

char ListSeparator() {
  char value[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLIST, value, sizeof value) <= 0) {
    return SeparatorFromListSetting(std::nullopt);
  }
  return SeparatorFromListSetting(std::string(value));
}

int Run(HINSTANCE instance, int show) {
  App state;
  app = &state;
  if (ShowRunningInstance()) return 0;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  MakeDisabledTextReadable();
  state.separator = ListSeparator();
  LoadRecentFiles();

  WNDCLASSEXA frameClass{};
  frameClass.cbSize = sizeof frameClass;
  frameClass.lpfnWndProc = FrameProc;
  frameClass.hInstance = instance;
  frameClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  frameClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  frameClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINFRAME);
  frameClass.lpszClassName = kFrameClass;
  RegisterClassExA(&frameClass);

  // The client area holds the two panes at their first sizes, the toolbars
  // and the status bar; the frame starts centred on the screen.
  RECT frame{0, 0, kViewWidth, kViewHeight + kSplitterBar + kMessagesHeight + 2 * 28 + 22};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND window = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return 1;
  // A form drawn wider than the view's first width (large fonts) gets the
  // room it needs.
  RECT formSize{};
  GetWindowRect(state.form, &formSize);
  if (formSize.right - formSize.left > kViewWidth) {
    const int wider = width + (formSize.right - formSize.left) - kViewWidth;
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - wider) / 2, y, wider, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  char handle[32];
  std::snprintf(handle, sizeof handle, "%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
  state.settings.SetWindowRegistration(handle);

  // The start-up file when there is one, else a new document.
  const std::optional<std::string> startup = state.settings.ConfigFile();
  if (startup && GetFileAttributesA(startup->c_str()) != INVALID_FILE_ATTRIBUTES) {
    WaitCursor wait;
    if (LoadConfiguration(state.doc, *startup, state.services)) AddRecentFile(state.doc.Path());
  }
  DocumentUpdated();
  Layout();
  ShowWindow(window, show);
  UpdateWindow(window);

  // The link to the driver starts once the window runs its messages.
  PostMessageA(window, kAttachMessage, 0, 0);

  HACCEL keys = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorA(window, keys, &message)) continue;
    if (IsDialogMessageA(state.form, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  app = nullptr;
  return static_cast<int>(message.wParam);
}

}  // namespace
}  // namespace vrt::editor::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) { return vrt::editor::win32::Run(instance, show); }
