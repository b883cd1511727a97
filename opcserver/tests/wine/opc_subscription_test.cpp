// Subscriptions, asynchronous I/O, browsing, properties and DA 1.0 streams
// of VRTOPC end to end: the real driver polls the simulator, this process
// is the OPC client.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <thread>

#include "opc_plant.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ComPtr;
using testing::DataCallbackSink;
using testing::OpcProcesses;
using testing::StreamSink;
using testing::WaitFor;

constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0xC0040001);
constexpr HRESULT kInvalidPropertyId = static_cast<HRESULT>(0xC0040203);

std::vector<std::wstring> AllOf(IEnumString& names) {
  std::vector<std::wstring> all;
  LPOLESTR name = nullptr;
  while (names.Next(1, &name, nullptr) == S_OK) {
    all.emplace_back(name);
    CoTaskMemFree(name);
  }
  return all;
}

class OpcSubscriptions : public OpcProcesses {
 protected:
  ComPtr<IOPCItemMgt> Group(const wchar_t* name, BOOL active = TRUE, DWORD rate = 100) {
    ComPtr<IOPCItemMgt> group;
    EXPECT_EQ(testing::AddGroup(*server.Get(), name, group, nullptr, active, rate), S_OK);
    return group;
  }
};

TEST_F(OpcSubscriptions, ASubscriptionGetsTheFirstValuesThenAChangeInTheFieldUntilUnadvised) {
  auto group = Group(L"live");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:257:0", L"PUMPS:DIT:512$8"});
  ASSERT_EQ(added.size(), 3u);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  EXPECT_EQ(cookie, 1u);
  EXPECT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1234" && sink.Latest(3) == L"PUMPHOUS"; }, 10s));
  const auto first = sink.Calls().front();
  EXPECT_EQ(first.transactionId, 0u);
  EXPECT_EQ(first.group, 77u);  // the group's client handle
  EXPECT_NE(first.threadId, GetCurrentThreadId());  // the poll thread

  // A second sink is refused.
  DataCallbackSink other;
  DWORD otherCookie = 0;
  EXPECT_EQ(testing::AdviseDataCallback(*group.Get(), &other, &otherCookie), CONNECT_E_ADVISELIMIT);

  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 4242").empty());
  EXPECT_TRUE(WaitFor([&] { return sink.Latest(1) == L"4242"; }, 10s));
  const auto change = sink.Calls().back();
  ASSERT_EQ(change.clientHandles, std::vector<OPCHANDLE>{1});  // only what changed
  EXPECT_EQ(change.qualities[0], 192);
  EXPECT_EQ(change.masterQuality, S_OK);

  // Unadvised: no further calls, and the sink is let go of.
  EXPECT_EQ(testing::UnadviseDataCallback(*group.Get(), 2), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(testing::UnadviseDataCallback(*group.Get(), cookie), S_OK);
  EXPECT_TRUE(WaitFor([&] { return sink.references == 1; }, 5s));
  const std::size_t calls = sink.CallCount();
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 1111").empty());
  Sleep(1000);
  EXPECT_EQ(sink.CallCount(), calls);
  // And a new sink may come.
  EXPECT_EQ(testing::AdviseDataCallback(*group.Get(), &other, &otherCookie), S_OK);
  EXPECT_TRUE(WaitFor([&] { return other.Latest(1) == L"1111"; }, 10s));
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), otherCookie, other));
}

TEST_F(OpcSubscriptions, MoreThan32ChangesOfOneCycleComeInSeveralCalls) {
  auto group = Group(L"bits");
  std::vector<std::wstring> ids;
  for (int bit = 0; bit < 16; ++bit) {
    ids.push_back(L"PUMPS:DIT:256:" + std::to_wstring(bit));
    ids.push_back(L"PUMPS:DIT:257:" + std::to_wstring(bit));
  }
  for (int bit = 0; bit < 8; ++bit) ids.push_back(L"PUMPS:DIT:258:" + std::to_wstring(bit));
  const auto added = testing::AddItems(*group.Get(), ids);
  ASSERT_EQ(added.size(), 40u);
  // Let the records be polled first, so that the first cycle is one of values.
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  ASSERT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"0"));
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.CallCount() >= 2; }, 10s));
  const auto calls = sink.Calls();
  EXPECT_EQ(calls[0].clientHandles.size(), 32u);
  EXPECT_EQ(calls[1].clientHandles.size(), 8u);
  EXPECT_EQ(calls[1].clientHandles.back(), 40u);
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), cookie, sink));
}

