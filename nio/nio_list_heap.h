// Where the NIO library's enumeration lists come from. A list is handed to
// the client and comes back through nio_Free, so the library must allocate
// and release it on one heap of its own; the DLL supplies that heap, the
// tests a counting one.
#pragma once

#include <cstddef>

namespace vrt {

class NioListHeap {
 public:
  virtual ~NioListHeap() = default;
  // `bytes` zero-filled bytes, or null when they cannot be had.
  virtual char* Allocate(std::size_t bytes) = 0;
  // Releases a block Allocate returned.
  virtual void Release(char* block) = 0;
};

// The library's own heap: the C++ free store, without exceptions.
NioListHeap& DefaultListHeap();

}  // namespace vrt
