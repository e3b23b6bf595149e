#include "tar/TarHeader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace zv {

namespace {

// Bytes of a text field up to its first zero byte or its end.
std::size_t FieldLength(const unsigned char* block, TTarField f) {
  const unsigned char* p = block + f.Offset;
  const void* z = std::memchr(p, 0, f.Width);
  return z ? static_cast<std::size_t>(static_cast<const unsigned char*>(z) - p) : f.Width;
}

std::string_view FieldText(const unsigned char* block, TTarField f) {
  return std::string_view(reinterpret_cast<const char*>(block + f.Offset), FieldLength(block, f));
}

bool IsBlankOrControl(unsigned char c) { return c <= ' ' || c == 127; }

// The field's text with leading and trailing blanks and control characters removed.
void TrimmedField(const unsigned char* block, TTarField f, const unsigned char*& begin, const unsigned char*& end) {
  begin = block + f.Offset;
  end = begin + FieldLength(block, f);
  while (begin < end && IsBlankOrControl(*begin)) ++begin;
  while (end > begin && IsBlankOrControl(end[-1])) --end;
}

// The tar number format: octal text, or GNU base-256 (high bit of the first
// byte set). Arithmetic wraps; callers take the bits they need. Reading stops
// at the first character that is no octal digit.
std::uint64_t LenientOctalField(const unsigned char* block, TTarField f) {
  const unsigned char* p = block + f.Offset;
  std::uint64_t v = 0;
  if (p[0] & 0x80) {
    v = (p[0] & 0x40) ? ~std::uint64_t{0} : 0; // 0xff marks a negative number
    v = (v << 6) | (p[0] & 0x3f);
    for (std::size_t i = 1; i < f.Width; ++i) v = (v << 8) | p[i];
    return v;
  }
  const unsigned char *b, *e;
  TrimmedField(block, f, b, e);
  for (; b < e && *b >= '0' && *b <= '7'; ++b) v = v * 8 + static_cast<std::uint64_t>(*b - '0');
  return v;
}

// The same format read strictly: octal text, or a non-negative base-256
// number that fits 63 bits; empty otherwise.
std::optional<std::int64_t> StrictOctalField(const unsigned char* block, TTarField f) {
  const unsigned char* p = block + f.Offset;
  std::uint64_t v = 0;
  if (p[0] & 0x80) {
    if (p[0] != 0x80) return std::nullopt; // negative, or bits beyond the field
    for (std::size_t i = 1; i < f.Width; ++i) {
      if (v > (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) >> 8)) return std::nullopt;
      v = (v << 8) | p[i];
    }
  } else {
    const unsigned char *b, *e;
    TrimmedField(block, f, b, e);
    for (; b < e && *b != ' '; ++b) {
      if (*b < '0' || *b > '7') return std::nullopt;
      v = v * 8 + static_cast<std::uint64_t>(*b - '0'); // at most 36 bits
    }
  }
  return static_cast<std::int64_t>(v);
}

std::int32_t Signed32(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Octal digits, most significant first, leading zeros as blanks (at least one
// digit shows); digits beyond the width are dropped.
void PutOctal(unsigned char* p, int digits, std::uint64_t v) {
  for (int i = digits - 1; i >= 0; --i) {
    p[i] = static_cast<unsigned char>('0' + (v & 7));
    v >>= 3;
  }
  for (int i = 0; i < digits - 1 && p[i] == '0'; ++i) p[i] = ' ';
}

// 8-byte fields: six digits, a blank and a zero byte.
void PutShortOctal(unsigned char* block, TTarField f, std::uint64_t v) {
  unsigned char* p = block + f.Offset;
  PutOctal(p, 6, v);
  p[6] = ' ';
  p[7] = 0;
}

// 12-byte fields: eleven digits and a blank.
void PutLongOctal(unsigned char* block, TTarField f, std::uint64_t v) {
  unsigned char* p = block + f.Offset;
  PutOctal(p, 11, v);
  p[11] = ' ';
}

// GNU base-256 form of a 12-byte field.
void PutBase256(unsigned char* block, TTarField f, std::uint64_t v) {
  unsigned char* p = block + f.Offset;
  for (int i = 11; i >= 1; --i) {
    p[i] = static_cast<unsigned char>(v & 0xff);
    v >>= 8;
  }
  p[0] = 0x80;
}

void PutText(unsigned char* block, TTarField f, const std::string& s) {
  std::memcpy(block + f.Offset, s.data(), std::min(s.size(), f.Width));
}

constexpr std::uint64_t kLongOctalLimit = std::uint64_t{1} << 33; // eleven octal digits

// The type flag of each TTarFileType, in the enumeration's order.
constexpr unsigned char kTypeFlags[] = {'0', '1', '2', '3', '4', '5', '6', '7', 'D', 'M', 'V'};

} // namespace

bool TTarHeader::IsPosixUstar() const { return std::memcmp(Data() + TTarLayout::Magic.Offset, "ustar", 6) == 0; }

bool TTarHeader::IsOldGnu() const { return std::memcmp(Data() + TTarLayout::Magic.Offset, "ustar  ", 8) == 0; }

std::string_view TTarHeader::Name() const { return FieldText(Data(), TTarLayout::Name); }

std::uint32_t TTarHeader::Mode() const {
  return static_cast<std::uint32_t>(LenientOctalField(Data(), TTarLayout::Mode));
}

std::int32_t TTarHeader::Uid() const { return Signed32(LenientOctalField(Data(), TTarLayout::Uid)); }

std::int32_t TTarHeader::Gid() const { return Signed32(LenientOctalField(Data(), TTarLayout::Gid)); }

std::optional<std::int64_t> TTarHeader::Size() const { return StrictOctalField(Data(), TTarLayout::Size); }

std::int64_t TTarHeader::Mtime() const {
  // The whole field's value: reading it as signed 32 bits would turn times
  // after January 2038 into dates before 1970.
  return static_cast<std::int64_t>(LenientOctalField(Data(), TTarLayout::Mtime) & 0x7fffffffffffffffull);
}

TTarFileType TTarHeader::FileType() const {
  const auto* found = std::find(std::begin(kTypeFlags), std::end(kTypeFlags), TypeFlag());
  return found == std::end(kTypeFlags) ? TTarFileType::ftNormal
                                       : static_cast<TTarFileType>(found - std::begin(kTypeFlags));
}

std::string_view TTarHeader::LinkName() const { return FieldText(Data(), TTarLayout::LinkName); }

std::string_view TTarHeader::Magic() const {
  const unsigned char *b, *e;
  TrimmedField(Data(), TTarLayout::Magic, b, e);
  return std::string_view(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));
}

