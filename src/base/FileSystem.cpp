#include "base/FileSystem.h"

#include "base/Errors.h"
#include "base/FileCloser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

#include <dirent.h>
#include <unistd.h>

namespace zv {

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The one reading loop of both readers. Room for the whole file is reserved
// only when the whole file is wanted.
Bytes ReadFile(const std::string& path, bool untilNul) {
  UniqueFile f(std::fopen(path.c_str(), "rb"));
  if (!f) ThrowCannotOpen(path);
  Bytes data;
  struct stat st {};
  if (!untilNul && ::fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buf[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
    std::uint8_t* end = untilNul ? std::find(buf, buf + n, std::uint8_t{0}) : buf + n;
    data.insert(data.end(), buf, end);
    if (end != buf + n || n < sizeof buf) break;
  }
  if (std::ferror(f.get())) ThrowCannotOpen(path);
  return data;
}

std::vector<std::string> List(const std::string& dir, bool directoriesOnly) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), &::closedir);
  if (!d) return names;
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + '/';
  while (const dirent* e = ::readdir(d.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (directoriesOnly) {
      if (name[0] == '.') continue;
      if (!DirectoryExists(prefix + name)) continue;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace

Bytes ReadWholeFile(const std::string& path) { return ReadFile(path, false); }
Bytes ReadFileUntilNul(const std::string& path) { return ReadFile(path, true); }

std::vector<std::string> ListSubdirectories(const std::string& dir) { return List(dir, true); }

std::vector<std::string> ListEntries(const std::string& dir) { return List(dir, false); }

void CreateDirectoryQuiet(const std::string& path) { ::mkdir(path.c_str(), 0777); }

void RemoveDirectoryQuiet(const std::string& path) { ::rmdir(path.c_str()); }

void DeleteFileQuiet(const std::string& path) { ::unlink(path.c_str()); }

} // namespace zv
