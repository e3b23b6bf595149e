// Helpers of the fuzz targets: a scratch folder of the process's own, and one
// fuzz input unpacked into several files (a tar archive serves as the format).
#pragma once

#include "base/Errors.h"
#include "tar/TarArchive.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fuzz {

namespace fs = std::filesystem;

// Removed when the process ends normally.
struct ScratchRoot {
  fs::path path;
  ScratchRoot() {
    std::string t = (fs::temp_directory_path() / "zvfuzz.XXXXXX").string();
    if (!::mkdtemp(t.data())) std::abort();
    path = t;
  }
  ~ScratchRoot() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// The scratch folder, emptied: every run starts from nothing.
inline fs::path FreshScratch() {
  static const ScratchRoot root;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root.path, ec)) fs::remove_all(entry.path(), ec);
  return root.path;
}

inline void WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Names that stay below the folder: relative, no "..", a few levels deep.
inline bool SafeName(const fs::path& name) {
  if (name.empty() || name.is_absolute() || name.string().size() > 200) return false;
  int depth = 0;
  for (const auto& part : name) {
    if (part == ".." || ++depth > 5) return false;
  }
  return true;
}

// Writes the input to archive and recreates its regular files and folders
// below into; a damaged archive keeps what was unpacked before the damage.
inline void Unpack(const std::uint8_t* data, std::size_t size, const fs::path& archive, const fs::path& into) {
  WriteFile(archive, data, size);
  std::error_code ec;
  fs::create_directories(into, ec);
  try {
    zv::TTarArchive tar(archive.string());
    zv::TTarDirRec rec;
    std::vector<std::uint8_t> bytes;
    for (int count = 0; count < 64 && tar.NextEntry(rec); ++count) {
      const fs::path name = fs::path(std::string(zv::TopLevelName(rec.Name))).lexically_normal();
      if (!SafeName(name) || name == ".") continue;
      if (rec.FileType == zv::TTarFileType::ftDirectory) {
        fs::create_directories(into / name, ec);
      } else if (rec.FileType == zv::TTarFileType::ftNormal) {
        bytes.clear();
        tar.CopyEntryData(bytes);
        fs::create_directories((into / name).parent_path(), ec);
        WriteFile(into / name, bytes.data(), bytes.size());
      }
    }
  } catch (const zv::Error&) {
  }
}

// Entries directly in dir, sorted so that a run repeats.
inline std::vector<std::string> TopLevel(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace fuzz
