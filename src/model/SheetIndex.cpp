#include "model/SheetIndex.h"

#include "base/Errors.h"
#include "base/Messages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace zv {
namespace {

// How a part of a name numbers the sheets of its parent.
enum class TPartKind { Column, Letter, Roman, Number, Digit };

// The rules of the index, one row a scale. A subdivision splits its parent
// into Rows × Cols sheets numbered row by row from the north-west. Between
// 60° and 76° sheets are joined along the longitude by Joined60, from 76°
// to 88° by Joined76, always starting at a multiple of that count.
struct TLevel {
  int Scale;
  int Parent; // index into kLevels, -1 for the 1:1,000,000 sheets
  int Rows, Cols;
  TPartKind Kind;
  int Joined60, Joined76;
};

constexpr TLevel kLevels[] = {
    {1000000, -1, 1, 60, TPartKind::Column, 2, 4}, //
    {500000, 0, 2, 2, TPartKind::Letter, 2, 2},    // А Б / В Г
    {200000, 0, 6, 6, TPartKind::Roman, 2, 3},     // I ... XXXVI
    {100000, 0, 12, 12, TPartKind::Number, 2, 4},  // 1 ... 144
    {50000, 3, 2, 2, TPartKind::Letter, 2, 2},     // А Б / В Г
    {25000, 4, 2, 2, TPartKind::Letter, 2, 2},     // а б / в г
    {10000, 5, 2, 2, TPartKind::Digit, 2, 2},      // 1 2 / 3 4
};
constexpr int kLevel1M = 0, kLevel500k = 1, kLevel200k = 2, kLevel100k = 3;
constexpr int kRows1M = 22; // A (0-4°N) to V (84-88°N)

// The letters of the quarters as printed (upper and lower case) and their
// Latin forms; index 0..3.
int QuarterLetter(std::u32string_view c) {
  if (c.size() != 1) return -1;
  switch (c[0]) {
  case U'А': case U'а': case U'A': case U'a': return 0;
  case U'Б': case U'б': case U'B': case U'b': return 1;
  case U'В': case U'в': case U'V': case U'v': case U'C': case U'c': return 2;
  case U'Г': case U'г': case U'G': case U'g': case U'D': case U'd': return 3;
  default: return -1;
  }
}

// Row letters are Latin; Cyrillic letters that look the same (or stand for
// the same sound, Д Г Л И) are taken as those.
int RowLetter(std::u32string_view c) {
  if (c.size() != 1) return -1;
  char32_t l = c[0];
  constexpr std::pair<char32_t, char32_t> kCyrillic[] = {{U'А', U'A'}, {U'В', U'B'}, {U'С', U'C'}, {U'Д', U'D'},
                                                         {U'Е', U'E'}, {U'Г', U'G'}, {U'Н', U'H'}, {U'И', U'I'},
                                                         {U'К', U'K'}, {U'Л', U'L'}, {U'М', U'M'}, {U'О', U'O'},
                                                         {U'Р', U'P'}, {U'Т', U'T'}};
  for (auto [cyr, lat] : kCyrillic)
    if (l == cyr || l == cyr + 0x20) l = lat;
  if (l >= U'a' && l <= U'z') l -= 0x20;
  return l >= U'A' && l < U'A' + kRows1M ? static_cast<int>(l - U'A') : -1;
}

std::optional<int> Decimal(std::u32string_view s) {
  if (s.empty() || s.size() > 6) return std::nullopt;
  int v = 0;
  for (char32_t c : s) {
    if (c < U'0' || c > U'9') return std::nullopt;
    v = v * 10 + static_cast<int>(c - U'0');
  }
  return v;
}

std::string RomanText(int v) {
  static const char* const kTens[] = {"", "X", "XX", "XXX"};
  static const char* const kOnes[] = {"", "I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX"};
  return std::string(kTens[v / 10]) + kOnes[v % 10];
}

bool IsRomanLetter(char32_t c) { return c == U'I' || c == U'V' || c == U'X' || c == U'i' || c == U'v' || c == U'x'; }

// I..XXXVI in its one right spelling.
std::optional<int> Roman(std::u32string_view s) {
  if (s.empty() || s.size() > 8 || !std::all_of(s.begin(), s.end(), IsRomanLetter)) return std::nullopt;
  std::string upper;
  for (char32_t c : s) upper += static_cast<char>(c >= U'a' ? c - 0x20 : c);
  for (int v = 1; v <= 36; ++v)
    if (RomanText(v) == upper) return v;
  return std::nullopt;
}

std::string Utf8(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Code points of UTF-8 text; bytes that are no UTF-8 stand for themselves
// (Latin-1), so that any name gets a message rather than a crash.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    bool ok = i + extra < s.size() || extra == 0;
    for (int k = 1; ok && k <= extra; ++k) {
      const auto n = static_cast<unsigned char>(s[i + k]);
      ok = (n & 0xC0) == 0x80;
      c = (c << 6) | (n & 0x3F);
    }
    if (!ok || b >= 0xF8 || (b >= 0x80 && b < 0xC0)) {
      c = b;
      extra = 0;
    }
    out += c;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

bool IsSeparator(char32_t c) {
  return c == U'-' || c == U' ' || c == U'\t' || c == U'_' || c == 0xA0 || (c >= 0x2010 && c <= 0x2015) ||
         c == 0x2212;
}
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool IsLetter(char32_t c) {
  return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= 0x410 && c <= 0x44F) || c == 0x401 ||
         c == 0x451;
}

// The parts of a name: each a list of one or more sheets joined by commas.
using TGroup = std::vector<std::u32string>;

// Letters and digits part at a change between them as at a hyphen. A run of
// letters that is no Roman number stands for one letter each.
std::vector<TGroup> SplitName(const std::string& name) {
  const std::u32string text = Decode(name);
  std::vector<TGroup> groups;
  bool joinNext = false;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = text[i];
    if (IsSeparator(c)) {
      ++i;
      continue;
    }
    if (c == U',') {
      if (groups.empty() || joinNext) throw Error(msg::SheetNamePartWrong(name, ",", msg::SheetCommaMisplaced));
      joinNext = true;
      ++i;
      continue;
    }
    const bool digit = IsDigit(c);
    if (!digit && !IsLetter(c)) throw Error(msg::SheetNamePartWrong(name, Utf8(text.substr(i, 1)), msg::SheetCharacter));
    std::size_t end = i;
    while (end < text.size() && (digit ? IsDigit(text[end]) : IsLetter(text[end]))) ++end;
    std::u32string run = text.substr(i, end - i);
    std::vector<std::u32string> pieces;
    if (digit || std::all_of(run.begin(), run.end(), IsRomanLetter))
      pieces.push_back(run);
    else
      for (char32_t l : run) pieces.emplace_back(1, l);
    for (std::u32string& piece : pieces) {
      if (joinNext)
        groups.back().push_back(std::move(piece));
      else
        groups.push_back({std::move(piece)});
      joinNext = false;
    }
    i = end;
  }
  if (joinNext) throw Error(msg::SheetNamePartWrong(name, ",", msg::SheetCommaMisplaced));
  if (groups.empty()) throw Error(msg::SheetNameEmpty);
  return groups;
}

