// Calibration text: line splitting, word extraction, number conversion and
// the .map / .gmi point parsers.

#include "model/CalibrationText.h"

#include "base/Errors.h"
#include "base/Integers.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "model/MapModel.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>
#include <new>
#include <string_view>
#include <langinfo.h>
#include <locale.h>

namespace zv {

namespace {

std::atomic<char> g_decimalSeparator{'.'};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text as quoted in a conversion error; a hostile line stays readable.
std::string Quoted(const std::string& s) { return "'" + msg::FileValue(s) + "'"; }

} // namespace

char DecimalSeparator() { return g_decimalSeparator.load(std::memory_order_relaxed); }

void SetDecimalSeparator(char c) { g_decimalSeparator.store(c, std::memory_order_relaxed); }

void InitDecimalSeparatorFromLocale() {
  // A private locale object: the process's global C locale stays untouched,
  // so every other number conversion keeps reading and writing ".".
  char sep = '.';
  if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    // Separators longer than one byte (some UTF-8 locales) cannot be held in
    // one 8-bit character; "." is then the only decimal point.
    // A separator that would clash with the number syntax is no separator.
    if (radix && radix[0] != '\0' && radix[1] == '\0' && !IsDigit(radix[0]) &&
        std::string_view("+-eE \t").find(radix[0]) == std::string_view::npos)
      sep = radix[0];
    ::freelocale(loc);
  }
  SetDecimalSeparator(sep);
}

bool IsImageSizeLine(const std::string& line) {
  return UpperCaseAscii(line.substr(0, 4)) == "IWH," &&
         UpperCaseAscii(Trim(ExtractNthWord(2, line, ","))) == "MAP IMAGE WIDTH/HEIGHT";
}

std::vector<std::string> SplitLines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::size_t end = 0;
  while (end < size && data[end] != 0) ++end;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < end) {
    const std::uint8_t c = data[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
      i += (c == '\r' && i + 1 < end && data[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < end) lines.emplace_back(reinterpret_cast<const char*>(data) + start, end - start);
  return lines;
}

bool FindNthWord(long long n, const std::string& s, const std::string& delimiters, std::size_t& start,
                 std::size_t& length) {
  const auto isDelim = [&](char c) { return delimiters.find(c) != std::string::npos; };
  long long count = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isDelim(s[i])) ++i;
    if (i >= s.size()) break;
    const std::size_t begin = i;
    while (i < s.size() && !isDelim(s[i])) ++i;
    if (++count == n) {
      start = begin;
      length = i - begin;
      return true;
    }
  }
  return false;
}

std::string ExtractNthWord(long long n, const std::string& s, const std::string& delimiters) {
  std::size_t start = 0, length = 0;
  return FindNthWord(n, s, delimiters, start, length) ? s.substr(start, length) : std::string();
}

std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& replacement) {
  if (find.empty()) return s;
  std::string result;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = s.find(find, pos);
    if (hit == std::string::npos) break;
    result.append(s, pos, hit - pos);
    result += replacement;
    pos = hit + find.size();
  }
  result.append(s, pos, std::string::npos);
  return result;
}

std::string Trim(const std::string& s) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::size_t LastPos(const std::string& subStr, const std::string& s) {
  if (subStr.empty() || s.empty() || subStr.size() > s.size()) return 0;
  const std::size_t hit = s.rfind(subStr);
  return hit == std::string::npos ? 0 : hit + 1;
}

bool TryStrToInt(const std::string& s, std::int32_t& value) {
  // Optional sign and decimal digits, nothing else (base/Integers.h).
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  return ParseInt32Digits(std::string_view(s).substr(i), 10, negative, value);
}

std::int32_t StrToInt(const std::string& s) {
  std::int32_t v = 0;
  if (!TryStrToInt(s, v)) throw Error(msg::NotAnInteger(Quoted(s)));
  return v;
}

bool TryStrToFloat(const std::string& s, long double& value) {
  // The user's separator and "." both act as the decimal point; the text is
  // brought to "." form and parsed without any locale.
  std::string t = s;
  const char sep = DecimalSeparator();
  if (sep != '.') {
    for (char& c : t)
      if (c == sep) c = '.';
  }
  // Plain decimal notation with an optional exponent; no "inf", "nan" or hex.
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != t.size()) return false;
  long double v = 0;
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  const auto [ptr, ec] = std::from_chars(first, t.data() + t.size(), v, std::chars_format::general);
  if (ptr != t.data() + t.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Tell overflow (refused) from underflow (reads as a tiny value or zero).
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    if (!cLocale) return false;
    v = ::strtold_l(t.c_str(), nullptr, cLocale);
    if (v == HUGE_VALL || v == -HUGE_VALL) return false;
  } else if (ec != std::errc()) {
    return false;
  }
  value = v;
  return true;
}

long double StrToFloat(const std::string& s) {
  long double v = 0;
  if (!TryStrToFloat(s, v)) throw Error(msg::NotAFloat(Quoted(s)));
  return v;
}

