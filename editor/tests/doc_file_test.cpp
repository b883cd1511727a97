// Saving and loading configuration files: round trips, the 64 KiB rule, the
// older format, the start-up file question, and files that are corrupt.
#include <gtest/gtest.h>

#include <cstring>

#include "dit_image.h"
#include "doc_file.h"
#include "editor_fakes.h"
#include "editor_text.h"
#include "file_io.h"

namespace vrt::editor {
namespace {

using testing::Editor;
using testing::SameExceptSaveTime;
using testing::ScratchFolder;

std::vector<std::uint8_t> Saved(CDidDoc& doc, std::uint32_t saveTime = 1000) {
  ImageBuild build = BuildImage(doc, saveTime);
  EXPECT_TRUE(build.error.empty()) << build.error;
  return build.bytes;
}

template <typename Value>
void Put(std::vector<std::uint8_t>& bytes, std::size_t at, Value value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

template <typename Value>
Value Get(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  Value value{};
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

constexpr std::size_t kHeaderAt = 102;

TEST(SaveAndLoad, SavedLoadedAndSavedAgainIsByteIdenticalExceptTheSaveTime) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 3, 3, 5);
  const std::vector<std::uint8_t> first = Saved(editor.doc, 1111);
  CDidDoc loaded;
  ASSERT_TRUE(LoadImage(loaded, first).ok);
  const std::vector<std::uint8_t> second = Saved(loaded, 2222);
  EXPECT_TRUE(SameExceptSaveTime(first, second));
  EXPECT_NE(first, second);  // only the save time differs
  EXPECT_EQ(Get<std::uint32_t>(second, kHeaderAt + 6), 2222u);
  EXPECT_EQ(loaded.PollRecordTotal(), 45);
  EXPECT_EQ(loaded.Channels()[2]->Devices()[1]->PollRecords()[4]->Number(), 40);
}

TEST(SaveAndLoad, TheImageIsFormat279AndPassesTheDriversCheck) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 2, 2, 3);
  editor.doc.Channels()[0]->SetLearnAddresses(true);
  std::vector<std::uint8_t> bytes = Saved(editor.doc);
  DitImage image(bytes.data(), bytes.size());
  EXPECT_EQ(+image.Header()->formatVersion, 279u);
  EXPECT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);
  EXPECT_FALSE(editor.doc.Channels()[0]->Settings().learnAddresses);
  for (int k = 0; k < image.PollRecordCount(); ++k) {
    EXPECT_EQ(+image.PollRecord(k)->deviceIndex, k / 3);
    EXPECT_EQ(+image.Runtime(k)->accessCountdown, static_cast<std::int32_t>(image.PollRecord(k)->accessTime));
  }
}

TEST(SaveAndLoad, PruningDropsDevicesWithoutRecordsBeforeWriting) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 2, 2, 2);
  editor.doc.Channels()[1]->Devices()[0]->DeletePollRecords();
  editor.doc.EnsureChannels(4);
  std::vector<std::uint8_t> bytes = Saved(editor.doc);
  DitImage image(bytes.data(), bytes.size());
  EXPECT_EQ(image.ChannelCount(), 2);
  EXPECT_EQ(image.DeviceCount(), 3);
  EXPECT_EQ(editor.doc.ChannelCount(), 2);
  EXPECT_EQ(DeviceName(*image.Device(2), 279), "S2_2");
}

