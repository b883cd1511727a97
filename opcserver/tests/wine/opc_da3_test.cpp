// DA 3.0: browsing with properties and continuation points (IOPCBrowse),
// reads by maximum age and value-quality-time writes, by handle
// on a group (IOPCSyncIO2) and by item ID on the server (IOPCItemIO), with
// the real driver, card server and simulator: in this process, and out of
// process through the proxy/stub library, where every array, VARIANT and
// string must come back as the server made it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <optional>
#include <thread>

#include "opc_client.h"
#include "opc_plant.h"
#include "sample_configuration.h"

namespace vrt::testing {
namespace {

constexpr HRESULT kNotSupported = static_cast<HRESULT>(0xC0040406);
constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0xC0040001);
constexpr DWORD kCacheAge = 0xFFFFFFFF;

std::wstring TextOf(const VARIANT& value) {
  VARIANT text;
  VariantInit(&text);
  std::wstring result = L"(no text)";
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) result = text.bstrVal;
  VariantClear(&text);
  return result;
}

// One entry of a read by age.
struct AgedRead {
  HRESULT error = E_FAIL;
  std::wstring text;
  VARTYPE type = VT_EMPTY;
  WORD quality = 0;
  ULONGLONG timeStamp = 0;
};

// Takes the four arrays a read by age returns, and frees them.
std::vector<AgedRead> TakeReads(DWORD count, VARIANT* values, WORD* qualities, FILETIME* stamps, HRESULT* errors) {
  std::vector<AgedRead> reads;
  if (values == nullptr || qualities == nullptr || stamps == nullptr || errors == nullptr) {
    ADD_FAILURE() << "a result array is missing";
  } else {
    for (DWORD k = 0; k < count; ++k) {
      reads.push_back({errors[k], values[k].vt == VT_EMPTY ? L"" : TextOf(values[k]), values[k].vt, qualities[k],
                       (ULONGLONG{stamps[k].dwHighDateTime} << 32) | stamps[k].dwLowDateTime});
      VariantClear(&values[k]);
    }
  }
  CoTaskMemFree(values);
  CoTaskMemFree(qualities);
  CoTaskMemFree(stamps);
  CoTaskMemFree(errors);
  return reads;
}

// Makes a read by age with the four arrays it fills; its entries.
template <typename Call>
std::vector<AgedRead> ReadsOf(DWORD count, HRESULT* call, Call read) {
  VARIANT* values = nullptr;
  WORD* qualities = nullptr;
  FILETIME* stamps = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT result = read(&values, &qualities, &stamps, &errors);
  if (call != nullptr) *call = result;
  if (FAILED(result)) return {};
  return TakeReads(count, values, qualities, stamps, errors);
}

std::vector<AgedRead> ReadMaxAge(IOPCSyncIO2& io, std::vector<OPCHANDLE> handles, std::vector<DWORD> ages,
                                 HRESULT* call = nullptr) {
  const auto count = static_cast<DWORD>(handles.size());
  return ReadsOf(count, call, [&](VARIANT** values, WORD** qualities, FILETIME** stamps, HRESULT** errors) {
    return io.ReadMaxAge(count, handles.data(), ages.data(), values, qualities, stamps, errors);
  });
}

std::vector<AgedRead> ReadById(IOPCItemIO& io, std::vector<LPCWSTR> ids, std::vector<DWORD> ages,
                               HRESULT* call = nullptr) {
  const auto count = static_cast<DWORD>(ids.size());
  return ReadsOf(count, call, [&](VARIANT** values, WORD** qualities, FILETIME** stamps, HRESULT** errors) {
    return io.Read(count, ids.data(), ages.data(), values, qualities, stamps, errors);
  });
}

OPCITEMVQT Vqt(LONG value, bool quality = false, bool timeStamp = false) {
  OPCITEMVQT entry{};
  VariantInit(&entry.vDataValue);
  entry.vDataValue.vt = VT_I4;
  entry.vDataValue.lVal = value;
  entry.bQualitySpecified = quality ? TRUE : FALSE;
  entry.wQuality = OPC_QUALITY_GOOD;
  entry.bTimeStampSpecified = timeStamp ? TRUE : FALSE;
  GetSystemTimeAsFileTime(&entry.ftTimeStamp);
  return entry;
}

// The errors of a write, freed; the call's result first.
std::pair<HRESULT, std::vector<HRESULT>> Errors(HRESULT call, HRESULT* errors, std::size_t count) {
  std::vector<HRESULT> list;
  if (SUCCEEDED(call) && errors != nullptr) list.assign(errors, errors + count);
  CoTaskMemFree(errors);
  return {call, list};
}

class OpcDa3 : public OpcProcesses {
 protected:
  // The register's value as the station holds it.
  std::string Register(const std::string& address) {
    const std::vector<std::string> values = Registers(address, 1);
    return values.empty() ? "" : values[0];
  }

  void ReadsAndWritesOf(IOPCServer& opc, bool throughProxies, bool asynchronous = true);
  void AsyncReadsAndWritesOf(IOPCServer& opc);
  void BrowsingOf(IOPCServer& opc);
};

