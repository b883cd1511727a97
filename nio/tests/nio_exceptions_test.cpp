// Change notification through the image: registration under keys with the
// exception types' rules, text points' continuation entries, unregistration,
// and changes set by the driver reaching nio_fetch and cleared by nio_read.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "nio_data.h"
#include "nio_exceptions.h"
#include "nio_test_plant.h"

namespace vrt {
namespace {

using testing::kPumpSigned;
using testing::kPumpUnsigned;
using testing::kTextRecord;
using testing::kValveDigital;
using testing::kValveSigned32;
using testing::Plant;
using testing::Point;

using KeyBytes = std::array<std::uint8_t, 4>;

// A key with its byte 1 set too, to show that byte is never stored.
KeyBytes MakeKey(std::uint8_t byte, std::uint16_t word) {
  return {byte, 0x5A, static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)};
}

class Notification : public Plant {
 protected:
  void SetUp() override {
    Plant::SetUp();
    nio_enable_options(process, kOptionNotification);
  }

  std::uint16_t On(Point& point, const KeyBytes& key, int length = 0) {
    std::uint16_t status = 0xEEEE;
    nio_on(process, &status, &point.block, &point.valueSpec, key.data(), length);
    return status;
  }
  std::uint16_t Off(Point& point, const KeyBytes& key) {
    std::uint16_t status = 0xEEEE;
    nio_off(process, &status, &point.block, &point.valueSpec, key.data());
    return status;
  }
  DitExceptionEntry& Entry(int record, int entry) {
    return reinterpret_cast<DitExceptionEntry*>(Image().Area(record, kExceptionArea))[entry];
  }
  bool Owns(int record, int entry, std::uint8_t byte, std::uint16_t word) {
    const DitExceptionEntry& held = Entry(record, entry);
    return held.ownerByte == byte && held.ownerWord == word;
  }
  bool IsFree(int record, int entry) { return Owns(record, entry, 0, 0); }
  // What the driver does when a registered point's value changes.
  void DriverMarksChange(int record, int entry) {
    Entry(record, entry).changed = 1;
    Runtime(record).pendingExceptions = static_cast<std::uint16_t>(Runtime(record).pendingExceptions + 1);
  }
  // Keys fetched, as (key byte, key word) pairs packed in 32 bits.
  std::vector<std::uint32_t> Fetch(int maxCount) {
    std::vector<std::uint8_t> keys(4 * static_cast<std::size_t>(maxCount) + 4, 0xEE);
    std::uint16_t status = 0xEEEE;
    int count = -1;
    nio_fetch(process, &status, keys.data(), maxCount, &count);
    EXPECT_EQ(status, 0);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, maxCount);
    EXPECT_EQ(keys[4 * static_cast<std::size_t>(maxCount)], 0xEE) << "wrote beyond the array";
    std::vector<std::uint32_t> result;
    for (int k = 0; k < count; ++k) {
      const std::uint8_t* item = keys.data() + 4 * k;
      EXPECT_EQ(item[1], 0xEE) << "byte 1 of an item is not the library's";
      std::uint16_t word;
      std::memcpy(&word, item + 2, 2);
      result.push_back(static_cast<std::uint32_t>(item[0]) << 16 | word);
    }
    return result;
  }
  static std::uint32_t Packed(std::uint8_t byte, std::uint16_t word) { return static_cast<std::uint32_t>(byte) << 16 | word; }

  float ReadAnalog(Point& point) {
    float number = 0;
    NioValue value{0, 4, 0, &number};
    std::uint16_t status = 0xEEEE;
    nio_read(process, &status, &point.block, &point.valueSpec, &value);
    EXPECT_EQ(status, 0);
    return number;
  }

  NioProcess process{client.mapping, client.platform};
};

TEST_F(Notification, NothingIsRegisteredWhileTheOptionIsOff) {
  EXPECT_EQ(nio_enable_options(process, 0x06), 0x06);
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  EXPECT_EQ(On(point, MakeKey(7, 0x1234)), 0);
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));
  EXPECT_EQ(point.deviceText.notificationFlag, 0);
  // Off does nothing either, even for a registered entry.
  EXPECT_EQ(nio_enable_options(process, kOptionNotification), kOptionNotification);
  ASSERT_EQ(On(point, MakeKey(7, 0x1234)), kNioRegistered);
  nio_enable_options(process, 0);
  EXPECT_EQ(Off(point, MakeKey(7, 0x1234)), 0);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 7, 0x1234));
}

