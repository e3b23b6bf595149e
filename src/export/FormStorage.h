#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// A settings file in the usual sections-and-keys form: "[Section]" lines,
// then "key=value" lines. Section and key names compare ignoring ASCII case.
// Lines the file holds besides the ones written stay as they are, and the
// file is written with CR LF line ends.
class TIniFile {
public:
  // Parses text whose lines end with LF or CR LF.
  explicit TIniFile(std::string_view text = {});
  // A missing file reads as empty; one that cannot be read, or is larger
  // than a settings file can sensibly be, raises EFileError.
  static TIniFile Load(const std::string& fileName);

  // The value with blanks trimmed and one pair of enclosing quotes removed;
  // nothing when the section or key is missing.
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  // The value as an integer (ParseIntegerText's forms); fallback when the
  // key is missing or holds no integer.
  int ReadInteger(std::string_view section, std::string_view key, int fallback) const;

  // A key already present keeps its line; a new one goes at the end of its
  // section, and a new section at the end of the file. The value is quoted
  // by IniQuoteValue.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;
  // Writes Text() to fileName; raises EFileError when it cannot.
  void Save(const std::string& fileName) const;

private:
  std::vector<std::string> lines_;
};

// Removes leading and trailing bytes up to and including blank (control
// characters and spaces).
std::string TrimBlanks(std::string_view text);

// A value that begins and ends with the same quote character (" or ') gets one
// more pair of double quotes, so that reading it back keeps its quotes. Line
// breaks, which would end the line early, become blanks.
std::string IniQuoteValue(std::string_view value);
// The reading side: blanks trimmed, then one pair of matching enclosing
// quotes removed.
std::string IniUnquoteValue(std::string_view value);

inline constexpr const char* kSettingsFileName = "Zovevod.ini";

// The export dialog's remembered texts.
struct TFormExportTexts {
  std::string TileHeight;
  std::string TileWidth;
};

// Reads section "TFormExport": when "FormVersion" (0 when missing) is 0 or
// more, each text present in the file replaces the one given; either way
// the texts come back with blanks trimmed. A file that cannot be read
// changes nothing.
void ReadFormExportSettings(const std::string& fileName, TFormExportTexts& texts);
// Writes "FormVersion" = 0, "EdtTileHeight_Text" and "EdtTileWidth_Text" in
// that order, blanks trimmed, keeping the file's other lines. Raises
// EFileError when the file cannot be written.
void WriteFormExportSettings(const std::string& fileName, const TFormExportTexts& texts);

// "Zovevod.ini" in programDirectory when that folder (and the file, if it
// exists) can be written, else in configDirectory.
std::string SettingsFileName(const std::string& programDirectory, const std::string& configDirectory);

// The folder File > Open... showed last, in section "MainForm" of the same
// file: empty when none is kept or the file cannot be read. Writing keeps the
// file's other lines and raises EFileError when it cannot be written.
std::string ReadLastOpenFolder(const std::string& fileName);
void WriteLastOpenFolder(const std::string& fileName, const std::string& folder);

} // namespace zv
