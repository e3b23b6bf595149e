// The texts behind Messages.h, in the same order and groups. Names and
// numbers are put in place by plain concatenation, so a name holding '%' or
// any other byte comes out as it is.
#include "base/Messages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zv::msg {

namespace {

std::string Fixed(double v, int decimals) {
  char buf[64];
  // Numbers no calibration has come in exponent form, not as 300 digits.
  std::snprintf(buf, sizeof buf, std::fabs(v) < 1e15 ? "%.*f" : "%.*g", std::fabs(v) < 1e15 ? decimals : 6, v);
  return buf;
}

std::string Str(std::int64_t v) { return std::to_string(v); }
std::string Str(std::uint64_t v) { return std::to_string(v); }

std::string Point(int point) { return "Point " + std::to_string(point); }

std::string At(std::int64_t x, std::int64_t y) { return "(" + Str(x) + ", " + Str(y) + ")"; }

} // namespace

// ---------------------------------------------------------------------------
// The file layer

std::string CannotCreateFile(const std::string& fileName) { return "Súbor " + fileName + " sa nedá vytvoriť"; }
std::string CannotOpenFile(const std::string& fileName) { return "Súbor " + fileName + " sa nedá otvoriť"; }

// ---------------------------------------------------------------------------
// Calibration

std::string NotAnInteger(const std::string& quotedText) { return quotedText + " is not a valid integer value"; }
std::string NotAFloat(const std::string& quotedText) { return quotedText + " is not a valid floating point value"; }

std::string FitTooFewPoints(std::uint64_t pointsWithLatLon) {
  return "Too few calibration points with latitude and longitude: " + Str(pointsWithLatLon) +
         " (at least 3 not on one line are needed).";
}
const char* const FitPixelsOnOneLine =
    "The calibration points lie on one line in the picture; add a point off that line.";
const char* const FitLatLonOnOneLine =
    "The calibration points' latitudes and longitudes lie on one line or are all the same; check their coordinates.";
const char* const FitLatLonOutOfRange =
    "The calibration points' coordinates are out of range; check their latitudes and longitudes.";

const char* const MapNamesNoImage = "The map has no picture: its calibration names no image file.";
std::string MapImageFormatUnread(const std::string& image, const std::string& upperExt) {
  return "The map has no picture: its image " + image + " is a format Zovevod does not read (" +
         (upperExt.empty() ? std::string("no extension") : upperExt) + "); convert it to PNG, JPEG or BMP.";
}
std::string MapImageMissing(const std::string& image) {
  return "The map has no picture: its image " + image + " was not found or holds no pixels.";
}
std::string NoCalibrationFit(const std::string& problem) { return "No calibration fit: " + problem; }
std::string PointFarFromFit(int point, double residual, double rms) {
  return Point(point) + " is " + Fixed(residual, 1) + " px away from where the other points put it (fit RMS " +
         Fixed(rms, 1) +
         " px): check its latitude and longitude, a mistyped minute or the wrong hemisphere; it takes no part in the "
         "fit.";
}
std::string PointsDisagree(double rms) {
  return "The calibration points disagree by " + Fixed(rms, 1) + " px (RMS); check all of them";
}
std::string ProjectionNotKnown(const std::string& name) {
  return "The map's projection " + FileValue(name) + " is not known; positions assume latitude and longitude";
}
std::string ProjectionUnusable(const std::string& name) {
  return "The map's projection " + FileValue(name) +
         " gives no usable positions for the calibration points (check its \"Projection Setup\" line); positions "
         "assume latitude and longitude";
}
std::string PointOutsidePicture(int point, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
  return Point(point) + " " + At(x, y) + " lies outside the picture (" + Str(width) + " x " + Str(height) +
         "): check its pixel position.";
}
std::string PointLatitudeOutOfRange(int point, double lat) {
  return Point(point) + " has latitude " + Fixed(lat, 6) + ", outside -90..90: check it.";
}
std::string PointLongitudeOutOfRange(int point, double lon) {
  return Point(point) + " has longitude " + Fixed(lon, 6) + ", outside -180..180: check it.";
}
std::string CalibratedForOtherSize(std::int64_t calibratedWidth, std::int64_t calibratedHeight, std::int64_t width,
                                   std::int64_t height) {
  return "The calibration was made for a " + Str(calibratedWidth) + " x " + Str(calibratedHeight) +
         " picture, but the picture is " + Str(width) + " x " + Str(height) +
         ": the image was resized after calibration; calibrate it again.";
}

