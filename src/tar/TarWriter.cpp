#include "tar/TarWriter.h"

#include "base/Messages.h"
#include "tar/TarHeader.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <istream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr std::size_t kBlock = kTarBlockSize;
constexpr std::size_t kMaxName = TTarLayout::Name.Width;
// How much of a file AddFile reads at a time (a whole number of blocks).
constexpr std::int64_t kFileChunk = 64 * 1024;

// Closes a descriptor when its owner goes.
struct TFdCloser {
  int Fd;
  ~TFdCloser() { ::close(Fd); }
};

} // namespace

TTarWriter::TTarWriter(const std::string& fileName) : TTarWriter(fileName, fileName) {}

TTarWriter::TTarWriter(const std::string& fileName, const std::string& reportedName) : fileName_(reportedName) {
  file_ = std::fopen(fileName.c_str(), "wb");
  if (!file_) ThrowCannotCreate(reportedName);
}

TTarWriter::~TTarWriter() {
  if (!finished_) {
    try {
      Finish();
    } catch (...) {
      // A destructor cannot report; callers who care call Finish.
    }
  }
  if (file_) std::fclose(file_);
}

void TTarWriter::ThrowWriteFailed(int err) { throw ETarError(msg::CannotWriteTar(fileName_, std::strerror(err))); }

void TTarWriter::WriteBlock(const void* block) { WriteBytes(block, kBlock); }

void TTarWriter::WriteBytes(const void* data, std::size_t size) {
  assert(file_ && "the archive is already finished");
  if (!file_) throw ETarError(msg::TarAlreadyFinished(fileName_));
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) ThrowWriteFailed(errno ? errno : EIO);
}

void TTarWriter::Flush() {
  errno = 0;
  if (std::fflush(file_) != 0) ThrowWriteFailed(errno ? errno : EIO);
}

void TTarWriter::WriteHeader(const TTarDirRec& rec) {
  // Cutting a long name would silently put the entry somewhere else.
  if (rec.Name.empty()) throw ETarError(msg::TarEntryNameEmpty(fileName_));
  if (rec.Name.size() > kMaxName) throw ETarError(msg::TarEntryNameTooLong(rec.Name));
  if (rec.LinkName.size() > kMaxName) throw ETarError(msg::TarLinkNameTooLong(rec.LinkName, rec.Name));
  if (rec.Size < 0) throw ETarError(msg::TarEntryNegativeSize(rec.Name));

  // Field by field as TTarArchive reads them.
  TTarHeader h;
  h.SetName(rec.Name);
  h.SetMode((rec.Permissions & 0777u) | (rec.ModeFlags & 07000u));
  h.SetUid(static_cast<std::uint32_t>(rec.Uid));
  h.SetGid(static_cast<std::uint32_t>(rec.Gid));
  h.SetSize(static_cast<std::uint64_t>(rec.Size));
  // The field has no room for times before 1970; they are stored as 0. Its
  // eleven octal digits hold times up to the year 2242, so 2038 is no limit.
  h.SetMtime(static_cast<std::uint64_t>(std::clamp<std::int64_t>(DateTimeToUnix(rec.ModTime), 0, 077777777777)));
  h.SetFileType(rec.FileType);
  h.SetLinkName(rec.LinkName);
  h.SetMagic(rec.Magic);
  h.SetUserName(rec.UserName);
  h.SetGroupName(rec.GroupName);
  h.SetDevMajor(static_cast<std::uint32_t>(rec.DevMajor));
  h.SetDevMinor(static_cast<std::uint32_t>(rec.DevMinor));
  h.SetChecksum();
  WriteBlock(h.Data());
}

void TTarWriter::AddFile(const std::string& localFileName, const std::string& archiveName) {
  // Plain system calls: packing a tile set adds thousands of small files.
  // Non-blocking, so that a pipe under the name is refused, not waited on.
  const int fd = ::open(localFileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) ThrowCannotOpen(localFileName);
  const TFdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) ThrowCannotOpen(localFileName);
  std::string name = archiveName;
  if (name.empty()) {
    name = localFileName;
    std::replace(name.begin(), name.end(), '\\', '/');
  }
  const TTarDirRec rec = DefaultRecord(name, TTarFileType::ftNormal, static_cast<std::int64_t>(st.st_size),
                                       UnixToDateTime(static_cast<std::int64_t>(st.st_mtime)));
  WriteHeader(rec);

  std::vector<unsigned char> chunk(std::min<std::int64_t>(rec.Size, kFileChunk) + kBlock);
  for (std::int64_t remaining = rec.Size; remaining > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(remaining, kFileChunk));
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd, chunk.data() + got, want - got);
      if (n > 0)
        got += static_cast<std::size_t>(n);
      else if (n == 0 || errno != EINTR)
        break;
    }
    // A file that shrank while it was read leaves zeros, as the header
    // already promised its size; the last block is padded with zeros too.
    const std::size_t padded = (want + kBlock - 1) / kBlock * kBlock;
    std::memset(chunk.data() + got, 0, padded - got);
    WriteBytes(chunk.data(), padded);
    remaining -= static_cast<std::int64_t>(want);
  }
  Flush();
}

TTarDirRec TTarWriter::DefaultRecord(const std::string& name, TTarFileType type, std::int64_t size,
                                     TDateTime modTime) const {
  TTarDirRec rec;
  rec.Name = name;
  rec.Size = size;
  rec.ModTime = modTime;
  rec.FileType = type;
  rec.Permissions = Permissions;
  rec.Uid = Uid;
  rec.Gid = Gid;
  rec.UserName = UserName;
  rec.GroupName = GroupName;
  rec.ModeFlags = ModeFlags;
  rec.Magic = Magic;
  return rec;
}

void TTarWriter::AddStream(std::istream& source, const std::string& archiveName, TDateTime modTime) {
  const std::istream::pos_type start = source.tellg();
  source.seekg(0, std::ios::end);
  const std::istream::pos_type end = source.tellg();
  source.seekg(start);
  if (start == std::istream::pos_type(-1) || end == std::istream::pos_type(-1) || !source)
    throw ETarError(msg::TarSourceHasNoLength(archiveName, fileName_));

  const TTarDirRec rec = DefaultRecord(archiveName, TTarFileType::ftNormal, static_cast<std::int64_t>(end - start), modTime);
  WriteHeader(rec);

  for (std::int64_t remaining = rec.Size; remaining > 0;) {
    const auto want = static_cast<std::streamsize>(std::min<std::int64_t>(remaining, kBlock));
    std::memset(block_, 0, kBlock);
    // A short read leaves zeros in the block.
    source.read(reinterpret_cast<char*>(block_), want);
    WriteBlock(block_);
    remaining -= want;
  }
  Flush();
}

void TTarWriter::AddDirectory(const std::string& archiveName, TDateTime modTime, std::int64_t size) {
  WriteHeader(DefaultRecord(archiveName, TTarFileType::ftDirectory, size, modTime));
  Flush();
}

void TTarWriter::Finish() {
  if (finished_) return;
  finished_ = true; // also when writing fails: the destructor must not try again
  std::memset(block_, 0, kBlock);
  WriteBlock(block_);
  Flush();
  std::FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(f) != 0) ThrowWriteFailed(errno ? errno : EIO);
}

} // namespace zv
