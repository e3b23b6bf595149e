#pragma once

#include "codecs/Bitmap.h"
#include "tar/TarArchive.h"

#include <cstddef>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

namespace zv {

// A tar archive that OpenFile walks once for all the maps it holds: the
// entries' names and data positions in archive order, and the tiles decoded
// so far, whose pixels every map naming them shares.
struct TOpenArchive {
  // Opens the archive (failing as the reader does) and walks its headers.
  explicit TOpenArchive(const std::string& fileName);

  struct TEntry {
    std::string Name;
    TTarArchive::TPosition Data;
  };
  TTarArchive Archive;
  std::vector<TEntry> Entries;
  // What the walk raised after the last entry it reached; null at a clean end.
  std::exception_ptr End;
  // Decoded tiles by entry index.
  std::unordered_map<std::size_t, Bitmap> Tiles;
};

} // namespace zv