std::string PointerPixel(std::int64_t x, std::int64_t y) { return "x " + Str(x) + "  y " + Str(y); }
std::string PointerFit(const std::string& latLon, std::int64_t pointsUsed, double rms) {
  return "   " + latLon + "   fit of " + Str(pointsUsed) + " points, RMS " + Fixed(rms, 1) + " px";
}
std::string PickReadout(int point, const std::string& readout) {
  return "Click sets point " + std::to_string(point) + ":  " + readout;
}
std::string FitSummary(std::int64_t pointsUsed, double rms) {
  return "Fit of " + Str(pointsUsed) + " points, RMS " + Fixed(rms, 1) + " px";
}

std::string CellNotAnInteger(const std::string& text) { return "'" + text + "' nie je platné celé číslo"; }
std::string CellNotAFloat(const std::string& text) {
  return "'" + text + "' nie je platné číslo s pohyblivou desatinnou čiarkou";
}
std::string CalibrationChangedQuestion(const std::string& areaName) {
  return "The calibration points of " + areaName + " were changed. Save them?";
}
std::string ReplaceFileQuestion(const std::string& fileName) {
  return fileName + " already exists. Do you want to replace it?";
}
std::string CalibrationNotReadWhole(const std::string& map) {
  return "The calibration of " + map + " was not read to its end; saving it would lose the points not read";
}
std::string CoordinateNotWritable(int point, double value) {
  return Point(point) + ": the coordinate " + Fixed(value, 6) + " is too large to be written.";
}

// ---------------------------------------------------------------------------
// Opening maps, tile sets and archives

std::string UnsupportedImageFile(const std::string& upperExt) { return upperExt + " is unsupported image file"; }
std::string TileOutsidePictureRange(const std::string& tileName) {
  return "Tile " + tileName + " lies outside the picture's range";
}
std::string ReloadQuestion(const std::string& layoutName, const std::string& areaName) {
  return "[" + layoutName + "." + areaName + "] already exists. Do you want to reload it ?";
}
std::string TooManyMapsInArchive(const std::string& fileName, std::uint64_t limit) {
  return fileName + " holds more than " + Str(limit) + " maps and atlases at its top level";
}

// ---------------------------------------------------------------------------
// Tar archives

std::string DamagedTar(const std::string& fileName, const std::string& detail) {
  return "Damaged tar archive " + fileName + ": " + detail;
}
const char* const TarExtendedHeaderPastEnd = "an extended header runs past the end of the file";
const char* const TarExtendedHeaderTooLarge = "an extended header is too large";
const char* const TarUnexpectedEnd = "unexpected end of file";
std::string TarSizeNotANumber(const std::string& entryName) {
  return "the size field of entry " + entryName + " is not a number";
}
const char* const TarPaxMalformed = "a pax extended header is malformed";
const char* const TarPaxPathHoldsZero = "a pax path holds a zero byte";
const char* const TarPaxSizeNotANumber = "a pax size is not a number";
const char* const TarPaxMtimeNotANumber = "a pax mtime is not a number";
std::string TarSparseMapPastEnd(const std::string& entryName) {
  return "the sparse map of entry " + entryName + " runs past the end of the file";
}
const char* const TarEntryDataPastEnd = "the data of an entry runs past the end of the file";
const char* const TarEntryTooLarge = "an entry is too large";

std::string CannotWriteTar(const std::string& fileName, const std::string& reason) {
  return "Cannot write tar archive " + fileName + ": " + reason;
}
std::string TarAlreadyFinished(const std::string& fileName) {
  return "Tar archive " + fileName + " is already finished";
}
std::string TarEntryNameEmpty(const std::string& fileName) {
  return "Tar entry name is empty (archive " + fileName + ")";
}
std::string TarEntryNameTooLong(const std::string& entryName) {
  return "Tar entry name " + entryName + " is longer than 100 bytes";
}
std::string TarLinkNameTooLong(const std::string& linkName, const std::string& entryName) {
  return "Link name " + linkName + " of tar entry " + entryName + " is longer than 100 bytes";
}
std::string TarEntryNegativeSize(const std::string& entryName) {
  return "Tar entry " + entryName + " has a negative size";
}
std::string TarSourceHasNoLength(const std::string& entryName, const std::string& fileName) {
  return "Cannot add " + entryName + " to tar archive " + fileName + ": the source has no length";
}

// ---------------------------------------------------------------------------
// Pictures

std::string ImageTooLarge(std::int64_t width, std::int64_t height) {
  return "image too large: " + Str(width) + " × " + Str(height);
}

std::string PictureNeedsMemory(std::uint64_t neededMiB, std::uint64_t availableMiB) {
  return "The picture needs " + Str(neededMiB) + " MiB; only " + Str(availableMiB) + " MiB are available.";
}

