// Compile-time checks of opc_da.h and the headers widl makes from our IDL,
// beyond the layouts opc_da.h checks itself: every identifier against its
// registry text (where a mistyped byte would make QueryInterface fail
// silently at run time) and the shape of the interface classes. The IID_
// variables come from the same IDL attribute as __uuidof.
#include "opc_da.h"

#include <type_traits>

namespace {

constexpr bool SameGuid(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

constexpr unsigned HexDigit(char c) {
  return c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0')
         : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
         : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                                : throw "not a hex digit";
}

constexpr unsigned long Hex(const char* text, int digits) {
  unsigned long value = 0;
  for (int i = 0; i < digits; ++i) value = value * 16 + HexDigit(text[i]);
  return value;
}

// "39C13A4D-011E-11D0-9675-0020AFD8ADB3", as the registry writes it.
template <std::size_t N>
constexpr GUID GuidFromText(const char (&text)[N]) {
  static_assert(N == 37, "a GUID is written with 36 characters");
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') throw "misplaced dash";
  GUID guid{};
  guid.Data1 = static_cast<decltype(guid.Data1)>(Hex(text, 8));
  guid.Data2 = static_cast<unsigned short>(Hex(text + 9, 4));
  guid.Data3 = static_cast<unsigned short>(Hex(text + 14, 4));
  guid.Data4[0] = static_cast<unsigned char>(Hex(text + 19, 2));
  guid.Data4[1] = static_cast<unsigned char>(Hex(text + 21, 2));
  for (int i = 0; i < 6; ++i) guid.Data4[2 + i] = static_cast<unsigned char>(Hex(text + 24 + 2 * i, 2));
  return guid;
}

static_assert(SameGuid(__uuidof(IOPCServer), GuidFromText("39C13A4D-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCServerPublicGroups), GuidFromText("39C13A4E-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCBrowseServerAddressSpace), GuidFromText("39C13A4F-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCGroupStateMgt), GuidFromText("39C13A50-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCPublicGroupStateMgt), GuidFromText("39C13A51-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCSyncIO), GuidFromText("39C13A52-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCAsyncIO), GuidFromText("39C13A53-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCItemMgt), GuidFromText("39C13A54-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IEnumOPCItemAttributes), GuidFromText("39C13A55-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCDataCallback), GuidFromText("39C13A70-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCAsyncIO2), GuidFromText("39C13A71-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCItemProperties), GuidFromText("39C13A72-011E-11D0-9675-0020AFD8ADB3")));
static_assert(SameGuid(__uuidof(IOPCShutdown), GuidFromText("F31DFDE1-07B6-11D2-B2D8-0060083BA1FB")));
static_assert(SameGuid(__uuidof(IOPCCommon), GuidFromText("F31DFDE2-07B6-11D2-B2D8-0060083BA1FB")));
static_assert(SameGuid(__uuidof(IOPCItemDeadbandMgt), GuidFromText("5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F")));
static_assert(SameGuid(__uuidof(IOPCItemSamplingMgt), GuidFromText("3E22D313-F08B-41A5-86C8-95E95CB49FFC")));
static_assert(SameGuid(__uuidof(IOPCBrowse), GuidFromText("39227004-A18F-4B57-8B0A-5235670F4468")));
static_assert(SameGuid(__uuidof(IOPCItemIO), GuidFromText("85C0B427-2893-4CBC-BD78-E5FC5146F08F")));
static_assert(SameGuid(__uuidof(IOPCSyncIO2), GuidFromText("730F5F0F-55B1-4C81-9E18-FF8A0904E1FA")));
static_assert(SameGuid(__uuidof(IOPCAsyncIO3), GuidFromText("0967B97B-36EF-423E-B6F8-6BFF1E40D39D")));
static_assert(SameGuid(__uuidof(IOPCGroupStateMgt2), GuidFromText("8E368666-D72E-4F78-87ED-647611C61C9F")));
static_assert(SameGuid(IID_IOPCServerList, GuidFromText("13486D50-4821-11D2-A494-3CB306C10000")));
static_assert(SameGuid(IID_IOPCServerList2, GuidFromText("9DD0B56C-AD9E-43EE-8305-487F3188BF7A")));
static_assert(SameGuid(IID_IOPCEnumGUID, GuidFromText("55C382C8-21C7-4E88-96C1-BECFB1E3F483")));
static_assert(SameGuid(CLSID_OPCServerList, GuidFromText("13486D51-4821-11D2-A494-3CB306C10000")));
static_assert(SameGuid(CATID_OPCDAServer10, GuidFromText("63D5F430-CFE4-11D1-B2C8-0060083BA1FB")));
static_assert(SameGuid(CATID_OPCDAServer20, GuidFromText("63D5F432-CFE4-11D1-B2C8-0060083BA1FB")));
static_assert(SameGuid(CATID_OPCDAServer30, GuidFromText("CC603642-66D7-48F1-B69A-B625E73652D7")));

// An interface class: derived from IUnknown, abstract, nothing but the
// vtable pointer, and no destructor slot.
template <typename Interface>
constexpr bool IsInterface() {
  return std::is_base_of_v<IUnknown, Interface> && std::is_abstract_v<Interface> &&
         sizeof(Interface) == sizeof(void*) && !std::has_virtual_destructor_v<Interface>;
}

#define VRT_CHECK_INTERFACE(name) static_assert(IsInterface<name>(), #name " shape")

VRT_CHECK_INTERFACE(IOPCServer);
VRT_CHECK_INTERFACE(IOPCServerPublicGroups);
VRT_CHECK_INTERFACE(IOPCBrowseServerAddressSpace);
VRT_CHECK_INTERFACE(IOPCGroupStateMgt);
VRT_CHECK_INTERFACE(IOPCPublicGroupStateMgt);
VRT_CHECK_INTERFACE(IOPCSyncIO);
VRT_CHECK_INTERFACE(IOPCAsyncIO);
VRT_CHECK_INTERFACE(IOPCItemMgt);
VRT_CHECK_INTERFACE(IEnumOPCItemAttributes);
VRT_CHECK_INTERFACE(IOPCDataCallback);
VRT_CHECK_INTERFACE(IOPCAsyncIO2);
VRT_CHECK_INTERFACE(IOPCItemProperties);
VRT_CHECK_INTERFACE(IOPCCommon);
VRT_CHECK_INTERFACE(IOPCShutdown);
VRT_CHECK_INTERFACE(IOPCItemDeadbandMgt);
VRT_CHECK_INTERFACE(IOPCItemSamplingMgt);
VRT_CHECK_INTERFACE(IOPCBrowse);
VRT_CHECK_INTERFACE(IOPCItemIO);
VRT_CHECK_INTERFACE(IOPCSyncIO2);
VRT_CHECK_INTERFACE(IOPCAsyncIO3);
VRT_CHECK_INTERFACE(IOPCGroupStateMgt2);

// Three DA 3.0 interfaces extend their 2.0 one: its slots come first, so one
// pointer answers both identifiers.
static_assert(std::is_base_of_v<IOPCSyncIO, IOPCSyncIO2> && std::is_base_of_v<IOPCAsyncIO2, IOPCAsyncIO3> &&
              std::is_base_of_v<IOPCGroupStateMgt, IOPCGroupStateMgt2>);

#undef VRT_CHECK_INTERFACE

// __uuidof also takes a pointer to the interface, as IID_PPV_ARGS uses it.
static_assert(SameGuid(__uuidof(IOPCServer*), __uuidof(IOPCServer)));

// Failure codes must read as failures and the S_ codes as successes.
static_assert(FAILED(OPC_E_INVALIDHANDLE) && FAILED(OPC_E_INVALID_PID) && FAILED(OPC_E_NOTFOUND));
static_assert(SUCCEEDED(OPC_S_UNSUPPORTEDRATE) && SUCCEEDED(OPC_S_CLAMP) && SUCCEEDED(OPC_S_INUSE));
static_assert(static_cast<unsigned long>(OPC_E_UNKNOWNITEMID) == 0xC0040007UL);
static_assert(FAILED(OPC_E_DEADBANDNOTSET) && FAILED(OPC_E_INVALIDCONTINUATIONPOINT) && FAILED(OPC_E_NOTSUPPORTED) &&
              SUCCEEDED(OPC_S_DATAQUEUEOVERFLOW));

// The named quality states are sub-states of the right quality.
static_assert((OPC_QUALITY_LOCAL_OVERRIDE & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD);
static_assert((OPC_QUALITY_EGU_EXCEEDED & OPC_QUALITY_MASK) == OPC_QUALITY_UNCERTAIN);
static_assert((OPC_QUALITY_OUT_OF_SERVICE & OPC_QUALITY_MASK) == OPC_QUALITY_BAD);

}  // namespace
