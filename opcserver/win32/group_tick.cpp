// The group's tick on the poll thread: the countdown, the item scan with
// its change test, the change buffer flushed through OnDataChange, the
// DA 1.0 subscription streams and the queued IOPCAsyncIO requests. Client
// sinks are called with the group's lock let go, so that a client may call
// the server back, or let go of it, from inside a callback.
#include <windows.h>

#include <cstring>

#include "da1_stream.h"
#include "group_cycle.h"
#include "item_values.h"
#include "opc_group.h"
#include "opc_server.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

// The stream builder's layout is the OPC structures' own, and a value is
// this build's VARIANT: 16 bytes in a 32-bit process, 24 in a 64-bit one.
static_assert(sizeof(OPCGROUPHEADER) == kGroupHeaderSize);
static_assert(sizeof(OPCITEMHEADER1) == kItemHeaderWithTimeSize);
static_assert(sizeof(OPCITEMHEADER2) == kItemHeaderSize);
static_assert(sizeof(OPCGROUPHEADERWRITE) == kWriteGroupHeaderSize);
static_assert(sizeof(OPCITEMHEADERWRITE) == kWriteItemHeaderSize);
#ifdef _WIN64
static_assert(sizeof(VARIANT) == 24);
#else
static_assert(sizeof(VARIANT) == 16);
#endif

// An exception thrown by a client's sink is the client's; the tick goes on.
template <typename Call>
void CallSink(Call call) {
  try {
    call();
  } catch (...) {
  }
}

StreamItem StreamItemOf(OPCHANDLE clientHandle, const VARIANT& value, WORD quality, const FILETIME& stamp) {
  StreamItem item;
  item.clientHandle = clientHandle;
  item.quality = quality;
  item.timeStamp = (std::uint64_t{stamp.dwHighDateTime} << 32) | stamp.dwLowDateTime;
  item.variant.resize(sizeof(VARIANT));
  std::memcpy(item.variant.data(), &value, sizeof(VARIANT));
  if (value.vt == VT_BSTR) {
    item.hasText = true;
    if (value.bstrVal != nullptr) {
      item.text.assign(reinterpret_cast<const char16_t*>(value.bstrVal), SysStringLen(value.bstrVal));
    }
  }
  return item;
}

// Hands a stream to an IAdviseSink as a block of global memory, freed
// once the sink returns (the medium stays the server's).
void SendToAdviseSink(IAdviseSink* sink, CLIPFORMAT format, const std::vector<std::uint8_t>& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, bytes.size());
  if (block == nullptr) return;
  std::memcpy(reinterpret_cast<void*>(block), bytes.data(), bytes.size());
  FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  medium.pUnkForRelease = nullptr;
  CallSink([&] { sink->OnDataChange(&formatEtc, &medium); });
  GlobalFree(block);
}

}  // namespace

// The group as the tick's rules see it, for one cycle: the items of the
// moment the scan starts, the group's lock held in `held` (let go of only
// around the client's callbacks).
class OpcGroup::CycleHost final : public GroupCycleHost {
 public:
  CycleHost(OpcGroup& group, std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink)
      : group_(group), held_(held), sink_(sink), items_(group.ItemSnapshot()), deadband_(group.percentDeadband_) {}

  std::size_t ItemCount() override { return items_.size(); }
  std::uint32_t ItemServerHandle(std::size_t index) override { return items_[index]->ServerHandle(); }
  bool ItemActive(std::size_t index) override { return items_[index]->Active(); }
  bool RefreshItem(std::size_t index) override { return items_[index]->Refresh(deadband_); }
  std::uint32_t ItemPending(std::size_t index) override { return items_[index]->PendingBits(); }
  void MarkItemPending(std::size_t index, std::uint32_t bits) override { items_[index]->MarkPending(bits); }
  std::uint32_t AdviseFlags(StreamFormat format) override {
    return format == StreamFormat::kData ? group_.dataAdvf_ : format == StreamFormat::kDataTime ? group_.dataTimeAdvf_ : 0;
  }
  void ClearPrimeFirst() override {
    group_.dataAdvf_ &= ~kAdvisePrimeFirst;
    group_.dataTimeAdvf_ &= ~kAdvisePrimeFirst;
  }
  bool StreamSinkHeld(StreamFormat format) override {
    return group_.adviseSinks_[static_cast<int>(format)].PollSink() != nullptr;
  }
  void SendSubscriptionStream(StreamFormat format, const std::vector<std::size_t>& indices) override {
    std::vector<std::shared_ptr<OpcItem>> items;
    items.reserve(indices.size());
    for (std::size_t index : indices) items.push_back(items_[index]);
    group_.SendStream(held_, format, items, 0, kSourceDevice);
  }
  void SendDataChange(const std::vector<std::uint32_t>& serverHandles) override {
    group_.SendDataChange(held_, sink_, serverHandles);
  }

