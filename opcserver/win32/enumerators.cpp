// The snapshot enumerators: IEnumString, IEnumUnknown, IEnumConnectionPoints
// and IEnumOPCItemAttributes over contents copied when they were made. A
// clone shares the contents and copies the position.
#include "enumerators.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "server_rules.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

struct StringContents {
  using Element = LPOLESTR;
  std::vector<std::wstring> items;
  std::size_t Size() const { return items.size(); }
  LPOLESTR Copy(std::size_t index) const { return TaskString(items[index]); }
  static void Discard(LPOLESTR element) { TaskFree(element); }
};

template <typename Interface>
struct InterfaceContents {
  using Element = Interface*;
  std::vector<Interface*> items;
  ~InterfaceContents() {
    for (Interface* item : items) {
      if (item != nullptr) item->Release();
    }
  }
  std::size_t Size() const { return items.size(); }
  Interface* Copy(std::size_t index) const {
    if (items[index] != nullptr) items[index]->AddRef();
    return items[index];
  }
  static void Discard(Interface* element) {
    if (element != nullptr) element->Release();
  }
};

struct ItemContents {
  std::vector<OpcItem::Attributes> items;
  std::size_t Size() const { return items.size(); }
};

// What the four enumerators share: the reference count, the contents and
// the position, Skip, Reset and the copy Clone starts from.
template <typename Interface, typename Contents>
class SnapshotEnumerator : public Interface {
 public:
  SnapshotEnumerator(std::shared_ptr<const Contents> contents, EnumeratorCursor cursor)
      : contents_(std::move(contents)), cursor_(cursor) {}
  virtual ~SnapshotEnumerator() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) return E_NOINTERFACE;
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long count = --references_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    std::lock_guard<std::mutex> guard(lock_);
    return cursor_.Skip(celt) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard<std::mutex> guard(lock_);
    cursor_.Reset();
    return S_OK;
  }

 protected:
  template <typename Concrete>
  HRESULT CloneAs(Interface** copy) {
    if (copy == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    auto* clone = new (std::nothrow) Concrete(contents_, cursor_);
    *copy = clone;
    if (clone == nullptr) return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
  }

  std::shared_ptr<const Contents> contents_;
  EnumeratorCursor cursor_;
  std::mutex lock_;
  std::atomic<long> references_{0};
};

// IEnumString, IEnumUnknown and IEnumConnectionPoints: the caller's array.
template <typename Interface, typename Contents>
class StandardEnumerator final : public SnapshotEnumerator<Interface, Contents> {
  using Base = SnapshotEnumerator<Interface, Contents>;
  using Element = typename Contents::Element;

 public:
  using Base::Base;

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, Element* elements, ULONG* fetched) override {
    if (!EnumeratorCursor::NextArgumentsValid(celt, fetched != nullptr)) return E_POINTER;
    if (fetched != nullptr) *fetched = 0;
    if (elements == nullptr && celt > 0) return E_POINTER;
    std::lock_guard<std::mutex> guard(this->lock_);
    const std::size_t start = this->cursor_.Position();
    const std::size_t available = this->contents_->Size() - start;
    const std::size_t taken = celt < available ? celt : available;
    for (std::size_t k = 0; k < taken; ++k) {
      elements[k] = this->contents_->Copy(start + k);
      if (elements[k] == nullptr && std::is_same_v<Contents, StringContents>) {
        // Out of memory: nothing delivered, the position unchanged.
        for (std::size_t done = 0; done < k; ++done) Contents::Discard(elements[done]);
        return E_OUTOFMEMORY;
      }
    }
    this->cursor_.Take(static_cast<ULONG>(taken));
    if (fetched != nullptr) *fetched = static_cast<ULONG>(taken);
    return taken == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** copy) override {
    return this->template CloneAs<StandardEnumerator>(copy);
  }
};

