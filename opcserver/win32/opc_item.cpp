// The item parse, the item read and the item write over VRTSTSR.
#include "opc_item.h"

#include "change_test.h"
#include "group_cycle.h"
#include "server_rules.h"

#include "vrtopc_module.h"
#include <cstring>

#include "nio_types.h"
#include "vrtstsr.h"

namespace vrt::opc {

namespace {

// The NIO library's parsers, one caller at a time across the process.
class LibraryParsers final : public ItemParseHost {
 public:
  std::uint16_t ParseAddress(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    std::uint16_t status = 0;
    nio_paddr(&status, block, valueSpec, text);
    return status;
  }
  std::uint16_t ParseSignalConditioning(NioBlock* block, NioValueSpec* valueSpec, const char* name) override {
    std::uint16_t status = 0;
    nio_psig(&status, block, valueSpec, name);
    return status;
  }
  std::uint16_t ParseHardwareOptions(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    std::uint16_t status = 0;
    nio_popt(&status, block, valueSpec, text);
    return status;
  }
  void SendMessage(int attribute, const std::string& text) override { SendDriverMessage(attribute, text); }
};

bool TypeAccepted(VARTYPE type) {
  VARIANT empty;
  VARIANT converted;
  VariantInit(&empty);
  VariantInit(&converted);
  const HRESULT result = VariantChangeType(&converted, &empty, 0, type);
  VariantClear(&converted);
  return SUCCEEDED(result);
}


// A VARIANT as the change test compares it.
ComparableValue Comparable(const VARIANT& value) {
  ComparableValue comparable;
  comparable.type = value.vt;
  if (value.vt == VT_BSTR) {
    if (value.bstrVal != nullptr) comparable.text.assign(value.bstrVal, SysStringLen(value.bstrVal));
  } else if (value.vt == VT_BOOL) {
    comparable.boolean = value.boolVal != VARIANT_FALSE;
  } else {
    VARIANT number;
    VariantInit(&number);
    if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R4))) comparable.number = number.fltVal;
  }
  return comparable;
}
// A NIO value carries at most 255 bytes.
constexpr std::size_t kLongestReadableText = 255;

}  // namespace

OpcItem::OpcItem() {
  VariantInit(&value_);
  GetSystemTimeAsFileTime(&timeStamp_);
}

OpcItem::~OpcItem() { VariantClear(&value_); }

HRESULT OpcItem::Parse(const OPCITEMDEF& definition, bool inGroup, OPCHANDLE serverHandle, OPCITEMRESULT& result) {
  std::lock_guard<std::mutex> guard(lock_);
  inGroup_ = inGroup;
  GetSystemTimeAsFileTime(&timeStamp_);
  itemId_.clear();
  accessPath_.reset();
  if (definition.szItemID == nullptr) {
    if (inGroup) SendDriverMessage(kMessageFailure, kNullItemIdMessage);
    return static_cast<HRESULT>(kInvalidItemId);
  }
  itemId_ = definition.szItemID;
  if (definition.szAccessPath != nullptr) accessPath_ = definition.szAccessPath;

  const std::string ansiId = Narrow(itemId_);
  if (ansiId.empty()) return static_cast<HRESULT>(kInvalidItemId);
  if (!TypeAccepted(definition.vtRequestedDataType)) {
    if (inGroup) SendDriverMessage(kMessageFailure, BadRequestedTypeMessage(definition.vtRequestedDataType));
    return static_cast<HRESULT>(kBadType);
  }
  requestedType_ = definition.vtRequestedDataType;

  parsed_ = ParsedItem();
  LibraryParsers parsers;
  std::uint32_t parse;
  {
    std::lock_guard<std::mutex> nio(NioParseLock());
    parse = ParseItemId(ansiId, Module().settings, parsers, inGroup, parsed_);
  }
  canonicalType_ = parsed_.canonicalType;
  if (parse != kOk) return static_cast<HRESULT>(parse);
  VariantClear(&value_);
  if (parsed_.point.valueSpec.valueKind == NIO_KIND_TEXT) {
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocString(L"");
  }

  serverHandle_ = serverHandle;
  clientHandle_ = definition.hClient;
  hasValue_ = false;
  if (inGroup) ApplyActive(definition.bActive != FALSE);
  result.hServer = serverHandle;
  result.vtCanonicalDataType = canonicalType_;
  result.wReserved = 0;
  result.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
  result.dwBlobSize = 0;
  result.pBlob = nullptr;
  return S_OK;
}

