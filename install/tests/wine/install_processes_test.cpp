// The installer on the 64-bit media (build/win64/dist), in a Wine prefix of
// its own made fresh for these tests: Setup.dll's InstallDriver, the
// installed suite at work, setup.exe /S and uninstall.exe /S.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "driver_session.h"
#include "install_rules.h"
#include "install_win32.h"
#include "probe_process.h"
#include "simulator_session.h"
#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace vrt::install {
namespace {

using namespace std::chrono_literals;
using InstallDriverFunction = int(__stdcall*)(int, int, int, const char*, const char*, const char*, const char*,
                                              const char*);
using InstallUnattendedFunction = int(__stdcall*)(int, int, int, const char*, const char*, const char*, const char*,
                                                  const char*, char*, int);

constexpr char kOpcClassKey[] = "CLSID\\{5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}\\InprocServer32";

std::string Media() { return testing::ProgramDirectory() + "\\..\\dist\\"; }

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Moves a file's last write a day ahead of now (or back, with a negative sign).
void AgeFile(const std::string& path, int days) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart += static_cast<LONGLONG>(days) * 864000000000LL;
  FILETIME stamp{time.LowPart, time.HighPart};
  SetFileTime(file, nullptr, nullptr, &stamp);
  CloseHandle(file);
}

std::string ShortcutTarget(const std::string& link) {
  IShellLinkA* shell = nullptr;
  IPersistFile* file = nullptr;
  std::string target;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&shell)))) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(wide, STGM_READ))) {
      char path[MAX_PATH] = {};
      if (SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) target = path;
    }
    if (file) file->Release();
    shell->Release();
  }
  return target;
}

std::string CommonPrograms() {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::optional<std::uint32_t> SharedCount(const std::string& library) {
  return ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, SystemDirectory() + "\\" + library);
}

// Runs a program to its end with its standard error in a file; the exit
// code and that text.
std::pair<DWORD, std::string> RunToEnd(const std::string& program, const std::string& arguments) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string errorFile = std::string(temp) + "vrt-install-stderr.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE error = CreateFileA(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = error;
  startup.hStdOutput = error;
  PROCESS_INFORMATION process{};
  DWORD code = 999;
  const std::string failure = testing::StartProgram(program, arguments, startup, process, true);
  if (failure.empty()) {
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(error);
  return {code, failure.empty() ? FileText(errorFile) : failure};
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    library_ = LoadLibraryA((Media() + kSetupLibraryName).c_str());
    ASSERT_NE(library_, nullptr) << "no media: build the target media";
    install_ = reinterpret_cast<InstallDriverFunction>(
        reinterpret_cast<void*>(GetProcAddress(library_, "InstallDriver")));
    unattended_ = reinterpret_cast<InstallUnattendedFunction>(
        reinterpret_cast<void*>(GetProcAddress(library_, "InstallDriverUnattended")));
    ASSERT_NE(install_, nullptr);
    ASSERT_NE(unattended_, nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) FreeLibrary(library_);
    CoUninitialize();
  }

  // An unattended call: the result and the first error's text.
  std::pair<int, std::string> Attempt(const char* media, const char* directory) {
    char report[2048] = {};
    const int result = unattended_(1, 0, 1, media, directory, "C:\\PDB", "", "Harnix Tavex OPC", report,
                                   sizeof report);
    return {result, report};
  }

  HMODULE library_ = nullptr;
  InstallDriverFunction install_ = nullptr;
  InstallUnattendedFunction unattended_ = nullptr;
};

TEST_F(Installer, EarlyFailuresGiveTheirTextsAndZero) {
  EXPECT_EQ(install_(0, 0, 1, Media().c_str(), "C:\\Nowhere", "", "", ""), 0);  // not enabled
  EXPECT_FALSE(IsDirectory("C:\\Nowhere"));

  auto [result, text] = Attempt(nullptr, "C:\\Tavex");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text, std::string(kNoMediaPath) + "\nWin32 error code: 87\n\nI/O Server Setup aborted");

  CreateDirectoryA("C:\\EmptyMedia", nullptr);
  std::tie(result, text) = Attempt("C:\\EmptyMedia", "C:\\Tavex");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text.rfind("Failed to open server's information file C:\\EmptyMedia\\VRT.inf\nWin32 error code: ", 0), 0u)
      << text;

  WriteText("C:\\AFile", "not a directory");
  std::tie(result, text) = Attempt(Media().c_str(), "C:\\AFile\\Tavex");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text.rfind(std::string(kDirectoryIdFailed) + "C:\\AFile\\Tavex\n", 0), 0u) << text;
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "Software\\Kalvento\\Tavex\\Config", "DriverExe"), std::nullopt);
}

