// The OPC Data Access 1.0A/2.0/3.0 and OPC Common interfaces as the server and
// our clients see them. The handles, enumerations, records and interface
// classes with their identifiers come from our IDL (opcserver/idl, compiled
// by widl into opcda.h and opccomn.h, which also give the proxy/stub code);
// this header adds what IDL does not carry: quality bits, error codes, the
// DA 1.0 stream headers, the component categories and the server browser's
// identifiers. Written for mingw-w64, i686 and x86_64; the layouts are
// checked here with static_assert for both.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstddef>

#include "opc_quality.h"
#include "opccomn.h"
#include "opcda.h"

// A handle is 32 bits on both targets, so a 64-bit server must keep its
// handles in a table and never hand out pointers as handles.
static_assert(sizeof(OPCHANDLE) == 4);
// The enumerations are the wire's 4-byte ints.
static_assert(sizeof(OPCDATASOURCE) == 4 && sizeof(OPCBROWSETYPE) == 4 && sizeof(OPCNAMESPACETYPE) == 4 &&
              sizeof(OPCBROWSEDIRECTION) == 4 && sizeof(OPCEUTYPE) == 4 && sizeof(OPCSERVERSTATE) == 4 &&
              sizeof(OPCENUMSCOPE) == 4);

// The quality word and its bits: opc_quality.h, which the server's
// platform-neutral core shares.

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

// Codes of the DA 3.0 interfaces. The server returns them only through those
// interfaces, never to a client that uses the 2.0 ones alone.
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

// DA 3.0: the server's state when it runs but has lost its data source (a
// 2.0 client does not know it, so the enumeration leaves it out), the bits
// of a browse element, and the quality of an item that has had no value yet.
inline constexpr DWORD OPC_STATUS_COMM_FAULT = 6;
inline constexpr DWORD OPC_BROWSE_HASCHILDREN = 0x01;
inline constexpr DWORD OPC_BROWSE_ISITEM = 0x02;

// ---------------------------------------------------------------------------
// Records that cross the interfaces (from the IDL). Every size and offset is
// checked for both targets, because a client built by another compiler reads
// these through the same memory.

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

static_assert(sizeof(OPCITEMVQT) == 48 && alignof(OPCITEMVQT) == 8);
static_assert(offsetof(OPCITEMVQT, bQualitySpecified) == 24 && offsetof(OPCITEMVQT, wQuality) == 28 &&
              offsetof(OPCITEMVQT, wReserved) == 30 && offsetof(OPCITEMVQT, bTimeStampSpecified) == 32 &&
              offsetof(OPCITEMVQT, dwReserved) == 36 && offsetof(OPCITEMVQT, ftTimeStamp) == 40);

static_assert(sizeof(OPCITEMPROPERTY) == 56 && alignof(OPCITEMPROPERTY) == 8);
static_assert(offsetof(OPCITEMPROPERTY, szItemID) == 8 && offsetof(OPCITEMPROPERTY, szDescription) == 16 &&
              offsetof(OPCITEMPROPERTY, vValue) == 24 && offsetof(OPCITEMPROPERTY, hrErrorID) == 48 &&
              offsetof(OPCITEMPROPERTY, dwReserved) == 52);

static_assert(sizeof(OPCITEMPROPERTIES) == 24 && alignof(OPCITEMPROPERTIES) == 8);
static_assert(offsetof(OPCITEMPROPERTIES, pItemProperties) == 8 && offsetof(OPCITEMPROPERTIES, dwReserved) == 16);

static_assert(sizeof(OPCBROWSEELEMENT) == 48 && alignof(OPCBROWSEELEMENT) == 8);
static_assert(offsetof(OPCBROWSEELEMENT, szItemID) == 8 && offsetof(OPCBROWSEELEMENT, dwFlagValue) == 16 &&
              offsetof(OPCBROWSEELEMENT, dwReserved) == 20 && offsetof(OPCBROWSEELEMENT, ItemProperties) == 24);
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

static_assert(sizeof(OPCITEMVQT) == 40 && alignof(OPCITEMVQT) == 8);
static_assert(offsetof(OPCITEMVQT, bQualitySpecified) == 16 && offsetof(OPCITEMVQT, wQuality) == 20 &&
              offsetof(OPCITEMVQT, wReserved) == 22 && offsetof(OPCITEMVQT, bTimeStampSpecified) == 24 &&
              offsetof(OPCITEMVQT, dwReserved) == 28 && offsetof(OPCITEMVQT, ftTimeStamp) == 32);

static_assert(sizeof(OPCITEMPROPERTY) == 40 && alignof(OPCITEMPROPERTY) == 8);
static_assert(offsetof(OPCITEMPROPERTY, szItemID) == 8 && offsetof(OPCITEMPROPERTY, szDescription) == 12 &&
              offsetof(OPCITEMPROPERTY, vValue) == 16 && offsetof(OPCITEMPROPERTY, hrErrorID) == 32 &&
              offsetof(OPCITEMPROPERTY, dwReserved) == 36);

static_assert(sizeof(OPCITEMPROPERTIES) == 16 && alignof(OPCITEMPROPERTIES) == 4);
static_assert(offsetof(OPCITEMPROPERTIES, pItemProperties) == 8 && offsetof(OPCITEMPROPERTIES, dwReserved) == 12);

static_assert(sizeof(OPCBROWSEELEMENT) == 32 && alignof(OPCBROWSEELEMENT) == 4);
static_assert(offsetof(OPCBROWSEELEMENT, szItemID) == 4 && offsetof(OPCBROWSEELEMENT, dwFlagValue) == 8 &&
              offsetof(OPCBROWSEELEMENT, dwReserved) == 12 && offsetof(OPCBROWSEELEMENT, ItemProperties) == 16);
#endif

// DA 3.0 offsets that are the same on both targets.
static_assert(sizeof(OPCBROWSEFILTER) == 4);
static_assert(offsetof(OPCITEMVQT, vDataValue) == 0 && offsetof(OPCITEMPROPERTY, vtDataType) == 0 &&
              offsetof(OPCITEMPROPERTY, wReserved) == 2 && offsetof(OPCITEMPROPERTY, dwPropertyID) == 4 &&
              offsetof(OPCITEMPROPERTIES, hrErrorID) == 0 && offsetof(OPCITEMPROPERTIES, dwNumProperties) == 4 &&
              offsetof(OPCBROWSEELEMENT, szName) == 0);

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
// Identifiers the IDL does not declare. The interfaces' own (IID_IOPCServer
// ...) are defined once, from the IDL, in the generated opcda_i.c and
// opccomn_i.c.

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
inline constexpr GUID CATID_OPCDAServer30 = {
    0xcc603642, 0x66d7, 0x48f1, {0xb6, 0x9a, 0xb6, 0x25, 0xe7, 0x36, 0x52, 0xd7}};