// IEnumOPCItemAttributes: Next allocates the records it delivers.
class ItemAttributesEnumerator final : public SnapshotEnumerator<IEnumOPCItemAttributes, ItemContents> {
 public:
  using SnapshotEnumerator::SnapshotEnumerator;

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** records, ULONG* fetched) override {
    if (!EnumeratorCursor::NextArgumentsValid(celt, fetched != nullptr)) return E_POINTER;
    if (fetched != nullptr) *fetched = 0;
    if (records == nullptr) return E_POINTER;
    *records = nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t available = contents_->Size() - cursor_.Position();
    const std::size_t wanted = celt < available ? celt : available;
    if (wanted == 0) return celt == 0 ? S_OK : S_FALSE;
    auto* block = static_cast<OPCITEMATTRIBUTES*>(TaskAlloc(sizeof(OPCITEMATTRIBUTES) * wanted));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(static_cast<void*>(block), 0, sizeof(OPCITEMATTRIBUTES) * wanted);
    const std::size_t start = cursor_.Position();
    for (std::size_t k = 0; k < wanted; ++k) {
      const OpcItem::Attributes& item = contents_->items[start + k];
      OPCITEMATTRIBUTES& record = block[k];
      record.szAccessPath = TaskString(item.accessPath);
      record.szItemID = TaskString(item.itemId);
      if (record.szAccessPath == nullptr || record.szItemID == nullptr) {
        for (std::size_t done = 0; done <= k; ++done) {
          TaskFree(block[done].szAccessPath);
          TaskFree(block[done].szItemID);
        }
        TaskFree(block);
        return E_OUTOFMEMORY;
      }
      record.bActive = item.active;
      record.hClient = item.clientHandle;
      record.hServer = item.serverHandle;
      record.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
      record.dwBlobSize = 0;
      record.pBlob = nullptr;
      record.vtRequestedDataType = item.requestedType;
      record.vtCanonicalDataType = item.canonicalType;
      record.dwEUType = OPC_NOENUM;
      VariantInit(&record.vEUInfo);
    }
    cursor_.Take(static_cast<ULONG>(wanted));
    *records = block;
    if (fetched != nullptr) *fetched = static_cast<ULONG>(wanted);
    return wanted == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** copy) override {
    return CloneAs<ItemAttributesEnumerator>(copy);
  }
};

template <typename Concrete, typename Interface, typename Contents>
Interface* Make(std::shared_ptr<Contents> contents) {
  const std::size_t count = contents->Size();
  auto* enumerator = new (std::nothrow) Concrete(std::move(contents), EnumeratorCursor(count));
  if (enumerator == nullptr) return nullptr;
  enumerator->AddRef();
  return enumerator;
}

}  // namespace

IEnumString* NewStringEnumerator(std::vector<std::wstring> strings) {
  auto contents = std::make_shared<StringContents>();
  contents->items = std::move(strings);
  return Make<StandardEnumerator<IEnumString, StringContents>, IEnumString>(std::move(contents));
}

IEnumUnknown* NewUnknownEnumerator(std::vector<IUnknown*> elements) {
  auto contents = std::make_shared<InterfaceContents<IUnknown>>();
  contents->items = std::move(elements);
  return Make<StandardEnumerator<IEnumUnknown, InterfaceContents<IUnknown>>, IEnumUnknown>(std::move(contents));
}

IEnumConnectionPoints* NewConnectionPointEnumerator(std::vector<IConnectionPoint*> elements) {
  auto contents = std::make_shared<InterfaceContents<IConnectionPoint>>();
  contents->items = std::move(elements);
  return Make<StandardEnumerator<IEnumConnectionPoints, InterfaceContents<IConnectionPoint>>, IEnumConnectionPoints>(
      std::move(contents));
}

IEnumOPCItemAttributes* NewItemAttributesEnumerator(std::vector<OpcItem::Attributes> items) {
  auto contents = std::make_shared<ItemContents>();
  contents->items = std::move(items);
  return Make<ItemAttributesEnumerator, IEnumOPCItemAttributes>(std::move(contents));
}

}  // namespace vrt::opc