namespace {

class LineCursor {
public:
  explicit LineCursor(const std::vector<std::string>& lines) : lines_(lines) {}
  bool AtEnd() const { return pos_ >= lines_.size(); }
  std::string Next() {
    std::string line = AtEnd() ? std::string() : lines_[pos_];
    ++pos_;
    return line;
  }

private:
  const std::vector<std::string>& lines_;
  std::size_t pos_ = 0;
};

// Degrees plus minutes. A negative degrees word makes the whole value
// negative; the hemisphere letter (S or W) does the same, but never twice.
bool ReadDegreesMinutes(const std::string& line, int degWord, int minWord, int hemiWord, char negativeHemi,
                        long double& value) {
  const std::string d = ReplaceAll(Trim(ExtractNthWord(degWord, line, ",")), ".", std::string(1, DecimalSeparator()));
  const std::string m = ReplaceAll(Trim(ExtractNthWord(minWord, line, ",")), ".", std::string(1, DecimalSeparator()));
  if (d.empty() || m.empty()) return false;
  const long double deg = StrToFloat(d);
  const long double min = StrToFloat(m);
  const bool negative = d[0] == '-';
  long double v = (negative ? -deg : deg) + min / 60;
  const std::string hemi = UpperCaseAscii(Trim(ExtractNthWord(hemiWord, line, ",")));
  if (negative || hemi == std::string(1, negativeHemi)) v = -v;
  value = v;
  return true;
}

// Words 14 to 17 of a .map point line: zone, easting, northing, hemisphere.
// Grid words that do not read, or no plane has, leave the point without them: the format
// never required them, so they never fail a load.
void ReadGrid(const std::string& line, TCalibrationPoint& p) {
  const std::string sep(1, DecimalSeparator());
  long double easting = 0, northing = 0;
  if (!TryStrToFloat(ReplaceAll(Trim(ExtractNthWord(15, line, ",")), ".", sep), easting) ||
      !TryStrToFloat(ReplaceAll(Trim(ExtractNthWord(16, line, ",")), ".", sep), northing))
    return;
  // Words no plane has (1e400, say) would only make every save fail; the
  // limit holds for the numbers as kept, which the writer writes back.
  if (!(std::fabs(static_cast<double>(easting)) < kLargestGridCoordinate) ||
      !(std::fabs(static_cast<double>(northing)) < kLargestGridCoordinate))
    return;
  std::int32_t zone = 0;
  if (!TryStrToInt(Trim(ExtractNthWord(14, line, ",")), zone)) zone = 0;
  p.HasGrid = true;
  p.GridZone = zone;
  p.GridSouth = UpperCaseAscii(Trim(ExtractNthWord(17, line, ","))) == "S";
  p.Easting = static_cast<double>(easting);
  p.Northing = static_cast<double>(northing);
}

} // namespace

void ParseCalibrationLines(const std::vector<std::string>& lines, const std::string& upperExt,
                           std::vector<TCalibrationPoint>& points, std::string& imageFileName) {
  if (lines.empty()) return;
  LineCursor cursor(lines);
  if (upperExt == ".MAP") {
    cursor.Next();
    cursor.Next();
    imageFileName = cursor.Next();
    while (!cursor.AtEnd()) {
      const std::string line = cursor.Next();
      if (UpperCaseAscii(line.substr(0, 5)) != "POINT") continue;
      const std::string x = Trim(ExtractNthWord(3, line, ","));
      const std::string y = Trim(ExtractNthWord(4, line, ","));
      if (x.empty() || y.empty()) continue;
      TCalibrationPoint p;
      p.X = StrToInt(x);
      p.Y = StrToInt(y);
      const bool hasLat = ReadDegreesMinutes(line, 7, 8, 9, 'S', p.Lat);
      const bool hasLon = ReadDegreesMinutes(line, 10, 11, 12, 'W', p.Lon);
      p.HasLatLon = hasLat && hasLon;
      ReadGrid(line, p);
      points.push_back(p);
    }
  } else if (upperExt == ".GMI") {
    const std::string sep(1, DecimalSeparator());
    for (int i = 0; i < 4; ++i) cursor.Next();
    while (!cursor.AtEnd()) {
      const std::string line = cursor.Next();
      TCalibrationPoint p;
      p.X = StrToInt(Trim(ExtractNthWord(1, line, ";")));
      p.Y = StrToInt(Trim(ExtractNthWord(2, line, ";")));
      p.Lon = StrToFloat(ReplaceAll(Trim(ExtractNthWord(3, line, ";")), ".", sep));
      p.Lat = StrToFloat(ReplaceAll(Trim(ExtractNthWord(4, line, ";")), ".", sep));
      p.HasLatLon = true;
      points.push_back(p);
    }
  }
}

void TMapArea::ParseCalibration() {
  // A half-read calibration is what the area holds, so it is no edit either.
  struct Snapshot {
    TMapArea& area;
    const int unwinding = std::uncaught_exceptions();
    ~Snapshot() {
      area.CalibrationReadWhole = std::uncaught_exceptions() == unwinding;
      try {
        area.SavedPoints = area.Points;
      } catch (const std::bad_alloc&) {
        area.SavedPoints.clear(); // then the points merely count as changed
      }
    }
  } snapshot{*this};
  Plane = UpperFileExt(FileName) == ".MAP" ? ReadPlaneChoice(Lines) : TPlaneChoice{};
  SavedPlane = Plane;
  ParseCalibrationLines(Lines, UpperFileExt(FileName), Points, ImageFileName);
}

} // namespace zv
