#include "model/CalibrationWriter.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/FileKind.h"
#include "model/MapModel.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {
namespace {

// Points the usual .map files have room for; more get further numbers.
constexpr int kUsualPointLines = 30;
// Larger coordinates are no coordinates, and would not fit the arithmetic below.
constexpr double kLargestWritable = 1e9;

std::string PointName(int number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Point%02d", number);
  return buf;
}

std::string Padded(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// Whole degrees and minutes to four decimals, both non-negative; rounded in
// ten-thousandths of a minute, so 59.99996' carries into the degree. Written
// without the locale, which may not use "." as its decimal point.
void DegreesMinutesFields(int point, double value, std::string& degrees, std::string& minutes) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < kLargestWritable)) throw Error(msg::CoordinateNotWritable(point, value));
  const long long units = std::llround(magnitude * 600000.0);
  const long long wholeMinutes = units % 600000 / 10000;
  const long long fraction = units % 10000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", units / 600000);
  degrees = Padded(buf, 4);
  std::snprintf(buf, sizeof buf, "%lld.%04lld", wholeMinutes, fraction);
  minutes = Padded(buf, 8);
}

// A number in plain decimals, as short as it can be and still read back the same,
// without the locale.
std::string Shortest(double value) {
  // Room for every double below kLargestGridCoordinate: 1e-100 has 100 zeros.
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// The grid words: zone, easting, northing, hemisphere; blank without them.
std::string GridFields(int number, const TCalibrationPoint* point) {
  if (!point || !point->HasGrid) return "   ,           ,           ,N";
  for (double v : {point->Easting, point->Northing})
    if (!(std::fabs(v) < kLargestGridCoordinate)) throw Error(msg::CoordinateNotWritable(number, v));
  return Padded(point->GridZone ? std::to_string(point->GridZone) : std::string(), 3) + "," +
         Padded(Shortest(point->Easting), 11) + "," + Padded(Shortest(point->Northing), 11) + "," +
         (point->GridSouth ? "S" : "N");
}

std::string PointLine(const std::string& name, const TCalibrationPoint* point, int number) {
  std::string x, y, latD, latM, lonD, lonM;
  char latH = 'N', lonH = 'E';
  if (point) {
    x = std::to_string(point->X);
    y = std::to_string(point->Y);
    if (point->HasLatLon) {
      const double lat = static_cast<double>(point->Lat);
      const double lon = static_cast<double>(point->Lon);
      DegreesMinutesFields(number, lat, latD, latM);
      DegreesMinutesFields(number, lon, lonD, lonM);
      if (lat < 0) latH = 'S';
      if (lon < 0) lonH = 'W';
    }
  }
  // Blank values stay blanks, so that every word keeps its place for
  // readers that run empty fields together.
  return name + ",xy," + Padded(x, 5) + "," + Padded(y, 5) + ",in, deg," + Padded(latD, 4) + "," + Padded(latM, 8) +
         "," + latH + "," + Padded(lonD, 4) + "," + Padded(lonM, 8) + "," + lonH + ", grid," +
         GridFields(number, point);
}

// A point line of the file replaced by point: its name stays. A line that
// was unused and stays so is kept as it is.
std::string ReplacedPointLine(const std::string& original, const TCalibrationPoint* point, int number) {
  if (!point && (Trim(ExtractNthWord(3, original, ",")).empty() || Trim(ExtractNthWord(4, original, ",")).empty()))
    return original;
  const std::size_t comma = original.find(',');
  return PointLine(Trim(original.substr(0, comma)), point, number);
}

bool SameNumber(long double a, long double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool SamePoint(const TCalibrationPoint& a, const TCalibrationPoint& b) {
  return a.X == b.X && a.Y == b.Y && SameNumber(a.Lat, b.Lat) && SameNumber(a.Lon, b.Lon) &&
         a.HasLatLon == b.HasLatLon && a.HasGrid == b.HasGrid && a.GridZone == b.GridZone &&
         a.GridSouth == b.GridSouth && SameNumber(a.Easting, b.Easting) && SameNumber(a.Northing, b.Northing);
}

// Per line of the area: the index of the saved point it gave, or npos. The
// parser takes point lines with both pixel words, in order.
std::vector<std::size_t> SavedPointOfLine(const TMapArea& area) {
  std::vector<std::size_t> of(area.Lines.size(), std::string::npos);
  std::size_t next = 0;
  for (std::size_t i = 3; i < area.Lines.size(); ++i) {
    const std::string& line = area.Lines[i];
    if (UpperCaseAscii(line.substr(0, 5)) == "POINT" && !Trim(ExtractNthWord(3, line, ",")).empty() &&
        !Trim(ExtractNthWord(4, line, ",")).empty())
      of[i] = next++;
  }
  return of;
}

bool StartsWithNoCase(const std::string& line, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return line.size() >= n && UpperCaseAscii(line.substr(0, n)) == prefix;
}

std::string SizeLine(const TMapArea& area) {
  return "IWH,Map Image Width/Height," + std::to_string(area.Width) + "," + std::to_string(area.Height);
}

// A line break inside a name would split the line it is written on.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

bool PointsDiffer(const std::vector<TCalibrationPoint>& a, const std::vector<TCalibrationPoint>& b) {
  return a.size() != b.size() || !std::equal(a.begin(), a.end(), b.begin(), SamePoint);
}

// Replaces word n of line by text, right-aligned in the word's width when it fits.
void ReplaceWord(std::string& line, int n, std::string text) {
  std::size_t start = 0, length = 0;
  if (!FindNthWord(n, line, ",", start, length)) return;
  if (text.size() < length) text.insert(0, length - text.size(), ' ');
  line.replace(start, length, text);
}

// The "MMPLL,n,lon,lat" border lines from their "MMPXY,n,x,y" pixels through
// the fit of the points being saved, in the map's datum: other readers take
// the UTM zone from them. Without a fit, or for a pixel without an answer,
// a line stays.
void RecomputeBorderLines(const TMapArea& area, std::vector<std::string>& lines) {
  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  if (!fit->Valid()) return;
  std::map<std::string, std::pair<std::int32_t, std::int32_t>> pixels;
  for (const std::string& line : lines) {
    std::int32_t x = 0, y = 0;
    if (StartsWithNoCase(line, "MMPXY,") && TryStrToInt(Trim(ExtractNthWord(3, line, ",")), x) &&
        TryStrToInt(Trim(ExtractNthWord(4, line, ",")), y))
      pixels[Trim(ExtractNthWord(2, line, ","))] = {x, y};
  }
  for (std::string& line : lines) {
    if (!StartsWithNoCase(line, "MMPLL,")) continue;
    const auto pixel = pixels.find(Trim(ExtractNthWord(2, line, ",")));
    double lat = 0, lon = 0;
    if (pixel == pixels.end() || !fit->PixelToDatum(pixel->second.first, pixel->second.second, lat, lon) ||
        !(std::fabs(lat) <= 90))
      continue;
    char buf[2][32];
    std::snprintf(buf[0], sizeof buf[0], "%.6f", lon);
    std::snprintf(buf[1], sizeof buf[1], "%.6f", lat);
    ReplaceWord(line, 4, buf[1]);
    ReplaceWord(line, 3, buf[0]);
  }
}

std::vector<std::string> EditedMapLines(const TMapArea& area) {
  const std::vector<TCalibrationPoint>& points = area.Points;
  const bool hasPicture = area.Width > 0 && area.Height > 0;
  std::vector<std::string> out;
  out.reserve(area.Lines.size() + points.size() + 1);
  std::size_t next = 0;
  std::size_t insertAt = std::string::npos; // after the last point line, or the projection line
  bool sizeWritten = false;
  std::vector<std::size_t> rewritten; // point lines written afresh from the points
  const std::vector<std::size_t> savedOf = SavedPointOfLine(area);
  for (std::size_t i = 0; i < area.Lines.size(); ++i) {
    const std::string& line = area.Lines[i];
    if (i >= 3 && StartsWithNoCase(line, "POINT")) {
      const TCalibrationPoint* point = next < points.size() ? &points[next] : nullptr;
      // A point that did not change keeps its line byte for byte, with
      // every digit the file gave.
      const bool unchanged =
          point && savedOf[i] == next && next < area.SavedPoints.size() && SamePoint(*point, area.SavedPoints[next]);
      out.push_back(unchanged ? line : ReplacedPointLine(line, point, static_cast<int>(next) + 1));
      if (!unchanged && out.back() != line) rewritten.push_back(out.size() - 1);
      ++next;
      insertAt = out.size();
    } else if (i >= 3 && hasPicture && IsImageSizeLine(line)) {
      out.push_back(SizeLine(area));
      sizeWritten = true;
    } else {
      out.push_back(line);
      if (i >= 3 && insertAt == std::string::npos && StartsWithNoCase(line, "MAP PROJECTION")) insertAt = out.size();
    }
  }
  std::vector<std::string> more;
  for (std::size_t n = next; n < points.size(); ++n)
    more.push_back(PointLine(PointName(static_cast<int>(n) + 1), &points[n], static_cast<int>(n) + 1));
  if (insertAt == std::string::npos) insertAt = out.size();
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(insertAt), more.begin(), more.end());
  for (std::size_t& i : rewritten)
    if (i >= insertAt) i += more.size();
  for (std::size_t k = 0; k < more.size(); ++k) rewritten.push_back(insertAt + k);
  if (hasPicture && !sizeWritten) out.push_back(SizeLine(area));
  if (PointsDiffer(area.Points, area.SavedPoints)) RecomputeBorderLines(area, out);
  // The plane chosen since the lines were read replaces theirs; a UTM zone
  // rides on every point line, so the lines written afresh get its words.
  if (!SamePlane(area.Plane, ReadPlaneChoice(out)))
    out = WithPlaneChoice(std::move(out), area.Plane);
  else
    WriteZoneWordsAt(out, area.Plane, rewritten);
  return out;
}

// The image as line 3 names it: relative to the .map file's folder when it
// lies there or below, else as the area has it.
std::string ImageReference(const std::string& image, const std::string& mapFileName) {
  namespace fs = std::filesystem;
  if (image.empty()) return image;
  std::error_code ec;
  const fs::path imagePath = fs::absolute(fs::path(image), ec).lexically_normal();
  if (ec) return image;
  const fs::path folder = fs::absolute(fs::path(mapFileName), ec).lexically_normal().parent_path();
  if (ec) return image;
  const fs::path relative = imagePath.lexically_relative(folder);
  if (relative.empty() || *relative.begin() == "..") return imagePath.string();
  return relative.string();
}

std::vector<std::string> NewMapLines(const TMapArea& area, const std::string& mapFileName) {
  // The picture the area names, or the image it was opened as.
  std::string image = area.ImageFileName;
  if (image.empty() && IsImageKind(FileKindOf(UpperFileExt(area.FileName)))) image = area.FileName;
  std::vector<std::string> out = {
      "OziExplorer Map Data File Version 2.2",
      OneLine(area.Name),
      OneLine(ImageReference(image, mapFileName)),
      "1 ,Map Code,",
      "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
      "Reserved 1",
      "Reserved 2",
      "Magnetic Variation,,,E",
      "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
  };
  const std::size_t count = std::max(area.Points.size(), static_cast<std::size_t>(kUsualPointLines));
  for (std::size_t n = 0; n < count; ++n) {
    const int number = static_cast<int>(n) + 1;
    out.push_back(PointLine(PointName(number), n < area.Points.size() ? &area.Points[n] : nullptr, number));
  }
  out.insert(out.end(),
             {"Projection Setup,,,,,,,,,,", "Map Feature = MF ; Map Comment = MC     These follow if they exist",
              "Track File = TF      These follow if they exist",
              "Moving Map Parameters = MM?    These follow if they exist", "MOP,Map Open Position,0,0"});
  if (area.Width > 0 && area.Height > 0) out.push_back(SizeLine(area));
  if (!SamePlane(area.Plane, TPlaneChoice{})) out = WithPlaneChoice(std::move(out), area.Plane);
  return out;
}

[[noreturn]] void ThrowWriting(const std::string& fileName, int error) {
  throw EFileError(msg::ErrorWritingFile(fileName, std::strerror(error)));
}

// Gives up on the temporary file (closed when fd is open) and raises the error.
[[noreturn]] void AbandonTemporary(int fd, const std::string& temp, const std::string& fileName, int error) {
  if (fd >= 0) ::close(fd);
  ::unlink(temp.c_str());
  ThrowWriting(fileName, error);
}

// A new temporary file in folder, created rw for all so that the kernel
// applies the user's umask, as for any new file; -1 with errno on failure.
int CreateTemporary(const std::string& folder, const std::string& name, std::string& temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

} // namespace

std::string MapPointLine(int number, const TCalibrationPoint& point) {
  return PointLine(PointName(number), &point, number);
}

std::string EmptyMapPointLine(int number) { return PointLine(PointName(number), nullptr, number); }

std::vector<std::string> CalibrationLinesToSave(const TMapArea& area, const std::string& mapFileName) {
  if (UpperFileExt(area.FileName) == ".MAP" && area.Lines.size() >= 3) {
    // Its point lines are rewritten from Points: those never read would go.
    if (!area.CalibrationReadWhole) throw Error(msg::CalibrationNotReadWhole(area.Name));
    return EditedMapLines(area);
  }
  return NewMapLines(area, mapFileName);
}

void WriteTextFileReplacing(const std::string& fileName, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";

  const std::string folder = ExtractFilePath(fileName);
  std::string temp;
  const int fd = CreateTemporary(folder.empty() ? std::string("./") : folder, ExtractFileName(fileName), temp);
  if (fd < 0) ThrowWriting(fileName, errno);
  // A replaced file keeps its mode.
  struct stat st {};
  if (::stat(fileName.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0)
    AbandonTemporary(fd, temp, fileName, errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) AbandonTemporary(fd, temp, fileName, n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  // On the disk before the rename, so a crash leaves the old file or the new one.
  if (::fsync(fd) != 0) AbandonTemporary(fd, temp, fileName, errno);
  if (::close(fd) != 0) AbandonTemporary(-1, temp, fileName, errno);
  if (std::rename(temp.c_str(), fileName.c_str()) != 0) AbandonTemporary(-1, temp, fileName, errno);
}

std::string OwnCalibrationFile(const TMapArea& area) {
  return UpperFileExt(area.FileName) == ".MAP" && area.TarFileName.empty() ? area.FileName : std::string();
}

std::string SuggestedCalibrationFile(const TMapArea& area) {
  const std::string own = OwnCalibrationFile(area);
  if (!own.empty()) return own;
  const std::string ext = UpperFileExt(area.FileName);
  std::string base = ext == ".MAP" || ext == ".GMI" || area.ImageFileName.empty() ? area.FileName : area.ImageFileName;
  // A name inside an archive is suggested beside the archive.
  if (!area.TarFileName.empty()) base = ExtractFilePath(area.TarFileName) + ExtractFileName(base);
  const std::string dropped = ExtractFileExt(base);
  return base.substr(0, base.size() - dropped.size()) + ".map";
}

std::string SaveCalibrationQuestion(const TMapArea& area) {
  return area.Points.size() > static_cast<std::size_t>(kUsualPointLines)
             ? msg::TooManyPointsQuestion(area.Points.size())
             : std::string();
}

bool SaveCalibration(TMapArea& area, const std::string& mapFileName, const TSaveQuestion& ask) {
  const std::string question = SaveCalibrationQuestion(area);
  if (!question.empty() && ask && !ask(question)) return false;
  std::vector<std::string> lines = CalibrationLinesToSave(area, mapFileName);
  WriteTextFileReplacing(mapFileName, lines);
  area.Lines = std::move(lines);
  area.FileName = mapFileName;
  area.TarFileName.clear();
  area.SavedPoints = area.Points;
  area.SavedPlane = area.Plane;
  area.CalibrationReadWhole = true;
  return true;
}

} // namespace zv
