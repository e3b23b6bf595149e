#pragma once

#include "tar/TarArchive.h"

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>

namespace zv {

// Creates a tar archive and appends files and directory entries to it. Every
// write is checked: a failure raises ETarError naming the archive and the
// system's reason. Names and link names longer than 100 bytes, and empty
// names, are refused with ETarError rather than cut.
class TTarWriter {
public:
  // Creates or replaces the file; raises the file layer's "cannot create" error.
  explicit TTarWriter(const std::string& fileName);
  // The same, but every error names reportedName: the archive's final name
  // when it is written under a temporary one.
  TTarWriter(const std::string& fileName, const std::string& reportedName);
  // Finishes the archive when Finish has not run (errors are swallowed here;
  // call Finish to see them).
  ~TTarWriter();
  TTarWriter(const TTarWriter&) = delete;
  TTarWriter& operator=(const TTarWriter&) = delete;

  // Adds a file from disk; an empty archive name stores the local name with
  // every "\" turned into "/".
  void AddFile(const std::string& localFileName, const std::string& archiveName = "");
  // Adds the rest of the stream as a regular file.
  void AddStream(std::istream& source, const std::string& archiveName, TDateTime modTime);
  void AddDirectory(const std::string& archiveName, TDateTime modTime, std::int64_t size = 0);
  // Writes the end block and closes the archive.
  void Finish();

  // Writer defaults, used for every entry.
  std::uint16_t Permissions = 0777;
  std::int32_t Uid = 0;
  std::int32_t Gid = 0;
  std::string UserName;
  std::string GroupName;
  std::uint16_t ModeFlags = 0;
  std::string Magic = "ustar";

private:
  // A header record carrying the writer defaults.
  TTarDirRec DefaultRecord(const std::string& name, TTarFileType type, std::int64_t size, TDateTime modTime) const;
  void WriteHeader(const TTarDirRec& rec);
  void WriteBlock(const void* block);
  // Whole blocks only.
  void WriteBytes(const void* data, std::size_t size);
  void Flush();
  [[noreturn]] void ThrowWriteFailed(int err);

  std::string fileName_; // the name errors report
  std::FILE* file_ = nullptr;
  bool finished_ = false;
  unsigned char block_[512] = {};
};

} // namespace zv