TEST_F(Notification, AnAnalogPointIsRegisteredOnceUnderItsKey) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  EXPECT_EQ(On(point, MakeKey(7, 0x1234)), kNioRegistered);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 7, 0x1234));
  EXPECT_EQ(Entry(kPumpUnsigned, 5).changed, 0);
  EXPECT_EQ(point.deviceText.notificationFlag, 1);
  EXPECT_TRUE(IsFree(kPumpUnsigned, 4));
  EXPECT_TRUE(IsFree(kPumpUnsigned, 6));

  Point again;
  ASSERT_EQ(Parse(again, "PUMP1:DIT:105"), 0);
  EXPECT_EQ(On(again, MakeKey(8, 0x0001)), kNioEntryOwned);
  EXPECT_EQ(On(again, MakeKey(7, 0x1234)), kNioEntryOwned);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 7, 0x1234));
}

TEST_F(Notification, ANullKeyClearsThePointsFlagAndRegistersNothing) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  point.deviceText.notificationFlag = 1;
  std::uint16_t status = 0xEEEE;
  nio_on(process, &status, &point.block, &point.valueSpec, nullptr, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(point.deviceText.notificationFlag, 0);
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));
}

TEST_F(Notification, KeysThatLookLikeAFreeOrContinuationEntryAreRefused) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  EXPECT_EQ(On(point, MakeKey(0, 0)), kNioKindMismatch);
  EXPECT_EQ(On(point, MakeKey(0, 0xFFFF)), kNioKindMismatch);
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));
  // A key byte of 0 with another word is stored as given.
  EXPECT_EQ(On(point, MakeKey(0, 0x0042)), kNioRegistered);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 0, 0x0042));
}

TEST_F(Notification, ExceptionTypesAcceptOnlyTheirKindsOfPoint) {
  Point onDisabled;
  ASSERT_EQ(Parse(onDisabled, "PUMP1:DIT:201"), 0);
  EXPECT_EQ(On(onDisabled, MakeKey(1, 1)), kNioExceptionsDisabled);

  Point digitalOnAnalog;
  ASSERT_EQ(Parse(digitalOnAnalog, "PUMP1:DIT:105:3", kValueKindDigital), 0);
  EXPECT_EQ(On(digitalOnAnalog, MakeKey(1, 1)), kNioKindMismatch);

  Point analogOnDigital;
  ASSERT_EQ(Parse(analogOnDigital, "VALVE2:DIT:1"), 0);
  EXPECT_EQ(On(analogOnDigital, MakeKey(1, 1)), kNioKindMismatch);

  Point digitalOnText;
  ASSERT_EQ(Parse(digitalOnText, "TEXTDEV:DIT:1:0", kValueKindDigital), 0);
  EXPECT_EQ(On(digitalOnText, MakeKey(1, 1)), kNioKindMismatch);

  for (int entry = 0; entry < 8; ++entry) {
    EXPECT_TRUE(IsFree(kTextRecord, entry));
    EXPECT_TRUE(IsFree(kPumpUnsigned, entry));
  }
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));

  Point unresolved;
  unresolved.address.resolution = 0;
  EXPECT_EQ(On(unresolved, MakeKey(1, 1)), kNioAddressError);
}

TEST_F(Notification, DigitalPointsHaveOneEntryPerBit) {
  Point bit0;
  Point bit1;
  ASSERT_EQ(Parse(bit0, "VALVE2:DIT:1:0", kValueKindDigital), 0);
  ASSERT_EQ(Parse(bit1, "VALVE2:DIT:1:1", kValueKindDigital), 0);
  EXPECT_EQ(On(bit0, MakeKey(1, 10)), kNioRegistered);
  EXPECT_EQ(On(bit1, MakeKey(2, 20)), kNioRegistered);
  EXPECT_TRUE(Owns(kValveDigital, 16, 1, 10));
  EXPECT_TRUE(Owns(kValveDigital, 17, 2, 20));
  // Pair records have one entry per two registers, before any element offset.
  Point pair;
  ASSERT_EQ(Parse(pair, "VALVE2:DIT:35"), 0);
  pair.address.elementOffset = 1;
  EXPECT_EQ(On(pair, MakeKey(3, 30)), kNioRegistered);
  EXPECT_TRUE(Owns(kValveSigned32, 2, 3, 30));
}