void OpcDa3::ReadsAndWritesOf(IOPCServer& opc, bool throughProxies, bool asynchronous) {
  // An inactive group: no tick refreshes its items, so what they hold
  // changes only by the reads below. A second, active group watches the
  // driver's image.
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(AddGroup(opc, L"aged", group, nullptr, FALSE, 100), S_OK);
  const auto added = AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:258"});
  ASSERT_EQ(added.size(), 2u);
  const auto inactive = AddItems(*group.Get(), {L"PUMPS:DIT:256"}, FALSE);
  const auto text = AddItems(*group.Get(), {L"PUMPS:DIT:256|NONE,0.00,65535,,degC"}, TRUE, VT_BSTR);
  ASSERT_EQ(inactive.size() + text.size(), 2u);
  ComPtr<IOPCSyncIO2> io;
  ASSERT_EQ(group.As(io), S_OK);
  ComPtr<IOPCSyncIO> io1;  // the same object answers the 2.0 identifier
  ASSERT_EQ(group.As(io1), S_OK);
  ComPtr<IOPCItemMgt> watchGroup;
  ASSERT_EQ(AddGroup(opc, L"watch", watchGroup), S_OK);
  const auto watched = AddItems(*watchGroup.Get(), {L"PUMPS:DIT:256"});
  ASSERT_EQ(watched.size(), 1u);
  ComPtr<IOPCSyncIO> watch;
  ASSERT_EQ(watchGroup.As(watch), S_OK);
  ASSERT_TRUE(ReadsEventually(*watch.Get(), watched[0].handle, L"1234"));
  const auto name = AddItems(*watchGroup.Get(), {L"PUMPS:DIT:512$8"});
  ASSERT_EQ(name.size(), 1u);
  ASSERT_TRUE(ReadsEventually(*watch.Get(), name[0].handle, L"PUMPHOUS"));
  BrowsingOf(opc);

  // Age 0 reads the device; the value read is then held.
  auto reads = ReadMaxAge(*io.Get(), {added[0].handle}, {0});
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].error, S_OK);
  EXPECT_EQ(reads[0].text, L"1234");
  EXPECT_EQ(reads[0].type, VT_R4);
  EXPECT_EQ(reads[0].quality, OPC_QUALITY_GOOD);
  const ULONGLONG heldStamp = reads[0].timeStamp;
  EXPECT_NE(heldStamp, 0u);

  // The station changes: a held value young enough is still what a long
  // maximum age gives, with its own time stamp; age 0 gives the new one.
  SetRegister(session, "0x100", 777);
  ASSERT_TRUE(ReadsEventually(*watch.Get(), watched[0].handle, L"777"));
  reads = ReadMaxAge(*io.Get(), {added[0].handle, added[0].handle}, {600000, 0});
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].text, L"1234");
  EXPECT_EQ(reads[0].timeStamp, heldStamp);
  EXPECT_EQ(reads[1].text, L"777");
  // Older than a short age: read again.
  SetRegister(session, "0x100", 555);
  ASSERT_TRUE(ReadsEventually(*watch.Get(), watched[0].handle, L"555"));
  Sleep(300);
  reads = ReadMaxAge(*io.Get(), {added[0].handle}, {200});
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].text, L"555");

  // 0xFFFFFFFF is a cache read: an active item's current value, an inactive
  // item's held one out of service; the requested type holds; a stale
  // handle fails alone.
  reads = ReadMaxAge(*io.Get(), {added[0].handle, inactive[0].handle, text[0].handle, 0xDEAD},
                     {kCacheAge, kCacheAge, 0, 0});
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0].text, L"555");
  EXPECT_EQ(reads[1].error, kInactiveCacheRead);
  EXPECT_EQ(reads[1].quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(reads[2].type, VT_BSTR);
  EXPECT_EQ(reads[2].text, L"555.00 degC");
  EXPECT_EQ(reads[3].error, kInvalidHandle);
  EXPECT_EQ(reads[3].type, VT_EMPTY);
  HRESULT call = E_FAIL;
  ReadMaxAge(*io.Get(), {added[0].handle, 0xDEAD}, {0, 0}, &call);
  EXPECT_EQ(call, S_FALSE);
  EXPECT_EQ(ReadItem(*io1.Get(), added[0].handle, OPC_DS_DEVICE).text, L"555");

  // WriteVQT by handle: a value alone is written; an entry that asks for a
  // quality or a time stamp is refused whole and writes nothing.
  std::vector<OPCHANDLE> handles{added[1].handle, added[0].handle, added[0].handle};
  std::vector<OPCITEMVQT> entries{Vqt(321), Vqt(11, true), Vqt(12, false, true)};
  HRESULT* errors = nullptr;
  call = io->WriteVQT(3, handles.data(), entries.data(), &errors);
  auto written = Errors(call, errors, 3);
  EXPECT_EQ(written.first, S_FALSE);
  EXPECT_EQ(written.second, (std::vector<HRESULT>{S_OK, kNotSupported, kNotSupported}));
  EXPECT_TRUE(WaitFor([&] { return Register("0x102") == "321"; }, 10s)) << Register("0x102");
  Sleep(300);
  EXPECT_EQ(Register("0x100"), "555");
  errors = nullptr;
  call = io->WriteVQT(1, handles.data(), entries.data(), &errors);
  written = Errors(call, errors, 1);
  EXPECT_EQ(written.first, S_OK);

  // IOPCItemIO: by ID, without a group, in the canonical type; an unknown
  // or malformed ID fails alone.
  ComPtr<IOPCItemIO> byId;
  ASSERT_EQ(opc.QueryInterface(__uuidof(IOPCItemIO), byId.OutVoid()), S_OK);
  reads = ReadById(*byId.Get(), {L"PUMPS:DIT:258", L"PUMPS:DIT:512$8", L"NOSUCH:DIT:1", L"PUMPS:DIT:256"},
                   {0, kCacheAge, 0, 600000}, &call);
  EXPECT_EQ(call, S_FALSE);
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0].error, S_OK);
  EXPECT_EQ(reads[0].text, L"321");
  EXPECT_EQ(reads[0].quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(reads[1].text, L"PUMPHOUS");
  EXPECT_EQ(reads[1].type, VT_BSTR);
  EXPECT_TRUE(FAILED(reads[2].error)) << std::hex << reads[2].error;
  EXPECT_EQ(reads[3].text, L"555");
  EXPECT_EQ(reads[3].type, VT_R4);

  std::vector<LPCWSTR> ids{L"PUMPS:DIT:259", L"PUMPS:DIT:258", L"NOSUCH:DIT:1"};
  entries = {Vqt(42), Vqt(43, true, true), Vqt(44)};
  errors = nullptr;
  call = byId->WriteVQT(3, ids.data(), entries.data(), &errors);
  written = Errors(call, errors, 3);
  EXPECT_EQ(written.first, S_FALSE);
  ASSERT_EQ(written.second.size(), 3u);
  EXPECT_EQ(written.second[0], S_OK);
  EXPECT_EQ(written.second[1], kNotSupported);
  EXPECT_TRUE(FAILED(written.second[2]));
  EXPECT_TRUE(WaitFor([&] { return Register("0x103") == "42"; }, 10s)) << Register("0x103");
  EXPECT_EQ(Register("0x102"), "321");

  if (asynchronous) AsyncReadsAndWritesOf(opc);

  // Missing arrays: the proxy refuses them before the server sees them,
  // and the server refuses them too.
  EXPECT_EQ(io->ReadMaxAge(1, handles.data(), nullptr, nullptr, nullptr, nullptr, nullptr),
            throughProxies ? HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER) : E_INVALIDARG);
}

