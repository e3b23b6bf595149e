// Zoom-out layers of an atlas: each layout again, its maps reduced by 2, 4,
// 8 or 16, for viewers that show a coarser map when zoomed out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

// The most zoom-out layers an export writes per layout (down to 6.25 %).
constexpr int kMaxZoomOutLayers = 4;

// "50%", "25%", "12.5%", "6.25%" for levels 1..4: the scale of a map reduced
// level times.
std::string ZoomOutPercent(int level);

// The layer of layout layoutName reduced level times: "Topo 50%".
std::string ZoomOutLayerName(const std::string& layoutName, int level);

// round(value / 2^level), halves away from zero.
std::int32_t ReducedCoordinate(std::int32_t value, int level);

// The calibration copy of a map reduced level times: lines as the export
// writes them for the full map, read as the format upperExt (".MAP" or
// ".GMI") reads them. In every line that yields a point the pixel X and Y
// words become the reduced coordinates, right-aligned in the word's width when
// they fit; a .map's "IWH" line gives the reduced picture size. Every other
// byte stays as it is.
std::vector<std::string> ReducedCalibrationLines(const std::vector<std::string>& lines, const std::string& upperExt,
                                                 std::int32_t width, std::int32_t height, int level);

} // namespace zv
