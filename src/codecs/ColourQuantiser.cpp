#include "codecs/ColourQuantiser.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <iterator>

namespace zv {

namespace {

// Histogram geometry: cells per axis, bits dropped from each sample, and the
// weights of red, green and blue in colour distances.
constexpr int AxisCells[3] = {32, 64, 32};
constexpr int AxisShift[3] = {3, 2, 3};
constexpr int AxisWeight[3] = {2, 3, 1};
constexpr int AxisStride[3] = {64 * 32, 32, 1};

// The centre of cell index i along an axis, in sample units.
constexpr int CellCentre(int axis, int i) { return (i << AxisShift[axis]) + ((1 << AxisShift[axis]) >> 1); }

// A box of histogram cells, bounds inclusive.
struct Box {
  int lo[3];
  int hi[3];
  std::int64_t volume = 0;     // squared weighted diagonal; 0 when it cannot be split
  std::int64_t population = 0; // cells with any pixel
};

class MedianCut {
public:
  explicit MedianCut(const ColourHistogram& histogram) : counts_(ColourHistogram::Cells) {
    for (int i = 0; i < ColourHistogram::Cells; ++i) counts_[static_cast<std::size_t>(i)] = histogram.Saturated(i);
  }

  std::vector<Rgb> Run(int wanted) {
    std::vector<Box> boxes;
    boxes.reserve(static_cast<std::size_t>(wanted));
    boxes.push_back(Box{{0, 0, 0}, {AxisCells[0] - 1, AxisCells[1] - 1, AxisCells[2] - 1}});
    Shrink(boxes[0]);
    while (static_cast<int>(boxes.size()) < wanted) {
      Box* chosen = static_cast<int>(boxes.size()) * 2 <= wanted ? MostPopulous(boxes) : Largest(boxes);
      if (!chosen) break;
      Box second = *chosen;
      const int axis = SplitAxis(*chosen);
      const int middle = (chosen->lo[axis] + chosen->hi[axis]) / 2;
      chosen->hi[axis] = middle;
      second.lo[axis] = middle + 1;
      Shrink(*chosen);
      Shrink(second);
      boxes.push_back(second); // chosen stays valid: the capacity was reserved
    }
    std::vector<Rgb> colours;
    colours.reserve(boxes.size());
    for (const Box& b : boxes) colours.push_back(MeanColour(b));
    return colours;
  }

private:
  std::uint32_t Count(int c0, int c1, int c2) const {
    return counts_[static_cast<std::size_t>(c0 * AxisStride[0] + c1 * AxisStride[1] + c2)];
  }

  // Whether the slice of the box at value v along axis holds any pixel.
  bool SliceOccupied(const Box& b, int axis, int v) const {
    int lo[3] = {b.lo[0], b.lo[1], b.lo[2]};
    int hi[3] = {b.hi[0], b.hi[1], b.hi[2]};
    lo[axis] = hi[axis] = v;
    for (int c0 = lo[0]; c0 <= hi[0]; ++c0)
      for (int c1 = lo[1]; c1 <= hi[1]; ++c1)
        for (int c2 = lo[2]; c2 <= hi[2]; ++c2)
          if (Count(c0, c1, c2) != 0) return true;
    return false;
  }

  // Tightens the box around its pixels, axis by axis (each low bound, then
  // each high bound, within the bounds tightened so far), then measures it.
  void Shrink(Box& b) const {
    for (int axis = 0; axis < 3; ++axis) {
      if (b.hi[axis] > b.lo[axis])
        for (int v = b.lo[axis]; v <= b.hi[axis]; ++v)
          if (SliceOccupied(b, axis, v)) {
            b.lo[axis] = v;
            break;
          }
      if (b.hi[axis] > b.lo[axis])
        for (int v = b.hi[axis]; v >= b.lo[axis]; --v)
          if (SliceOccupied(b, axis, v)) {
            b.hi[axis] = v;
            break;
          }
    }
    b.volume = 0;
    for (int axis = 0; axis < 3; ++axis) {
      const std::int64_t d = Span(b, axis);
      b.volume += d * d;
    }
    b.population = 0;
    for (int c0 = b.lo[0]; c0 <= b.hi[0]; ++c0)
      for (int c1 = b.lo[1]; c1 <= b.hi[1]; ++c1)
        for (int c2 = b.lo[2]; c2 <= b.hi[2]; ++c2)
          if (Count(c0, c1, c2) != 0) ++b.population;
  }