// A part's sheet number (0-based) at a level; -1 when it is none.
int PartIndex(const TLevel& level, std::u32string_view part) {
  std::optional<int> v;
  switch (level.Kind) {
  case TPartKind::Column: v = Decimal(part); break;
  case TPartKind::Letter: return QuarterLetter(part);
  case TPartKind::Roman: v = Roman(part); break;
  case TPartKind::Number:
  case TPartKind::Digit: v = Decimal(part); break;
  }
  const int count = level.Rows * level.Cols;
  return v && *v >= 1 && *v <= count ? *v - 1 : -1;
}

std::string PartText(const TLevel& level, int index, bool lowerCase) {
  static const char* const kUpper[] = {"А", "Б", "В", "Г"};
  static const char* const kLower[] = {"а", "б", "в", "г"};
  switch (level.Kind) {
  case TPartKind::Letter: return lowerCase ? kLower[index] : kUpper[index];
  case TPartKind::Roman: return RomanText(index + 1);
  default: return std::to_string(index + 1);
  }
}

const char* Expected(int level) {
  switch (level) {
  case kLevel1M: return msg::SheetColumnExpected;
  case kLevel500k:
  case kLevel200k:
  case kLevel100k: return msg::SheetAfterColumnExpected;
  case 4: return msg::Sheet50kExpected;
  case 5: return msg::Sheet25kExpected;
  default: return msg::Sheet10kExpected;
  }
}

// The level a part after the 1:1,000,000 sheet's column stands for: a
// number, a Roman number or a letter. A lone V is read as Roman five.
int LevelAfterColumn(std::u32string_view part) {
  if (!part.empty() && IsDigit(part[0])) return kLevel100k;
  if (Roman(part)) return kLevel200k;
  return kLevel500k;
}

struct TBox {
  double South, North, West, East;
};

