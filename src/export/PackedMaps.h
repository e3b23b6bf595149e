// A packed run's loose files: each map's tiles go once its archive is whole.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace zv {

// The loose files of the maps packed so far. Once a map's archive is whole
// its tiles go, and its set folder with them; in atlas mode its calibration
// copy and tile list stay for the atlas archive, whose clean-up removes them.
//
// Deleting files between creating others slows some file systems down with
// every deletion (ext4 without a journal looks at each recently freed inode
// whenever it creates a file), which made a packed atlas quadratic in its
// number of maps. So an atlas run empties each tile at once, which gives its
// space back, and deletes the tiles when its maps are done.
//
// A run that ends early (a stop or an error) removes what is left of the
// packed maps' loose files, calibration copy and tile list before the tiles,
// so that no tile list is left naming tiles that are gone. A same-named map
// written into the same folder later owns the files it writes over.
class TPackedMaps {
public:
  explicit TPackedMaps(bool deferred) : deferred_(deferred) {}
  // Maps are left here only when the run ended early.
  ~TPackedMaps() { RemoveAll(); }
  TPackedMaps(const TPackedMaps&) = delete;
  TPackedMaps& operator=(const TPackedMaps&) = delete;

  // A map's archive is whole. kept: its files that stay for the atlas
  // archive; going: the others, in the order written (full paths both).
  void Packed(const std::string& directory, std::vector<std::string> kept, std::vector<std::string> going);
  // Another map is about to write the files rewritten into directory: the
  // maps packed there lose those files (the atlas archive reads the new map's
  // anyway) and then their tiles.
  void Reuse(const std::string& directory, const std::vector<std::string>& rewritten);
  // Every packed map's tiles, once all maps are done.
  void RemoveTiles();
  // The atlas archive is whole: what is left is the atlas clean-up's.
  void Release();

private:
  struct TMap {
    std::string Directory;
    std::vector<std::string> Kept;
    std::vector<std::string> Tiles; // the files that go after packing
    bool SetFolder; // its set folder is still to go
  };

  static void RemoveTiles(TMap& map);
  void RemoveAll();
  static void EmptyRegularFile(const std::string& fileName);

  const bool deferred_;
  std::vector<TMap> maps_;
  std::unordered_map<std::string, std::vector<std::size_t>> byDirectory_;
};

} // namespace zv