  // The box's extent along axis in weighted sample units.
  static int Span(const Box& b, int axis) { return ((b.hi[axis] - b.lo[axis]) << AxisShift[axis]) * AxisWeight[axis]; }

  // The first box, among those that can still be split, with the most occupied cells.
  static Box* MostPopulous(std::vector<Box>& boxes) {
    Box* best = nullptr;
    std::int64_t most = 0;
    for (Box& b : boxes)
      if (b.population > most && b.volume > 0) {
        best = &b;
        most = b.population;
      }
    return best;
  }

  static Box* Largest(std::vector<Box>& boxes) {
    Box* best = nullptr;
    std::int64_t most = 0;
    for (Box& b : boxes)
      if (b.volume > most) {
        best = &b;
        most = b.volume;
      }
    return best;
  }

  // The longest weighted axis; ties go to green, then red.
  static int SplitAxis(const Box& b) {
    int axis = 1;
    int longest = Span(b, 1);
    if (Span(b, 0) > longest) {
      axis = 0;
      longest = Span(b, 0);
    }
    if (Span(b, 2) > longest) axis = 2;
    return axis;
  }

  Rgb MeanColour(const Box& b) const {
    std::uint64_t total = 0;
    std::uint64_t sum[3] = {0, 0, 0};
    for (int c0 = b.lo[0]; c0 <= b.hi[0]; ++c0)
      for (int c1 = b.lo[1]; c1 <= b.hi[1]; ++c1)
        for (int c2 = b.lo[2]; c2 <= b.hi[2]; ++c2) {
          const std::uint64_t n = Count(c0, c1, c2);
          if (n == 0) continue;
          total += n;
          sum[0] += static_cast<std::uint64_t>(CellCentre(0, c0)) * n;
          sum[1] += static_cast<std::uint64_t>(CellCentre(1, c1)) * n;
          sum[2] += static_cast<std::uint64_t>(CellCentre(2, c2)) * n;
        }
    assert(total > 0);
    auto mean = [&](int axis) { return static_cast<std::uint8_t>((sum[axis] + total / 2) / total); };
    return Rgb{mean(0), mean(1), mean(2)};
  }

  std::vector<std::uint32_t> counts_;
};

// Inverse colour map blocks: 4 x 8 x 4 cells.
constexpr int BlockCells[3] = {4, 8, 4};

int WeightedSquare(int axis, int d) {
  const int w = d * AxisWeight[axis];
  return w * w;
}

} // namespace

void ColourHistogram::AddPixels(const std::uint8_t* rgb, std::size_t pixels) {
  std::uint32_t* counts = counts_.data();
  const std::uint8_t* end = rgb + 3 * pixels;
  for (const std::uint8_t* p = rgb; p != end; p += 3) ++counts[CellOf(p[0], p[1], p[2])];
}

void ColourHistogram::Add(const ColourHistogram& other) {
  for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] += other.counts_[i];
}

std::vector<Rgb> ChooseColours(const ColourHistogram& histogram, int wanted) {
  assert(wanted >= 1 && wanted <= 256);
  return MedianCut(histogram).Run(wanted);
}

// Row error sums (7/16 from the left plus what the row above left) stay
// within +-(7 + 9) x 255 sixteenths, so this table covers every one.
constexpr int LimitTableHalf = 4096;

