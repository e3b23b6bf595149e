#include "export/FormStorage.h"

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "export/ExportToAmbulo.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {
namespace {

// A settings file holds a handful of lines; anything far larger is no
// settings file of ours and is not read into memory.
constexpr std::int64_t kMaxIniSize = 1 << 20;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The name in a "[name]" line, or nothing for any other line.
std::optional<std::string> SectionName(std::string_view line) {
  const std::string t = TrimBlanks(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return TrimBlanks(std::string_view(t).substr(1, close - 1));
}

// The key of a "key=value" line; nothing for comments and other lines.
std::optional<std::string> KeyName(std::string_view line) {
  const std::string t = TrimBlanks(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return TrimBlanks(std::string_view(t).substr(0, eq));
}

std::string ValueText(std::string_view line) { return std::string(line.substr(line.find('=') + 1)); }

[[noreturn]] void ThrowSaveError(const std::string& fileName, int err) {
  throw EFileError(msg::CannotCreateFile(fileName) + (err ? std::string(": ") + std::strerror(err) : std::string()));
}

} // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string IniQuoteValue(std::string_view value) {
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) return '"' + v + '"';
  return v;
}

std::string IniUnquoteValue(std::string_view value) {
  std::string v = TrimBlanks(value);
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) return v.substr(1, v.size() - 2);
  return v;
}

TIniFile::TIniFile(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    start = end + 1;
  }
}

TIniFile TIniFile::Load(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 && errno == ENOENT) return TIniFile();
  if (S_ISREG(st.st_mode) && st.st_size > kMaxIniSize) throw EFileError(msg::SettingsFileTooLarge(fileName));
  const Bytes data = ReadWholeFile(fileName);
  if (static_cast<std::int64_t>(data.size()) > kMaxIniSize) throw EFileError(msg::SettingsFileTooLarge(fileName));
  return TIniFile(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::optional<std::string> TIniFile::ReadString(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : lines_) {
    if (const auto name = SectionName(line)) {
      inSection = SameTextAscii(*name, section);
      continue;
    }
    if (!inSection) continue;
    const auto k = KeyName(line);
    if (k && SameTextAscii(*k, key)) return IniUnquoteValue(ValueText(line));
  }
  return std::nullopt;
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
  const auto text = ReadString(section, key);
  std::int32_t value = 0;
  if (!text || !ParseIntegerText(*text, value)) return fallback;
  return value;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string newLine = std::string(key) + "=" + IniQuoteValue(value);
  bool inSection = false;
  std::size_t insertAt = lines_.size();
  bool found = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (const auto name = SectionName(lines_[i])) {
      if (inSection) break;
      inSection = SameTextAscii(*name, section);
      if (inSection) {
        found = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    const auto k = KeyName(lines_[i]);
    if (k && SameTextAscii(*k, key)) {
      lines_[i] = newLine;
      return;
    }
    // New keys follow the section's last line that is not blank.
    if (!TrimBlanks(lines_[i]).empty()) insertAt = i + 1;
  }
  if (!found) {
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(newLine);
    return;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
}

std::string TIniFile::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += line + "\r\n";
  return text;
}

void TIniFile::Save(const std::string& fileName) const {
  const std::string text = Text();
  std::FILE* f = std::fopen(fileName.c_str(), "wb");
  if (!f) ThrowSaveError(fileName, errno);
  errno = 0;
  const bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int writeErr = errno;
  if (std::fclose(f) != 0 || !written) ThrowSaveError(fileName, writeErr ? writeErr : errno);
}

namespace {

constexpr const char* kSection = "TFormExport";

} // namespace

void ReadFormExportSettings(const std::string& fileName, TFormExportTexts& texts) {
  try {
    const TIniFile ini = TIniFile::Load(fileName);
    if (ini.ReadInteger(kSection, "FormVersion", 0) < 0) return;
    texts.TileHeight = TrimBlanks(ini.ReadString(kSection, "EdtTileHeight_Text").value_or(texts.TileHeight));
    texts.TileWidth = TrimBlanks(ini.ReadString(kSection, "EdtTileWidth_Text").value_or(texts.TileWidth));
  } catch (const Error&) {
    // A settings file that cannot be read leaves the texts as they are.
  }
}

void WriteFormExportSettings(const std::string& fileName, const TFormExportTexts& texts) {
  TIniFile ini;
  try {
    ini = TIniFile::Load(fileName);
  } catch (const Error&) {
    // An unreadable file is replaced by a fresh one.
  }
  ini.WriteString(kSection, "FormVersion", "0");
  ini.WriteString(kSection, "EdtTileHeight_Text", TrimBlanks(texts.TileHeight));
  ini.WriteString(kSection, "EdtTileWidth_Text", TrimBlanks(texts.TileWidth));
  ini.Save(fileName);
}

std::string SettingsFileName(const std::string& programDirectory, const std::string& configDirectory) {
  const std::string beside = IncludeTrailingPathDelimiter(programDirectory) + kSettingsFileName;
  const bool writable = !programDirectory.empty() && ::access(programDirectory.c_str(), W_OK) == 0 &&
                        (!FileExists(beside) || ::access(beside.c_str(), W_OK) == 0);
  if (writable) return beside;
  return IncludeTrailingPathDelimiter(configDirectory) + kSettingsFileName;
}

std::string ReadLastOpenFolder(const std::string& fileName) {
  try {
    return TrimBlanks(TIniFile::Load(fileName).ReadString("MainForm", "LastFolder").value_or(std::string()));
  } catch (const Error&) {
    return {};
  }
}

void WriteLastOpenFolder(const std::string& fileName, const std::string& folder) {
  TIniFile ini;
  try {
    ini = TIniFile::Load(fileName);
  } catch (const Error&) {
    // An unreadable file is replaced by a fresh one.
  }
  ini.WriteString("MainForm", "LastFolder", folder);
  ini.Save(fileName);
}

} // namespace zv
