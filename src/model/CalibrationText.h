// Calibration text: lines, words and numbers of .map and .gmi files, and the
// parser that turns their lines into points.
#pragma once

#include "model/CalibrationPoint.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv {

// Grid coordinates (easting, northing) read and written only below this in
// magnitude: no map's plane comes near it, and beyond it the fixed notation
// of a point line no longer holds the number.
constexpr double kLargestGridCoordinate = 1e15;

// Appends the points of a calibration's lines; upperExt is the file's
// extension in capitals and chooses the format (".MAP" or ".GMI", others give
// nothing). A .map also names its image on its third line. A word that is no
// number raises a zv::Error; the points before it stay.
void ParseCalibrationLines(const std::vector<std::string>& lines, const std::string& upperExt,
                           std::vector<TCalibrationPoint>& points, std::string& imageFileName);

// Whether line is a .map's "IWH,Map Image Width/Height,W,H" line, the size
// of the picture the calibration was made for (ASCII case ignored).
bool IsImageSizeLine(const std::string& line);

// Splits at CR LF, lone LF and lone CR; a final break adds no line; a NUL ends the text.
std::vector<std::string> SplitLines(const std::uint8_t* data, std::size_t size);
// Word n (from 1) of s: a maximal run of bytes that are no delimiters.
// FindNthWord gives where it lies, false when there is no such word.
bool FindNthWord(long long n, const std::string& s, const std::string& delimiters, std::size_t& start,
                 std::size_t& length);
std::string ExtractNthWord(long long n, const std::string& s, const std::string& delimiters);
std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& replacement);
std::string Trim(const std::string& s); // removes leading and trailing bytes 0..32
std::size_t LastPos(const std::string& subStr, const std::string& s); // 1-based, 0 when none

// Number conversions of calibration words. Integers are an optional sign and
// decimal digits within 32 bits. Floats take "." and the user's decimal
// separator alike as the decimal point, whatever the process locale. The
// throwing forms raise a zv::Error naming the text.
bool TryStrToInt(const std::string& s, std::int32_t& value);
std::int32_t StrToInt(const std::string& s);
bool TryStrToFloat(const std::string& s, long double& value);
long double StrToFloat(const std::string& s);

// The user's decimal separator, read once at start; tests set it directly.
char DecimalSeparator();
void SetDecimalSeparator(char c);
void InitDecimalSeparatorFromLocale();

} // namespace zv