FloydSteinbergDitherer::FloydSteinbergDitherer(const std::vector<Rgb>& palette, int width)
    : palette_(palette), width_(width), errors_(3 * (static_cast<std::size_t>(width) + 2), 0),
      nearestColour_(ColourHistogram::Cells, 0), nearestIndex_(ColourHistogram::Cells, 0), limit_(2 * LimitTableHalf) {
  assert(!palette.empty() && palette.size() <= 256);
  // Errors pass 1:1 up to 16, at half their growth up to 48, and stop at 32.
  for (int i = 0; i < 2 * LimitTableHalf; ++i) {
    const int e = (i - LimitTableHalf) >> 4;
    const int a = e < 0 ? -e : e;
    const int limited = a < 16 ? a : a < 48 ? 16 + (a - 16) / 2 : 32;
    limit_[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(e < 0 ? -limited : limited);
  }
}

void FloydSteinbergDitherer::FillBlock(int cell) {
  int base[3] = {cell >> 11, (cell >> 5) & 63, cell & 31};
  int lo[3], hi[3]; // centres of the block's outer cells
  for (int axis = 0; axis < 3; ++axis) {
    base[axis] -= base[axis] % BlockCells[axis];
    lo[axis] = CellCentre(axis, base[axis]);
    hi[axis] = CellCentre(axis, base[axis] + BlockCells[axis] - 1);
  }
  // An entry can be nearest to some cell of the block only if its distance
  // to the block is no more than the smallest farthest distance of any entry.
  const int n = static_cast<int>(palette_.size());
  int nearDist[256];
  int bound = INT_MAX;
  for (int i = 0; i < n; ++i) {
    const int c[3] = {palette_[static_cast<std::size_t>(i)].r, palette_[static_cast<std::size_t>(i)].g,
                      palette_[static_cast<std::size_t>(i)].b};
    int nearSum = 0, farSum = 0;
    for (int axis = 0; axis < 3; ++axis) {
      const int x = c[axis];
      if (x < lo[axis])
        nearSum += WeightedSquare(axis, lo[axis] - x);
      else if (x > hi[axis])
        nearSum += WeightedSquare(axis, x - hi[axis]);
      farSum += WeightedSquare(axis, std::max(x - lo[axis], hi[axis] - x));
    }
    nearDist[i] = nearSum;
    bound = std::min(bound, farSum);
  }
  int candidates[256];
  int count = 0;
  for (int i = 0; i < n; ++i)
    if (nearDist[i] <= bound) candidates[count++] = i;

  // Distances add up per axis, so each candidate needs only 4 + 8 + 4 terms;
  // candidates come in index order and only a strictly nearer one replaces
  // the one found, so ties go to the lower index.
  constexpr int blockSize = BlockCells[0] * BlockCells[1] * BlockCells[2];
  int best[blockSize];
  std::uint8_t chosen[blockSize] = {};
  std::fill(std::begin(best), std::end(best), INT_MAX);
  for (int k = 0; k < count; ++k) {
    const Rgb& p = palette_[static_cast<std::size_t>(candidates[k])];
    int dr[BlockCells[0]], dg[BlockCells[1]], db[BlockCells[2]];
    for (int i = 0; i < BlockCells[0]; ++i) dr[i] = WeightedSquare(0, CellCentre(0, base[0] + i) - p.r);
    for (int i = 0; i < BlockCells[1]; ++i) dg[i] = WeightedSquare(1, CellCentre(1, base[1] + i) - p.g);
    for (int i = 0; i < BlockCells[2]; ++i) db[i] = WeightedSquare(2, CellCentre(2, base[2] + i) - p.b);
    const auto index = static_cast<std::uint8_t>(candidates[k]);
    int at = 0;
    for (int i0 = 0; i0 < BlockCells[0]; ++i0)
      for (int i1 = 0; i1 < BlockCells[1]; ++i1) {
        const int rg = dr[i0] + dg[i1];
        for (int i2 = 0; i2 < BlockCells[2]; ++i2, ++at) {
          const int d = rg + db[i2];
          const bool nearer = d < best[at];
          best[at] = nearer ? d : best[at];
          chosen[at] = nearer ? index : chosen[at];
        }
      }
  }
  int at = 0;
  for (int i0 = 0; i0 < BlockCells[0]; ++i0)
    for (int i1 = 0; i1 < BlockCells[1]; ++i1)
      for (int i2 = 0; i2 < BlockCells[2]; ++i2, ++at) {
        const auto cell =
            static_cast<std::size_t>((base[0] + i0) * AxisStride[0] + (base[1] + i1) * AxisStride[1] + base[2] + i2);
        const Rgb& p = palette_[chosen[at]];
        nearestColour_[cell] = std::uint32_t{p.r} | std::uint32_t{p.g} << 8 | std::uint32_t{p.b} << 16 | 1u << 24;
        nearestIndex_[cell] = chosen[at];
      }
}

void FloydSteinbergDitherer::DitherRow(const std::uint8_t* rgb, std::uint8_t* out) {
  if (oddRow_)
    Run<-1>(rgb, out);
  else
    Run<1>(rgb, out);
  oddRow_ = !oddRow_;
}

template <int Step> void FloydSteinbergDitherer::Run(const std::uint8_t* rgb, std::uint8_t* out) {
  const int w = width_;
  if (w <= 0) return;
  const int first = Step > 0 ? 0 : w - 1;
  // Column x's errors are the triple at entry x + 1.
  int* __restrict e = errors_.data() + 3 * (first + 1);
  const std::uint8_t* __restrict in = rgb + 3 * first;
  std::uint8_t* __restrict o = out + first;
  const std::int8_t* __restrict limit = limit_.data() + LimitTableHalf + 8;
  const std::uint32_t* __restrict colours = nearestColour_.data();
  const std::uint8_t* __restrict indices = nearestIndex_.data();
  // Per component, in sixteenths: what the last pixel passes right, what the
  // row below has gathered for the last column, and the last pixel's error
  // for the column after it. The chain from one pixel's error to the next
  // pixel's colour is the loop's whole cost, so it is kept short: one table
  // for rounding and limiting, one load for the nearest colour.
  int right0 = 0, right1 = 0, right2 = 0;
  int gathered0 = 0, gathered1 = 0, gathered2 = 0;
  int last0 = 0, last1 = 0, last2 = 0;
  for (int n = w; n > 0; --n) {
    int v0 = limit[right0 + e[0]] + in[0];
    int v1 = limit[right1 + e[1]] + in[1];
    int v2 = limit[right2 + e[2]] + in[2];
    v0 = std::clamp(v0, 0, 255);
    v1 = std::clamp(v1, 0, 255);
    v2 = std::clamp(v2, 0, 255);
    const int cell = (v0 >> 3) << 11 | (v1 >> 2) << 5 | (v2 >> 3);
    std::uint32_t c = colours[cell];
    if (c == 0) {
      FillBlock(cell);
      c = colours[cell];
    }
    *o = indices[cell];
    const int d0 = v0 - static_cast<int>(c & 0xFF);
    const int d1 = v1 - static_cast<int>((c >> 8) & 0xFF);
    const int d2 = v2 - static_cast<int>((c >> 16) & 0xFF);
    // The column behind is now complete: 1/16 and 5/16 gathered, 3/16 from here.
    e[-3 * Step + 0] = gathered0 + 3 * d0;
    e[-3 * Step + 1] = gathered1 + 3 * d1;
    e[-3 * Step + 2] = gathered2 + 3 * d2;
    gathered0 = last0 + 5 * d0;
    gathered1 = last1 + 5 * d1;
    gathered2 = last2 + 5 * d2;
    last0 = d0;
    last1 = d1;
    last2 = d2;
    right0 = 7 * d0;
    right1 = 7 * d1;
    right2 = 7 * d2;
    in += 3 * Step;
    o += Step;
    e += 3 * Step;
  }
  // The last column's share; the 1/16 past the edge is dropped.
  e -= 3 * Step;
  e[0] = gathered0;
  e[1] = gathered1;
  e[2] = gathered2;
}

} // namespace zv
