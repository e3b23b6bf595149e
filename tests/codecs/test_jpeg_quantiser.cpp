// The streaming two-pass quantiser against libjpeg's own, which stays the
// reference: the same palette and the same pixels, or the same error.
#include "codecs/ColourQuantiser.h"
#include "codecs/Jpeg.h"
#include "codecs/RowPipeline.h"

#include <gtest/gtest.h>

#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using zv::Bitmap;
using zv::TJPEGImage;
using zv::TQuantiser;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// How a test JPEG is written.
struct Encoding {
  int lumaH = 2, lumaV = 2; // chroma is sampled 1 x 1
  int restartRows = 0;
  bool progressive = false;
  bool arithmetic = false;
  int quality = 85;
};

Bytes Encode(const Bytes& rgb, int width, int height, const Encoding& e) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, e.quality, TRUE);
  c.comp_info[0].h_samp_factor = e.lumaH;
  c.comp_info[0].v_samp_factor = e.lumaV;
  c.restart_in_rows = e.restartRows;
  c.arith_code = e.arithmetic ? TRUE : FALSE;
  if (e.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + std::size_t{c.next_scanline} * 3 * width);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes bytes(out, out + size);
  std::free(out);
  return bytes;
}

// Map-like or photographic content: flat areas with edges and lines, smooth
// gradients, or plain noise, with some noise on top.
Bytes Picture(int width, int height, int kind, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes rgb(3 * static_cast<std::size_t>(width) * height);
  std::uint8_t flat[6][3];
  for (auto& f : flat)
    for (auto& v : f) v = static_cast<std::uint8_t>(rng());
  const int noise = 1 + static_cast<int>(rng() % 24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
      for (int c = 0; c < 3; ++c) {
        int v = 0;
        switch (kind) {
        case 0: v = flat[((x / 37 + y / 23) * 7 + (x + 2 * y) / 51) % 6][c]; break;
        case 1:
          v = (x * 255 / std::max(width - 1, 1) * (c + 1) + y * 255 / std::max(height - 1, 1) * (3 - c)) / 3;
          break;
        default: v = static_cast<int>(rng() % 256); break;
        }
        if ((x * 3 + y * 2) % 97 == 0) v = 40;
        v += static_cast<int>(rng() % static_cast<unsigned>(2 * noise + 1)) - noise;
        p[c] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
      }
    }
  return rgb;
}

// The decoded picture, or the error's message.
struct Outcome {
  Bitmap picture;
  std::string error;
};

using Options = void (*)(TJPEGImage&);

Outcome Decode(const Bytes& data, TQuantiser quantiser, Options options) {
  TJPEGImage image;
  image.SetQuantiser(quantiser);
  if (options) options(image);
  Outcome o;
  try {
    image.LoadFromMemory(data);
    if (image.Picture()) o.picture = *image.Picture();
  } catch (const zv::Error& e) {
    o.error = e.what();
  }
  return o;
}

void ExpectSameBothWays(const Bytes& data, const std::string& what, Options options = nullptr) {
  const Outcome mine = Decode(data, TQuantiser::Streaming, options);
  const Outcome ref = Decode(data, TQuantiser::Libjpeg, options);
  ASSERT_EQ(mine.error, ref.error) << what;
  ASSERT_EQ(mine.picture.Width(), ref.picture.Width()) << what;
  ASSERT_EQ(mine.picture.Height(), ref.picture.Height()) << what;
  ASSERT_EQ(mine.picture.Format(), ref.picture.Format()) << what;
  ASSERT_EQ(mine.picture.Palette(), ref.picture.Palette()) << what;
  for (int y = 0; y < ref.picture.Height(); ++y)
    ASSERT_TRUE(std::equal(ref.picture.Row(y), ref.picture.Row(y) + ref.picture.Stride(), mine.picture.Row(y)))
        << what << ", row " << y;
}

