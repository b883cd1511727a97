// The server's address space: browsing the driver's devices and poll
// records through the NIO library's enumerations (DA 2.0's browse position,
// DA 3.0's stateless IOPCBrowse with continuation points), and item
// properties.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "browse.h"
#include "com_boundary.h"
#include "enumerators.h"
#include "item_id.h"
#include "item_properties.h"
#include "opc_group.h"
#include "opc_item.h"
#include "opc_server.h"
#include "vrtopc_module.h"
#include "vrtstsr.h"

namespace vrt::opc {

namespace {

// The names of one NIO enumeration; false when the library reports a failure.
template <typename Enumerate>
bool EnumerationNames(Enumerate enumerate, std::vector<std::wstring>& names) {
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  char* list = nullptr;
  enumerate(&status, &count, &list);
  if (status != 0) {
    if (list != nullptr) nio_Free(list);
    return false;
  }
  for (std::uint32_t k = 0; k < count && list != nullptr; ++k) {
    const char* slot = list + std::size_t{k} * NIO_ENUMERATION_SLOT;
    names.push_back(Widen(std::string(slot, strnlen(slot, NIO_ENUMERATION_SLOT))));
  }
  if (list != nullptr) nio_Free(list);
  return true;
}

bool DeviceNames(std::vector<std::wstring>& names) {
  return EnumerationNames([](std::uint16_t* status, std::uint32_t* count, char** list) {
    nio_Enum_Devices(status, count, list);
  }, names);
}

bool PollRecordNames(const std::wstring& device, std::vector<std::wstring>& names) {
  const std::string ansi = Narrow(device);
  return EnumerationNames([&](std::uint16_t* status, std::uint32_t* count, char** list) {
    nio_Enum_PollRecs(status, ansi.c_str(), count, list);
  }, names);
}

VARIANT Bstr(const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(Widen(text).c_str());
  return value;
}

// An item read once from the driver, and its description: the values of
// its properties.
class ItemReading {
 public:
  explicit ItemReading(OpcItem& item) {
    // Read first: a good read settles the item's canonical type.
    read_ = item.Read(OPC_DS_DEVICE, &value_, &quality_, &stamp_);
    description_ = item.Properties();
  }
  ~ItemReading() { VariantClear(&value_); }
  ItemReading(const ItemReading&) = delete;
  ItemReading& operator=(const ItemReading&) = delete;

  const OpcItem::Description& Description() const { return description_; }

  // Property `id` into `out` (initialised here); its error.
  HRESULT Property(DWORD id, VARIANT* out) const {
    VariantInit(out);
    // Units and labels are kept only by the kinds that list them.
    if ((id == 100 || id == 106 || id == 107) && !PropertyListed(description_.kind, id)) {
      return static_cast<HRESULT>(kInvalidPropertyId);
    }
    const bool analog = description_.kind == NIO_KIND_ANALOG;
    switch (id) {
      case 1: out->vt = VT_I2; out->iVal = static_cast<SHORT>(description_.canonicalType); return S_OK;
      case 2: VariantCopy(out, const_cast<VARIANT*>(&value_)); return read_;
      case 3: out->vt = VT_I2; out->iVal = static_cast<SHORT>(quality_); return S_OK;
      case 4: {
        WORD date = 0, time = 0;
        double variantTime = 0.0;
        FileTimeToDosDateTime(&stamp_, &date, &time);
        DosDateTimeToVariantTime(date, time, &variantTime);
        out->vt = VT_DATE;
        out->date = variantTime;
        return S_OK;
      }
      case 5: out->vt = VT_I4; out->lVal = OPC_READABLE | OPC_WRITEABLE; return S_OK;
      case 6: out->vt = VT_R4; out->fltVal = kScanRateProperty; return S_OK;
      case 100: *out = Bstr(description_.units); return S_OK;
      case 102: out->vt = VT_R8; out->dblVal = analog ? double{description_.eguLow} + description_.eguSpan : 1.0; return S_OK;
      case 103: out->vt = VT_R8; out->dblVal = analog ? double{description_.eguLow} : 0.0; return S_OK;
      case 106: *out = Bstr(description_.closeLabel); return S_OK;
      case 107: *out = Bstr(description_.openLabel); return S_OK;
      case 5000: *out = Bstr(description_.signalConditioning); return S_OK;
      case 5001: *out = Bstr(description_.hardwareOptions); return S_OK;
      case 5002: out->vt = VT_I4; out->lVal = description_.stringLength; return S_OK;
      default: return static_cast<HRESULT>(kInvalidPropertyId);
    }
  }

