#pragma once

#include <string>
#include <string_view>

namespace zv {

// The local directory separator: "/" here, and also "\" and ":" on Windows.
#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

bool IsPathDelimiter(char c);

// Upper-cases the ASCII letters a to z only; every other byte stays.
std::string UpperCaseAscii(std::string_view s);
bool SameTextAscii(std::string_view a, std::string_view b);

// The part from the last "." on, when that dot follows the last separator;
// otherwise empty. Letter case is kept.
std::string ExtractFileExt(std::string_view path);
// ExtractFileExt upper-cased, for file-type decisions (".MAP", ".PNG", ...).
std::string UpperFileExt(std::string_view path);
// What follows the last separator.
std::string ExtractFileName(std::string_view path);
// Everything up to and including the last separator.
std::string ExtractFilePath(std::string_view path);
// The name part without its extension.
std::string ExtractFileNameWithoutExt(std::string_view path);
// Adds the platform separator when the path does not already end in one.
std::string IncludeTrailingPathDelimiter(std::string_view path);

} // namespace zv
