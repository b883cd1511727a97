// VRTOPC through real COM in the test prefix: registration, the class
// object, the server object and its groups, without a driver running.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>

#include "dit_mapping.h"
#include "opc_client.h"
#include "probe_process.h"

namespace vrt {
namespace {

using testing::ComPtr;

constexpr const char* kClsidKey = "CLSID\\{5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}";
constexpr const char* kAppIdKey = "AppID\\{5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}";
constexpr const char* kDescription = "www.kalvento.com Harnix Tavex OPC Server";
constexpr const char* kServerDefaultsKey = "Software\\Kalvento\\Tavex\\OPC\\ServerDefaults";
constexpr const char* kItemDefaultsKey = "Software\\Kalvento\\Tavex\\OPC\\ItemDefaults";
constexpr const char* kGroupDefaultsKey = "Software\\Kalvento\\Tavex\\OPC\\GroupDefaults";
constexpr CLSID kOtherClsid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

std::wstring Take(LPWSTR text) {
  std::wstring copy = text == nullptr ? L"(null)" : text;
  CoTaskMemFree(text);
  return copy;
}

class OpcServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    // No driver here: loading the NIO library must not start one.
    testing::DeleteConfigValue(kDriverExeValue);
    ASSERT_EQ(testing::CreateServer(server), S_OK);
  }

  ComPtr<IOPCItemMgt> NewGroup(const wchar_t* name, OPCHANDLE* handle = nullptr) {
    ComPtr<IOPCItemMgt> group;
    EXPECT_EQ(testing::AddGroup(*server.Get(), name, group, handle), S_OK);
    return group;
  }
  std::wstring NameOf(IUnknown* group) {
    ComPtr<IOPCGroupStateMgt> state;
    group->QueryInterface(IID_IOPCGroupStateMgt, state.OutVoid());
    LPWSTR name = nullptr;
    state->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr);
    return Take(name);
  }

  testing::ComApartment apartment;
  ComPtr<IOPCServer> server;
};

