#pragma once

#include "codecs/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

// The two-pass colour quantiser the JPEG decoder uses for colour maps, built
// so that its palette and pixels are byte for byte those of libjpeg's own
// two-pass quantiser (median cut over a 5-6-5 bit histogram, Floyd-Steinberg
// dithering in serpentine order) while it sees the picture as a stream of
// rows twice and never holds it whole.

// Counts of colours at 5 bits of red, 6 of green and 5 of blue. Counts are
// kept exact here; the colour choice reads them saturated at 65535, as a
// 16-bit counter that stops at its top would hold them, so histograms of
// parts of a picture may be added up in any order.
class ColourHistogram {
public:
  static constexpr int Cells = 32 * 64 * 32;
  static constexpr std::uint32_t Saturation = 65535;

  ColourHistogram() : counts_(Cells, 0) {}

  static constexpr int CellOf(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
  }

  // Counts pixels given as RGB triples.
  void AddPixels(const std::uint8_t* rgb, std::size_t pixels);
  void Add(const ColourHistogram& other);
  // The count the colour choice sees.
  std::uint32_t Saturated(int cell) const { return counts_[cell] < Saturation ? counts_[cell] : Saturation; }

private:
  // 32 bits hold any count a JPEG can make: at most 65,535 x 65,535 pixels.
  std::vector<std::uint32_t> counts_;
};

// Up to wanted colours (8 to 256) by median cut: boxes split by population
// until half the colours are there, then by size, each box's colour the
// pixel-weighted mean of its cells. Fewer when the picture has fewer cells.
std::vector<Rgb> ChooseColours(const ColourHistogram& histogram, int wanted);

// Floyd-Steinberg dithering of RGB rows onto a palette, rows taken from the
// top; even rows run left to right, odd rows right to left. Errors are
// limited as libjpeg limits them, and each dithered colour takes the palette
// entry nearest to the centre of its histogram cell.
class FloydSteinbergDitherer {
public:
  FloydSteinbergDitherer(const std::vector<Rgb>& palette, int width);

  // One row of width RGB triples into width palette indices.
  void DitherRow(const std::uint8_t* rgb, std::uint8_t* out);

private:
  template <int Step> void Run(const std::uint8_t* rgb, std::uint8_t* out);
  // Finds the nearest entries for the whole block of cells around cell.
  void FillBlock(int cell);

  std::vector<Rgb> palette_;
  int width_;
  bool oddRow_ = false;
  // Errors in sixteenths for the row below, one triple per column plus one
  // on either side that nothing reads.
  std::vector<int> errors_;
  // For each histogram cell: the colour of its nearest palette entry, packed
  // as red | green << 8 | blue << 16 with bit 24 set, or 0 while not yet
  // looked up; and that entry's index.
  std::vector<std::uint32_t> nearestColour_;
  std::vector<std::uint8_t> nearestIndex_;
  // The limited error for (error sum + 8) from -4096 to 4095 in sixteenths,
  // rounded to whole units first.
  std::vector<std::int8_t> limit_;
};

} // namespace zv
