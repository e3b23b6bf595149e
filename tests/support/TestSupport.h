// Helpers every core test shares: a scratch folder and whole-file reads and
// writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

// A fresh folder below the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of a name below the folder; nothing is created, so tests can
  // name what must not exist yet.
  std::string operator/(const std::string& relative) const;
  // The same path, with the folders leading to it created.
  std::string NewPath(const std::string& relative) const;

private:
  std::string path_;
};

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Creates or replaces the file, and the folders leading to it; throws
// std::runtime_error when the bytes cannot be written.
void WriteFile(const std::string& path, const std::string& bytes);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Whether a command-line tool is on the PATH, for checks against other programs.
bool HaveTool(const std::string& tool);

} // namespace zvtest
