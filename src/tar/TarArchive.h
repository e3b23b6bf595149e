#pragma once

#include "base/Errors.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// A damaged archive or a failed archive write; the message names the archive.
class ETarError : public Error {
public:
  using Error::Error;
};

// Kinds of tar entry, in the order of their values.
enum class TTarFileType : std::uint8_t {
  ftNormal,        // "Regular"
  ftLink,          // "Link"
  ftSymbolicLink,  // "Symbolic Link"
  ftCharacter,     // "Char File"
  ftBlock,         // "Block File"
  ftDirectory,     // "Directory"
  ftFifo,          // "FIFO File"
  ftContiguous,    // "Contiguous"
  ftDumpDir,       // "Dir Dump"
  ftMultiVolume,   // "Multivol"
  ftVolumeHeader,  // "Volume Header"
};

const char* FileTypeDisplayName(TTarFileType type);

// Mode bits as stored in the header's mode field.
enum TTarPermission : std::uint16_t {
  tpReadByOwner = 0400, tpWriteByOwner = 0200, tpExecuteByOwner = 0100,
  tpReadByGroup = 040, tpWriteByGroup = 020, tpExecuteByGroup = 010,
  tpReadByOther = 04, tpWriteByOther = 02, tpExecuteByOther = 01,
};
enum TTarMode : std::uint16_t { tmSetUid = 04000, tmSetGid = 02000, tmSaveText = 01000 };

// Days since 1899-12-30, the time of day as the fraction.
using TDateTime = double;
TDateTime UnixToDateTime(std::int64_t seconds);
std::int64_t DateTimeToUnix(TDateTime t); // truncated towards zero, exact for whole seconds

// One tar entry as the reader reports it and as the writer describes it.
struct TTarDirRec {
  std::string Name;
  std::int64_t Size = 0;
  TDateTime ModTime = 0;
  std::uint16_t Permissions = 0; // TTarPermission bits
  TTarFileType FileType = TTarFileType::ftNormal;
  std::string LinkName;
  std::int32_t Uid = 0;
  std::int32_t Gid = 0;
  std::string UserName;
  std::string GroupName;
  bool ChecksumValid = false;
  std::uint16_t ModeFlags = 0; // TTarMode bits
  std::string Magic;
  std::int32_t DevMajor = 0;
  std::int32_t DevMinor = 0;
  std::int64_t HeaderPos = 0;
};

class TTarHeader;

// An entry's name below the archive's top level: an archive packed with
// `tar -C folder .` names its entries "./m.map", "./set/m_0_0.png", so every
// leading "./" is dropped. Names elsewhere are kept as read.
std::string_view TopLevelName(std::string_view name);

// Walks the entries of an archive on disk and copies an entry's data.
class TTarArchive {
public:
  // Raises the file layer's "cannot open" error.
  explicit TTarArchive(const std::string& fileName);
  ~TTarArchive();
  TTarArchive(const TTarArchive&) = delete;
  TTarArchive& operator=(const TTarArchive&) = delete;

  void Rewind();
  // Steps to the next entry; false at the end of the archive. GNU long-name
  // entries and pax extended headers are applied to the entry they precede
  // and not reported themselves; HeaderPos is that entry's own header. A size
  // field that is no number raises ETarError.
  bool NextEntry(TTarDirRec& rec);
  // Appends the current entry's data. Raises an error naming the archive when
  // the data runs past its end.
  void CopyEntryData(std::vector<std::uint8_t>& dest);

  // Where the walk stands. Taken right after NextEntry, it lets the entry's
  // data be copied later, after the walk has gone on: Seek back to it.
  struct TPosition {
    std::int64_t Pos = 0;
    std::int64_t Pending = 0;
  };
  TPosition Tell() const { return {pos_, pending_}; }
  void Seek(const TPosition& at);

  const std::string& FileName() const { return fileName_; }
  // Bytes read from the file so far (headers, helper entries and copied data).
  std::int64_t BytesRead() const { return bytesRead_; }

private:
  [[noreturn]] void ThrowDamaged(const std::string& what) const;
  bool ReadBlock(unsigned char* dest);
  void ReadHelperData(std::int64_t size, std::string& dest);
  void ReadGnuLongText(std::int64_t size, std::string& dest);
  void ReadPaxHeader(std::int64_t size);
  void ApplyPaxRecord(std::string_view key, std::string_view value);
  void FillRecord(const TTarHeader& header, std::int64_t size, TTarDirRec& rec);
  void SkipSparseExtensions(const std::string& name);
  void ForgetHelperValues();
  void SkipPending();

  std::string fileName_;
  int fd_ = -1;
  std::int64_t fileSize_ = 0;
  std::int64_t pos_ = 0;
  std::int64_t pending_ = 0;
  std::int64_t bytesRead_ = 0;
  // Values that GNU long-name entries and pax extended headers set for the
  // entry that follows them.
  std::string longName_, longLink_, helperBuf_;
  bool hasLongName_ = false, hasLongLink_ = false, hasPaxSize_ = false, hasPaxMtime_ = false;
  std::int64_t paxSize_ = 0, paxMtime_ = 0;
};

} // namespace zv
