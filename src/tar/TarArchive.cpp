#include "tar/TarArchive.h"

#include "base/Messages.h"
#include "tar/TarHeader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr std::int64_t kBlock = static_cast<std::int64_t>(kTarBlockSize);
constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 counted from 1899-12-30
constexpr double kMsPerDay = 86400000.0;
// GNU long names and pax headers are short texts; a bigger one is damage.
constexpr std::int64_t kMaxHelperSize = 1 << 20;

std::int64_t RoundUpToBlock(std::int64_t n) { return (n + kBlock - 1) / kBlock * kBlock; }

// POSIX ustar stores no data blocks for links, devices, directories and
// FIFOs, whatever their size field says; a volume header has none either.
bool CarriesData(TTarFileType t) {
  switch (t) {
  case TTarFileType::ftLink:
  case TTarFileType::ftSymbolicLink:
  case TTarFileType::ftCharacter:
  case TTarFileType::ftBlock:
  case TTarFileType::ftDirectory:
  case TTarFileType::ftFifo:
  case TTarFileType::ftVolumeHeader: return false;
  default: return true;
  }
}

// A pax decimal: digits only, no sign, 64 bits (base/Integers.h lists the
// integer forms read elsewhere).
bool ParseDecimal(const char* b, const char* e, std::int64_t& out) {
  if (b == e) return false;
  std::int64_t v = 0;
  for (; b < e; ++b) {
    if (*b < '0' || *b > '9') return false;
    if (v > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return false;
    v = v * 10 + (*b - '0');
  }
  out = v;
  return true;
}

// A pax time: seconds with an optional sign and fraction; the fraction is dropped.
bool ParsePaxTime(std::string_view value, std::int64_t& seconds) {
  const char* b = value.data();
  const char* e = b + value.size();
  const bool negative = b < e && *b == '-';
  if (negative) ++b;
  const char* dot = static_cast<const char*>(std::memchr(b, '.', static_cast<std::size_t>(e - b)));
  std::int64_t fraction = 0;
  if (!ParseDecimal(b, dot ? dot : e, seconds) || (dot && (dot + 1 == e || !ParseDecimal(dot + 1, e, fraction))))
    return false;
  if (negative) seconds = -seconds;
  return true;
}

} // namespace

const char* FileTypeDisplayName(TTarFileType type) {
  switch (type) {
  case TTarFileType::ftNormal: return "Regular";
  case TTarFileType::ftLink: return "Link";
  case TTarFileType::ftSymbolicLink: return "Symbolic Link";
  case TTarFileType::ftCharacter: return "Char File";
  case TTarFileType::ftBlock: return "Block File";
  case TTarFileType::ftDirectory: return "Directory";
  case TTarFileType::ftFifo: return "FIFO File";
  case TTarFileType::ftContiguous: return "Contiguous";
  case TTarFileType::ftDumpDir: return "Dir Dump";
  case TTarFileType::ftMultiVolume: return "Multivol";
  case TTarFileType::ftVolumeHeader: return "Volume Header";
  }
  return "";
}

TDateTime UnixToDateTime(std::int64_t seconds) {
  return kUnixEpochDays + static_cast<double>(seconds) / 86400.0;
}

std::int64_t DateTimeToUnix(TDateTime t) {
  // Round to whole milliseconds first so that a time made from whole seconds
  // comes back exactly, then truncate towards zero.
  const double ms = std::round((t - kUnixEpochDays) * kMsPerDay);
  constexpr double kLimit = 9.0e18;
  if (!(ms > -kLimit)) return std::isnan(ms) ? 0 : static_cast<std::int64_t>(-kLimit) / 1000;
  if (!(ms < kLimit)) return static_cast<std::int64_t>(kLimit) / 1000;
  return static_cast<std::int64_t>(ms) / 1000;
}

TTarArchive::TTarArchive(const std::string& fileName) : fileName_(fileName) {
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) ThrowCannotOpen(fileName);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    ThrowCannotOpen(fileName);
  }
  fileSize_ = static_cast<std::int64_t>(st.st_size);
  Rewind();
}

TTarArchive::~TTarArchive() {
  if (fd_ >= 0) ::close(fd_);
}

void TTarArchive::ThrowDamaged(const std::string& what) const { throw ETarError(msg::DamagedTar(fileName_, what)); }

void TTarArchive::Rewind() {
  pos_ = 0;
  pending_ = 0;
  ForgetHelperValues();
}

