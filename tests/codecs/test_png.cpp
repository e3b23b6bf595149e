#include "codecs/Png.h"
#include "codecs/PngTile.h"

#include "base/FileSystem.h"
#include "base/Messages.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zv {
namespace {

const std::string PngDir = std::string(ZOVEVOD_TESTDATA_DIR) + "/png/";

std::uint64_t Fnv(std::uint64_t h, std::uint8_t b) { return (h ^ b) * 0x100000001B3ull; }

std::string Hex64(std::uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string PaletteText(const Bitmap& bmp) {
  std::string s;
  for (const Rgb& c : bmp.Palette()) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x", c.r, c.g, c.b);
    if (!s.empty()) s += '.';
    s += buf;
  }
  return s.empty() ? "-" : s;
}

Bitmap Decode(const Bytes& data) {
  Bitmap bmp;
  DecodePng(data.data(), data.size(), bmp);
  return bmp;
}

// Every valid PngSuite image against the expectations that
// tools/png_reference.py computed with an independent PNG reader.
TEST(DecodePng, PngSuiteMatchesReference) {
  std::ifstream ref(PngDir + "reference.txt");
  ASSERT_TRUE(ref) << "missing reference.txt";
  std::string line;
  int checked = 0;
  while (std::getline(ref, line)) {
    std::istringstream in(line);
    std::string name, palette, rgbHash, indexHash;
    int format = 0, width = 0, height = 0;
    in >> name >> format >> width >> height >> palette >> rgbHash >> indexHash;
    SCOPED_TRACE(name);
    Bitmap bmp;
    ASSERT_NO_THROW(bmp = Decode(ReadWholeFile(PngDir + name)));
    EXPECT_EQ(bmp.BitsPerPixel(), format);
    EXPECT_EQ(bmp.Width(), width);
    EXPECT_EQ(bmp.Height(), height);
    EXPECT_EQ(PaletteText(bmp), palette);
    std::uint64_t rgb = 0xCBF29CE484222325ull, idx = rgb;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) {
        const Rgb c = bmp.Pixel(x, y);
        rgb = Fnv(Fnv(Fnv(rgb, c.r), c.g), c.b);
        idx = Fnv(idx, bmp.Index(x, y));
      }
    EXPECT_EQ(Hex64(rgb), rgbHash);
    if (format != 24) {
      EXPECT_EQ(Hex64(idx), indexHash);
    }
    ++checked;
  }
  EXPECT_EQ(checked, 161);
}

// Damaged files raise libpng's message and leave the bitmap alone.
TEST(DecodePng, MalformedInputsRaise) {
  std::vector<std::pair<std::string, Bytes>> cases;
  for (const auto& entry : std::filesystem::directory_iterator(PngDir)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == 'x' && entry.path().extension() == ".png") cases.emplace_back(name, ReadWholeFile(entry.path()));
  }
  ASSERT_EQ(cases.size(), 14u);
  for (const char* name : {"invalid-crc32.png", "invalid-noend.png", "invalid-trunc.png", "invalid-zlib.png"})
    cases.emplace_back(name, ReadWholeFile(PngDir + "go-invalid/" + name));
  const Bytes good = ReadWholeFile(PngDir + "basn2c08.png");
  cases.emplace_back("empty", Bytes{});
  cases.emplace_back("signature only", Bytes(good.begin(), good.begin() + 8));
  for (std::size_t cut : {12ul, 33ul, 60ul, good.size() / 2, good.size() - 13, good.size() - 1})
    cases.emplace_back("cut at " + std::to_string(cut), Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
  Bytes flipped = good;
  flipped[flipped.size() / 2] ^= 0x55;
  cases.emplace_back("flipped IDAT byte", flipped);

  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(name);
    Bitmap bmp(3, 2, PixelFormat::pf8bit);
    try {
      DecodePng(data.data(), data.size(), bmp);
      ADD_FAILURE() << "no error";
    } catch (const EPngError& e) {
      EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(bmp.Width(), 3);
    EXPECT_EQ(bmp.Format(), PixelFormat::pf8bit);
  }
  // An index past the end of PLTE is not an error; it decodes as black.
  EXPECT_NO_THROW(Decode(ReadWholeFile(PngDir + "go-invalid/invalid-palette.png")));
}