TEST_F(Installer, InstallDriverPutsAServerNodeInPlace) {
  const std::string directory = "C:\\Fix32\\Tavex";
  const std::string database = "C:\\Fix32\\PDB";
  ASSERT_TRUE(CreateDirectories(directory));
  ASSERT_TRUE(CreateDirectories(database));
  // A newer card library already there stays; an older NIO library in the
  // system directory is replaced, a newer one would stay.
  WriteText(directory + "\\TavexDll.dll", "newer card library");
  AgeFile(directory + "\\TavexDll.dll", 1);
  const std::string systemNio = SystemDirectory() + "\\VRTSTSR.dll";
  WriteText(systemNio, "older NIO library");
  AgeFile(systemNio, -400);
  // Another product already counts a reference to one shared library.
  const std::string proxy = SystemDirectory() + "\\OPCProxy.dll";
  HKEY shared = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &shared, nullptr),
            ERROR_SUCCESS);
  const DWORD three = 3;
  RegSetValueExA(shared, proxy.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), sizeof three);
  RegCloseKey(shared);

  ASSERT_EQ(install_(1, 1, 1, Media().c_str(), directory.c_str(), database.c_str(), "SCADA1", "Harnix Tavex OPC"), 1);

  for (const char* file : {"VRTSPOLL.EXE", "VRTOPC.dll", "DEFAULT.VRT", "uninstall.exe", "VRT.inf"}) {
    EXPECT_EQ(FileText(directory + "\\" + file), FileText(Media() + file)) << file;
  }
  EXPECT_EQ(FileText(directory + "\\TavexDll.dll"), "newer card library");
  EXPECT_EQ(FileText(systemNio), FileText(Media() + "VRTSTSR.dll"));

  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "DriverExe"), directory + "\\VRTSPOLL.EXE");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigFile"), database + "\\SCADA1.VRT");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kProductKey, kFolderNameValue), "Harnix Tavex OPC");
  const std::string folder = CommonPrograms() + "\\Harnix Tavex OPC\\";
  EXPECT_EQ(ShortcutTarget(folder + "Harnix Tavex OPC Configurator.lnk"), directory + "\\VRTdidw.exe");
  EXPECT_EQ(ShortcutTarget(folder + "Harnix Tavex OPC Configurator Help.lnk"), directory + "\\VRTDOC.htm");
  EXPECT_EQ(SharedCount("OPCDAAuto.dll"), 1u);
  EXPECT_EQ(SharedCount("opccomn_ps.dll"), 1u);
  EXPECT_EQ(SharedCount("OPCProxy.dll"), 4u);
  // The node's configuration, and the OPC server registered before the return.
  EXPECT_EQ(FileText(database + "\\SCADA1.VRT"), FileText(Media() + "DEFAULT.VRT"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kOpcClassKey, ""), directory + "\\VRTOPC.DLL");
  // The proxy/stub libraries in the system directory, registered.
  for (const char* library : {"OPCProxy.dll", "opccomn_ps.dll"}) {
    EXPECT_EQ(FileText(SystemDirectory() + "\\" + library), FileText(Media() + library)) << library;
  }
  EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, "Interface\\{39C13A4D-011E-11D0-9675-0020AFD8ADB3}\\ProxyStubClsid32", ""));
  EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, "Interface\\{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}\\ProxyStubClsid32", ""));

  // A second installation: the node's configuration, edited since, stays.
  WriteText(database + "\\SCADA1.VRT", "edited by the plant engineer");
  ASSERT_EQ(install_(1, 1, 1, Media().c_str(), directory.c_str(), database.c_str(), "SCADA1", "Harnix Tavex OPC"), 1);
  EXPECT_EQ(FileText(database + "\\SCADA1.VRT"), "edited by the plant engineer");
  EXPECT_EQ(SharedCount("OPCDAAuto.dll"), 2u);
  EXPECT_EQ(SharedCount("OPCProxy.dll"), 5u);
}

