#include "export/PackedMaps.h"

#include "base/FileSystem.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

void TPackedMaps::Packed(const std::string& directory, std::vector<std::string> kept, std::vector<std::string> going) {
  if (!deferred_) {
    // In the order written, so that a calibration copy and a tile list go
    // before the tiles: no moment leaves a list whose tiles are gone.
    for (const std::string& file : going) DeleteFileQuiet(file);
    RemoveDirectoryQuiet(directory + "set");
    return;
  }
  for (const std::string& file : going) EmptyRegularFile(file);
  byDirectory_[directory].push_back(maps_.size());
  maps_.push_back({directory, std::move(kept), std::move(going), true});
}

void TPackedMaps::Reuse(const std::string& directory, const std::vector<std::string>& rewritten) {
  const auto found = byDirectory_.find(directory);
  if (found == byDirectory_.end()) return;
  for (const std::size_t i : found->second) {
    TMap& map = maps_[i];
    std::erase_if(map.Kept, [&](const std::string& file) {
      if (std::find(rewritten.begin(), rewritten.end(), file) == rewritten.end()) return false;
      DeleteFileQuiet(file);
      return true;
    });
    RemoveTiles(map);
  }
}

void TPackedMaps::RemoveTiles() {
  for (TMap& map : maps_) RemoveTiles(map);
}

void TPackedMaps::Release() {
  maps_.clear();
  byDirectory_.clear();
}

void TPackedMaps::RemoveTiles(TMap& map) {
  for (const std::string& file : map.Tiles) DeleteFileQuiet(file);
  map.Tiles.clear();
  if (map.SetFolder) RemoveDirectoryQuiet(map.Directory + "set");
  map.SetFolder = false;
}

void TPackedMaps::RemoveAll() {
  for (TMap& map : maps_) {
    for (const std::string& file : map.Kept) DeleteFileQuiet(file);
    RemoveTiles(map);
  }
  Release();
}

// Only a regular file is emptied, never what a link points to.
void TPackedMaps::EmptyRegularFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    // Not emptied: the file still goes when the maps are done.
  }
  ::close(fd);
}

} // namespace zv