TEST(SaveAndLoad, AConfigurationOver64KiBIsFilledAtTheBoundariesAndReadsBack) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 4, 5, 16);
  std::vector<std::uint8_t> bytes = Saved(editor.doc);
  ASSERT_GT(bytes.size(), 3u * 65536u);
  // Some record would have crossed a boundary: 'F' fill comes before it.
  bool filled = false;
  for (std::size_t boundary = 65536; boundary < bytes.size(); boundary += 65536) {
    filled = filled || bytes[boundary - 1] == 'F';
  }
  EXPECT_TRUE(filled);
  DitImage image(bytes.data(), bytes.size());
  for (int k = 0; k < image.PollRecordCount(); ++k) {
    const std::uint32_t start = image.Runtime(k)->recordOffset + 102;
    const std::uint32_t end = start + 82 + AreaSizesFor(image.PollRecord(k)->dataType,
                                                       image.PollRecord(k)->exceptionType,
                                                       image.PollRecord(k)->length)
                                                 .Total();
    EXPECT_EQ(start / 65536, (end - 1) / 65536) << "record " << k << " straddles a boundary";
  }
  CDidDoc loaded;
  ASSERT_TRUE(LoadImage(loaded, bytes).ok);
  EXPECT_TRUE(SameExceptSaveTime(bytes, Saved(loaded)));
}

TEST(SaveAndLoad, AVersion278FileLoadsWithFiveCharacterNamesAndSavesAs279) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 2, 2);
  std::vector<std::uint8_t> bytes = Saved(editor.doc);
  DitImage image(bytes.data(), bytes.size());
  image.Header()->formatVersion = 278;
  for (int d = 0; d < image.DeviceCount(); ++d) {
    DitDevice& device = *image.Device(d);
    const std::string description = "Older " + std::to_string(d);
    std::memset(device.name, 0, sizeof device.name + sizeof device.description);
    std::memcpy(device.name, ("OLD" + std::to_string(d)).c_str(), 5);
    std::memcpy(reinterpret_cast<char*>(&device) + 10, description.c_str(), description.size() + 1);
  }
  CDidDoc loaded;
  ASSERT_TRUE(LoadImage(loaded, bytes).ok);
  const CDevice& second = *loaded.Channels()[0]->Devices()[1];
  EXPECT_EQ(second.Name(), "OLD1");
  EXPECT_EQ(second.Description(), "Older 1");
  std::vector<std::uint8_t> resaved = Saved(loaded);
  DitImage again(resaved.data(), resaved.size());
  EXPECT_EQ(+again.Header()->formatVersion, 279u);
  EXPECT_EQ(DeviceDescription(*again.Device(1), 279), "Older 1");
  EXPECT_EQ(DeviceName(*again.Device(1), 279), "OLD1");
}

TEST(SaveAndLoad, AnOtherDeviceRecordSizeWarnsWithItsNumberAndStillLoads) {
  ScratchFolder folder;
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
  std::vector<std::uint8_t> bytes = Saved(editor.doc);
  Put<std::uint16_t>(bytes, kHeaderAt + 20, 120);
  testing::WriteBytes(folder.Path("OLD.VRT"), bytes);
  Editor loader;
  EXPECT_TRUE(LoadConfiguration(loader.doc, folder.Path("OLD.VRT"), loader.services));
  ASSERT_EQ(loader.ui.shown.size(), 1u);
  EXPECT_EQ(loader.ui.shown[0].text, "Older File Format, Please save & re-open");
  EXPECT_EQ(loader.ui.shown[0].title, "WARNING ! 120");
  EXPECT_EQ(loader.ui.shown[0].icon, MessageIcon::kError);
  EXPECT_EQ(loader.doc.PollRecordTotal(), 1);
  EXPECT_EQ(loader.doc.Path(), folder.Path("OLD.VRT"));
}

TEST(SaveAndLoad, StartAddressesBeyondTheElevenBitsOfTheImageAreNotSaved) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
  CDevice& device = *editor.doc.Channels()[0]->Devices()[0];
  auto record = std::make_unique<CPollRecord>();
  ASSERT_EQ(record->SetStartFromText("DIT:4090", editor.reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record->SetLengthFromText("7", editor.reporter, EntryPath::kCsv), 0);
  device.AttachPollRecord(std::move(record));
  const ImageBuild build = BuildImage(editor.doc, 1);
  EXPECT_TRUE(build.bytes.empty());
  EXPECT_EQ(build.error,
            "Save Failed. Poll Record 2 of device S1_1 starts beyond DIT:2047, the last address the driver can poll.");
}

