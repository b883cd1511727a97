// The OPC Data Access 1.0A/2.0 and OPC Common interfaces as the server and
// our clients see them: handles, enumerations, quality bits, error codes,
// the records that cross the interfaces, the interface classes in vtable
// order and their identifiers. Written for mingw-w64, i686 and x86_64; the
// layouts are checked here with static_assert for both.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstddef>

// A handle is 32 bits on both targets, so a 64-bit server must keep its
// handles in a table and never hand out pointers as handles.
typedef DWORD OPCHANDLE;

// ---------------------------------------------------------------------------
// Enumerations. The underlying type is fixed to the 4-byte int of the wire:
// a client may pass any 32-bit value, and the server has to be able to hold
// it in the enum type and refuse it.

typedef enum tagOPCDATASOURCE : int { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 } OPCDATASOURCE;

typedef enum tagOPCBROWSETYPE : int { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 } OPCBROWSETYPE;

// "HIERARCHIAL" is how clients spell it; keep it.
typedef enum tagOPCNAMESPACETYPE : int { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 } OPCNAMESPACETYPE;

typedef enum tagOPCBROWSEDIRECTION : int {
  OPC_BROWSE_UP = 1,
  OPC_BROWSE_DOWN = 2,
  OPC_BROWSE_TO = 3
} OPCBROWSEDIRECTION;

typedef enum tagOPCEUTYPE : int { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 } OPCEUTYPE;

// Our server speaks DA 2.0, so the later "communication fault" state (6) is
// deliberately absent: 2.0 clients do not know it.
typedef enum tagOPCSERVERSTATE : int {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5
} OPCSERVERSTATE;

typedef enum tagOPCENUMSCOPE : int {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6
} OPCENUMSCOPE;

static_assert(sizeof(OPCDATASOURCE) == 4 && sizeof(OPCBROWSETYPE) == 4 && sizeof(OPCNAMESPACETYPE) == 4 &&
              sizeof(OPCBROWSEDIRECTION) == 4 && sizeof(OPCEUTYPE) == 4 && sizeof(OPCSERVERSTATE) == 4 &&
              sizeof(OPCENUMSCOPE) == 4);

// ---------------------------------------------------------------------------
// Quality word. Only the low byte is OPC's, laid out QQSSSSLL: two quality
// bits, four sub-status bits, two limit bits. The high byte is ours to keep.

inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;

inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;

// Sub-states of BAD.
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;

// Sub-states of UNCERTAIN.
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;

// Sub-state of GOOD.
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;

inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// Access rights of an item (a bit mask).
inline constexpr DWORD OPC_READABLE = 0x1;
inline constexpr DWORD OPC_WRITEABLE = 0x2;

// ---------------------------------------------------------------------------
// Error and status codes (FACILITY_ITF). Guarded, in case a client program
// already has them from elsewhere.

#ifndef OPC_E_INVALIDHANDLE
#define OPC_E_INVALIDHANDLE ((HRESULT)0xC0040001L)
#endif
#ifndef OPC_E_BADTYPE
#define OPC_E_BADTYPE ((HRESULT)0xC0040004L)
#endif
#ifndef OPC_E_PUBLIC
#define OPC_E_PUBLIC ((HRESULT)0xC0040005L)
#endif
#ifndef OPC_E_BADRIGHTS
#define OPC_E_BADRIGHTS ((HRESULT)0xC0040006L)
#endif
#ifndef OPC_E_UNKNOWNITEMID
#define OPC_E_UNKNOWNITEMID ((HRESULT)0xC0040007L)
#endif
#ifndef OPC_E_INVALIDITEMID
#define OPC_E_INVALIDITEMID ((HRESULT)0xC0040008L)
#endif
#ifndef OPC_E_INVALIDFILTER
#define OPC_E_INVALIDFILTER ((HRESULT)0xC0040009L)
#endif
#ifndef OPC_E_UNKNOWNPATH
#define OPC_E_UNKNOWNPATH ((HRESULT)0xC004000AL)
#endif
#ifndef OPC_E_RANGE
#define OPC_E_RANGE ((HRESULT)0xC004000BL)
#endif
#ifndef OPC_E_DUPLICATENAME
#define OPC_E_DUPLICATENAME ((HRESULT)0xC004000CL)
#endif
#ifndef OPC_S_UNSUPPORTEDRATE
#define OPC_S_UNSUPPORTEDRATE ((HRESULT)0x0004000DL)
#endif
#ifndef OPC_S_CLAMP
#define OPC_S_CLAMP ((HRESULT)0x0004000EL)
#endif
#ifndef OPC_S_INUSE
#define OPC_S_INUSE ((HRESULT)0x0004000FL)
#endif
#ifndef OPC_E_INVALIDCONFIGFILE
#define OPC_E_INVALIDCONFIGFILE ((HRESULT)0xC0040010L)
#endif
#ifndef OPC_E_NOTFOUND
#define OPC_E_NOTFOUND ((HRESULT)0xC0040011L)
#endif
#ifndef OPC_E_INVALID_PID
#define OPC_E_INVALID_PID ((HRESULT)0xC0040203L)
#endif

