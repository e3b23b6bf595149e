#include "export/TemporaryFile.h"

#include "base/Errors.h"
#include "base/Messages.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

void CheckTargetFile(const std::string& target, bool replace) {
  std::error_code ec;
  if (!replace && std::filesystem::exists(target, ec)) throw EFileError(msg::MapAppFileExists(target));
}

TTemporaryFile::TTemporaryFile(const std::string& target, bool replace) : target_(target) {
  CheckTargetFile(target, replace);
  const std::filesystem::path p(target);
  const std::filesystem::path folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  std::string pattern = (folder / ("." + p.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw EFileError(msg::MapAppCannotCreate(target));
  // mkstemp makes the file for its owner alone; the finished file gets what
  // the user's umask gives any new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  path_ = name.data();
}

TTemporaryFile::~TTemporaryFile() {
  if (!committed_) std::remove(path_.c_str());
}

void TTemporaryFile::Commit() {
  const int fd = ::open(path_.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced || std::rename(path_.c_str(), target_.c_str()) != 0) throw EFileError(msg::MapAppCannotCreate(target_));
  committed_ = true;
}

} // namespace zv
