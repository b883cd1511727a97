// For C++ clients of VRTSTSR: one point's records kept together, the address
// block pointing at the point's own address and device text. A copy points
// at its own records too (a plain struct copy would point at the original's).
#ifndef VRTSTSR_POINT_H
#define VRTSTSR_POINT_H

#include "vrtstsr_types.h"

struct NioPoint {
  NioAddress address{};
  NioDeviceText deviceText{};
  NioBlock block{0, &address, &deviceText};
  NioValueSpec valueSpec{};

  NioPoint() = default;
  NioPoint(const NioPoint& other)
      : address(other.address), deviceText(other.deviceText), valueSpec(other.valueSpec) {}
  NioPoint& operator=(const NioPoint& other) {
    address = other.address;
    deviceText = other.deviceText;
    valueSpec = other.valueSpec;
    return *this;
  }
};

#endif
