#include "export/ZoomOut.h"

#include "base/Paths.h"
#include "codecs/Reduce.h"
#include "model/CalibrationText.h"

#include <cstddef>

namespace zv {

std::string ZoomOutPercent(int level) {
  // Written out: a formatted 100 / 2^level would depend on rounding and locale.
  static const char* const kPercent[] = {"100%", "50%", "25%", "12.5%", "6.25%"};
  return level >= 0 && level <= kMaxZoomOutLayers ? kPercent[level] : std::string();
}

std::string ZoomOutLayerName(const std::string& layoutName, int level) {
  return layoutName + " " + ZoomOutPercent(level);
}

std::int32_t ReducedCoordinate(std::int32_t value, int level) {
  if (level <= 0) return value;
  const std::int64_t k = std::int64_t{1} << level;
  const std::int64_t v = value;
  const std::int64_t magnitude = ((v < 0 ? -v : v) + k / 2) / k;
  return static_cast<std::int32_t>(v < 0 ? -magnitude : magnitude);
}

namespace {

// Replaces word n by value, right-aligned in the word's width when it fits.
void ReplaceWord(std::string& line, int n, char delimiter, std::int64_t value) {
  std::size_t start = 0, length = 0;
  if (!FindNthWord(n, line, std::string(1, delimiter), start, length)) return;
  std::string text = std::to_string(value);
  if (text.size() < length) text.insert(0, length - text.size(), ' ');
  line.replace(start, length, text);
}

// The pixel words xWord and yWord of a point line, reduced; a line whose words
// are blank or no integers stays as it is, as it yields no point.
void ReducePointWords(std::string& line, int xWord, int yWord, char delimiter, int level) {
  const std::string d(1, delimiter);
  std::int32_t x = 0, y = 0;
  if (!TryStrToInt(Trim(ExtractNthWord(xWord, line, d)), x) || !TryStrToInt(Trim(ExtractNthWord(yWord, line, d)), y))
    return;
  // The later word first, so that the earlier one's position still holds.
  ReplaceWord(line, yWord, delimiter, ReducedCoordinate(y, level));
  ReplaceWord(line, xWord, delimiter, ReducedCoordinate(x, level));
}

} // namespace

std::vector<std::string> ReducedCalibrationLines(const std::vector<std::string>& lines, const std::string& upperExt,
                                                 std::int32_t width, std::int32_t height, int level) {
  std::vector<std::string> out = lines;
  if (upperExt == ".MAP") {
    // Lines 1 to 3 are the header (the third names the image); points follow.
    for (std::size_t i = 3; i < out.size(); ++i)
      if (UpperCaseAscii(out[i].substr(0, 5)) == "POINT") ReducePointWords(out[i], 3, 4, ',', level);
    // The picture size the calibration was made for: the first "IWH,Map
    // Image Width/Height" line after the header, the one the check reads.
    for (std::size_t i = 3; i < out.size(); ++i) {
      std::string& line = out[i];
      if (!IsImageSizeLine(line)) continue;
      if (!Trim(ExtractNthWord(3, line, ",")).empty() && !Trim(ExtractNthWord(4, line, ",")).empty()) {
        ReplaceWord(line, 4, ',', ReducedSide(height, level));
        ReplaceWord(line, 3, ',', ReducedSide(width, level));
      }
      break;
    }
  } else if (upperExt == ".GMI") {
    for (std::size_t i = 4; i < out.size(); ++i) ReducePointWords(out[i], 1, 2, ';', level);
  }
  return out;
}

} // namespace zv