TEST(SaveAndLoad, AConfigurationWithoutPollRecordsIsNotSavedAndKeepsItsDevices) {
  Editor editor;
  editor.doc.AddDefaultDevice(*editor.doc.AddChannel());
  const ImageBuild build = BuildImage(editor.doc, 1);
  EXPECT_TRUE(build.bytes.empty());
  EXPECT_EQ(build.error, "Save Failed. The configuration holds no Poll Record.");
  EXPECT_EQ(editor.doc.DeviceTotal(), 1);
}

TEST(SaveAndLoad, MoreThanTheImageHoldsIsRefused) {
  Editor editor;
  CChannel& channel = *editor.doc.AddChannel();
  for (int d = 0; d < 256; ++d) {
    CDevice& device = *editor.doc.AddDefaultDevice(channel);
    auto record = std::make_unique<CPollRecord>();
    ASSERT_EQ(record->SetStartFromText("DIT:1", editor.reporter, EntryPath::kCsv), 0);
    device.AttachPollRecord(std::move(record));
  }
  EXPECT_EQ(BuildImage(editor.doc, 1).error, "Save Failed. 256 devices with Poll Records, at most 255 are allowed.");
  CDevice& last = *channel.Devices().back();
  for (int r = 0; r < 10000; ++r) {
    auto record = std::make_unique<CPollRecord>();
    ASSERT_EQ(record->SetStartFromText("EVENT", editor.reporter, EntryPath::kCsv), 0);
    last.AttachPollRecord(std::move(record));
  }
  EXPECT_EQ(BuildImage(editor.doc, 1).error, "Save Failed. 10256 Poll Records, at most 10000 are allowed.");
}

// 10000 poll records are what the image holds: that many are saved, one
// more is refused.
TEST(SaveAndLoad, TenThousandPollRecordsAreSavedAndOneMoreIsRefused) {
  Editor editor;
  CDevice& device = *editor.doc.AddDefaultDevice(*editor.doc.AddChannel());
  auto add = [&] {
    auto record = std::make_unique<CPollRecord>();
    ASSERT_EQ(record->SetStartFromText("EVENT", editor.reporter, EntryPath::kCsv), 0);
    device.AttachPollRecord(std::move(record));
  };
  for (int r = 0; r < kMaxImagePollRecords; ++r) add();
  const auto saved = BuildImage(editor.doc, 1);
  EXPECT_EQ(saved.error, "");
  EXPECT_FALSE(saved.bytes.empty());
  add();
  EXPECT_EQ(BuildImage(editor.doc, 1).error, "Save Failed. 10001 Poll Records, at most 10000 are allowed.");
}

class CorruptFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Editor editor;
    testing::BuildSample(editor.doc, editor.reporter, 2, 2, 2);
    bytes = Saved(editor.doc);
  }

  // Loads into a document that already holds something: a failed load
  // leaves it empty.
  bool Loads(const std::vector<std::uint8_t>& file) {
    Editor editor;
    testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
    const bool ok = LoadImage(editor.doc, file).ok;
    if (!ok) {
      EXPECT_EQ(editor.doc.ChannelCount(), 0);
    }
    return ok;
  }

  std::uint32_t HeaderField32(std::size_t offset) { return Get<std::uint32_t>(bytes, kHeaderAt + offset); }

  std::vector<std::uint8_t> bytes;
};

TEST_F(CorruptFile, EveryTruncationIsRefused) {
  ASSERT_TRUE(Loads(bytes));
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    ASSERT_FALSE(Loads(cut)) << "cut at " << length;
  }
}