TEST_F(OpcSubscriptions, AsyncIo2CompletesInTheCallersThreadWithItsCancelIds) {
  auto group = Group(L"async");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:512$8"});
  const auto inactive = testing::AddItems(*group.Get(), {L"PUMPS:DIT:257"}, FALSE);
  ASSERT_EQ(added.size(), 2u);
  ASSERT_EQ(inactive.size(), 1u);
  ComPtr<IOPCAsyncIO2> async;
  ASSERT_EQ(group.As(async), S_OK);
  OPCHANDLE handles[3] = {added[0].handle, added[1].handle, 0xBAD};
  DWORD cancelId = 0;
  HRESULT* errors = nullptr;
  EXPECT_EQ(async->Read(2, handles, 5, &cancelId, &errors), CONNECT_E_NOCONNECTION);

  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  ASSERT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"1234"));
  sink.Clear();

  // Read: cancel id 11, OnReadComplete in this thread before the call returns.
  ASSERT_EQ(async->Read(3, handles, 5, &cancelId, &errors), S_FALSE);
  EXPECT_EQ(cancelId, 11u);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[2], kInvalidHandle);
  CoTaskMemFree(errors);
  // The group is active: an update of its subscription may come in between.
  auto calls = sink.Calls();
  std::vector<DataCallbackSink::Call> reads;
  for (const auto& call : calls) {
    if (call.kind == DataCallbackSink::Call::kReadComplete) reads.push_back(call);
  }
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].threadId, GetCurrentThreadId());
  EXPECT_EQ(reads[0].transactionId, 5u);
  EXPECT_EQ(reads[0].masterError, S_FALSE);
  EXPECT_EQ(reads[0].values[0], L"1234");
  EXPECT_EQ(reads[0].qualities[2], 0);

  // Refresh2 reads every item from the driver, the inactive one too.
  sink.Clear();
  ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 6, &cancelId), S_OK);
  EXPECT_EQ(cancelId, 88u);
  calls = sink.Calls();
  ASSERT_GE(calls.size(), 1u);
  const auto refresh = calls[0].transactionId == 6 ? calls[0] : calls.back();
  EXPECT_EQ(refresh.transactionId, 6u);
  ASSERT_EQ(refresh.clientHandles.size(), 3u);
  EXPECT_EQ(refresh.values[2], L"5");
  EXPECT_EQ(refresh.errors[2], S_OK);

  // Write: the text item's write is refused by the driver and says so.
  sink.Clear();
  VARIANT values[2];
  VariantInit(&values[0]);
  VariantInit(&values[1]);
  values[0].vt = VT_I4;
  values[0].lVal = 77;
  values[1].vt = VT_I4;
  values[1].lVal = 1;
  ASSERT_EQ(async->Write(2, handles, values, 7, &cancelId, &errors), S_FALSE);
  EXPECT_EQ(cancelId, 99u);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], E_FAIL);
  CoTaskMemFree(errors);
  calls = sink.Calls();
  ASSERT_FALSE(calls.empty());
  const auto written = calls[0].kind == DataCallbackSink::Call::kWriteComplete ? calls[0] : calls.back();
  EXPECT_EQ(written.kind, DataCallbackSink::Call::kWriteComplete);
  EXPECT_EQ(written.errors, (std::vector<HRESULT>{S_OK, E_FAIL}));
  EXPECT_TRUE(WaitFor([&] { return session.simulator->Command("get 1 5 0x100 1") == std::vector<std::string>{"77"}; },
                      10s));

  EXPECT_EQ(async->Cancel2(11), E_FAIL);
  BOOL enabled = FALSE;
  ASSERT_EQ(async->GetEnable(&enabled), S_OK);
  EXPECT_TRUE(enabled);
  ASSERT_EQ(async->SetEnable(FALSE), S_OK);
  ASSERT_EQ(async->GetEnable(&enabled), S_OK);
  EXPECT_FALSE(enabled);
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), cookie, sink));
}