const Options OptionSets[] = {
    nullptr,
    [](TJPEGImage& i) { i.SetNumOfColors(zv::TNumOfColors::_16); },
    [](TJPEGImage& i) { i.SetNoSmooth(true); },
    [](TJPEGImage& i) { i.SetDCTMethod(zv::TDCTMethod::FastInteg); },
    [](TJPEGImage& i) { i.SetDCTMethod(zv::TDCTMethod::FloatingPoint); },
    [](TJPEGImage& i) { i.SetDither(zv::TDither::None); },
    [](TJPEGImage& i) { i.SetOnePass(true); },
};

std::vector<fs::path> JpegFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  if (!fs::is_directory(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".jpg" || ext == ".jpeg")) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(JpegQuantiser, EveryTestFileDecodesAsLibjpegDoes) {
  std::vector<fs::path> files = JpegFiles(fs::path(ZOVEVOD_TESTDATA_DIR) / "jpeg");
  // Public files kept outside the repository; absent on other machines.
  const std::vector<fs::path> corpus = JpegFiles(fs::path(ZOVEVOD_CORPUS_DIR) / "jpeg");
  files.insert(files.end(), corpus.begin(), corpus.end());
  ASSERT_GT(files.size(), 10u);
  for (const fs::path& file : files) {
    const Bytes data = ReadFile(file);
    for (std::size_t o = 0; o < std::size(OptionSets); ++o)
      ExpectSameBothWays(data, file.string() + ", options " + std::to_string(o), OptionSets[o]);
  }
}

TEST(JpegQuantiser, RandomPicturesDecodeAsLibjpegDoes) {
  // Sizes around the 8 x 8 and 16 x 16 blocks, single rows and columns, and
  // ones past the size where the decoder starts worker threads.
  const std::pair<int, int> sizes[] = {{1, 1},    {1, 37},  {53, 1},    {7, 9},    {16, 16},    {17, 33},   {64, 48},
                                       {127, 95}, {250, 3}, {301, 203}, {640, 17}, {1111, 999}, {2048, 700}};
  const Encoding encodings[] = {{2, 2, 0, false, false, 85}, {1, 1, 0, false, false, 95}, {2, 1, 0, false, false, 60},
                                {1, 2, 0, false, false, 75}, {2, 2, 1, false, false, 80}, {2, 2, 0, true, false, 85},
                                {1, 1, 3, true, false, 90},  {2, 2, 0, false, true, 70}};
  unsigned seed = 1;
  for (const auto& [w, h] : sizes)
    for (int kind = 0; kind < 3; ++kind) {
      const Encoding& e = encodings[seed % std::size(encodings)];
      const Bytes rgb = Picture(w, h, kind, seed);
      const Bytes data = Encode(rgb, w, h, e);
      const std::string what = std::to_string(w) + " x " + std::to_string(h) + ", kind " + std::to_string(kind) +
                               ", encoding " + std::to_string(seed % std::size(encodings));
      ExpectSameBothWays(data, what);
      if (static_cast<std::uint64_t>(w) * h < 100000) ExpectSameBothWays(data, what + ", 16 colours", OptionSets[1]);
      ++seed;
    }
}

TEST(JpegQuantiser, CountsSaturateAsA16BitCounterWould) {
  // One colour covering far more than 65,535 pixels, beside a few others:
  // the colours chosen depend on where the count stops.
  const int w = 700, h = 400;
  Bytes rgb(3 * static_cast<std::size_t>(w) * h, 200);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w / 5; ++x) {
      std::uint8_t* p = &rgb[3 * (static_cast<std::size_t>(y) * w + x)];
      p[0] = static_cast<std::uint8_t>(x * 6);
      p[1] = static_cast<std::uint8_t>(y / 2);
      p[2] = 30;
    }
  ExpectSameBothWays(Encode(rgb, w, h, {1, 1, 0, false, false, 100}), "saturated");

  zv::ColourHistogram a, b, whole;
  const Bytes grey(3 * 50000, 128);
  a.AddPixels(grey.data(), 50000);
  b.AddPixels(grey.data(), 50000);
  whole.AddPixels(grey.data(), 50000);
  whole.AddPixels(grey.data(), 50000);
  a.Add(b);
  const int cell = zv::ColourHistogram::CellOf(128, 128, 128);
  EXPECT_EQ(a.Saturated(cell), 65535u);
  EXPECT_EQ(whole.Saturated(cell), 65535u);
  EXPECT_EQ(a.Saturated(cell + 1), 0u);
}

