// Self-registration: the class, its ProgIDs and AppID under
// HKEY_CLASSES_ROOT, the settings under HKEY_LOCAL_MACHINE (written only
// when their key is new, so an administrator's changes stay), and the two
// OPC DA component categories.
#include <windows.h>
#include <comcat.h>

#include <string>

#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

std::string ClsidText() {
  wchar_t wide[64] = {};
  StringFromGUID2(CLSID_VrtOpcServer, wide, 64);
  char text[64] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

// Creates the key; says whether it was new. Failures are not reported.
HKEY CreateKey(HKEY root, const std::string& path, bool* created = nullptr) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return key;
}

void SetString(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// One key of the class's table: the key is created, and its value written
// only when it could be.
void Entry(const std::string& path, const char* name, const std::string* value) {
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, path);
  if (key == nullptr) return;
  if (value != nullptr) SetString(key, name, *value);
  RegCloseKey(key);
}

void DeleteKey(HKEY root, const std::string& path) { RegDeleteKeyA(root, path.c_str()); }

void DeleteValue(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

constexpr CATID kCategories[] = {CATID_OPCDAServer10, CATID_OPCDAServer20};

template <typename Use>
HRESULT WithCategoryManager(Use use) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ICatRegister* manager = nullptr;
  HRESULT result = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                    reinterpret_cast<void**>(&manager));
  if (SUCCEEDED(result)) {
    result = use(*manager);
    manager->Release();
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  return result;
}

}  // namespace

}  // namespace vrt::opc

using namespace vrt::opc;

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  const OpcModule& module = Module();
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(module.module, path, MAX_PATH);
  const std::string modulePath = path;
  const std::string clsid = ClsidText();
  const std::string description = module.classDescription;
  const std::string& progId = module.progId;
  const std::string& independent = module.versionIndependentProgId;
  const std::string vendor = kMakerAddress;
  const std::string threading = "Free";
  const std::string surrogate;
  const std::string classKey = "CLSID\\" + clsid;
  const std::string appKey = "AppID\\" + clsid;

  Entry(progId, nullptr, &description);
  Entry(progId + "\\CLSID", nullptr, &clsid);
  Entry(independent, nullptr, &description);
  Entry(independent + "\\CurVer", nullptr, &progId);
  Entry(independent + "\\CLSID", nullptr, &clsid);
  Entry(independent + "\\OPC", nullptr, nullptr);
  Entry(independent + "\\OPC\\Vendor", nullptr, &vendor);
  Entry(classKey, nullptr, &description);
  Entry(classKey + "\\ProgID", nullptr, &progId);
  Entry(classKey + "\\VersionIndependentProgID", nullptr, &independent);
  Entry(classKey + "\\NotInsertable", nullptr, nullptr);
  Entry(classKey + "\\InprocServer32", nullptr, &modulePath);
  Entry(classKey + "\\InprocServer32", "ThreadingModel", &threading);
  Entry(classKey, "AppID", &clsid);
  Entry(appKey, nullptr, &description);
  Entry(appKey, "DllSurrogate", &surrogate);
  if (HKEY key = CreateKey(HKEY_CLASSES_ROOT, appKey)) {
    SetDword(key, "AuthenticationLevel", 0);
    RegCloseKey(key);
  }

  // The settings sub-keys, each written only when newly created.
  const std::vector<SettingValue> values = SettingValues(module.settings);
  for (const char* subKey : {kServerDefaults, kItemDefaults, kGroupDefaults}) {
    bool created = false;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, std::string(kSettingsKey) + "\\" + subKey, &created);
    if (key == nullptr) continue;
    if (created) {
      for (const SettingValue& value : values) {
        if (std::string(value.subKey) != subKey) continue;
        if (value.isDword) {
          SetDword(key, value.name, value.dword);
        } else {
          SetString(key, value.name, value.text);
        }
      }
    }
    RegCloseKey(key);
  }

  return WithCategoryManager([](ICatRegister& manager) {
    CATEGORYINFO categories[2] = {};
    categories[0].catid = CATID_OPCDAServer10;
    categories[0].lcid = 0;
    wcscpy(categories[0].szDescription, L"OPC Data Access Servers Version 1.0");
    categories[1].catid = CATID_OPCDAServer20;
    categories[1].lcid = 0;
    wcscpy(categories[1].szDescription, L"OPC Data Access Servers Version 2.0");
    manager.RegisterCategories(2, categories);
    return manager.RegisterClassImplCategories(CLSID_VrtOpcServer, 2, const_cast<CATID*>(kCategories));
  });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  const OpcModule& module = Module();
  const std::string clsid = ClsidText();
  const std::string& independent = module.versionIndependentProgId;
  const std::string classKey = "CLSID\\" + clsid;
  const std::string appKey = "AppID\\" + clsid;

  for (const char* sub : {"\\OPC\\Vendor", "\\OPC", "\\CurVer", "\\CLSID"}) DeleteKey(HKEY_CLASSES_ROOT, independent + sub);
  DeleteKey(HKEY_CLASSES_ROOT, independent);
  DeleteKey(HKEY_CLASSES_ROOT, module.progId + "\\CLSID");
  DeleteKey(HKEY_CLASSES_ROOT, module.progId);

  const HRESULT result = WithCategoryManager([](ICatRegister& manager) {
    return manager.UnRegisterClassImplCategories(CLSID_VrtOpcServer, 2, const_cast<CATID*>(kCategories));
  });

  for (const char* sub : {"\\ProgID", "\\VersionIndependentProgID", "\\NotInsertable", "\\InprocServer32"}) {
    DeleteKey(HKEY_CLASSES_ROOT, classKey + sub);
  }
  // The category links may be left when the manager could not remove them.
  DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}");
  DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}");
  DeleteKey(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories");
  DeleteKey(HKEY_CLASSES_ROOT, classKey);

  // "DllSurrogate" and "AuthenticationLevel" are values of the AppID key;
  // the permission values may have been added by an administrator.
  for (const char* value : {"DllSurrogate", "AuthenticationLevel", "AccessPermission", "LaunchPermission"}) {
    DeleteValue(HKEY_CLASSES_ROOT, appKey, value);
    DeleteKey(HKEY_CLASSES_ROOT, appKey + "\\" + value);
  }
  DeleteKey(HKEY_CLASSES_ROOT, appKey + "\\Implemented Catergories");
  DeleteKey(HKEY_CLASSES_ROOT, appKey);

  const std::string settings = kSettingsKey;
  for (const char* subKey : {kServerDefaults, kGroupDefaults, kItemDefaults}) {
    DeleteKey(HKEY_LOCAL_MACHINE, settings + "\\" + subKey);
  }
  DeleteKey(HKEY_LOCAL_MACHINE, settings);
  return result;
}
