// The editor's dialogs: Add Device, Port Settings (primary and backup),
// Poll Record Edit, About and Exit. Each carries its model's fields into
// controls and hands focus losses, choices and buttons back to it.
#include <windows.h>

#include <commctrl.h>

#include <array>

#include "../../image/control_block.h"
#include "editor_resources.h"
#include "editor_win32.h"

namespace vrt::editor::win32 {

namespace {

constexpr char kDriverVersion[] = "6.9.11";

// What every dialog of the editor does alike: grey colours and bitmap
// buttons. True when the message was handled, with its result.
bool CommonDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message == WM_DRAWITEM) {
    *result = DrawBitmapButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    return true;
  }
  const INT_PTR brush = PaintGrey(message, wParam);
  if (brush != 0) {
    *result = brush;
    return true;
  }
  return false;
}

// OK takes effect only when the OK button has the focus: Enter in a field
// moves the focus there first, so that the field's value is taken (or
// refused) before the dialog closes.
bool OkHasFocus(HWND dialog) {
  HWND ok = GetDlgItem(dialog, IDOK);
  if (GetFocus() == ok) return true;
  SetFocus(ok);
  return false;
}

void SelectField(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  SetFocus(field);
  SendMessageA(field, EM_SETSEL, 0, -1);
}

template <typename Context>
Context* ContextOf(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  return reinterpret_cast<Context*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// ---------------------------------------------------------------------------
// Add Device

struct AddDeviceContext {
  CfgView& view;
  std::string start;
};

INT_PTR CALLBACK AddDeviceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (CommonDialogMessage(message, wParam, lParam, &result)) return result;
  auto* context = ContextOf<AddDeviceContext>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_ADD_DEVICE_NAME, EM_LIMITTEXT, 5, 0);
      SetDlgItemTextA(dialog, IDC_ADD_DEVICE_NAME, context->start.c_str());
      SelectField(dialog, IDC_ADD_DEVICE_NAME);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (context->view.FinishAdd(ItemText(dialog, IDC_ADD_DEVICE_NAME))) {
            EndDialog(dialog, IDOK);
          } else {
            SelectField(dialog, IDC_ADD_DEVICE_NAME);
          }
          return TRUE;
        case IDCANCEL:
          context->view.CancelAdd();
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default: break;
      }
      break;
    default: break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Port Settings

struct PortContext {
  PortSettingsModel& model;
  LinkRole mode;
  // Set as the dialog closes: the fields' last focus losses change nothing.
  bool closing = false;
};

constexpr std::array<std::pair<int, PortSettingsModel::Field>, 3> kPortFields{{
    {IDC_REPLY_TIMEOUT, PortSettingsModel::Field::kReplyTimeout},
    {IDC_DELAY, PortSettingsModel::Field::kDelay},
    {IDC_RETRIES, PortSettingsModel::Field::kRetries},
}};

void ShowPortFields(HWND dialog, const PortContext& context) {
  const PortSettingsModel::Fields fields = context.model.Show(context.mode);
  SendDlgItemMessageA(dialog, IDC_CARD_NO, CB_SETCURSEL, static_cast<WPARAM>(fields.cardPosition), 0);
  SetDlgItemTextA(dialog, IDC_REPLY_TIMEOUT, fields.replyTimeout.c_str());
  SetDlgItemTextA(dialog, IDC_DELAY, fields.delay.c_str());
  SetDlgItemTextA(dialog, IDC_RETRIES, fields.retries.c_str());
}

