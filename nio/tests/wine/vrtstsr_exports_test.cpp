// VRTSTSR.dll's exports as a client calls them, over an image a stand-in
// driver serves: the VARIANT forms of reads and writes, the qualities and
// the last time stamp, and the interface as a whole. The test pokes polled
// values into the image and looks at the write areas itself.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "dit_codes.h"
#include "dit_image.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ProbeProcess;
using testing::ProgramDirectory;

// PANEL: record 0 analog DIT:0..3, record 1 Unsigned DIT:32..33 with bit time
// stamps, record 2 text DIT:48..51.
std::vector<std::uint8_t> PanelImage() {
  DitDeviceSource device = testing::SampleDevice(
      "PANEL", 1,
      {testing::SamplePollRecord(0, 4, kDataUnsigned, kExceptionAnalog),
       testing::SamplePollRecord(32, 2, kDataUnsigned, kExceptionDigital),
       testing::SamplePollRecord(48, 4, kDataUnsigned, kExceptionAscii)});
  DitConfiguration configuration;
  configuration.channels.push_back(testing::SampleChannel(0, {device}));
  return WriteDitImage(configuration, 1800000000).bytes;
}

using Point = NioPoint;

class VrtstsrExports : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "vrt-exports.vrt";
    const std::vector<std::uint8_t> bytes = PanelImage();
    testing::InstallConfiguration(path, bytes);
    driver = std::make_unique<ProbeProcess>(ProgramDirectory() + "\\dit_probe_driver.exe", "");
    ASSERT_EQ(driver->Expect("serving"), "serving");
    // The test's own view of the served image.
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "VRT0");
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<std::uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    image = DitImage(view, bytes.size());
    // As if polled once.
    for (int k = 0; k < image.PollRecordCount(); ++k) image.PollRecord(k)->status = kStatusGood;
    module = LoadLibraryA("VRTSTSR.dll");
    ASSERT_NE(module, nullptr);
  }

  template <typename Function>
  Function* Export(const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }

  Point MakePoint(const char* text, std::uint8_t kind, const char* signalConditioning = nullptr) {
    Point point;
    point.valueSpec.valueKind = kind;
    point.valueSpec.eguSpan = 100.0f;
    std::uint16_t status = 0xFFFF;
    Export<decltype(::nio_paddr)>("nio_paddr")(&status, &point.block, &point.valueSpec, text);
    EXPECT_EQ(status, 0) << text;
    if (signalConditioning != nullptr) {
      Export<decltype(::nio_psig)>("nio_psig")(&status, &point.block, &point.valueSpec, signalConditioning);
    }
    return point;
  }

  void SetWord(int record, int area, int registerOffset, std::uint16_t word) {
    std::memcpy(image.Area(record, area) + 2 * registerOffset, &word, 2);
  }
  std::uint16_t Word(int record, int area, int registerOffset) {
    std::uint16_t word = 0;
    std::memcpy(&word, image.Area(record, area) + 2 * registerOffset, 2);
    return word;
  }

  // nio_readEx with a caller's quality; the VARIANT is returned as it is left.
  VARIANT ReadEx(Point& point, std::uint16_t& status, std::uint16_t& quality, FILETIME& stamp) {
    VARIANT value;
    VariantInit(&value);
    Export<decltype(::nio_readEx)>("nio_readEx")(&status, &point.block, &point.valueSpec, &stamp, &quality, 0,
                                                 &value);
    return value;
  }
  std::uint16_t SendEx(Point& point, VARIANT value) {
    std::uint16_t status = 0xFFFF;
    Export<decltype(::nio_sendEx)>("nio_sendEx")(&status, &point.block, &point.valueSpec, 0, 0, &value);
    VariantClear(&value);
    return status;
  }

  std::unique_ptr<ProbeProcess> driver;
  DitImage image;
  HMODULE module = nullptr;
};