void PutBe32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void AppendChunk(Bytes& out, const char* type, const Bytes& data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBe32(out, static_cast<std::uint32_t>(crc32(0, out.data() + at, static_cast<uInt>(data.size() + 4))));
}

// A tiny file that claims a huge raster is refused before memory is reserved.
TEST(DecodePng, HugeDimensionsAreRefused) {
  for (auto [w, h, type] :
       {std::tuple{1000000u, 1000000u, 0}, std::tuple{70000u, 70000u, 2}, std::tuple{1000001u, 1u, 0}}) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, w);
    PutBe32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, static_cast<std::uint8_t>(type), 0, 0, 0});
    AppendChunk(file, "IHDR", ihdr);
    AppendChunk(file, "IDAT", {0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    AppendChunk(file, "IEND", {});
    Bitmap bmp;
    try {
      DecodePng(file.data(), file.size(), bmp);
      ADD_FAILURE() << "decoded " << w << " x " << h;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), "image too large: " + std::to_string(w) + " × " + std::to_string(h));
    }
  }
  // Within the limits, but far more raster than the file could inflate to.
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, 30000);
  PutBe32(ihdr, 30000);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
  AppendChunk(file, "IHDR", ihdr);
  AppendChunk(file, "IDAT", {0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  AppendChunk(file, "IEND", {});
  Bitmap bmp;
  EXPECT_THROW(DecodePng(file.data(), file.size(), bmp), EPngError);
  // Chunks other than IDAT fill no pixel: padding the file does not help.
  Bytes padded(file.begin(), file.begin() + 33);
  AppendChunk(padded, "tEXt", Bytes(1u << 20, 'p'));
  padded.insert(padded.end(), file.begin() + 33, file.end());
  try {
    DecodePng(padded.data(), padded.size(), bmp);
    ADD_FAILURE() << "decoded";
  } catch (const EPngError& e) {
    EXPECT_STREQ(e.what(), "Not enough image data");
  }
}

// Files found hostile (chunks claiming more bytes than the file holds, ...):
// each is refused with an error, and quickly, as none is believed.
TEST(DecodePng, MalformedFolderRaises) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PngDir + "malformed")) {
    SCOPED_TRACE(entry.path().filename().string());
    const Bytes data = ReadWholeFile(entry.path());
    Bitmap bmp;
    EXPECT_THROW(DecodePng(data.data(), data.size(), bmp), EPngError);
    ++checked;
  }
  EXPECT_GE(checked, 9);
}

// Ancillary chunks the decoder does not use may be big or compressed far
// beyond the file's size: they are skipped, and the picture, its gAMA and its
// tRNS come out as without them.
TEST(DecodePng, UnusedChunksAreSkipped) {
  const auto build = [](bool extras) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, 2);
    PutBe32(ihdr, 1);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    AppendChunk(file, "IHDR", ihdr);
    if (extras) {
      Bytes text(200000, 'x');
      text[7] = 0;
      AppendChunk(file, "tEXt", text);
      // 64 MiB of zeros in a few kilobytes
      Bytes zeros(64u << 20, 0);
      uLongf n = compressBound(static_cast<uLong>(zeros.size()));
      Bytes packed(n + 6);
      packed[0] = 'C';
      packed[1] = 0;
      packed[2] = 0;
      EXPECT_EQ(compress(packed.data() + 3, &n, zeros.data(), static_cast<uLong>(zeros.size())), Z_OK);
      packed.resize(n + 3);
      AppendChunk(file, "zTXt", packed);
      AppendChunk(file, "iCCP", packed);
      AppendChunk(file, "sPLT", Bytes(5000, 1));
      AppendChunk(file, "abCd", Bytes(300, 2));
    }
    Bytes gama;
    PutBe32(gama, 100000);
    AppendChunk(file, "gAMA", gama);
    Bytes trns = {0, 10, 0, 20, 0, 30};
    AppendChunk(file, "tRNS", trns);
    Bytes raw = {0, 10, 20, 30, 200, 100, 50};
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes idat(n);
    EXPECT_EQ(compress(idat.data(), &n, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    idat.resize(n);
    AppendChunk(file, "IDAT", idat);
    AppendChunk(file, "IEND", {});
    return file;
  };
  const Bitmap plain = Decode(build(false));
  Bitmap rich;
  ASSERT_NO_THROW(rich = Decode(build(true)));
  ASSERT_EQ(rich.Width(), 2);
  EXPECT_EQ(rich.Pixel(0, 0), (Rgb{255, 255, 255})); // the tRNS colour
  EXPECT_EQ(rich.Pixel(1, 0), plain.Pixel(1, 0));
  EXPECT_NE(rich.Pixel(1, 0), (Rgb{200, 100, 50})); // gAMA 1.0 for a 2.2 display brightens
}