INT_PTR CALLBACK PortSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (CommonDialogMessage(message, wParam, lParam, &result)) return result;
  auto* context = ContextOf<PortContext>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, context->model.Title(context->mode).c_str());
      FillComboBox(GetDlgItem(dialog, IDC_CARD_NO), PortSettingsModel::CardEntries(), 0);
      if (context->mode == LinkRole::kBackup) ShowWindow(GetDlgItem(dialog, IDC_ADVANCED), SW_HIDE);
      ShowPortFields(dialog, *context);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (code == EN_KILLFOCUS && !context->closing) {
        for (const auto& [field, which] : kPortFields) {
          if (field != id) continue;
          if (!context->model.Commit(context->mode, which, ItemText(dialog, id))) {
            ShowPortFields(dialog, *context);
            SelectField(dialog, id);
          } else {
            ShowPortFields(dialog, *context);
          }
        }
        return TRUE;
      }
      if (id == IDC_CARD_NO && code == CBN_SELCHANGE) {
        const int position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_CARD_NO, CB_GETCURSEL, 0, 0));
        context->model.ChooseCard(context->mode, position);
        ShowPortFields(dialog, *context);
        return TRUE;
      }
      switch (id) {
        case IDC_ADVANCED: {
          PortContext backup{context->model, LinkRole::kBackup};
          context->model.BeginBackup();
          if (DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PORT_SETTINGS), dialog,
                              PortSettingsProc, reinterpret_cast<LPARAM>(&backup)) != IDOK) {
            context->model.CancelBackup();
          }
          return TRUE;
        }
        case IDOK:
          if (!OkHasFocus(dialog)) return TRUE;
          if (context->mode == LinkRole::kPrimary && !context->model.Accept()) return TRUE;
          context->closing = true;
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          context->closing = true;
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case ID_DIALOG_HELP: OpenHelpTopic(dialog, HELP_TOPIC_PORT_SETTINGS); return TRUE;
        default: break;
      }
      break;
    }
    default: break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Poll Record Edit

using PollField = PollRecordEditModel::Field;

constexpr std::array<std::pair<int, PollField>, 6> kPollFields{{
    {IDC_START_ADDRESS, PollField::kStart},
    {IDC_END_ADDRESS, PollField::kEnd},
    {IDC_LENGTH, PollField::kLength},
    {IDC_POLL_TIME, PollField::kPollTime},
    {IDC_ACCESS_TIME, PollField::kAccessTime},
    {IDC_DEAD_BAND, PollField::kDeadBand},
}};

struct PollContext {
  PollRecordEditModel& model;
  PollRecordEditModel::Fields shown;
  // While fields are filled, and once the dialog closes, focus losses
  // change nothing.
  bool showing = false;
};

int IdOfPollField(PollField field) {
  for (const auto& [id, which] : kPollFields) {
    if (which == field) return id;
  }
  return IDC_START_ADDRESS;
}

const std::string& ShownText(const PollContext& context, PollField field) {
  switch (field) {
    case PollField::kStart: return context.shown.start;
    case PollField::kEnd: return context.shown.end;
    case PollField::kLength: return context.shown.length;
    case PollField::kPollTime: return context.shown.pollTime;
    case PollField::kAccessTime: return context.shown.accessTime;
    case PollField::kDeadBand: break;
  }
  return context.shown.deadBand;
}

void ShowPollFields(HWND dialog, PollContext& context) {
  context.shown = context.model.Show();
  // Setting texts sends no focus changes; the flag guards the change
  // notifications all the same.
  context.showing = true;
  SetDlgItemTextA(dialog, IDC_START_ADDRESS, context.shown.start.c_str());
  SetDlgItemTextA(dialog, IDC_END_ADDRESS, context.shown.end.c_str());
  SetDlgItemTextA(dialog, IDC_LENGTH, context.shown.length.c_str());
  SendDlgItemMessageA(dialog, IDC_DATA_TYPE, CB_SETCURSEL, static_cast<WPARAM>(context.shown.dataTypePosition), 0);
  SetDlgItemTextA(dialog, IDC_POLL_TIME, context.shown.pollTime.c_str());
  SetDlgItemTextA(dialog, IDC_ACCESS_TIME, context.shown.accessTime.c_str());
  SendDlgItemMessageA(dialog, IDC_EXCEPTION_TYPE, CB_SETCURSEL, static_cast<WPARAM>(context.shown.exceptionPosition),
                      0);
  SetDlgItemTextA(dialog, IDC_DEAD_BAND, context.shown.deadBand.c_str());
  context.showing = false;
}