TEST_F(VrtstsrExports, ReadExGivesVariantsQualitiesAndTheLastBitsTimeStamp) {
  Point analog = MakePoint("PANEL:DIT:1", NIO_KIND_ANALOG, "12BN");
  Point alarm = MakePoint("PANEL:DIT:2", NIO_KIND_ANALOG, "12AL");
  Point bit = MakePoint("panel:dit:33:3", NIO_KIND_FROM_ADDRESS);
  ASSERT_EQ(bit.valueSpec.valueKind, NIO_KIND_DIGITAL);
  SetWord(0, kValueArea, 1, 2048);
  SetWord(0, kValueArea, 2, 4096);
  SetWord(1, kValueArea, 1, 1u << 3);
  const std::uint64_t stamped = 0x01DB'1234'5678'9ABCull;
  std::memcpy(image.Area(1, kTimeStampArea) + 8 * (16 + 3), &stamped, 8);

  std::uint16_t status = 0xFFFF, quality = 0;
  FILETIME stamp{1, 1};
  VARIANT value = ReadEx(analog, status, quality, stamp);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quality, NIO_QUALITY_GOOD);
  ASSERT_EQ(value.vt, VT_R4);
  EXPECT_NEAR(value.fltVal, 50.0122f, 0.0001f);
  EXPECT_EQ(stamp.dwLowDateTime, 0u);  // no digital read yet
  EXPECT_EQ(stamp.dwHighDateTime, 0u);

  value = ReadEx(bit, status, quality, stamp);
  ASSERT_EQ(value.vt, VT_BOOL);
  EXPECT_EQ(value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(stamp.dwLowDateTime, static_cast<DWORD>(stamped));
  EXPECT_EQ(stamp.dwHighDateTime, static_cast<DWORD>(stamped >> 32));
  FILETIME later{};
  ReadEx(analog, status, quality, later);  // an analog read hands on the last bit's stamp
  EXPECT_EQ(later.dwHighDateTime, static_cast<DWORD>(stamped >> 32));

  // Out of range: uncertain, with the caller's high byte and limit bits kept.
  quality = 0x0100 | 0x01 | 0xC0;
  value = ReadEx(alarm, status, quality, stamp);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quality, 0x0100 + 0x01 + NIO_QUALITY_EGU_EXCEEDED);

  // A record in communication failure: bad, and the call itself succeeds.
  DitPollRecord* record = image.PollRecord(0);
  record->status = kStatusCommFailure;
  quality = 0;
  ReadEx(analog, status, quality, stamp);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quality, NIO_QUALITY_COMM_FAILURE);
  record->status = kStatusStopped;
  ReadEx(analog, status, quality, stamp);
  EXPECT_EQ(quality, NIO_QUALITY_OUT_OF_SERVICE);
  record->status = kStatusGood;
}

TEST_F(VrtstsrExports, ReadExLeavesTheVariantOfTextPointsAndRefusesOtherKinds) {
  Point text = MakePoint("PANEL:DIT:48", NIO_KIND_TEXT);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 123;
  std::uint16_t status = 0xFFFF, quality = 0;
  FILETIME stamp{};
  Export<decltype(::nio_readEx)>("nio_readEx")(&status, &text.block, &text.valueSpec, &stamp, &quality, 0, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quality, NIO_QUALITY_GOOD);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 123);

  // Without a quality the VARIANT is not touched either.
  Point analog = MakePoint("PANEL:DIT:0", NIO_KIND_ANALOG);
  Export<decltype(::nio_readEx)>("nio_readEx")(&status, &analog.block, &analog.valueSpec, &stamp, nullptr, 0, &value);
  EXPECT_EQ(value.vt, VT_I4);

  // A VARIANT holding a string is cleared before the value goes in.
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"old");
  Export<decltype(::nio_readEx)>("nio_readEx")(&status, &analog.block, &analog.valueSpec, &stamp, &quality, 0,
                                               &value);
  EXPECT_EQ(value.vt, VT_R4);

  analog.valueSpec.valueKind = 4;
  Export<decltype(::nio_readEx)>("nio_readEx")(&status, &analog.block, &analog.valueSpec, &stamp, &quality, 0,
                                               &value);
  EXPECT_EQ(status, NIO_UNSUPPORTED_KIND);
}