// ---------------------------------------------------------------------------
// Tiles

struct Chunk {
  std::string type;
  Bytes data;
};

std::vector<Chunk> ReadChunks(const Bytes& file) {
  const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(file.size() >= 8 && std::equal(signature.begin(), signature.end(), file.begin()));
  std::vector<Chunk> chunks;
  std::size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const auto be = [&](std::size_t at) {
      return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 | std::uint32_t{file[at + 2]} << 8 |
             file[at + 3];
    };
    const std::uint32_t len = be(pos);
    Chunk c{std::string(file.begin() + static_cast<long>(pos) + 4, file.begin() + static_cast<long>(pos) + 8),
            Bytes(file.begin() + static_cast<long>(pos) + 8, file.begin() + static_cast<long>(pos + 8 + len))};
    EXPECT_EQ(be(pos + 8 + len), crc32(0, file.data() + pos + 4, len + 4)) << c.type;
    chunks.push_back(std::move(c));
    pos += 12 + len;
  }
  EXPECT_EQ(pos, file.size());
  return chunks;
}

Bytes Inflate(const Bytes& z, std::size_t expected) {
  Bytes out(expected + 1);
  uLongf n = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &n, z.data(), static_cast<uLong>(z.size())), Z_OK);
  out.resize(n);
  return out;
}

struct TempFile {
  std::string path;
  explicit TempFile(const std::string& name)
      : path((std::filesystem::temp_directory_path() / ("zv_png_" + std::to_string(::getpid()) + "_" + name)).string()) {}
  ~TempFile() { std::remove(path.c_str()); }
};