void OpcItem::CopyFrom(OpcItem& source, OPCHANDLE serverHandle) {
  std::scoped_lock guard(lock_, source.lock_);
  inGroup_ = true;
  serverHandle_ = serverHandle;
  clientHandle_ = source.clientHandle_;
  itemId_ = source.itemId_;
  accessPath_ = source.accessPath_;
  requestedType_ = source.requestedType_;
  canonicalType_ = source.canonicalType_;
  active_ = source.active_;
  pendingChanges_ = source.pendingChanges_;
  deadband_ = source.deadband_;
  samplingRate_ = source.samplingRate_;
  bufferEnabled_ = source.bufferEnabled_;
  quality_ = source.quality_;
  timeStamp_ = source.timeStamp_;
  parsed_ = source.parsed_;  // the point's copy points at its own records
  VariantClear(&value_);
  if (parsed_.point.valueSpec.valueKind == NIO_KIND_TEXT) {
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocString(L"");
  }
}

void OpcItem::SetActive(bool active) {
  std::lock_guard<std::mutex> guard(lock_);
  if (inGroup_) ApplyActive(active);
}

void OpcItem::ApplyActive(bool active) {
  active_ = active;
  if (active) {
    pendingChanges_ = kPendingAll;
    sampleCountdown_ = 0;
    if (Module().settings.autoStart == 1) quality_ &= kActivationQualityMask;
  } else {
    pendingChanges_ = 0;
    quality_ = OPC_QUALITY_OUT_OF_SERVICE;
  }
}

std::string OpcItem::TextOf(const VARIANT& value) const {
  VARIANT number;
  VariantInit(&number);
  double converted = 0.0;
  if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8))) converted = number.dblVal;
  if (parsed_.point.valueSpec.valueKind == NIO_KIND_DIGITAL) {
    return DigitalText(converted != 0.0, parsed_.openLabel, parsed_.closeLabel);
  }
  return AnalogText(converted, parsed_.point.valueSpec.decimals, parsed_.units);
}

void OpcItem::ReadFromDriver(VARIANT* value, FILETIME* timeStamp) {
  nio_readEx(&nioStatus_, &parsed_.point.block, &parsed_.point.valueSpec, timeStamp, &quality_, parsed_.stringLength,
             value);
  // The library stamps only values of records that carry time stamps; any
  // other value is stamped with the time it was read, never with 1601.
  if (timeStamp->dwLowDateTime == 0 && timeStamp->dwHighDateTime == 0) GetSystemTimeAsFileTime(timeStamp);
  if (parsed_.point.valueSpec.valueKind == NIO_KIND_TEXT && nioStatus_ == NIO_OK) ReadText(value);
}

// nio_readEx leaves the value of a text point as it is: its quality and
// time stamp are right, but the text must be read with nio_read, or a text
// item would read as an empty string of good quality.
void OpcItem::ReadText(VARIANT* value) {
  char text[kLongestReadableText + 1] = {};
  const std::size_t capacity = parsed_.stringLength < kLongestReadableText ? parsed_.stringLength : kLongestReadableText;
  NioValue read{NIO_TAG_TEXT, static_cast<std::uint8_t>(capacity), 0, text};
  std::uint16_t status = 0;
  nio_read(&status, &parsed_.point.block, &parsed_.point.valueSpec, &read);
  if (status != NIO_OK) {
    nioStatus_ = status;
    return;
  }
  const std::size_t length = strnlen(text, read.length < capacity ? read.length : capacity);
  VariantClear(value);
  value->vt = VT_BSTR;
  value->bstrVal = SysAllocString(Widen(std::string(text, length)).c_str());
}

HRESULT OpcItem::Read(DWORD source, VARIANT* value, WORD* quality, FILETIME* timeStamp) {
  std::lock_guard<std::mutex> guard(lock_);
  const bool fromDevice = source == OPC_DS_DEVICE;
  if (fromDevice || active_) ReadIntoCache();
  return Present(active_ || fromDevice, requestedType_, value, quality, timeStamp);
}

HRESULT OpcItem::ReadMaxAge(DWORD maxAge, bool inRequestedType, VARIANT* value, WORD* quality, FILETIME* timeStamp) {
  std::lock_guard<std::mutex> guard(lock_);
  const VARTYPE type = inRequestedType ? requestedType_ : static_cast<VARTYPE>(VT_EMPTY);
  switch (SourceForMaxAge(maxAge, lastGoodReadMs_, GetTickCount64())) {
    case MaxAgeSource::kCache:
      // An item outside any group keeps nothing between reads: its cache
      // is the driver's image.
      if (active_ || !inGroup_) ReadIntoCache();
      return Present(active_ || !inGroup_, type, value, quality, timeStamp);
    case MaxAgeSource::kHeldValue:
      return Present(true, type, value, quality, timeStamp);
    case MaxAgeSource::kDevice:
      break;
  }
  ReadIntoCache();
  return Present(true, type, value, quality, timeStamp);
}

void OpcItem::ReadIntoCache() {
  ReadFromDriver(&value_, &timeStamp_);
  if ((quality_ & OPC_QUALITY_MASK) != 0 && nioStatus_ == NIO_OK) {
    canonicalType_ = value_.vt;
    hasValue_ = true;
    lastGoodReadMs_ = GetTickCount64();
  }
}