std::string InvalidBmp(const std::string& detail) { return "Invalid BMP file: " + detail; }
const char* const BmpRed = "red";
const char* const BmpGreen = "green";
const char* const BmpBlue = "blue";
std::string BmpMaskEmpty(const std::string& channel) { return "the bit field mask for " + channel + " is empty"; }
std::string BmpMaskNotContiguous(const std::string& channel) {
  return "the bit field mask for " + channel + " is not contiguous";
}
const char* const BmpNoSignature = "the file does not start with \"BM\"";
const char* const BmpTruncatedHeader = "the file is truncated inside its header";
std::string BmpHeaderSizeUnsupported(std::uint64_t headerSize) {
  return "header size " + Str(headerSize) + " is not supported";
}
std::string BmpDensityInconsistent(std::int64_t x, std::int64_t y) {
  return "pixel density " + Str(x) + " × " + Str(y) + " pixels per metre is inconsistent";
}
std::string BmpPlanes(std::int64_t planes) { return "the number of planes is " + Str(planes) + ", not 1"; }
std::string BmpWidth(std::int64_t width) { return "the width is " + Str(width); }
const char* const BmpHeightZero = "the height is 0";
std::string BmpBitsUnsupported(std::int64_t bits) { return Str(bits) + " bits per pixel are not supported"; }
std::string BmpOs2CompressionUnsupported(std::uint64_t compression) {
  return "OS/2 compression " + Str(compression) + " is not supported";
}
std::string BmpCompressionUnsupported(std::uint64_t compression, std::int64_t bits) {
  return "compression " + Str(compression) + " with " + Str(bits) + " bits per pixel is not supported";
}
const char* const BmpCompressedTopDown = "a compressed bitmap cannot be stored top-down";
const char* const BmpTruncatedMasks = "the file is truncated inside its bit field masks";
const char* const BmpRunPastRow = "a compressed run passes the end of a row";
const char* const BmpNoEndOfBitmap = "the compressed data ends without an end-of-bitmap code";
const char* const BmpTruncatedDelta = "the compressed data ends inside a delta code";
const char* const BmpDeltaOutside = "a delta code moves outside the image";
const char* const BmpTruncatedAbsoluteRun = "the compressed data ends inside an absolute run";
std::string BmpColourOutsideTable(std::int64_t x, std::int64_t y, std::uint64_t colour, std::uint64_t entries) {
  return "pixel " + At(x, y) + " uses colour " + Str(colour) + " of a table with " + Str(entries) + " entries";
}
std::string BmpFileSizeMismatch(std::uint64_t declared, std::uint64_t actual) {
  return "the header gives a file size of " + Str(declared) + " bytes, but the file has " + Str(actual);
}
std::string BmpPixelOffsetInvalid(std::uint64_t offset) {
  return "the pixel data offset " + Str(offset) + " is invalid";
}
std::string BmpImageSizeMismatch(std::uint64_t declared, std::uint64_t actual) {
  return "the header gives " + Str(declared) + " bytes of pixel data, but the file has " + Str(actual);
}
std::string BmpColourTableTooLong(std::uint64_t entries) {
  return "the colour table of " + Str(entries) + " entries does not fit before the pixel data";
}
std::string BmpRunLengthTooShort(std::uint64_t bytes, std::int64_t width, std::int64_t height) {
  return "the run-length data (" + Str(bytes) + " bytes) is too short for a " + Str(width) + " × " + Str(height) +
         " image";
}
std::string BmpPixelsTruncated(std::uint64_t needed, std::uint64_t present) {
  return "the pixel data is truncated: " + Str(needed) + " bytes needed, " + Str(present) + " present";
}
const char* const BmpMasksOverlap = "the bit field masks overlap";
const char* const BmpMaskOver16Bits = "a bit field mask exceeds 16 bits";

void FormatJpegTooManyScans(char* buffer, std::size_t size, int limit) noexcept {
  std::snprintf(buffer, size, "JPEG file has more than %d scans", limit);
}
std::string JpegDataTooShort(std::uint64_t width, std::uint64_t height) {
  return "JPEG data too short for a " + Str(width) + " × " + Str(height) + " image";
}

const char* const PngReadError = "Read Error";
const char* const PngNotEnoughData = "Not enough image data";
const char* const PngUnexpectedRowLayout = "Unexpected PNG row layout";
const char* const PngInsufficientMemory = "Insufficient memory";
const char* const PngCannotCreate =
    "The \"Portable Network Graphics\" could not be created because invalid image type parameters have being "
    "provided.";