TEST_F(Notification, ATextPointOwnsContinuationEntriesAllOrNothing) {
  Point text;
  ASSERT_EQ(Parse(text, "TEXTDEV:DIT:0", kValueKindText), 0);
  EXPECT_EQ(On(text, MakeKey(4, 40), 5), kNioRegistered);
  EXPECT_TRUE(Owns(kTextRecord, 0, 4, 40));
  EXPECT_TRUE(Owns(kTextRecord, 1, 0, 0xFFFF));
  EXPECT_TRUE(Owns(kTextRecord, 2, 0, 0xFFFF));
  EXPECT_TRUE(IsFree(kTextRecord, 3));

  // Entry 6 is owned: a 5-character text at register 4 needs 4, 5 and 6.
  Point owner;
  ASSERT_EQ(Parse(owner, "TEXTDEV:DIT:6", kValueKindText), 0);
  ASSERT_EQ(On(owner, MakeKey(6, 60), 1), kNioRegistered);
  Point blocked;
  ASSERT_EQ(Parse(blocked, "TEXTDEV:DIT:4", kValueKindText), 0);
  EXPECT_EQ(On(blocked, MakeKey(5, 50), 5), kNioEntryOwned);
  EXPECT_TRUE(IsFree(kTextRecord, 4));
  EXPECT_TRUE(IsFree(kTextRecord, 5));
  EXPECT_TRUE(Owns(kTextRecord, 6, 6, 60));

  // Continuations stop at the end of the area.
  Point last;
  ASSERT_EQ(Parse(last, "TEXTDEV:DIT:7", kValueKindText), 0);
  EXPECT_EQ(On(last, MakeKey(7, 70), 40), kNioRegistered);
  EXPECT_TRUE(Owns(kTextRecord, 7, 7, 70));
  EXPECT_TRUE(IsFree(kTextRecord, 4));
  ASSERT_EQ(Off(last, MakeKey(7, 70)), 0);
  EXPECT_EQ(On(last, MakeKey(7, 71), std::numeric_limits<int>::max()), kNioRegistered);
  EXPECT_TRUE(Owns(kTextRecord, 7, 7, 71));
  // A length of 0 or less marks no continuation.
  ASSERT_EQ(Off(text, MakeKey(4, 40)), 0);
  EXPECT_EQ(On(text, MakeKey(4, 41), -3), kNioRegistered);
  EXPECT_TRUE(IsFree(kTextRecord, 1));
}

TEST_F(Notification, OffReleasesOnlyTheOwnersEntry) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  ASSERT_EQ(On(point, MakeKey(7, 0x1234)), kNioRegistered);
  EXPECT_EQ(Off(point, MakeKey(7, 0x1235)), 0);
  EXPECT_EQ(Off(point, MakeKey(8, 0x1234)), 0);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 7, 0x1234));
  EXPECT_EQ(Off(point, MakeKey(7, 0x1234)), 0);
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));
  EXPECT_EQ(point.deviceText.notificationFlag, 1);  // left as it was
  // Free again for another key.
  EXPECT_EQ(On(point, MakeKey(9, 1)), kNioRegistered);
}

TEST_F(Notification, OffOfATextPointReleasesItsContinuationsAndItsPendingChange) {
  Point text;
  ASSERT_EQ(Parse(text, "TEXTDEV:DIT:0", kValueKindText), 0);
  ASSERT_EQ(On(text, MakeKey(4, 40), 6), kNioRegistered);
  Point next;
  ASSERT_EQ(Parse(next, "TEXTDEV:DIT:3", kValueKindText), 0);
  ASSERT_EQ(On(next, MakeKey(5, 50), 4), kNioRegistered);
  DriverMarksChange(kTextRecord, 0);
  DriverMarksChange(kTextRecord, 3);
  EXPECT_EQ(Off(text, MakeKey(4, 40)), 0);
  for (int entry = 0; entry < 3; ++entry) {
    EXPECT_TRUE(IsFree(kTextRecord, entry)) << entry;
    EXPECT_EQ(Entry(kTextRecord, entry).changed, 0);
  }
  EXPECT_TRUE(Owns(kTextRecord, 3, 5, 50));
  EXPECT_TRUE(Owns(kTextRecord, 4, 0, 0xFFFF));
  EXPECT_EQ(Runtime(kTextRecord).pendingExceptions, 1);
  // The pending count never goes below zero.
  Runtime(kTextRecord).pendingExceptions = 0;
  EXPECT_EQ(Off(next, MakeKey(5, 50)), 0);
  EXPECT_EQ(Runtime(kTextRecord).pendingExceptions, 0);
  EXPECT_TRUE(IsFree(kTextRecord, 4));
  // The last pending change goes with its point: 1 becomes 0.
  ASSERT_EQ(On(next, MakeKey(5, 50), 4), kNioRegistered);
  DriverMarksChange(kTextRecord, 3);
  ASSERT_EQ(Runtime(kTextRecord).pendingExceptions, 1);
  EXPECT_EQ(Off(next, MakeKey(5, 50)), 0);
  EXPECT_EQ(Runtime(kTextRecord).pendingExceptions, 0);
}