// Codes of the later DA 3.0 interfaces. Our server does not return them to
// its 2.0 clients; they are here so that a client can name what it gets from
// another server.
#ifndef OPC_E_DEADBANDNOTSET
#define OPC_E_DEADBANDNOTSET ((HRESULT)0xC0040400L)
#endif
#ifndef OPC_E_DEADBANDNOTSUPPORTED
#define OPC_E_DEADBANDNOTSUPPORTED ((HRESULT)0xC0040401L)
#endif
#ifndef OPC_E_NOBUFFERING
#define OPC_E_NOBUFFERING ((HRESULT)0xC0040402L)
#endif
#ifndef OPC_E_INVALIDCONTINUATIONPOINT
#define OPC_E_INVALIDCONTINUATIONPOINT ((HRESULT)0xC0040403L)
#endif
#ifndef OPC_S_DATAQUEUEOVERFLOW
#define OPC_S_DATAQUEUEOVERFLOW ((HRESULT)0x00040404L)
#endif
#ifndef OPC_E_RATENOTSET
#define OPC_E_RATENOTSET ((HRESULT)0xC0040405L)
#endif
#ifndef OPC_E_NOTSUPPORTED
#define OPC_E_NOTSUPPORTED ((HRESULT)0xC0040406L)
#endif
#ifndef OPCCPX_E_TYPE_CHANGED
#define OPCCPX_E_TYPE_CHANGED ((HRESULT)0xC0040407L)
#endif
#ifndef OPCCPX_S_FILTER_NO_DATA
#define OPCCPX_S_FILTER_NO_DATA ((HRESULT)0x0004040BL)
#endif

// ---------------------------------------------------------------------------
// Records that cross the interfaces. Field order and types are the wire's;
// every size and offset is checked for both targets, because a client built
// by another compiler reads these through the same memory.

// One item to add or validate (input of AddItems/ValidateItems).
typedef struct tagOPCITEMDEF {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  WORD wReserved;
} OPCITEMDEF;

// The server's answer per item of AddItems/ValidateItems.
typedef struct tagOPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
} OPCITEMRESULT;

// One value of a synchronous read.
typedef struct tagOPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
} OPCITEMSTATE;

typedef struct tagOPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
} OPCSERVERSTATUS;

// One item as the group's item enumerator describes it.
typedef struct tagOPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
} OPCITEMATTRIBUTES;

// Headers of the DA 1.0 data streams. They hold no pointers, so they are the
// same on both targets. Offsets inside a stream count from the group header.
typedef struct tagOPCGROUPHEADER {
  DWORD dwSize;  // the whole stream, headers included
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
} OPCGROUPHEADER;

// Item header of the stream with time stamps.
typedef struct tagOPCITEMHEADER1 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
  FILETIME ftTimeStampItem;
} OPCITEMHEADER1;

// Item header of the stream without time stamps.
typedef struct tagOPCITEMHEADER2 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
} OPCITEMHEADER2;

