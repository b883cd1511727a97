// The configuration form (5200) in the main window's upper pane: the device
// list, the property fields, the hardware list and the poll-record grid.
#include <windows.h>

#include <commctrl.h>

#include <array>

#include "editor_resources.h"
#include "editor_win32.h"

namespace vrt::editor::win32 {

namespace {

constexpr std::array<std::pair<int, PropertyField>, 5> kPropertyFields{{
    {IDC_DEVICE_NAME, PropertyField::kName},
    {IDC_PRIMARY_STATION, PropertyField::kPrimaryStation},
    {IDC_BACKUP_STATION, PropertyField::kBackupStation},
    {IDC_DESCRIPTION, PropertyField::kDescription},
    {IDC_QUEUE_HEAD, PropertyField::kQueueHead},
}};

// Column header icons of the first six columns, then the rows' icon.
constexpr std::array<int, 6> kColumnIcons{IDI_COLUMN_IO_BLOCKS, IDI_COLUMN_START,  IDI_COLUMN_END,
                                          IDI_COLUMN_LENGTH,    IDI_COLUMN_DATA_TYPE, IDI_COLUMN_POLL_TIME};
// State images 1..4 of the rows.
constexpr std::array<int, 4> kStateIcons{IDI_STATE_GOOD, IDI_STATE_FAILED, IDI_STATE_WAITING, IDI_STATE_UNKNOWN};

struct FormState {
  CfgView& view;
  bool filling = false;
};

FormState* StateOf(HWND form) { return reinterpret_cast<FormState*>(GetWindowLongPtrA(form, DWLP_USER)); }

HIMAGELIST IconList(const int* ids, std::size_t count) {
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(count), 0);
  for (std::size_t i = 0; i < count; ++i) {
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ids[i]), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    ImageList_AddIcon(list, icon);
    DestroyIcon(icon);
  }
  return list;
}

void SetUpGrid(HWND grid) {
  ListView_SetExtendedListViewStyle(grid, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  const int rowIcon = IDI_COLUMN_IO_BLOCKS;
  ListView_SetImageList(grid, IconList(&rowIcon, 1), LVSIL_SMALL);
  ListView_SetImageList(grid, IconList(kStateIcons.data(), kStateIcons.size()), LVSIL_STATE);
  HWND header = ListView_GetHeader(grid);
  Header_SetImageList(header, IconList(kColumnIcons.data(), kColumnIcons.size()));
  RECT area{};
  GetClientRect(grid, &area);
  const int width = (area.right - area.left) / IDS_COLUMN_COUNT;
  for (int column = 0; column < IDS_COLUMN_COUNT; ++column) {
    char title[64] = {};
    LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(IDS_COLUMN_FIRST + column), title, sizeof title);
    LVCOLUMNA heading{};
    heading.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
    heading.fmt = LVCFMT_LEFT;
    if (column < static_cast<int>(kColumnIcons.size())) {
      heading.mask |= LVCF_IMAGE;
      heading.fmt |= LVCFMT_IMAGE;
      heading.iImage = column;
    }
    heading.cx = width;
    heading.pszText = title;
    heading.iSubItem = column;
    SendMessageA(grid, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&heading));
  }
}