// A source raster with many distinct colours.
Bitmap Pattern(int w, int h) {
  Bitmap src(w, h, PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      src.SetPixel(x, y, {static_cast<std::uint8_t>(x * 37 + y * 11), static_cast<std::uint8_t>(y * 53 ^ x),
                          static_cast<std::uint8_t>((x * y) * 7)});
  return src;
}

struct DepthRow {
  int colorType, bitDepth;      // as the export asks
  int writtenType, writtenDepth; // in IHDR
  int paletteEntries;            // in PLTE, 0 for none
};

const DepthRow DepthRows[] = {
    {0, 1, 0, 1, 0},  {0, 4, 0, 4, 0},  {0, 8, 0, 8, 0},   {3, 2, 3, 4, 16},
    {3, 4, 3, 4, 16}, {3, 6, 3, 8, 64}, {3, 8, 3, 8, 256}, {2, 16, 2, 8, 0},
};

TEST(PngTile, EveryDepthRowWritesTheExactLayout) {
  for (const DepthRow& row : DepthRows) {
    SCOPED_TRACE(std::to_string(row.colorType) + "/" + std::to_string(row.bitDepth));
    const int w = 37, h = 23;
    TPngTileImage tile(static_cast<TPngColorType>(row.colorType), row.bitDepth, w, h);
    EXPECT_EQ(tile.BitDepth(), row.writtenDepth);
    const Bitmap src = Pattern(w, h);
    tile.Canvas().CopyRect(0, 0, src, 0, 0, w - 3, h - 2); // the last columns and rows stay unpainted
    TempFile file("layout.png");
    tile.SaveToFile(file.path);
    const Bytes bytes = ReadWholeFile(file.path);
    const auto chunks = ReadChunks(bytes);

    std::vector<std::string> types;
    for (const auto& c : chunks) types.push_back(c.type);
    std::vector<std::string> expected = {"IHDR"};
    if (row.paletteEntries) expected.push_back("PLTE");
    expected.push_back("IDAT");
    expected.push_back("IEND");
    EXPECT_EQ(types, expected);

    const Bytes& ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr, (Bytes{0, 0, 0, static_cast<std::uint8_t>(w), 0, 0, 0, static_cast<std::uint8_t>(h),
                           static_cast<std::uint8_t>(row.writtenDepth), static_cast<std::uint8_t>(row.writtenType), 0,
                           0, 0}));
    if (row.paletteEntries) {
      const Bytes& plte = chunks[1].data;
      ASSERT_EQ(plte.size(), 3u * static_cast<std::size_t>(row.paletteEntries));
      const Rgb last{plte[plte.size() - 3], plte[plte.size() - 2], plte[plte.size() - 1]};
      if (row.bitDepth == 6) {
        EXPECT_EQ(last, (Rgb{255, 255, 255}));
        EXPECT_EQ((Rgb{plte[3], plte[4], plte[5]}), (Rgb{0, 0, 85})); // blue fastest
        EXPECT_EQ((Rgb{plte[48], plte[49], plte[50]}), (Rgb{85, 0, 0})); // red slowest
      }
      if (row.paletteEntries == 16) {
        EXPECT_EQ(last, (Rgb{255, 255, 255}));
      }
    }

    // One zlib stream at level 7 (FLEVEL 3 in the header), byte-identical
    // to zlib's own output for the Sub-filtered rows.
    const Bytes& z = chunks[chunks.size() - 2].data;
    ASSERT_GE(z.size(), 2u);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1] >> 6, 3);
    const int bitsPerPixel = row.writtenType == 2 ? 24 : row.writtenDepth;
    const std::size_t rowBytes = (static_cast<std::size_t>(w) * bitsPerPixel + 7) / 8;
    const Bytes raw = Inflate(z, (rowBytes + 1) * h);
    ASSERT_EQ(raw.size(), (rowBytes + 1) * h);
    for (int y = 0; y < h; ++y) EXPECT_EQ(raw[y * (rowBytes + 1)], 1) << "row " << y;

    z_stream s{};
    ASSERT_EQ(deflateInit2(&s, 7, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes again(deflateBound(&s, raw.size()));
    s.next_in = const_cast<Bytes::value_type*>(raw.data());
    s.avail_in = static_cast<uInt>(raw.size());
    s.next_out = again.data();
    s.avail_out = static_cast<uInt>(again.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    again.resize(s.total_out);
    deflateEnd(&s);
    EXPECT_EQ(again, z);

    // Reading it back gives the drawn pixels, each mapped to its nearest entry.
    const Bitmap back = Decode(bytes);
    ASSERT_EQ(back.Width(), w);
    const Bitmap& drawn = tile.Pixels();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool painted = x < w - 3 && y < h - 2;
        Rgb want{};
        if (painted) {
          const Rgb c = src.Pixel(x, y);
          want = row.writtenType == 2 ? c : drawn.Palette()[NearestPaletteIndex(drawn.Palette(), c)];
        } else if (row.writtenType == 3) {
          want = drawn.Palette()[0];
        }
        ASSERT_EQ(back.Pixel(x, y), want) << x << "," << y;
      }
  }
}

