// Finding a topographic sheet's frame on its scan: the four corners of the
// neat line, the thin dark line that bounds the map inside the collar.
#pragma once

#include "model/SheetCalibration.h"

#include <atomic>
#include <string>

namespace zv {

class Bitmap;

struct TFrameSearch {
  bool Found = false;
  // North-west, north-east, south-east, south-west, in picture pixels
  // (pixel centres at whole numbers); always on the picture when Found.
  TFrameCorners Corners{};
  // 0..1: how much of each side was seen as one straight line, and how
  // straight. Below kFrameConfidenceNeeded the frame counts as not found.
  double Confidence = 0;
  // Why the frame was not found, in words for the user; empty when it was.
  std::string Problem;
};

inline constexpr double kFrameConfidenceNeeded = 0.6;

// Looks for the innermost closed frame of four long straight lines (each
// turned by at most 5° from the picture's axes) whose sides end at its
// corners, on a reduced picture first; then measures each side at full
// resolution to a fraction of a pixel and intersects them. Reads the
// picture once, with a few MiB beside it. When *stop turns true (from
// another thread) the search ends soon, with the frame not found.
TFrameSearch FindSheetFrame(const Bitmap& picture, const std::atomic<bool>* stop = nullptr);

} // namespace zv