// The write-complete stream's group header has no size field.
typedef struct tagOPCGROUPHEADERWRITE {
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
} OPCGROUPHEADERWRITE;

typedef struct tagOPCITEMHEADERWRITE {
  OPCHANDLE hClient;
  HRESULT dwError;
} OPCITEMHEADERWRITE;

#ifdef _WIN64
static_assert(sizeof(OPCITEMDEF) == 48 && alignof(OPCITEMDEF) == 8);
static_assert(offsetof(OPCITEMDEF, szAccessPath) == 0 && offsetof(OPCITEMDEF, szItemID) == 8 &&
              offsetof(OPCITEMDEF, bActive) == 16 && offsetof(OPCITEMDEF, hClient) == 20 &&
              offsetof(OPCITEMDEF, dwBlobSize) == 24 && offsetof(OPCITEMDEF, pBlob) == 32 &&
              offsetof(OPCITEMDEF, vtRequestedDataType) == 40 && offsetof(OPCITEMDEF, wReserved) == 42);

static_assert(sizeof(OPCITEMRESULT) == 24 && alignof(OPCITEMRESULT) == 8);
static_assert(offsetof(OPCITEMRESULT, pBlob) == 16);

static_assert(sizeof(OPCITEMSTATE) == 40 && alignof(OPCITEMSTATE) == 8);

static_assert(sizeof(OPCSERVERSTATUS) == 56 && alignof(OPCSERVERSTATUS) == 8);
static_assert(offsetof(OPCSERVERSTATUS, szVendorInfo) == 48);  // 4 bytes of padding before it

static_assert(sizeof(OPCITEMATTRIBUTES) == 80 && alignof(OPCITEMATTRIBUTES) == 8);
static_assert(offsetof(OPCITEMATTRIBUTES, szAccessPath) == 0 && offsetof(OPCITEMATTRIBUTES, szItemID) == 8 &&
              offsetof(OPCITEMATTRIBUTES, bActive) == 16 && offsetof(OPCITEMATTRIBUTES, hClient) == 20 &&
              offsetof(OPCITEMATTRIBUTES, hServer) == 24 && offsetof(OPCITEMATTRIBUTES, dwAccessRights) == 28 &&
              offsetof(OPCITEMATTRIBUTES, dwBlobSize) == 32 && offsetof(OPCITEMATTRIBUTES, pBlob) == 40 &&
              offsetof(OPCITEMATTRIBUTES, vtRequestedDataType) == 48 &&
              offsetof(OPCITEMATTRIBUTES, vtCanonicalDataType) == 50 &&
              offsetof(OPCITEMATTRIBUTES, dwEUType) == 52 && offsetof(OPCITEMATTRIBUTES, vEUInfo) == 56);
#else
static_assert(sizeof(OPCITEMDEF) == 28 && alignof(OPCITEMDEF) == 4);
static_assert(offsetof(OPCITEMDEF, szAccessPath) == 0 && offsetof(OPCITEMDEF, szItemID) == 4 &&
              offsetof(OPCITEMDEF, bActive) == 8 && offsetof(OPCITEMDEF, hClient) == 12 &&
              offsetof(OPCITEMDEF, dwBlobSize) == 16 && offsetof(OPCITEMDEF, pBlob) == 20 &&
              offsetof(OPCITEMDEF, vtRequestedDataType) == 24 && offsetof(OPCITEMDEF, wReserved) == 26);

static_assert(sizeof(OPCITEMRESULT) == 20 && alignof(OPCITEMRESULT) == 4);
static_assert(offsetof(OPCITEMRESULT, pBlob) == 16);

static_assert(sizeof(OPCITEMSTATE) == 32 && alignof(OPCITEMSTATE) == 8);

static_assert(sizeof(OPCSERVERSTATUS) == 48 && alignof(OPCSERVERSTATUS) == 4);
static_assert(offsetof(OPCSERVERSTATUS, szVendorInfo) == 44);