TBox Subdivision(const TBox& parent, const TLevel& level, int index) {
  const double h = (parent.North - parent.South) / level.Rows, w = (parent.East - parent.West) / level.Cols;
  const int r = index / level.Cols, c = index % level.Cols;
  return {parent.North - (r + 1) * h, parent.North - r * h, parent.West + c * w, parent.West + (c + 1) * w};
}

// The sheets a part names, checked against the joining rules; the first
// sheet's index, with the count in count.
int JoinedIndex(const std::string& name, const TGroup& group, const TLevel& level, double south, int& count) {
  std::vector<int> indices;
  std::string text;
  for (const std::u32string& part : group) {
    const int i = PartIndex(level, part);
    text += (text.empty() ? "" : ",") + Utf8(part);
    if (i < 0) throw Error(msg::SheetNamePartWrong(name, Utf8(part), Expected(static_cast<int>(&level - kLevels))));
    indices.push_back(i);
  }
  count = static_cast<int>(indices.size());
  if (count == 1) return indices[0];
  const int wanted = south >= 76 ? level.Joined76 : south >= 60 ? level.Joined60 : 1;
  if (wanted == 1) throw Error(msg::SheetNamePartWrong(name, text, msg::SheetJoinedSouth));
  if (count != wanted) throw Error(msg::SheetNamePartWrong(name, text, msg::SheetJoinedCount(wanted, south >= 76)));
  for (int k = 1; k < count; ++k)
    if (indices[k] != indices[0] + k || indices[k] / level.Cols != indices[0] / level.Cols)
      throw Error(msg::SheetNamePartWrong(name, text, msg::SheetJoinedNotNeighbours));
  if (indices[0] % level.Cols % wanted != 0)
    throw Error(msg::SheetNamePartWrong(name, text, msg::SheetJoinedNotAligned));
  return indices[0];
}

// The rest of the name after the 1:1,000,000 sheet, narrowing box.
void ApplySubdivisions(const std::string& name, const std::vector<TGroup>& groups, TBox& box, TSheet& sheet) {
  int level = -1;
  for (std::size_t g = 2; g < groups.size(); ++g) {
    if (g == 2)
      level = LevelAfterColumn(groups[g][0]);
    else if (level == kLevel100k || level == 4 || level == 5)
      level = level == kLevel100k ? 4 : level + 1;
    else
      throw Error(msg::SheetNamePartWrong(name, Utf8(groups[g][0]), msg::SheetNothingFollows));
    const TLevel& rule = kLevels[level];
    int count = 1;
    const int index = JoinedIndex(name, groups[g], rule, box.South, count);
    if (count > 1 && g + 1 < groups.size())
      throw Error(msg::SheetNamePartWrong(name, Utf8(groups[g + 1][0]), msg::SheetNothingFollowsJoined));
    const TBox last = Subdivision(box, rule, index + count - 1);
    box = Subdivision(box, rule, index);
    box.East = last.East;
    sheet.Scale = rule.Scale;
    for (int k = 0; k < count; ++k) sheet.Name += (k ? "," : "-") + PartText(rule, index + k, level == 5);
  }
}

// Degrees of one typed bound: up to three numbers (degrees, minutes,
// seconds) with any of ° ' " : d m s between them, an optional sign or
// hemisphere capital; nullopt when it does not read.
std::optional<double> ReadAngle(std::string text, const char* negative, const char* positive) {
  double sign = 1;
  std::vector<double> numbers;
  std::vector<bool> whole;
  bool lettered = false, signed_ = false;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if ((c >= '0' && c <= '9') || c == '.') {
      std::size_t end = i;
      while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.')) ++end;
      const std::string number = text.substr(i, end - i);
      if (number.find('.') != number.rfind('.') || number == "." || number.size() > 15) return std::nullopt;
      double value = 0;
      if (std::from_chars(number.data(), number.data() + number.size(), value).ec != std::errc()) return std::nullopt;
      numbers.push_back(value);
      whole.push_back(number.find('.') == std::string::npos);
      i = end;
    } else if ((c == '-' || c == '+') && numbers.empty() && !signed_) {
      signed_ = true;
      if (c == '-') sign = -sign;
      ++i;
    } else if ((c == negative[0] || c == positive[0]) && !lettered) {
      lettered = true;
      if (c == negative[0]) sign = -sign;
      ++i;
    } else if (c == ' ' || c == ':' || c == '\'' || c == '"' || c == 'd' || c == 'm' || c == 's') {
      ++i;
    } else if (text.compare(i, 2, "\xC2\xB0") == 0 || text.compare(i, 2, "\xE2\x80") == 0) {
      i += text.compare(i, 2, "\xC2\xB0") == 0 ? 2 : 3; // ° or a typographic quote
    } else {
      return std::nullopt;
    }
  }
  if (numbers.empty() || numbers.size() > 3 || (lettered && signed_)) return std::nullopt;
  for (std::size_t k = 0; k + 1 < numbers.size(); ++k)
    if (!whole[k]) return std::nullopt; // only the last number may have decimals
  for (std::size_t k = 1; k < numbers.size(); ++k)
    if (numbers[k] >= 60) return std::nullopt;
  double v = numbers[0];
  if (numbers.size() > 1) v += numbers[1] / 60;
  if (numbers.size() > 2) v += numbers[2] / 3600;
  return sign * v;
}

} // namespace