TEST(OpcRegistration, RegistrationWritesEveryEntryKeepsChangedSettingsAndUnregistrationRemovesThem) {
  ASSERT_EQ(testing::RunRegsvr32(true), 0);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Kalvento.Tavex"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Kalvento\\Tavex\\OPC"));

  ASSERT_EQ(testing::RunRegsvr32(false), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kalvento.Tavex.6.9.6", ""), kDescription);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kalvento.Tavex.6.9.6\\CLSID", ""),
            "{5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kalvento.Tavex", ""), kDescription);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kalvento.Tavex\\CurVer", ""), "Kalvento.Tavex.6.9.6");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kalvento.Tavex\\OPC\\Vendor", ""), "www.kalvento.com");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClsidKey, ""), kDescription);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClsidKey, "AppID"), "{5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\ProgID", ""), "Kalvento.Tavex.6.9.6");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\VersionIndependentProgID", ""),
            "Kalvento.Tavex");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\NotInsertable"));
  const auto module = ReadString(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\InprocServer32", "");
  ASSERT_TRUE(module);
  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, module->c_str(), -1, testing::ServerLibrary().c_str(), -1),
            CSTR_EQUAL)
      << *module;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\InprocServer32", "ThreadingModel"), "Free");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, ""), kDescription);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, "DllSurrogate"), "");
  EXPECT_EQ(ReadCount(HKEY_CLASSES_ROOT, kAppIdKey, "AuthenticationLevel"), 0u);
  // The DA 1.0, 2.0 and 3.0 categories, through the system's component
  // categories manager.
  for (const char* category : {"{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}",
                               "{CC603642-66D7-48F1-B69A-B625E73652D7}"}) {
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Implemented Categories\\" + category))
        << category;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string("Component Categories\\") + category)) << category;
  }
  // The settings, as the built-in defaults.
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime"), 100u);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadPriority"), 7u);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "AutoStart"), 1u);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "StringLength"), 20u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "SignalConditioning"), "NONE");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "LoEGU"), "0.0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "HiEGU"), "65535.0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kItemDefaultsKey, "HardwareOptions"), "NONE");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kGroupDefaultsKey, "GeneratedGroupName"), "Group");

  // An administrator's change survives registering again.
  testing::WriteDword(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime", 250);
  testing::SetMachineValue(kGroupDefaultsKey, "GeneratedGroupName", "Grp");
  ASSERT_EQ(testing::RunRegsvr32(false), 0);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime"), 250u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kGroupDefaultsKey, "GeneratedGroupName"), "Grp");

  ASSERT_EQ(testing::RunRegsvr32(true), 0);
  for (const char* key : {"Kalvento.Tavex", "Kalvento.Tavex.6.9.6", kClsidKey, kAppIdKey}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Kalvento\\Tavex\\OPC"));
  // Leave it registered with its defaults for the other tests.
  ASSERT_EQ(testing::RunRegsvr32(false), 0);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime"), 100u);
}

void DeleteKeys(HKEY root, std::initializer_list<std::string> deepestFirst) {
  for (const std::string& path : deepestFirst) RegDeleteKeyA(root, path.c_str());
}

TEST(OpcRegistration, AWriteThatFailsFailsTheRegistrationAndLeavesNoClassBehind) {
  testing::DeleteConfigValue(kDriverExeValue);
  const std::string classKey = kClsidKey;
  const std::string categories = classKey + "\\Implemented Categories";
  const std::string settings = "Software\\Kalvento\\Tavex\\OPC";
  // Each part of the registration, made to fail by the registry itself.
  struct Obstacle {
    const char* part;
    std::function<void()> place;
    std::function<void()> remove;
    HRESULT expected;  // S_OK: any failure will do (the categories manager's own)
  };
  const Obstacle obstacles[] = {
      {"the class's InprocServer32 key refuses its values",
       [&] { ASSERT_TRUE(testing::LockKeyAgainstWrites(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32")); },
       [&] { DeleteKeys(HKEY_CLASSES_ROOT, {classKey + "\\InprocServer32", classKey}); },
       HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
      {"the settings key is volatile, so its sub-keys cannot be made to last",
       [&] {
         HKEY key = nullptr;
         ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, settings.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr),
                   ERROR_SUCCESS);
         RegCloseKey(key);
       },
       [&] { DeleteKeys(HKEY_LOCAL_MACHINE, {settings}); },
       HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE)},
      {"the class's category links refuse the categories manager",
       [&] { ASSERT_TRUE(testing::LockKeyAgainstWrites(HKEY_CLASSES_ROOT, categories)); },
       [&] { DeleteKeys(HKEY_CLASSES_ROOT, {categories, classKey}); },
       S_OK},
  };
  const auto nothingOfTheClassIsLeft = [&] {
    for (const char* key : {"Kalvento.Tavex", "Kalvento.Tavex.6.9.6", kClsidKey, kAppIdKey}) {
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
    // No settings sub-key half written: a later registration would keep it
    // as an administrator's.
    if (KeyExists(HKEY_LOCAL_MACHINE, kServerDefaultsKey)) {
      EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadPriority"), 7u);
    }
  };

  // A failed registration leaves nothing to unregister, so each attempt
  // starts from where the one before left the registry.
  ASSERT_EQ(testing::RunRegsvr32(true), 0);
  for (const Obstacle& obstacle : obstacles) {
    SCOPED_TRACE(obstacle.part);
    ASSERT_NO_FATAL_FAILURE(obstacle.place());
    const int code = testing::RunRegsvr32(false);
    EXPECT_NE(code, 0);
    nothingOfTheClassIsLeft();
    obstacle.remove();

    // The result itself, from the library in this process.
    ASSERT_NO_FATAL_FAILURE(obstacle.place());
    HMODULE library = LoadLibraryA(testing::ServerLibrary().c_str());
    ASSERT_NE(library, nullptr);
    using Register = HRESULT(STDAPICALLTYPE*)();
    auto registerServer =
        reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    const HRESULT result = registerServer();
    FreeLibrary(library);
    if (obstacle.expected != S_OK) {
      EXPECT_EQ(result, obstacle.expected);
    } else {
      EXPECT_TRUE(FAILED(result)) << std::hex << result;
    }
    nothingOfTheClassIsLeft();
    obstacle.remove();
  }

  // With the obstacles gone, registering works again, and the other tests
  // find the server registered.
  ASSERT_EQ(testing::RunRegsvr32(false), 0);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"));
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime"), 100u);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, categories + "\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
}

TEST(OpcClassObject, OtherClassesAndAggregationAreRefusedAndLiveServersKeepTheLibrary) {
  testing::DeleteConfigValue(kDriverExeValue);
  testing::ComApartment apartment;
  HMODULE library = LoadLibraryA(testing::ServerLibrary().c_str());
  ASSERT_NE(library, nullptr);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
  auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnloadNow, nullptr);

  ComPtr<IClassFactory> factory;
  EXPECT_EQ(getClassObject(kOtherClsid, IID_IClassFactory, factory.OutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(factory);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Kalvento.Tavex", &clsid), S_OK);
  ComPtr<IOPCServer> wrong;
  EXPECT_EQ(getClassObject(clsid, IID_IOPCServer, wrong.OutVoid()), E_NOINTERFACE);
  ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);  // a class object counts for nothing

  ComPtr<IOPCServer> server;
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory.Get());
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, server.OutVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, server.OutVoid()), E_NOINTERFACE);
  EXPECT_EQ(canUnloadNow(), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  server.Reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);
  factory.Reset();
  FreeLibrary(library);
}