// One browse element as the test keeps it.
struct Element {
  std::wstring name;
  std::wstring itemId;
  DWORD flags = 0;
  HRESULT propertiesError = E_FAIL;
  std::vector<DWORD> propertyIds;
  std::vector<HRESULT> propertyErrors;
  std::vector<std::wstring> values;  // as text, "" when empty
};

Element Kept(LPWSTR name, LPWSTR itemId, DWORD flags, OPCITEMPROPERTIES& properties) {
  Element element{name == nullptr ? L"(null)" : name, itemId == nullptr ? L"(null)" : itemId, flags,
                  properties.hrErrorID, {}, {}, {}};
  for (DWORD k = 0; k < properties.dwNumProperties; ++k) {
    OPCITEMPROPERTY& property = properties.pItemProperties[k];
    element.propertyIds.push_back(property.dwPropertyID);
    element.propertyErrors.push_back(property.hrErrorID);
    element.values.push_back(property.vValue.vt == VT_EMPTY ? L"" : TextOf(property.vValue));
    CoTaskMemFree(property.szItemID);
    CoTaskMemFree(property.szDescription);
    VariantClear(&property.vValue);
  }
  CoTaskMemFree(properties.pItemProperties);
  return element;
}

struct Browsed {
  HRESULT call = E_FAIL;
  std::vector<Element> elements;
  BOOL more = TRUE;
  std::optional<std::wstring> point;  // nothing: NULL came back
};

// One Browse call; `point` goes in and the new one comes back.
Browsed BrowseOnce(IOPCBrowse& browse, const wchar_t* branch, std::optional<std::wstring> point, DWORD limit,
                   OPCBROWSEFILTER filter, const wchar_t* names = L"", BOOL all = FALSE, BOOL values = FALSE,
                   std::vector<DWORD> ids = {}) {
  Browsed result;
  LPWSTR inOut = point ? static_cast<LPWSTR>(CoTaskMemAlloc((point->size() + 1) * sizeof(wchar_t))) : nullptr;
  if (inOut != nullptr) std::wcscpy(inOut, point->c_str());
  DWORD count = 0;
  OPCBROWSEELEMENT* elements = nullptr;
  DWORD none = 0;
  std::wstring branchText = branch, nameText = names, vendorText;
  result.call = browse.Browse(branchText.data(), &inOut, limit, filter, nameText.data(), vendorText.data(), all, values,
                              static_cast<DWORD>(ids.size()), ids.empty() ? &none : ids.data(), &result.more, &count,
                              &elements);
  if (inOut != nullptr) result.point = inOut;
  CoTaskMemFree(inOut);
  for (DWORD k = 0; k < count && elements != nullptr; ++k) {
    result.elements.push_back(Kept(elements[k].szName, elements[k].szItemID, elements[k].dwFlagValue,
                                   elements[k].ItemProperties));
    CoTaskMemFree(elements[k].szName);
    CoTaskMemFree(elements[k].szItemID);
  }
  CoTaskMemFree(elements);
  return result;
}