std::string PngTileTooSmall(std::int64_t width, std::int64_t height) {
  return "PNG tile size must be at least 1 × 1, not " + Str(width) + " × " + Str(height);
}
const char* const ZlibInitFailed = "zlib initialisation failed";
const char* const ZlibCompressionFailed = "zlib compression failed";

// ---------------------------------------------------------------------------
// Exporting

const char* const ExportStopped = "Export stopped.";
std::string ErrorWritingFile(const std::string& fileName, const std::string& reason) {
  return "Error writing file " + fileName + ": " + reason;
}
const char* const TileWidthInvalid = "Tile width must be a whole number of at least 1";
const char* const TileHeightInvalid = "Tile height must be a whole number of at least 1";
std::string UnknownTileFormat(std::int64_t row) { return "Unknown tile file format " + Str(row); }
std::string UnknownColorDepth(std::int64_t row) { return "Unknown color depth " + Str(row); }
std::string ZoomOutLayersInvalid(std::int64_t layers) {
  return "Zoom-out layers must be from 0 to 4, not " + Str(layers);
}
std::string ZoomOutLayerTaken(const std::string& layer) {
  return "The zoom-out layer \"" + layer + "\" would share its folder with the layout of that name";
}
std::string MapNameNotAllowed(const std::string& name) {
  return "The map name \"" + name + "\" is not allowed: it would leave the target directory";
}
std::string LayoutNameNotAllowed(const std::string& name) {
  return "The layout name \"" + name + "\" is not allowed: it would leave the target directory";
}
std::string AtlasNameNotAllowed(const std::string& name) {
  return "The atlas name \"" + name + "\" is not allowed: it would leave the target directory";
}
const char* const EnterTargetDirectory = "Please enter target directory";
const char* const NoMapShown = "No map is shown to export.";
std::string SettingsFileTooLarge(const std::string& fileName) {
  return "The settings file " + fileName + " is too large";
}

// ---------------------------------------------------------------------------
// The converter

// The help text keeps one of its lines per line of code.
// clang-format off
const char* const Usage =
    "Usage: zovevod-export [options] FILE...\n"
    "Opens the files in order and exports them as tiled maps for Ambulo.\n"
    "\n"
    "  -o, --output DIR       target directory, created when missing (required unless --list)\n"
    "  --single               export only the shown map (\"Single map\"); default: whole atlas\n"
    "  --atlas-name NAME      default \"myatlas\"\n"
    "  --tile WxH             default 400x400 (--tile-width N / --tile-height N also work)\n"
    "  --format jpeg|png      default jpeg\n"
    "  --quality N            default 85\n"
    "  --depth ROW            PNG colour depth row 0..7, default 6\n"
    "  --tar                  TAR-ed\n"
    "  --zoom-out N           N zoom-out layers (0..4, default 0): every layout again,\n"
    "                         reduced to 50 %, 25 %, 12.5 %, 6.25 %; whole atlas only\n"
    "  --reload               answer Yes to \"already exists\" questions (default No)\n"
    "  --list                 export nothing; print the opened model as JSON on stdout\n"
    "  --check                export nothing; print every problem found in the maps'\n"
    "                         calibration (and, for atlases, their tiles), one a line\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help, --version\n"
    "\n"
    "Colour depth rows: 0 1-bit grayscale, 1 4-bit grayscale, 2 8-bit grayscale,\n"
    "3 2-bit color, 4 4-bit color, 5 6-bit color, 6 8-bit color, 7 24-bit truecolor.\n"
    "Exit status: 0 success, 1 a file failed to load or the export failed (--check:\n"
    "a problem was found), 2 usage error.\n"
    "The first Ctrl-C (or SIGTERM) stops the export after the tile being written,\n"
    "leaving every file written so far whole; a second one ends the program at once.\n";
// clang-format on
std::string UsageErrorHint(const std::string& program, const std::string& problem) {
  return program + ": " + problem + "\nTry '" + program + " --help' for more information.\n";
}
std::string OptionNeedsValue(const std::string& option) { return "option " + option + " needs a value"; }
std::string OptionTakesNoValue(const std::string& option) { return "option " + option + " takes no value"; }
std::string UnknownOption(const std::string& option) { return "unknown option " + option; }
const char* const TileExpectsSize = "--tile expects WxH, for example 400x400";
const char* const FormatExpectsName = "--format expects jpeg or png";
const char* const DepthExpectsRow = "--depth expects a row from 0 to 7";
const char* const ZoomOutExpectsCount = "--zoom-out expects a number of layers from 0 to 4";
const char* const ZoomOutWithSingle = "--zoom-out does not go with --single";
const char* const TargetDirectoryEmpty = "the target directory is empty";
const char* const NoInputFile = "no input file given";
const char* const ListWithCheck = "--list and --check do not go together";
const char* const TargetDirectoryRequired = "the target directory (-o DIR) is required";