TEST_F(OpcServerObject, GroupsGetMadeUpNamesRevisedRatesAndCheckedDeadbands) {
  OPCHANDLE first = 0, second = 0, third = 0;
  auto group1 = NewGroup(L"", &first);
  auto group2 = NewGroup(L"", &second);
  auto group3 = NewGroup(L"", &third);
  EXPECT_EQ(NameOf(group1.Get()), L"Group1");
  EXPECT_EQ(NameOf(group3.Get()), L"Group3");
  EXPECT_NE(first, second);
  group2.Reset();
  EXPECT_EQ(server->RemoveGroup(second, FALSE), S_OK);  // nobody holds it: gone
  EXPECT_EQ(server->RemoveGroup(second, FALSE), E_FAIL);  // a stale handle
  EXPECT_EQ(server->RemoveGroup(0, TRUE), E_FAIL);
  EXPECT_EQ(server->RemoveGroup(0xDEADBEEF, TRUE), E_FAIL);
  // Group1 and Group3 are left: Group3 is taken, Group4 is chosen.
  auto group4 = NewGroup(L"");
  EXPECT_EQ(NameOf(group4.Get()), L"Group4");

  ComPtr<IOPCItemMgt> duplicate;
  EXPECT_EQ(testing::AddGroup(*server.Get(), L"Group1", duplicate), static_cast<HRESULT>(0xC004000C));

  // Rate 0: revised to ThreadSleepTime, reported only when asked for.
  OPCHANDLE handle = 0;
  DWORD revised = 0;
  ComPtr<IOPCGroupStateMgt> fast;
  EXPECT_EQ(server->AddGroup(L"fast", TRUE, 0, 1, nullptr, nullptr, 0, &handle, &revised, IID_IOPCGroupStateMgt,
                             fast.OutUnknown()),
            static_cast<HRESULT>(0x0004000D));
  EXPECT_EQ(revised, 100u);
  ComPtr<IOPCGroupStateMgt> quiet;
  EXPECT_EQ(server->AddGroup(L"quiet", TRUE, 0, 1, nullptr, nullptr, 0, &handle, nullptr, IID_IOPCGroupStateMgt,
                             quiet.OutUnknown()),
            S_OK);
  DWORD rate = 0;
  LCID lcid = 0;
  ASSERT_EQ(quiet->GetState(&rate, nullptr, nullptr, nullptr, nullptr, &lcid, nullptr, nullptr), S_OK);
  EXPECT_EQ(rate, 100u);

  // A deadband of 100.5 leaves no group behind.
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  const DWORD groups = status->dwGroupCount;
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  FLOAT deadband = 100.5f;
  ComPtr<IOPCGroupStateMgt> refused;
  EXPECT_EQ(server->AddGroup(L"refused", TRUE, 500, 1, nullptr, &deadband, 0, &handle, &revised,
                             IID_IOPCGroupStateMgt, refused.OutUnknown()),
            E_INVALIDARG);
  EXPECT_FALSE(refused);
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, groups);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  ComPtr<IOPCGroupStateMgt> byName;
  EXPECT_EQ(server->GetGroupByName(L"refused", IID_IOPCGroupStateMgt, byName.OutUnknown()), E_INVALIDARG);

  // SetState: a refused deadband does not keep the rate from changing.
  DWORD requested = 250;
  FLOAT tooMuch = 150.0f;
  EXPECT_EQ(quiet->SetState(&requested, &revised, nullptr, nullptr, &tooMuch, nullptr, nullptr), E_INVALIDARG);
  ASSERT_EQ(quiet->GetState(&rate, nullptr, nullptr, nullptr, &deadband, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(rate, 250u);
  EXPECT_EQ(deadband, 0.0f);
  EXPECT_EQ(quiet->SetState(&requested, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(quiet->SetName(L"Group1"), static_cast<HRESULT>(0xC004000C));
  EXPECT_EQ(quiet->SetName(L""), E_INVALIDARG);
  EXPECT_EQ(quiet->SetName(L"calm"), S_OK);
  EXPECT_EQ(server->GetGroupByName(L"calm", IID_IOPCGroupStateMgt, byName.OutUnknown()), S_OK);

  // Removed without force while held: in use, and the group fails from then on.
  ComPtr<IOPCGroupStateMgt> held;
  ASSERT_EQ(group4.As(held), S_OK);
  OPCHANDLE heldHandle = 0;
  ASSERT_EQ(held->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &heldHandle), S_OK);
  EXPECT_EQ(server->RemoveGroup(heldHandle, FALSE), static_cast<HRESULT>(0x0004000F));
  EXPECT_EQ(held->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(held->SetName(L"again"), E_FAIL);
  // Forced while held: removed, and the client's pointer stays safe to release.
  ComPtr<IOPCGroupStateMgt> forced;
  ASSERT_EQ(group3.As(forced), S_OK);
  ASSERT_EQ(forced->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &heldHandle), S_OK);
  EXPECT_EQ(server->RemoveGroup(heldHandle, TRUE), S_OK);
  EXPECT_EQ(forced->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL);

  // A clone gets a made-up name, its own handle and starts inactive.
  ComPtr<IOPCGroupStateMgt> clone;
  ComPtr<IOPCGroupStateMgt> source;
  ASSERT_EQ(group1.As(source), S_OK);
  ASSERT_EQ(source->CloneGroup(L"", IID_IOPCGroupStateMgt, clone.OutUnknown()), S_OK);
  BOOL active = TRUE;
  OPCHANDLE cloneHandle = 0, client = 0;
  LPWSTR cloneName = nullptr;
  ASSERT_EQ(clone->GetState(&rate, &active, &cloneName, nullptr, nullptr, nullptr, &client, &cloneHandle), S_OK);
  EXPECT_EQ(Take(cloneName), L"Group3");  // three groups now: Group3 is free again
  EXPECT_FALSE(active);
  EXPECT_EQ(client, 77u);
  EXPECT_NE(cloneHandle, first);
  EXPECT_EQ(source->CloneGroup(L"calm", IID_IOPCGroupStateMgt, clone.OutUnknown()), static_cast<HRESULT>(0xC004000C));
}

TEST_F(OpcServerObject, GroupEnumeratorsFollowScopeAndInterface) {
  auto alpha = NewGroup(L"alpha");
  auto beta = NewGroup(L"beta");
  auto gamma = NewGroup(L"gamma");

  ComPtr<IEnumString> none;
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString, none.OutUnknown()), S_FALSE);
  ASSERT_TRUE(none);
  LPOLESTR name = nullptr;
  ULONG fetched = 9;
  EXPECT_EQ(none->Next(1, &name, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  ComPtr<IEnumString> names;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, names.OutUnknown()), S_OK);
  LPOLESTR batch[4] = {};
  EXPECT_EQ(names->Next(2, batch, nullptr), E_POINTER);
  ASSERT_EQ(names->Next(2, batch, &fetched), S_OK);
  EXPECT_EQ(Take(batch[0]), L"alpha");
  EXPECT_EQ(Take(batch[1]), L"beta");
  ComPtr<IEnumString> clone;
  ASSERT_EQ(names->Clone(clone.Out()), S_OK);
  EXPECT_EQ(names->Skip(1), S_FALSE);  // past the end: stays put
  ASSERT_EQ(names->Next(1, batch, nullptr), S_OK);
  EXPECT_EQ(Take(batch[0]), L"gamma");
  ASSERT_EQ(clone->Next(4, batch, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(Take(batch[0]), L"gamma");
  ASSERT_EQ(clone->Reset(), S_OK);
  EXPECT_EQ(clone->Skip(2), S_OK);

  ComPtr<IEnumUnknown> groups;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PRIVATE_CONNECTIONS, IID_IEnumUnknown, groups.OutUnknown()), S_OK);
  IUnknown* units[3] = {};
  ASSERT_EQ(groups->Next(3, units, &fetched), S_OK);
  EXPECT_EQ(NameOf(units[2]), L"gamma");
  for (IUnknown* unit : units) unit->Release();
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, wrong.OutUnknown()), E_NOINTERFACE);
  ComPtr<IEnumUnknown> asked;
  EXPECT_EQ(server->QueryInterface(IID_IEnumUnknown, asked.OutVoid()), S_OK);
  ComPtr<IUnknown> publicGroups;
  EXPECT_EQ(server->QueryInterface(IID_IOPCServerPublicGroups, publicGroups.OutVoid()), E_NOINTERFACE);
}

