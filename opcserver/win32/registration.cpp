// Self-registration: the class, its ProgIDs and AppID under
// HKEY_CLASSES_ROOT, the settings under HKEY_LOCAL_MACHINE (written only
// when their key is new, so an administrator's changes stay), and the two
// OPC DA component categories. A registration that fails says so and leaves
// no class behind.
#include <windows.h>
#include <comcat.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <vector>

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

// Each write gives the registry's own result (ERROR_SUCCESS or the system
// error), so that the first failure can stop the registration.
LSTATUS CreateKey(HKEY root, const std::string& path, HKEY* key, bool* created = nullptr) {
  DWORD disposition = 0;
  const LSTATUS result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key, &disposition);
  if (result != ERROR_SUCCESS) {
    *key = nullptr;
    return result;
  }
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LSTATUS SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// One row of the class's table under HKEY_CLASSES_ROOT: the key, and a
// string value of it (the default value when `name` is null) unless the
// row has none.
struct ClassEntry {
  std::string path;
  const char* name;
  std::optional<std::string> value;
};

LSTATUS WriteEntry(const ClassEntry& entry) {
  HKEY key = nullptr;
  LSTATUS result = CreateKey(HKEY_CLASSES_ROOT, entry.path, &key);
  if (result != ERROR_SUCCESS) return result;
  if (entry.value) result = SetString(key, entry.name, *entry.value);
  RegCloseKey(key);
  return result;
}

// One settings sub-key, its values written only when this call created it
// (an administrator's changes stay). A sub-key created here whose values
// could not all be written is taken away again: left behind, it would count
// as the administrator's, and no later registration would complete it.
LSTATUS WriteSettings(const char* subKey, const std::vector<SettingValue>& values) {
  const std::string path = std::string(kSettingsKey) + "\\" + subKey;
  bool created = false;
  HKEY key = nullptr;
  LSTATUS result = CreateKey(HKEY_LOCAL_MACHINE, path, &key, &created);
  if (result != ERROR_SUCCESS) return result;
  if (created) {
    for (const SettingValue& value : values) {
      if (std::string(value.subKey) != subKey) continue;
      result = value.isDword ? SetDword(key, value.name, value.dword) : SetString(key, value.name, value.text);
      if (result != ERROR_SUCCESS) break;
    }
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS && created) RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
  return result;
}

void DeleteKey(HKEY root, const std::string& path) { RegDeleteKeyA(root, path.c_str()); }

