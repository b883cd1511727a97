// One OPC item: the item ID the client gave, the NIO point it names, the
// value last read and the item's own lock around every NIO call.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "change_test.h"
#include "item_id.h"
#include "item_sampling.h"
#include "opc_da.h"

namespace vrt::opc {

// One value an item's sampling kept for the next update, as the client
// asked for it: converted to its requested type, with the error of that.
struct SampledValue {
  SampledValue() { VariantInit(&value); }
  SampledValue(SampledValue&& other) noexcept
      : value(other.value), quality(other.quality), stamp(other.stamp), error(other.error) {
    VariantInit(&other.value);
  }
  SampledValue& operator=(SampledValue&& other) noexcept {
    if (this != &other) {
      VariantClear(&value);
      value = other.value;
      VariantInit(&other.value);
      quality = other.quality;
      stamp = other.stamp;
      error = other.error;
    }
    return *this;
  }
  SampledValue(const SampledValue&) = delete;
  SampledValue& operator=(const SampledValue&) = delete;
  ~SampledValue() { VariantClear(&value); }

  VARIANT value;
  WORD quality = 0;
  FILETIME stamp{};
  HRESULT error = S_OK;
};

// Values sampled between two updates, at most this many per item: at the
// quickest rate the poll thread allows (100 ms) that is six seconds' worth.
inline constexpr std::size_t kSampleBufferCapacity = 64;

class OpcItem {
 public:
  OpcItem();
  ~OpcItem();
  OpcItem(const OpcItem&) = delete;
  OpcItem& operator=(const OpcItem&) = delete;

  // Parses `definition` into this item and fills `result`. Items of a group
  // send their refusals to the driver's messages; temporary ones do not.
  HRESULT Parse(const OPCITEMDEF& definition, bool inGroup, OPCHANDLE serverHandle, OPCITEMRESULT& result);
  // A copy for a cloned group, under its own server handle.
  void CopyFrom(OpcItem& source, OPCHANDLE serverHandle);

  void SetActive(bool active);
  bool Active();
  // The item read: from the driver for a device read or an active item.
  // A value that cannot be given in the requested type is the conversion's
  // error with BAD quality, never an empty value of good quality.
  HRESULT Read(DWORD source, VARIANT* value, WORD* quality, FILETIME* timeStamp);
  // A read with a maximum age in milliseconds: the value held while its last
  // good read is no older than that, else the driver's (0 always; 0xFFFFFFFF
  // is a cache read). In the requested type, or else the canonical one.
  HRESULT ReadMaxAge(DWORD maxAge, bool inRequestedType, VARIANT* value, WORD* quality, FILETIME* timeStamp);
  // The group tick's refresh of an active item: reads the driver and keeps
  // the value when the change test says it is news. True for a change. An
  // item with a sampling rate of its own is read by Sample instead: then
  // true when a sample since the last update changed.
  bool Refresh(float percentDeadband);

  // The item's own sampling rate (DA 3.0), already revised, and whether
  // the changes it samples between two updates are kept for the next one.
  void SetSamplingRate(std::uint32_t revisedMs);
  std::optional<std::uint32_t> SamplingRate();
  void ClearSamplingRate();
  void SetBufferEnable(bool enable);
  bool BufferEnabled();
  // The poll thread's sampling of an active item with a rate of its own:
  // `elapsed` off its countdown; when due, the driver read with the change
  // test, and a change kept in the buffer while buffering is on.
  void Sample(std::uint32_t elapsed, float percentDeadband);
  // The buffered values for an update, oldest first (none: the update
  // carries the held value).
  SampleBuffer<SampledValue>::Taken TakeSamples();
  // The image's index of the item's poll record, once the driver resolved
  // its address; -1 before.
  int PollRecordIndex();

  // The item's own percent deadband (DA 3.0), used instead of the group's
  // by Refresh; 0 or the refusal (not analog, not a percentage).
  HRESULT SetDeadband(float percent);
  std::optional<float> Deadband();
  void ClearDeadband();