HRESULT OpcItem::Present(bool current, VARTYPE type, VARIANT* value, WORD* quality, FILETIME* timeStamp) {
  HRESULT result = current ? S_OK : static_cast<HRESULT>(kInactiveCacheRead);
  WORD shownQuality = quality_;
  if (value != nullptr) {
    VariantInit(value);
    const std::uint8_t kind = parsed_.point.valueSpec.valueKind;
    HRESULT converted = S_OK;
    if (type == VT_EMPTY) {
      converted = VariantCopy(value, &value_);
    } else if (type == VT_BSTR && (kind == NIO_KIND_ANALOG || kind == NIO_KIND_DIGITAL)) {
      value->vt = VT_BSTR;
      value->bstrVal = SysAllocString(Widen(TextOf(value_)).c_str());
      if (value->bstrVal == nullptr) converted = E_OUTOFMEMORY;
    } else {
      converted = VariantChangeType(value, &value_, 0, type);
    }
    if (FAILED(converted)) {
      // The client gets no value, and is told why: the conversion's error,
      // BAD quality (the limit bits kept).
      VariantClear(value);
      VariantInit(value);
      result = converted;
      shownQuality = static_cast<WORD>(OPC_QUALITY_BAD | (quality_ & OPC_LIMIT_MASK));
    }
  }
  if (quality != nullptr) *quality = shownQuality;
  if (timeStamp != nullptr) *timeStamp = timeStamp_;
  return result;
}

bool OpcItem::Refresh(float percentDeadband) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!active_) return false;
  if (samplingRate_) {
    const bool changed = sampledChange_;
    sampledChange_ = false;
    return changed;
  }
  return TakeReading(percentDeadband);
}

bool OpcItem::TakeReading(float percentDeadband, bool* readingDiffers) {
  // Against what the subscription last reported, not against the cache: a
  // client's read of the item refreshes the cache, and the change it saw
  // there must still reach the subscribers.
  ChangeCheck check;
  check.hasValue = reported_.valid;
  check.pendingChanges = pendingChanges_ != 0;
  check.before = reported_.value;
  check.qualityBefore = reported_.quality;
  check.statusBefore = reported_.status;
  check.percentDeadband = deadband_.value_or(percentDeadband);
  check.eguSpan = parsed_.point.valueSpec.eguSpan;

  VARIANT fresh;
  VariantInit(&fresh);
  // A text point's read leaves what it cannot read as it was.
  if (parsed_.point.valueSpec.valueKind == NIO_KIND_TEXT) VariantCopy(&fresh, &value_);
  FILETIME stamp{};
  ReadFromDriver(&fresh, &stamp);
  check.after = Comparable(fresh);
  check.qualityAfter = quality_;
  check.statusAfter = nioStatus_;
  const bool changed = ItemChanged(check);
  if (readingDiffers != nullptr) {
    // The reading itself against the last reported one, a change still
    // waiting for the update aside.
    check.pendingChanges = false;
    *readingDiffers = ItemChanged(check);
  }
  if (changed) {
    timeStamp_ = stamp;
    VariantClear(&value_);
    if (FAILED(VariantCopy(&value_, &fresh))) {
      hasValue_ = false;
      quality_ = 0;
    } else {
      canonicalType_ = value_.vt;
      hasValue_ = (quality_ & OPC_QUALITY_MASK) != 0 && nioStatus_ == NIO_OK;
      if (hasValue_) lastGoodReadMs_ = GetTickCount64();
    }
    reported_ = {hasValue_, check.after, quality_, nioStatus_};
    pendingChanges_ = kPendingAll;
  }
  VariantClear(&fresh);
  return changed;
}

void OpcItem::SetSamplingRate(std::uint32_t revisedMs) {
  std::lock_guard<std::mutex> guard(lock_);
  samplingRate_ = revisedMs;
  sampleCountdown_ = 0;  // the first sample at the next tick
}

std::optional<std::uint32_t> OpcItem::SamplingRate() {
  std::lock_guard<std::mutex> guard(lock_);
  return samplingRate_;
}

void OpcItem::ClearSamplingRate() {
  std::lock_guard<std::mutex> guard(lock_);
  samplingRate_.reset();
  // A change sampled but not yet sent goes out with the next update, which
  // now reads the item itself and finds nothing new against it.
  if (sampledChange_) pendingChanges_ = kPendingAll;
}

void OpcItem::SetBufferEnable(bool enable) {
  std::lock_guard<std::mutex> guard(lock_);
  bufferEnabled_ = enable;
  if (!enable) samples_.Take();  // the held value still goes out with the next update
}

bool OpcItem::BufferEnabled() {
  std::lock_guard<std::mutex> guard(lock_);
  return bufferEnabled_;
}

