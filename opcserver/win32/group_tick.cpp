// The group's tick on the poll thread: the countdown, the item scan with
// its change test, the change buffer flushed through OnDataChange, the
// DA 1.0 subscription streams and the queued IOPCAsyncIO requests. Client
// sinks are called with the group's lock let go, so that a client may call
// the server back, or let go of it, from inside a callback.
#include <windows.h>

#include <cstring>

#include "da1_stream.h"
#include "opc_group.h"
#include "opc_server.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

constexpr std::size_t kChangeBufferSize = 32;

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
constexpr WORD kGoodQuality = 0xC0;
constexpr WORD kLimitBits = 0x03;

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

void OpcGroup::Tick(std::uint32_t elapsed) {
  // Sinks advised or unadvised since the last cycle, first, so that a new
  // subscriber gets its first values in this very cycle.
  dataCallback_.Slot().TakeOver();
  if (dataObjectCreated_) {
    for (auto& slot : adviseSinks_) slot.TakeOver();
  }
  IOPCDataCallback* sink = dataCallback_.Slot().PollSink();
  std::unique_lock<std::recursive_mutex> held(lock_);
  countdown_ -= elapsed;
  if (countdown_ <= 0) {
    if (active_ && !deleted_ && (sink != nullptr || dataObjectCreated_)) {
      ScanItems(held, sink);
      SendSubscriptionStreams(held);
      server_->CountServicedCycle();
      if (!changed_.empty()) {
        if (sink != nullptr) {
          SendDataChange(held, sink);
        } else {
          changed_.clear();
        }
      }
    }
    countdown_ = updateRate_;
  }
  server_->CountTick();
  if (dataObjectCreated_) CompleteQueuedRequests(held);
}

void OpcGroup::ScanItems(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink) {
  const float deadband = percentDeadband_;
  const bool primeData = (dataAdvf_ & ADVF_PRIMEFIRST) != 0;
  const bool primeDataTime = (dataTimeAdvf_ & ADVF_PRIMEFIRST) != 0;
  // A snapshot: the lock is let go while the buffer is flushed, and the
  // client may remove items meanwhile.
  for (const std::shared_ptr<OpcItem>& item : ItemSnapshot()) {
    if (item->Refresh(deadband)) {
      changed_.push_back(item->ServerHandle());
      if (changed_.size() >= kChangeBufferSize) {
        if (sink != nullptr) {
          SendDataChange(held, sink);
        } else {
          changed_.clear();
        }
      }
    }
    if (primeData) item->MarkPending(OpcItem::kPendingData);
    if (primeDataTime) item->MarkPending(OpcItem::kPendingDataTime);
  }
  // A primed connection gets every active item once.
  dataAdvf_ &= ~static_cast<DWORD>(ADVF_PRIMEFIRST);
  dataTimeAdvf_ &= ~static_cast<DWORD>(ADVF_PRIMEFIRST);
}

void OpcGroup::SendDataChange(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink) {
  const std::size_t count = changed_.size();
  std::vector<OPCHANDLE> clientHandles;
  std::vector<VARIANT> values(count);
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  HRESULT masterQuality = S_OK;
  HRESULT masterError = S_OK;
  for (OPCHANDLE handle : changed_) {
    auto item = FindItem(handle);
    if (item == nullptr) continue;  // removed since it changed
    const std::size_t k = clientHandles.size();
    WORD quality = 0;
    FILETIME stamp{};
    const HRESULT error = item->Read(OPC_DS_CACHE, &values[k], &quality, &stamp);
    item->ClearPending();
    clientHandles.push_back(item->ClientHandle());
    qualities.push_back(quality);
    stamps.push_back(stamp);
    errors.push_back(error);
    if ((quality & kGoodQuality) != kGoodQuality) masterQuality = S_FALSE;
    if (error != S_OK) masterError = S_FALSE;
  }
  changed_.clear();
  const DWORD delivered = static_cast<DWORD>(clientHandles.size());
  if (delivered > 0) {
    const OPCHANDLE group = clientHandle_;
    held.unlock();
    CallSink([&] {
      sink->OnDataChange(0, group, masterQuality, masterError, delivered, clientHandles.data(), values.data(),
                         qualities.data(), stamps.data(), errors.data());
    });
    held.lock();
  }
  for (VARIANT& value : values) VariantClear(&value);
}

void OpcGroup::SendStream(std::unique_lock<std::recursive_mutex>& held, int format,
                          const std::vector<std::shared_ptr<OpcItem>>& items, DWORD transactionId, DWORD source) {
  IAdviseSink* sink = adviseSinks_[format].PollSink();
  if (sink == nullptr || items.empty()) return;
  std::vector<StreamItem> streamItems;
  streamItems.reserve(items.size());
  const bool inactiveCacheRead = transactionId != 0 && source != OPC_DS_DEVICE && !active_;
  for (const std::shared_ptr<OpcItem>& item : items) {
    VARIANT value;
    WORD quality = 0;
    FILETIME stamp{};
    item->Read(source, &value, &quality, &stamp);
    item->ClearPending();
    // A queued read from the cache of an inactive group: out of service.
    if (inactiveCacheRead) quality = static_cast<WORD>(0x1C | (quality & kLimitBits));
    streamItems.push_back(StreamItemOf(item->ClientHandle(), value, quality, stamp));
    VariantClear(&value);
  }
  const std::vector<std::uint8_t> bytes =
      BuildDataStream({clientHandle_, transactionId}, streamItems, format == kFormatDataTime, sizeof(VARIANT));
  server_->TouchLastUpdate();
  const CLIPFORMAT clipFormat = formats_[format];
  held.unlock();
  SendToAdviseSink(sink, clipFormat, bytes);
  held.lock();
}

void OpcGroup::SendSubscriptionStreams(std::unique_lock<std::recursive_mutex>& held) {
  // DATATIME first: an item sent there is no longer pending for DATA, so a
  // client with both gets each change once.
  for (int format : {kFormatDataTime, kFormatData}) {
    if (adviseSinks_[format].PollSink() == nullptr) continue;
    const std::uint32_t bit = format == kFormatDataTime ? OpcItem::kPendingDataTime : OpcItem::kPendingData;
    std::vector<std::shared_ptr<OpcItem>> pending;
    for (const std::shared_ptr<OpcItem>& item : ItemSnapshot()) {
      if (item->Active() && item->Pending(bit)) pending.push_back(item);
    }
    SendStream(held, format, pending, 0, OPC_DS_DEVICE);
  }
}

void OpcGroup::CompleteQueuedRequests(std::unique_lock<std::recursive_mutex>& held) {
  const bool dataSinks =
      adviseSinks_[kFormatData].PollSink() != nullptr || adviseSinks_[kFormatDataTime].PollSink() != nullptr;
  while (dataSinks && !readRequests_.empty()) {
    std::unique_ptr<QueuedRequest> request = std::move(readRequests_.front());
    readRequests_.pop_front();
    std::vector<std::shared_ptr<OpcItem>> items;
    for (OPCHANDLE handle : request->handles) {
      if (auto item = FindItem(handle)) items.push_back(item);  // removed items are left out
    }
    SendStream(held, kFormatData, items, request->transactionId, request->source);
    SendStream(held, kFormatDataTime, items, request->transactionId, request->source);
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
