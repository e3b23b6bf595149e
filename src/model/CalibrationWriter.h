// Writing an area's calibration points as a .map calibration file.
#pragma once

#include "model/CalibrationPoint.h"

#include <functional>
#include <string>
#include <vector>

namespace zv {

class TMapArea;

// A numbered point line in the layout of the usual .map files:
// "Point01,xy,  100,  200,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,           ,           ,N".
// Degrees and minutes are non-negative with the hemisphere letter; a point
// without latitude and longitude leaves those fields blank, and one without
// grid words those. number is 1-based; a coordinate too large to write
// raises a zv::Error.
std::string MapPointLine(int number, const TCalibrationPoint& point);
// The same line for an unused number, every value empty.
std::string EmptyMapPointLine(int number);

// The lines a save of area as mapFileName writes. An area read from a .map
// keeps its Lines with every point line replaced, in order, by the points
// (a point as read keeps its line byte for byte; when points changed, the
// "MMPLL" border lines follow their "MMPXY" pixels through the new fit)
// (further points on new lines after the last point line) and the "IWH"
// line set to the picture's size; any other area gets a whole new file
// naming its image (relative to mapFileName's folder when it lies there or
// below), on WGS 84 in latitude and longitude.
std::vector<std::string> CalibrationLinesToSave(const TMapArea& area, const std::string& mapFileName);

// Writes lines, each ended by CR LF, to a temporary file in fileName's folder
// and renames it over fileName once every byte is written; on any failure
// the temporary file goes, an existing fileName stays as it was, and a
// zv::Error names fileName and the reason.
void WriteTextFileReplacing(const std::string& fileName, const std::vector<std::string>& lines);

// The .map file a save of area's calibration goes to without a question:
// its own calibration file, when that is a .map on disk; empty otherwise.
std::string OwnCalibrationFile(const TMapArea& area);

// The name "Save calibration as..." suggests: the calibration file's, or the
// image's for a lone image, with ".map" for its extension; beside the archive
// for a map read from one.
std::string SuggestedCalibrationFile(const TMapArea& area);

// What a save of area asks first, in words (more points than the 30 other
// readers of .map files take); empty when it asks nothing.
std::string SaveCalibrationQuestion(const TMapArea& area);
// Answers a save's question: true writes.
using TSaveQuestion = std::function<bool(const std::string& question)>;

// Saves area's calibration as mapFileName, once ask (when given) has said
// yes to SaveCalibrationQuestion; false when it said no. Afterwards the area
// stands as if read from that file: Lines are the saved lines, FileName is
// mapFileName and the points count as saved. On failure the area is left as it was.
bool SaveCalibration(TMapArea& area, const std::string& mapFileName, const TSaveQuestion& ask = {});

} // namespace zv