std::vector<std::wstring> NamesOf(const Browsed& browsed) {
  std::vector<std::wstring> names;
  for (const Element& element : browsed.elements) names.push_back(element.name);
  return names;
}

// IOPCBrowse over the plant: PUMPS at the root, its two poll records below.
void OpcDa3::BrowsingOf(IOPCServer& opc) {
  ComPtr<IOPCBrowse> browse;
  ASSERT_EQ(opc.QueryInterface(__uuidof(IOPCBrowse), browse.OutVoid()), S_OK);
  constexpr HRESULT kInvalidPoint = static_cast<HRESULT>(0xC0040403);
  constexpr HRESULT kInvalidPid = static_cast<HRESULT>(0xC0040203);

  // The root: one branch, which carries no properties.
  Browsed root = BrowseOnce(*browse.Get(), L"", std::nullopt, 0, OPC_BROWSE_FILTER_ALL, L"", TRUE, TRUE);
  ASSERT_EQ(root.call, S_OK);
  ASSERT_EQ(root.elements.size(), 1u);
  EXPECT_EQ(root.elements[0].name, L"PUMPS");
  EXPECT_EQ(root.elements[0].itemId, L"PUMPS");
  EXPECT_EQ(root.elements[0].flags, static_cast<DWORD>(OPC_BROWSE_HASCHILDREN));
  EXPECT_TRUE(root.elements[0].propertyIds.empty());
  EXPECT_FALSE(root.point);
  EXPECT_FALSE(root.more);
  EXPECT_TRUE(BrowseOnce(*browse.Get(), L"", std::nullopt, 0, OPC_BROWSE_FILTER_ITEMS).elements.empty());
  EXPECT_EQ(NamesOf(BrowseOnce(*browse.Get(), L"", std::nullopt, 0, OPC_BROWSE_FILTER_BRANCHES)),
            std::vector<std::wstring>{L"PUMPS"});

  // A device in pages of one: every property with its value, and a point
  // for the rest, good once.
  Browsed first = BrowseOnce(*browse.Get(), L"PUMPS", std::nullopt, 1, OPC_BROWSE_FILTER_ITEMS, L"", TRUE, TRUE);
  ASSERT_EQ(first.call, S_OK);
  ASSERT_EQ(first.elements.size(), 1u);
  const Element& record = first.elements[0];
  EXPECT_EQ(record.name, L"DIT:256 - 260");
  EXPECT_EQ(record.itemId, L"PUMPS:DIT:256");
  EXPECT_EQ(record.flags, static_cast<DWORD>(OPC_BROWSE_ISITEM));
  EXPECT_EQ(record.propertiesError, S_OK);
  EXPECT_EQ(record.propertyIds.size(), 11u);  // an analog item's
  ASSERT_GE(record.values.size(), 2u);
  EXPECT_EQ(record.propertyIds[1], 2u);
  EXPECT_EQ(record.values[1], L"1234");
  ASSERT_TRUE(first.point);
  EXPECT_FALSE(first.point->empty());
  EXPECT_FALSE(first.more);
  Browsed second = BrowseOnce(*browse.Get(), L"PUMPS", first.point, 1, OPC_BROWSE_FILTER_ITEMS, L"", TRUE, TRUE);
  ASSERT_EQ(second.call, S_OK);
  EXPECT_EQ(NamesOf(second), std::vector<std::wstring>{L"DIT:512 - 516"});
  EXPECT_FALSE(second.point);
  EXPECT_EQ(BrowseOnce(*browse.Get(), L"PUMPS", first.point, 1, OPC_BROWSE_FILTER_ITEMS, L"", TRUE, TRUE).call,
            kInvalidPoint);  // used up
  Browsed again = BrowseOnce(*browse.Get(), L"PUMPS", std::nullopt, 1, OPC_BROWSE_FILTER_ALL);
  ASSERT_TRUE(again.point);
  EXPECT_EQ(BrowseOnce(*browse.Get(), L"PUMPS", again.point, 1, OPC_BROWSE_FILTER_ITEMS).call, kInvalidPoint);
  EXPECT_EQ(BrowseOnce(*browse.Get(), L"PUMPS", std::wstring(L"made up"), 1, OPC_BROWSE_FILTER_ALL).call,
            kInvalidPoint);

  // Name filters, chosen properties, items and unknown branches.
  EXPECT_EQ(NamesOf(BrowseOnce(*browse.Get(), L"PUMPS", std::nullopt, 0, OPC_BROWSE_FILTER_ALL, L"*512*")),
            std::vector<std::wstring>{L"DIT:512 - 516"});
  Browsed chosen =
      BrowseOnce(*browse.Get(), L"PUMPS", std::nullopt, 0, OPC_BROWSE_FILTER_ALL, L"", FALSE, FALSE, {2, 4999});
  ASSERT_EQ(chosen.elements.size(), 2u);
  EXPECT_EQ(chosen.elements[0].propertyIds, (std::vector<DWORD>{2, 4999}));
  EXPECT_EQ(chosen.elements[0].propertyErrors, (std::vector<HRESULT>{S_OK, kInvalidPid}));
  EXPECT_EQ(chosen.elements[0].values, (std::vector<std::wstring>{L"", L""}));  // no values asked for
  EXPECT_EQ(chosen.elements[0].propertiesError, S_FALSE);
  Browsed leaf = BrowseOnce(*browse.Get(), L"PUMPS:DIT:256", std::nullopt, 0, OPC_BROWSE_FILTER_ALL);
  EXPECT_EQ(leaf.call, S_OK);
  EXPECT_TRUE(leaf.elements.empty());
  EXPECT_TRUE(FAILED(BrowseOnce(*browse.Get(), L"NOSUCH", std::nullopt, 0, OPC_BROWSE_FILTER_ALL).call));

  // GetProperties of several items in one call: all of them (no IDs), or
  // the listed ones; an unknown item fails alone.
  std::vector<std::wstring> ids{L"PUMPS:DIT:256", L"PUMPS:DIT:512$8", L"NOSUCH:DIT:1"};
  std::vector<LPWSTR> idPointers{ids[0].data(), ids[1].data(), ids[2].data()};
  OPCITEMPROPERTIES* properties = nullptr;
  DWORD none = 0;
  ASSERT_EQ(browse->GetProperties(3, idPointers.data(), TRUE, 0, &none, &properties), S_FALSE);
  ASSERT_NE(properties, nullptr);
  std::vector<Element> items;
  for (DWORD k = 0; k < 3; ++k) items.push_back(Kept(nullptr, nullptr, 0, properties[k]));
  CoTaskMemFree(properties);
  EXPECT_EQ(items[0].propertiesError, S_OK);
  EXPECT_EQ(items[0].propertyIds.size(), 11u);
  EXPECT_EQ(items[1].propertyIds.size(), 8u);  // a text item's
  EXPECT_EQ(items[1].values[1], L"PUMPHOUS");
  EXPECT_TRUE(FAILED(items[2].propertiesError));
  EXPECT_TRUE(items[2].propertyIds.empty());
  DWORD lengths[2] = {1, 5002};
  properties = nullptr;
  ASSERT_EQ(browse->GetProperties(2, idPointers.data(), TRUE, 2, lengths, &properties), S_FALSE);
  ASSERT_NE(properties, nullptr);
  items.clear();
  for (DWORD k = 0; k < 2; ++k) items.push_back(Kept(nullptr, nullptr, 0, properties[k]));
  CoTaskMemFree(properties);
  EXPECT_EQ(items[0].propertyErrors, (std::vector<HRESULT>{S_OK, kInvalidPid}));  // no text length on analog
  EXPECT_EQ(items[1].propertyErrors, (std::vector<HRESULT>{S_OK, S_OK}));
  EXPECT_EQ(items[1].values[1], L"8");
}