  // Values not yet delivered (kPendingData, kPendingDataTime).
  std::uint32_t PendingBits();
  void MarkPending(std::uint32_t bits);
  void ClearPending();

  // What the properties of the item show.
  struct Description {
    std::uint8_t kind;
    VARTYPE canonicalType;
    VARTYPE requestedType;
    std::string units;
    std::string openLabel;
    std::string closeLabel;
    float eguLow;
    float eguSpan;
    std::uint16_t stringLength;
    std::string signalConditioning;  // as nio_dsig gives it
    std::string hardwareOptions;     // as nio_dopt gives it
  };
  Description Properties();
  HRESULT Write(const VARIANT& value);
  // Checks and stores a requested type; OPC_E_BADTYPE when no value converts to it.
  HRESULT SetRequestedType(VARTYPE type);

  // One OPCITEMATTRIBUTES record's worth of the item.
  struct Attributes {
    std::wstring accessPath;
    std::wstring itemId;
    BOOL active;
    OPCHANDLE clientHandle;
    OPCHANDLE serverHandle;
    VARTYPE requestedType;
    VARTYPE canonicalType;
  };
  Attributes Describe();

  OPCHANDLE ServerHandle() const { return serverHandle_; }
  OPCHANDLE ClientHandle();
  void SetClientHandle(OPCHANDLE handle);

 private:
  std::string TextOf(const VARIANT& value) const;
  // nio_readEx into `value` and `timeStamp`, the item's status and quality
  // updated in place; a text point's text read too. Under the item's lock.
  void ReadFromDriver(VARIANT* value, FILETIME* timeStamp);
  void ReadText(VARIANT* value);
  // The driver's value into the cache; a good one restarts its age.
  void ReadIntoCache();
  // The held value for a client, converted to `type` (VT_EMPTY: as held);
  // `current` false marks a cache read of an inactive item.
  HRESULT Present(bool current, VARTYPE type, VARIANT* value, WORD* quality, FILETIME* timeStamp);
  // Activation under the item's lock, already held.
  void ApplyActive(bool active);
  // The driver's value through the change test against what was last
  // reported, kept when it is news. Under the item's lock.
  bool TakeReading(float percentDeadband, bool* readingDiffers = nullptr);

  std::mutex lock_;
  OPCHANDLE serverHandle_ = 0;
  OPCHANDLE clientHandle_ = 0;
  std::wstring itemId_;
  std::optional<std::wstring> accessPath_;
  VARTYPE requestedType_ = VT_EMPTY;
  VARTYPE canonicalType_ = VT_R4;
  bool active_ = false;
  bool inGroup_ = false;
  VARIANT value_;
  WORD quality_ = 0;
  FILETIME timeStamp_{};
  std::uint16_t nioStatus_ = 0;
  std::uint32_t pendingChanges_ = 0;  // bit 0: DATA, bit 1: DATATIME not yet delivered
  bool hasValue_ = false;
  std::optional<std::uint64_t> lastGoodReadMs_;  // the tick count of the value's last good read
  std::optional<float> deadband_;                // the item's own, else the group's
  std::optional<std::uint32_t> samplingRate_;    // the item's own, else the group's update rate
  std::int64_t sampleCountdown_ = 0;
  bool sampledChange_ = false;  // a sample changed since the last update
  bool bufferEnabled_ = false;
  SampleBuffer<SampledValue> samples_{kSampleBufferCapacity};
  // What the group tick last reported as a change: the base of its change
  // test, which reads of the item (they refresh the cache) leave alone.
  struct Reported {
    bool valid = false;
    ComparableValue value;
    WORD quality = 0;
    std::uint16_t status = 0;
  };
  Reported reported_;
  ParsedItem parsed_;
};

}  // namespace vrt::opc