TEST_F(CorruptFile, OffsetsPastTheEndAreRefused) {
  const std::uint32_t channelTable = HeaderField32(22);
  const std::uint32_t deviceTable = HeaderField32(26);
  const std::uint32_t runtimeTable = HeaderField32(30);
  for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
           {kHeaderAt + 22, 0xFFFFFFF0u},                  // channel table
           {kHeaderAt + 26, 0x7FFFFFFFu},                  // device table
           {kHeaderAt + 30, static_cast<std::uint32_t>(bytes.size())},  // runtime table
           {kHeaderAt + channelTable + 4, static_cast<std::uint32_t>(bytes.size() - 50)},  // channel 2
           {kHeaderAt + deviceTable, 0xFFFFFFFFu},         // device 0
           {kHeaderAt + runtimeTable + 32 * 7, 0xFFFFFF00u},  // poll record 7
       }) {
    std::vector<std::uint8_t> broken = bytes;
    Put<std::uint32_t>(broken, at, value);
    EXPECT_FALSE(Loads(broken)) << "offset field at " << at;
  }
  // An area descriptor that leads out of the file.
  std::vector<std::uint8_t> broken = bytes;
  const std::uint32_t record = Get<std::uint32_t>(bytes, kHeaderAt + runtimeTable);
  Put<std::uint32_t>(broken, kHeaderAt + record + 28 + 6 * 4, 0x00FFFFFFu);
  EXPECT_FALSE(Loads(broken));
}

TEST_F(CorruptFile, AbsurdCountsAreRefused) {
  const std::uint32_t channelTable = HeaderField32(22);
  const std::uint32_t firstChannel = Get<std::uint32_t>(bytes, kHeaderAt + channelTable);
  struct Patch {
    std::size_t at;
    std::vector<std::uint8_t> value;
  };
  const std::vector<Patch> patches = {
      {kHeaderAt + 3, {0x80}},                         // channel count -128
      {kHeaderAt + 3, {127}},                          // 127 channels
      {kHeaderAt + 4, {255}},                          // 255 devices
      {kHeaderAt + 18, {0xFF, 0xFF}},                  // 65535 poll records
      {kHeaderAt + firstChannel + 42, {0x60, 0xEA}},   // a channel of 60000 devices
      {kHeaderAt + firstChannel + 40, {1, 0}},         // channels sharing device 1
  };
  for (const Patch& patch : patches) {
    std::vector<std::uint8_t> broken = bytes;
    std::memcpy(broken.data() + patch.at, patch.value.data(), patch.value.size());
    EXPECT_FALSE(Loads(broken)) << "patch at " << patch.at;
  }
}

TEST_F(CorruptFile, LoadingShowsFileOpenErrorAndClearsTheDocument) {
  ScratchFolder folder;
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 200);
  testing::WriteBytes(folder.Path("CUT.VRT"), cut);
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
  EXPECT_FALSE(LoadConfiguration(editor.doc, folder.Path("CUT.VRT"), editor.services));
  ASSERT_EQ(editor.ui.shown.size(), 1u);
  EXPECT_EQ(editor.ui.shown[0].text, "File Open Error");
  EXPECT_EQ(editor.ui.shown[0].title, "The Configuration file is corrupt, Please re-save");
  EXPECT_EQ(editor.doc.ChannelCount(), 0);
  EXPECT_EQ(editor.doc.Title(), "Untitled");
}

TEST(SaveCommand, WritesTheFileAndTakesTheUpperCasedPath) {
  ScratchFolder folder;
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 2);
  editor.doc.SetModified(true);
  const std::string path = folder.Path("plant.vrt");
  ASSERT_TRUE(SaveConfiguration(editor.doc, path, editor.services));
  EXPECT_TRUE(editor.ui.asked.empty());  // no start-up file: nothing asked
  EXPECT_EQ(editor.doc.Path(), UpperAscii(path));
  EXPECT_FALSE(editor.doc.Modified());
  EXPECT_TRUE(editor.doc.ReloadPending());
  const std::vector<std::uint8_t> written = testing::ReadBytes(path);
  EXPECT_EQ(Get<std::uint32_t>(written, 0), written.size());
  EXPECT_EQ(Get<std::uint32_t>(written, kHeaderAt + 6), editor.clock.seconds);
  CDidDoc loaded;
  Editor reader;
  ASSERT_TRUE(LoadConfiguration(reader.doc, path, reader.services));
  EXPECT_EQ(reader.doc.PollRecordTotal(), 2);
}

