// Snapshot enumerators: their contents are copied when they are made.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "opc_da.h"
#include "opc_item.h"

namespace vrt::opc {

// Each returns an enumerator with one reference, or null when out of memory.
IEnumString* NewStringEnumerator(std::vector<std::wstring> strings);
// Takes over one reference on each element.
IEnumUnknown* NewUnknownEnumerator(std::vector<IUnknown*> elements);
IEnumConnectionPoints* NewConnectionPointEnumerator(std::vector<IConnectionPoint*> elements);
IEnumOPCItemAttributes* NewItemAttributesEnumerator(std::vector<OpcItem::Attributes> items);

}  // namespace vrt::opc
