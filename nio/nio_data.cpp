#include "nio_data.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dit_codes.h"
#include "nio_addressing.h"
#include "nio_conversion.h"
#include "shared_access.h"

namespace vrt {
namespace {

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

bool IsPairType(std::uint16_t dataType) {
  return dataType == kDataFloat || dataType == kDataUnsigned32 || dataType == kDataSigned32;
}
bool IsRegisterType(std::uint16_t dataType) {
  return dataType == kDataSigned || dataType == kDataUnsigned || dataType == kDataDigital;
}
bool IsTextType(std::uint16_t dataType) {
  return dataType == 0 || dataType == kDataSigned || dataType == kDataUnsigned;
}

// Where a point lies in its poll record at this access.
struct Position {
  unsigned registerOffset = 0;  // registers from the record's start
  unsigned bit = 0;
};

// The point's register and bit with the element offset applied (16-bit
// unsigned arithmetic, so a step below the record's start lands far beyond
// its end); false when the result leaves the record.
bool EffectivePosition(const NioAddress& address, const DitPollRecord& record, std::uint8_t valueKind,
                       Position& position) {
  std::uint16_t offset = static_cast<std::uint16_t>(RegisterOf(address) - StartAddressOf(record.addressWord));
  std::uint16_t bit = static_cast<std::uint16_t>(BitOf(address));
  const std::int16_t element = address.elementOffset;
  if (element != 0 && valueKind == kValueKindDigital) {
    const std::uint16_t sum = static_cast<std::uint16_t>(element + bit);
    bit = sum % 16;
    offset = static_cast<std::uint16_t>(offset + sum / 16);
  } else if (element != 0 && valueKind == kValueKindAnalog) {
    offset = static_cast<std::uint16_t>(offset + element);
    if (IsPairType(record.dataType)) offset = static_cast<std::uint16_t>(offset + element);
  }
  if (offset >= record.length) return false;
  position.registerOffset = offset;
  position.bit = bit;
  return true;
}

// Exception entry index of a point at `position`.
unsigned ExceptionIndex(const DitPollRecord& record, Position position) {
  unsigned index = position.registerOffset;
  if (record.exceptionType == kExceptionDigital) index = 16 * index + position.bit;
  if (IsPairType(record.dataType)) index /= 2;
  return index;
}

// A record's data area with its size; null when absent.
struct Area {
  std::uint8_t* bytes = nullptr;
  std::uint16_t size = 0;
  bool Holds(std::size_t offset, std::size_t length) const {
    return bytes != nullptr && offset + length <= size;
  }
};

Area AreaOf(DitMapping& mapping, int index, int area) {
  Area result;
  result.bytes = mapping.Image().Area(index, area, &result.size);
  if (result.size == 0) result.bytes = nullptr;
  return result;
}

std::uint16_t LoadWord(const Area& area, std::size_t registerOffset) {
  std::uint16_t word;
  std::memcpy(&word, area.bytes + 2 * registerOffset, sizeof word);
  return word;
}
void StoreWord(const Area& area, std::size_t registerOffset, std::uint16_t word) {
  std::memcpy(area.bytes + 2 * registerOffset, &word, sizeof word);
}

// Clears the changed byte of exception entry `entry` when it is set; the
// number of changes collected (0 or 1). The caller holds the data lock.
int CollectChange(const Area& exceptions, unsigned entry) {
  if (!exceptions.Holds(4u * entry, sizeof(DitExceptionEntry))) return 0;
  std::uint8_t& changed = exceptions.bytes[4u * entry];
  if (changed == 0) return 0;
  changed = 0;
  return 1;
}

ConversionSettings SettingsFor(const NioBlock& block, const NioValueSpec& valueSpec, const DitPollRecord& record) {
  ConversionSettings settings;
  settings.code = block.address->signalConditioning;
  settings.dataType = record.dataType;
  settings.eguSpan = valueSpec.eguSpan;
  settings.eguLow = valueSpec.eguLow;
  settings.decimals = valueSpec.decimals;
  settings.optionHigh = block.deviceText->optionHigh;
  settings.optionLow = block.deviceText->optionLow;
  return settings;
}

// Re-arms the record's access countdown and takes back collected changes.
void Rearm(NioProcess& process, DitPollRuntime& runtime, const DitPollRecord& record, int collected,
           int writeCount) {
  LockByteGuard lock(runtime.entryLock, process.sleeper);
  SharedStore(runtime.accessCountdown, static_cast<std::int32_t>(record.accessTime));
  SharedStore(runtime.accessExpired, 0);
  if (collected > 0) {
    const int pending = SharedLoad(runtime.pendingExceptions);
    SharedStore(runtime.pendingExceptions, std::max(0, pending - collected));
  }
  if (writeCount > 0) {
    const int pending = SharedLoad(runtime.pendingWrites);
    SharedStore(runtime.pendingWrites, std::min(0xFFFF, pending + writeCount));
  }
}

// Resolves the point and maps its record; false (status 514) when it does
// not resolve.
bool MapPoint(NioProcess& process, NioBlock* block, int& index, DitPollRecord*& record, DitPollRuntime*& runtime) {
  index = ResolveAddress(process.mapping, block);
  if (index < 0) return false;
  record = process.mapping.nio_map_dit(index);
  runtime = record != nullptr ? process.mapping.Image().Runtime(index) : nullptr;
  return record != nullptr && runtime != nullptr;
}

}  // namespace

std::uint16_t NioQuality(std::uint16_t callStatus, std::uint16_t valueStatus, std::uint16_t callerQuality) {
  if (callStatus == 0 && valueStatus == 0) return kQualityGood;
  std::uint16_t added = 0;
  if (valueStatus == kValueCommFailure) added = kQualityCommFailure;
  if (valueStatus == kValueNotPolled) added = kQualityOutOfService;
  if (valueStatus == kValueOutOfRange) added = kQualityEguExceeded;
  return static_cast<std::uint16_t>((callerQuality & 0xFF03) + added);
}

NioVariantKind NioVariantKindOf(const NioValueSpec* valueSpec) {
  switch (valueSpec != nullptr ? valueSpec->valueKind : 0) {
    case kValueKindAnalog: return NioVariantKind::kFloat;
    case kValueKindDigital: return NioVariantKind::kBoolean;
    case kValueKindText: return NioVariantKind::kText;
    default: return NioVariantKind::kUnsupported;
  }
}

NioVariantRead NioReadForVariant(NioProcess& process, std::uint16_t* status, NioBlock* block,
                                 const NioValueSpec* valueSpec, std::uint64_t* timeStamp, std::uint16_t* quality) {
  alignas(8) std::uint8_t buffer[8] = {};
  NioValue read{0, sizeof buffer, 0, buffer};
  std::uint16_t callStatus = kNioOk;
  nio_read(process, &callStatus, block, valueSpec, &read);
  if (timeStamp != nullptr) *timeStamp = process.lastTimeStamp;
  SetStatus(status, callStatus);
  NioVariantRead result;
  if (quality == nullptr) return result;
  *quality = NioQuality(callStatus, read.valueStatus, *quality);
  result.kind = NioVariantKindOf(valueSpec);
  if (result.kind == NioVariantKind::kUnsupported) SetStatus(status, kNioUnsupportedKind);
  std::memcpy(&result.number, buffer, sizeof result.number);
  result.boolean = (buffer[0] & 1u) != 0;
  return result;
}

void NioSendNumber(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
                   float number) {
  NioValue value{kValueTagFloat, sizeof number, 0, &number};
  nio_send(process, status, block, valueSpec, &value);
}

void NioSendBoolean(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
                    bool boolean) {
  std::uint8_t bit = boolean ? 1 : 0;
  NioValue value{kValueTagBoolean, sizeof bit, 0, &bit};
  nio_send(process, status, block, valueSpec, &value);
}

// The checks nio_read and nio_send share: a point with its address, device
// text and value description, and a value to read into or send from.
static bool UsableArguments(std::uint16_t* status, const NioBlock* block, const NioValueSpec* valueSpec,
                     const NioValue* value) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr || valueSpec == nullptr) {
    SetStatus(status, kNioAddressError);
    return false;
  }
  if (value == nullptr || value->value == nullptr) {
    SetStatus(status, kNioKindMismatch);
    return false;
  }
  return true;
}

