// The server's address space: browsing the driver's devices and poll
// records through the NIO library's enumerations, and item properties.
#include <windows.h>

#include <cstring>
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
    VARIANT value;
    WORD quality = 0;
    FILETIME stamp{};
    const HRESULT read = item->Read(OPC_DS_DEVICE, &value, &quality, &stamp);
    const OpcItem::Description description = item->Properties();
    const bool analog = description.kind == NIO_KIND_ANALOG;
    bool anyFailed = false;
    for (DWORD k = 0; k < dwCount; ++k) {
      VARIANT& out = values[k];
      VariantInit(&out);
      errors[k] = S_OK;
      const DWORD id = pdwPropertyIDs[k];
      // Units and labels are kept only by the kinds that list them.
      if ((id == 100 || id == 106 || id == 107) && !PropertyListed(description.kind, id)) {
        errors[k] = static_cast<HRESULT>(kInvalidPropertyId);
        anyFailed = true;
        continue;
      }
      switch (id) {
        case 1: out.vt = VT_I2; out.iVal = static_cast<SHORT>(description.canonicalType); break;
        case 2: VariantCopy(&out, &value); errors[k] = read; break;
        case 3: out.vt = VT_I2; out.iVal = static_cast<SHORT>(quality); break;
        case 4: {
          WORD date = 0, time = 0;
          double variantTime = 0.0;
          FileTimeToDosDateTime(&stamp, &date, &time);
          DosDateTimeToVariantTime(date, time, &variantTime);
          out.vt = VT_DATE;
          out.date = variantTime;
          break;
        }
        case 5: out.vt = VT_I4; out.lVal = OPC_READABLE | OPC_WRITEABLE; break;
        case 6: out.vt = VT_R4; out.fltVal = kScanRateProperty; break;
        case 100: out = Bstr(description.units); break;
        case 102: out.vt = VT_R8; out.dblVal = analog ? double{description.eguLow} + description.eguSpan : 1.0; break;
        case 103: out.vt = VT_R8; out.dblVal = analog ? double{description.eguLow} : 0.0; break;
        case 106: out = Bstr(description.closeLabel); break;
        case 107: out = Bstr(description.openLabel); break;
        case 5000: out = Bstr(description.signalConditioning); break;
        case 5001: out = Bstr(description.hardwareOptions); break;
        case 5002: out.vt = VT_I4; out.lVal = description.stringLength; break;
        default: errors[k] = static_cast<HRESULT>(kInvalidPropertyId); break;
      }
      if (FAILED(errors[k])) anyFailed = true;
    }
    VariantClear(&value);
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

}  // namespace vrt::opc