INT_PTR CALLBACK PollRecordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (CommonDialogMessage(message, wParam, lParam, &result)) return result;
  auto* context = ContextOf<PollContext>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      FillComboBox(GetDlgItem(dialog, IDC_DATA_TYPE), PollRecordEditModel::DataTypeChoices(), -1);
      FillComboBox(GetDlgItem(dialog, IDC_EXCEPTION_TYPE), PollRecordEditModel::ExceptionChoices(), -1);
      SendDlgItemMessageA(dialog, IDC_DEAD_BAND, EM_LIMITTEXT, 7, 0);
      ShowPollFields(dialog, *context);
      SelectField(dialog, IDC_START_ADDRESS);
      return FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (code == EN_KILLFOCUS && !context->showing) {
        for (const auto& [field, which] : kPollFields) {
          if (field != id) continue;
          const PollRecordEditModel::Outcome outcome =
              context->model.Commit(which, ItemText(dialog, id), ShownText(*context, which));
          ShowPollFields(dialog, *context);
          if (outcome.refused) SelectField(dialog, IdOfPollField(outcome.focus));
        }
        return TRUE;
      }
      if (code == CBN_SELCHANGE && (id == IDC_DATA_TYPE || id == IDC_EXCEPTION_TYPE)) {
        const int position = static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
        if (id == IDC_DATA_TYPE) {
          context->model.ChooseDataType(position);
        } else {
          context->model.ChooseException(position);
        }
        ShowPollFields(dialog, *context);
        return TRUE;
      }
      switch (id) {
        case IDOK:
          if (!OkHasFocus(dialog)) return TRUE;
          context->model.Accept();
          context->showing = true;
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          context->showing = true;
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_POLL_NEW:
          context->model.New();
          ShowPollFields(dialog, *context);
          SelectField(dialog, IDC_START_ADDRESS);
          return TRUE;
        case IDC_POLL_DELETE:
          context->model.Delete();
          context->showing = true;
          EndDialog(dialog, IDOK);
          return TRUE;
        case ID_DIALOG_HELP: OpenHelpTopic(dialog, HELP_TOPIC_POLL_RECORD); return TRUE;
        default: break;
      }
      break;
    }
    default: break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// About

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (CommonDialogMessage(message, wParam, lParam, &result)) return result;
  auto* settings = ContextOf<EditorSettings>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG: {
      char description[128];
      wsprintfA(description, "%s (%s) V %s", kProductCaption, kAcronym, kDriverVersion);
      SetDlgItemTextA(dialog, IDC_ABOUT_DESCRIPTION, description);
      SetDlgItemTextA(dialog, IDC_ABOUT_NODE_NAME, settings->HostValue("NODENAME").c_str());
      SetDlgItemTextA(dialog, IDC_ABOUT_BASE_PATH, settings->HostValue("BASPATH").c_str());
      SetDlgItemTextA(dialog, IDC_ABOUT_DATABASE_PATH, settings->HostValue("PDBPATH").c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Exit

INT_PTR CALLBACK ExitProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (CommonDialogMessage(message, wParam, lParam, &result)) return result;
  auto* choice = ContextOf<ExitChoice>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      CheckDlgButton(dialog, IDC_EXIT_SAVE, choice->save ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, IDC_EXIT_RELOAD, choice->reload ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          choice->save = IsDlgButtonChecked(dialog, IDC_EXIT_SAVE) == BST_CHECKED;
          choice->reload = IsDlgButtonChecked(dialog, IDC_EXIT_RELOAD) == BST_CHECKED;
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: break;
      }
      break;
    default: break;
  }
  return FALSE;
}

INT_PTR Run(HWND owner, int id, DLGPROC procedure, void* context) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), owner, procedure,
                         reinterpret_cast<LPARAM>(context));
}

}  // namespace

void RunAddDeviceDialog(HWND owner, CfgView& view) {
  AddDeviceContext context{view, view.BeginAdd()};
  if (Run(owner, IDD_ADD_DEVICE, AddDeviceProc, &context) == -1) view.CancelAdd();
}

void RunPortSettingsDialog(HWND owner, PortSettingsModel& model) {
  PortContext context{model, LinkRole::kPrimary};
  Run(owner, IDD_PORT_SETTINGS, PortSettingsProc, &context);
}

void RunPollRecordDialog(HWND owner, PollRecordEditModel& model) {
  PollContext context{model, {}};
  Run(owner, IDD_POLL_RECORD, PollRecordProc, &context);
}

void RunAboutDialog(HWND owner, EditorSettings& settings) { Run(owner, IDD_ABOUT, AboutProc, &settings); }

INT_PTR RunExitDialog(HWND owner, ExitChoice& choice) { return Run(owner, IDD_EXIT, ExitProc, &choice); }

}  // namespace vrt::editor::win32