void nio_read(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
              NioValue* value) {
  if (!UsableArguments(status, block, valueSpec, value)) return;
  const bool registered = block->deviceText->notificationFlag != 0;
  int index = -1;
  DitPollRecord* record = nullptr;
  DitPollRuntime* runtime = nullptr;
  if (!MapPoint(process, block, index, record, runtime)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  DitMapping& mapping = process.mapping;
  const Area exceptions = AreaOf(mapping, index, kExceptionArea);
  int collected = 0;
  value->valueStatus = kValueGood;

  const std::uint16_t recordStatus = SharedLoad(record->status);
  if (recordStatus == kStatusCommFailure || recordStatus == kStatusStopped) {
    value->valueStatus = recordStatus;
    value->length = 0;
    if (exceptions.bytes != nullptr) {
      // The change that reported this status is collected with it, whoever
      // registered the point.
      Position plain;
      plain.registerOffset =
          static_cast<std::uint16_t>(RegisterOf(*block->address) - StartAddressOf(record->addressWord));
      plain.bit = static_cast<unsigned>(BitOf(*block->address));
      LockByteGuard lock(record->dataLock, process.sleeper);
      collected = CollectChange(exceptions, ExceptionIndex(*record, plain));
    }
    Rearm(process, *runtime, *record, collected, 0);
    return;
  }

  Position position;
  if (!EffectivePosition(*block->address, *record, valueSpec->valueKind, position)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  const Area values = AreaOf(mapping, index, kValueArea);
  const std::uint16_t dataType = record->dataType;
  const unsigned capacity = value->length;
  const unsigned offset = position.registerOffset;
  const std::uint8_t kind = valueSpec->valueKind;
  {
    if (kind == kValueKindAnalog && (IsRegisterType(dataType) || IsPairType(dataType))) {
      if (capacity < 4) {
        SetStatus(status, kNioKindMismatch);
        return;
      }
      ConvertedValue converted;
      if (IsRegisterType(dataType)) {
        const ConversionSettings settings = SettingsFor(*block, *valueSpec, *record);
        const unsigned registers = UsesTwoRegisters(settings.code) ? 2 : 1;
        if (offset + registers > record->length || !values.Holds(2u * offset, 2u * registers)) {
          SetStatus(status, kNioAddressError);
          return;
        }
        std::uint16_t raw = 0;
        std::uint16_t next = 0;
        {
          LockByteGuard lock(record->dataLock, process.sleeper);
          raw = LoadWord(values, offset);
          if (registers == 2) next = LoadWord(values, offset + 1);
        }
        converted = ConvertRegisterToValue(raw, next, settings);
      } else {
        const unsigned entry = offset / 2;
        if (!values.Holds(4u * entry, 4)) {
          SetStatus(status, kNioAddressError);
          return;
        }
        std::uint32_t bits = 0;
        {
          LockByteGuard lock(record->dataLock, process.sleeper);
          std::memcpy(&bits, values.bytes + 4u * entry, sizeof bits);
        }
        if (dataType == kDataFloat) {
          if (IsInvalidFloatBits(bits)) {
            converted.valueStatus = kValueInvalidFloat;
          } else {
            std::memcpy(&converted.value, &bits, sizeof bits);
          }
        } else if (dataType == kDataUnsigned32) {
          converted.value = static_cast<float>(bits);
        } else {
          converted.value = static_cast<float>(static_cast<std::int32_t>(bits));
        }
      }
      std::memcpy(value->value, &converted.value, sizeof converted.value);
      value->tag = kValueTagFloat;
      value->length = 4;
      value->valueStatus = converted.valueStatus;
    } else if (kind == kValueKindDigital && IsRegisterType(dataType)) {
      if (capacity < 1) {
        SetStatus(status, kNioKindMismatch);
        return;
      }
      if (!values.Holds(2u * offset, 2)) {
        SetStatus(status, kNioAddressError);
        return;
      }
      const Area stamps = AreaOf(mapping, index, kTimeStampArea);
      const std::size_t stampAt = 8u * (16u * offset + position.bit);
      std::uint8_t bitValue = 0;
      {
        LockByteGuard lock(record->dataLock, process.sleeper);
        bitValue = static_cast<std::uint8_t>((LoadWord(values, offset) >> position.bit) & 1u);
        if ((dataType == kDataSigned || dataType == kDataUnsigned) && stamps.Holds(stampAt, 8)) {
          std::memcpy(&process.lastTimeStamp, stamps.bytes + stampAt, sizeof process.lastTimeStamp);
        }
      }
      *static_cast<std::uint8_t*>(value->value) = bitValue;
      value->tag = kValueTagBoolean;
      value->length = 1;
    } else if (kind == kValueKindText && IsTextType(dataType)) {
      const std::size_t from = 2u * offset;
      const std::size_t available = values.Holds(from, 0) ? values.size - from : 0;
      const std::size_t delivered = std::min<std::size_t>(capacity, available);
      if (delivered > 0) {
        LockByteGuard lock(record->dataLock, process.sleeper);
        std::memcpy(value->value, values.bytes + from, delivered);
      }
      value->tag = kValueTagText;
      value->length = static_cast<std::uint8_t>(delivered);
    } else {
      SetStatus(status, kNioKindMismatch);
      return;
    }
  }

  if (registered && exceptions.bytes != nullptr) {
    LockByteGuard lock(record->dataLock, process.sleeper);
    collected = CollectChange(exceptions, ExceptionIndex(*record, position));
  }
  Rearm(process, *runtime, *record, collected, 0);
}

void nio_send(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
              NioValue* value) {
  if (!UsableArguments(status, block, valueSpec, value)) return;
  value->valueStatus = kValueGood;
  int index = -1;
  DitPollRecord* record = nullptr;
  DitPollRuntime* runtime = nullptr;
  if (!MapPoint(process, block, index, record, runtime)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  Position position;
  if (!EffectivePosition(*block->address, *record, valueSpec->valueKind, position)) {
    SetStatus(status, kNioAddressError);
    return;
  }
  DitMapping& mapping = process.mapping;
  const Area values = AreaOf(mapping, index, kWriteValueArea);
  const Area flags = AreaOf(mapping, index, kWriteFlagArea);
  const std::uint16_t dataType = record->dataType;
  const unsigned offset = position.registerOffset;
  const std::uint8_t kind = valueSpec->valueKind;
  int count = 0;

  // Raises a whole register's (or value's) flag word; 16 when it was clear.
  auto flagWhole = [&](unsigned word) {
    const int added = LoadWord(flags, word) == 0 ? 16 : 0;
    StoreWord(flags, word, 0xFFFF);
    return added;
  };

  if (kind == kValueKindAnalog && (IsRegisterType(dataType) || IsPairType(dataType))) {
    float number = 0.0f;
    if (value->length < sizeof number) {
      SetStatus(status, kNioKindMismatch);
      return;
    }
    std::memcpy(&number, value->value, sizeof number);
    if (IsRegisterType(dataType)) {
      const ConversionSettings settings = SettingsFor(*block, *valueSpec, *record);
      const unsigned registers = UsesTwoRegisters(settings.code) ? 2 : 1;
      if (offset + registers > record->length || !values.Holds(2u * offset, 2u * registers) ||
          !flags.Holds(2u * offset, 2u * registers)) {
        SetStatus(status, kNioAddressError);
        return;
      }
      const ConvertedRegister converted = ConvertValueToRegister(number, settings);
      if (converted.status != 0) {
        SetStatus(status, converted.status);
        return;
      }
      LockByteGuard lock(record->dataLock, process.sleeper);
      StoreWord(values, offset, converted.raw);
      count += flagWhole(offset);
      if (registers == 2) {
        StoreWord(values, offset + 1, converted.next);
        count += flagWhole(offset + 1);
      }
    } else {
      const unsigned entry = offset / 2;
      if (!values.Holds(4u * entry, 4) || !flags.Holds(2u * entry, 2)) {
        SetStatus(status, kNioAddressError);
        return;
      }
      std::uint32_t bits = 0;
      const bool usable = dataType == kDataFloat ? std::isfinite(number)
                                                 : FloatToInteger32(number, dataType == kDataSigned32, bits);
      if (!usable) {
        SetStatus(status, kNioKindMismatch);
        return;
      }
      if (dataType == kDataFloat) std::memcpy(&bits, &number, sizeof bits);
      LockByteGuard lock(record->dataLock, process.sleeper);
      std::memcpy(values.bytes + 4u * entry, &bits, sizeof bits);
      count += flagWhole(entry);
    }
  } else if (kind == kValueKindDigital && IsRegisterType(dataType)) {
    std::uint16_t given = 0;
    if (value->length == 1) {
      given = *static_cast<const std::uint8_t*>(value->value);
    } else if (value->length == 2) {
      std::memcpy(&given, value->value, sizeof given);
    } else {
      SetStatus(status, kNioKindMismatch);
      return;
    }
    if (!values.Holds(2u * offset, 2) || !flags.Holds(2u * offset, 2)) {
      SetStatus(status, kNioAddressError);
      return;
    }
    const std::uint16_t mask = static_cast<std::uint16_t>(1u << position.bit);
    LockByteGuard lock(record->dataLock, process.sleeper);
    const std::uint16_t flagWord = LoadWord(flags, offset);
    if ((flagWord & mask) == 0) count = 1;
    StoreWord(flags, offset, static_cast<std::uint16_t>(flagWord | mask));
    const std::uint16_t current = LoadWord(values, offset);
    StoreWord(values, offset, static_cast<std::uint16_t>((current & ~mask) | (given != 0 ? mask : 0)));
  } else if (kind == kValueKindText && IsTextType(dataType)) {
    const std::size_t from = 2u * offset;
    if (!values.Holds(from, 0) || !flags.Holds(from, 0)) {
      SetStatus(status, kNioAddressError);
      return;
    }
    const std::size_t room = std::min<std::size_t>(values.size - from, flags.size - from);
    std::size_t characters = std::min<std::size_t>(value->length, room);
    LockByteGuard lock(record->dataLock, process.sleeper);
    std::memcpy(values.bytes + from, value->value, characters);
    if (characters % 2 != 0 && characters < room) {
      values.bytes[from + characters] = 0;
      ++characters;
    }
    for (std::size_t k = 0; k < characters / 2; ++k) count += flagWhole(offset + static_cast<unsigned>(k));
  } else {
    SetStatus(status, kNioKindMismatch);
    return;
  }
  Rearm(process, *runtime, *record, 0, count);
}

}  // namespace vrt
