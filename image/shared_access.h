// Loads and stores of fields that other processes change under us. Single
// aligned 8-, 16- and 32-bit accesses are what the processes rely on; these
// keep the compiler from caching or tearing them.
#pragma once

namespace vrt {

template <typename T>
T SharedLoad(const T& field) {
  return *static_cast<const volatile T*>(&field);
}

template <typename T, typename V>
void SharedStore(T& field, V value) {
  *static_cast<volatile T*>(&field) = static_cast<T>(value);
}

}  // namespace vrt
