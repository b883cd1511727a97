// The editor's CSV import: any text with any usable separator, every object
// of what it built, and the round trip: what the import built exports,
// imports again without a complaint and exports to the same text, and saves
// to the same image either way; the image passes the driver's check.
//
// Input: one byte choosing the separator, then the file's text.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "csv.h"
#include "dit_image.h"
#include "doc_file.h"
#include "editor_fakes.h"
#include "editor_walk.h"
#include "fuzz_check.h"

namespace {

using namespace vrt;
using namespace vrt::editor;

constexpr char kSeparators[] = {',', ';', '|', ':'};

// The editor tests' fixed local time, for export title lines that repeat.
std::tm FixedTime() { return editor::testing::FixedClock().local; }

// Imports `text` into the editor's document; the number of errors.
int Import(editor::testing::Editor& editor, std::string_view text, char separator,
           editor::testing::MemoryErrorSink& errors) {
  editor.reporter.BeginImport(errors);
  ImportCsvText(editor.doc, text, separator, editor.reporter);
  return editor.reporter.EndImport();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const char separator = kSeparators[input.Byte() % sizeof kSeparators];
  const std::string text = input.RestText();

  editor::testing::Editor first;
  editor::testing::MemoryErrorSink firstErrors;
  const int errors = Import(first, text, separator, firstErrors);
  VRT_FUZZ_CHECK(errors == static_cast<int>(firstErrors.lines.size()), "errors counted and written differ");
  VRT_FUZZ_CHECK(first.ui.shown.empty(), "an import showed a message box instead of writing the error file");
  VRT_FUZZ_CHECK(first.doc.ChannelCount() <= kMaxChannels, "the import took more channels than allowed");
  VRT_FUZZ_CHECK(first.doc.PollRecordTotal() <= kMaxImagePollRecords, "the import took more poll records than allowed");
  for (const auto& channel : first.doc.Channels()) {
    VRT_FUZZ_CHECK(channel->Devices().size() <= static_cast<std::size_t>(kMaxDevicesPerChannel),
                   "the import put more devices on a channel than allowed");
  }
  fuzz::WalkDocument(first.doc);

  const std::optional<std::string> exported = ExportCsvText(first.doc, separator, FixedTime());
  if (!exported) {
    VRT_FUZZ_CHECK(first.doc.ChannelCount() == 0, "a document with channels exported nothing");
    return 0;
  }
  editor::testing::Editor second;
  editor::testing::MemoryErrorSink secondErrors;
  const int again = Import(second, *exported, separator, secondErrors);
  if (again != 0) {
    std::fprintf(stderr, "%s\n--- first complaint: %s\n", exported->c_str(), secondErrors.lines[0].c_str());
  }
  VRT_FUZZ_CHECK(again == 0, "the editor complains about a file it exported");
  fuzz::WalkDocument(second.doc);
  const std::optional<std::string> reexported = ExportCsvText(second.doc, separator, FixedTime());
  VRT_FUZZ_CHECK(reexported && *reexported == *exported, "exported, imported and exported again is not the same text");

  const ImageBuild image = BuildImage(first.doc, 1000);
  const ImageBuild imageAgain = BuildImage(second.doc, 1000);
  if (image.bytes != imageAgain.bytes || image.error != imageAgain.error) {
    std::size_t at = 0;
    while (at < image.bytes.size() && at < imageAgain.bytes.size() && image.bytes[at] == imageAgain.bytes[at]) ++at;
    std::fprintf(stderr, "%s\n--- saves differ: errors \"%s\" and \"%s\", sizes %zu and %zu, first difference at %zu\n",
                 exported->c_str(), image.error.c_str(), imageAgain.error.c_str(), image.bytes.size(),
                 imageAgain.bytes.size(), at);
    for (std::size_t k = at & ~std::size_t{15}; k < at + 32 && k < image.bytes.size() && k < imageAgain.bytes.size(); ++k) {
      std::fprintf(stderr, "%zu: %02x %02x\n", k, image.bytes[k], imageAgain.bytes[k]);
    }
  }
  VRT_FUZZ_CHECK(image.bytes == imageAgain.bytes && image.error == imageAgain.error,
                 "the document and its CSV round trip save differently");
  if (image.bytes.empty()) return 0;
  std::vector<std::uint8_t> bytes = image.bytes;
  VRT_FUZZ_CHECK(CheckImage(DitImage(bytes.data(), bytes.size()), {kMaxImageChannels, 1024}) == ImageCheck::kGood,
                 "an imported configuration saved to an image the driver refuses");
  CDidDoc loaded;
  VRT_FUZZ_CHECK(LoadImage(loaded, image.bytes).ok, "the editor cannot load what it saved from an import");
  return 0;
}
