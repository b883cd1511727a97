// The configuration editor's window program: the pieces its source files
// share. The behaviour lives in the view layer (cfg_view.h, dialog_models.h,
// runtime_link.h); these files carry it into windows and controls.
#pragma once

#include <windows.h>

#include <string>

#include "cfg_view.h"
#include "dialog_models.h"
#include "editor_services.h"
#include "runtime_link.h"

namespace vrt::editor::win32 {

// Message boxes owned by the main window.
class MessageBoxUi : public EditorUserInterface {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  Answer Ask(const std::string& text, const std::string& title, Buttons buttons, MessageIcon icon) override;
  HWND owner = nullptr;
};

// The configuration key under HKEY_LOCAL_MACHINE and the host's values.
class RegistrySettings : public EditorSettings {
 public:
  std::optional<std::string> ConfigFile() override;
  bool SetStartupConfigFile(const std::string& path) override;
  std::optional<std::string> DriverExe() override;
  std::string HostValue(const std::string& name) override;

  // The window registration: the running editor's main window handle in
  // hexadecimal. It is a host value when the host is installed; without a
  // host it is kept under the current user's product key, so that the
  // single-instance rule holds on every machine.
  std::string WindowRegistration();
  void SetWindowRegistration(const std::string& value);
  void DeleteWindowRegistration();

 private:
  // The host's registry key, from the driver's path.
  std::optional<std::string> HostKey();
};

// The live image through the mapping library's editor build.
class MappedLiveImage : public LiveImage {
 public:
  int ChannelCount() override;
  bool ChannelCounters(int channel, std::uint16_t* transmit, std::uint16_t* receive) override;
  int PollRecordCount() override;
  bool PollRecordStatus(int index, std::uint16_t* status) override;
};

// Stops the driver and, once it confirmed, starts it again on its start-up
// file; what became of the stop and the start.
ReloadOutcome ReloadConfiguration(const std::string& path, const char* acronym);

// Help: the help file's topic when VRTDOC.HLP is there, else the HTML help
// beside the program at the topic's anchor; kHelpContents opens the
// contents.
inline constexpr unsigned kHelpContents = 0;
void OpenHelpTopic(HWND owner, unsigned topic);

// Colours: light grey under black text in the view and the dialogs.
HBRUSH GreyBrush();
// WM_CTLCOLOR* of the view and the dialogs: grey for the dialog, static
// texts and buttons, the system's colours for edits and lists.
INT_PTR PaintGrey(UINT message, WPARAM wParam);
// At start: disabled text darker than the grey when the system draws it in
// the same grey.
void MakeDisabledTextReadable();
// WM_DRAWITEM of a bitmap button (OK, Cancel, Help, New, Delete).
bool DrawBitmapButton(const DRAWITEMSTRUCT& item);

// Edit-control text and list selection helpers.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
void FillComboBox(HWND combo, const std::vector<std::string>& texts, int selected);

// The dialogs, modal over `owner`.
void RunAddDeviceDialog(HWND owner, CfgView& view);
void RunPortSettingsDialog(HWND owner, PortSettingsModel& model);
void RunPollRecordDialog(HWND owner, PollRecordEditModel& model);
void RunAboutDialog(HWND owner, EditorSettings& settings);
// IDOK with the ticks chosen, or IDCANCEL.
INT_PTR RunExitDialog(HWND owner, ExitChoice& choice);

// The configuration form (the main window's upper pane).
HWND CreateConfigForm(HWND parent, CfgView& view);
// Everything shown again from the document (after New, Open, a channel).
void RefreshConfigForm(HWND form);
// Rows whose live state changed.
void RedrawGridRows(HWND form, const std::vector<int>& rows);

}  // namespace vrt::editor::win32