void OpcItem::Sample(std::uint32_t elapsed, float percentDeadband) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!active_ || !samplingRate_ || !CountDown(sampleCountdown_, elapsed)) return;
  sampleCountdown_ = *samplingRate_;
  // While a change waits for the update every reading counts as changed;
  // the buffer takes only readings that differ from the one before.
  bool differs = false;
  if (!TakeReading(percentDeadband, &differs)) return;
  sampledChange_ = true;
  if (!bufferEnabled_ || !differs) return;
  SampledValue sample;
  sample.error = Present(true, requestedType_, &sample.value, &sample.quality, &sample.stamp);
  samples_.Add(std::move(sample));
}

SampleBuffer<SampledValue>::Taken OpcItem::TakeSamples() {
  std::lock_guard<std::mutex> guard(lock_);
  return samples_.Take();
}

int OpcItem::PollRecordIndex() {
  std::lock_guard<std::mutex> guard(lock_);
  const NioAddress* address = parsed_.point.block.address;
  if (address == nullptr || (address->resolution & vrt::kResolvedMark) == 0) return -1;
  return vrt::ResolvedIndexOf(*address);
}

HRESULT OpcItem::SetDeadband(float percent) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto refusal = static_cast<HRESULT>(
      ItemDeadbandRefusal(parsed_.point.valueSpec.valueKind == NIO_KIND_ANALOG, percent));
  if (refusal == S_OK) deadband_ = percent;
  return refusal;
}

std::optional<float> OpcItem::Deadband() {
  std::lock_guard<std::mutex> guard(lock_);
  return deadband_;
}

void OpcItem::ClearDeadband() {
  std::lock_guard<std::mutex> guard(lock_);
  deadband_.reset();
}

bool OpcItem::Active() {
  std::lock_guard<std::mutex> guard(lock_);
  return active_;
}

std::uint32_t OpcItem::PendingBits() {
  std::lock_guard<std::mutex> guard(lock_);
  return pendingChanges_;
}

void OpcItem::MarkPending(std::uint32_t bits) {
  std::lock_guard<std::mutex> guard(lock_);
  pendingChanges_ |= bits;
}

void OpcItem::ClearPending() {
  std::lock_guard<std::mutex> guard(lock_);
  pendingChanges_ = 0;
}

OpcItem::Description OpcItem::Properties() {
  std::lock_guard<std::mutex> guard(lock_);
  Description description{parsed_.point.valueSpec.valueKind,
                          canonicalType_,
                          requestedType_,
                          parsed_.units,
                          parsed_.openLabel,
                          parsed_.closeLabel,
                          parsed_.point.valueSpec.eguLow,
                          parsed_.point.valueSpec.eguSpan,
                          parsed_.stringLength,
                          {},
                          {}};
  // The library's texts are shorter than these buffers.
  char text[32] = {};
  std::uint16_t status = 0;
  nio_dsig(&status, &parsed_.point.block, &parsed_.point.valueSpec, text);
  description.signalConditioning = text;
  std::memset(text, 0, sizeof text);
  nio_dopt(&status, &parsed_.point.block, &parsed_.point.valueSpec, text);
  description.hardwareOptions = text;
  return description;
}

HRESULT OpcItem::Write(const VARIANT& value) {
  if (value.vt == VT_EMPTY) return static_cast<HRESULT>(kBadType);
  std::lock_guard<std::mutex> guard(lock_);
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantCopy(&copy, const_cast<VARIANT*>(&value)))) return E_FAIL;
  std::uint16_t status = 0;
  nio_sendEx(&status, &parsed_.point.block, &parsed_.point.valueSpec, quality_, parsed_.stringLength, &copy);
  VariantClear(&copy);
  return status == NIO_OK ? S_OK : E_FAIL;
}

HRESULT OpcItem::SetRequestedType(VARTYPE type) {
  if (!TypeAccepted(type)) {
    SendDriverMessage(kMessageFailure, BadRequestedTypeMessage(type));
    return static_cast<HRESULT>(kBadType);
  }
  std::lock_guard<std::mutex> guard(lock_);
  requestedType_ = type;
  return S_OK;
}

OpcItem::Attributes OpcItem::Describe() {
  std::lock_guard<std::mutex> guard(lock_);
  return {accessPath_.value_or(L""), itemId_,       active_ ? TRUE : FALSE, clientHandle_,
          serverHandle_,             requestedType_, canonicalType_};
}

OPCHANDLE OpcItem::ClientHandle() {
  std::lock_guard<std::mutex> guard(lock_);
  return clientHandle_;
}

void OpcItem::SetClientHandle(OPCHANDLE handle) {
  std::lock_guard<std::mutex> guard(lock_);
  clientHandle_ = handle;
}

}  // namespace vrt::opc
