#pragma once

#include "codecs/Bitmap.h"

#include <atomic>
#include <functional>
#include <vector>

namespace zv {

// Zoom-out reductions of a picture. One level halves the picture with a 2 × 2
// box average into 24-bit RGB: each channel is (sum + n / 2) / n over the n
// pixels of the block (4 inside, 2 or 1 in the partial blocks at the right and
// bottom edges), and each side halves rounding up. Level L is L halvings, not
// one 2^L box: the rounding of every step is part of the result, so a level
// made from another level equals one made from the full picture.

// Side of a picture side `size` after `levels` halvings: ceil(size / 2^levels).
int ReducedSide(int size, int levels);

// Fills `out` (exactly w × h, any format) with that rectangle of a picture.
using PictureSource = std::function<void(int x, int y, int w, int h, Bitmap& out)>;

// The rectangle (x, y, w, h) of the picture reduced `levels` times (0..30),
// as a 24-bit bitmap, computed from the part of the picture it covers. The
// rectangle is clipped to the reduced picture. The source is asked for bands
// of 2^levels rows, so memory stays small whatever the picture's size.
Bitmap ReduceRegion(const PictureSource& source, int width, int height, int levels, int x, int y, int w, int h);

// The same from one bitmap of any format, read where its rows are.
Bitmap ReduceRegion(const Bitmap& picture, int levels, int x, int y, int w, int h);
// The same written into the top-left corner of out, a 24-bit bitmap at least
// as large as the clipped rectangle; the rest of out stays as it is.
void ReduceRegionInto(const Bitmap& picture, int levels, int x, int y, int w, int h, Bitmap& out);

// The whole picture reduced `levels` times.
Bitmap Reduce(const Bitmap& picture, int levels);

// Levels first..last (1 <= first <= last <= 30) of the whole picture in one
// pass over it: element i is level first + i, equal to ReduceRegion of that
// whole level. The picture is asked for bands of 2^last full rows, by
// `threads` threads at once, so source must allow concurrent calls. When
// *cancel becomes true the pass stops early and the levels are incomplete.
std::vector<Bitmap> ReduceLevels(const PictureSource& source, int width, int height, int first, int last, int threads,
                                 const std::atomic<bool>* cancel = nullptr);
// The same straight from the rows of one bitmap of any format.
std::vector<Bitmap> ReduceLevels(const Bitmap& picture, int first, int last, int threads,
                                 const std::atomic<bool>* cancel = nullptr);

} // namespace zv