 private:
  OpcItem::Description description_;
  VARIANT value_;
  WORD quality_ = 0;
  FILETIME stamp_{};
  HRESULT read_ = S_OK;
};

}  // namespace

// IOPCBrowseServerAddressSpace

HRESULT OpcServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (pNameSpaceType == nullptr) return E_INVALIDARG;
  *pNameSpaceType = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT OpcServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  if (szString == nullptr) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const std::wstring name = szString;
    if (name.empty()) {
      if (dwBrowseDirection == OPC_BROWSE_TO || (dwBrowseDirection == OPC_BROWSE_UP && browsingDevice_)) {
        browsingDevice_ = false;
        browseDevice_.clear();
        return S_OK;
      }
      return dwBrowseDirection == OPC_BROWSE_UP ? E_FAIL : E_INVALIDARG;
    }
    if ((dwBrowseDirection != OPC_BROWSE_DOWN && dwBrowseDirection != OPC_BROWSE_TO) || browsingDevice_) {
      return E_INVALIDARG;
    }
    if (nio_find_dev(Narrow(name).c_str()) == 0) return E_INVALIDARG;
    browsingDevice_ = true;
    browseDevice_ = name;
    return S_OK;
  });
}

HRESULT OpcServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                    VARTYPE vtDataTypeFilter, DWORD, LPENUMSTRING* ppIEnumString) {
  if (ppIEnumString == nullptr) return E_INVALIDARG;
  *ppIEnumString = nullptr;
  if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF && dwBrowseFilterType != OPC_FLAT) {
    return E_INVALIDARG;
  }
  return Guarded([&]() -> HRESULT {
    bool inside;
    std::wstring device;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      inside = browsingDevice_;
      device = browseDevice_;
    }
    const BrowseFilter filter(szFilterCriteria == nullptr ? L"" : szFilterCriteria);
    std::vector<std::wstring> listed;
    if (BrowseTypeAccepted(vtDataTypeFilter)) {
      std::vector<std::wstring> names;
      if (dwBrowseFilterType == OPC_FLAT) {
        if (nio_num_pollblocks() == 0) return E_FAIL;
        if (inside) {
          if (!PollRecordNames(device, listed)) return E_FAIL;
        } else {
          std::vector<std::wstring> devices;
          if (!DeviceNames(devices)) return E_FAIL;
          for (const std::wstring& each : devices) {
            std::vector<std::wstring> records;
            if (!PollRecordNames(each, records)) return E_FAIL;
            for (const std::wstring& record : records) listed.push_back(each + L":" + record);
          }
        }
      } else if (dwBrowseFilterType == OPC_BRANCH && !inside) {
        if (!DeviceNames(names)) return E_FAIL;
      } else if (dwBrowseFilterType == OPC_LEAF && inside) {
        if (!PollRecordNames(device, names)) return E_FAIL;
      }
      for (const std::wstring& name : names) {
        if (filter.Matches(name)) listed.push_back(name);
      }
    }
    const bool found = !listed.empty();
    IEnumString* enumerator = NewStringEnumerator(std::move(listed));
    if (enumerator == nullptr) return E_OUTOFMEMORY;
    *ppIEnumString = enumerator;
    return found ? S_OK : S_FALSE;
  });
}

