#include "group_cycle.h"

namespace vrt::opc {

namespace {

constexpr std::int32_t kResultOk = 0;
constexpr std::int32_t kResultFalse = 1;

}  // namespace

std::uint32_t PendingBitOf(StreamFormat format) {
  return format == StreamFormat::kDataTime ? kPendingDataTime : kPendingData;
}

std::uint16_t QueuedReadQuality(std::uint16_t quality, bool groupActive, std::uint32_t source) {
  if (groupActive || source == kSourceDevice) return quality;
  return static_cast<std::uint16_t>(OPC_QUALITY_OUT_OF_SERVICE | (quality & OPC_LIMIT_MASK));
}

void MasterResults::Add(std::uint16_t itemQuality, std::int32_t itemError) {
  if ((itemQuality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) quality = kResultFalse;
  if (itemError != kResultOk) error = kResultFalse;
}

MasterResults MasterResultsOf(const std::uint16_t* qualities, const std::int32_t* errors, std::size_t count) {
  MasterResults results;
  for (std::size_t k = 0; k < count; ++k) results.Add(qualities[k], errors[k]);
  return results;
}

std::int32_t MasterErrorOf(const std::int32_t* errors, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    if (errors[k] != kResultOk) return kResultFalse;
  }
  return kResultOk;
}

bool CountDown(std::int64_t& countdown, std::uint32_t elapsed) {
  countdown -= elapsed;
  return countdown <= 0;
}

bool ServicesItems(bool active, bool deleted, bool callbackSink, bool dataObject) {
  return active && !deleted && (callbackSink || dataObject);
}

std::vector<std::size_t> SubscriptionStreamItems(GroupCycleHost& host, StreamFormat format) {
  const std::uint32_t bit = PendingBitOf(format);
  std::vector<std::size_t> items;
  const std::size_t count = host.ItemCount();
  for (std::size_t k = 0; k < count; ++k) {
    if (host.ItemActive(k) && (host.ItemPending(k) & bit) != 0) items.push_back(k);
  }
  return items;
}

bool KeepAliveDue(std::uint32_t keepAlive, std::uint64_t& quietMs, std::uint32_t elapsed, bool subscribed,
                  bool updateSent) {
  if (keepAlive == 0 || !subscribed || updateSent) {
    quietMs = 0;
    return false;
  }
  quietMs += elapsed;
  if (quietMs < keepAlive) return false;
  quietMs = 0;
  return true;
}

bool ServiceGroup(GroupCycleHost& host, bool callbackSink) {
  std::vector<std::uint32_t> changed;
  changed.reserve(kChangeBufferSize);
  bool sent = false;
  const auto flush = [&] {
    if (callbackSink && !changed.empty()) {
      host.SendDataChange(changed);
      sent = true;
    }
    changed.clear();
  };
  std::uint32_t prime = 0;
  if ((host.AdviseFlags(StreamFormat::kData) & kAdvisePrimeFirst) != 0) prime |= kPendingData;
  if ((host.AdviseFlags(StreamFormat::kDataTime) & kAdvisePrimeFirst) != 0) prime |= kPendingDataTime;

  const std::size_t count = host.ItemCount();
  for (std::size_t k = 0; k < count; ++k) {
    const bool active = host.ItemActive(k);
    if (active && host.RefreshItem(k)) {
      changed.push_back(host.ItemServerHandle(k));
      if (changed.size() >= kChangeBufferSize) flush();
    }
    // Priming marks only what a stream may carry: active items.
    if (prime != 0 && active) host.MarkItemPending(k, prime);
  }
  // A primed connection gets every active item once.
  if (prime != 0) host.ClearPrimeFirst();

  for (StreamFormat format : kSubscriptionStreamOrder) {
    if (!host.StreamSinkHeld(format)) continue;
    const std::vector<std::size_t> items = SubscriptionStreamItems(host, format);
    if (!items.empty()) host.SendSubscriptionStream(format, items);
  }
  flush();
  return sent;
}

}  // namespace vrt::opc
