// The editor's document walked as the editor shows it, for the fuzz
// targets that load or import one: every object, every text of it, and the
// whole-document check.
#pragma once

#include <string>
#include <vector>

#include "did_doc.h"
#include "document_check.h"
#include "fuzz_check.h"

namespace vrt::fuzz {

using namespace vrt::editor;

inline std::size_t Texts(const std::vector<std::string>& texts) {
  std::size_t total = 0;
  for (const std::string& text : texts) total += text.size();
  return total;
}

// Every object of the tree and every text the editor shows of it.
inline void WalkDocument(const CDidDoc& doc) {
  std::size_t total = 0;
  int records = 0;
  for (const auto& channel : doc.Channels()) {
    total += Texts(channel->CsvFields()) + channel->DisplayAlarmsText().size();
    for (LinkRole role : {LinkRole::kPrimary, LinkRole::kBackup}) {
      total += channel->PortText(role).size() + channel->BaudRateText(role).size() +
               channel->DataBitsText(role).size() + channel->ParityText(role).size() +
               channel->FlowControlText(role).size() + channel->StopBitsText(role).size() +
               channel->ReplyTimeoutText(role).size() + channel->DelayText(role).size() +
               channel->RetriesText(role).size();
    }
    for (const auto& device : channel->Devices()) {
      VRT_FUZZ_CHECK(device->Channel() == channel.get(), "a device does not know its channel");
      total += Texts(device->CsvFields()) + device->HardwareTypeText().size();
      for (EntryPath path : {EntryPath::kView, EntryPath::kCsv}) {
        total += device->PrimaryStationText(path).size() + device->BackupStationText(path).size() +
                 device->QueueHeadText(path).size();
      }
      int position = 0;
      for (const auto& record : device->PollRecords()) {
        VRT_FUZZ_CHECK(record->Owner() == device.get(), "a poll record does not know its device");
        VRT_FUZZ_CHECK(device->PositionOf(record.get()) == ++position, "a poll record is not where it is listed");
        total += Texts(record->CsvFields()) + Texts(record->GridTexts(position)) + record->StartText().size() +
                 record->EndText().size() + record->LengthText().size() + record->DataTypeText().size() +
                 record->PollTimeText().size() + record->AccessTimeText().size() + record->ExceptionText().size() +
                 record->DeadBandText().size();
        ++records;
      }
    }
  }
  VRT_FUZZ_CHECK(records == doc.PollRecordTotal(), "the poll record total disagrees with the tree");
  total += Texts(CheckDocument(doc));
  Keep(total);
}

}  // namespace vrt::fuzz
