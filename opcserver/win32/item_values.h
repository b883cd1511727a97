// The values, qualities, time stamps and errors of one callback to a
// client (OnDataChange, OnReadComplete), in the parallel arrays the
// callback takes; the VARIANTs are cleared when it goes. And the same four
// arrays as a read with a maximum age returns them to its caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <vector>

#include "group_cycle.h"
#include "item_sampling.h"
#include "opc_da.h"
#include "opc_item.h"
#include "vrtopc_module.h"

namespace vrt::opc {

static_assert(sizeof(HRESULT) == sizeof(std::int32_t));

struct ItemValues {
  explicit ItemValues(std::size_t count)
      : clientHandles(count, 0), values(count), qualities(count, 0), stamps(count), errors(count, S_OK) {
    for (VARIANT& value : values) VariantInit(&value);
  }
  ~ItemValues() {
    for (VARIANT& value : values) VariantClear(&value);
  }
  ItemValues(const ItemValues&) = delete;
  ItemValues& operator=(const ItemValues&) = delete;

  // Entry `index` read from `item`.
  void ReadInto(std::size_t index, OpcItem& item, DWORD source) {
    clientHandles[index] = item.ClientHandle();
    errors[index] = item.Read(source, &values[index], &qualities[index], &stamps[index]);
  }
  // Entry `index` read from `item` by a maximum age.
  void ReadInto(std::size_t index, OpcItem& item, DWORD maxAge, bool inRequestedType) {
    clientHandles[index] = item.ClientHandle();
    errors[index] = item.ReadMaxAge(maxAge, inRequestedType, &values[index], &qualities[index], &stamps[index]);
  }
  // Entry `index` a value the item sampled; the oldest kept after the
  // buffer dropped older ones says so in its error.
  void Place(std::size_t index, OPCHANDLE clientHandle, SampledValue&& sample, bool afterDrop) {
    clientHandles[index] = clientHandle;
    VariantClear(&values[index]);
    values[index] = sample.value;
    VariantInit(&sample.value);
    qualities[index] = sample.quality;
    stamps[index] = sample.stamp;
    errors[index] = afterDrop && SUCCEEDED(sample.error) ? static_cast<HRESULT>(kDataQueueOverflow) : sample.error;
  }
  // The master quality and error of the first `count` entries.
  MasterResults Master(std::size_t count) const {
    return MasterResultsOf(qualities.data(), reinterpret_cast<const std::int32_t*>(errors.data()), count);
  }

  std::vector<OPCHANDLE> clientHandles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
};

// The four arrays of IOPCSyncIO2::ReadMaxAge and IOPCItemIO::Read, from
// the task allocator: all four or none, freed unless handed over.
struct ReadResultArrays {
  ReadResultArrays() = default;
  ReadResultArrays(const ReadResultArrays&) = delete;
  ReadResultArrays& operator=(const ReadResultArrays&) = delete;
  ~ReadResultArrays() {
    if (values != nullptr) {
      for (DWORD k = 0; k < count; ++k) VariantClear(&values[k]);
    }
    TaskFree(values);
    TaskFree(qualities);
    TaskFree(stamps);
    TaskFree(errors);
  }
  bool Allocate(DWORD entries) {
    count = entries;
    values = Zeroed<VARIANT>();
    qualities = Zeroed<WORD>();
    stamps = Zeroed<FILETIME>();
    errors = Zeroed<HRESULT>();
    return values != nullptr && qualities != nullptr && stamps != nullptr && errors != nullptr;
  }
  void HandOver(VARIANT** ppvValues, WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
    *ppvValues = values;
    *ppwQualities = qualities;
    *ppftTimeStamps = stamps;
    *ppErrors = errors;
    values = nullptr;
    qualities = nullptr;
    stamps = nullptr;
    errors = nullptr;
  }

  DWORD count = 0;
  VARIANT* values = nullptr;  // VT_EMPTY where nothing was read
  WORD* qualities = nullptr;
  FILETIME* stamps = nullptr;
  HRESULT* errors = nullptr;

 private:
  template <typename T>
  T* Zeroed() {
    auto* block = static_cast<T*>(TaskAlloc(sizeof(T) * count));
    if (block != nullptr) std::memset(static_cast<void*>(block), 0, sizeof(T) * count);
    return block;
  }
};

// A synchronous read by maximum age (IOPCSyncIO2, IOPCItemIO): the four
// arrays, entry k filled by read(k, value, quality, stamp), which gives its
// error; S_FALSE when any entry failed.
template <typename ReadEntry>
HRESULT ReadEntries(DWORD count, bool argumentsGiven, VARIANT** ppvValues, WORD** ppwQualities,
                    FILETIME** ppftTimeStamps, HRESULT** ppErrors, ReadEntry read) {
  for (void** out : {reinterpret_cast<void**>(ppvValues), reinterpret_cast<void**>(ppwQualities),
                     reinterpret_cast<void**>(ppftTimeStamps), reinterpret_cast<void**>(ppErrors)}) {
    if (out != nullptr) *out = nullptr;
  }
  if (count == 0 || !argumentsGiven || ppvValues == nullptr || ppwQualities == nullptr || ppftTimeStamps == nullptr ||
      ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  ReadResultArrays results;
  if (!results.Allocate(count)) return E_OUTOFMEMORY;
  bool anyFailed = false;
  for (DWORD k = 0; k < count; ++k) {
    results.errors[k] = read(k, &results.values[k], &results.qualities[k], &results.stamps[k]);
    if (FAILED(results.errors[k])) anyFailed = true;
  }
  results.HandOver(ppvValues, ppwQualities, ppftTimeStamps, ppErrors);
  return anyFailed ? S_FALSE : S_OK;
}

// A call that gives an error per entry and nothing else (the synchronous
// writes, the item settings): entry k done by write(k), which gives its
// error; S_FALSE when any entry failed.
template <typename WriteEntry>
HRESULT EntryErrors(DWORD count, bool argumentsGiven, HRESULT** ppErrors, WriteEntry write) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (count == 0 || !argumentsGiven || ppErrors == nullptr) return E_INVALIDARG;
  auto* errors = static_cast<HRESULT*>(TaskAlloc(sizeof(HRESULT) * count));
  if (errors == nullptr) return E_OUTOFMEMORY;
  bool anyFailed = false;
  for (DWORD k = 0; k < count; ++k) {
    errors[k] = write(k);
    if (FAILED(errors[k])) anyFailed = true;
  }
  *ppErrors = errors;
  return anyFailed ? S_FALSE : S_OK;
}

// A write of value, quality and time stamp: the driver writes values only,
// so an entry that asks for either of the others is refused whole.
inline bool WritesValueOnly(const OPCITEMVQT& entry) {
  return entry.bQualitySpecified == FALSE && entry.bTimeStampSpecified == FALSE;
}

}  // namespace vrt::opc