 private:
  OpcGroup& group_;
  std::unique_lock<std::recursive_mutex>& held_;
  IOPCDataCallback* sink_;
  std::vector<std::shared_ptr<OpcItem>> items_;
  float deadband_;
};

void OpcGroup::Tick(std::uint32_t elapsed) {
  // Sinks advised or unadvised since the last cycle, first, so that a new
  // subscriber gets its first values in this very cycle. No lock is held:
  // taking a sink over may unmarshal it, letting one go releases it.
  dataCallback_.Slot().TakeOver();
  if (dataObjectCreated_) {
    for (auto& slot : adviseSinks_) slot.TakeOver();
  }
  IOPCDataCallback* sink = dataCallback_.Slot().PollSink();
  std::unique_lock<std::recursive_mutex> held(lock_);
  bool updateSent = false;
  const bool servicesItems = ServicesItems(active_ != FALSE, deleted_, sink != nullptr, dataObjectCreated_);
  // Items with sampling rates of their own are read on their own countdowns,
  // every tick, before the group's update that may carry what they found.
  if (servicesItems && itemsSampled_) SampleItems(elapsed);
  if (CountDown(countdown_, elapsed)) {
    if (servicesItems) {
      CycleHost host(*this, held, sink);
      updateSent = ServiceGroup(host, sink != nullptr);
      server_->CountServicedCycle();
    }
    countdown_ = updateRate_;
  }
  const bool subscribed = active_ != FALSE && !deleted_ && sink != nullptr;
  if (KeepAliveDue(keepAlive_, keepAliveQuiet_, elapsed, subscribed, updateSent)) SendKeepAlive(held, sink);
  server_->CountTick();
  if (dataObjectCreated_) CompleteQueuedRequests(held);
}

void OpcGroup::SampleItems(std::uint32_t elapsed) {
  for (auto& [handle, item] : items_) item->Sample(elapsed, percentDeadband_);
}

// An item that buffered what it sampled since the last update sends all of
// it, oldest first, each value an entry of its own under the item's client
// handle; any other item sends the value it holds.
void OpcGroup::SendDataChange(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink,
                               const std::vector<std::uint32_t>& serverHandles) {
  struct Changed {
    std::shared_ptr<OpcItem> item;
    SampleBuffer<SampledValue>::Taken buffered;
  };
  std::vector<Changed> changed;
  std::size_t entries = 0;
  for (OPCHANDLE handle : serverHandles) {
    auto item = FindItem(handle);
    if (item == nullptr) continue;  // removed since it changed
    changed.push_back({item, item->TakeSamples()});
    entries += changed.back().buffered.samples.empty() ? 1 : changed.back().buffered.samples.size();
  }
  ItemValues delivered(entries);
  std::size_t count = 0;
  for (Changed& entry : changed) {
    if (entry.buffered.samples.empty()) {
      delivered.ReadInto(count++, *entry.item, OPC_DS_CACHE);
    } else {
      for (std::size_t k = 0; k < entry.buffered.samples.size(); ++k) {
        const bool dropped = k == 0 && entry.buffered.overflowed;
        delivered.Place(count++, entry.item->ClientHandle(), std::move(entry.buffered.samples[k]), dropped);
      }
    }
    entry.item->ClearPending();
  }
  if (count > 0) {
    const OPCHANDLE group = clientHandle_;
    const MasterResults master = delivered.Master(count);
    held.unlock();
    CallSink([&] {
      sink->OnDataChange(0, group, master.quality, master.error, static_cast<DWORD>(count),
                         delivered.clientHandles.data(), delivered.values.data(), delivered.qualities.data(),
                         delivered.stamps.data(), delivered.errors.data());
    });
    held.lock();
  }
}

