#include "tar/TarArchive.h"

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

constexpr std::int64_t kBlock = 512;
constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 counted from 1899-12-30
constexpr double kMsPerDay = 86400000.0;
// GNU long names and pax headers are short texts; a bigger one is damage.
constexpr std::int64_t kMaxHelperSize = 1 << 20;

// Header field offsets and widths (POSIX ustar layout).
constexpr int kNameOff = 0, kNameLen = 100;
constexpr int kModeOff = 100, kUidOff = 108, kGidOff = 116, kShortLen = 8;
constexpr int kSizeOff = 124, kMtimeOff = 136, kLongLen = 12;
constexpr int kChksumOff = 148, kTypeOff = 156;
constexpr int kLinkOff = 157, kLinkLen = 100;
constexpr int kMagicOff = 257, kMagicLen = 8;
constexpr int kUnameOff = 265, kGnameOff = 297, kOwnerLen = 32;
constexpr int kDevMajorOff = 329, kDevMinorOff = 337;
constexpr int kPrefixOff = 345, kPrefixLen = 155;
constexpr int kGnuIsExtendedOff = 482, kSparseExtIsExtendedOff = 504;

std::int64_t RoundUpToBlock(std::int64_t n) { return (n + kBlock - 1) / kBlock * kBlock; }

// Bytes of a text field up to its first zero byte or its end.
std::size_t FieldLength(const unsigned char* p, int width) {
  const void* z = std::memchr(p, 0, static_cast<std::size_t>(width));
  return z ? static_cast<std::size_t>(static_cast<const unsigned char*>(z) - p) : static_cast<std::size_t>(width);
}

void AssignField(std::string& dest, const unsigned char* p, int width) {
  dest.assign(reinterpret_cast<const char*>(p), FieldLength(p, width));
}

bool IsBlankOrControl(unsigned char c) { return c <= ' ' || c == 127; }

// The field's text with leading and trailing blanks and control characters removed.
void TrimmedField(const unsigned char* p, int width, const unsigned char*& begin, const unsigned char*& end) {
  begin = p;
  end = p + FieldLength(p, width);
  while (begin < end && IsBlankOrControl(*begin)) ++begin;
  while (end > begin && IsBlankOrControl(end[-1])) --end;
}

// Numeric fields: octal text, or GNU base-256 (high bit of the first byte
// set). Arithmetic wraps; callers take the bits they need. Reading stops at
// the first character that is no octal digit.
std::uint64_t LenientNumber(const unsigned char* p, int width) {
  std::uint64_t v = 0;
  if (p[0] & 0x80) {
    v = (p[0] & 0x40) ? ~std::uint64_t{0} : 0; // 0xff marks a negative number
    v = (v << 6) | (p[0] & 0x3f);
    for (int i = 1; i < width; ++i) v = (v << 8) | p[i];
    return v;
  }
  const unsigned char *b, *e;
  TrimmedField(p, width, b, e);
  for (; b < e && *b >= '0' && *b <= '7'; ++b) v = v * 8 + static_cast<std::uint64_t>(*b - '0');
  return v;
}

// The size field must be octal text or a non-negative base-256 number that
// fits 63 bits; false otherwise.
bool StrictSize(const unsigned char* p, int width, std::int64_t& out) {
  std::uint64_t v = 0;
  if (p[0] & 0x80) {
    if (p[0] != 0x80) return false; // negative, or bits beyond the field
    for (int i = 1; i < width; ++i) {
      if (v > (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) >> 8)) return false;
      v = (v << 8) | p[i];
    }
  } else {
    const unsigned char *b, *e;
    TrimmedField(p, width, b, e);
    for (; b < e && *b != ' '; ++b) {
      if (*b < '0' || *b > '7') return false;
      v = v * 8 + static_cast<std::uint64_t>(*b - '0'); // at most 36 bits
    }
  }
  out = static_cast<std::int64_t>(v);
  return true;
}

TTarFileType TypeFromChar(unsigned char c) {
  switch (c) {
  case '1': return TTarFileType::ftLink;
  case '2': return TTarFileType::ftSymbolicLink;
  case '3': return TTarFileType::ftCharacter;
  case '4': return TTarFileType::ftBlock;
  case '5': return TTarFileType::ftDirectory;
  case '6': return TTarFileType::ftFifo;
  case '7': return TTarFileType::ftContiguous;
  case 'D': return TTarFileType::ftDumpDir;
  case 'M': return TTarFileType::ftMultiVolume;
  case 'V': return TTarFileType::ftVolumeHeader;
  default: return TTarFileType::ftNormal;
  }
}

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

