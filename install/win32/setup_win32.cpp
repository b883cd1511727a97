// setup.exe: the welcome window and the wizard (installation directory,
// the host's node name when a host installation is found, the program
// folder), then Setup.dll's InstallDriver from setup's own directory.
//
//   setup.exe                                       the wizard
//   setup.exe /S [/D=DIR] [/NODE=NAME] [/FOLDER=NAME]   a server node, no window;
//                                                   exit 0, or 1 with the error on standard error
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <string>

#include "install_resources.h"
#include "install_rules.h"
#include "install_win32.h"

namespace vrt::install {
namespace {

using InstallDriverFunction = int(__stdcall*)(int, int, int, const char*, const char*, const char*, const char*,
                                              const char*);
using InstallUnattendedFunction = int(__stdcall*)(int, int, int, const char*, const char*, const char*, const char*,
                                                  const char*, char*, int);

constexpr char kCaption[] = "Harnix Tavex OPC Setup";

SetupDefaults HostDefaults() {
  HostRegistry host;
  const std::string newer = "Software\\Fix Dynamics";
  const std::string older = "Software\\FixDMACS";
  host.newerEditionKey = KeyExists(HKEY_CLASSES_ROOT, newer);
  host.olderEditionKey = KeyExists(HKEY_CLASSES_ROOT, older);
  const std::string key = host.newerEditionKey ? newer : older;
  host.basePath = ReadString(HKEY_CLASSES_ROOT, key, "BASPATH").value_or("");
  host.databasePath = ReadString(HKEY_CLASSES_ROOT, key, "PDBPATH").value_or("");
  host.nodeName = ReadString(HKEY_CLASSES_ROOT, key, "NODENAME").value_or("");
  host.iFixKey = KeyExists(HKEY_CLASSES_ROOT, "Software\\Intellution, Inc.\\iFIX");
  host.dynamicsKey = KeyExists(HKEY_CLASSES_ROOT, "Software\\Intellution, Inc.\\FIX Dynamics");
  char programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles))) {
    lstrcpyA(programFiles, "\\Program Files");
  }
  return DefaultsFrom(host, programFiles);
}

int Unattended(const SetupCommandLine& line) {
  const SetupDefaults defaults = HostDefaults();
  const std::string media = OwnDirectory();
  const std::string library = media + kSetupLibraryName;
  HMODULE module = LoadLibraryA(library.c_str());
  if (module == nullptr) {
    PrintError(FillText(kLoadLibraryFailed, std::to_string(GetLastError())));
    return 1;
  }
  auto install = reinterpret_cast<InstallUnattendedFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "InstallDriverUnattended")));
  if (install == nullptr) {
    PrintError(FillText(kResolveFailed, std::to_string(GetLastError())));
    FreeLibrary(module);
    return 1;
  }
  const std::string directory = line.directory.value_or(defaults.directory);
  const std::string node = line.node.value_or(defaults.hostFound ? defaults.nodeName : "");
  const std::string folder = line.folder.value_or(defaults.folder);
  char report[4096] = {};
  const int result = install(1, defaults.hostEdition ? 1 : 0, 1, media.c_str(), directory.c_str(),
                             defaults.databasePath.c_str(), node.c_str(), folder.c_str(), report, sizeof report);
  FreeLibrary(module);
  if (result != 1) {
    PrintError(report[0] != '\0' ? report : kInstallCanceled);
    return 1;
  }
  if (report[0] != '\0') PrintError(report);  // notes: files kept
  PrintError(kInstallSuccessful);
  return 0;
}

// The wizard's values, shared by its pages.
struct Wizard {
  SetupDefaults defaults;
  std::string directory, node, folder;
  bool finished = false;
};

std::string ItemText(HWND dialog, int id) {
  char text[MAX_PATH * 2] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

Wizard* WizardOf(HWND page, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* sheet = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
    SetWindowLongPtrA(page, DWLP_USER, sheet->lParam);
  }
  return reinterpret_cast<Wizard*>(GetWindowLongPtrA(page, DWLP_USER));
}

