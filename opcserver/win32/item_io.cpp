// IOPCItemIO: reads and writes by item ID, without a group. An item ID that
// an active item of one of the server's groups bears is read through that
// item, so its held value counts for the maximum age; any other is read
// through a temporary item, which has held nothing yet and so reads the
// driver's image (0xFFFFFFFF reads it too: the image is the cache every
// group reads). Values come in the item's canonical type.
#include "item_values.h"
#include "opc_item.h"
#include "opc_results.h"
#include "opc_server.h"

namespace vrt::opc {

HRESULT OpcServer::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                        WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
  return ReadEntries(dwCount, pszItemIDs != nullptr && pdwMaxAge != nullptr, ppvValues, ppwQualities, ppftTimeStamps,
                     ppErrors, [&](DWORD k, VARIANT* value, WORD* quality, FILETIME* stamp) {
                       HRESULT found = E_INVALIDARG;
                       auto item = pszItemIDs[k] == nullptr ? nullptr : ItemById(pszItemIDs[k], true, &found);
                       return item == nullptr ? found : item->ReadMaxAge(pdwMaxAge[k], false, value, quality, stamp);
                     });
}

HRESULT OpcServer::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
  return EntryErrors(dwCount, pszItemIDs != nullptr && pItemVQT != nullptr, ppErrors, [&](DWORD k) {
    HRESULT found = E_INVALIDARG;
    auto item = pszItemIDs[k] == nullptr ? nullptr : ItemById(pszItemIDs[k], false, &found);
    return item == nullptr                   ? found
           : !WritesValueOnly(pItemVQT[k]) ? OPC_E_NOTSUPPORTED
                                             : item->Write(pItemVQT[k].vDataValue);
  });
}

}  // namespace vrt::opc