TEST_F(OpcSubscriptions, BrowsingTheDevicesAndTheirPollRecords) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(server.As(browse), S_OK);
  OPCNAMESPACETYPE type{};
  ASSERT_EQ(browse->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
  ComPtr<IEnumString> names;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, names.Out()), S_OK);
  EXPECT_EQ(AllOf(*names.Get()), std::vector<std::wstring>{L"PUMPS"});
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"", VT_EMPTY, 0, names.Out()), S_FALSE);
  EXPECT_TRUE(AllOf(*names.Get()).empty());
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_R8, 0, names.Out()), S_FALSE);
  EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(9), L"", VT_EMPTY, 0, names.Out()), E_INVALIDARG);
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, names.Out()), S_OK);
  EXPECT_EQ(AllOf(*names.Get()), (std::vector<std::wstring>{L"PUMPS:DIT:256 - 260", L"PUMPS:DIT:512 - 516"}));

  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), E_FAIL);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"NOPE"), E_INVALIDARG);
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"PUMPS"), S_OK);
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"", VT_EMPTY, 0, names.Out()), S_OK);
  const auto leaves = AllOf(*names.Get());
  EXPECT_EQ(leaves, (std::vector<std::wstring>{L"DIT:256 - 260", L"DIT:512 - 516"}));
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"*512*", VT_EMPTY, 0, names.Out()), S_OK);
  EXPECT_EQ(AllOf(*names.Get()), std::vector<std::wstring>{L"DIT:512 - 516"});
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, names.Out()), S_FALSE);
  LPWSTR id = nullptr;
  ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(leaves[0].c_str()), &id), S_OK);
  EXPECT_EQ(std::wstring(id), L"PUMPS:DIT:256");
  CoTaskMemFree(id);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"PUMPS"), E_INVALIDARG);  // no deeper level
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), S_OK);
  ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"PUMPS:DIT:256"), &id), S_OK);
  EXPECT_EQ(std::wstring(id), L"PUMPS:DIT:256");
  CoTaskMemFree(id);
  EXPECT_EQ(browse->BrowseAccessPaths(L"PUMPS:DIT:256", names.Out()), E_NOTIMPL);
}

