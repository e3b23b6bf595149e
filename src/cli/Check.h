#pragma once

#include <string>
#include <vector>

namespace zv {

// One problem found by a check: the file given, the map ("layer/map" in an
// atlas, empty for the file as a whole) and what is wrong with what to do.
struct TCheckProblem {
  std::string File;
  std::string Map;
  std::string Message;
};

// Opens each file as the converter's --list does and checks every map's
// calibration; an atlas (a .vka file, or a tar archive holding one) is also
// proven to read back: every map directory yields a map, every listed tile
// exists and decodes, and the tiles cover each picture on one grid without
// gaps or overlaps.
std::vector<TCheckProblem> CheckFiles(const std::vector<std::string>& files);

} // namespace zv
