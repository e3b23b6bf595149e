#pragma once

// Helpers shared by the export and converter tests: images written straight
// through libpng, and a minimal POSIX ustar header walk that does not rely on
// the project's own reader.

#include "codecs/Bitmap.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace zvtest {

namespace fs = std::filesystem;

// Every path below root, relative, directories with a trailing "/".
inline std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    if (e.is_directory()) rel += '/';
    out.insert(rel);
  }
  return out;
}

// A recognisable picture: every pixel differs from its neighbours.
inline zv::Rgb Pattern(int x, int y) {
  return zv::Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 5 + 3),
                 static_cast<std::uint8_t>((x ^ y) * 3)};
}

inline zv::Bitmap PatternBitmap(int w, int h, int ox = 0, int oy = 0) {
  zv::Bitmap b(w, h, zv::PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const zv::Rgb c = Pattern(x + ox, y + oy);
      std::uint8_t* p = b.Row(y) + 3 * x;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  return b;
}

// An 8-bit RGB PNG of the pattern, written with libpng alone.
inline void WritePatternPng(const std::string& path, int w, int h) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    FAIL() << "libpng failed";
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const zv::Bitmap b = PatternBitmap(w, h);
  for (int y = 0; y < h; ++y) png_write_row(png, b.Row(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

// Width and height from a PNG's IHDR or a JPEG's start-of-frame marker.
inline std::pair<int, int> ImageSize(const std::string& data) {
  const auto u8 = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(data[i])); };
  if (data.size() >= 24 && data.compare(1, 3, "PNG") == 0)
    return {static_cast<int>(u8(16) << 24 | u8(17) << 16 | u8(18) << 8 | u8(19)),
            static_cast<int>(u8(20) << 24 | u8(21) << 16 | u8(22) << 8 | u8(23))};
  for (std::size_t i = 2; i + 9 < data.size();) {
    if (u8(i) != 0xFF) return {-1, -1};
    const unsigned marker = u8(i + 1);
    const std::size_t len = u8(i + 2) << 8 | u8(i + 3);
    if (marker >= 0xC0 && marker <= 0xC3)
      return {static_cast<int>(u8(i + 7) << 8 | u8(i + 8)), static_cast<int>(u8(i + 5) << 8 | u8(i + 6))};
    i += 2 + len;
  }
  return {-1, -1};
}

struct TarEntry {
  std::string Name;
  char Type;
  std::string Data;
};

// Walks plain ustar headers (no long names); stops at the first zero block.
inline std::vector<TarEntry> ReadTar(const std::string& path) {
  const std::string tar = ReadFile(path);
  std::vector<TarEntry> out;
  for (std::size_t pos = 0; pos + 512 <= tar.size();) {
    const char* h = tar.data() + pos;
    if (h[0] == 0) break;
    TarEntry e;
    e.Name.assign(h, strnlen(h, 100));
    e.Type = h[156];
    const std::size_t size = std::strtoull(std::string(h + 124, 12).c_str(), nullptr, 8);
    pos += 512;
    e.Data = tar.substr(pos, size);
    pos += (size + 511) / 512 * 512;
    out.push_back(e);
  }
  return out;
}

inline std::vector<std::string> TarNames(const std::string& path) {
  std::vector<std::string> names;
  for (const TarEntry& e : ReadTar(path)) names.push_back(e.Name);
  return names;
}

inline bool HavePython() { return std::system("python3 -c 'import tarfile' >/dev/null 2>&1") == 0; }

// The member names Python's tarfile reads, one per line, in archive order.
inline std::string PythonTarNames(const std::string& path) {
  const std::string out = path + ".names";
  const std::string cmd = "python3 -c 'import sys,tarfile\nfor m in tarfile.open(sys.argv[1]).getmembers(): "
                          "print(m.name + (\"/\" if m.isdir() else \"\"))' '" +
                          path + "' > '" + out + "'";
  if (std::system(cmd.c_str()) != 0) return "<python failed>";
  std::string names = ReadFile(out);
  std::filesystem::remove(out);
  return names;
}

} // namespace zvtest