TEST_F(OpcSubscriptions, PropertiesOfAnalogDigitalAndTextItems) {
  // An item of a group is used as it is (with its requested type).
  auto group = Group(L"props");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:512$8"}, TRUE, VT_BSTR);
  ASSERT_EQ(added.size(), 2u);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  ASSERT_TRUE(ReadsEventually(*io.Get(), added[1].handle, L"PUMPHOUS"));  // polled by now

  ComPtr<IOPCItemProperties> properties;
  ASSERT_EQ(server.As(properties), S_OK);
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  LPWSTR analog = const_cast<LPWSTR>(L"PUMPS:DIT:256|LIN,10.0,110.0,,bar");
  ASSERT_EQ(properties->QueryAvailableProperties(analog, &count, &ids, &descriptions, &types), S_OK);
  ASSERT_EQ(count, 11u);
  EXPECT_EQ(ids[6], 100u);
  EXPECT_EQ(std::wstring(descriptions[9]), L"Signal Conditioning");
  EXPECT_EQ(types[3], VT_DATE);
  for (DWORD k = 0; k < count; ++k) CoTaskMemFree(descriptions[k]);
  CoTaskMemFree(ids);
  CoTaskMemFree(descriptions);
  CoTaskMemFree(types);

  auto get = [&](LPWSTR item, std::vector<DWORD> wanted, std::vector<HRESULT>& errors) {
    VARIANT* values = nullptr;
    HRESULT* results = nullptr;
    std::vector<std::wstring> texts;
    if (FAILED(properties->GetItemProperties(item, static_cast<DWORD>(wanted.size()), wanted.data(), &values,
                                             &results))) {
      return texts;
    }
    errors.assign(results, results + wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k) {
      VARIANT text;
      VariantInit(&text);
      texts.push_back(SUCCEEDED(VariantChangeTypeEx(&text, &values[k], LOCALE_INVARIANT, 0, VT_BSTR)) ? text.bstrVal
                                                                                                     : L"?");
      VariantClear(&text);
      VariantClear(&values[k]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(results);
    return texts;
  };
  std::vector<HRESULT> errors;
  EXPECT_EQ(get(analog, {1, 5, 6, 100, 102, 103, 5000}, errors),
            (std::vector<std::wstring>{L"4", L"3", L"250", L"bar", L"110", L"10", L"LIN"}));
  EXPECT_EQ(errors, std::vector<HRESULT>(7, S_OK));
  LPWSTR digital = const_cast<LPWSTR>(L"PUMPS:DIT:257:0|NONE,Stopped,Running");
  const auto labels = get(digital, {102, 103, 106, 107, 100, 4242}, errors);
  ASSERT_EQ(labels.size(), 6u);
  EXPECT_EQ(labels[0], L"1");
  EXPECT_EQ(labels[1], L"0");
  EXPECT_EQ(labels[2], L"Running");
  EXPECT_EQ(labels[3], L"Stopped");
  EXPECT_EQ(errors[4], kInvalidPropertyId);  // digital items have no units
  EXPECT_EQ(errors[5], kInvalidPropertyId);
  LPWSTR text = const_cast<LPWSTR>(L"PUMPS:DIT:512$8");
  const auto value = get(text, {2, 3, 5002}, errors);
  ASSERT_EQ(value.size(), 3u);
  EXPECT_EQ(value[0], L"PUMPHOUS");
  EXPECT_EQ(value[1], L"192");
  EXPECT_EQ(value[2], L"8");

  // The group's item, with its requested type; an unknown ID fails as AddItems would.
  EXPECT_EQ(get(const_cast<LPWSTR>(L"PUMPS:DIT:256"), {2}, errors), std::vector<std::wstring>{L"1234.0 "});
  VARIANT* values = nullptr;
  HRESULT* results = nullptr;
  DWORD one = 1;
  EXPECT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"NOPE:DIT:1"), 1, &one, &values, &results),
            static_cast<HRESULT>(0xC0040008));
  EXPECT_EQ(values, nullptr);
  LPWSTR* newIds = nullptr;
  EXPECT_EQ(properties->LookupItemIDs(analog, 1, &one, &newIds, &results), E_NOTIMPL);
}

