// Message formatting, the message ring, lock bytes and generation numbers.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "control_block.h"
#include "dit_format.h"
#include "lock_byte.h"

namespace vrt {
namespace {

std::string Format(const char* prefix, const char* format, ...) {
  char buffer[kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  FormatMessageText(buffer, prefix, format, arguments);
  va_end(arguments);
  return buffer;
}

TEST(MessageText, IsFormattedBehindThePrefixAndCutAtTheFirstLineBreak) {
  EXPECT_EQ(Format("NIO-", "nio_map_chan(%d) NIOLIB Bad Handle", 7), "NIO-nio_map_chan(7) NIOLIB Bad Handle");
  EXPECT_EQ(Format("", "first line\r\nsecond"), "first line");
  EXPECT_EQ(Format("", "%s", "a\nb"), "a");
  EXPECT_EQ(Format("NIO-", "\rhidden"), "NIO-");
  const std::string longText(1000, 'x');
  EXPECT_EQ(Format("NIO-", "%s", longText.c_str()).size(), kMessageBufferSize - 1);
}

class Ring : public ::testing::Test {
 protected:
  void SetUp() override { InitialiseControlBlock(block); }
  DriverControlBlock block;
};

TEST_F(Ring, AFreshBlockRequestsAStartWithTheRingOn) {
  EXPECT_EQ(block.blockMarker, 1);
  EXPECT_EQ(block.RunRequest, 1);
  EXPECT_EQ(block.RunState, 0);
  EXPECT_EQ(block.MessagesEnabled, 1);
  EXPECT_EQ(block.MapGeneration, 0);
  EXPECT_EQ(block.MessageIndex, 0);
}

TEST_F(Ring, LongMessagesAreCutTo123Characters) {
  const std::string text = Format("NIO-", "%s", std::string(200, 'm').c_str());
  PutRingMessage(block, 70, text.c_str());
  EXPECT_EQ(block.ring[0].length, 123);
  EXPECT_EQ(block.ring[0].attribute, 70);
  EXPECT_EQ(std::string(block.ring[0].text), "NIO-" + std::string(119, 'm'));
  EXPECT_EQ(block.MessageIndex, 1);
}

TEST_F(Ring, ReaderTakesMessagesInOrderUntilItCatchesUp) {
  const char* text = nullptr;
  int attribute = 0;
  EXPECT_FALSE(TakeRingMessage(block, &text, &attribute));
  PutRingMessage(block, 23, "one");
  PutRingMessage(block, 39, "two\rtail");
  ASSERT_TRUE(TakeRingMessage(block, &text, &attribute));
  EXPECT_STREQ(text, "one");
  EXPECT_EQ(attribute, 23);
  ASSERT_TRUE(TakeRingMessage(block, &text, &attribute));
  EXPECT_STREQ(text, "two");
  EXPECT_EQ(attribute, 39);
  EXPECT_FALSE(TakeRingMessage(block, &text, &attribute));
}

TEST_F(Ring, IndicesWrapAndSurviveGarbage) {
  for (int i = 0; i < 64; ++i) PutRingMessage(block, 23, "x");
  EXPECT_EQ(block.MessageIndex, 0);
  block.MessageIndex = 5000;  // left by a broken writer
  PutRingMessage(block, 23, "after");
  EXPECT_STREQ(block.ring[0].text, "after");
  EXPECT_EQ(block.MessageIndex, 1);
  block.MessageReadIndex = -3;
  const char* text = nullptr;
  int attribute = 0;
  ASSERT_TRUE(TakeRingMessage(block, &text, &attribute));
  EXPECT_STREQ(text, "after");
}

TEST_F(Ring, NothingIsWrittenWhileMessagesAreDisabled) {
  block.MessagesEnabled = 0;
  PutRingMessage(block, 23, "dropped");
  EXPECT_EQ(block.MessageIndex, 0);
  EXPECT_EQ(block.ring[0].length, 0);
}

TEST(MapGeneration, RunsOneTwoThreeOneAndNeverBackToZero) {
  EXPECT_EQ(NextMapGeneration(0), 1);
  EXPECT_EQ(NextMapGeneration(1), 2);
  EXPECT_EQ(NextMapGeneration(2), 3);
  EXPECT_EQ(NextMapGeneration(3), 1);
}

class CountingSleeper : public Sleeper {
 public:
  void SleepMilliseconds(unsigned milliseconds) override {
    ++sleeps;
    total += milliseconds;
    if (releaseAfter != 0 && sleeps == releaseAfter) *lock = kLockFree;
  }
  int sleeps = 0;
  unsigned total = 0;
  int releaseAfter = 0;
  std::uint8_t* lock = nullptr;
};

TEST(LockByte, AFreeLockIsTakenAtOnce) {
  std::uint8_t lock = 'U';
  CountingSleeper sleeper;
  TakeLockByte(lock, sleeper);
  EXPECT_EQ(lock, 'L');
  EXPECT_EQ(sleeper.sleeps, 0);
  ReleaseLockByte(lock);
  EXPECT_EQ(lock, 'U');
}

TEST(LockByte, WaitsForTheHolderInMillisecondSteps) {
  std::uint8_t lock = 'L';
  CountingSleeper sleeper;
  sleeper.lock = &lock;
  sleeper.releaseAfter = 5;
  {
    LockByteGuard guard(lock, sleeper);
    EXPECT_EQ(lock, 'L');
  }
  EXPECT_EQ(sleeper.sleeps, 5);
  EXPECT_EQ(sleeper.total, 5u);
  EXPECT_EQ(lock, 'U');
}

TEST(LockByte, ADeadHoldersLockIsOverriddenAfter31Looks) {
  std::uint8_t lock = 'L';
  CountingSleeper sleeper;
  TakeLockByte(lock, sleeper);
  EXPECT_EQ(sleeper.sleeps, 31);
  EXPECT_EQ(lock, 'L');
}

}  // namespace
}  // namespace vrt