HRESULT OpcServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (szItemDataID == nullptr || szItemID == nullptr) return E_INVALIDARG;
  *szItemID = nullptr;
  return Guarded([&]() -> HRESULT {
    std::wstring id;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      id = BrowsedItemId(browsingDevice_, browseDevice_, szItemDataID);
    }
    *szItemID = TaskString(id);
    return *szItemID == nullptr ? E_OUTOFMEMORY : S_OK;
  });
}

HRESULT OpcServer::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
  if (ppIEnumString != nullptr) *ppIEnumString = nullptr;
  return E_NOTIMPL;
}

// IOPCItemProperties

std::shared_ptr<OpcItem> OpcServer::ItemById(LPCWSTR itemId, bool activeOnly, HRESULT* result) {
  *result = S_OK;
  const std::wstring id = itemId;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (auto& [handle, group] : groups_) {
      if (auto item = group->FindItemById(id, activeOnly)) return item;
    }
  }
  // Not in a group: a temporary item, parsed as AddItems would, without messages.
  if (!ItemIdLengthAccepted(id.size())) {
    *result = static_cast<HRESULT>(kInvalidItemId);
    return nullptr;
  }
  auto item = std::make_shared<OpcItem>();
  OPCITEMDEF definition{};
  definition.szItemID = const_cast<LPWSTR>(itemId);
  definition.bActive = TRUE;
  definition.hClient = 1;
  definition.vtRequestedDataType = VT_EMPTY;
  OPCITEMRESULT parsed{};
  *result = item->Parse(definition, false, 0, parsed);
  return SUCCEEDED(*result) ? item : nullptr;
}

HRESULT OpcServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                            LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
  if (pdwCount != nullptr) *pdwCount = 0;
  if (ppPropertyIDs != nullptr) *ppPropertyIDs = nullptr;
  if (ppDescriptions != nullptr) *ppDescriptions = nullptr;
  if (ppvtDataTypes != nullptr) *ppvtDataTypes = nullptr;
  if (szItemID == nullptr || pdwCount == nullptr || ppPropertyIDs == nullptr || ppDescriptions == nullptr ||
      ppvtDataTypes == nullptr) {
    return E_INVALIDARG;
  }
  return Guarded([&]() -> HRESULT {
    HRESULT found = S_OK;
    auto item = ItemById(szItemID, false, &found);
    if (item == nullptr) return found;
    const auto table = PropertiesOf(item->Properties().kind);
    const std::size_t count = table.size();
    auto* ids = static_cast<DWORD*>(TaskAlloc(sizeof(DWORD) * count));
    auto* descriptions = static_cast<LPWSTR*>(TaskAlloc(sizeof(LPWSTR) * count));
    auto* types = static_cast<VARTYPE*>(TaskAlloc(sizeof(VARTYPE) * count));
    bool complete = count == 0 || (ids != nullptr && descriptions != nullptr && types != nullptr);
    for (std::size_t k = 0; complete && k < count; ++k) {
      ids[k] = table[k].id;
      types[k] = table[k].type;
      descriptions[k] = TaskString(Widen(table[k].description));
      if (descriptions[k] == nullptr) {
        for (std::size_t done = 0; done < k; ++done) TaskFree(descriptions[done]);
        complete = false;
      }
    }
    if (!complete) {
      TaskFree(ids);
      TaskFree(descriptions);
      TaskFree(types);
      return E_OUTOFMEMORY;
    }
    *pdwCount = static_cast<DWORD>(count);
    *ppPropertyIDs = ids;
    *ppDescriptions = descriptions;
    *ppvtDataTypes = types;
    return S_OK;
  });
}

