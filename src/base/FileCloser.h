#pragma once

// An open stdio file owned by scope, for the .cpp files that read or write
// files through stdio.

#include <cstdio>
#include <memory>

namespace zv {

// Closes the file when its owner goes. A writer that must see a failed close
// releases the file and calls fclose itself.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

} // namespace zv