TEST(SaveCommand, AsksAboutTheStartupFileOnlyWhenItDiffers) {
  ScratchFolder folder;
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
  const std::string path = folder.Path("plant.vrt");
  editor.settings.configFile = UpperAscii(path);
  ASSERT_TRUE(SaveConfiguration(editor.doc, path, editor.services));
  EXPECT_TRUE(editor.ui.asked.empty());

  editor.settings.configFile = path;  // the same file, in lower case
  editor.ui.answer = Answer::kNo;
  ASSERT_TRUE(SaveConfiguration(editor.doc, path, editor.services));
  ASSERT_EQ(editor.ui.asked.size(), 1u);
  EXPECT_EQ(editor.ui.asked[0].text, "You are Saving to " + UpperAscii(path) + "\nThe Driver is starting up with " +
                                         path + "\nDo You wish to make this the new Startup file ?");
  EXPECT_EQ(editor.ui.asked[0].title, "Warning !");
  EXPECT_EQ(editor.settings.writes, 0);

  editor.ui.answer = Answer::kYes;
  ASSERT_TRUE(SaveConfiguration(editor.doc, path, editor.services));
  EXPECT_EQ(editor.settings.writes, 1);
  EXPECT_EQ(editor.settings.configFile, UpperAscii(path));
}

TEST(SaveCommand, AFolderThatIsNotThereGivesFailedToOpenAndLeavesNothing) {
  ScratchFolder folder;
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 1);
  EXPECT_FALSE(SaveConfiguration(editor.doc, folder.Path("missing/plant.vrt"), editor.services));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Failed to open document."});
  EXPECT_TRUE(editor.doc.Path().empty());
}

TEST(SaveCommand, ARefusedSaveKeepsTheOldFile) {
  ScratchFolder folder;
  const std::string path = folder.Path("KEEP.VRT");
  testing::WriteText(path, "previous contents");
  Editor editor;
  editor.doc.AddChannel();
  EXPECT_FALSE(SaveConfiguration(editor.doc, path, editor.services));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Save Failed. The configuration holds no Poll Record."});
  EXPECT_EQ(testing::ReadText(path), "previous contents");
}

TEST(SaveCommand, OpeningAMissingFileGivesFailedToOpen) {
  ScratchFolder folder;
  Editor editor;
  EXPECT_FALSE(LoadConfiguration(editor.doc, folder.Path("NONE.VRT"), editor.services));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Failed to open document."});
}

TEST(EditorFileWrites, AFullDiskIsToldApartFromOtherFailures) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full on this system";
  std::setvbuf(full, nullptr, _IONBF, 0);
  const std::vector<std::uint8_t> bytes(4096, 1);
  EXPECT_EQ(WriteToStream(full, bytes), WriteStatus::kDiskFull);
  std::fclose(full);
}

TEST(EditorFileKinds, ByExtensionWithoutRegardToCase) {
  EXPECT_EQ(KindOfPath("C:\\CFG\\PLANT.VRT"), FileKind::kConfiguration);
  EXPECT_EQ(KindOfPath("plant.vrt"), FileKind::kConfiguration);
  EXPECT_EQ(KindOfPath("list.Csv"), FileKind::kCsv);
  EXPECT_EQ(KindOfPath("notes.txt"), FileKind::kOther);
  EXPECT_EQ(KindOfPath("dir.vrt/file"), FileKind::kOther);
  EXPECT_EQ(DirectoryOf("C:\\CFG\\PLANT.VRT"), "C:\\CFG\\");
  EXPECT_EQ(DirectoryOf("out.vrt"), "");
}

}  // namespace
}  // namespace vrt::editor