TEST(JpegQuantiser, FewColoursGiveOneEntryEach) {
  // Fewer occupied cells than wanted colours: one box, and one entry, each.
  zv::ColourHistogram h;
  const std::uint8_t pixels[] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 255, 0, 0};
  h.AddPixels(pixels, 4);
  const std::vector<zv::Rgb> colours = zv::ChooseColours(h, 256);
  ASSERT_EQ(colours.size(), 3u);
  for (const zv::Rgb c : {zv::Rgb{4, 2, 4}, zv::Rgb{252, 254, 252}, zv::Rgb{252, 2, 4}})
    EXPECT_NE(std::find(colours.begin(), colours.end(), c), colours.end());
}

TEST(JpegQuantiser, ReadInputIsReportedPassByPass) {
  // A colour picture of a megapixel or more is read three times from the
  // start (the size check's scan, the histogram and the dithering); smaller
  // ones, left to libjpeg's quantiser, and grey ones twice. Within a pass each
  // stretch follows the last. The picture is the same as without.
  const Bytes colour = Encode(Picture(1024, 1024, 0, 7), 1024, 1024, {});
  const Bytes small = Encode(Picture(300, 200, 0, 7), 300, 200, {});
  const Bytes grey = ReadFile(fs::path(ZOVEVOD_TESTDATA_DIR) / "jpeg" / "video-005.gray.jpeg");
  for (const auto& [data, passes] : {std::pair{&colour, 3}, std::pair{&small, 2}, std::pair{&grey, 2}}) {
    int starts = 0;
    const std::uint8_t* next = nullptr;
    bool inOrder = true;
    const zv::JpegInputRead read = [&](const std::uint8_t* from, std::size_t bytes) {
      if (from == data->data())
        ++starts;
      else
        inOrder = inOrder && from == next;
      next = from + bytes;
      inOrder = inOrder && next <= data->data() + data->size();
    };
    Bitmap reported, plain;
    zv::DecodeJpeg(data->data(), data->size(), reported, read);
    zv::DecodeJpeg(data->data(), data->size(), plain);
    EXPECT_EQ(starts, passes);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, data->data() + data->size()) << "the last pass reads to the end";
    ASSERT_EQ(reported.Palette(), plain.Palette());
    for (int y = 0; y < plain.Height(); ++y)
      ASSERT_TRUE(std::equal(plain.Row(y), plain.Row(y) + plain.Stride(), reported.Row(y)));
  }
}

TEST(RowPipeline, OneWorkerConsumesInOrderAndErrorsReachTheProducer) {
  for (const int workers : {0, 1}) {
    std::vector<int> seen;
    zv::RowPipeline pipe(16, 3, workers, [&](int, const zv::RowPipeline::Block& b) { seen.push_back(b.first); });
    for (int i = 0; i < 100; ++i) {
      zv::RowPipeline::Block* b = pipe.Acquire();
      b->first = i;
      b->rows = 1;
      pipe.Publish(b);
    }
    pipe.Finish();
    ASSERT_EQ(seen.size(), 100u) << workers;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
  }
  std::atomic<int> consumed{0};
  zv::RowPipeline failing(16, 2, 2, [&](int, const zv::RowPipeline::Block&) {
    ++consumed;
    throw std::runtime_error("consumer failed");
  });
  EXPECT_THROW(
      {
        for (int i = 0; i < 1000; ++i) failing.Publish(failing.Acquire());
        failing.Finish();
      },
      std::runtime_error);
  EXPECT_GE(consumed.load(), 1);
}

} // namespace