// Checksums as tools write them: unsigned bytes over the first 345 bytes (the
// layout this program writes), over the whole block (POSIX), and the signed
// byte sum some old tools used.
bool ChecksumMatches(const unsigned char* h) {
  std::uint32_t shortSum = 0, fullSum = 0;
  std::int32_t signedSum = 0;
  for (int i = 0; i < 512; ++i) {
    const bool inChksum = i >= kChksumOff && i < kChksumOff + kShortLen;
    const unsigned char c = inChksum ? ' ' : h[i];
    if (i < kPrefixOff) shortSum += c;
    fullSum += c;
    signedSum += static_cast<signed char>(c);
  }
  const std::uint32_t stored = static_cast<std::uint32_t>(LenientNumber(h + kChksumOff, kShortLen)) & 0xffff;
  return stored == (shortSum & 0xffff) || stored == (fullSum & 0xffff) ||
         stored == (static_cast<std::uint32_t>(signedSum) & 0xffff);
}

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

void TTarArchive::ThrowDamaged(const std::string& what) const {
  throw ETarError("Damaged tar archive " + fileName_ + ": " + what);
}

void TTarArchive::Rewind() {
  pos_ = 0;
  pending_ = 0;
  hasLongName_ = hasLongLink_ = hasPaxSize_ = hasPaxMtime_ = false;
}

void TTarArchive::Seek(const TPosition& at) {
  pos_ = at.Pos;
  pending_ = at.Pending;
  hasLongName_ = hasLongLink_ = hasPaxSize_ = hasPaxMtime_ = false;
}

void TTarArchive::SkipPending() {
  if (pending_ > 0) {
    // Past the end there is nothing to read; keep the arithmetic in range.
    pos_ = pending_ >= fileSize_ - pos_ ? std::max(pos_, fileSize_) : pos_ + RoundUpToBlock(pending_);
    pending_ = 0;
  }
}

