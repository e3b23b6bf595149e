#include "base/Memory.h"

#include "base/Errors.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t MiB = 1 << 20;

std::uint64_t HundredMiBAndABit() { return 100 * MiB + 5; }

std::string Refusal(std::uint64_t bytes) {
  try {
    zv::CheckMemoryAvailable(bytes);
  } catch (const zv::Error& e) {
    return e.what();
  }
  return {};
}

TEST(Memory, NeedsAreRoundedUpAndWhatIsAvailableDown) {
  const zv::AvailableMemoryReader before = zv::SetAvailableMemoryReader(HundredMiBAndABit);
  EXPECT_EQ(zv::AvailableMemory(), 100 * MiB + 5);
  EXPECT_EQ(Refusal(100 * MiB + 5), "");
  EXPECT_EQ(Refusal(100 * MiB + 6), "The picture needs 101 MiB; only 100 MiB are available.");
  EXPECT_EQ(Refusal(200 * MiB), "The picture needs 200 MiB; only 100 MiB are available.");
  zv::SetAvailableMemoryReader(before);
}

TEST(Memory, TheSystemsFigureIsRead) {
  ASSERT_EQ(zv::SetAvailableMemoryReader(nullptr), nullptr);
  const std::uint64_t available = zv::AvailableMemory();
  // Any machine running the tests has some memory free, and none has a petabyte.
  EXPECT_GT(available, 16 * MiB);
  EXPECT_LT(available, std::uint64_t{1} << 50);
}

} // namespace