std::string LoadingError(const std::string& fileName, const std::string& error) {
  return LoadingErrorTitle(fileName) + "\n" + error;
}
std::string LoadingErrorTitle(const std::string& fileName) { return "Loading error (" + fileName + ") !"; }
std::string CannotCreateTargetDirectory(const std::string& directory) {
  return "Cannot create the target directory " + directory;
}
std::string LargeArchiveWarning(const std::string& path, double gib) {
  return "Warning: " + path + " is " + Fixed(gib, 2) + " GiB: a FAT32 memory card holds no file of 4 GiB or more.";
}
std::string TileProgress(const std::string& mapName, const std::string& bar, std::int64_t done, std::int64_t total) {
  return mapName + " [" + bar + "] " + Str(done) + "/" + Str(total) + " tiles";
}

const char* const NoTileAtOrigin = "No tile covers the picture's top-left corner (0, 0): a tile is missing.";
std::string TileOffGrid(std::int64_t x, std::int64_t y, std::int64_t tileWidth, std::int64_t tileHeight) {
  return "The tile at " + At(x, y) + " is off the " + Str(tileWidth) + " x " + Str(tileHeight) + " grid.";
}
std::string TileWrongSize(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
                          std::int64_t wantedWidth, std::int64_t wantedHeight) {
  return "The tile at " + At(x, y) + " is " + Str(width) + " x " + Str(height) + "; the grid wants " +
         Str(wantedWidth) + " x " + Str(wantedHeight) + ".";
}
std::string TilesOverlap(std::int64_t x, std::int64_t y) { return "Two tiles lie at " + At(x, y) + ": they overlap."; }
std::string TileGap(std::int64_t x, std::int64_t y) {
  return "No tile covers " + At(x, y) + ": a gap in the tile set; export the map again.";
}
std::string MoreTileProblems(std::int64_t count) { return Str(count) + " more tile problems."; }
std::string MapLoadingError(const std::string& entryName, const std::string& error) {
  return "Loading error (" + entryName + "): " + error;
}
const char* const MapDirectoryOpensNoMap =
    "The map directory holds no calibration file or map archive: it opens no map.";
const char* const FileOpensNoMap = "The file opens no map.";
std::string FileLoadingError(const std::string& error) { return "Loading error: " + error; }
std::string CheckSummary(std::uint64_t problems, std::uint64_t files) {
  return Str(problems) + " problem" + (problems == 1 ? "" : "s") + " found in " + Str(files) + " file" +
         (files == 1 ? "" : "s") + ".";
}

std::string ZoomFactor(int zoom) {
  if (zoom >= 0) return Str(std::int64_t{100} << std::min(zoom, 40)) + " %";
  // 100 / 2^k has at most k decimals; the zeros at the end go.
  const int k = std::min(-zoom, 40);
  std::string text = Fixed(100.0 / static_cast<double>(std::int64_t{1} << k), k);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " %";
}

// ---------------------------------------------------------------------------
// Calibration fit: findings that no wrong answer goes without

std::string FileValue(const std::string& value) {
  constexpr std::size_t limit = 60;
  std::size_t end = 0;
  for (std::size_t chars = 0; end < value.size() && chars < limit; ++chars) {
    // A whole UTF-8 sequence at a time, so the cut never splits a character.
    ++end;
    while (end < value.size() && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) ++end;
  }
  return end >= value.size() ? value : value.substr(0, end) + "\xE2\x80\xA6";
}
const char* const DatumNotGiven = "The map names no datum (its fifth line is empty); positions assume WGS 84";
std::string DatumNotKnown(const std::string& datum) {
  return "The map's datum " + FileValue(datum) + " is not known; positions assume WGS 84";
}
std::string UtmZoneTaken(int zone) {
  return "The UTM zone is not given; zone " + std::to_string(zone) + " taken from the points' longitudes";
}
std::string WrongPointSearchStopped(int named) {
  return "The search for wrong points stopped after naming " + std::to_string(named) + " of them; more may be wrong";
}
std::string PointTakesNoPart(int point, const std::string& reason) {
  return Point(point) + " takes no part in the fit: " + reason;
}
const char* const ReasonNoCoordinates = "it has neither latitude and longitude nor grid words.";
std::string ReasonGridWordUnread(const std::string& word, const std::string& value) {
  return "its grid " + word + " " + FileValue(value) + " is no coordinate of a map's plane.";
}
std::string ReasonUtmZone(const std::string& zone) {
  return "its UTM zone " + FileValue(zone) + " is not one of 1 to 60.";
}
const char* const ReasonGridInLatLonMap =
    "it has grid words only, and the map's plane is latitude and longitude, not a grid.";
