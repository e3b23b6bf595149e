// The decoders' resource rule, measured: every hostile file of the test data
// is refused, and no block that is not a picture (pictures come from calloc)
// exceeds DecoderScratchLimit of the file's size.
#include "base/FileSystem.h"
#include "codecs/Bmp.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define ZV_METER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_METER 0
#endif
#endif
#ifndef ZV_METER
#define ZV_METER 1
#endif

namespace {
std::atomic<bool> metering{false};
std::atomic<std::size_t> largest{0};
} // namespace

#if ZV_METER
namespace {
void Note(std::size_t n) {
  if (!metering.load(std::memory_order_relaxed)) return;
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (n > seen && !largest.compare_exchange_weak(seen, n)) {
  }
}
} // namespace

// glibc's own entry points; this binary's malloc and realloc count and forward.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* malloc(std::size_t n) {
  Note(n);
  return __libc_malloc(n);
}
extern "C" void* realloc(void* p, std::size_t n) {
  Note(n);
  return __libc_realloc(p, n);
}
#endif

namespace zv {
namespace {

const std::string Data = std::string(ZOVEVOD_TESTDATA_DIR) + "/";

TEST(DecoderResources, HostileFilesStayWithinTheScratchLimit) {
  if (!ZV_METER) GTEST_SKIP() << "the sanitizer owns malloc";
  int checked = 0;
  for (const char* folder : {"png/malformed", "jpeg/malformed", "bmp/b"}) {
    for (const auto& entry : std::filesystem::directory_iterator(Data + folder)) {
      const std::string name = entry.path().filename().string();
      SCOPED_TRACE(name);
      const Bytes data = ReadWholeFile(entry.path());
      Bitmap bmp;
      largest = 0;
      metering = true;
      bool refused = false;
      try {
        const std::string ext = entry.path().extension().string();
        if (ext == ".png")
          DecodePng(data.data(), data.size(), bmp);
        else if (ext == ".jpg")
          DecodeJpeg(data.data(), data.size(), bmp);
        else
          DecodeBmp(data.data(), data.size(), bmp);
      } catch (const Error&) {
        refused = true;
      }
      metering = false;
      EXPECT_TRUE(refused);
      EXPECT_LE(largest.load(), DecoderScratchLimit(data.size())) << data.size() << " bytes of input";
      ++checked;
    }
  }
  EXPECT_GE(checked, 35);
}

TEST(DecoderResources, ScratchLimitGrowsWithTheInput) {
  EXPECT_EQ(DecoderScratchLimit(0), 1u << 20);
  EXPECT_EQ(DecoderScratchLimit(65535), 1u << 20);
  EXPECT_EQ(DecoderScratchLimit(1u << 20), 16u << 20);
}

} // namespace
} // namespace zv