std::string_view TTarHeader::UserName() const { return FieldText(Data(), TTarLayout::UserName); }

std::string_view TTarHeader::GroupName() const { return FieldText(Data(), TTarLayout::GroupName); }

std::int32_t TTarHeader::DevMajor() const { return Signed32(LenientOctalField(Data(), TTarLayout::DevMajor)); }

std::int32_t TTarHeader::DevMinor() const { return Signed32(LenientOctalField(Data(), TTarLayout::DevMinor)); }

std::string_view TTarHeader::Prefix() const { return FieldText(Data(), TTarLayout::Prefix); }

// Checksums as tools write them, the checksum field counted as blanks:
// unsigned bytes over the whole block (POSIX), over the fields before the
// prefix only, and the signed byte sum some old tools used.
bool TTarHeader::ChecksumMatches() const {
  std::uint32_t shortSum = 0, fullSum = 0;
  std::int32_t signedSum = 0;
  for (std::size_t i = 0; i < TTarLayout::Prefix.Offset; ++i) shortSum += block_[i];
  fullSum = shortSum;
  for (std::size_t i = TTarLayout::Prefix.Offset; i < kTarBlockSize; ++i) fullSum += block_[i];
  for (const unsigned char c : block_) signedSum += static_cast<signed char>(c);
  // The checksum field counts as eight blanks.
  const TTarField sumField = TTarLayout::Checksum;
  for (std::size_t i = sumField.Offset; i < sumField.Offset + sumField.Width; ++i) {
    shortSum += ' ' - std::uint32_t{block_[i]};
    fullSum += ' ' - std::uint32_t{block_[i]};
    signedSum += ' ' - static_cast<signed char>(block_[i]);
  }
  const std::uint32_t stored = static_cast<std::uint32_t>(LenientOctalField(Data(), sumField)) & 0xffff;
  return stored == (shortSum & 0xffff) || stored == (fullSum & 0xffff) ||
         stored == (static_cast<std::uint32_t>(signedSum) & 0xffff);
}

void TTarHeader::SetName(const std::string& name) { PutText(Data(), TTarLayout::Name, name); }

void TTarHeader::SetMode(std::uint32_t mode) { PutShortOctal(Data(), TTarLayout::Mode, mode); }

void TTarHeader::SetUid(std::uint32_t uid) { PutShortOctal(Data(), TTarLayout::Uid, uid); }

void TTarHeader::SetGid(std::uint32_t gid) { PutShortOctal(Data(), TTarLayout::Gid, gid); }

void TTarHeader::SetSize(std::uint64_t size) {
  // Sizes of 8 GiB and more do not fit eleven octal digits.
  if (size < kLongOctalLimit)
    PutLongOctal(Data(), TTarLayout::Size, size);
  else
    PutBase256(Data(), TTarLayout::Size, size);
}

void TTarHeader::SetMtime(std::uint64_t seconds) { PutLongOctal(Data(), TTarLayout::Mtime, seconds); }

void TTarHeader::SetFileType(TTarFileType type) {
  const auto index = static_cast<std::size_t>(type);
  block_[TTarLayout::TypeFlag.Offset] = index < std::size(kTypeFlags) ? kTypeFlags[index] : '0';
}

void TTarHeader::SetLinkName(const std::string& name) { PutText(Data(), TTarLayout::LinkName, name); }

void TTarHeader::SetMagic(const std::string& magic) {
  // Blanks fill what the text leaves of the field.
  std::memset(Data() + TTarLayout::Magic.Offset, ' ', TTarLayout::Magic.Width);
  PutText(Data(), TTarLayout::Magic, magic);
}

void TTarHeader::SetUserName(const std::string& name) { PutText(Data(), TTarLayout::UserName, name); }

void TTarHeader::SetGroupName(const std::string& name) { PutText(Data(), TTarLayout::GroupName, name); }

void TTarHeader::SetDevMajor(std::uint32_t major) { PutShortOctal(Data(), TTarLayout::DevMajor, major); }

void TTarHeader::SetDevMinor(std::uint32_t minor) { PutShortOctal(Data(), TTarLayout::DevMinor, minor); }

void TTarHeader::SetChecksum() {
  const TTarField sumField = TTarLayout::Checksum;
  std::memset(Data() + sumField.Offset, ' ', sumField.Width);
  std::uint32_t sum = 0;
  for (const unsigned char c : block_) sum += c;
  PutShortOctal(Data(), sumField, sum);
}

} // namespace zv