TEST_F(OpcSubscriptions, ADa1ClientGetsItsStreamsAndEachChangeOnce) {
  auto group = Group(L"old");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:512$8"});
  ASSERT_EQ(added.size(), 2u);
  ComPtr<IDataObject> data;
  ASSERT_EQ(group.As(data), S_OK);
  StreamSink sink;
  FORMATETC format{testing::DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  FORMATETC unknown{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0;
  EXPECT_EQ(data->DAdvise(&unknown, 0, &sink, &connection), DV_E_FORMATETC);
  ASSERT_EQ(data->DAdvise(&format, 0, &sink, &connection), S_OK);
  EXPECT_EQ(connection, format.cfFormat);
  DWORD refused = 0;
  EXPECT_EQ(data->DAdvise(&format, 0, &sink, &refused), CONNECT_E_ADVISELIMIT);
  FORMATETC plain{testing::DataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD plainConnection = 0;
  ASSERT_EQ(data->DAdvise(&plain, 0, &sink, &plainConnection), S_OK);

  // The first values, once, in the DATATIME stream; the DATA stream gets nothing.
  ASSERT_TRUE(WaitFor([&] { return !sink.Streams().empty(); }, 10s));
  Sleep(500);
  auto streams = sink.Streams();
  for (const auto& stream : streams) EXPECT_EQ(stream.format, format.cfFormat);
  auto parsed = testing::ParseDataStream(streams[0].bytes, true);
  EXPECT_EQ(parsed.clientGroup, 77u);
  EXPECT_EQ(parsed.transactionId, 0u);
  ASSERT_EQ(parsed.items.size(), 2u);
  EXPECT_EQ(parsed.items[1].type, VT_BSTR);
  EXPECT_TRUE(WaitFor([&] {
    for (const auto& stream : sink.Streams()) {
      for (const auto& item : testing::ParseDataStream(stream.bytes, true).items) {
        if (item.clientHandle == 2 && item.text == L"PUMPHOUS") return true;
      }
    }
    return false;
  }, 10s));

  sink.Clear();
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 4321").empty());
  ASSERT_TRUE(WaitFor([&] { return !sink.Streams().empty(); }, 10s));
  Sleep(500);
  streams = sink.Streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].format, format.cfFormat);
  parsed = testing::ParseDataStream(streams[0].bytes, true);
  ASSERT_EQ(parsed.items.size(), 1u);
  EXPECT_EQ(parsed.items[0].clientHandle, 1u);
  EXPECT_EQ(parsed.items[0].number, 4321.0);

  // Unadvised: nothing more, the sinks let go of.
  ASSERT_EQ(data->DUnadvise(connection), S_OK);
  ASSERT_EQ(data->DUnadvise(plainConnection), S_OK);
  EXPECT_EQ(data->DUnadvise(plainConnection), OLE_E_NOCONNECTION);
  EXPECT_TRUE(WaitFor([&] { return sink.references == 1; }, 5s));
  sink.Clear();
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 1000").empty());
  Sleep(1000);
  EXPECT_TRUE(sink.Streams().empty());

  // ADVF_PRIMEFIRST: every active item in the next update.
  ASSERT_EQ(data->DAdvise(&plain, ADVF_PRIMEFIRST, &sink, &plainConnection), S_OK);
  ASSERT_TRUE(WaitFor([&] { return !sink.Streams().empty(); }, 10s));
  parsed = testing::ParseDataStream(sink.Streams()[0].bytes, false);
  EXPECT_EQ(parsed.items.size(), 2u);
  EXPECT_TRUE(testing::EndSubscription(*data.Get(), {plainConnection}, sink));
}

TEST_F(OpcSubscriptions, QueuedDa1ReadsAndWritesCompleteAsStreams) {
  auto group = Group(L"queued");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:512$8"});
  ASSERT_EQ(added.size(), 2u);
  ComPtr<IDataObject> data;
  ASSERT_EQ(group.As(data), S_OK);
  ComPtr<IOPCAsyncIO> async;
  ASSERT_EQ(group.As(async), S_OK);
  OPCHANDLE handles[3] = {added[0].handle, added[1].handle, 0xBAD};
  DWORD transaction = 0;
  HRESULT* errors = nullptr;
  EXPECT_EQ(async->Read(0, OPC_DS_DEVICE, 2, handles, &transaction, &errors), CONNECT_E_NOCONNECTION);

  StreamSink sink;
  FORMATETC plain{testing::DataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  FORMATETC written{testing::WriteCompleteFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0, writeConnection = 0;
  ASSERT_EQ(data->DAdvise(&plain, 0, &sink, &connection), S_OK);
  ASSERT_EQ(data->DAdvise(&written, 0, &sink, &writeConnection), S_OK);
  Sleep(500);  // the first values

  // One unknown handle: refused, nothing queued.
  sink.Clear();
  ASSERT_EQ(async->Read(connection, OPC_DS_DEVICE, 3, handles, &transaction, &errors), kInvalidHandle);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[2], kInvalidHandle);
  CoTaskMemFree(errors);
  Sleep(500);
  EXPECT_TRUE(sink.Streams().empty());

  ASSERT_EQ(async->Read(connection, OPC_DS_DEVICE, 2, handles, &transaction, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_NE(transaction, 0u);
  ASSERT_TRUE(WaitFor([&] { return !sink.Streams().empty(); }, 10s));
  auto parsed = testing::ParseDataStream(sink.Streams()[0].bytes, false);
  EXPECT_EQ(parsed.transactionId, transaction);
  EXPECT_EQ(parsed.items.size(), 2u);
  // Completed already: nothing to cancel.
  EXPECT_EQ(async->Cancel(transaction), E_FAIL);

  // A write the driver refuses (the text item) is reported with its error.
  sink.Clear();
  VARIANT values[2];
  VariantInit(&values[0]);
  VariantInit(&values[1]);
  values[0].vt = VT_I4;
  values[0].lVal = 555;
  values[1].vt = VT_I4;
  values[1].lVal = 1;
  ASSERT_EQ(async->Write(writeConnection, 2, handles, values, &transaction, &errors), S_OK);
  CoTaskMemFree(errors);
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& stream : sink.Streams()) {
      if (stream.format == written.cfFormat) return true;
    }
    return false;
  }, 10s));
  for (const auto& stream : sink.Streams()) {
    if (stream.format != written.cfFormat) continue;
    ASSERT_EQ(stream.bytes.size(), 16u + 2 * 8u);
    DWORD words[8] = {};
    std::memcpy(words, stream.bytes.data(), stream.bytes.size());
    EXPECT_EQ(words[0], 2u);
    EXPECT_EQ(words[2], transaction);
    EXPECT_EQ(words[5], static_cast<DWORD>(S_OK));
    EXPECT_EQ(words[7], static_cast<DWORD>(E_FAIL));
  }
  EXPECT_TRUE(WaitFor([&] { return session.simulator->Command("get 1 5 0x100 1") == std::vector<std::string>{"555"}; },
                      10s));
  DWORD refresh = 0;
  EXPECT_EQ(async->Refresh(connection, OPC_DS_CACHE, &refresh), S_OK);
  EXPECT_EQ(async->Cancel(0xFFFFFFF0u), E_FAIL);
  EXPECT_TRUE(testing::EndSubscription(*data.Get(), {connection, writeConnection}, sink));
}

