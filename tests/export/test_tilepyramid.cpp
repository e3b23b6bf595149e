// The pyramid's blocks and quadtree order against what a pyramid must hold:
// every tile above a drawn one written once, each showing the drawn tiles
// it averages, whatever the levels and however the range meets the blocks.

#include "export/TilePyramid.h"

#include "codecs/Png.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

namespace {

using TKey = std::tuple<int, int, int>; // zoom, column, row

struct TRecordingSink : zv::TTileSink {
  std::map<TKey, std::vector<std::uint8_t>> Tiles;
  int Repeated = 0;
  void Put(const zv::TTilePlace& p, const std::vector<std::uint8_t>& bytes) override {
    Repeated += !Tiles.emplace(TKey{p.Zoom, p.Column, p.Row}, bytes).second;
  }
  void Finish(const zv::TTileSetInfo&) override {}
};

// Some tiles of the range are left out, so that parents with missing
// children and whole missing blocks occur.
bool Drawn(int column, int row) { return (column * 3 + row * 5) % 7 != 0 && column % 11 != 4; }

zv::Rgb Colour(int column, int row) {
  return {static_cast<std::uint8_t>(column * 37), static_cast<std::uint8_t>(row * 53), 200};
}

std::unique_ptr<zv::TRgbaTile> Draw(int column, int row) {
  if (!Drawn(column, row)) return nullptr;
  auto tile = std::make_unique<zv::TRgbaTile>(256, 256);
  const zv::Rgb c = Colour(column, row);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      std::uint8_t* p = tile->Row(y) + 4 * x;
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
    }
  return tile;
}

TEST(TilePyramid, EveryLevelHoldsTheDrawnTilesItAverages) {
  const struct {
    int MinZoom, MaxZoom;
    zv::TTilePyramid::TRange Range;
  } cases[] = {
      {10, 15, {1003, 2001, 1049, 2013}}, // wide, not on block edges
      {12, 12, {5, 9, 30, 11}},           // one level: blocks below it
      {2, 6, {0, 0, 63, 5}},              // levels below the blocks
      {0, 2, {1, 0, 3, 3}},               // fewer levels than a block
      {9, 9, {7, 7, 7, 7}},               // one tile
  };
  for (const auto& c : cases) {
    TRecordingSink sink;
    zv::TTileEncoding png;
    png.Format = zv::TTileFormat::Png;
    zv::TTilePyramid pyramid(c.MinZoom, c.MaxZoom, png, 3, sink);
    std::int64_t reported = 0;
    pyramid.Build(c.Range, Draw, [&](std::int64_t tiles) { reported += tiles; });
    const auto& r = c.Range;
    EXPECT_EQ(reported, std::int64_t{r.Column1 - r.Column0 + 1} * (r.Row1 - r.Row0 + 1));
    EXPECT_EQ(sink.Repeated, 0);
    // The tiles each level must have: those above a drawn tile of the range.
    std::map<TKey, int> expected;
    std::map<TKey, zv::Bitmap> decoded;
    for (int row = r.Row0; row <= r.Row1; ++row)
      for (int column = r.Column0; column <= r.Column1; ++column)
        if (Drawn(column, row))
          for (int z = c.MinZoom; z <= c.MaxZoom; ++z) {
            const int shift = c.MaxZoom - z;
            ++expected[{z, column >> shift, row >> shift}];
            // The drawn tile's footprint at this level shows its colour at its centre.
            const auto found = sink.Tiles.find({z, column >> shift, row >> shift});
            ASSERT_NE(found, sink.Tiles.end()) << z << " " << column << "," << row;
            zv::Bitmap& tile = decoded[found->first];
            if (tile.Width() == 0) zv::DecodePng(found->second.data(), found->second.size(), tile);
            const int side = 256 >> shift, mask = (1 << shift) - 1;
            EXPECT_EQ(tile.Pixel((column & mask) * side + side / 2, (row & mask) * side + side / 2),
                      Colour(column, row))
                << z << " " << column << "," << row;
          }
    EXPECT_EQ(sink.Tiles.size(), expected.size());
    EXPECT_EQ(pyramid.TilesWritten(), static_cast<std::int64_t>(expected.size()));
  }
}

// What is held is one block of the highest level: its tiles are drawn
// together and never returned to, however wide the range.
TEST(TilePyramid, BlocksAreDrawnOneAfterAnother) {
  for (const auto& [minZoom, maxZoom] : {std::pair{10, 15}, {15, 15}}) {
    TRecordingSink sink;
    zv::TTilePyramid pyramid(minZoom, maxZoom, {}, 1, sink);
    std::vector<std::pair<int, int>> blocks;
    pyramid.Build({3, 5, 203, 9}, [&](int column, int row) {
      if (blocks.empty() || blocks.back() != std::pair{column / 8, row / 8}) blocks.emplace_back(column / 8, row / 8);
      return Draw(column, row);
    }, [](std::int64_t) {});
    std::set<std::pair<int, int>> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), blocks.size()) << minZoom;
    EXPECT_EQ(blocks.size(), 26u * 2);
  }
}

} // namespace