void TTarArchive::Seek(const TPosition& at) {
  pos_ = at.Pos;
  pending_ = at.Pending;
  ForgetHelperValues();
}

void TTarArchive::ForgetHelperValues() { hasLongName_ = hasLongLink_ = hasPaxSize_ = hasPaxMtime_ = false; }

void TTarArchive::SkipPending() {
  if (pending_ > 0) {
    // Past the end there is nothing to read; keep the arithmetic in range.
    pos_ = pending_ >= fileSize_ - pos_ ? std::max(pos_, fileSize_) : pos_ + RoundUpToBlock(pending_);
    pending_ = 0;
  }
}

// Reads the block at the current position; false when a whole block is not there.
bool TTarArchive::ReadBlock(unsigned char* dest) {
  if (fileSize_ - pos_ < kBlock) return false;
  std::int64_t got = 0;
  while (got < kBlock) {
    const ssize_t n = ::pread(fd_, dest + got, static_cast<std::size_t>(kBlock - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += n;
  }
  bytesRead_ += kBlock;
  return true;
}

// Reads the data of a helper entry (long name, pax header) whole.
void TTarArchive::ReadHelperData(std::int64_t size, std::string& dest) {
  if (size > fileSize_ - pos_) ThrowDamaged(msg::TarExtendedHeaderPastEnd);
  if (size > kMaxHelperSize) ThrowDamaged(msg::TarExtendedHeaderTooLarge);
  dest.resize(static_cast<std::size_t>(size));
  std::int64_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd_, dest.data() + got, static_cast<std::size_t>(size - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ThrowDamaged(n < 0 ? std::strerror(errno) : msg::TarUnexpectedEnd);
    got += n;
  }
  bytesRead_ += size;
  pos_ = size >= fileSize_ - pos_ ? fileSize_ : pos_ + RoundUpToBlock(size);
}

bool TTarArchive::NextEntry(TTarDirRec& rec) {
  // Each pass moves at least one block forward, so the loop ends.
  for (;;) {
    SkipPending();
    const std::int64_t headerPos = pos_;
    TTarHeader h;
    if (!ReadBlock(h.Data()) || h.EndOfArchive()) {
      ForgetHelperValues();
      return false;
    }
    pos_ += kBlock;

    const std::optional<std::int64_t> size = h.Size();
    if (!size) {
      rec.Name.assign(h.Name());
      ThrowDamaged(msg::TarSizeNotANumber(rec.Name));
    }

    const unsigned char type = h.TypeFlag();
    if (type == 'L' || type == 'K') {
      // GNU long name or link name of the next entry.
      ReadGnuLongText(*size, type == 'L' ? longName_ : longLink_);
      (type == 'L' ? hasLongName_ : hasLongLink_) = true;
      continue;
    }
    if (type == 'x' || type == 'X') { // 'X': the same records as written by Solaris tar
      ReadPaxHeader(*size);
      continue;
    }
    if (type == 'g') {
      // Global pax headers carry nothing this program uses.
      pending_ = *size;
      continue;
    }

    rec.HeaderPos = headerPos;
    FillRecord(h, *size, rec);
    if (type == 'S' && h.IsOldGnu() && h.GnuSparseExtended()) SkipSparseExtensions(rec.Name);
    ForgetHelperValues();
    pending_ = CarriesData(rec.FileType) ? rec.Size : 0;
    return true;
  }
}

// The text ends at its first zero byte.
void TTarArchive::ReadGnuLongText(std::int64_t size, std::string& dest) {
  ReadHelperData(size, dest);
  dest.resize(std::strlen(dest.c_str()));
}

// pax records: "<length> <key>=<value>\n", length counting the whole record.
void TTarArchive::ReadPaxHeader(std::int64_t size) {
  ReadHelperData(size, helperBuf_);
  const char* p = helperBuf_.data();
  const char* end = p + helperBuf_.size();
  while (p < end) {
    if (*p == 0) break; // zero fill after the last record
    const char* sp = static_cast<const char*>(std::memchr(p, ' ', static_cast<std::size_t>(end - p)));
    std::int64_t len = 0;
    if (!sp || !ParseDecimal(p, sp, len) || len <= sp - p + 1 || len > end - p || p[len - 1] != '\n')
      ThrowDamaged(msg::TarPaxMalformed);
    const char* kb = sp + 1;
    const char* re = p + len - 1;
    const char* eq = static_cast<const char*>(std::memchr(kb, '=', static_cast<std::size_t>(re - kb)));
    if (!eq || eq == kb) ThrowDamaged(msg::TarPaxMalformed);
    ApplyPaxRecord(std::string_view(kb, static_cast<std::size_t>(eq - kb)),
                   std::string_view(eq + 1, static_cast<std::size_t>(re - eq - 1)));
    p += len;
  }
}

void TTarArchive::ApplyPaxRecord(std::string_view key, std::string_view value) {
  if (key == "path" || key == "linkpath") {
    if (value.find('\0') != std::string_view::npos) ThrowDamaged(msg::TarPaxPathHoldsZero);
    if (key == "path") {
      longName_.assign(value);
      hasLongName_ = true;
    } else {
      longLink_.assign(value);
      hasLongLink_ = true;
    }
  } else if (key == "size") {
    if (!ParseDecimal(value.data(), value.data() + value.size(), paxSize_)) ThrowDamaged(msg::TarPaxSizeNotANumber);
    hasPaxSize_ = true;
  } else if (key == "mtime") {
    if (!ParsePaxTime(value, paxMtime_)) ThrowDamaged(msg::TarPaxMtimeNotANumber);
    hasPaxMtime_ = true;
  }
}

// The entry as its header describes it, with what helper entries set for it.
void TTarArchive::FillRecord(const TTarHeader& h, std::int64_t size, TTarDirRec& rec) {
  if (hasLongName_) {
    rec.Name.swap(longName_);
  } else {
    rec.Name.assign(h.Name());
    // POSIX ustar ("ustar" and a zero byte) keeps the leading part of long names in the prefix field.
    const std::string_view prefix = h.Prefix();
    if (h.IsPosixUstar() && !prefix.empty()) {
      rec.Name.insert(0, 1, '/');
      rec.Name.insert(0, prefix);
    }
  }
  if (hasLongLink_)
    rec.LinkName.swap(longLink_);
  else
    rec.LinkName.assign(h.LinkName());
  rec.Size = hasPaxSize_ ? paxSize_ : size;
  rec.ModTime = UnixToDateTime(hasPaxMtime_ ? paxMtime_ : h.Mtime());
  const std::uint32_t mode = h.Mode();
  rec.Permissions = static_cast<std::uint16_t>(mode & 0777);
  rec.ModeFlags = static_cast<std::uint16_t>(mode & 07000);
  rec.FileType = h.FileType();
  rec.Uid = h.Uid();
  rec.Gid = h.Gid();
  rec.UserName.assign(h.UserName());
  rec.GroupName.assign(h.GroupName());
  rec.ChecksumValid = h.ChecksumMatches();
  rec.Magic.assign(h.Magic());
  rec.DevMajor = h.DevMajor();
  rec.DevMinor = h.DevMinor();
}

// An old GNU sparse entry may continue its sparse map in extension blocks
// before its data; each ends with a flag saying whether another follows.
void TTarArchive::SkipSparseExtensions(const std::string& name) {
  TTarHeader extension;
  do {
    if (!ReadBlock(extension.Data())) ThrowDamaged(msg::TarSparseMapPastEnd(name));
    pos_ += kBlock;
  } while (extension.GnuExtensionContinues());
}

void TTarArchive::CopyEntryData(std::vector<std::uint8_t>& dest) {
  if (pending_ <= 0) return;
  // Never trust the size field further than the file reaches.
  if (pending_ > fileSize_ - pos_) ThrowDamaged(msg::TarEntryDataPastEnd);
  const std::size_t old = dest.size();
  if (static_cast<std::uint64_t>(pending_) > dest.max_size() - old) ThrowDamaged(msg::TarEntryTooLarge);
  dest.resize(old + static_cast<std::size_t>(pending_));
  std::int64_t got = 0;
  while (got < pending_) {
    const ssize_t n = ::pread(fd_, dest.data() + old + got, static_cast<std::size_t>(pending_ - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      dest.resize(old);
      ThrowDamaged(n < 0 ? std::strerror(errno) : msg::TarUnexpectedEnd);
    }
    got += n;
  }
  bytesRead_ += pending_;
  pos_ = pending_ >= fileSize_ - pos_ ? fileSize_ : pos_ + RoundUpToBlock(pending_);
  pending_ = 0;
}

std::string_view TopLevelName(std::string_view name) {
  while (name.starts_with("./")) name.remove_prefix(2);
  return name;
}

} // namespace zv