void DeleteValue(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

constexpr CATID kCategories[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
constexpr ULONG kCategoryCount = sizeof kCategories / sizeof kCategories[0];

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

// Everything of the class under HKEY_CLASSES_ROOT goes: both ProgIDs, the
// class with its category links, and the AppID. Unregistration uses it, and
// so does a registration that failed part way, so that the class is either
// registered whole or not at all. The component categories manager's
// result.
HRESULT RemoveClassEntries(const OpcModule& module) {
  const std::string clsid = ClsidText();
  const std::string& independent = module.versionIndependentProgId;
  const std::string classKey = "CLSID\\" + clsid;
  const std::string appKey = "AppID\\" + clsid;

  for (const char* sub : {"\\OPC\\Vendor", "\\OPC", "\\CurVer", "\\CLSID"}) DeleteKey(HKEY_CLASSES_ROOT, independent + sub);
  DeleteKey(HKEY_CLASSES_ROOT, independent);
  DeleteKey(HKEY_CLASSES_ROOT, module.progId + "\\CLSID");
  DeleteKey(HKEY_CLASSES_ROOT, module.progId);

  const HRESULT result = WithCategoryManager([](ICatRegister& manager) {
    return manager.UnRegisterClassImplCategories(CLSID_VrtOpcServer, kCategoryCount, const_cast<CATID*>(kCategories));
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
  return result;
}

// The class's keys and values under HKEY_CLASSES_ROOT, in the order they are
// written; stops at the first write that fails.
LSTATUS WriteClassEntries(const OpcModule& module, const std::string& modulePath) {
  const std::string clsid = ClsidText();
  const std::string description = module.classDescription;
  const std::string& progId = module.progId;
  const std::string& independent = module.versionIndependentProgId;
  const std::string classKey = "CLSID\\" + clsid;
  const std::string appKey = "AppID\\" + clsid;
  const ClassEntry entries[] = {
      {progId, nullptr, description},
      {progId + "\\CLSID", nullptr, clsid},
      {independent, nullptr, description},
      {independent + "\\CurVer", nullptr, progId},
      {independent + "\\CLSID", nullptr, clsid},
      {independent + "\\OPC", nullptr, std::nullopt},
      {independent + "\\OPC\\Vendor", nullptr, std::string(kMakerAddress)},
      {classKey, nullptr, description},
      {classKey + "\\ProgID", nullptr, progId},
      {classKey + "\\VersionIndependentProgID", nullptr, independent},
      {classKey + "\\NotInsertable", nullptr, std::nullopt},
      {classKey + "\\InprocServer32", nullptr, modulePath},
      {classKey + "\\InprocServer32", "ThreadingModel", std::string("Free")},
      {classKey, "AppID", clsid},
      {appKey, nullptr, description},
      {appKey, "DllSurrogate", std::string()},
  };
  for (const ClassEntry& entry : entries) {
    if (const LSTATUS result = WriteEntry(entry); result != ERROR_SUCCESS) return result;
  }
  HKEY key = nullptr;
  LSTATUS result = CreateKey(HKEY_CLASSES_ROOT, appKey, &key);
  if (result != ERROR_SUCCESS) return result;
  result = SetDword(key, "AuthenticationLevel", 0);
  RegCloseKey(key);
  return result;
}

HRESULT RegisterCategories() {
  return WithCategoryManager([](ICatRegister& manager) {
    static const wchar_t* const kDescriptions[kCategoryCount] = {L"OPC Data Access Servers Version 1.0",
                                                                 L"OPC Data Access Servers Version 2.0",
                                                                 L"OPC Data Access Servers Version 3.0"};
    CATEGORYINFO categories[kCategoryCount] = {};
    for (ULONG k = 0; k < kCategoryCount; ++k) {
      categories[k].catid = kCategories[k];
      categories[k].lcid = 0;
      wcscpy(categories[k].szDescription, kDescriptions[k]);
    }
    const HRESULT described = manager.RegisterCategories(kCategoryCount, categories);
    if (FAILED(described)) return described;
    return manager.RegisterClassImplCategories(CLSID_VrtOpcServer, kCategoryCount, const_cast<CATID*>(kCategories));
  });
}

}  // namespace

}  // namespace vrt::opc

using namespace vrt::opc;

// A failed registry write gives its own error as the result,
// HRESULT_FROM_WIN32 of it, rather than SELFREG_E_CLASS: regsvr32 and setup
// show the code, and 0x80070005 tells the administrator that the rights were
// missing where SELFREG_E_CLASS would only repeat that the class failed. A
// failure of the component categories manager gives the manager's result.
// Whatever failed, the class is taken away again (RemoveClassEntries): a
// client must not find a class whose registration was reported failed, half
// of it perhaps pointing at an older library.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  const OpcModule& module = Module();
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(module.module, path, MAX_PATH);
  // A path cut short would register a library that is not there.
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;

  HRESULT result = S_OK;
  if (const LSTATUS written = WriteClassEntries(module, path); written != ERROR_SUCCESS) {
    result = HRESULT_FROM_WIN32(written);
  }
  if (SUCCEEDED(result)) {
    const std::vector<SettingValue> values = SettingValues(module.settings);
    for (const char* subKey : {kServerDefaults, kItemDefaults, kGroupDefaults}) {
      if (const LSTATUS written = WriteSettings(subKey, values); written != ERROR_SUCCESS) {
        result = HRESULT_FROM_WIN32(written);
        break;
      }
    }
  }
  if (SUCCEEDED(result)) result = RegisterCategories();
  if (FAILED(result)) RemoveClassEntries(module);
  return result;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  const HRESULT result = RemoveClassEntries(Module());
  const std::string settings = kSettingsKey;
  for (const char* subKey : {kServerDefaults, kGroupDefaults, kItemDefaults}) {
    DeleteKey(HKEY_LOCAL_MACHINE, settings + "\\" + subKey);
  }
  DeleteKey(HKEY_LOCAL_MACHINE, settings);
  return result;
}
