// The editor opening a configuration file: the load over any bytes, every
// object and text of what it accepted, the whole-document check, and the
// save: what the editor saves the driver accepts, and it loads and saves
// again to the same bytes.
//
// Input: the file's bytes.
#include <span>
#include <vector>

#include "dit_image.h"
#include "doc_file.h"
#include "editor_walk.h"
#include "fuzz_check.h"

namespace {

using namespace vrt;
using namespace vrt::editor;
using vrt::fuzz::WalkDocument;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  CDidDoc doc;
  const ImageLoad load = LoadImage(doc, std::span<const std::uint8_t>(bytes.data(), bytes.size()));
  if (!load.ok) {
    VRT_FUZZ_CHECK(doc.ChannelCount() == 0, "a refused file left objects in the document");
    return 0;
  }
  VRT_FUZZ_CHECK(doc.ChannelCount() <= kMaxImageChannels, "more channels loaded than an image holds");
  VRT_FUZZ_CHECK(doc.PollRecordTotal() <= kMaxImagePollRecords, "more poll records loaded than an image holds");
  WalkDocument(doc);

  const ImageBuild first = BuildImage(doc, 1000);
  if (first.bytes.empty()) {
    VRT_FUZZ_CHECK(!first.error.empty(), "a refused save gave no reason");
    return 0;
  }
  // What the editor saves, the driver and its clients take.
  std::vector<std::uint8_t> image = first.bytes;
  VRT_FUZZ_CHECK(CheckImage(DitImage(image.data(), image.size()), {kMaxImageChannels, 1024}) == ImageCheck::kGood,
                 "the editor saved an image the driver refuses");

  CDidDoc again;
  VRT_FUZZ_CHECK(LoadImage(again, first.bytes).ok, "the editor cannot load what it saved");
  WalkDocument(again);
  const ImageBuild second = BuildImage(again, 1000);
  VRT_FUZZ_CHECK(second.bytes == first.bytes, "saved, loaded and saved again is not the same file");
  return 0;
}
