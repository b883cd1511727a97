// The values, qualities, time stamps and errors of one callback to a
// client (OnDataChange, OnReadComplete), in the parallel arrays the
// callback takes; the VARIANTs are cleared when it goes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "group_cycle.h"
#include "opc_da.h"
#include "opc_item.h"

namespace vrt::opc {

static_assert(sizeof(HRESULT) == sizeof(std::int32_t));

struct ItemValues {
  explicit ItemValues(std::size_t count)
      : clientHandles(count, 0), values(count), qualities(count, 0), stamps(count), errors(count, S_OK) {
    for (VARIANT& value : values) VariantInit(&value);
  }
  ~ItemValues() {
    for (VARIANT& value : values) VariantClear(&value);
  }
  ItemValues(const ItemValues&) = delete;
  ItemValues& operator=(const ItemValues&) = delete;

  // Entry `index` read from `item`.
  void ReadInto(std::size_t index, OpcItem& item, DWORD source) {
    clientHandles[index] = item.ClientHandle();
    errors[index] = item.Read(source, &values[index], &qualities[index], &stamps[index]);
  }
  // The master quality and error of the first `count` entries.
  MasterResults Master(std::size_t count) const {
    return MasterResultsOf(qualities.data(), reinterpret_cast<const std::int32_t*>(errors.data()), count);
  }

  std::vector<OPCHANDLE> clientHandles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
};

}  // namespace vrt::opc
