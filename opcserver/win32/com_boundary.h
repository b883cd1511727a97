// What every COM method of the server does at its boundary: no C++
// exception crosses it.
#pragma once

#include <windows.h>

#include <new>

namespace vrt::opc {

template <typename Body>
HRESULT Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace vrt::opc
