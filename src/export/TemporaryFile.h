// A file written whole or not at all: made under a temporary name in the
// target's folder and renamed to the target when whole.
#pragma once

#include <string>

namespace zv {

class TTemporaryFile {
public:
  // Makes an empty file ".NAME.XXXXXX.part" beside target. Raises when the
  // target exists and replace is false ("FILE already exists."), or when the
  // folder takes no file.
  TTemporaryFile(const std::string& target, bool replace);
  // Removes the temporary file unless Commit ran.
  ~TTemporaryFile();
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }
  // Flushes the file to the disk and renames it over the target.
  void Commit();

private:
  std::string target_;
  std::string path_;
  bool committed_ = false;
};

// Raises "FILE already exists." when target exists and replace is false:
// for callers that refuse before any work is done.
void CheckTargetFile(const std::string& target, bool replace);

} // namespace zv