TEST_F(VrtstsrExports, SendExConvertsTheVariantOrRefusesIt) {
  Point analog = MakePoint("PANEL:DIT:1", NIO_KIND_ANALOG, "12BN");
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"50");
  EXPECT_EQ(SendEx(analog, value), 0);
  EXPECT_EQ(Word(0, kWriteValueArea, 1), 2048);
  EXPECT_EQ(Word(0, kWriteFlagArea, 1), 0xFFFF);
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 16);

  // Text that is no number is refused, and nothing is written.
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"fifty");
  EXPECT_EQ(SendEx(analog, value), NIO_KIND_MISMATCH);
  EXPECT_EQ(Word(0, kWriteValueArea, 1), 2048);
  Export<decltype(::nio_sendEx)>("nio_sendEx")(nullptr, &analog.block, &analog.valueSpec, 0, 0, nullptr);

  // A zero EGU span cannot be divided by: refused.
  analog.valueSpec.eguSpan = 0.0f;
  value.vt = VT_R8;
  value.dblVal = 10.0;
  EXPECT_EQ(SendEx(analog, value), NIO_KIND_MISMATCH);
  EXPECT_EQ(Word(0, kWriteValueArea, 1), 2048);

  Point bit = MakePoint("PANEL:DIT:32:4", NIO_KIND_DIGITAL);
  value.vt = VT_I4;
  value.lVal = 5;  // any non-zero number sets the bit
  EXPECT_EQ(SendEx(bit, value), 0);
  EXPECT_EQ(Word(1, kWriteValueArea, 0), 1u << 4);
  EXPECT_EQ(Word(1, kWriteFlagArea, 0), 1u << 4);
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_FALSE;
  EXPECT_EQ(SendEx(bit, value), 0);
  EXPECT_EQ(Word(1, kWriteValueArea, 0), 0);
  EXPECT_EQ(image.Runtime(1)->pendingWrites, 1);  // the bit's flag was already up

  Point text = MakePoint("PANEL:DIT:48", NIO_KIND_TEXT);
  value.vt = VT_I4;
  value.lVal = 1;
  EXPECT_EQ(SendEx(text, value), NIO_UNSUPPORTED_KIND);
  EXPECT_EQ(image.Runtime(2)->pendingWrites, 0);
}

TEST_F(VrtstsrExports, TheLibraryHasItsThirtyEntryPoints) {
  for (const char* name :
       {"nio_paddr", "nio_daddr", "nio_psig", "nio_dsig", "nio_popt", "nio_dopt", "nio_find_dev", "nio_read",
        "nio_readEx", "nio_send", "nio_sendEx", "nio_on", "nio_off", "nio_fetch", "nio_enable_options",
        "nio_Enum_Devices", "nio_Enum_PollRecs", "nio_Free", "nio_num_pollblocks", "nio_read_stats",
        "nio_reset_stats", "nio_get_ServerStatus", "nio_SendMsg", "nio_tick", "nio_tick_enable",
        "nio_tick_disable", "nio_getsub", "nio_reset", "nio_CleanUp", "nio_reload_dit"}) {
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  }
  for (const char* name : {"nio_tick_enable", "nio_tick_disable", "nio_getsub", "nio_reset", "nio_CleanUp"}) {
    std::uint16_t status = 0xFFFF;
    Export<void(std::uint16_t*)>(name)(&status);
    EXPECT_EQ(status, 0) << name;
  }
  Export<void()>("nio_tick")();
  Export<void()>("nio_reload_dit")();
  EXPECT_EQ(Export<decltype(::nio_num_pollblocks)>("nio_num_pollblocks")(), 3);
  EXPECT_EQ(Export<decltype(::nio_find_dev)>("nio_find_dev")("panel"), 1);
  EXPECT_EQ(Export<decltype(::nio_get_ServerStatus)>("nio_get_ServerStatus")(nullptr, nullptr), 1);

  Point analog = MakePoint("PANEL:DIT:2", NIO_KIND_ANALOG, "LIN");
  char text[NIO_SIGNAL_NAME_SIZE] = {};
  Export<decltype(::nio_dsig)>("nio_dsig")(nullptr, &analog.block, &analog.valueSpec, text);
  EXPECT_STREQ(text, "LIN");
  char address[16] = {};
  Export<decltype(::nio_daddr)>("nio_daddr")(nullptr, &analog.block, &analog.valueSpec, address, 8);
  EXPECT_STREQ(address, "PANEL:D");  // cut to the capacity

  Export<decltype(::nio_SendMsg)>("nio_SendMsg")(3, "an OPC client went away");
  DriverControlBlock* block = testing::OpenExistingControlBlock();
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(testing::RingHas(*block, "3 NIO-an OPC client went away"));
}

}  // namespace
}  // namespace vrt