// The directory page's check on Next: an existing directory, or one made
// when the person agrees.
bool DirectoryAccepted(HWND page, const std::string& directory) {
  if (IsDirectory(directory)) return true;
  if (GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES || directory.empty()) {
    MessageBoxA(page, kNotADirectory, kCaption, MB_OK | MB_ICONSTOP);
    return false;
  }
  if (MessageBoxA(page, FillText(kCreateDirectoryQuestion, directory).c_str(), kCaption,
                  MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return false;
  }
  if (!CreateDirectories(directory)) {
    MessageBoxA(page, kCreateDirectoryFailed, kCaption, MB_OK | MB_ICONSTOP);
    return false;
  }
  return true;
}

INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  Wizard* wizard = WizardOf(page, message, lParam);
  if (wizard == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(page, IDC_DIRECTORY, wizard->directory.c_str());
      SetDlgItemTextA(page, IDC_NODE, wizard->node.c_str());
      SetDlgItemTextA(page, IDC_FOLDER, wizard->folder.c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_BROWSE) {
        BROWSEINFOA browse{};
        browse.hwndOwner = page;
        browse.lpszTitle = "Installation directory";
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        if (PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse)) {
          char path[MAX_PATH] = {};
          if (SHGetPathFromIDListA(chosen, path)) SetDlgItemTextA(page, IDC_DIRECTORY, path);
          CoTaskMemFree(chosen);
        }
        return TRUE;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<NMHDR*>(lParam);
      HWND sheet = GetParent(page);
      if (header->code == PSN_SETACTIVE) {
        const bool last = GetDlgItem(page, IDC_FOLDER) != nullptr;
        const bool first = GetDlgItem(page, IDC_DIRECTORY) != nullptr;
        PropSheet_SetWizButtons(sheet, (first ? 0 : PSWIZB_BACK) | (last ? PSWIZB_FINISH : PSWIZB_NEXT));
        return TRUE;
      }
      if (header->code == PSN_WIZNEXT || header->code == PSN_WIZFINISH) {
        if (GetDlgItem(page, IDC_DIRECTORY) != nullptr) {
          const std::string directory = ItemText(page, IDC_DIRECTORY);
          if (!DirectoryAccepted(page, directory)) {
            SetWindowLongPtrA(page, DWLP_MSGRESULT, -1);
            return TRUE;
          }
          wizard->directory = directory;
        }
        if (GetDlgItem(page, IDC_NODE) != nullptr) wizard->node = ItemText(page, IDC_NODE);
        if (GetDlgItem(page, IDC_FOLDER) != nullptr) wizard->folder = ItemText(page, IDC_FOLDER);
        if (header->code == PSN_WIZFINISH) wizard->finished = true;
        SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK WelcomeProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

int Interactive(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP_WELCOME), nullptr, WelcomeProcedure, 0) != IDOK) {
    MessageBoxA(nullptr, kInstallCanceled, kCaption, MB_OK | MB_ICONINFORMATION);
    return 1;
  }
  Wizard wizard;
  wizard.defaults = HostDefaults();
  wizard.directory = wizard.defaults.directory;
  wizard.node = wizard.defaults.nodeName;
  wizard.folder = wizard.defaults.folder;

  std::vector<int> pages = {IDD_SETUP_DIRECTORY};
  if (wizard.defaults.hostFound) pages.push_back(IDD_SETUP_NODE);
  pages.push_back(IDD_SETUP_FOLDER);
  std::vector<HPROPSHEETPAGE> handles;
  for (int id : pages) {
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE;  // the wizard's title on every page
    page.pszTitle = kCaption;
    page.hInstance = instance;
    page.pszTemplate = MAKEINTRESOURCEA(id);
    page.pfnDlgProc = PageProcedure;
    page.lParam = reinterpret_cast<LPARAM>(&wizard);
    handles.push_back(CreatePropertySheetPageA(&page));
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD;
  header.hInstance = instance;
  header.pszCaption = kCaption;
  header.nPages = static_cast<UINT>(handles.size());
  header.phpage = handles.data();
  PropertySheetA(&header);
  if (!wizard.finished) {
    MessageBoxA(nullptr, kInstallCanceled, kCaption, MB_OK | MB_ICONINFORMATION);
    return 1;
  }

  const std::string media = OwnDirectory();
  HMODULE module = LoadLibraryA((media + kSetupLibraryName).c_str());
  if (module == nullptr) {
    MessageBoxA(nullptr, FillText(kLoadLibraryFailed, std::to_string(GetLastError())).c_str(), kCaption, MB_OK);
    return 1;
  }
  auto install =
      reinterpret_cast<InstallDriverFunction>(reinterpret_cast<void*>(GetProcAddress(module, "InstallDriver")));
  if (install == nullptr) {
    MessageBoxA(nullptr, FillText(kResolveFailed, std::to_string(GetLastError())).c_str(), kCaption, MB_OK);
    FreeLibrary(module);
    return 1;
  }
  const int result = install(1, wizard.defaults.hostEdition ? 1 : 0, 1, media.c_str(), wizard.directory.c_str(),
                             wizard.defaults.databasePath.c_str(), wizard.node.c_str(), wizard.folder.c_str());
  FreeLibrary(module);
  MessageBoxA(nullptr, result == 1 ? kInstallSuccessful : kInstallCanceled, kCaption,
              MB_OK | (result == 1 ? MB_ICONINFORMATION : MB_ICONSTOP));
  return result == 1 ? 0 : 1;
}

}  // namespace
}  // namespace vrt::install

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace vrt::install;
  const SetupCommandLine line = ParseSetupCommandLine(ArgumentsAfterProgramName(GetCommandLineA()));
  if (!line.error.empty()) {
    PrintError(line.error);
    return 2;
  }
  return line.silent ? Unattended(line) : Interactive(instance);
}