HRESULT OpcServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                     HRESULT** ppErrors) {
  if (ppvData != nullptr) *ppvData = nullptr;
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (szItemID == nullptr || dwCount == 0 || pdwPropertyIDs == nullptr || ppvData == nullptr || ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  return Guarded([&]() -> HRESULT {
    HRESULT found = S_OK;
    auto item = ItemById(szItemID, false, &found);
    if (item == nullptr) return found;
    auto* values = static_cast<VARIANT*>(TaskAlloc(sizeof(VARIANT) * dwCount));
    auto* errors = static_cast<HRESULT*>(TaskAlloc(sizeof(HRESULT) * dwCount));
    if (values == nullptr || errors == nullptr) {
      TaskFree(values);
      TaskFree(errors);
      return E_OUTOFMEMORY;
    }
    // The value, quality and time stamp properties read the driver once.
    const ItemReading reading(*item);
    bool anyFailed = false;
    for (DWORD k = 0; k < dwCount; ++k) {
      errors[k] = reading.Property(pdwPropertyIDs[k], &values[k]);
      if (FAILED(errors[k])) anyFailed = true;
    }
    *ppvData = values;
    *ppErrors = errors;
    return anyFailed ? S_FALSE : S_OK;
  });
}

HRESULT OpcServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                 HRESULT** ppErrors) {
  if (ppszNewItemIDs != nullptr) *ppszNewItemIDs = nullptr;
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (szItemID == nullptr || dwCount == 0 || pdwPropertyIDs == nullptr || ppszNewItemIDs == nullptr ||
      ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  return E_NOTIMPL;
}

// IOPCBrowse

namespace {

void FreeProperties(OPCITEMPROPERTIES& properties) {
  for (DWORD k = 0; properties.pItemProperties != nullptr && k < properties.dwNumProperties; ++k) {
    OPCITEMPROPERTY& property = properties.pItemProperties[k];
    TaskFree(property.szItemID);
    TaskFree(property.szDescription);
    VariantClear(&property.vValue);
  }
  TaskFree(properties.pItemProperties);
  properties = {};
}

// The properties of one item into `out`: every property of its kind, or
// the listed ones, with their values when asked. Properties are not items
// of their own here, so their item IDs stay null. False when memory ran out.
bool FillProperties(OpcItem* item, HRESULT itemError, bool all, DWORD count, const DWORD* ids, bool withValues,
                    OPCITEMPROPERTIES& out) {
  out = {};
  out.hrErrorID = itemError;
  if (item == nullptr) return true;
  std::optional<ItemReading> reading;
  if (withValues) reading.emplace(*item);
  const OpcItem::Description description = reading ? reading->Description() : item->Properties();
  const auto table = PropertiesOf(description.kind);
  std::vector<DWORD> wanted;
  if (all) {
    for (const PropertyDefinition& definition : table) wanted.push_back(definition.id);
  } else {
    wanted.assign(ids, ids + count);
  }
  if (wanted.empty()) return true;
  out.pItemProperties = static_cast<OPCITEMPROPERTY*>(TaskAlloc(sizeof(OPCITEMPROPERTY) * wanted.size()));
  if (out.pItemProperties == nullptr) return false;
  std::memset(static_cast<void*>(out.pItemProperties), 0, sizeof(OPCITEMPROPERTY) * wanted.size());
  out.dwNumProperties = static_cast<DWORD>(wanted.size());
  bool anyFailed = false;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    OPCITEMPROPERTY& property = out.pItemProperties[k];
    property.dwPropertyID = wanted[k];
    VariantInit(&property.vValue);
    const PropertyDefinition* definition = nullptr;
    for (const PropertyDefinition& each : table) {
      if (each.id == wanted[k]) definition = &each;
    }
    if (definition == nullptr) {
      property.hrErrorID = static_cast<HRESULT>(kInvalidPropertyId);
      anyFailed = true;
      continue;
    }
    property.vtDataType = definition->type;
    property.szDescription = TaskString(Widen(definition->description));
    if (property.szDescription == nullptr) {
      FreeProperties(out);
      return false;
    }
    property.hrErrorID = reading ? reading->Property(wanted[k], &property.vValue) : S_OK;
    if (FAILED(property.hrErrorID)) anyFailed = true;
  }
  if (anyFailed && SUCCEEDED(out.hrErrorID)) out.hrErrorID = S_FALSE;
  return true;
}

}  // namespace