static_assert(sizeof(OPCITEMATTRIBUTES) == 56 && alignof(OPCITEMATTRIBUTES) == 8);
static_assert(offsetof(OPCITEMATTRIBUTES, szAccessPath) == 0 && offsetof(OPCITEMATTRIBUTES, szItemID) == 4 &&
              offsetof(OPCITEMATTRIBUTES, bActive) == 8 && offsetof(OPCITEMATTRIBUTES, hClient) == 12 &&
              offsetof(OPCITEMATTRIBUTES, hServer) == 16 && offsetof(OPCITEMATTRIBUTES, dwAccessRights) == 20 &&
              offsetof(OPCITEMATTRIBUTES, dwBlobSize) == 24 && offsetof(OPCITEMATTRIBUTES, pBlob) == 28 &&
              offsetof(OPCITEMATTRIBUTES, vtRequestedDataType) == 32 &&
              offsetof(OPCITEMATTRIBUTES, vtCanonicalDataType) == 34 &&
              offsetof(OPCITEMATTRIBUTES, dwEUType) == 36 && offsetof(OPCITEMATTRIBUTES, vEUInfo) == 40);
#endif

// The offsets that are the same on both targets.
static_assert(offsetof(OPCITEMRESULT, hServer) == 0 && offsetof(OPCITEMRESULT, vtCanonicalDataType) == 4 &&
              offsetof(OPCITEMRESULT, wReserved) == 6 && offsetof(OPCITEMRESULT, dwAccessRights) == 8 &&
              offsetof(OPCITEMRESULT, dwBlobSize) == 12);

static_assert(offsetof(OPCITEMSTATE, hClient) == 0 && offsetof(OPCITEMSTATE, ftTimeStamp) == 4 &&
              offsetof(OPCITEMSTATE, wQuality) == 12 && offsetof(OPCITEMSTATE, wReserved) == 14 &&
              offsetof(OPCITEMSTATE, vDataValue) == 16);

static_assert(offsetof(OPCSERVERSTATUS, ftStartTime) == 0 && offsetof(OPCSERVERSTATUS, ftCurrentTime) == 8 &&
              offsetof(OPCSERVERSTATUS, ftLastUpdateTime) == 16 && offsetof(OPCSERVERSTATUS, dwServerState) == 24 &&
              offsetof(OPCSERVERSTATUS, dwGroupCount) == 28 && offsetof(OPCSERVERSTATUS, dwBandWidth) == 32 &&
              offsetof(OPCSERVERSTATUS, wMajorVersion) == 36 && offsetof(OPCSERVERSTATUS, wMinorVersion) == 38 &&
              offsetof(OPCSERVERSTATUS, wBuildNumber) == 40 && offsetof(OPCSERVERSTATUS, wReserved) == 42);

static_assert(sizeof(OPCGROUPHEADER) == 20 && alignof(OPCGROUPHEADER) == 4);
static_assert(offsetof(OPCGROUPHEADER, dwSize) == 0 && offsetof(OPCGROUPHEADER, dwItemCount) == 4 &&
              offsetof(OPCGROUPHEADER, hClientGroup) == 8 && offsetof(OPCGROUPHEADER, dwTransactionID) == 12 &&
              offsetof(OPCGROUPHEADER, hrStatus) == 16);

static_assert(sizeof(OPCITEMHEADER1) == 20 && alignof(OPCITEMHEADER1) == 4);
static_assert(offsetof(OPCITEMHEADER1, hClient) == 0 && offsetof(OPCITEMHEADER1, dwValueOffset) == 4 &&
              offsetof(OPCITEMHEADER1, wQuality) == 8 && offsetof(OPCITEMHEADER1, wReserved) == 10 &&
              offsetof(OPCITEMHEADER1, ftTimeStampItem) == 12);

static_assert(sizeof(OPCITEMHEADER2) == 12 && alignof(OPCITEMHEADER2) == 4);
static_assert(offsetof(OPCITEMHEADER2, hClient) == 0 && offsetof(OPCITEMHEADER2, dwValueOffset) == 4 &&
              offsetof(OPCITEMHEADER2, wQuality) == 8 && offsetof(OPCITEMHEADER2, wReserved) == 10);