TEST(PngTile, IdatChunksHold65535BytesWithTheRemainderLast) {
  const int w = 300, h = 300;
  TPngTileImage tile(TPngColorType::Rgb, 16, w, h);
  Bitmap noise(w, h, PixelFormat::pf24bit);
  std::mt19937 rng(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      noise.SetPixel(x, y, {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                            static_cast<std::uint8_t>(rng())});
  tile.Canvas().CopyRect(0, 0, noise, 0, 0, w, h);
  TempFile file("large.png");
  tile.SaveToFile(file.path);
  const Bytes bytes = ReadWholeFile(file.path);
  const auto chunks = ReadChunks(bytes);
  std::size_t total = 0;
  std::vector<std::size_t> sizes;
  for (const auto& c : chunks)
    if (c.type == "IDAT") sizes.push_back(c.data.size()), total += c.data.size();
  ASSERT_GE(sizes.size(), 4u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_EQ(sizes.back(), total - 65535 * (sizes.size() - 1));
  EXPECT_GT(sizes.back(), 0u);
  // Truecolor keeps 8 bits a channel exactly.
  const Bitmap back = Decode(bytes);
  for (int y = 0; y < h; y += 7)
    for (int x = 0; x < w; x += 5) ASSERT_EQ(back.Pixel(x, y), noise.Pixel(x, y));
}

TEST(PngTile, ValidationAndFileErrors) {
  const std::string message =
      "The \"Portable Network Graphics\" could not be created because invalid image type parameters have being "
      "provided.";
  const std::pair<int, int> refused[] = {{1, 8}, {5, 8}, {7, 8}, {-1, 8}, {0, 3}, {0, 0}, {0, 32}, {0, 6},
                                         {3, 16}, {3, 32}, {2, 1}, {2, 4}, {2, 6}, {4, 4}, {6, 2}};
  for (auto [type, depth] : refused) {
    try {
      TPngTileImage tile(static_cast<TPngColorType>(type), depth, 8, 8);
      ADD_FAILURE() << type << "/" << depth << " accepted";
    } catch (const EPngError& e) {
      EXPECT_EQ(e.what(), message) << type << "/" << depth;
    }
  }
  // Accepted outside the export's list: 2 -> 4 for grey too, 16 -> 8, alpha types.
  const std::tuple<int, int, int> accepted[] = {{0, 2, 4}, {0, 16, 8}, {3, 1, 1}, {2, 8, 8}, {4, 16, 8}, {6, 8, 8}};
  for (auto [type, depth, written] : accepted) {
    TPngTileImage tile(static_cast<TPngColorType>(type), depth, 5, 3);
    EXPECT_EQ(tile.BitDepth(), written);
    tile.Canvas().SetPixel(1, 1, {200, 100, 50});
    TempFile file("accepted.png");
    tile.SaveToFile(file.path);
    const Bitmap back = Decode(ReadWholeFile(file.path));
    EXPECT_EQ(back.Pixel(1, 1), tile.Pixels().Pixel(1, 1)) << type << "/" << depth;
    EXPECT_EQ(back.Pixel(0, 0), (Rgb{0, 0, 0}));
  }
  EXPECT_THROW(TPngTileImage(TPngColorType::Rgb, 8, 0, 5), EPngError);
  EXPECT_THROW(TPngTileImage(TPngColorType::Rgb, 8, 2000000, 1), Error);

  TPngTileImage tile(TPngColorType::Gray, 8, 4, 4);
  const std::string bad = "/nonexistent-dir-zv/tile.png";
  try {
    tile.SaveToFile(bad);
    ADD_FAILURE() << "no error";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.what(), msg::CannotCreateFile(bad));
  }
  // A device that takes no data: the failed writes are reported too.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_THROW(tile.SaveToFile("/dev/full"), EFileError);
  }
}

// The memory copy of a tile is the file byte for byte, at every depth row and
// for the alpha types, with several IDAT chunks; a vector that held a larger
// tile before keeps its memory.
TEST(PngTile, SaveToMemoryGivesTheFileBytes) {
  const int w = 300, h = 220;
  const Bitmap src = Pattern(w, h);
  std::vector<std::pair<int, int>> requests;
  for (const DepthRow& row : DepthRows) requests.emplace_back(row.colorType, row.bitDepth);
  requests.insert(requests.end(), {{4, 8}, {6, 8}});
  Bytes out(1 << 20, 0xAB);
  const std::uint8_t* const storage = out.data();
  for (auto [type, depth] : requests) {
    SCOPED_TRACE(std::to_string(type) + "/" + std::to_string(depth));
    TPngTileImage tile(static_cast<TPngColorType>(type), depth, w, h);
    tile.Canvas().CopyRect(0, 0, src, 0, 0, w, h);
    TempFile file("memory.png");
    tile.SaveToFile(file.path);
    tile.SaveToMemory(out);
    EXPECT_EQ(out, ReadWholeFile(file.path));
    EXPECT_EQ(out.data(), storage);
  }
  Bytes fresh;
  TPngTileImage(TPngColorType::Palette, 8, 3, 2).SaveToMemory(fresh);
  EXPECT_EQ(Decode(fresh).Width(), 3);
}