// An OnDataChange of no items, transaction 0. The arrays are empty but
// given: a proxy refuses a null one.
void OpcGroup::SendKeepAlive(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink) {
  const OPCHANDLE group = clientHandle_;
  OPCHANDLE handle = 0;
  VARIANT value;
  VariantInit(&value);
  WORD quality = 0;
  FILETIME stamp{};
  HRESULT error = S_OK;
  held.unlock();
  CallSink([&] { sink->OnDataChange(0, group, S_OK, S_OK, 0, &handle, &value, &quality, &stamp, &error); });
  held.lock();
}

void OpcGroup::SendStream(std::unique_lock<std::recursive_mutex>& held, StreamFormat format,
                          const std::vector<std::shared_ptr<OpcItem>>& items, DWORD transactionId, DWORD source) {
  IAdviseSink* sink = adviseSinks_[static_cast<int>(format)].PollSink();
  if (sink == nullptr || items.empty()) return;
  std::vector<StreamItem> streamItems;
  streamItems.reserve(items.size());
  // Subscription updates (transaction 0) come from active groups only.
  const bool groupActive = transactionId == 0 || active_ != FALSE;
  for (const std::shared_ptr<OpcItem>& item : items) {
    VARIANT value;
    WORD quality = 0;
    FILETIME stamp{};
    item->Read(source, &value, &quality, &stamp);
    item->ClearPending();
    quality = QueuedReadQuality(quality, groupActive, source);
    streamItems.push_back(StreamItemOf(item->ClientHandle(), value, quality, stamp));
    VariantClear(&value);
  }
  const std::vector<std::uint8_t> bytes = BuildDataStream({clientHandle_, transactionId}, streamItems,
                                                          format == StreamFormat::kDataTime, sizeof(VARIANT));
  server_->TouchLastUpdate();
  const CLIPFORMAT clipFormat = formats_[static_cast<int>(format)];
  held.unlock();
  SendToAdviseSink(sink, clipFormat, bytes);
  held.lock();
}

void OpcGroup::CompleteQueuedRequests(std::unique_lock<std::recursive_mutex>& held) {
  const bool dataSinks = adviseSinks_[kFormatData].PollSink() != nullptr ||
                         adviseSinks_[kFormatDataTime].PollSink() != nullptr;
  while (dataSinks && !readRequests_.empty()) {
    std::unique_ptr<QueuedRequest> request = std::move(readRequests_.front());
    readRequests_.pop_front();
    std::vector<std::shared_ptr<OpcItem>> items;
    for (OPCHANDLE handle : request->handles) {
      if (auto item = FindItem(handle)) items.push_back(item);  // removed items are left out
    }
    for (StreamFormat format : kQueuedReadStreamOrder) {
      SendStream(held, format, items, request->transactionId, request->source);
    }
  }
  IAdviseSink* writeSink = adviseSinks_[kFormatWriteComplete].PollSink();
  while (writeSink != nullptr && !writeRequests_.empty()) {
    std::unique_ptr<QueuedRequest> request = std::move(writeRequests_.front());
    writeRequests_.pop_front();
    // Each item's own result: a write the driver refused is reported so.
    std::vector<WriteResult> results;
    for (std::size_t k = 0; k < request->handles.size(); ++k) {
      auto item = FindItem(request->handles[k]);
      if (item == nullptr) {
        results.push_back({0, static_cast<std::uint32_t>(kInvalidHandle)});
        continue;
      }
      results.push_back({item->ClientHandle(), static_cast<std::uint32_t>(item->Write(request->values[k]))});
    }
    const std::vector<std::uint8_t> bytes = BuildWriteCompleteStream({clientHandle_, request->transactionId}, results);
    server_->TouchLastUpdate();
    const CLIPFORMAT clipFormat = formats_[kFormatWriteComplete];
    held.unlock();
    SendToAdviseSink(writeSink, clipFormat, bytes);
    held.lock();
  }
}

}  // namespace vrt::opc
