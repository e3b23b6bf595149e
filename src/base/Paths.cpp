#include "base/Paths.h"

namespace zv {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

std::string UpperCaseAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) { return UpperCaseAscii(a) == UpperCaseAscii(b); }

namespace {

std::string_view::size_type LastDelimiter(std::string_view path) {
  for (auto i = path.size(); i > 0; --i)
    if (IsPathDelimiter(path[i - 1])) return i - 1;
  return std::string_view::npos;
}

} // namespace

std::string ExtractFileExt(std::string_view path) {
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  const auto delim = LastDelimiter(path);
  if (delim != std::string_view::npos && dot < delim) return {};
  return std::string(path.substr(dot));
}

std::string UpperFileExt(std::string_view path) { return UpperCaseAscii(ExtractFileExt(path)); }

std::string ExtractFileName(std::string_view path) {
  const auto delim = LastDelimiter(path);
  return std::string(delim == std::string_view::npos ? path : path.substr(delim + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const auto delim = LastDelimiter(path);
  return delim == std::string_view::npos ? std::string() : std::string(path.substr(0, delim + 1));
}

std::string ExtractFileNameWithoutExt(std::string_view path) {
  std::string name = ExtractFileName(path);
  name.resize(name.size() - ExtractFileExt(name).size());
  return name;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (out.empty() || !IsPathDelimiter(out.back())) out += PathDelim;
  return out;
}

} // namespace zv