TEST_F(OpcServerObject, LocalesErrorStringsStatusAndConfigurationFiles) {
  ComPtr<IOPCCommon> common;
  ASSERT_EQ(server.As(common), S_OK);
  LCID lcid = 0;
  EXPECT_EQ(common->SetLocaleID(0), S_OK);
  ASSERT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 0x800u);
  EXPECT_EQ(common->SetLocaleID(1031), E_INVALIDARG);
  EXPECT_EQ(common->SetLocaleID(1033), S_OK);
  DWORD count = 0;
  LCID* locales = nullptr;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(locales[0], 1033u);
  CoTaskMemFree(locales);
  EXPECT_EQ(common->SetClientName(L"test client"), S_OK);

  LPWSTR text = nullptr;
  ASSERT_EQ(server->GetErrorString(static_cast<HRESULT>(0xC004000A), 1031, &text), S_OK);
  const std::wstring unknownPath = Take(text);
  ASSERT_EQ(common->GetErrorString(static_cast<HRESULT>(0xC0040009), &text), S_OK);
  EXPECT_EQ(Take(text), unknownPath);
  EXPECT_EQ(unknownPath, L"The Filter string was not valid.");
  text = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(server->GetErrorString(E_ABORT, 0x800, &text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(server->GetErrorString(S_OK, 0x800, nullptr), E_INVALIDARG);

  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(nullptr), E_FAIL);
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_SUSPENDED);  // no driver runs
  EXPECT_EQ(status->wMajorVersion, 6);
  EXPECT_EQ(status->wMinorVersion, 6);
  EXPECT_EQ(status->wBuildNumber, 9);
  EXPECT_EQ(status->wReserved, 42);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_EQ(std::wstring(status->szVendorInfo), L"Harnix Tavex V6.9.10");
  EXPECT_LE(CompareFileTime(&status->ftStartTime, &status->ftCurrentTime), 0);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);

  ComPtr<IPersistFile> file;
  ASSERT_EQ(server.As(file), S_OK);
  ComPtr<IPersist> persist;
  ASSERT_EQ(server.As(persist), S_OK);
  CLSID clsid{};
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0x5C1E7A42u);
  EXPECT_EQ(file->Load(L"plant.VRT", 0), S_OK);
  EXPECT_EQ(file->Load(L"plant.cfg", 0), static_cast<HRESULT>(0xC0040010));
  EXPECT_EQ(file->Load(nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(file->IsDirty(), S_OK);
  EXPECT_EQ(file->GetCurFile(&text), S_OK);
  EXPECT_EQ(Take(text), L"");
}

TEST_F(OpcServerObject, TheShutdownConnectionPointTakesOneSinkAndLetsItGo) {
  testing::ShutdownSink sink;
  {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(server.As(container), S_OK);
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, other.Out()), CONNECT_E_NOCONNECTION);
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.Out()), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    IID iid{};
    ASSERT_EQ(listed[0]->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCShutdown));
    listed[0]->Release();

    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Out()), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    DWORD second = 0;
    EXPECT_EQ(point->Advise(&sink, &second), CONNECT_E_ADVISELIMIT);
    // The poll thread takes the sink over within a cycle.
    EXPECT_TRUE(testing::WaitFor([&] { return sink.references > 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(point->Unadvise(2), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(point->Unadvise(1), S_OK);
    EXPECT_TRUE(testing::WaitFor([&] { return sink.references == 1; }, std::chrono::seconds(5)));
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_TRUE(testing::WaitFor([&] { return sink.references > 1; }, std::chrono::seconds(5)));
  }
  // The server's end lets go of a sink still advised.
  server.Reset();
  EXPECT_EQ(sink.references, 1);
}

TEST_F(OpcServerObject, ItemIdsAndHandlesAreCheckedBeforeAnythingIsTouched) {
  auto group = NewGroup(L"items");
  HRESULT overall = S_OK;
  const std::wstring tooLong(65, L'A');
  const auto added = testing::AddItems(*group.Get(), {L"ABC", tooLong, L"NOSUCH:DIT:1"}, TRUE, VT_EMPTY, &overall);
  EXPECT_EQ(overall, S_FALSE);
  ASSERT_EQ(added.size(), 3u);
  for (const auto& item : added) {
    EXPECT_EQ(item.error, static_cast<HRESULT>(0xC0040008));
    EXPECT_EQ(item.handle, 0u);
  }
  // A type no value converts to, and a null item ID.
  OPCITEMDEF definitions[2] = {};
  definitions[0].szItemID = const_cast<LPWSTR>(L"NOSUCH:DIT:1");
  definitions[0].vtRequestedDataType = VT_ARRAY | VT_I4;
  definitions[1].szItemID = nullptr;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(group->ValidateItems(2, definitions, FALSE, &results, &errors), S_FALSE);
  EXPECT_EQ(errors[0], static_cast<HRESULT>(0xC0040004));
  EXPECT_EQ(errors[1], static_cast<HRESULT>(0xC0040008));
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  EXPECT_EQ(group->AddItems(0, definitions, &results, &errors), E_INVALIDARG);
  EXPECT_EQ(group->AddItems(1, nullptr, &results, &errors), E_INVALIDARG);

  // Zero, made-up and other groups' handles name no item.
  OPCHANDLE handles[3] = {0, 0xDEADBEEF, 1};
  ASSERT_EQ(group->RemoveItems(3, handles, &errors), S_FALSE);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(errors[k], static_cast<HRESULT>(0xC0040001));
  CoTaskMemFree(errors);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  OPCITEMSTATE* states = nullptr;
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 3, handles, &states, &errors), S_FALSE);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(errors[k], static_cast<HRESULT>(0xC0040001));
    EXPECT_EQ(states[k].vDataValue.vt, VT_EMPTY);
    EXPECT_EQ(states[k].wQuality, 0);
  }
  CoTaskMemFree(states);
  CoTaskMemFree(errors);

  ComPtr<IUnknown> enumerator;
  EXPECT_EQ(group->CreateEnumerator(IID_IEnumString, enumerator.OutUnknown()), E_INVALIDARG);
  ASSERT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.OutUnknown()), S_OK);
  ComPtr<IUnknown> asyncIo;
  EXPECT_EQ(group->QueryInterface(IID_IOPCPublicGroupStateMgt, asyncIo.OutVoid()), E_NOINTERFACE);
}

TEST(OpcServerLifetime, ReleasingTheServerEndsItsPollThreadAtOnce) {
  // A poll thread that waits 5 s between cycles must still end when woken.
  testing::DeleteConfigValue(kDriverExeValue);
  testing::ComApartment apartment;
  testing::WriteDword(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime", 5000);
  ComPtr<IOPCServer> server;
  const HRESULT created = testing::CreateServer(server);  // the settings are read as the library loads
  testing::WriteDword(HKEY_LOCAL_MACHINE, kServerDefaultsKey, "ThreadSleepTime", 100);
  ASSERT_EQ(created, S_OK);
  ComPtr<IOPCItemMgt> group;
  ASSERT_TRUE(SUCCEEDED(testing::AddGroup(*server.Get(), L"slow", group)));
  group.Reset();
  Sleep(300);  // the thread is inside its long wait
  const auto start = std::chrono::steady_clock::now();
  server.Reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));

  // A second server in the same process starts and works after the first one's end.
  ASSERT_EQ(testing::CreateServer(server), S_OK);
  EXPECT_TRUE(SUCCEEDED(testing::AddGroup(*server.Get(), L"next", group)));
}

}  // namespace
}  // namespace vrt
