// Times the editor's file work on the largest configuration it allows: 16
// channels, 240 devices and 10000 poll records of 48 registers (about 95 MB
// of image). Prints the figures; it checks nothing beyond the round trip.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "csv.h"
#include "did_doc.h"
#include "doc_file.h"
#include "editor_services.h"
#include "file_io.h"

namespace {

using namespace vrt::editor;
using Clock = std::chrono::steady_clock;

class QuietUi : public EditorUserInterface {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
  Answer Ask(const std::string&, const std::string&, Buttons, MessageIcon) override { return Answer::kNo; }
};

class DiscardedErrors : public ImportErrorSink {
 public:
  bool AppendLine(const std::string& line, bool) override {
    std::fprintf(stderr, "%s\n", line.c_str());
    return true;
  }
  std::string Name() const override { return "standard error"; }
};

void BuildLargest(CDidDoc& doc, Reporter& reporter) {
  static const char* const kDataTypes[] = {"Unsigned", "Signed", "Digital"};
  static const char* const kExceptions[] = {"Disabled", "Analog", "Digital", "ASCII"};
  constexpr int kChannels = 16;
  constexpr int kDevicesPerChannel = 15;
  constexpr int kRecords = 10000;
  int made = 0;
  for (int c = 0; c < kChannels; ++c) {
    CChannel& channel = *doc.AddChannel();
    channel.SetPortFromText(LinkRole::kPrimary, "COM" + std::to_string(c + 1) + ":", reporter);
    for (int d = 0; d < kDevicesPerChannel; ++d) {
      auto created = std::make_unique<CDevice>();
      created->SetNameFromText("C" + std::to_string(c + 1) + "D" + std::to_string(d + 1), reporter);
      CDevice& device = *channel.AttachDevice(std::move(created));
      device.SetDescriptionFromText("Device " + std::to_string(c) + "/" + std::to_string(d), reporter);
      device.SetPrimaryStationFromText(std::to_string(d), reporter, EntryPath::kView);
      const int devicesLeft = (kChannels - c) * kDevicesPerChannel - d;
      const int records = (kRecords - made + devicesLeft - 1) / devicesLeft;
      for (int r = 0; r < records; ++r, ++made) {
        auto record = std::make_unique<CPollRecord>();
        const int kind = (made % 4);
        record->SetExceptionFromText(kExceptions[kind], reporter);
        record->SetAccessTimeFromText(kind == 0 ? "300" : "Disabled", reporter, EntryPath::kCsv);
        record->SetPollTimeFromText("0.5", reporter, EntryPath::kCsv);
        record->SetDeadBandFromText("0.25", reporter, EntryPath::kCsv);
        record->SetStartFromText("DIT:" + std::to_string(r * 48), reporter, EntryPath::kCsv);
        record->SetLengthFromText("48", reporter, EntryPath::kCsv);
        record->SetDataTypeFromText(kDataTypes[made % 3], reporter);
        device.AttachPollRecord(std::move(record));
      }
    }
  }
}

double Milliseconds(const std::function<bool()>& work, int repeats, bool* ok) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    *ok = work() && *ok;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  QuietUi ui;
  NoRegistrySettings settings;
  SystemClock clock;
  Reporter reporter(ui);
  EditorServices services{ui, settings, clock, reporter};
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vrt-editor-bench";
  std::filesystem::create_directories(folder);
  const std::string vrt = (folder / "LARGEST.VRT").string();
  const std::string csv = (folder / "LARGEST.CSV").string();
  constexpr int kRepeats = 3;
  bool ok = true;

  CDidDoc doc;
  BuildLargest(doc, reporter);
  std::printf("configuration: %d channels, %d devices, %d poll records\n", doc.ChannelCount(), doc.DeviceTotal(),
              doc.PollRecordTotal());

  const double build = Milliseconds([&] { return !BuildImage(doc, 1).bytes.empty(); }, kRepeats, &ok);
  const double save = Milliseconds([&] { return SaveConfiguration(doc, vrt, services); }, kRepeats, &ok);
  const auto vrtSize = std::filesystem::file_size(vrt);
  std::vector<std::uint8_t> bytes;
  ReadWholeFile(vrt, kMaxConfigurationFileSize, bytes);
  const double parse = Milliseconds([&] { CDidDoc loaded; return LoadImage(loaded, bytes).ok; }, kRepeats, &ok);
  const double load = Milliseconds([&] { CDidDoc loaded; return LoadConfiguration(loaded, vrt, services); },
                                   kRepeats, &ok);
  // The floor for both: the same number of bytes plainly written and read.
  const std::string plain = (folder / "PLAIN.BIN").string();
  const double plainWrite = Milliseconds(
      [&] {
        std::FILE* file = std::fopen(plain.c_str(), "wb");
        if (file == nullptr) return false;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        return std::fclose(file) == 0 && written;
      },
      kRepeats, &ok);
  const double plainRead = Milliseconds(
      [&] {
        std::vector<std::uint8_t> copy(bytes.size());
        std::FILE* file = std::fopen(plain.c_str(), "rb");
        if (file == nullptr) return false;
        const bool read = std::fread(copy.data(), 1, copy.size(), file) == copy.size();
        std::fclose(file);
        return read;
      },
      kRepeats, &ok);
  const double exportTime = Milliseconds([&] { return ExportCsv(doc, csv, ',', services); }, kRepeats, &ok);
  const auto csvSize = std::filesystem::file_size(csv);
  DiscardedErrors errors;
  const double importTime = Milliseconds(
      [&] {
        CDidDoc imported;
        const CsvImport result = ImportCsv(imported, csv, ',', errors, services);
        return result.opened && result.errors == 0 && imported.PollRecordTotal() == 10000;
      },
      kRepeats, &ok);

  std::printf("image file: %llu bytes; CSV file: %llu bytes (median of %d runs)\n",
              static_cast<unsigned long long>(vrtSize), static_cast<unsigned long long>(csvSize), kRepeats);
  std::printf("  lay out the image in memory   %9.1f ms\n", build);
  std::printf("  save (lay out and write)      %9.1f ms\n", save);
  std::printf("  read the objects from memory  %9.1f ms\n", parse);
  std::printf("  load (read file and objects)  %9.1f ms\n", load);
  std::printf("  plain write of as many bytes  %9.1f ms   (save / plain: %.2f)\n", plainWrite, save / plainWrite);
  std::printf("  plain read of as many bytes   %9.1f ms   (load / plain: %.2f)\n", plainRead, load / plainRead);
  std::printf("  export CSV                    %9.1f ms\n", exportTime);
  std::printf("  import CSV                    %9.1f ms\n", importTime);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!ok) std::printf("a step FAILED\n");
  return ok ? 0 : 1;
}