TEST_F(Notification, AChangeByTheDriverIsFetchedUntilThePointIsRead) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  ASSERT_EQ(On(point, MakeKey(7, 0x1234)), kNioRegistered);
  EXPECT_TRUE(Fetch(10).empty());

  Words(kPumpUnsigned, kValueArea)[5] = 2048;
  DriverMarksChange(kPumpUnsigned, 5);
  EXPECT_EQ(Fetch(10), std::vector<std::uint32_t>{Packed(7, 0x1234)});
  // Fetching does not collect: the change is still there.
  EXPECT_EQ(Fetch(10), std::vector<std::uint32_t>{Packed(7, 0x1234)});
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 1);

  ReadAnalog(point);
  EXPECT_EQ(Entry(kPumpUnsigned, 5).changed, 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 0);
  EXPECT_TRUE(Fetch(10).empty());
}

TEST_F(Notification, TheCursorServesRecordsBeyondAFullArray) {
  std::vector<std::unique_ptr<Point>> points;
  for (int k = 0; k < 5; ++k) {
    points.push_back(std::make_unique<Point>());
    const std::string text = "PUMP1:DIT:" + std::to_string(110 + k);
    ASSERT_EQ(Parse(*points.back(), text.c_str()), 0);
    ASSERT_EQ(On(*points.back(), MakeKey(static_cast<std::uint8_t>(1 + k), 100)), kNioRegistered);
    DriverMarksChange(kPumpUnsigned, 10 + k);
  }
  Point bit;
  ASSERT_EQ(Parse(bit, "VALVE2:DIT:2:4", kValueKindDigital), 0);
  ASSERT_EQ(On(bit, MakeKey(0x20, 200)), kNioRegistered);
  DriverMarksChange(kValveDigital, 36);

  EXPECT_EQ(Fetch(2), (std::vector<std::uint32_t>{Packed(1, 100), Packed(2, 100)}));
  // The next call starts after the first record, and goes round to it.
  EXPECT_EQ(Fetch(2), (std::vector<std::uint32_t>{Packed(0x20, 200), Packed(1, 100)}));
  EXPECT_EQ(process.fetchCursor, kPumpUnsigned + 1);
  EXPECT_EQ(Fetch(10), (std::vector<std::uint32_t>{Packed(0x20, 200), Packed(1, 100), Packed(2, 100),
                                                   Packed(3, 100), Packed(4, 100), Packed(5, 100)}));
}

TEST_F(Notification, FetchTakesNoMoreKeysFromARecordThanItsPendingCount) {
  Point a;
  Point b;
  ASSERT_EQ(Parse(a, "PUMP1:DIT:101"), 0);
  ASSERT_EQ(Parse(b, "PUMP1:DIT:102"), 0);
  ASSERT_EQ(On(a, MakeKey(1, 1)), kNioRegistered);
  ASSERT_EQ(On(b, MakeKey(2, 2)), kNioRegistered);
  Entry(kPumpUnsigned, 1).changed = 1;
  Entry(kPumpUnsigned, 2).changed = 1;
  Runtime(kPumpUnsigned).pendingExceptions = 1;
  EXPECT_EQ(Fetch(10), std::vector<std::uint32_t>{Packed(1, 1)});
  Runtime(kPumpUnsigned).pendingExceptions = 0;
  EXPECT_TRUE(Fetch(10).empty());
}

TEST_F(Notification, FetchClearsThePendingCountOfARecordWithoutExceptions) {
  Runtime(kPumpSigned).pendingExceptions = 4;
  EXPECT_TRUE(Fetch(10).empty());
  EXPECT_EQ(Runtime(kPumpSigned).pendingExceptions, 0);
}

TEST_F(Notification, FetchWithoutAnImageOrRoomGivesNothing) {
  std::uint8_t keys[8] = {};
  int count = -1;
  std::uint16_t status = 0xEEEE;
  nio_fetch(process, &status, keys, 0, &count);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 0);
  nio_fetch(process, &status, nullptr, 2, &count);
  EXPECT_EQ(count, 0);

  testing::FakeSystem empty;
  testing::Process lonely{empty, kNioFlavour};
  NioProcess without{lonely.mapping, lonely.platform};
  nio_enable_options(without, kOptionNotification);
  count = -1;
  nio_fetch(without, &status, keys, 2, &count);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 0);
}

TEST_F(Notification, RegistrationFollowsAReloadedImage) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:105"), 0);
  ASSERT_EQ(On(point, MakeKey(7, 1)), kNioRegistered);
  // The reloaded image comes from the file, with empty exception areas.
  Reload([](DitConfiguration&) {});
  EXPECT_TRUE(IsFree(kPumpUnsigned, 5));
  EXPECT_EQ(On(point, MakeKey(7, 1)), kNioRegistered);
  EXPECT_TRUE(Owns(kPumpUnsigned, 5, 7, 1));
}

}  // namespace
}  // namespace vrt