TEST_F(OpcSubscriptions, TheBandwidthFigureMovesOffZeroWhileAGroupIsServiced) {
  auto group = Group(L"busy", TRUE, 100);
  ASSERT_EQ(testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"}).size(), 1u);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  DWORD bandwidth = 0;
  EXPECT_TRUE(WaitFor([&] {
    OPCSERVERSTATUS* status = nullptr;
    if (server->GetStatus(&status) != S_OK) return false;
    bandwidth = status->dwBandWidth;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return bandwidth > 0;
  }, 10s));
  EXPECT_LE(bandwidth, 100u);
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), cookie, sink));
}

TEST_F(OpcSubscriptions, GroupsServersAndSinksMayGoWhileTheirCallbackRuns) {
  for (int round = 0; round < 12; ++round) {
    if (!server) {
      ASSERT_EQ(testing::CreateServer(server), S_OK);
    }
    OPCHANDLE handle = 0;
    ComPtr<IOPCItemMgt> group;
    ASSERT_EQ(testing::AddGroup(*server.Get(), L"", group, &handle, TRUE, 100), S_OK);
    ASSERT_EQ(testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:257"}).size(), 2u);
    DataCallbackSink sink;
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    sink.during = [&] {
      inside = true;
      for (int wait = 0; wait < 200 && !release; ++wait) Sleep(1);
    };
    DWORD cookie = 0;
    ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }, 10s)) << "round " << round;
    // While the poll thread is inside the callback:
    switch (round % 3) {
      case 0:
        EXPECT_TRUE(SUCCEEDED(server->RemoveGroup(handle, TRUE)));
        group.Reset();
        break;
      case 1:
        EXPECT_EQ(testing::UnadviseDataCallback(*group.Get(), cookie), S_OK);
        group.Reset();
        break;
      default:
        group.Reset();
        server.Reset();  // the last client reference: the server ends after the callback
        break;
    }
    release = true;
    EXPECT_TRUE(WaitFor([&] { return sink.references == 1; }, 10s)) << "round " << round;
  }
}

// A client that reads its subscribed item itself (a sync read refreshes
// the cache) still gets the change in OnDataChange: the group tick's
// change test looks at what the subscription last reported.
TEST_F(OpcSubscriptions, AChangeAClientReadFirstStillReachesItsSubscription) {
  auto group = Group(L"read and subscribed", TRUE, 1000);
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"});
  ASSERT_EQ(added.size(), 1u);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1234"; }, 10s));
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  for (int value : {5001, 5002, 5003}) {
    ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 " + std::to_string(value)).empty());
    // Seen by a cache read first: the driver polls every 0.1 s, the group
    // ticks once a second.
    ASSERT_TRUE(WaitFor([&] { return testing::ReadItem(*io.Get(), added[0].handle, OPC_DS_CACHE).number == value; }, 5s));
    EXPECT_TRUE(WaitFor([&] { return sink.Latest(1) == std::to_wstring(value); }, 5s)) << value;
  }
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), cookie, sink));
}