// The faster deflater changes only the compressed bytes: the same chunks
// around them, IDAT chunks cut the same way, the same filtered rows inside.
TEST(PngTile, LibdeflateWritesTheSameImageDataInOtherBytes) {
  const int w = 300, h = 220;
  Bitmap src = Pattern(w, h);
  std::mt19937 rng(3);
  for (int y = 0; y < h / 2; ++y) // noise, so that the data needs several IDAT chunks
    for (int x = 0; x < w; ++x)
      src.SetPixel(x, y, {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                          static_cast<std::uint8_t>(rng())});
  std::vector<std::pair<int, int>> requests;
  for (const DepthRow& row : DepthRows) requests.emplace_back(row.colorType, row.bitDepth);
  requests.insert(requests.end(), {{4, 8}, {6, 8}});
  for (auto [type, depth] : requests) {
    SCOPED_TRACE(std::to_string(type) + "/" + std::to_string(depth));
    TPngTileImage tile(static_cast<TPngColorType>(type), depth, w, h);
    tile.Canvas().CopyRect(0, 0, src, 0, 0, w, h);
    Bytes zlibBytes, fastBytes;
    tile.SaveToMemory(zlibBytes);
    tile.SaveToMemory(fastBytes, TPngDeflater::Libdeflate);
    const auto zlibChunks = ReadChunks(zlibBytes), fastChunks = ReadChunks(fastBytes);
    Bytes zlibData, fastData;
    std::vector<std::string> zlibTypes, fastTypes;
    std::vector<std::size_t> fastSizes;
    for (const auto& c : zlibChunks) {
      zlibTypes.push_back(c.type);
      if (c.type == "IDAT") zlibData.insert(zlibData.end(), c.data.begin(), c.data.end());
    }
    for (const auto& c : fastChunks) {
      if (c.type != "IDAT" || fastTypes.empty() || fastTypes.back() != "IDAT") fastTypes.push_back(c.type);
      if (c.type == "IDAT") {
        fastData.insert(fastData.end(), c.data.begin(), c.data.end());
        fastSizes.push_back(c.data.size());
      } else {
        const auto same = std::find_if(zlibChunks.begin(), zlibChunks.end(), [&](const auto& z) { return z.type == c.type; });
        ASSERT_NE(same, zlibChunks.end()) << c.type;
        EXPECT_EQ(c.data, same->data) << c.type;
      }
    }
    zlibTypes.erase(std::unique(zlibTypes.begin(), zlibTypes.end()), zlibTypes.end());
    EXPECT_EQ(fastTypes, zlibTypes);
    for (std::size_t i = 0; i + 1 < fastSizes.size(); ++i) EXPECT_EQ(fastSizes[i], 65535u);
    const std::size_t rawSize = static_cast<std::size_t>(w) * h * 4 + h; // at least the filtered rows
    EXPECT_EQ(Inflate(fastData, rawSize), Inflate(zlibData, rawSize));
    const Bitmap fast = Decode(fastBytes), slow = Decode(zlibBytes);
    ASSERT_EQ(fast.Width(), w);
    ASSERT_EQ(fast.Height(), h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(fast.Pixel(x, y), slow.Pixel(x, y)) << x << "," << y;
  }
}

} // namespace
} // namespace zv

namespace zv {
namespace {

// Decoding from a file as a stream gives what decoding its bytes gives: the
// same picture, or the same error, for every valid and every hostile file.
TEST(DecodePng, FromFileMatchesFromMemory) {
  int checked = 0;
  for (const std::string& folder : {PngDir, PngDir + "malformed/"}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() != ".png") continue;
      SCOPED_TRACE(entry.path().filename().string());
      const Bytes data = ReadWholeFile(entry.path());
      Bitmap fromMemory, fromFile;
      std::string memoryError = "none", fileError = "none";
      try {
        DecodePng(data.data(), data.size(), fromMemory);
      } catch (const Error& e) {
        memoryError = e.what();
      }
      std::FILE* f = std::fopen(entry.path().c_str(), "rb");
      ASSERT_NE(f, nullptr);
      try {
        DecodePng(f, data.size(), fromFile);
      } catch (const Error& e) {
        fileError = e.what();
      }
      std::fclose(f);
      ASSERT_EQ(memoryError, fileError);
      ASSERT_EQ(fromMemory.Width(), fromFile.Width());
      ASSERT_EQ(fromMemory.Height(), fromFile.Height());
      ASSERT_EQ(fromMemory.Format(), fromFile.Format());
      ASSERT_EQ(PaletteText(fromMemory), PaletteText(fromFile));
      for (int y = 0; y < fromMemory.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(fromMemory.Row(y), fromFile.Row(y), fromMemory.Stride())) << "row " << y;
      ++checked;
    }
  }
  EXPECT_GE(checked, 150);
}

} // namespace
} // namespace zv
