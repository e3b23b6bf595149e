#pragma once

#include "tar/TarArchive.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace zvtest {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zvtar-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Entry {
  zv::TTarDirRec Rec;
  std::string Data;
};

// Every entry of an archive with its data.
inline std::vector<Entry> ReadAll(const std::string& archive) {
  zv::TTarArchive tar(archive);
  std::vector<Entry> out;
  zv::TTarDirRec rec;
  while (tar.NextEntry(rec)) {
    std::vector<std::uint8_t> data;
    tar.CopyEntryData(data);
    out.push_back({rec, std::string(data.begin(), data.end())});
  }
  return out;
}

// Bytes that differ from one run to the next but repeat for one seed.
inline std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

inline bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string TestData(const std::string& name) { return std::string(ZOVEVOD_TESTDATA_DIR) + "/tar/" + name; }

} // namespace zvtest