// A value the requested type cannot hold (1234 as VT_UI1) is the
// conversion's error with BAD quality and no value, in every read path;
// the item beside it that fits (5) is read as usual.
TEST_F(OpcSubscriptions, AValueTheRequestedTypeCannotHoldIsAnErrorWithBadQualityInEveryReadPath) {
  auto group = Group(L"narrow");
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:257"}, TRUE, VT_UI1);
  ASSERT_EQ(added.size(), 2u);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  ASSERT_TRUE(WaitFor([&] { return testing::ReadItem(*io.Get(), added[1].handle, OPC_DS_DEVICE).quality == 192; }, 10s));
  OPCHANDLE handles[2] = {added[0].handle, added[1].handle};
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 2, handles, &states, &errors), S_FALSE);
  EXPECT_EQ(errors[0], DISP_E_OVERFLOW);
  EXPECT_EQ(states[0].wQuality & OPC_QUALITY_MASK, OPC_QUALITY_BAD);
  EXPECT_EQ(states[0].vDataValue.vt, VT_EMPTY);
  EXPECT_EQ(errors[1], S_OK);
  EXPECT_EQ(states[1].wQuality, 192);
  EXPECT_EQ(states[1].vDataValue.vt, VT_UI1);
  EXPECT_EQ(states[1].vDataValue.bVal, 5);
  for (int k = 0; k < 2; ++k) VariantClear(&states[k].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);

  // The subscription's OnDataChange, and IOPCAsyncIO2's OnReadComplete.
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(testing::AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.CallCount() > 0; }, 10s));
  auto expectNarrowed = [](const DataCallbackSink::Call& call, const char* path) {
    ASSERT_EQ(call.clientHandles.size(), 2u) << path;
    EXPECT_EQ(call.masterQuality, S_FALSE) << path;
    EXPECT_EQ(call.masterError, S_FALSE) << path;
    EXPECT_EQ(call.errors[0], DISP_E_OVERFLOW) << path;
    EXPECT_EQ(call.qualities[0] & OPC_QUALITY_MASK, OPC_QUALITY_BAD) << path;
    EXPECT_EQ(call.values[0], L"") << path;
    EXPECT_EQ(call.errors[1], S_OK) << path;
    EXPECT_EQ(call.values[1], L"5") << path;
  };
  expectNarrowed(sink.Calls().front(), "OnDataChange");
  ComPtr<IOPCAsyncIO2> async;
  ASSERT_EQ(group.As(async), S_OK);
  DWORD cancelId = 0;
  errors = nullptr;
  EXPECT_EQ(async->Read(2, handles, 9, &cancelId, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], DISP_E_OVERFLOW);
  CoTaskMemFree(errors);
  const auto calls = sink.Calls();
  ASSERT_EQ(calls.back().kind, DataCallbackSink::Call::kReadComplete);
  expectNarrowed(calls.back(), "OnReadComplete");
  EXPECT_TRUE(testing::EndSubscription(*group.Get(), cookie, sink));

  // A DA 1.0 stream: BAD quality and an empty value.
  ComPtr<IDataObject> data;
  ASSERT_EQ(group.As(data), S_OK);
  StreamSink streams;
  FORMATETC format{testing::DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0;
  ASSERT_EQ(data->DAdvise(&format, ADVF_PRIMEFIRST, &streams, &connection), S_OK);
  ASSERT_TRUE(WaitFor([&] { return !streams.Streams().empty(); }, 10s));
  const auto parsed = testing::ParseDataStream(streams.Streams()[0].bytes, true);
  ASSERT_EQ(parsed.items.size(), 2u);
  EXPECT_EQ(parsed.items[0].quality & OPC_QUALITY_MASK, OPC_QUALITY_BAD);
  EXPECT_EQ(parsed.items[0].type, VT_EMPTY);
  EXPECT_EQ(parsed.items[1].quality, 192);
  EXPECT_EQ(parsed.items[1].number, 5.0);
  EXPECT_TRUE(testing::EndSubscription(*data.Get(), {connection}, streams));
}

}  // namespace
}  // namespace vrt