static_assert(sizeof(OPCGROUPHEADERWRITE) == 16 && alignof(OPCGROUPHEADERWRITE) == 4);
static_assert(offsetof(OPCGROUPHEADERWRITE, dwItemCount) == 0 && offsetof(OPCGROUPHEADERWRITE, hClientGroup) == 4 &&
              offsetof(OPCGROUPHEADERWRITE, dwTransactionID) == 8 && offsetof(OPCGROUPHEADERWRITE, hrStatus) == 12);

static_assert(sizeof(OPCITEMHEADERWRITE) == 8 && alignof(OPCITEMHEADERWRITE) == 4);
static_assert(offsetof(OPCITEMHEADERWRITE, hClient) == 0 && offsetof(OPCITEMHEADERWRITE, dwError) == 4);

// ---------------------------------------------------------------------------
// Identifiers. One definition each (inline variables), usable wherever an
// IID is expected.

inline constexpr IID IID_IOPCServer = {0x39c13a4d, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCServerPublicGroups = {
    0x39c13a4e, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCBrowseServerAddressSpace = {
    0x39c13a4f, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCGroupStateMgt = {
    0x39c13a50, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCPublicGroupStateMgt = {
    0x39c13a51, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCSyncIO = {0x39c13a52, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCAsyncIO = {0x39c13a53, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCItemMgt = {0x39c13a54, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IEnumOPCItemAttributes = {
    0x39c13a55, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCDataCallback = {
    0x39c13a70, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCAsyncIO2 = {0x39c13a71, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};
inline constexpr IID IID_IOPCItemProperties = {
    0x39c13a72, 0x011e, 0x11d0, {0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3}};

inline constexpr IID IID_IOPCShutdown = {0xf31dfde1, 0x07b6, 0x11d2, {0xb2, 0xd8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb}};
inline constexpr IID IID_IOPCCommon = {0xf31dfde2, 0x07b6, 0x11d2, {0xb2, 0xd8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb}};

// The server browser's interfaces and class (client side only; no
// declarations of the interfaces here).
inline constexpr IID IID_IOPCServerList = {0x13486d50, 0x4821, 0x11d2, {0xa4, 0x94, 0x3c, 0xb3, 0x06, 0xc1, 0x00, 0x00}};
inline constexpr IID IID_IOPCServerList2 = {
    0x9dd0b56c, 0xad9e, 0x43ee, {0x83, 0x05, 0x48, 0x7f, 0x31, 0x88, 0xbf, 0x7a}};
inline constexpr IID IID_IOPCEnumGUID = {0x55c382c8, 0x21c7, 0x4e88, {0x96, 0xc1, 0xbe, 0xcf, 0xb1, 0xe3, 0xf4, 0x83}};
inline constexpr CLSID CLSID_OPCServerList = {
    0x13486d51, 0x4821, 0x11d2, {0xa4, 0x94, 0x3c, 0xb3, 0x06, 0xc1, 0x00, 0x00}};

// Component categories a DA server registers itself in, so that browsing
// clients find it.
inline constexpr GUID CATID_OPCDAServer10 = {
    0x63d5f430, 0xcfe4, 0x11d1, {0xb2, 0xc8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb}};
inline constexpr GUID CATID_OPCDAServer20 = {
    0x63d5f432, 0xcfe4, 0x11d1, {0xb2, 0xc8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb}};

// ---------------------------------------------------------------------------
// Interfaces. Each derives from IUnknown alone and declares its methods in
// vtable order; no destructors, because a virtual one would add slots.
// Parameters marked "out, callee allocates" come back in CoTaskMemAlloc'd
// memory that the caller frees with CoTaskMemFree.

struct IOPCServer : public IUnknown {
  // pTimeBias and pPercentDeadband may be null ("not supplied").
  virtual HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                             OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                             DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                             REFIID riid, LPUNKNOWN* ppUnk) = 0;
  // *ppString: out, callee allocates.
  virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
  // One status record, callee allocates; szVendorInfo is a block of its own.
  virtual HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
  // riid: IID_IEnumString for names, IID_IEnumUnknown for the groups.
  virtual HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IOPCServerPublicGroups : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

struct IOPCBrowseServerAddressSpace : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) = 0;
  virtual HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                                     VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                                     LPENUMSTRING* ppIEnumString) = 0;
  // szItemDataID is non-const on the wire; *szItemID: out, callee allocates.
  virtual HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
  virtual HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) = 0;
};

struct IOPCGroupStateMgt : public IUnknown {
  // *ppName: out, callee allocates.
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                             FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                             OPCHANDLE* phServerGroup) = 0;
  // Only pRevisedUpdateRate is an output; every other pointer may be null
  // and then leaves that setting as it is.
  virtual HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IOPCPublicGroupStateMgt : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveToPublic() = 0;
};

struct IOPCSyncIO : public IUnknown {
  // Both arrays: out, callee allocates dwCount entries; the caller clears
  // every vDataValue before freeing them.
  virtual HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                          HRESULT** ppErrors) = 0;
};

// The DA 1.0 asynchronous path: the results travel as data streams to the
// IAdviseSink that dwConnection names.
struct IOPCAsyncIO : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                         OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                          VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) = 0;
};

struct IOPCItemMgt : public IUnknown {
  // Result arrays: out, callee allocates dwCount entries (and each pBlob).
  virtual HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                             HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                                  OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                                   HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                                     HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                                 HRESULT** ppErrors) = 0;
  // riid: IID_IEnumOPCItemAttributes.
  virtual HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IEnumOPCItemAttributes : public IUnknown {
  // Unlike the usual enumerators, Next allocates the array itself
  // (*pceltFetched entries); the caller passes no buffer.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

// The client's sink. Every argument is the server's and stays the server's:
// a client copies what it keeps. hGroup is the group's client handle.
struct IOPCDataCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                                 HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                                 VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                                 HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                                   HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                                   VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                                   HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                                    DWORD dwCount, OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

// Here the client picks the transaction id and the server answers with a
// cancel id (the reverse of IOPCAsyncIO).
struct IOPCAsyncIO2 : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                         DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                          DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) = 0;
};

// szItemID is a plain non-const pointer in all three methods.
struct IOPCItemProperties : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                             DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                             VARTYPE** ppvtDataTypes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                      VARIANT** ppvData, HRESULT** ppErrors) = 0;
  // Each element of *ppszNewItemIDs is a separate block (null where it failed).
  virtual HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                  LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;
};

