// The files an Ambulo export writes, each whole or not at all: tiles in one
// go, text files line by line, archives under a hidden name until whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zv {

class TTarWriter;

// Removes a file this run created or truncated and could not finish, so that
// no half-written file is left behind. Only regular files go: a name that
// leads to a device or through a link is not ours to remove.
void RemovePartialFile(const std::string& fileName);

// Writes a tile's encoded bytes as its file in one go. A file that could not
// be written whole is removed.
void WriteTileFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes);

// A text file that the export writes line by line, lines ending in CR LF.
// Every failure is reported with the file's name; the file is closed on
// every path. A file whose own write or close failed is removed, so that no
// file ends in a partial line; one left by another failure (a tile that
// cannot be written) keeps its whole lines.
class TTextWriter {
public:
  explicit TTextWriter(const std::string& fileName);
  ~TTextWriter();
  TTextWriter(const TTextWriter&) = delete;
  TTextWriter& operator=(const TTextWriter&) = delete;

  void WriteLine(const std::string& line);
  void Close();

private:
  std::string fileName_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

// Writes a tar archive through fill. It is written under a hidden name and
// takes its own only once whole, so that whatever ends the run, an archive is
// there whole or not at all, and one it replaces (a same-named map's before
// it) stays until then.
void WriteArchive(const std::string& fileName, const std::function<void(TTarWriter&)>& fill);

} // namespace zv
