#include "export/ExportFiles.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "tar/TarWriter.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr const char* kNewLine = "\r\n";

[[noreturn]] void ThrowWriteError(const std::string& fileName) {
  throw EFileError(msg::ErrorWritingFile(fileName, std::strerror(errno)));
}

// A new, empty file beside fileName under a hidden name of its own; raises
// the "cannot create" error for fileName when there is none to be had.
std::string CreateTemporaryBeside(const std::string& fileName) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = ExtractFilePath(fileName) + "." + ExtractFileName(fileName) + "." + std::to_string(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = stem + "." + std::to_string(counter++);
    // Read and write for all, so that the user's umask applies as to any new file.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return temp;
    }
    if (errno != EEXIST) break;
  }
  ThrowCannotCreate(fileName);
}

} // namespace

void RemovePartialFile(const std::string& fileName) {
  struct stat st {};
  if (::lstat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(fileName.c_str());
}

void WriteTileFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowCannotCreate(fileName);
  bool whole = true;
  for (std::size_t done = 0; whole && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n == 0 || errno != EINTR)
      whole = false;
  }
  if (::close(fd) != 0) whole = false;
  if (!whole) {
    RemovePartialFile(fileName);
    ThrowCannotCreate(fileName);
  }
}

TTextWriter::TTextWriter(const std::string& fileName) : fileName_(fileName) {
  file_ = std::fopen(fileName.c_str(), "wb");
  if (!file_) ThrowCannotCreate(fileName);
}

TTextWriter::~TTextWriter() {
  if (!file_) return;
  const bool failed = failed_ || std::ferror(file_) != 0;
  if (std::fclose(file_) != 0 || failed) RemovePartialFile(fileName_);
}

void TTextWriter::WriteLine(const std::string& line) {
  if ((!line.empty() && std::fwrite(line.data(), 1, line.size(), file_) != line.size()) ||
      std::fwrite(kNewLine, 1, 2, file_) != 2) {
    failed_ = true;
    ThrowWriteError(fileName_);
  }
}

void TTextWriter::Close() {
  std::FILE* f = file_;
  file_ = nullptr;
  const bool failed = failed_ || std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    const int err = errno;
    RemovePartialFile(fileName_);
    errno = err;
    ThrowWriteError(fileName_);
  }
}

void WriteArchive(const std::string& fileName, const std::function<void(TTarWriter&)>& fill) {
  const std::string temp = CreateTemporaryBeside(fileName);
  std::optional<TTarWriter> tar;
  try {
    tar.emplace(temp, fileName);
    fill(*tar);
    tar->Finish();
    tar.reset();
    if (std::rename(temp.c_str(), fileName.c_str()) != 0) ThrowCannotCreate(fileName);
  } catch (...) {
    tar.reset();
    RemovePartialFile(temp);
    throw;
  }
}

} // namespace zv