struct IOPCCommon : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
  // Texts in the locale set with SetLocaleID.
  virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) = 0;
};

// The client's sink the server calls through its connection point.
struct IOPCShutdown : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) = 0;
};

// __uuidof for the interfaces above (mingw-w64's emulation).
__CRT_UUID_DECL(IOPCServer, 0x39c13a4d, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCServerPublicGroups, 0x39c13a4e, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCBrowseServerAddressSpace, 0x39c13a4f, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad,
                0xb3)
__CRT_UUID_DECL(IOPCGroupStateMgt, 0x39c13a50, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCPublicGroupStateMgt, 0x39c13a51, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCSyncIO, 0x39c13a52, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCAsyncIO, 0x39c13a53, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCItemMgt, 0x39c13a54, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IEnumOPCItemAttributes, 0x39c13a55, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCDataCallback, 0x39c13a70, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCAsyncIO2, 0x39c13a71, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCItemProperties, 0x39c13a72, 0x011e, 0x11d0, 0x96, 0x75, 0x00, 0x20, 0xaf, 0xd8, 0xad, 0xb3)
__CRT_UUID_DECL(IOPCShutdown, 0xf31dfde1, 0x07b6, 0x11d2, 0xb2, 0xd8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb)
__CRT_UUID_DECL(IOPCCommon, 0xf31dfde2, 0x07b6, 0x11d2, 0xb2, 0xd8, 0x00, 0x60, 0x08, 0x3b, 0xa1, 0xfb)