void SetRow(HWND grid, int row, const GridRow& content, bool insert) {
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
  item.iItem = row;
  item.iImage = 0;
  item.state = INDEXTOSTATEIMAGEMASK(static_cast<UINT>(content.stateIcon));
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.pszText = const_cast<char*>(content.texts[0].c_str());
  SendMessageA(grid, insert ? LVM_INSERTITEMA : LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  for (std::size_t column = 1; column < content.texts.size(); ++column) {
    LVITEMA cell{};
    cell.iSubItem = static_cast<int>(column);
    cell.pszText = const_cast<char*>(content.texts[column].c_str());
    SendMessageA(grid, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  }
}

void FillGrid(HWND form, FormState& state) {
  HWND grid = GetDlgItem(form, IDC_POLL_GRID);
  SendMessageA(grid, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(grid);
  const std::vector<GridRow> rows = state.view.Grid();
  for (std::size_t row = 0; row < rows.size(); ++row) SetRow(grid, static_cast<int>(row), rows[row], true);
  SendMessageA(grid, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(grid, nullptr, TRUE);
}

void ShowProperties(HWND form, FormState& state) {
  state.filling = true;
  const DeviceProperties shown = state.view.ShowProperties();
  SetDlgItemTextA(form, IDC_DEVICE_NAME, shown.name.c_str());
  SetDlgItemTextA(form, IDC_PRIMARY_STATION, shown.primaryStation.c_str());
  SetDlgItemTextA(form, IDC_BACKUP_STATION, shown.backupStation.c_str());
  SetDlgItemTextA(form, IDC_DESCRIPTION, shown.description.c_str());
  SetDlgItemTextA(form, IDC_QUEUE_HEAD, shown.queueHead.c_str());
  SendDlgItemMessageA(form, IDC_HARDWARE, CB_SETCURSEL, static_cast<WPARAM>(shown.hardwarePosition), 0);
  state.filling = false;
}

void FillDeviceList(HWND form, FormState& state) {
  HWND list = GetDlgItem(form, IDC_DEVICE_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& name : state.view.DeviceNames()) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(state.view.DevicePosition()), 0);
  EnableWindow(GetDlgItem(form, IDC_DEVICE_ADD), state.view.AddEnabled());
}

void ShowDevice(HWND form, FormState& state) {
  ShowProperties(form, state);
  FillGrid(form, state);
}

void EditPollRecord(HWND form, FormState& state, int row) {
  CDevice* device = state.view.Device();
  if (device == nullptr) return;
  CPollRecord* record = state.view.RecordForDoubleClick(row);
  PollRecordEditModel model(state.view.Doc(), *device, record, state.view.Services());
  RunPollRecordDialog(GetParent(form), model);
  state.view.AfterPollRecordDialog(record);
  FillGrid(form, state);
}

INT_PTR CALLBACK FormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  const INT_PTR brush = PaintGrey(message, wParam);
  if (brush != 0) return brush;
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(form, DWLP_USER, lParam);
    SendDlgItemMessageA(form, IDC_DEVICE_NAME, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageA(form, IDC_DESCRIPTION, EM_LIMITTEXT, 40, 0);
    FillComboBox(GetDlgItem(form, IDC_HARDWARE), CfgView::HardwareChoices(), -1);
    SetUpGrid(GetDlgItem(form, IDC_POLL_GRID));
    return TRUE;
  }
  FormState* state = StateOf(form);
  if (state == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (code == EN_KILLFOCUS && !state->filling) {
        for (const auto& [field, which] : kPropertyFields) {
          if (field != id) continue;
          const bool taken = state->view.CommitProperty(which, ItemText(form, id));
          ShowProperties(form, *state);
          if (which == PropertyField::kName) FillDeviceList(form, *state);
          if (!taken) {
            SetFocus(GetDlgItem(form, id));
            SendDlgItemMessageA(form, id, EM_SETSEL, 0, -1);
          }
        }
        return TRUE;
      }
      if (id == IDC_DEVICE_LIST && code == LBN_SELCHANGE) {
        state->view.SelectDevice(static_cast<int>(SendDlgItemMessageA(form, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0)));
        ShowDevice(form, *state);
        return TRUE;
      }
      if (id == IDC_HARDWARE && code == CBN_SELCHANGE && !state->filling) {
        state->view.ChooseHardware(static_cast<int>(SendDlgItemMessageA(form, IDC_HARDWARE, CB_GETCURSEL, 0, 0)));
        ShowDevice(form, *state);
        return TRUE;
      }
      if (id == IDC_DEVICE_ADD && code == BN_CLICKED) {
        RunAddDeviceDialog(GetParent(form), state->view);
        FillDeviceList(form, *state);
        ShowDevice(form, *state);
        return TRUE;
      }
      if (id == IDC_DEVICE_DELETE && code == BN_CLICKED) {
        state->view.DeleteDevice();
        FillDeviceList(form, *state);
        ShowDevice(form, *state);
        return TRUE;
      }
      break;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_POLL_GRID && header->code == NM_DBLCLK) {
        // The row double-clicked; below the last row, -1 (a new record).
        EditPollRecord(form, *state, reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
        return TRUE;
      }
      break;
    }
    case WM_SIZE: {
      // The grid takes the form's width and the height below its top.
      HWND grid = GetDlgItem(form, IDC_POLL_GRID);
      RECT box{};
      GetWindowRect(grid, &box);
      MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&box), 2);
      const int width = LOWORD(lParam) - 2 * box.left;
      const int height = HIWORD(lParam) - box.top - box.left;
      if (width > 50 && height > 30) {
        MoveWindow(grid, box.left, box.top, width, height, TRUE);
        for (int column = 0; column < IDS_COLUMN_COUNT; ++column) {
          ListView_SetColumnWidth(grid, column, (width - GetSystemMetrics(SM_CXVSCROLL)) / IDS_COLUMN_COUNT);
        }
      }
      return TRUE;
    }
    case WM_DESTROY:
      delete state;
      SetWindowLongPtrA(form, DWLP_USER, 0);
      return TRUE;
    default: break;
  }
  return FALSE;
}

}  // namespace

HWND CreateConfigForm(HWND parent, CfgView& view) {
  auto* state = new FormState{view};
  HWND form = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONFIG_VIEW), parent, FormProc,
                                 reinterpret_cast<LPARAM>(state));
  if (form == nullptr) delete state;
  if (form != nullptr) {
    SetWindowLongPtrA(form, GWLP_ID, IDW_CONFIG_VIEW);
    ShowWindow(form, SW_SHOW);
  }
  return form;
}

void RefreshConfigForm(HWND form) {
  FormState* state = StateOf(form);
  if (state == nullptr) return;
  FillDeviceList(form, *state);
  ShowDevice(form, *state);
}

void RedrawGridRows(HWND form, const std::vector<int>& rows) {
  FormState* state = StateOf(form);
  if (state == nullptr || rows.empty()) return;
  const CDevice* device = state->view.Device();
  if (device == nullptr) return;
  HWND grid = GetDlgItem(form, IDC_POLL_GRID);
  const auto& records = device->PollRecords();
  for (int row : rows) {
    if (row >= 0 && row < static_cast<int>(records.size()) && row < ListView_GetItemCount(grid)) {
      SetRow(grid, row, state->view.Row(*records[static_cast<std::size_t>(row)], row + 1), false);
    }
  }
}

}  // namespace vrt::editor::win32
