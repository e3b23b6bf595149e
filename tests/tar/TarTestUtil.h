#pragma once

#include "tar/TarArchive.h"

#include "TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

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

inline std::string TestData(const std::string& name) { return std::string(ZOVEVOD_TESTDATA_DIR) + "/tar/" + name; }

} // namespace zvtest