// Reads the block at the current position; false when a whole block is not there.
bool TTarArchive::ReadHeader() {
  if (fileSize_ - pos_ < kBlock) return false;
  std::int64_t got = 0;
  while (got < kBlock) {
    const ssize_t n = ::pread(fd_, block_ + got, static_cast<std::size_t>(kBlock - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += n;
  }
  bytesRead_ += kBlock;
  return true;
}

// Reads the data of a helper entry (long name, pax header) whole.
void TTarArchive::ReadHelperData(std::int64_t size, std::string& dest) {
  if (size > fileSize_ - pos_) ThrowDamaged("an extended header runs past the end of the file");
  if (size > kMaxHelperSize) ThrowDamaged("an extended header is too large");
  dest.resize(static_cast<std::size_t>(size));
  std::int64_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd_, dest.data() + got, static_cast<std::size_t>(size - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ThrowDamaged(n < 0 ? std::strerror(errno) : "unexpected end of file");
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
    if (!ReadHeader() || block_[0] == 0) {
      hasLongName_ = hasLongLink_ = hasPaxSize_ = hasPaxMtime_ = false;
      return false;
    }
    pos_ += kBlock;
    const unsigned char* h = block_;

    std::int64_t size = 0;
    if (!StrictSize(h + kSizeOff, kLongLen, size)) {
      AssignField(rec.Name, h + kNameOff, kNameLen);
      ThrowDamaged("the size field of entry " + rec.Name + " is not a number");
    }

    const unsigned char type = h[kTypeOff];
    if (type == 'L' || type == 'K') {
      // GNU long name or link name of the next entry; the text ends at its first zero byte.
      std::string& dest = type == 'L' ? longName_ : longLink_;
      ReadHelperData(size, dest);
      dest.resize(std::strlen(dest.c_str()));
      (type == 'L' ? hasLongName_ : hasLongLink_) = true;
      continue;
    }
    if (type == 'x' || type == 'X') { // 'X': the same records as written by Solaris tar
      ReadHelperData(size, helperBuf_);
      // pax records: "<length> <key>=<value>\n", length counting the whole record.
      const char* p = helperBuf_.data();
      const char* end = p + helperBuf_.size();
      std::int64_t fraction = 0;
      while (p < end) {
        if (*p == 0) break; // zero fill after the last record
        const char* sp = static_cast<const char*>(std::memchr(p, ' ', static_cast<std::size_t>(end - p)));
        std::int64_t len = 0;
        if (!sp || !ParseDecimal(p, sp, len) || len <= sp - p + 1 || len > end - p || p[len - 1] != '\n')
          ThrowDamaged("a pax extended header is malformed");
        const char* kb = sp + 1;
        const char* re = p + len - 1;
        const char* eq = static_cast<const char*>(std::memchr(kb, '=', static_cast<std::size_t>(re - kb)));
        if (!eq || eq == kb) ThrowDamaged("a pax extended header is malformed");
        const std::string_view key(kb, static_cast<std::size_t>(eq - kb));
        const std::string_view value(eq + 1, static_cast<std::size_t>(re - eq - 1));
        if (key == "path" || key == "linkpath") {
          if (value.find('\0') != std::string_view::npos) ThrowDamaged("a pax path holds a zero byte");
          if (key == "path") {
            longName_.assign(value);
            hasLongName_ = true;
          } else {
            longLink_.assign(value);
            hasLongLink_ = true;
          }
        } else if (key == "size") {
          if (!ParseDecimal(value.data(), value.data() + value.size(), paxSize_))
            ThrowDamaged("a pax size is not a number");
          hasPaxSize_ = true;
        } else if (key == "mtime") {
          // Seconds with an optional sign and fraction; the fraction is dropped.
          const char* b = value.data();
          const char* e = b + value.size();
          const bool negative = b < e && *b == '-';
          if (negative) ++b;
          const char* dot = static_cast<const char*>(std::memchr(b, '.', static_cast<std::size_t>(e - b)));
          if (!ParseDecimal(b, dot ? dot : e, paxMtime_) ||
              (dot && (dot + 1 == e || !ParseDecimal(dot + 1, e, fraction))))
            ThrowDamaged("a pax mtime is not a number");
          if (negative) paxMtime_ = -paxMtime_;
          hasPaxMtime_ = true;
        }
        p += len;
      }
      continue;
    }
    if (type == 'g') {
      // Global pax headers carry nothing this program uses.
      pending_ = size;
      continue;
    }

    rec.HeaderPos = headerPos;
    if (hasLongName_) {
      rec.Name.swap(longName_);
    } else {
      AssignField(rec.Name, h + kNameOff, kNameLen);
      // POSIX ustar ("ustar" and a zero byte) keeps the leading part of long names in the prefix field.
      const std::size_t prefixLen = FieldLength(h + kPrefixOff, kPrefixLen);
      if (std::memcmp(h + kMagicOff, "ustar", 6) == 0 && prefixLen > 0) {
        rec.Name.insert(0, 1, '/');
        rec.Name.insert(0, reinterpret_cast<const char*>(h + kPrefixOff), prefixLen);
      }
    }
    if (hasLongLink_)
      rec.LinkName.swap(longLink_);
    else
      AssignField(rec.LinkName, h + kLinkOff, kLinkLen);
    rec.Size = hasPaxSize_ ? paxSize_ : size;
    // The stored seconds are a signed 32-bit number.
    // The whole field's value: reading it as signed 32 bits would turn times
    // after January 2038 into dates before 1970.
    const auto mtime = static_cast<std::int64_t>(LenientNumber(h + kMtimeOff, kLongLen) & 0x7fffffffffffffffull);
    rec.ModTime = UnixToDateTime(hasPaxMtime_ ? paxMtime_ : mtime);
    const auto mode = static_cast<std::uint32_t>(LenientNumber(h + kModeOff, kShortLen));
    rec.Permissions = static_cast<std::uint16_t>(mode & 0777);
    rec.ModeFlags = static_cast<std::uint16_t>(mode & 07000);
    rec.FileType = TypeFromChar(type);
    rec.Uid = static_cast<std::int32_t>(static_cast<std::uint32_t>(LenientNumber(h + kUidOff, kShortLen)));
    rec.Gid = static_cast<std::int32_t>(static_cast<std::uint32_t>(LenientNumber(h + kGidOff, kShortLen)));
    AssignField(rec.UserName, h + kUnameOff, kOwnerLen);
    AssignField(rec.GroupName, h + kGnameOff, kOwnerLen);
    rec.ChecksumValid = ChecksumMatches(h);
    {
      const unsigned char *b, *e;
      TrimmedField(h + kMagicOff, kMagicLen, b, e);
      rec.Magic.assign(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));
    }
    rec.DevMajor = static_cast<std::int32_t>(static_cast<std::uint32_t>(LenientNumber(h + kDevMajorOff, kShortLen)));
    rec.DevMinor = static_cast<std::int32_t>(static_cast<std::uint32_t>(LenientNumber(h + kDevMinorOff, kShortLen)));

    // An old GNU sparse entry may continue its sparse map in extension blocks
    // before its data; each ends with a flag saying whether another follows.
    if (type == 'S' && std::memcmp(h + kMagicOff, "ustar  ", 8) == 0 && h[kGnuIsExtendedOff] != 0) {
      do {
        if (!ReadHeader()) ThrowDamaged("the sparse map of entry " + rec.Name + " runs past the end of the file");
        pos_ += kBlock;
      } while (block_[kSparseExtIsExtendedOff] != 0);
    }

    hasLongName_ = hasLongLink_ = hasPaxSize_ = hasPaxMtime_ = false;
    pending_ = CarriesData(rec.FileType) ? rec.Size : 0;
    return true;
  }
}

void TTarArchive::CopyEntryData(std::vector<std::uint8_t>& dest) {
  if (pending_ <= 0) return;
  // Never trust the size field further than the file reaches.
  if (pending_ > fileSize_ - pos_) ThrowDamaged("the data of an entry runs past the end of the file");
  const std::size_t old = dest.size();
  if (static_cast<std::uint64_t>(pending_) > dest.max_size() - old) ThrowDamaged("an entry is too large");
  dest.resize(old + static_cast<std::size_t>(pending_));
  std::int64_t got = 0;
  while (got < pending_) {
    const ssize_t n = ::pread(fd_, dest.data() + old + got, static_cast<std::size_t>(pending_ - got), pos_ + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      dest.resize(old);
      ThrowDamaged(n < 0 ? std::strerror(errno) : "unexpected end of file");
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