std::uint32_t OpcServer::NewBrowseServerId() {
  static std::atomic<std::uint32_t> servers{0};
  return ++servers;
}

HRESULT OpcServer::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                 DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                 OPCITEMPROPERTIES** ppItemProperties) {
  if (ppItemProperties != nullptr) *ppItemProperties = nullptr;
  if (dwItemCount == 0 || pszItemIDs == nullptr || ppItemProperties == nullptr ||
      (dwPropertyCount != 0 && pdwPropertyIDs == nullptr)) {
    return E_INVALIDARG;
  }
  return Guarded([&]() -> HRESULT {
    auto* all = static_cast<OPCITEMPROPERTIES*>(TaskAlloc(sizeof(OPCITEMPROPERTIES) * dwItemCount));
    if (all == nullptr) return E_OUTOFMEMORY;
    std::memset(static_cast<void*>(all), 0, sizeof(OPCITEMPROPERTIES) * dwItemCount);
    bool anyFailed = false;
    for (DWORD k = 0; k < dwItemCount; ++k) {
      HRESULT found = E_INVALIDARG;
      auto item = pszItemIDs[k] == nullptr ? nullptr : ItemById(pszItemIDs[k], false, &found);
      // No property IDs: all of them.
      if (!FillProperties(item.get(), found, dwPropertyCount == 0, dwPropertyCount, pdwPropertyIDs,
                          bReturnPropertyValues != FALSE, all[k])) {
        for (DWORD done = 0; done <= k; ++done) FreeProperties(all[done]);
        TaskFree(all);
        return E_OUTOFMEMORY;
      }
      if (all[k].hrErrorID != S_OK) anyFailed = true;
    }
    *ppItemProperties = all;
    return anyFailed ? S_FALSE : S_OK;
  });
}