const char* const ReasonNotPlaced = "the map's projection gives no position for its coordinates.";
std::string TooManyPointsQuestion(std::uint64_t points) {
  return "The calibration has " + Str(points) +
         " points; other programs that read .map files stop at 30. Save all of them anyway?";
}

} // namespace zv::msg

// Export to map apps (MBTiles, SQLiteDB, KMZ).
namespace zv::msg {
std::string MapAppFileExists(const std::string& file) { return file + " already exists."; }
std::string MapAppCannotCreate(const std::string& file) { return "Cannot create the file " + file; }
std::string MapAppWriteError(const std::string& file, const std::string& why) {
  return "Cannot write the file " + file + ": " + why;
}
const char* const MapAppNothingToExport = "No calibrated map with a picture to export.";
std::string MapAppZoomRange(int min, int max, int deepest) {
  return "The zoom levels " + std::to_string(min) + " to " + std::to_string(max) +
         " are no range: the lowest may not be above the highest, nor the highest above " + std::to_string(deepest) +
         ".";
}
std::string MapAppTooManyTiles(int zoom) {
  return "Zoom level " + std::to_string(zoom) + " needs too many tiles; choose a lower highest zoom level.";
}
std::string KmzTilesRange(int most) { return "The KMZ tile limit must be from 1 to " + std::to_string(most) + "."; }
std::string KmzResolutionLowered(double percent, int tiles) {
  char text[128];
  std::snprintf(text, sizeof text, "The KMZ has %.0f %% of the maps' resolution, to stay within %d tiles.", percent,
                tiles);
  return text;
}
const char* const MinZoomExpectsLevel = "--min-zoom expects a zoom level from 0 to 24";
const char* const MaxZoomExpectsLevel = "--max-zoom expects a zoom level from 0 to 24";
const char* const KmzTilesExpectsCount = "--kmz-tiles expects a number of tiles from 1 to 500";
const char* const MapAppOneTarget = "give only one of -o, --mbtiles, --sqlitedb and --kmz";
const char* const MapAppWithAmbuloOptions = "--mbtiles, --sqlitedb and --kmz do not go with --single, --tar or --zoom-out";
// clang-format off
const char* const MapAppUsage =
    "\n"
    "Export to map apps (instead of -o DIR; all opened maps go into the one file):\n"
    "  --mbtiles FILE         MBTiles 1.3 (Web Mercator, rows from the south)\n"
    "  --sqlitedb FILE        SQLiteDB for OsmAnd and Locus (BigPlanet numbering)\n"
    "  --kmz FILE             KMZ for Garmin (latitude/longitude JPEG overlays)\n"
    "  --min-zoom N, --max-zoom N   zoom levels; default: the level keeping the\n"
    "                         maps' detail and the five below it\n"
    "  --format jpeg|png, --quality N   tile format (KMZ: always JPEG)\n"
    "  --depth ROW            PNG: rows 0..6 take a palette where a tile has at most\n"
    "                         256 colours, row 7 is always 24-bit\n"
    "  --no-crop              draw the whole picture, collar included, also where\n"
    "                         the .map has border lines (MMPXY)\n"
    "  --kmz-tiles N          most KMZ tiles, 1..500 (default 100); the resolution\n"
    "                         is lowered until the maps fit\n"
    "  --reload               replace an existing FILE\n";
// clang-format on
const char* const MapAppEnterFile = "Enter the file to write.";
std::string MapAppReplaceQuestion(const std::string& file) { return file + " already exists. Replace it?"; }
std::string SuggestedHighestZoom(int zoom) {
  return zoom < 0 ? std::string("no map to export") : "suggested highest: " + std::to_string(zoom);
}
// Calibrating a sheet by its name or bounds and its frame found on the scan.

std::string SheetNamePartWrong(const std::string& name, const std::string& part, const std::string& problem) {
  return "The sheet name \"" + name + "\" is not valid: \"" + part + "\" " + problem + ".";
}
const char* const SheetNameEmpty = "The sheet name is empty.";
const char* const SheetCommaMisplaced = "stands where no sheet number comes before or after it";
const char* const SheetCharacter = "is no letter, digit, hyphen, space or comma";
const char* const SheetRowExpected = "should be a row letter from A to V";
const char* const SheetColumnMissing = "should be followed by a column number from 1 to 60";
const char* const SheetColumnExpected = "should be a column number from 1 to 60";
const char* const SheetAfterColumnExpected =
    "should be a letter А, Б, В or Г (A, B, V or C, G or D) for 1:500,000, a Roman number from I to XXXVI for "
    "1:200,000 or a number from 1 to 144 for 1:100,000";
const char* const Sheet50kExpected = "should be a letter А, Б, В or Г (A, B, V or C, G or D) for 1:50,000";
const char* const Sheet25kExpected = "should be a letter а, б, в or г (a, b, v or c, g or d) for 1:25,000";
const char* const Sheet10kExpected = "should be a number from 1 to 4 for 1:10,000";
const char* const SheetJoinedSouth = "joins sheets south of 60°, where sheets are not joined";
std::string SheetJoinedCount(int wanted, bool farNorth) {
  return std::string("joins the wrong number of sheets: ") + (farNorth ? "between 76° and 88°" : "between 60° and 76°") +
         " these sheets are joined by " + std::to_string(wanted);
}
const char* const SheetJoinedNotNeighbours = "joins sheets that are not neighbours in one row";
const char* const SheetJoinedNotAligned = "joins sheets that do not make up one joined sheet of the index";
const char* const SheetNothingFollows = "should not be there: the sheet before it is not divided further";
const char* const SheetNothingFollowsJoined = "should not be there: joined sheets end the name";
std::string SheetBoundsCount(const std::string& text) {
  return "The bounds \"" + text + "\" should be four: south, north, west, east, separated by commas.";
}
std::string SheetBoundWrong(const std::string& bound, const std::string& text, double limit) {
  return "The " + bound + " bound \"" + text + "\" should be degrees and minutes within ±" + Fixed(limit, 0) + "°.";
}
std::string SheetBoundsOrder(const std::string& lower, const std::string& upper) {
  return "The " + lower + " bound should lie below the " + upper + " bound.";
}

std::string SheetPlaneUnknown(const std::string& what) {
  return "The sheet's projection " + what + " is not known to the projection library.";
}
const char* const SheetCornerNotPlaced = "A corner of the sheet cannot be placed through its projection.";

const char* const FrameNotFound = "No sheet frame was found on the picture.";
const char* const FrameCornerOffPicture = "A corner of the sheet frame found lies off the picture.";
std::string FrameNotConfident(double confidence) {
  return "The sheet frame was not found with confidence (" + Fixed(confidence, 2) + ").";
}

// clang-format off
const char* const SheetUsage =
    "\n"
    "Calibrating scanned sheets (writes PICTURE's .map beside it, exports nothing):\n"
    "  --calibrate-sheet NAME_OR_BOUNDS PICTURE\n"
    "                         NAME: a sheet of the international index, 1:1,000,000 to\n"
    "                         1:10,000 (\"M-34-37-Б-в\", \"M-34-37-B-v\", \"P-35-1,2\"), on\n"
    "                         Pulkovo 1942 in its Gauss-Krüger zone; BOUNDS: \"SOUTH,\n"
    "                         NORTH, WEST, EAST\" in degrees and minutes (\"48 30, 48 37.5,\n"
    "                         17 0, 17 7.5\")\n"
    "  --calibrate-sheets PICTURE...\n"
    "                         each picture's sheet name from its file name\n"
    "  --datum NAME           the bounds' datum as .map files name it (default\n"
    "                         \"Pulkovo 1942 (1)\")\n"
    "  --projection gauss-kruger|utm|latlong\n"
    "                         the bounds' plane, in the zone of their centre\n"
    "  --reload               replace an existing .map\n"
    "The frame's corners are found on the picture; a picture whose frame is not\n"
    "found with confidence gets no .map. Exit status 1 when a picture got none.\n";
// clang-format on
const char* const CalibrateSheetEmpty = "--calibrate-sheet expects a sheet name or bounds";
const char* const ProjectionExpectsName = "--projection expects gauss-kruger, utm or latlong";
const char* const CalibrateSheetTwice = "--calibrate-sheet and --calibrate-sheets do not go together";
const char* const CalibrateSheetOnePicture = "--calibrate-sheet takes exactly one picture";
const char* const CalibrateSheetAlone =
    "--calibrate-sheet and --calibrate-sheets do not go with --output, --single, --list or --check";
std::string SheetReportSheet(const std::string& picture, const std::string& sheet, const std::string& scale,
                             const std::string& datum, const std::string& projection, double centralMeridian) {
  std::string text = picture + ": sheet " + sheet + (scale.empty() ? "" : " (" + scale + ")") + ", " + datum + ", " +
                     projection;
  if (projection != "Latitude/Longitude") text += ", central meridian " + Fixed(centralMeridian, 0) + "°";
  return text + "\n";
}
std::string SheetCorner(const std::string& corner, double x, double y) {
  return "  " + corner + " " + Fixed(x, 1) + " " + Fixed(y, 1);
}
std::string SheetReportFrame(const std::string& corners, double confidence) {
  return "  corners" + corners + "; confidence " + Fixed(confidence, 2) + "\n";
}
std::string SheetReportFit(double rms) { return "  fit RMS " + Fixed(rms, 2) + " px\n"; }
std::string SheetReportWritten(const std::string& mapFile) { return "  written " + mapFile + "\n"; }
std::string SheetReportFailed(const std::string& picture, const std::string& why) {
  return "  " + picture + ": no .map written: " + why + "\n";
}
std::string SheetMapExists(const std::string& mapFile) {
  return mapFile + " exists already; --reload replaces it.";
}

// Calibrating: typed coordinates, saving in place, the window title.
std::string CoordinateNotRecognised(const std::string& text, bool latitude) {
  return "'" + text + "' is no " + (latitude ? "latitude" : "longitude") +
         ". Accepted forms: decimal degrees (" + (latitude ? "46.425, -46.425, 46,425" : "17.5, -70.5, 17,5") +
         "), degrees and minutes (" + (latitude ? "46\u00B025.5'N, 46 25.5 N" : "70\u00B030'W, 70 30 W") +
         ") or degrees, minutes and seconds (" + (latitude ? "46\u00B025'30\"N, 46 25 30 N" : "70 30 15 W") +
         "), the hemisphere letter (" + (latitude ? "N or S" : "E or W") + ") before or after; at most " +
         (latitude ? "90" : "180") + " degrees.";
}
std::string CalibrationSaved(const std::string& fileName) { return "Saved " + fileName; }
std::string WindowTitle(const std::string& mapName, bool changed, const std::string& version) {
  const std::string program = "Zovevod - " + version;
  if (mapName.empty()) return program;
  return mapName + (changed ? "*" : "") + " \u2014 " + program;
}
// The grid drawn over the map.
std::string GridNeedsFit(const std::string& problem) { return "No grid without a calibration fit: " + problem; }

// Calibrating by the sheet's corners: the dialog and the four clicks.
std::string SheetCornerName(int corner) {
  static const char* const kNames[] = {"north-west", "north-east", "south-east", "south-west"};
  return kNames[corner & 3];
}
std::string SheetCornerPrompt(int corner) {
  return "Click the " + SheetCornerName(corner) + " corner of the sheet's frame";
}
std::string SheetCornerSnapped(int corner) {
  return "The " + SheetCornerName(corner) + " corner moved onto the frame corner found there";
}
std::string SheetCornerAsClicked(int corner) { return "The " + SheetCornerName(corner) + " corner taken as clicked"; }
std::string SheetGeoCorner(int corner, double lat, double lon) {
  char text[96];
  std::snprintf(text, sizeof text, "%s: %.6f, %.6f", SheetCornerName(corner).c_str(), lat, lon);
  return text;
}
std::string SheetPlaneText(const std::string& datum, const std::string& projection, double centralMeridian,
                           double falseEasting) {
  char text[64];
  std::snprintf(text, sizeof text, ", central meridian %g, false easting %.0f", centralMeridian, falseEasting);
  return datum + ", " + projection + text;
}
std::string SheetFramePixel(int corner, double x, double y) {
  char text[96];
  std::snprintf(text, sizeof text, "%s: x %.1f, y %.1f", SheetCornerName(corner).c_str(), x, y);
  return text;
}
std::string SheetFrameFound(double confidence) {
  char text[64];
  std::snprintf(text, sizeof text, "Frame found (confidence %.2f)", confidence);
  return text;
}
const char* const SheetFrameNeedsOnePicture = "The frame is looked for only on a map of one picture";
const char* const SheetCornersCancelled = "Calibration by the sheet's corners cancelled; nothing changed";
std::string SheetCalibrated(const std::string& sheet) { return "Calibrated as sheet " + sheet; }

// Calibrating by the sheet's corners: the frame looked for on a worker,
// and the clicks ended when the map they are for is no longer shown.
const char* const SheetFrameSearching = "Looking for the sheet's frame...";
const char* const SheetCornersMapLeft =
    "Calibration by the sheet's corners cancelled: another map is shown; nothing changed";
// ---------------------------------------------------------------------------
// Zoom factors that are no power of two (Fit to window)

std::string ZoomPercent(double factor) { return Fixed(100.0 * factor, 1) + " %"; }
// Grid coordinates.
std::string FitTooFewPointsInPlane(std::uint64_t pointsPlaced) {
  return "Too few calibration points with latitude and longitude or easting and northing: " + Str(pointsPlaced) +
         " (at least 3 not on one line are needed).";
}

} // namespace zv::msg
