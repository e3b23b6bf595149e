#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

using Bytes = std::vector<std::uint8_t>;

// True for an existing regular file (a directory named like a file is no file).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Reads a whole file; raises the file layer's "cannot open" error.
Bytes ReadWholeFile(const std::string& path);
// The same, but only up to the first NUL byte (left out): calibration text
// ends there, and a picture opened as a map holds one early, so the rest of
// it is never read.
Bytes ReadFileUntilNul(const std::string& path);

// Names in a directory, sorted byte-wise so that results repeat across file
// systems. Names starting with "." (hidden here) are left out of directory
// listings; "." and ".." never appear.
std::vector<std::string> ListSubdirectories(const std::string& dir);
std::vector<std::string> ListEntries(const std::string& dir);

// Failures of these are not reported: an existing directory is reused.
void CreateDirectoryQuiet(const std::string& path);
void RemoveDirectoryQuiet(const std::string& path);
void DeleteFileQuiet(const std::string& path);

} // namespace zv
