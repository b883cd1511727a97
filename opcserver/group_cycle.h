// The rules of a group's tick on the poll thread, over what the tick needs
// of the group and its items, so that they run in tests without COM: when a
// group is due and serviced, which items go out in which DA 1.0 stream and
// in what order, the 32-entry change buffer and its flushes, ADVF_PRIMEFIRST,
// the quality of a queued read, the master results of a callback, and the
// keep-alive of a quiet subscription.
// The COM side gathers the group's state, holds the locks and makes the
// calls; the decisions are here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "opc_quality.h"

namespace vrt::opc {

// One OnDataChange never carries more than this many items.
inline constexpr std::size_t kChangeBufferSize = 32;

// The DA 1.0 stream formats, by the group's advise slot.
enum class StreamFormat : int { kData = 0, kDataTime = 1, kWriteComplete = 2 };
inline constexpr int kStreamFormats = 3;

// An item's values not yet delivered: in a DATA stream, in a DATATIME stream.
inline constexpr std::uint32_t kPendingData = 1;
inline constexpr std::uint32_t kPendingDataTime = 2;
inline constexpr std::uint32_t kPendingAll = kPendingData | kPendingDataTime;
std::uint32_t PendingBitOf(StreamFormat format);

// A subscription sends DATATIME before DATA: an item sent there is no
// longer pending for DATA, so a client that advised both gets each change
// once. A queued read goes out as DATA, then DATATIME, to whichever is advised.
inline constexpr StreamFormat kSubscriptionStreamOrder[] = {StreamFormat::kDataTime, StreamFormat::kData};
inline constexpr StreamFormat kQueuedReadStreamOrder[] = {StreamFormat::kData, StreamFormat::kDataTime};

// The advf bit that asks for every active item in the first update.
inline constexpr std::uint32_t kAdvisePrimeFirst = 2;  // ADVF_PRIMEFIRST

// Data sources of a read: only OPC_DS_DEVICE reads the device; anything
// else is the cache.
inline constexpr std::uint32_t kSourceCache = 1;
inline constexpr std::uint32_t kSourceDevice = 2;

// The quality an item shows in a queued read's stream: a read from the
// cache of an inactive group is BAD, out of service, keeping the limit bits.
std::uint16_t QueuedReadQuality(std::uint16_t quality, bool groupActive, std::uint32_t source);

// The master results of one callback (OnDataChange, OnReadComplete,
// OnWriteComplete): S_FALSE (1) when any quality is not GOOD, and when any
// error is not S_OK (0), the server's own inactive-read code included.
struct MasterResults {
  std::int32_t quality = 0;
  std::int32_t error = 0;
  void Add(std::uint16_t itemQuality, std::int32_t itemError);
};
MasterResults MasterResultsOf(const std::uint16_t* qualities, const std::int32_t* errors, std::size_t count);
// Only the errors, for writes.
std::int32_t MasterErrorOf(const std::int32_t* errors, std::size_t count);

// The countdown of a group: elapsed milliseconds off it; true when the
// group is due (0 or less).
bool CountDown(std::int64_t& countdown, std::uint32_t elapsed);
// A due group's items are scanned only while it is active and somebody
// listens: a poll-thread IOPCDataCallback sink, or the IDataObject.
bool ServicesItems(bool active, bool deleted, bool callbackSink, bool dataObject);

// The keep-alive (DA 3.0): a subscribed, active group that sent nothing for
// `keepAlive` milliseconds gets an OnDataChange of no items, and the quiet
// time starts again; so does it with every update sent. 0 is off. True when
// the keep-alive is due after `elapsed` more milliseconds.
bool KeepAliveDue(std::uint32_t keepAlive, std::uint64_t& quietMs, std::uint32_t elapsed, bool subscribed,
                  bool updateSent);

// What the tick needs of a group (under its lock) and of its items, the
// items being the group's at the start of the scan, by index.
class GroupCycleHost {
 public:
  virtual ~GroupCycleHost() = default;
  virtual std::size_t ItemCount() = 0;
  virtual std::uint32_t ItemServerHandle(std::size_t index) = 0;
  virtual bool ItemActive(std::size_t index) = 0;
  // Reads an active item from the driver and applies the change test:
  // true when it changed (and is now pending for both formats).
  virtual bool RefreshItem(std::size_t index) = 0;
  virtual std::uint32_t ItemPending(std::size_t index) = 0;
  virtual void MarkItemPending(std::size_t index, std::uint32_t bits) = 0;
  // The advf words of the DATA and DATATIME connections.
  virtual std::uint32_t AdviseFlags(StreamFormat format) = 0;
  virtual void ClearPrimeFirst() = 0;
  // Whether the poll thread holds a sink for the format.
  virtual bool StreamSinkHeld(StreamFormat format) = 0;
  // Sends a subscription stream of these items (transaction 0, read from
  // the device; each item sent is no longer pending).
  virtual void SendSubscriptionStream(StreamFormat format, const std::vector<std::size_t>& items) = 0;
  // OnDataChange of these items (server handles) through the poll thread's sink.
  virtual void SendDataChange(const std::vector<std::uint32_t>& serverHandles) = 0;
};

// One serviced cycle of a due group: the item scan with the change buffer
// flushed when full, the PRIMEFIRST marks, the subscription streams, and
// the last OnDataChange. `callbackSink`: the poll thread holds an
// IOPCDataCallback sink; without one the change buffer is emptied unsent.
// True when an OnDataChange went out.
bool ServiceGroup(GroupCycleHost& host, bool callbackSink);

// The items of a subscription stream of `format`: active and pending for it.
std::vector<std::size_t> SubscriptionStreamItems(GroupCycleHost& host, StreamFormat format);

}  // namespace vrt::opc