std::array<TGeoCorner, 4> TSheet::Corners() const {
  return {{{North, West}, {North, East}, {South, East}, {South, West}}};
}

TSheet SheetFromName(const std::string& name) {
  const std::vector<TGroup> groups = SplitName(name);
  const TGroup& rowPart = groups[0];
  const int row = RowLetter(rowPart[0]);
  if (rowPart.size() != 1 || row < 0) throw Error(msg::SheetNamePartWrong(name, Utf8(rowPart[0]), msg::SheetRowExpected));
  if (groups.size() < 2) throw Error(msg::SheetNamePartWrong(name, Utf8(rowPart[0]), msg::SheetColumnMissing));
  TBox box{4.0 * row, 4.0 * row + 4, 0, 0};
  int count = 1;
  const int column = JoinedIndex(name, groups[1], kLevels[kLevel1M], box.South, count);
  if (count > 1 && groups.size() > 2)
    throw Error(msg::SheetNamePartWrong(name, Utf8(groups[2][0]), msg::SheetNothingFollowsJoined));
  box.West = -180.0 + 6 * column;
  box.East = box.West + 6.0 * count;
  TSheet sheet;
  sheet.Scale = kLevels[kLevel1M].Scale;
  sheet.Name = std::string(1, static_cast<char>('A' + row));
  for (int k = 0; k < count; ++k) sheet.Name += (k ? "," : "-") + std::to_string(column + k + 1);
  ApplySubdivisions(name, groups, box, sheet);
  sheet.South = box.South;
  sheet.North = box.North;
  sheet.West = box.West;
  sheet.East = box.East;
  sheet.Plane = GaussKrugerZone(kPulkovo1942, GaussKrugerZoneOf((box.West + box.East) / 2));
  return sheet;
}

bool LooksLikeBounds(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first != std::string::npos && (std::isdigit(static_cast<unsigned char>(text[first])) || text[first] == '-' ||
                                        text[first] == '+' || text[first] == '.');
}

TSheet SheetFromBounds(const std::string& text, TSheetPlane plane, const std::string& datum) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == ',' || c == ';' || c == '/')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  if (parts.size() != 4) throw Error(msg::SheetBoundsCount(text));
  static const char* const kNames[] = {"south", "north", "west", "east"};
  double v[4];
  for (int k = 0; k < 4; ++k) {
    const std::optional<double> a = ReadAngle(parts[k], k < 2 ? "S" : "W", k < 2 ? "N" : "E");
    const double limit = k < 2 ? 90 : 180;
    if (!a || !(std::fabs(*a) <= limit)) throw Error(msg::SheetBoundWrong(kNames[k], parts[k], limit));
    v[k] = *a;
  }
  if (!(v[0] < v[1])) throw Error(msg::SheetBoundsOrder(kNames[0], kNames[1]));
  if (v[3] <= v[2]) v[3] += 360; // across 180°
  if (!(v[3] - v[2] < 360)) throw Error(msg::SheetBoundsOrder(kNames[2], kNames[3]));
  TSheet sheet;
  sheet.Name = text;
  sheet.South = v[0];
  sheet.North = v[1];
  sheet.West = v[2];
  sheet.East = v[3];
  const double centre = (v[2] + v[3]) / 2;
  if (plane == TSheetPlane::GaussKruger) {
    sheet.Plane = GaussKrugerZone(datum, GaussKrugerZoneOf(centre));
  } else if (plane == TSheetPlane::Utm) {
    sheet.Plane = UtmZone(datum, UtmZoneOf(centre), v[0] + v[1] < 0);
  } else {
    sheet.Plane.Datum = datum;
  }
  return sheet;
}

std::string ScaleText(int denominator) {
  std::string digits = std::to_string(denominator);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  return "1:" + digits;
}

} // namespace zv
