#include "nio_exceptions.h"

#include <algorithm>
#include <cstring>

#include "dit_codes.h"
#include "nio_addressing.h"
#include "shared_access.h"

namespace vrt {
namespace {

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

bool Enabled(const NioProcess& process) { return (process.options & kOptionNotification) != 0; }

struct Key {
  std::uint8_t byte = 0;
  std::uint16_t word = 0;
};

Key KeyFrom(const std::uint8_t* key) {
  Key result;
  result.byte = key[0];
  std::memcpy(&result.word, key + 2, sizeof result.word);
  return result;
}

// A record's exception area as whole entries.
struct ExceptionArea {
  std::uint8_t* bytes = nullptr;
  unsigned entries = 0;

  std::uint8_t* At(unsigned entry) const { return bytes + 4u * entry; }
  Key Owner(unsigned entry) const {
    Key owner;
    owner.byte = SharedLoad(At(entry)[1]);
    std::memcpy(&owner.word, At(entry) + 2, sizeof owner.word);
    return owner;
  }
  bool Free(unsigned entry) const {
    const Key owner = Owner(entry);
    return owner.byte == 0 && owner.word == 0;
  }
  bool Continuation(unsigned entry) const {
    const Key owner = Owner(entry);
    return owner.byte == 0 && owner.word == kContinuationWord;
  }
  std::uint8_t Changed(unsigned entry) const { return SharedLoad(At(entry)[0]); }
  void Store(unsigned entry, Key owner) const {
    SharedStore(At(entry)[0], 0);
    SharedStore(At(entry)[1], owner.byte);
    std::memcpy(At(entry) + 2, &owner.word, sizeof owner.word);
  }
};

ExceptionArea ExceptionAreaOf(DitMapping& mapping, int index) {
  ExceptionArea area;
  std::uint16_t size = 0;
  area.bytes = mapping.Image().Area(index, kExceptionArea, &size);
  area.entries = area.bytes != nullptr ? size / 4u : 0;
  if (area.entries == 0) area.bytes = nullptr;
  return area;
}

bool IsPairType(std::uint16_t dataType) {
  return dataType == kDataFloat || dataType == kDataUnsigned32 || dataType == kDataSigned32;
}

// What nio_on and nio_off share: the point resolved, its record's exception
// type checked against the point's kind and its entry located.
struct ExceptionPoint {
  int index = -1;
  DitPollRecord* record = nullptr;
  ExceptionArea area;
  unsigned entry = 0;
};

std::uint16_t LocatePoint(NioProcess& process, NioBlock* block, const NioValueSpec* valueSpec,
                          ExceptionPoint& point) {
  DitMapping& mapping = process.mapping;
  point.index = ResolveAddress(mapping, block);
  if (point.index < 0) return kNioAddressError;
  point.record = mapping.nio_map_dit(point.index);
  if (point.record == nullptr) return kNioAddressError;
  const std::uint8_t type = point.record->exceptionType;
  const std::uint8_t kind = valueSpec->valueKind;
  if (type == kExceptionDisabled || type > kExceptionAscii) return kNioExceptionsDisabled;
  if ((type == kExceptionAnalog || type == kExceptionAscii) && kind == kValueKindDigital) return kNioKindMismatch;
  if (type == kExceptionDigital && kind == kValueKindAnalog) return kNioKindMismatch;
  const NioAddress& address = *block->address;
  // 16-bit arithmetic as the register word has it: a register below the
  // record's start lands far beyond the area and is refused below.
  const std::uint16_t offset =
      static_cast<std::uint16_t>(RegisterOf(address) - StartAddressOf(point.record->addressWord));
  point.entry = ExceptionEntryIndex(type, point.record->dataType, offset, static_cast<unsigned>(BitOf(address)));
  point.area = ExceptionAreaOf(mapping, point.index);
  if (point.entry >= point.area.entries) return kNioAddressError;
  return kNioOk;
}

bool PointRecordsPresent(const NioBlock* block, const NioValueSpec* valueSpec) {
  return block != nullptr && block->address != nullptr && block->deviceText != nullptr && valueSpec != nullptr;
}

}  // namespace

unsigned ExceptionEntryIndex(std::uint8_t exceptionType, std::uint16_t dataType, unsigned registerOffset,
                             unsigned bit) {
  unsigned index = registerOffset;
  if (exceptionType == kExceptionDigital) index = 16 * index + bit;
  if (IsPairType(dataType)) index /= 2;
  return index;
}

std::uint8_t nio_enable_options(NioProcess& process, std::uint8_t options) {
  process.options = options;
  return options;
}

void nio_on(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
            const std::uint8_t* key, int length) {
  SetStatus(status, kNioOk);
  if (!Enabled(process)) return;
  if (!PointRecordsPresent(block, valueSpec)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  if (key == nullptr) {
    block->deviceText->notificationFlag = 0;
    return;
  }
  const Key owner = KeyFrom(key);
  if (owner.byte == 0 && (owner.word == 0 || owner.word == kContinuationWord)) {
    SetStatus(status, kNioKindMismatch);
    return;
  }
  block->deviceText->notificationFlag = 1;
  ExceptionPoint point;
  if (const std::uint16_t refused = LocatePoint(process, block, valueSpec, point); refused != kNioOk) {
    SetStatus(status, refused);
    return;
  }
  const ExceptionArea& area = point.area;
  unsigned continuations = 0;
  if (point.record->exceptionType == kExceptionAscii && length > 0) {
    // (length + 1) / 2 - 1, without overflowing at the largest length.
    continuations = static_cast<unsigned>(length / 2 + length % 2 - 1);
    continuations = std::min(continuations, area.entries - point.entry - 1);
  }
  LockByteGuard lock(point.record->dataLock, process.sleeper);
  // All or nothing: every entry the text needs is checked before any is
  // written, so a refused registration leaves no entry behind.
  for (unsigned k = 0; k <= continuations; ++k) {
    if (!area.Free(point.entry + k)) {
      SetStatus(status, kNioEntryOwned);
      return;
    }
  }
  area.Store(point.entry, owner);
  for (unsigned k = 1; k <= continuations; ++k) area.Store(point.entry + k, Key{0, kContinuationWord});
  SetStatus(status, kNioRegistered);
}

void nio_off(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
             const std::uint8_t* key) {
  SetStatus(status, kNioOk);
  if (!Enabled(process) || key == nullptr) return;
  if (!PointRecordsPresent(block, valueSpec)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  ExceptionPoint point;
  if (const std::uint16_t refused = LocatePoint(process, block, valueSpec, point); refused != kNioOk) {
    SetStatus(status, refused);
    return;
  }
  const Key owner = KeyFrom(key);
  const ExceptionArea& area = point.area;
  bool wasChanged = false;
  {
    LockByteGuard lock(point.record->dataLock, process.sleeper);
    const Key held = area.Owner(point.entry);
    if (held.byte != owner.byte || held.word != owner.word) return;
    wasChanged = area.Changed(point.entry) != 0;
    area.Store(point.entry, Key{});
    if (point.record->exceptionType == kExceptionAscii) {
      for (unsigned next = point.entry + 1; next < area.entries && area.Continuation(next); ++next) {
        area.Store(next, Key{});
      }
    }
  }
  if (!wasChanged) return;
  DitPollRuntime* runtime = process.mapping.Image().Runtime(point.index);
  if (runtime == nullptr) return;
  LockByteGuard lock(runtime->entryLock, process.sleeper);
  const std::uint16_t pending = SharedLoad(runtime->pendingExceptions);
  if (pending > 0) SharedStore(runtime->pendingExceptions, pending - 1);
}

void nio_fetch(NioProcess& process, std::uint16_t* status, std::uint8_t* keys, int maxCount, int* count) {
  SetStatus(status, kNioOk);
  int collected = 0;
  if (count != nullptr) *count = 0;
  DitMapping& mapping = process.mapping;
  if (mapping.nio_map_hdr() == nullptr || keys == nullptr || maxCount <= 0) return;
  const int records = mapping.PollRecordCount();
  if (records <= 0) return;
  if (process.fetchCursor >= records) process.fetchCursor = 0;
  const int start = process.fetchCursor;
  int cursor = start;
  do {
    DitPollRuntime* runtime = mapping.Image().Runtime(cursor);
    const unsigned pending = runtime != nullptr ? SharedLoad(runtime->pendingExceptions) : 0;
    if (pending > 0) {
      const DitPollRecord* record = mapping.Image().PollRecord(cursor);
      if (record != nullptr && record->exceptionType == kExceptionDisabled) {
        LockByteGuard lock(runtime->entryLock, process.sleeper);
        SharedStore(runtime->pendingExceptions, 0);
      } else if (record != nullptr) {
        const ExceptionArea area = ExceptionAreaOf(mapping, cursor);
        unsigned fromRecord = 0;
        for (unsigned entry = 0; entry < area.entries && collected < maxCount && fromRecord < pending; ++entry) {
          if (area.Changed(entry) == 0) continue;
          const Key owner = area.Owner(entry);
          std::uint8_t* out = keys + kExceptionKeySize * static_cast<std::size_t>(collected);
          out[0] = owner.byte;
          std::memcpy(out + 2, &owner.word, sizeof owner.word);
          ++collected;
          ++fromRecord;
        }
      }
    }
    cursor = cursor + 1 < records ? cursor + 1 : 0;
  } while (collected < maxCount && cursor != start);
  process.fetchCursor = static_cast<std::uint16_t>(cursor);
  if (count != nullptr) *count = collected;
}

}  // namespace vrt
