// The 512-byte header block of a tar entry, one layout for the reader and the
// writer so that each field is read where it is written.
#pragma once

#include "tar/TarArchive.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

inline constexpr std::size_t kTarBlockSize = 512;

struct TTarField {
  std::size_t Offset;
  std::size_t Width;
};

// Where each field sits: the POSIX ustar layout (IEEE Std 1003.1, "ustar
// Interchange Format"), plus the flags of the old GNU sparse format.
struct TTarLayout {
  static constexpr TTarField Name{0, 100};
  static constexpr TTarField Mode{100, 8};
  static constexpr TTarField Uid{108, 8};
  static constexpr TTarField Gid{116, 8};
  static constexpr TTarField Size{124, 12};
  static constexpr TTarField Mtime{136, 12};
  static constexpr TTarField Checksum{148, 8};
  static constexpr TTarField TypeFlag{156, 1};
  static constexpr TTarField LinkName{157, 100};
  static constexpr TTarField Magic{257, 8}; // magic and version together
  static constexpr TTarField UserName{265, 32};
  static constexpr TTarField GroupName{297, 32};
  static constexpr TTarField DevMajor{329, 8};
  static constexpr TTarField DevMinor{337, 8};
  static constexpr TTarField Prefix{345, 155};
  // Old GNU: whether sparse map extension blocks follow the header, and, in
  // each extension block, whether another one follows.
  static constexpr std::size_t GnuIsExtended = 482;
  static constexpr std::size_t GnuExtensionIsExtended = 504;
};

// One header block with typed accessors; text fields are views into the block. Reading is lenient where tools
// disagree (blanks, zero bytes, base-256 numbers) and strict where a wrong
// value would misplace the archive's data (the size).
class TTarHeader {
public:
  unsigned char* Data() { return block_.data(); }
  const unsigned char* Data() const { return block_.data(); }

  // A zero first byte marks the end of the archive; no entry has an empty name.
  bool EndOfArchive() const { return block_[0] == 0; }
  // Magic "ustar" and a zero byte, the POSIX form whose prefix extends the name.
  bool IsPosixUstar() const;
  // Magic "ustar  " and a zero byte, the old GNU form.
  bool IsOldGnu() const;
  bool GnuSparseExtended() const { return block_[TTarLayout::GnuIsExtended] != 0; }
  bool GnuExtensionContinues() const { return block_[TTarLayout::GnuExtensionIsExtended] != 0; }

  std::string_view Name() const;
  std::uint32_t Mode() const;
  std::int32_t Uid() const;
  std::int32_t Gid() const;
  // Empty when the field is no number or does not fit 63 bits.
  std::optional<std::int64_t> Size() const;
  std::int64_t Mtime() const; // Unix seconds
  unsigned char TypeFlag() const { return block_[TTarLayout::TypeFlag.Offset]; }
  TTarFileType FileType() const; // flags it does not know read as regular files
  std::string_view LinkName() const;
  std::string_view Magic() const; // without blanks and control characters around it
  std::string_view UserName() const;
  std::string_view GroupName() const;
  std::int32_t DevMajor() const;
  std::int32_t DevMinor() const;
  std::string_view Prefix() const;
  // Whether the stored checksum matches any sum that tools are known to write.
  bool ChecksumMatches() const;

  // Text fields are cut at their width; callers refuse what must not be cut.
  void SetName(const std::string& name);
  void SetMode(std::uint32_t mode);
  void SetUid(std::uint32_t uid);
  void SetGid(std::uint32_t gid);
  void SetSize(std::uint64_t size);
  void SetMtime(std::uint64_t seconds);
  void SetFileType(TTarFileType type);
  void SetLinkName(const std::string& name);
  void SetMagic(const std::string& magic);
  void SetUserName(const std::string& name);
  void SetGroupName(const std::string& name);
  void SetDevMajor(std::uint32_t major);
  void SetDevMinor(std::uint32_t minor);
  // Last, once every other field is set.
  void SetChecksum();

private:
  std::array<unsigned char, kTarBlockSize> block_{};
};

} // namespace zv
