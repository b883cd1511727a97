#include "nio_list_heap.h"

#include <new>

namespace vrt {
namespace {

class FreeStoreHeap final : public NioListHeap {
 public:
  char* Allocate(std::size_t bytes) override { return new (std::nothrow) char[bytes](); }
  void Release(char* block) override { delete[] block; }
};

}  // namespace

NioListHeap& DefaultListHeap() {
  static FreeStoreHeap heap;
  return heap;
}

}  // namespace vrt