// IOPCAsyncIO3, completed through the caller's IOPCDataCallback before the
// call returns, as IOPCAsyncIO2 is.
void OpcDa3::AsyncReadsAndWritesOf(IOPCServer& opc) {
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(AddGroup(opc, L"async", group, nullptr, TRUE, 100), S_OK);
  const auto active = AddItems(*group.Get(), {L"PUMPS:DIT:256"});
  const auto inactive = AddItems(*group.Get(), {L"PUMPS:DIT:258"}, FALSE);
  ASSERT_EQ(active.size() + inactive.size(), 2u);
  ComPtr<IOPCAsyncIO3> io;
  ASSERT_EQ(group.As(io), S_OK);
  ComPtr<IOPCAsyncIO2> io2;  // the same object answers the 2.0 identifier
  ASSERT_EQ(group.As(io2), S_OK);
  DWORD cancelId = 0;
  DWORD age = 0;
  OPCHANDLE handles[2] = {active[0].handle, 0xDEAD};
  HRESULT* errors = nullptr;
  // No subscriber: no connection.
  EXPECT_EQ(io->ReadMaxAge(1, handles, &age, 20, &cancelId, &errors), CONNECT_E_NOCONNECTION);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"555"; }, 20s)) << "first value";
  const auto completion = [&](DataCallbackSink::Call::Kind kind, DWORD transaction) {
    std::optional<DataCallbackSink::Call> found;
    for (const auto& call : sink.Calls()) {
      if (call.kind == kind && call.transactionId == transaction) found = call;
    }
    return found;
  };

  DWORD ages[2] = {0, 0};
  EXPECT_EQ(io->ReadMaxAge(2, handles, ages, 21, &cancelId, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], kInvalidHandle);
  CoTaskMemFree(errors);
  EXPECT_NE(cancelId, 0u);
  const auto read = completion(DataCallbackSink::Call::kReadComplete, 21);
  ASSERT_TRUE(read);
  ASSERT_FALSE(read->values.empty());
  EXPECT_EQ(read->values[0], L"555");
  EXPECT_EQ(read->clientHandles[0], 1u);

  OPCHANDLE written[2] = {inactive[0].handle, active[0].handle};
  std::vector<OPCITEMVQT> entries{Vqt(654), Vqt(1, true)};
  errors = nullptr;
  EXPECT_EQ(io->WriteVQT(2, written, entries.data(), 22, &cancelId, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], kNotSupported);
  CoTaskMemFree(errors);
  const auto write = completion(DataCallbackSink::Call::kWriteComplete, 22);
  ASSERT_TRUE(write);
  EXPECT_EQ(write->errors, (std::vector<HRESULT>{S_OK, kNotSupported}));
  EXPECT_TRUE(WaitFor([&] { return Register("0x102") == "654"; }, 10s)) << Register("0x102");
  EXPECT_EQ(Register("0x100"), "555");

  // A refresh by age: one OnDataChange with the client's transaction, of
  // the active items only; none from an inactive group.
  EXPECT_EQ(io->RefreshMaxAge(kCacheAge, 23, &cancelId), S_OK);
  const auto refresh = completion(DataCallbackSink::Call::kDataChange, 23);
  ASSERT_TRUE(refresh);
  EXPECT_EQ(refresh->clientHandles, std::vector<OPCHANDLE>{1});
  EXPECT_EQ(refresh->values, std::vector<std::wstring>{L"555"});
  ComPtr<IOPCGroupStateMgt> state;
  ASSERT_EQ(group.As(state), S_OK);
  BOOL off = FALSE;
  DWORD rate = 0;
  ASSERT_EQ(state->SetState(nullptr, &rate, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(io->RefreshMaxAge(0, 24, &cancelId), E_FAIL);
  EXPECT_FALSE(completion(DataCallbackSink::Call::kDataChange, 24));
  EXPECT_TRUE(EndSubscription(*group.Get(), cookie, sink));
}

// The keep-alives an OnDataChange sink got: calls of no items.
std::vector<DataCallbackSink::Call> KeepAlives(DataCallbackSink& sink) {
  std::vector<DataCallbackSink::Call> found;
  for (const auto& call : sink.Calls()) {
    if (call.kind == DataCallbackSink::Call::kDataChange && call.clientHandles.empty()) found.push_back(call);
  }
  return found;
}

TEST_F(OpcDa3, AQuietSubscriptionGetsKeepAlivesAndABusyOrInactiveOneNone) {
  ComPtr<IOPCItemMgt> group;
  OPCHANDLE serverGroup = 0;
  ASSERT_EQ(AddGroup(*server.Get(), L"kept", group, &serverGroup, TRUE, 100), S_OK);
  const auto added = AddItems(*group.Get(), {L"PUMPS:DIT:256"});
  ASSERT_EQ(added.size(), 1u);
  ComPtr<IOPCGroupStateMgt2> state;
  ASSERT_EQ(group.As(state), S_OK);
  ComPtr<IOPCGroupStateMgt> state1;  // the same object answers the 2.0 identifier
  ASSERT_EQ(group.As(state1), S_OK);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1234"; }, 20s));

  // Off until set; the time comes back as it will be kept.
  DWORD kept = 99;
  ASSERT_EQ(state->GetKeepAlive(&kept), S_OK);
  EXPECT_EQ(kept, 0u);
  Sleep(1000);
  EXPECT_TRUE(KeepAlives(sink).empty());
  DWORD revised = 0;
  EXPECT_EQ(state->SetKeepAlive(400, &revised), S_OK);
  EXPECT_EQ(revised, 400u);
  ASSERT_EQ(state->GetKeepAlive(&kept), S_OK);
  EXPECT_EQ(kept, 400u);

  // Nothing changes: an empty OnDataChange about every 400 ms.
  sink.Clear();
  Sleep(2200);
  auto alive = KeepAlives(sink);
  ASSERT_GE(alive.size(), 3u);
  EXPECT_LE(alive.size(), 6u);
  for (std::size_t k = 0; k < alive.size(); ++k) {
    EXPECT_EQ(alive[k].transactionId, 0u);
    EXPECT_EQ(alive[k].group, 77u);  // the group's client handle, as the test's AddGroup gives it
    EXPECT_EQ(alive[k].masterQuality, S_OK);
    EXPECT_EQ(alive[k].masterError, S_OK);
    if (k > 0) {
      EXPECT_GE(alive[k].tick - alive[k - 1].tick, 300u) << k;
    }
  }

  // A value that changes every update leaves no room for a keep-alive.
  sink.Clear();
  for (int step = 1; step <= 12; ++step) {
    SetRegister(session, "0x100", 2000 + step);
    Sleep(100);
  }
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"2012"; }, 10s));
  const auto calls = sink.Calls();
  ULONGLONG firstChange = 0;
  ULONGLONG lastChange = 0;
  for (const auto& call : calls) {
    if (call.clientHandles.empty()) continue;
    if (firstChange == 0) firstChange = call.tick;
    lastChange = call.tick;
  }
  for (const auto& call : KeepAlives(sink)) {
    EXPECT_TRUE(call.tick < firstChange || call.tick > lastChange) << "a keep-alive among the changes";
  }

  // Inactive, or set back to 0: none.
  BOOL inactive = FALSE;
  DWORD rate = 0;
  ASSERT_EQ(state->SetState(nullptr, &rate, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
  sink.Clear();
  Sleep(1200);
  EXPECT_TRUE(KeepAlives(sink).empty());
  BOOL active = TRUE;
  ASSERT_EQ(state1->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(state->SetKeepAlive(0, &revised), S_OK);
  EXPECT_EQ(revised, 0u);
  sink.Clear();
  Sleep(1200);
  EXPECT_TRUE(KeepAlives(sink).empty());

  // A time below what the poll thread can keep is raised, and said so.
  EXPECT_EQ(state->SetKeepAlive(1, &revised), static_cast<HRESULT>(0x0004000D));
  EXPECT_GT(revised, 1u);
  EXPECT_TRUE(EndSubscription(*group.Get(), cookie, sink));
}

// Continuation points over the largest address space (224 devices, 10000
// poll records), served by the stand-in driver that only keeps the image
// alive: walked in pages of 7 from the root down, every element comes once
// and every page but a branch's last is full; a point used once, one of
// another branch and one that fell out of the server's last 64 are refused.
TEST(OpcDa3Browsing, ContinuationPointsWalkTenThousandItemsOnceEach) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  InstallConfiguration(std::string(temp) + "vrt-opc-da3-browse.vrt", LargestImage(kStatusGood));
  DeleteConfigValue(kDriverExeValue);
  ProbeProcess driver(ProgramDirectory() + "\\dit_probe_driver.exe", "", temp);
  ASSERT_EQ(driver.Expect("serving", 30s), "serving");
  ComApartment apartment;
  ComPtr<IOPCServer> opc;
  ASSERT_EQ(CreateServer(opc), S_OK);
  ComPtr<IOPCBrowse> browse;
  ASSERT_EQ(opc.As(browse), S_OK);
  constexpr DWORD kPage = 7;
  constexpr HRESULT kInvalidPoint = static_cast<HRESULT>(0xC0040403);

  std::vector<std::wstring> branches{L""};
  std::map<std::wstring, int> seenItems;
  std::map<std::wstring, int> seenBranches;
  std::size_t calls = 0;
  std::optional<std::wstring> usedPoint;
  std::wstring usedPointsBranch;
  for (std::size_t b = 0; b < branches.size(); ++b) {
    const std::wstring branch = branches[b];
    std::optional<std::wstring> point;
    do {
      Browsed page = BrowseOnce(*browse.Get(), branch.c_str(), point, kPage, OPC_BROWSE_FILTER_ALL);
      ++calls;
      ASSERT_EQ(page.call, S_OK) << std::string(branch.begin(), branch.end());
      ASSERT_LE(page.elements.size(), kPage);
      if (page.point) {
        ASSERT_EQ(page.elements.size(), kPage) << "a page before the last is full";
        if (!usedPoint && point) {
          usedPoint = point;
          usedPointsBranch = branch;
        }
      }
      for (const Element& element : page.elements) {
        if ((element.flags & OPC_BROWSE_ISITEM) != 0) ++seenItems[element.itemId];
        if ((element.flags & OPC_BROWSE_HASCHILDREN) != 0) {
          if (seenBranches[element.itemId]++ == 0) branches.push_back(element.itemId);
        }
      }
      point = page.point;
    } while (point && !point->empty());
  }
  const std::vector<std::string> addresses = LargestImageAddresses();
  EXPECT_EQ(seenBranches.size(), 224u);
  ASSERT_EQ(seenItems.size(), addresses.size());
  EXPECT_GE(seenItems.size(), 10000u);
  for (const std::string& address : addresses) {
    EXPECT_EQ(seenItems[std::wstring(address.begin(), address.end())], 1) << address;
  }
  for (const auto& [id, times] : seenBranches) EXPECT_EQ(times, 1);
  EXPECT_GT(calls, 10000u / kPage);

  // A point handed in once is gone, in its own branch or another.
  ASSERT_TRUE(usedPoint);
  EXPECT_EQ(BrowseOnce(*browse.Get(), usedPointsBranch.c_str(), usedPoint, kPage, OPC_BROWSE_FILTER_ALL).call,
            kInvalidPoint);
  Browsed first = BrowseOnce(*browse.Get(), L"D0", std::nullopt, kPage, OPC_BROWSE_FILTER_ALL);
  ASSERT_TRUE(first.point);
  EXPECT_EQ(BrowseOnce(*browse.Get(), L"D1", first.point, kPage, OPC_BROWSE_FILTER_ALL).call, kInvalidPoint);
  // The server object keeps its last 64 points: an unused one 64 browses
  // old is stale, while the one just before is still good.
  Browsed oldest = BrowseOnce(*browse.Get(), L"D2", std::nullopt, kPage, OPC_BROWSE_FILTER_ALL);
  Browsed kept = BrowseOnce(*browse.Get(), L"D2", std::nullopt, kPage, OPC_BROWSE_FILTER_ALL);
  ASSERT_TRUE(oldest.point && kept.point);
  for (int k = 0; k < 63; ++k) {
    ASSERT_TRUE(BrowseOnce(*browse.Get(), L"D3", std::nullopt, kPage, OPC_BROWSE_FILTER_ALL).point);
  }
  EXPECT_EQ(BrowseOnce(*browse.Get(), L"D2", oldest.point, kPage, OPC_BROWSE_FILTER_ALL).call, kInvalidPoint);
  Browsed next = BrowseOnce(*browse.Get(), L"D2", kept.point, kPage, OPC_BROWSE_FILTER_ALL);
  EXPECT_EQ(next.call, S_OK);
  ASSERT_FALSE(next.elements.empty());
  EXPECT_EQ(next.elements[0].itemId, L"D2:DIT:" + std::to_wstring(kPage * 8));  // the second page
}

TEST_F(OpcDa3, AnAnalogItemsOwnDeadbandReplacesTheGroupsUntilCleared) {
  // Two views of one register over 0..1000, and a digital one; the group
  // reports every change.
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(AddGroup(*server.Get(), L"bands", group, nullptr, TRUE, 100), S_OK);
  const auto added = AddItems(*group.Get(), {L"PUMPS:DIT:256|NONE,0.00,1000,,a", L"PUMPS:DIT:256|NONE,0.00,1000,,b",
                                             L"PUMPS:DIT:257:0"});
  ASSERT_EQ(added.size(), 3u);
  ComPtr<IOPCItemDeadbandMgt> bands;
  ASSERT_EQ(group.As(bands), S_OK);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1234" && sink.Latest(2) == L"1234"; }, 20s))
      << sink.History(1) << " | " << sink.History(2);

  // 10 % of the span is 100: only the first item takes it; a digital item,
  // a value that is not a percentage and a stale handle are refused.
  OPCHANDLE handles[4] = {added[0].handle, added[2].handle, added[1].handle, 0xDEAD};
  FLOAT percents[4] = {10.0f, 10.0f, 100.5f, 10.0f};
  HRESULT* errors = nullptr;
  EXPECT_EQ(bands->SetItemDeadband(4, handles, percents, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], static_cast<HRESULT>(0xC0040401));  // OPC_E_DEADBANDNOTSUPPORTED
  EXPECT_EQ(errors[2], E_INVALIDARG);
  EXPECT_EQ(errors[3], kInvalidHandle);
  CoTaskMemFree(errors);
  FLOAT* kept = nullptr;
  errors = nullptr;
  EXPECT_EQ(bands->GetItemDeadband(2, handles + 1, &kept, &errors), S_FALSE);  // the digital, the refused
  ASSERT_TRUE(kept != nullptr && errors != nullptr);
  EXPECT_EQ(errors[0], static_cast<HRESULT>(0xC0040400));  // OPC_E_DEADBANDNOTSET
  EXPECT_EQ(errors[1], static_cast<HRESULT>(0xC0040400));
  EXPECT_EQ(kept[1], 0.0f);
  CoTaskMemFree(kept);
  CoTaskMemFree(errors);
  kept = nullptr;
  errors = nullptr;
  EXPECT_EQ(bands->GetItemDeadband(1, handles, &kept, &errors), S_OK);
  ASSERT_TRUE(kept != nullptr && errors != nullptr);
  EXPECT_EQ(kept[0], 10.0f);
  CoTaskMemFree(kept);
  CoTaskMemFree(errors);

  // A move of 99 stays inside the first item's band; the second reports it.
  SetRegister(session, "0x100", 1234 + 99);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(2) == L"1333"; }, 10s)) << "second item: " << sink.History(2);
  Sleep(500);
  EXPECT_EQ(sink.Latest(1), L"1234") << sink.History(1);
  // 101 from what it last reported: outside.
  SetRegister(session, "0x100", 1234 + 101);
  EXPECT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1335"; }, 10s)) << "first item: " << sink.History(1);

  // Cleared, the group's (none) holds again; a second clear finds nothing set.
  errors = nullptr;
  EXPECT_EQ(bands->ClearItemDeadband(1, handles, &errors), S_OK);
  CoTaskMemFree(errors);
  errors = nullptr;
  EXPECT_EQ(bands->ClearItemDeadband(1, handles, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], static_cast<HRESULT>(0xC0040400));
  CoTaskMemFree(errors);
  SetRegister(session, "0x100", 1335 + 5);
  EXPECT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1340"; }, 10s)) << "first item, cleared: " << sink.History(1);
  EXPECT_TRUE(EndSubscription(*group.Get(), cookie, sink));
}

TEST_F(OpcDa3, ReadsWritesAndBrowsingInTheClientsProcess) { ReadsAndWritesOf(*server.Get(), false); }

// A client thread in a single-threaded apartment of this process reaches
// the free-threaded server through the proxies. The asynchronous calls are
// left to the other two: their callbacks would come to this thread as
// messages, and the waits here do not dispatch any.
TEST_F(OpcDa3, ReadsWritesAndBrowsingFromASingleThreadedApartmentInTheClientsProcess) {
  server.Reset();
  HRESULT created = E_FAIL;
  std::thread client([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ComPtr<IOPCServer> staServer;
      created = CreateServer(staServer);
      if (SUCCEEDED(created)) ReadsAndWritesOf(*staServer.Get(), true, false);
    }
    CoUninitialize();
  });
  client.join();
  EXPECT_EQ(created, S_OK);
}

TEST_F(OpcDa3, ReadsWritesAndBrowsingThroughTheProxiesOutOfProcess) {
  server.Reset();
  ComPtr<IOPCServer> remote;
  ASSERT_EQ(CreateServer(remote, CLSCTX_LOCAL_SERVER), S_OK);
  ReadsAndWritesOf(*remote.Get(), true);
}

}  // namespace
}  // namespace vrt::testing