// After the installation above: the driver starts from the installed folder
// through DriverExe when a NIO client comes, and reads the simulator.
TEST_F(Installer, TheInstalledSuiteReadsTheNetwork) {
  ASSERT_TRUE(FileExists("C:\\Fix32\\Tavex\\VRTSPOLL.EXE")) << "runs after InstallDriverPutsAServerNodeInPlace";
  // The card library the earlier scenario kept (a stand-in "newer" file) is
  // put right, and the demo configuration runs on the demo network.
  ASSERT_TRUE(CopyFileA((Media() + "TavexDll.dll").c_str(), "C:\\Fix32\\Tavex\\TavexDll.dll", FALSE));
  WriteString(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigFile", "C:\\Fix32\\Tavex\\DEFAULT.VRT");
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  testing::SimulatorSession simulator(temp, FileText(VRT_DEMO_NETWORK));
  ASSERT_TRUE(simulator.Ready()) << simulator.Problem();
  simulator.ServeCards({1, 2, 3});
  ASSERT_TRUE(RunRegsvr32(testing::ProgramDirectory() + "\\TavexNet.dll", false, "").value_or(1) == 0);

  // The NIO library where setup put it, as a client outside the suite's directory finds it.
  HMODULE nio = LoadLibraryA((SystemDirectory() + "\\VRTSTSR.dll").c_str());
  ASSERT_NE(nio, nullptr);
  auto paddr = reinterpret_cast<decltype(&nio_paddr)>(reinterpret_cast<void*>(GetProcAddress(nio, "nio_paddr")));
  auto readEx =
      reinterpret_cast<decltype(&nio_readEx)>(reinterpret_cast<void*>(GetProcAddress(nio, "nio_readEx")));
  ASSERT_TRUE(paddr && readEx);
  NioPoint point;
  point.valueSpec.valueKind = NIO_KIND_ANALOG;
  point.valueSpec.eguSpan = 65535.0f;
  std::uint16_t status = 0;
  paddr(&status, &point.block, &point.valueSpec, "PUMPS:DIT:3");
  ASSERT_EQ(status, 0);
  float value = -1.0f;
  const bool read = testing::WaitFor(
      [&] {
        VARIANT variant;
        VariantInit(&variant);
        FILETIME stamp{};
        std::uint16_t quality = 0;
        readEx(&status, &point.block, &point.valueSpec, &stamp, &quality, 1, &variant);
        if (variant.vt == VT_R4) value = variant.fltVal;
        return status == 0 && quality == NIO_QUALITY_GOOD;
      },
      20s);
  EXPECT_TRUE(read);
  EXPECT_FLOAT_EQ(value, 410.0f);
  FreeLibrary(nio);
}

// A value read in the given registry view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY), whatever this program's own bitness.
std::optional<std::string> ValueInView(REGSAM view, const char* key, const char* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return std::nullopt;
  char data[MAX_PATH] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  const LONG read = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(opened);
  if (read != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(data);
}

TEST_F(Installer, SetupAndUninstallRunUnattended) {
  ASSERT_TRUE(FileExists("C:\\Fix32\\Tavex\\uninstall.exe")) << "runs after InstallDriverPutsAServerNodeInPlace";
  // Everything the earlier installations made goes with the node ...
  auto [code, text] = RunToEnd("C:\\Fix32\\Tavex\\uninstall.exe", "/S");
  EXPECT_EQ(code, 0u) << text;
  EXPECT_NE(text.find(kUninstallSuccessful), std::string::npos) << text;
  EXPECT_NE(text.find("left in place, changed after the installation: C:\\Fix32\\PDB\\SCADA1.VRT"),
            std::string::npos)
      << text;
  EXPECT_EQ(FileText("C:\\Fix32\\PDB\\SCADA1.VRT"), "edited by the plant engineer");
  for (const char* file : {"VRTSPOLL.EXE", "VRTOPC.dll", "TavexDll.dll", "DEFAULT.VRT", "VRT.inf"}) {
    EXPECT_FALSE(FileExists(std::string("C:\\Fix32\\Tavex\\") + file)) << file;
  }
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "DriverExe"), std::nullopt);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kProductKey, kFolderNameValue), std::nullopt);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kOpcClassKey));
  EXPECT_FALSE(FileExists(CommonPrograms() + "\\Harnix Tavex OPC\\Harnix Tavex OPC Configurator.lnk"));
  EXPECT_FALSE(IsDirectory(CommonPrograms() + "\\Harnix Tavex OPC"));
  // ... one reference each, so another product's stays counted.
  EXPECT_EQ(SharedCount("OPCDAAuto.dll"), 1u);
  EXPECT_EQ(SharedCount("OPCProxy.dll"), 4u);

  // setup.exe /S from the media into a fresh directory, then away again.
  std::tie(code, text) = RunToEnd(Media() + "setup.exe", "/S \"/D=C:\\Program Files\\Kalvento\\Tavex\" /FOLDER=Plant");
  EXPECT_EQ(code, 0u) << text;
  EXPECT_NE(text.find(kInstallSuccessful), std::string::npos) << text;
  EXPECT_TRUE(FileExists("C:\\Program Files\\Kalvento\\Tavex\\VRTSPOLL.EXE"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigFile"),
            "C:\\Program Files\\Kalvento\\Tavex\\default.VRT");
  EXPECT_FALSE(ShortcutTarget(CommonPrograms() + "\\Plant\\Harnix Tavex OPC Configurator.lnk").empty());
  // The 32-bit media on a 64-bit system: the system libraries in the 32-bit
  // system directory, the keys and the classes in the 32-bit registry view
  // only, where the 32-bit clients and the 32-bit surrogate look.
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    // (system32 as the 32-bit setup names it: the system redirects it)
    for (const char* library : {"VRTSTSR.dll", "OPCProxy.dll", "opccomn_ps.dll"}) {
      EXPECT_EQ(FileText(std::string(windows) + "\\syswow64\\" + library), FileText(Media() + library)) << library;
      EXPECT_FALSE(FileExists(std::string(windows) + "\\sysnative\\" + library)) << library;
    }
    EXPECT_EQ(ValueInView(KEY_WOW64_32KEY, kConfigKey, "DriverExe"), "C:\\Program Files\\Kalvento\\Tavex\\VRTSPOLL.EXE");
    EXPECT_EQ(ValueInView(KEY_WOW64_64KEY, kConfigKey, "DriverExe"), std::nullopt);
    const std::string opcClass = std::string("Software\\Classes\\") + kOpcClassKey;
    EXPECT_EQ(ValueInView(KEY_WOW64_32KEY, opcClass.c_str(), ""), "C:\\Program Files\\Kalvento\\Tavex\\VRTOPC.DLL");
    EXPECT_EQ(ValueInView(KEY_WOW64_64KEY, opcClass.c_str(), ""), std::nullopt);
  }
  std::tie(code, text) = RunToEnd("C:\\Program Files\\Kalvento\\Tavex\\uninstall.exe", "/S");
  EXPECT_EQ(code, 0u) << text;
  EXPECT_FALSE(FileExists("C:\\Program Files\\Kalvento\\Tavex\\DEFAULT.VRT"));  // unchanged: removed
  EXPECT_FALSE(IsDirectory(CommonPrograms() + "\\Plant"));
  EXPECT_EQ(SharedCount("OPCDAAuto.dll"), 1u);  // the first node was installed twice

  // An OPC server whose registration fails (its class key refuses writes):
  // regsvr32 says so in its exit code, setup fails with the library's path
  // and that code, and no half-written class is left; the node goes again.
  ASSERT_TRUE(testing::LockKeyAgainstWrites(HKEY_CLASSES_ROOT, kOpcClassKey));
  std::tie(code, text) = RunToEnd(Media() + "setup.exe", "/S \"/D=C:\\Program Files\\Kalvento\\Tavex\"");
  EXPECT_EQ(code, 1u) << text;
  EXPECT_NE(text.find(std::string(kRegisterServerFailed) + "C:\\Program Files\\Kalvento\\Tavex\\" + kOpcServerFileName +
                      "\nWin32 error code: 5\n"),
            std::string::npos)
      << text;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kOpcClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Kalvento.Tavex"));
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kOpcClassKey);
  std::tie(code, text) = RunToEnd("C:\\Program Files\\Kalvento\\Tavex\\uninstall.exe", "/S");
  EXPECT_EQ(code, 0u) << text;
  EXPECT_EQ(SharedCount("OPCDAAuto.dll"), 1u);

  // Refused command lines, and an uninstall with nothing installed.
  std::tie(code, text) = RunToEnd(Media() + "setup.exe", "/D=C:\\x");
  EXPECT_EQ(code, 2u);
  EXPECT_NE(text.find(kSetupUsage), std::string::npos) << text;
  std::tie(code, text) = RunToEnd(Media() + "uninstall.exe", "/S");
  EXPECT_EQ(code, 1u);
  EXPECT_NE(text.find("not installed"), std::string::npos) << text;
}

}  // namespace
}  // namespace vrt::install