HRESULT OpcServer::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                          OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                          BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                          DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                          OPCBROWSEELEMENT** ppBrowseElements) {
  if (pbMoreElements != nullptr) *pbMoreElements = FALSE;
  if (pdwCount != nullptr) *pdwCount = 0;
  if (ppBrowseElements != nullptr) *ppBrowseElements = nullptr;
  if (pszContinuationPoint == nullptr || pbMoreElements == nullptr || pdwCount == nullptr ||
      ppBrowseElements == nullptr || (dwPropertyCount != 0 && pdwPropertyIDs == nullptr) ||
      dwBrowseFilter < OPC_BROWSE_FILTER_ALL || dwBrowseFilter > OPC_BROWSE_FILTER_ITEMS) {
    return E_INVALIDARG;
  }
  // The point given is used up whatever happens; a new one, or none, goes back.
  const std::wstring given = *pszContinuationPoint == nullptr ? L"" : *pszContinuationPoint;
  TaskFree(*pszContinuationPoint);
  *pszContinuationPoint = nullptr;
  return Guarded([&]() -> HRESULT {
    // The branch's elements: devices at the root (branches), a device's
    // poll records (items); an item has none.
    struct Element {
      std::wstring name;
      std::wstring itemId;
      DWORD flags;
    };
    const std::wstring branch = szItemID == nullptr ? L"" : szItemID;
    std::vector<Element> elements;
    std::vector<std::wstring> names;
    if (branch.empty()) {
      if (!DeviceNames(names)) return E_FAIL;
      for (const std::wstring& name : names) elements.push_back({name, name, OPC_BROWSE_HASCHILDREN});
    } else if (nio_find_dev(Narrow(branch).c_str()) != 0) {
      if (!PollRecordNames(branch, names)) return E_FAIL;
      for (const std::wstring& name : names) {
        elements.push_back({name, BrowsedItemId(true, branch, name), OPC_BROWSE_ISITEM});
      }
    } else {
      HRESULT found = S_OK;
      if (ItemById(branch.c_str(), false, &found) == nullptr) return found;
    }
    const BrowseFilter nameFilter(szElementNameFilter == nullptr ? L"" : szElementNameFilter);
    std::vector<Element> listed;
    std::vector<std::wstring> listedNames;
    for (Element& element : elements) {
      const bool kept = dwBrowseFilter == OPC_BROWSE_FILTER_ALL ||
                        (dwBrowseFilter == OPC_BROWSE_FILTER_BRANCHES && (element.flags & OPC_BROWSE_HASCHILDREN)) ||
                        (dwBrowseFilter == OPC_BROWSE_FILTER_ITEMS && (element.flags & OPC_BROWSE_ISITEM));
      if (kept && nameFilter.Matches(element.name)) {
        listedNames.push_back(element.name);
        listed.push_back(std::move(element));
      }
    }

    // Where this page starts, and a point for the rest.
    const BrowseContinuations::Browse browse{branch, static_cast<std::uint32_t>(dwBrowseFilter),
                                             szElementNameFilter == nullptr ? L"" : szElementNameFilter,
                                             szVendorFilter == nullptr ? L"" : szVendorFilter};
    const std::uint64_t fingerprint = ListingFingerprint(listedNames);
    std::size_t start = 0;
    if (!given.empty()) {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      const std::optional<std::size_t> next = continuations_.Take(given, browse, fingerprint);
      if (!next) return static_cast<HRESULT>(OPC_E_INVALIDCONTINUATIONPOINT);
      start = *next;
    }
    const BrowsePage page = PageOf(listed.size(), start, dwMaxElementsReturned);
    const std::size_t count = page.end - page.begin;

    auto* out = count == 0 ? nullptr : static_cast<OPCBROWSEELEMENT*>(TaskAlloc(sizeof(OPCBROWSEELEMENT) * count));
    if (count != 0 && out == nullptr) return E_OUTOFMEMORY;
    if (out != nullptr) std::memset(static_cast<void*>(out), 0, sizeof(OPCBROWSEELEMENT) * count);
    const auto release = [&](std::size_t filled) {
      for (std::size_t k = 0; k < filled; ++k) {
        TaskFree(out[k].szName);
        TaskFree(out[k].szItemID);
        FreeProperties(out[k].ItemProperties);
      }
      TaskFree(out);
    };
    const bool properties = bReturnAllProperties != FALSE || dwPropertyCount != 0;
    for (std::size_t k = 0; k < count; ++k) {
      const Element& element = listed[page.begin + k];
      OPCBROWSEELEMENT& each = out[k];
      each.dwFlagValue = element.flags;
      each.szName = TaskString(element.name);
      each.szItemID = TaskString(element.itemId);
      bool filled = each.szName != nullptr && each.szItemID != nullptr;
      if (filled && properties && (element.flags & OPC_BROWSE_ISITEM) != 0) {
        HRESULT found = S_OK;
        auto item = ItemById(element.itemId.c_str(), false, &found);
        filled = FillProperties(item.get(), found, bReturnAllProperties != FALSE, dwPropertyCount, pdwPropertyIDs,
                                bReturnPropertyValues != FALSE, each.ItemProperties);
      }
      if (!filled) {
        release(k + 1);
        return E_OUTOFMEMORY;
      }
    }
    if (page.more) {
      std::wstring point;
      {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        point = continuations_.Issue(browse, page.end, fingerprint);
      }
      *pszContinuationPoint = TaskString(point);
      if (*pszContinuationPoint == nullptr) {
        release(count);
        return E_OUTOFMEMORY;
      }
    }
    *pdwCount = static_cast<DWORD>(count);
    *ppBrowseElements = out;
    return S_OK;
  });
}

}  // namespace vrt::opc
